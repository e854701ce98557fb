#pragma once
// UTF-8 for what leaves or enters the components as bytes (mail, files).
#include <string>
#include <string_view>

namespace qel {

// A lone surrogate half has no UTF-8 form and becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view text);
// Malformed sequences become U+FFFD.
std::u16string utf16FromUtf8(std::string_view bytes);

} // namespace qel
