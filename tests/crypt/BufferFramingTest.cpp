// Whole-buffer encryption: frame sizes, the three array states, and every
// failure the framing can meet.
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "crypt/QelvanCryptCls.h"
#include "support/TestBytes.h"

namespace qel::crypt {
namespace {

using test::errorNumberOf;

std::vector<std::uint8_t> randomBytes(std::mt19937& random, std::size_t n)
{
    std::vector<std::uint8_t> bytes(n);
    for (auto& b : bytes)
        b = static_cast<std::uint8_t>(random());
    return bytes;
}

const std::vector<std::uint8_t> kPassword{'s', 'e', 'c', 'r', 'e', 't'};

// Decrypts the blocks of `encrypted` one by one, as a reader of the raw frame would.
std::vector<std::uint8_t> rawFrame(const std::vector<std::uint8_t>& encrypted, const std::vector<std::uint8_t>& password)
{
    std::vector<std::uint8_t> key(32, 0);
    std::copy_n(password.begin(), std::min<std::size_t>(password.size(), 32), key.begin());
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(8, 8, ByteArrayView(key));
    std::vector<std::uint8_t> frame;
    for (std::size_t offset = 0; offset < encrypted.size(); offset += 32) {
        ByteArray block(std::vector<std::uint8_t>(encrypted.begin() + offset, encrypted.begin() + offset + 32));
        cipher.Decrypt(block);
        frame.insert(frame.end(), block.entries().begin(), block.entries().end());
    }
    return frame;
}

// A buffer whose first block decrypts to a frame claiming `length` bytes.
std::vector<std::uint8_t> bufferClaimingLength(std::int32_t length, std::size_t blocks)
{
    std::vector<std::uint8_t> key(32, 0);
    std::copy(kPassword.begin(), kPassword.end(), key.begin());
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(8, 8, ByteArrayView(key));
    std::vector<std::uint8_t> frame(32 * blocks, 0x41);
    const auto word = static_cast<std::uint32_t>(length);
    for (int i = 0; i < 4; ++i)
        frame[i] = static_cast<std::uint8_t>(word >> (8 * i));
    ByteArray block(std::vector<std::uint8_t>(frame.begin(), frame.begin() + 32));
    cipher.Encrypt(block);
    std::copy(block.entries().begin(), block.entries().end(), frame.begin());
    return frame;
}

TEST(BufferFramingTest, FramesRoundUpToWholeBlocks)
{
    QelvanCryptCls cipher;
    for (const auto& [length, expected] : std::vector<std::pair<int, int>>{{1, 32}, {28, 32}, {29, 64}, {60, 64}, {61, 96}, {300, 320}}) {
        const std::vector<std::uint8_t> message(length, 0x77);
        const ByteArray encrypted = cipher.EncryptData(ByteArrayView(message), ByteArrayView(kPassword));
        EXPECT_EQ(encrypted.entries().size(), static_cast<std::size_t>(expected)) << length;
    }
}

TEST(BufferFramingTest, FrameHoldsLengthPrefixMessageAndZeroPadding)
{
    QelvanCryptCls cipher;
    const std::vector<std::uint8_t> abc{0x61, 0x62, 0x63};
    auto frame = rawFrame(cipher.EncryptData(ByteArrayView(abc), ByteArrayView(kPassword)).entries(), kPassword);
    std::vector<std::uint8_t> expected(32, 0);
    expected[0] = 3;
    expected[4] = 0x61, expected[5] = 0x62, expected[6] = 0x63;
    EXPECT_EQ(frame, expected);

    const std::vector<std::uint8_t> long300(300, 0xEE);
    frame = rawFrame(cipher.EncryptData(ByteArrayView(long300), ByteArrayView(kPassword)).entries(), kPassword);
    EXPECT_EQ((std::vector<std::uint8_t>(frame.begin(), frame.begin() + 4)), (std::vector<std::uint8_t>{0x2C, 0x01, 0, 0}));
    EXPECT_EQ(frame.size(), 320u);
    EXPECT_TRUE(std::all_of(frame.begin() + 304, frame.end(), [](auto b) { return b == 0; }));
}

TEST(BufferFramingTest, DecryptInvertsEncryptForAnyLengthAndPassword)
{
    std::mt19937 random(3);
    QelvanCryptCls cipher; // one instance across calls: nothing may carry over
    for (std::size_t length = 1; length < 200; length += 3) {
        const auto message = randomBytes(random, length);
        const auto password = randomBytes(random, random() % 45);
        const ByteArray encrypted = cipher.EncryptData(ByteArrayView(message), ByteArrayView(password));
        const ByteArray decrypted = cipher.DecryptData(encrypted.view(), ByteArrayView(password));
        ASSERT_TRUE(decrypted.hasStorage());
        ASSERT_EQ(decrypted.entries(), message) << length;
    }
}

TEST(BufferFramingTest, PasswordIsCutOrZeroExtendedToThirtyTwoBytes)
{
    std::mt19937 random(4);
    QelvanCryptCls cipher;
    const auto message = randomBytes(random, 50);
    const auto encrypt = [&](const std::vector<std::uint8_t>& password) {
        return cipher.EncryptData(ByteArrayView(message), ByteArrayView(password)).entries();
    };
    const auto forty = randomBytes(random, 40);
    EXPECT_EQ(encrypt(forty), encrypt(std::vector<std::uint8_t>(forty.begin(), forty.begin() + 32)));
    auto five = randomBytes(random, 5);
    auto padded = five;
    padded.resize(32, 0);
    EXPECT_EQ(encrypt(five), encrypt(padded));
    EXPECT_EQ(encrypt({}), encrypt(std::vector<std::uint8_t>(32, 0)));
    EXPECT_NE(encrypt(five), encrypt(forty));
}

TEST(BufferFramingTest, EqualBlocksEncryptEquallyAndBlocksStandAlone)
{
    QelvanCryptCls cipher;
    const std::vector<std::uint8_t> zeros(92, 0);
    const auto encrypted = cipher.EncryptData(ByteArrayView(zeros), ByteArrayView(kPassword)).entries();
    ASSERT_EQ(encrypted.size(), 96u);
    EXPECT_TRUE(std::equal(encrypted.begin() + 32, encrypted.begin() + 64, encrypted.begin() + 64));
    EXPECT_EQ(cipher.EncryptData(ByteArrayView(zeros), ByteArrayView(kPassword)).entries(), encrypted);

    auto shortened = encrypted;
    shortened.resize(64);
    EXPECT_FALSE(cipher.DecryptData(ByteArrayView(shortened), ByteArrayView(kPassword)).hasStorage());

    auto extended = encrypted;
    extended.insert(extended.end(), encrypted.begin(), encrypted.begin() + 64);
    EXPECT_EQ(cipher.DecryptData(ByteArrayView(extended), ByteArrayView(kPassword)).entries(), zeros);
}

TEST(BufferFramingTest, FailureTable)
{
    QelvanCryptCls cipher;
    const std::vector<std::uint8_t> message{1, 2, 3};
    const std::vector<std::uint8_t> none;
    const auto encrypted = cipher.EncryptData(ByteArrayView(message), ByteArrayView(kPassword)).entries();
    const ByteArrayView withoutStorage;
    const ByteArrayView emptyArray{std::span<const std::uint8_t>()};

    // Without storage: no result, no error.
    EXPECT_FALSE(cipher.EncryptData(withoutStorage, ByteArrayView(kPassword)).hasStorage());
    EXPECT_FALSE(cipher.EncryptData(ByteArrayView(message), withoutStorage).hasStorage());
    EXPECT_FALSE(cipher.DecryptData(withoutStorage, ByteArrayView(kPassword)).hasStorage());
    EXPECT_FALSE(cipher.DecryptData(ByteArrayView(encrypted), withoutStorage).hasStorage());

    // A password with no entries is 32 zero bytes.
    const std::vector<std::uint8_t> zeroKey(32, 0);
    EXPECT_EQ(cipher.EncryptData(ByteArrayView(message), emptyArray).entries(),
              cipher.EncryptData(ByteArrayView(message), ByteArrayView(zeroKey)).entries());

    EXPECT_EQ(errorNumberOf([&] { cipher.EncryptData(emptyArray, ByteArrayView(kPassword)); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.DecryptData(emptyArray, ByteArrayView(kPassword)); }), 9);

    for (std::size_t bad : {31u, 33u, 1u, 95u}) {
        const std::vector<std::uint8_t> odd(bad, 0);
        EXPECT_FALSE(cipher.DecryptData(ByteArrayView(odd), ByteArrayView(kPassword)).hasStorage()) << bad;
    }

    // Lower bound above 0: entry 0 is missing.
    EXPECT_EQ(errorNumberOf([&] { cipher.EncryptData(ByteArrayView(message, 1), ByteArrayView(kPassword)); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.EncryptData(ByteArrayView(message), ByteArrayView(kPassword, 1)); }), 9);
    const std::vector<std::uint8_t> thirtyOne(31, 0);
    EXPECT_EQ(errorNumberOf([&] { cipher.DecryptData(ByteArrayView(thirtyOne, 1), ByteArrayView(kPassword)); }), 9)
        << "indexes 1 to 31 give an upper bound of 31, so 32 entries are sought";
    EXPECT_EQ(errorNumberOf([&] { cipher.DecryptData(ByteArrayView(encrypted), ByteArrayView(kPassword, 3)); }), 9);
    // A negative lower bound keeps entry 0 reachable; entries below it are not read.
    const std::vector<std::uint8_t> shifted{0xFF, 0xFF, 1, 2, 3};
    EXPECT_EQ(cipher.EncryptData(ByteArrayView(shifted, -2), ByteArrayView(kPassword)).entries(), encrypted);
}

TEST(BufferFramingTest, DecryptedLengthDecidesTheOutcome)
{
    QelvanCryptCls cipher;
    const auto decrypt = [&](std::int32_t length, std::size_t blocks) {
        const auto buffer = bufferClaimingLength(length, blocks);
        return cipher.DecryptData(ByteArrayView(buffer), ByteArrayView(kPassword));
    };
    EXPECT_EQ(decrypt(28, 1).entries(), std::vector<std::uint8_t>(28, 0x41));
    EXPECT_FALSE(decrypt(29, 1).hasStorage());
    EXPECT_EQ(decrypt(60, 2).entries().size(), 60u);
    EXPECT_FALSE(decrypt(std::numeric_limits<std::int32_t>::max(), 2).hasStorage());
    EXPECT_EQ(errorNumberOf([&] { decrypt(0, 1); }), 9);
    EXPECT_EQ(errorNumberOf([&] { decrypt(-5, 1); }), 9);
    EXPECT_EQ(errorNumberOf([&] { decrypt(std::numeric_limits<std::int32_t>::min(), 1); }), 6);
}

TEST(BufferFramingTest, WrongPasswordNeverReadsBeyondTheData)
{
    std::mt19937 random(5);
    QelvanCryptCls cipher;
    int results = 0, refusals = 0, errors = 0;
    for (int i = 0; i < 300; ++i) {
        const auto message = randomBytes(random, 1 + random() % 100);
        const auto encrypted = cipher.EncryptData(ByteArrayView(message), ByteArrayView(kPassword)).entries();
        const auto wrong = randomBytes(random, 8);
        try {
            const ByteArray decrypted = cipher.DecryptData(ByteArrayView(encrypted), ByteArrayView(wrong));
            if (decrypted.hasStorage()) {
                ++results;
                EXPECT_LE(decrypted.entries().size(), encrypted.size() - 4);
            } else {
                ++refusals;
            }
        } catch (const NumberedError& e) {
            ++errors;
            EXPECT_TRUE(e.number() == ErrorNumber::SubscriptOutOfRange || e.number() == ErrorNumber::Overflow);
        }
    }
    EXPECT_GT(refusals, 0);
    EXPECT_GT(errors, 0);
    EXPECT_EQ(results + refusals + errors, 300);
}

TEST(BufferFramingTest, LengthsBeyondSigned32BitsOverflowBeforeEncrypting)
{
    QelvanCryptCls cipher;
    // The view's upper bound is what counts: a high lower bound stands in for
    // a message of two gigabytes.
    const std::vector<std::uint8_t> few(40, 1);
    const std::int32_t top = std::numeric_limits<std::int32_t>::max();
    EXPECT_EQ(errorNumberOf([&] { cipher.EncryptData(ByteArrayView(few, top - 39), ByteArrayView(kPassword)); }), 6)
        << "upper bound + 1 overflows";
    EXPECT_EQ(errorNumberOf([&] { cipher.EncryptData(ByteArrayView(few, top - 45), ByteArrayView(kPassword)); }), 6)
        << "the rounded frame overflows";
    const std::vector<std::uint8_t> block(32, 1);
    EXPECT_EQ(errorNumberOf([&] { cipher.DecryptData(ByteArrayView(block, top - 31), ByteArrayView(kPassword)); }), 6);
}

} // namespace
} // namespace qel::crypt

namespace qel::crypt {
namespace {

TEST(BufferFramingTest, ProcessorAndTableRoundsAgreeBitForBit)
{
    if (!QelvanCryptCls().usesHardwareRounds())
        GTEST_SKIP() << "no AES instructions on this processor";
    std::mt19937 random(6);
    QelvanCryptCls hardware;
    QelvanCryptCls tables;
    tables.useHardwareRounds(false);
    ASSERT_FALSE(tables.usesHardwareRounds());
    for (int trial = 0; trial < 200; ++trial) {
        const auto message = randomBytes(random, 1 + random() % 300);
        const auto password = randomBytes(random, random() % 40);
        const auto encrypted = hardware.EncryptData(ByteArrayView(message), ByteArrayView(password)).entries();
        ASSERT_EQ(tables.EncryptData(ByteArrayView(message), ByteArrayView(password)).entries(), encrypted);
        ASSERT_EQ(tables.DecryptData(ByteArrayView(encrypted), ByteArrayView(password)).entries(), message);
        // Arbitrary blocks, decrypted both ways, whatever length they claim.
        const auto noise = randomBytes(random, 64);
        ByteArray a(noise), b(noise);
        hardware.Decrypt(a);
        tables.Decrypt(b);
        ASSERT_EQ(a.entries(), b.entries());
    }
}

} // namespace
} // namespace qel::crypt
