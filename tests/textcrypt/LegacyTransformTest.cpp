#include <gtest/gtest.h>

#include "support/TestBytes.h"
#include "textcrypt/LegacyKnownAnswers.h"
#include "textcrypt/LegacyTransform.h"

namespace qel::textcrypt {
namespace {

using test::errorNumberOf;

std::u16string decryptText(std::u16string_view hex)
{
    return textFromLittleEndianBytes(myOldDecrypt(hex));
}

TEST(LegacyTransformTest, HexLengthFollowsTheFrame)
{
    for (const auto& [chars, digits] : std::vector<std::pair<int, std::size_t>>{
             {1, 64}, {14, 64}, {15, 128}, {30, 128}, {31, 192}, {46, 192}, {160, 704}}) {
        const std::u16string hex = myOldEncrypt(std::u16string(chars, u'q'));
        EXPECT_EQ(hex.size(), digits) << chars;
        EXPECT_EQ(hex.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);
    }
}

TEST(LegacyTransformTest, GivesAndReadsTheFormLibmcryptMade)
{
    // libmcrypt's key held only the pass phrase's first 16 characters.
    for (const test::LegacyKnownAnswer& known : test::kLegacyKnownAnswers) {
        EXPECT_EQ(myOldEncrypt(known.text), known.hex);
        EXPECT_EQ(decryptText(known.hex), known.text);
    }
}

TEST(LegacyTransformTest, AnyTextRoundTripsExactly)
{
    const std::vector<std::u16string> texts{
        u"a", u"Hello, world", std::u16string(u"nul\0inside", 10), u"\U0001F600 \u4E2D\u6587 \u00E9", u"\xD800 lone",
        std::u16string(1000, u'\uFFFF'),
    };
    for (const auto& text : texts) {
        const std::u16string hex = myOldEncrypt(text);
        EXPECT_EQ(decryptText(hex), text);
        std::u16string lower = hex;
        for (auto& c : lower)
            c = static_cast<char16_t>(std::tolower(c));
        EXPECT_EQ(decryptText(lower), text);
    }
}

TEST(LegacyTransformTest, ByteArraysEncryptInPlaceOfTextBytes)
{
    const std::vector<std::uint8_t> bytes{0x41, 0x00, 0x42, 0x00};
    EXPECT_EQ(myOldEncrypt(crypt::ByteArrayView(bytes)), myOldEncrypt(u"AB"));
    const std::vector<std::uint8_t> odd{1, 2, 3};
    EXPECT_EQ(myOldDecrypt(myOldEncrypt(crypt::ByteArrayView(odd))), odd);
}

TEST(LegacyTransformTest, Failures)
{
    const std::vector<std::uint8_t> bytes{1, 2};
    EXPECT_EQ(errorNumberOf([] { myOldEncrypt(u""); }), 9);
    EXPECT_EQ(errorNumberOf([] { myOldEncrypt(crypt::ByteArrayView()); }), 9);
    EXPECT_EQ(errorNumberOf([] { myOldEncrypt(crypt::ByteArrayView(std::span<const std::uint8_t>())); }), 9);
    EXPECT_EQ(errorNumberOf([&] { myOldEncrypt(crypt::ByteArrayView(bytes, 1)); }), 9);
    EXPECT_EQ(errorNumberOf([] { myOldDecrypt(u""); }), 9);
    EXPECT_EQ(errorNumberOf([] { myOldDecrypt(u"A"); }), 9);
    const std::u16string hex = myOldEncrypt(u"text");
    EXPECT_EQ(errorNumberOf([&] { myOldDecrypt(hex + u"0"); }), 9);
    std::u16string badFirstPair = hex;
    badFirstPair[0] = u'G';
    EXPECT_EQ(errorNumberOf([&] { myOldDecrypt(badFirstPair); }), 13);
    EXPECT_EQ(errorNumberOf([&] { myOldDecrypt(badFirstPair + u"0"); }), 13) << "a bad pair outranks the odd length";
}

TEST(LegacyTransformTest, HexNotMadeByThisTransformDecryptsAsTheFrameSays)
{
    EXPECT_TRUE(myOldDecrypt(u"0011").empty()) << "not a whole block";
    EXPECT_TRUE(myOldDecrypt(myOldEncrypt(u"abc").substr(0, 62)).empty());
    const std::u16string twoBlocks = myOldEncrypt(std::u16string(20, u'z'));
    EXPECT_TRUE(myOldDecrypt(twoBlocks.substr(0, 64)).empty()) << "stored length no longer fits";
}

} // namespace
} // namespace qel::textcrypt
