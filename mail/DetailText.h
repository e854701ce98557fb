#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace qel::mail {

// Text from outside (a server's reply, a token endpoint's answer) made fit
// for ErrorDetail and a console: control characters as \xHH, at most `most`
// bytes kept.
std::string escapedText(std::string_view text, std::size_t most = 512);

} // namespace qel::mail
