// The current transform protects the gateway field block: its output is a
// message format, so expectations are computed here from the pass phrase.
#include <gtest/gtest.h>

#include "support/TestBytes.h"
#include "textcrypt/CurrentTransform.h"

namespace qel::textcrypt {
namespace {

using test::errorNumberOf;

const AnsiCodePage& cp1252 = AnsiCodePage::windows1252();
constexpr std::string_view kKey = "mr4ta9zk2qc7wx5nbe0hyj3dvu8pf6ls";

std::u16string expectedHex(std::string_view latin1)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (std::size_t i = 0; i < latin1.size(); ++i) {
        const unsigned sum = static_cast<unsigned char>(latin1[i]) + static_cast<unsigned char>(kKey[i % 32]);
        hex += digits[sum >> 4];
        hex += digits[sum & 15];
    }
    return test::widen(hex);
}

TEST(CurrentTransformTest, EncryptsEachCodePlusThePassPhraseCode)
{
    EXPECT_EQ(myEncrypt(u"", cp1252), u"");
    EXPECT_EQ(myEncrypt(u"A", cp1252), u"AE"); // 0x41 + 'm' (0x6D)
    EXPECT_EQ(myEncrypt(u"Hello, world", cp1252), expectedHex("Hello, world"));

    const std::string text(70, 'a');
    const std::u16string hex = myEncrypt(test::widen(text), cp1252);
    EXPECT_EQ(hex, expectedHex(text)) << "key position wraps after 32, not 33";
    EXPECT_EQ(hex.substr(64, 2), hex.substr(0, 2));
    EXPECT_EQ(hex.substr(128, 2), hex.substr(0, 2));
    EXPECT_EQ(hex.size(), 140u);
    EXPECT_EQ(hex.find_first_not_of(u"0123456789ABCDEF"), std::u16string::npos);
}

TEST(CurrentTransformTest, EveryAsciiTextRoundTrips)
{
    std::u16string all;
    for (char16_t c = 0; c < 128; ++c)
        all += c;
    EXPECT_EQ(myDecrypt(myEncrypt(all, cp1252), cp1252), all);
    EXPECT_EQ(myDecrypt(myEncrypt(all + all, cp1252), cp1252), all + all);
}

TEST(CurrentTransformTest, HighCodesEncryptOnlyWhereTheSumFitsAByte)
{
    // U+00A0 is 160: with 'm' (109) at position 1 it overflows the byte, with
    // '0' (48) at position 19 it does not.
    EXPECT_EQ(errorNumberOf([] { myEncrypt(u"\u00A0", cp1252); }), 5);
    std::u16string text(18, u'x');
    text += u'\u00A0';
    const std::u16string hex = myEncrypt(text, cp1252);
    EXPECT_EQ(hex.substr(36), u"D0");
    EXPECT_EQ(myDecrypt(hex, cp1252), text);
    // The euro sign is byte 0x80 in Windows-1252.
    EXPECT_EQ(myEncrypt(u"\u20AC", cp1252), u"ED");
    EXPECT_EQ(myDecrypt(u"ED", cp1252), u"\u20AC");
}

TEST(CurrentTransformTest, CharactersThePageLacksBecomeQuestionMarks)
{
    // Each half of a pair above U+FFFF is a character of its own.
    EXPECT_EQ(myDecrypt(myEncrypt(u"\u4E2D\U0001F600", cp1252), cp1252), u"???");
}

TEST(CurrentTransformTest, DecryptAcceptsLowercaseAndChecksEachByte)
{
    const std::u16string hex = myEncrypt(u"Zebra 42", cp1252);
    std::u16string lower = hex;
    for (auto& c : lower)
        c = static_cast<char16_t>(std::tolower(c));
    EXPECT_EQ(myDecrypt(lower, cp1252), u"Zebra 42");

    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"00", cp1252); }), 5);
    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"", cp1252); }), 9);
    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"A", cp1252); }), 9);
    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"AEA", cp1252); }), 9);
    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"AG0", cp1252); }), 13);
    EXPECT_EQ(errorNumberOf([] { myDecrypt(u"AE00", cp1252); }), 5) << "second byte below 'r'";
}

TEST(CurrentTransformTest, DoubleByteCodesOverflowOrFallOutsideAByte)
{
    // A double-byte page gives codes like 0x8140 (negative as 16 bits); a
    // code near the top of the 16-bit range overflows when the key is added.
    auto codes = std::make_unique<AnsiCodePage::CodeTable>();
    codes->fill('?');
    (*codes)[u'\u3000'] = static_cast<std::int16_t>(0x8140);
    (*codes)[u'\u4E00'] = 0x7FF0;
    AnsiCodePage::CharacterTable characters{};
    const AnsiCodePage page(std::move(codes), characters);
    EXPECT_EQ(errorNumberOf([&] { myEncrypt(u"\u3000", page); }), 5);
    EXPECT_EQ(errorNumberOf([&] { myEncrypt(u"\u4E00", page); }), 6);
}

} // namespace
} // namespace qel::textcrypt
