#pragma once
// Small helpers shared by the core tests.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "common/NumberedError.h"

namespace qel::test {

inline std::vector<std::uint8_t> bytesFromHex(std::string_view hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return bytes;
}

inline std::string hexFromBytes(const std::vector<std::uint8_t>& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (auto b : bytes) {
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

inline std::u16string widen(std::string_view ascii)
{
    return std::u16string(ascii.begin(), ascii.end());
}

// The numbered error a call raises, or 0 when it raises none.
inline int errorNumberOf(const std::function<void()>& call)
{
    try {
        call();
    } catch (const NumberedError& e) {
        return static_cast<int>(e.number());
    }
    return 0;
}

} // namespace qel::test
