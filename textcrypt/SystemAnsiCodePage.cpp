#include "textcrypt/SystemAnsiCodePage.h"

#include <windows.h>

#include <vector>

namespace qel::textcrypt {

namespace {

// The code of one unit converted alone: a byte, or lead * 256 + trail.
std::int16_t codeOfUnit(wchar_t unit)
{
    char bytes[4] = {};
    const int written = WideCharToMultiByte(CP_ACP, 0, &unit, 1, bytes, sizeof bytes, nullptr, nullptr);
    const auto b0 = static_cast<unsigned char>(bytes[0]);
    const auto b1 = static_cast<unsigned char>(bytes[1]);
    return static_cast<std::int16_t>(written >= 2 ? (b0 << 8 | b1) : b0);
}

bool isSurrogate(unsigned unit)
{
    return unit >= 0xD800 && unit <= 0xDFFF;
}

} // namespace

AnsiCodePage systemAnsiCodePage()
{
    CPINFO info{};
    const bool singleByte = GetCPInfo(CP_ACP, &info) && info.MaxCharSize == 1;

    AnsiCodePage::CharacterTable characters{};
    for (unsigned b = 0; b < 256; ++b) {
        const char byte = static_cast<char>(b);
        wchar_t unit = L'?';
        MultiByteToWideChar(CP_ACP, 0, &byte, 1, &unit, 1);
        characters[b] = static_cast<char16_t>(unit);
    }

    auto codes = std::make_unique<AnsiCodePage::CodeTable>();
    if (singleByte) {
        // One conversion of every unit. Surrogates would pair up in a run, so
        // they stand in as NUL here and take the code of a lone half below.
        std::vector<wchar_t> units(0x10000);
        for (unsigned u = 0; u < units.size(); ++u)
            units[u] = isSurrogate(u) ? L'\0' : static_cast<wchar_t>(u);
        std::vector<char> bytes(units.size());
        const int written = WideCharToMultiByte(CP_ACP, 0, units.data(), static_cast<int>(units.size()), bytes.data(),
                                                static_cast<int>(bytes.size()), nullptr, nullptr);
        if (written == static_cast<int>(units.size())) {
            const std::int16_t loneHalf = codeOfUnit(static_cast<wchar_t>(0xD800));
            for (unsigned u = 0; u < units.size(); ++u)
                (*codes)[u] = isSurrogate(u) ? loneHalf : static_cast<unsigned char>(bytes[u]);
            return AnsiCodePage(std::move(codes), characters);
        }
    }
    for (unsigned u = 0; u < 0x10000; ++u)
        (*codes)[u] = codeOfUnit(static_cast<wchar_t>(u));
    return AnsiCodePage(std::move(codes), characters);
}

} // namespace qel::textcrypt
