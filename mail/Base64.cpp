#include "mail/Base64.h"

namespace qel::mail {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

void appendBase64(std::string_view bytes, SecretText& out)
{
    char* o = out.extend((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 | static_cast<unsigned char>(bytes[i + 1]) << 8
                           | static_cast<unsigned char>(bytes[i + 2]);
        *o++ = kAlphabet[n >> 18];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = kAlphabet[(n >> 6) & 63];
        *o++ = kAlphabet[n & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const unsigned n = static_cast<unsigned char>(bytes[i]) << 16 | (two ? static_cast<unsigned char>(bytes[i + 1]) << 8 : 0);
        *o++ = kAlphabet[n >> 18];
        *o++ = kAlphabet[(n >> 12) & 63];
        *o++ = two ? kAlphabet[(n >> 6) & 63] : '=';
        *o++ = '=';
    }
}

bool decodeBase64(std::string_view text, std::string& out)
{
    out.clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        const int pad = last ? (text[i + 3] == '=') + (text[i + 2] == '=') : 0;
        if (pad == 1 && text[i + 2] == '=')
            return false; // "x=y=" and the like
        unsigned n = 0;
        for (int k = 0; k < 4 - pad; ++k) {
            const int v = valueOf(text[i + k]);
            if (v < 0)
                return false;
            n |= static_cast<unsigned>(v) << (18 - 6 * k);
        }
        out += static_cast<char>(n >> 16);
        if (pad < 2)
            out += static_cast<char>((n >> 8) & 0xFF);
        if (pad < 1)
            out += static_cast<char>(n & 0xFF);
    }
    return true;
}

} // namespace qel::mail
