// Tables and helpers of the block cipher, checked against values published
// for Rijndael and against a slow, independent derivation.
#include <gtest/gtest.h>

#include "crypt/QelvanCryptCls.h"
#include "support/TestBytes.h"

namespace qel::crypt {
namespace {

using test::errorNumberOf;

// Field product by shift-and-add, independent of the cipher's tables.
std::uint8_t slowMultiply(std::uint8_t a, std::uint8_t b)
{
    std::uint8_t product = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (b & (1 << bit))
            product ^= a;
        a = static_cast<std::uint8_t>((a << 1) ^ ((a & 0x80) ? 0x1B : 0));
    }
    return product;
}

std::uint8_t slowSbox(std::uint8_t x)
{
    std::uint8_t inverse = 0;
    for (int c = 1; c < 256 && x != 0; ++c)
        if (slowMultiply(x, static_cast<std::uint8_t>(c)) == 1)
            inverse = static_cast<std::uint8_t>(c);
    std::uint8_t s = 0x63;
    for (int bit = 0; bit < 8; ++bit) {
        const int v = (inverse >> bit) ^ (inverse >> ((bit + 4) % 8)) ^ (inverse >> ((bit + 5) % 8))
            ^ (inverse >> ((bit + 6) % 8)) ^ (inverse >> ((bit + 7) % 8));
        s ^= static_cast<std::uint8_t>((v & 1) << bit);
    }
    return s;
}

class CipherTablesTest : public ::testing::Test {
protected:
    void SetUp() override { cipher.gentables(); }
    QelvanCryptCls cipher;
};

TEST(CipherCreationTest, ConstantFieldsHoldTheirMasksBitsAndCoefficients)
{
    EXPECT_EQ(QelvanCryptCls::lowMaskWord.front(), 1u);
    EXPECT_EQ(QelvanCryptCls::lowMaskWord.back(), 0x7FFFFFFFu);
    EXPECT_EQ(QelvanCryptCls::bitWord.back(), 0x40000000u);
    EXPECT_EQ(QelvanCryptCls::lowMaskOctet.back(), 255);
    EXPECT_EQ(QelvanCryptCls::bitOctet.back(), 128);
    EXPECT_EQ(QelvanCryptCls::JoinWord(QelvanCryptCls::inverseMixCoefficients), 0x0E090D0Bu);
    QelvanCryptCls fresh;
    EXPECT_EQ(fresh.sbox()[1], 0);
    EXPECT_EQ(fresh.roundCount(), 0);
}

TEST_F(CipherTablesTest, SubstitutionBoxesMatchTheFieldDefinition)
{
    for (int i = 0; i < 256; ++i) {
        const auto x = static_cast<std::uint8_t>(i);
        ASSERT_EQ(cipher.sbox()[x], slowSbox(x)) << i;
        ASSERT_EQ(cipher.inverseSbox()[cipher.sbox()[x]], x) << i;
    }
    EXPECT_EQ(cipher.sbox()[0x00], 0x63);
    EXPECT_EQ(cipher.sbox()[0x01], 0x7C);
    EXPECT_EQ(cipher.sbox()[0x53], 0xED);
    EXPECT_EQ(cipher.sbox()[0xFF], 0x16);
    EXPECT_EQ(cipher.inverseSbox()[0x00], 0x52);
    EXPECT_EQ(cipher.inverseSbox()[0x63], 0x00);
}

TEST_F(CipherTablesTest, LogarithmsRoundConstantsAndRoundTables)
{
    EXPECT_EQ(cipher.logTable()[0], 0);
    EXPECT_EQ(cipher.logTable()[1], 255);
    EXPECT_EQ(cipher.logTable()[3], 1);
    EXPECT_EQ(cipher.antilogTable()[255], 1);
    EXPECT_EQ(cipher.roundConstants()[0], 0x01u);
    EXPECT_EQ(cipher.roundConstants()[8], 0x1Bu);
    EXPECT_EQ(cipher.roundConstants()[9], 0x36u);
    EXPECT_EQ(cipher.roundConstants()[11], 0xD8u);
    EXPECT_EQ(cipher.roundConstants()[29], 0x91u);
    EXPECT_EQ(cipher.forwardRoundTable()[0], 0xA56363C6u);
    EXPECT_EQ(cipher.inverseRoundTable()[0], 0x50A7F451u);

    for (int i = 0; i < 256; ++i) {
        const std::uint8_t s = cipher.sbox()[i];
        const std::uint8_t v = cipher.inverseSbox()[i];
        const Word forward = Word{slowMultiply(s, 2)} | Word{s} << 8 | Word{s} << 16 | Word{slowMultiply(s, 3)} << 24;
        const Word inverse = Word{slowMultiply(v, 14)} | Word{slowMultiply(v, 9)} << 8
            | Word{slowMultiply(v, 13)} << 16 | Word{slowMultiply(v, 11)} << 24;
        ASSERT_EQ(cipher.forwardRoundTable()[i], forward) << i;
        ASSERT_EQ(cipher.inverseRoundTable()[i], inverse) << i;
    }
}

TEST_F(CipherTablesTest, RebuildingGivesTheSameTables)
{
    const auto sbox = cipher.sbox();
    const auto inverse = cipher.inverseRoundTable();
    cipher.gentables();
    EXPECT_EQ(cipher.sbox(), sbox);
    EXPECT_EQ(cipher.inverseRoundTable(), inverse);
}

TEST_F(CipherTablesTest, FieldArithmetic)
{
    EXPECT_EQ(cipher.GfMultiply(0x57, 0x83), 0xC1);
    EXPECT_EQ(QelvanCryptCls::GfDouble(0x57), 0xAE);
    EXPECT_EQ(QelvanCryptCls::GfDouble(0x80), 0x1B);
    for (int y = 0; y < 256; ++y) {
        ASSERT_EQ(cipher.GfMultiply(0, static_cast<std::uint8_t>(y)), 0);
        for (int x = 1; x < 256; x += 7)
            ASSERT_EQ(cipher.GfMultiply(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)),
                      slowMultiply(static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y)));
    }
    EXPECT_EQ(cipher.InverseMixWord(0xBCA14D8E), 0x455313DBu);
    EXPECT_EQ(cipher.SubstituteWord(0x53FF0100), 0xED167C63u);
}

TEST(CipherHelpersTest, ShiftsAndRotationsAtTheirLimits)
{
    using C = QelvanCryptCls;
    EXPECT_EQ(C::ShiftWordLeft(1, 31), 0x80000000u);
    EXPECT_EQ(C::ShiftWordLeft(0xFFFFFFFE, 31), 0u);
    EXPECT_EQ(C::ShiftWordLeft(0x12345678, 0), 0x12345678u);
    EXPECT_EQ(C::ShiftWordRight(0x80000000, 31), 1u);
    EXPECT_EQ(C::ShiftWordRight(0xFFFFFFFF, 1), 0x7FFFFFFFu);
    EXPECT_EQ(C::ShiftOctetLeft(0x81, 7), 0x80);
    EXPECT_EQ(C::ShiftOctetRight(0x80, 7), 1);
    EXPECT_EQ(C::RotateWordLeft(0x04030201, 24), 0x01040302u);
    EXPECT_EQ(C::RotateWordLeft(0x80000001, 8), 0x00000180u);
    EXPECT_EQ(C::RotateOctetLeft(0x81, 1), 0x03);

    EXPECT_EQ(errorNumberOf([] { C::ShiftWordLeft(1, 32); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::ShiftWordLeft(1, -1); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::ShiftWordRight(1, 32); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::ShiftOctetLeft(1, 8); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::ShiftOctetRight(1, 8); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::RotateWordLeft(1, 0); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::RotateWordLeft(1, 32); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::RotateOctetLeft(1, 0); }), 6);
    EXPECT_EQ(errorNumberOf([] { C::RotateOctetLeft(1, 8); }), 6);
}

TEST(CipherHelpersTest, WordsJoinAndSplitLeastSignificantByteFirst)
{
    using C = QelvanCryptCls;
    EXPECT_EQ(C::JoinWord({1, 2, 3, 4}), 0x04030201u);
    std::array<std::uint8_t, 4> split{};
    C::SplitWord(0x04030201, split);
    EXPECT_EQ(split, (std::array<std::uint8_t, 4>{1, 2, 3, 4}));

    const std::vector<std::uint8_t> bytes{9, 1, 2, 3, 4};
    EXPECT_EQ(C::JoinWordAt(ByteArrayView(bytes), 1), 0x04030201u);
    EXPECT_EQ(C::JoinWordAt(ByteArrayView(bytes, 1), 2), 0x04030201u) << "indexes count from the lower bound";
    EXPECT_EQ(errorNumberOf([&] { C::JoinWordAt(ByteArrayView(bytes), 2); }), 9);
    EXPECT_EQ(errorNumberOf([&] { C::JoinWordAt(ByteArrayView(bytes), -1); }), 9);

    ByteArray target(std::vector<std::uint8_t>(6, 0));
    C::SplitWordAt(0x04030201, target, 2);
    EXPECT_EQ(target.entries(), (std::vector<std::uint8_t>{0, 0, 1, 2, 3, 4}));
    EXPECT_EQ(errorNumberOf([&] { C::SplitWordAt(1, target, 3); }), 9);
}

} // namespace
} // namespace qel::crypt
