#include "textcrypt/CurrentTransform.h"

#include <array>
#include <cstdint>
#include <limits>

#include "common/NumberedError.h"
#include "textcrypt/HexPairs.h"

namespace qel::textcrypt {

namespace {

constexpr std::size_t kKeyLength = 32;

constexpr std::array<std::int32_t, kKeyLength> kKey = [] {
    std::array<std::int32_t, kKeyLength> key{};
    for (std::size_t i = 0; i < kKeyLength; ++i)
        key[i] = kCurrentPassPhrase[i];
    return key;
}();

// Codes and their sums are 16-bit signed: leaving that range overflows
// before the byte range is even considered.
[[noreturn]] void raiseOutOfRange(std::int32_t sum)
{
    if (sum < std::numeric_limits<std::int16_t>::min() || sum > std::numeric_limits<std::int16_t>::max())
        raise(ErrorNumber::Overflow);
    raise(ErrorNumber::InvalidArgument);
}

} // namespace

std::u16string myEncrypt(std::u16string_view text, const AnsiCodePage& codePage)
{
    std::u16string result(2 * text.size(), u'\0');
    char16_t* out = result.data();
    std::size_t k = 0;
    for (const char16_t unit : text) {
        const std::int32_t sum = std::int32_t{codePage.codeOf(unit)} + kKey[k];
        if (static_cast<std::uint32_t>(sum) > 255)
            raiseOutOfRange(sum);
        writeHexPair(static_cast<unsigned>(sum), out);
        out += 2;
        k = (k + 1) % kKeyLength;
    }
    return result;
}

std::u16string myDecrypt(std::u16string_view hex, const AnsiCodePage& codePage)
{
    const std::vector<std::uint8_t> bytes = decodeHexPairs(hex);
    std::u16string result(bytes.size(), u'\0');
    std::size_t k = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::int32_t difference = std::int32_t{bytes[i]} - kKey[k];
        if (difference < 0)
            raiseOutOfRange(difference);
        result[i] = codePage.characterOf(static_cast<std::uint8_t>(difference));
        k = (k + 1) % kKeyLength;
    }
    return result;
}

} // namespace qel::textcrypt
