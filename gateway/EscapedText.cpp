#include "gateway/EscapedText.h"

#include "common/Utf8.h"

namespace qel::gateway {

namespace {

bool needsEscape(char32_t c, EscapeEquals equals)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == u'\\' || (c == u'=' && equals == EscapeEquals::Yes)
        || c == 0x2028 || c == 0x2029 || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E)
        || (c >= 0x2066 && c <= 0x2069) || (c >= 0xD800 && c <= 0xDFFF); // a surrogate pair never gets here
}

void appendEscape(std::string& out, char32_t c)
{
    constexpr char digits[] = "0123456789ABCDEF";
    switch (c) {
    case u'\\': out += "\\\\"; return;
    case u'\r': out += "\\r"; return;
    case u'\n': out += "\\n"; return;
    case u'\t': out += "\\t"; return;
    }
    out += c < 0x100 ? "\\x" : "\\u";
    for (int shift = c < 0x100 ? 4 : 12; shift >= 0; shift -= 4)
        out += digits[(c >> shift) & 0xF];
}

} // namespace

std::string escapedText(std::u16string_view text, EscapeEquals equals)
{
    std::string out;
    out.reserve(text.size());
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            ++i;
        } else if (needsEscape(c, equals)) {
            out += utf8FromUtf16(text.substr(plainFrom, i - plainFrom));
            appendEscape(out, c);
            plainFrom = i + 1;
        }
    }
    out += utf8FromUtf16(text.substr(plainFrom));
    return out;
}

} // namespace qel::gateway
