#pragma once
// Fuzz input read as UTF-16 code units, so every unit value can occur.
#include <cstdint>
#include <string>

namespace qel::fuzz {

inline std::u16string unitsOf(const std::uint8_t* data, std::size_t size)
{
    std::u16string text(size / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    return text;
}

inline std::u16string upper(std::u16string text)
{
    for (auto& c : text)
        if (c >= u'a' && c <= u'f')
            c = static_cast<char16_t>(c - u'a' + u'A');
    return text;
}

} // namespace qel::fuzz
