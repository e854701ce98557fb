#pragma once
// Base64 (RFC 4648, with padding) for the SMTP authentication exchange.
#include <string>
#include <string_view>

#include "mail/SecretText.h"

namespace qel::mail {

// Appends the encoding of `bytes` to `out` without a copy of the secret elsewhere.
void appendBase64(std::string_view bytes, SecretText& out);

// False for anything but well-formed base64 (padding included; no blanks).
bool decodeBase64(std::string_view text, std::string& out);

} // namespace qel::mail
