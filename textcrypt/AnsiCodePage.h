#pragma once
// The system's ANSI code page as the current transform sees it, one UTF-16
// code unit or one byte at a time: the code of each unit taken alone (a
// surrogate half alone is a character the page lacks), and the character of
// each single byte. Windows builds fill it from the platform's conversions;
// elsewhere Windows-1252 stands in.
#include <array>
#include <cstdint>
#include <memory>

namespace qel::textcrypt {

class AnsiCodePage {
public:
    using CodeTable = std::array<std::int16_t, 0x10000>;
    using CharacterTable = std::array<char16_t, 256>;

    // Codes are single bytes on a single-byte page; a double-byte page gives
    // lead * 256 + trail as a signed 16-bit number.
    AnsiCodePage(std::unique_ptr<const CodeTable> codes, const CharacterTable& characters)
        : codes_(std::move(codes)), characters_(characters)
    {
    }

    // Strict Windows-1252: the five unassigned bytes map to the C1 controls
    // of the same number, everything else the page lacks to '?'.
    static const AnsiCodePage& windows1252();

    std::int16_t codeOf(char16_t unit) const { return (*codes_)[unit]; }
    char16_t characterOf(std::uint8_t code) const { return characters_[code]; }

private:
    std::unique_ptr<const CodeTable> codes_;
    CharacterTable characters_;
};

} // namespace qel::textcrypt
