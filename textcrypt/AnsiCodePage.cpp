#include "textcrypt/AnsiCodePage.h"

namespace qel::textcrypt {

namespace {

// Bytes 0x80 to 0x9F; every other byte maps to the code point of its value.
constexpr char16_t kWindows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

AnsiCodePage makeWindows1252()
{
    AnsiCodePage::CharacterTable characters{};
    for (unsigned b = 0; b < 256; ++b)
        characters[b] = (b >= 0x80 && b < 0xA0) ? kWindows1252High[b - 0x80] : static_cast<char16_t>(b);

    auto codes = std::make_unique<AnsiCodePage::CodeTable>();
    codes->fill('?');
    for (unsigned b = 0; b < 256; ++b)
        (*codes)[characters[b]] = static_cast<std::int16_t>(b);
    return AnsiCodePage(std::move(codes), characters);
}

} // namespace

const AnsiCodePage& AnsiCodePage::windows1252()
{
    static const AnsiCodePage page = makeWindows1252();
    return page;
}

} // namespace qel::textcrypt
