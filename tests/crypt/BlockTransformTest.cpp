// Key schedule and block transform: the FIPS-197 Appendix C vectors for
// 128-bit blocks, and the 256-bit block the system uses.
#include <random>

#include <gtest/gtest.h>

#include "crypt/QelvanCryptCls.h"
#include "support/TestBytes.h"

namespace qel::crypt {
namespace {

using test::bytesFromHex;
using test::errorNumberOf;
using test::hexFromBytes;

struct AesVector {
    int nk;
    const char* key;
    const char* cipherText;
};

class FipsAppendixC : public ::testing::TestWithParam<AesVector> {};

TEST_P(FipsAppendixC, EncryptsAndDecryptsTheExampleBlock)
{
    const AesVector& v = GetParam();
    const auto key = bytesFromHex(v.key);
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(4, v.nk, ByteArrayView(key));

    ByteArray block(bytesFromHex("00112233445566778899aabbccddeeff"));
    cipher.Encrypt(block);
    EXPECT_EQ(hexFromBytes(block.entries()), v.cipherText);
    cipher.Decrypt(block);
    EXPECT_EQ(hexFromBytes(block.entries()), "00112233445566778899aabbccddeeff");
}

INSTANTIATE_TEST_SUITE_P(
    KeyLengths, FipsAppendixC,
    ::testing::Values(AesVector{4, "000102030405060708090a0b0c0d0e0f", "69c4e0d86a7b0430d8cdb78070b4c55a"},
                      AesVector{6, "000102030405060708090a0b0c0d0e0f1011121314151617",
                                "dda97ca4864cdfe06eaf70a0ec0d7191"},
                      AesVector{8, "000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f",
                                "8ea2b7ca516745bfeafc49904b496089"}),
    [](const auto& info) { return "Nk" + std::to_string(info.param.nk); });

TEST(KeyScheduleTest, RoundCountFollowsTheLongerOfBlockAndKey)
{
    const std::vector<std::uint8_t> key(32, 7);
    const std::vector<std::array<int, 3>> cases{{4, 4, 10}, {4, 6, 12}, {6, 4, 12}, {6, 6, 12},
                                                {4, 8, 14}, {8, 4, 14}, {8, 8, 14}};
    QelvanCryptCls cipher;
    cipher.gentables();
    for (const auto& [nb, nk, rounds] : cases) {
        cipher.gkey(nb, nk, ByteArrayView(key));
        EXPECT_EQ(cipher.roundCount(), rounds) << nb << "," << nk;
        EXPECT_EQ(cipher.blockWords(), nb);
        EXPECT_EQ(cipher.keyWords(), nk);
    }
}

TEST(KeyScheduleTest, RowOffsetsForFourAndEightWordBlocks)
{
    const std::vector<std::uint8_t> key(32, 0);
    QelvanCryptCls cipher;
    cipher.gentables();

    cipher.gkey(8, 8, ByteArrayView(key));
    const auto& f = cipher.forwardShiftIndex();
    const auto& r = cipher.inverseShiftIndex();
    EXPECT_EQ((std::array<int, 3>{f[0], f[1], f[2]}), (std::array<int, 3>{1, 3, 4}));
    EXPECT_EQ((std::array<int, 3>{f[21], f[22], f[23]}), (std::array<int, 3>{0, 2, 3}));
    EXPECT_EQ((std::array<int, 3>{r[0], r[1], r[2]}), (std::array<int, 3>{7, 5, 4}));

    cipher.gkey(4, 4, ByteArrayView(key));
    EXPECT_EQ((std::array<int, 3>{f[0], f[1], f[2]}), (std::array<int, 3>{1, 2, 3}));
    EXPECT_EQ((std::array<int, 3>{r[0], r[1], r[2]}), (std::array<int, 3>{3, 2, 1}));
}

TEST(KeyScheduleTest, DecryptionScheduleIsTheReversedEncryptionScheduleThroughInverseMix)
{
    std::mt19937 random(1);
    std::vector<std::uint8_t> key(32);
    for (auto& b : key)
        b = static_cast<std::uint8_t>(random());
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(8, 8, ByteArrayView(key));
    const auto& e = cipher.encryptionSchedule();
    const auto& d = cipher.decryptionSchedule();
    constexpr int nb = 8, n = 120;
    for (int j = 0; j < nb; ++j) {
        EXPECT_EQ(d[n - nb + j], e[j]);
        EXPECT_EQ(d[j], e[n - nb + j]);
    }
    for (int i = nb; i < n - nb; i += nb)
        for (int j = 0; j < nb; ++j)
            ASSERT_EQ(d[n - nb - i + j], cipher.InverseMixWord(e[i + j])) << i + j;
}

TEST(KeyScheduleTest, LongKeysSubstituteTheFifthWordOfEachGroup)
{
    // Only the nk = 8 expansion passes word j + 4 through the S-box: a key
    // schedule built without that step would differ at word 12.
    const auto key = bytesFromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(4, 8, ByteArrayView(key));
    const auto& e = cipher.encryptionSchedule();
    EXPECT_EQ(e[12], e[4] ^ cipher.SubstituteWord(e[11]));
    cipher.gkey(4, 6, ByteArrayView(key));
    EXPECT_EQ(e[10], e[4] ^ e[9]);
}

TEST(KeyScheduleTest, RefusesLengthsBeyondItsTablesAndShortKeys)
{
    const std::vector<std::uint8_t> key(40, 1);
    QelvanCryptCls cipher;
    cipher.gentables();
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(9, 8, ByteArrayView(key)); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(8, 9, ByteArrayView(key)); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(0, 8, ByteArrayView(key)); }), 5);
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(8, -1, ByteArrayView(key)); }), 5);
    const std::vector<std::uint8_t> shortKey(31, 1);
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(8, 8, ByteArrayView(shortKey)); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(4, 4, ByteArrayView(key, 1)); }), 9) << "KEY indexed from 1";
    EXPECT_EQ(errorNumberOf([&] { cipher.gkey(4, 4, ByteArrayView()); }), 9);
}

TEST(BlockTransformTest, EveryBlockLengthRoundTripsAndLeavesLaterEntriesAlone)
{
    std::mt19937 random(2);
    QelvanCryptCls cipher;
    cipher.gentables();
    for (int nb : {4, 5, 6, 7, 8}) {
        for (int nk : {4, 6, 8}) {
            std::vector<std::uint8_t> key(4 * nk);
            for (auto& b : key)
                b = static_cast<std::uint8_t>(random());
            cipher.gkey(nb, nk, ByteArrayView(key));
            std::vector<std::uint8_t> plain(4 * nb + 3);
            for (auto& b : plain)
                b = static_cast<std::uint8_t>(random());
            ByteArray buff(plain);
            cipher.Encrypt(buff);
            EXPECT_NE(buff.entries(), plain);
            EXPECT_TRUE(std::equal(plain.end() - 3, plain.end(), buff.entries().end() - 3));
            cipher.Decrypt(buff);
            EXPECT_EQ(buff.entries(), plain) << nb << "," << nk;
        }
    }
}

TEST(BlockTransformTest, ShortBuffersFailBeforeAnyEntryIsWritten)
{
    const std::vector<std::uint8_t> key(32, 3);
    QelvanCryptCls cipher;
    cipher.gentables();
    cipher.gkey(8, 8, ByteArrayView(key));
    ByteArray shortBuffer(std::vector<std::uint8_t>(31, 0xAA));
    EXPECT_EQ(errorNumberOf([&] { cipher.Encrypt(shortBuffer); }), 9);
    EXPECT_EQ(errorNumberOf([&] { cipher.Decrypt(shortBuffer); }), 9);
    EXPECT_EQ(shortBuffer.entries(), std::vector<std::uint8_t>(31, 0xAA));
    ByteArray fromOne(std::vector<std::uint8_t>(40, 0xAA), 1);
    EXPECT_EQ(errorNumberOf([&] { cipher.Encrypt(fromOne); }), 9);
    ByteArray none;
    EXPECT_EQ(errorNumberOf([&] { cipher.Encrypt(none); }), 9);
}

} // namespace
} // namespace qel::crypt
