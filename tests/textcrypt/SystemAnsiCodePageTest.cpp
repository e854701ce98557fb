// Windows only. The test runs pin the locale, so the ANSI code page is 1252.
#include <windows.h>

#include <gtest/gtest.h>

#include "textcrypt/CurrentTransform.h"
#include "textcrypt/SystemAnsiCodePage.h"

namespace qel::textcrypt {
namespace {

TEST(SystemAnsiCodePageTest, AgreesWithWindows1252WhereThatPageDefinesACharacter)
{
    ASSERT_EQ(GetACP(), 1252u);
    const AnsiCodePage system = systemAnsiCodePage();
    const AnsiCodePage& table = AnsiCodePage::windows1252();
    for (unsigned b = 0; b < 256; ++b) {
        const char16_t c = table.characterOf(static_cast<std::uint8_t>(b));
        EXPECT_EQ(system.characterOf(static_cast<std::uint8_t>(b)), c) << b;
        EXPECT_EQ(system.codeOf(c), static_cast<std::int16_t>(b)) << b;
    }
    EXPECT_EQ(system.codeOf(u'\u4E2D'), '?');
    EXPECT_EQ(system.codeOf(u'\xD83D'), '?') << "a surrogate half alone";
    EXPECT_EQ(system.codeOf(u'\xDE00'), '?');
}

TEST(SystemAnsiCodePageTest, DrivesTheCurrentTransformLikeThePortableTable)
{
    const AnsiCodePage system = systemAnsiCodePage();
    const std::u16string hex = myEncrypt(u"Price: \u20AC5", system);
    EXPECT_EQ(hex, myEncrypt(u"Price: \u20AC5", AnsiCodePage::windows1252()));
    EXPECT_EQ(myDecrypt(hex, system), u"Price: \u20AC5");
    EXPECT_EQ(myDecrypt(myEncrypt(u"\U0001F600", system), system), u"??");
}

} // namespace
} // namespace qel::textcrypt
