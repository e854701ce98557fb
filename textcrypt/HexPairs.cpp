#include "textcrypt/HexPairs.h"

#include "common/NumberedError.h"

namespace qel::textcrypt {

namespace {

int digitValue(char16_t c)
{
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    return -1;
}

} // namespace

std::vector<std::uint8_t> decodeHexPairs(std::u16string_view text)
{
    const std::size_t pairs = text.size() / 2;
    if (pairs == 0)
        raise(ErrorNumber::SubscriptOutOfRange);
    std::vector<std::uint8_t> bytes(pairs);
    for (std::size_t i = 0; i < pairs; ++i) {
        const int high = digitValue(text[2 * i]);
        const int low = digitValue(text[2 * i + 1]);
        if ((high | low) < 0)
            raise(ErrorNumber::TypeMismatch);
        bytes[i] = static_cast<std::uint8_t>(high << 4 | low);
    }
    if (text.size() % 2 != 0) // the unpaired last character has no byte to go to
        raise(ErrorNumber::SubscriptOutOfRange);
    return bytes;
}

void appendHexPairs(std::span<const std::uint8_t> bytes, std::u16string& out)
{
    const std::size_t start = out.size();
    out.resize(start + 2 * bytes.size());
    char16_t* p = out.data() + start;
    for (const std::uint8_t b : bytes) {
        writeHexPair(b, p);
        p += 2;
    }
}

} // namespace qel::textcrypt
