#pragma once
// The hex text shared by every string transform: one digit pair per byte,
// high digit first, no prefix or separator.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qel::textcrypt {

// Pairs are read left to right, so the first bad pair decides: a pair that is
// not two hexadecimal digits (either case) raises error 13; a text of 0 or 1
// characters, or an unpaired last character, raises error 9.
std::vector<std::uint8_t> decodeHexPairs(std::u16string_view text);

// Two uppercase digits per byte.
void appendHexPairs(std::span<const std::uint8_t> bytes, std::u16string& out);

// The two uppercase digits of a byte, high digit first.
inline void writeHexPair(unsigned byte, char16_t* out)
{
    constexpr char16_t digits[] = u"0123456789ABCDEF";
    out[0] = digits[(byte >> 4) & 0xF];
    out[1] = digits[byte & 0xF];
}

} // namespace qel::textcrypt
