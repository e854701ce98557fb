#include "mail/DetailText.h"

#include <cstdio>

namespace qel::mail {

std::string escapedText(std::string_view text, std::size_t most)
{
    std::string out;
    for (const char c : text) {
        if (out.size() >= most)
            break;
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace qel::mail
