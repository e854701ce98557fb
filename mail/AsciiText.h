#pragma once
// The ASCII rules that tokens, targets, host names and protocol keywords
// share; locale-free, so a host's code page never changes what matches.
#include <string>
#include <string_view>

namespace qel::mail {

// Visible ASCII only, 0x21 to 0x7E: what a token may travel in headers and SASL strings as.
bool printableAscii(std::string_view text);

// A-Z folded to a-z; every other byte as it is.
std::string asciiLower(std::string_view text);

bool asciiEqualFolded(std::string_view a, std::string_view b);

} // namespace qel::mail
