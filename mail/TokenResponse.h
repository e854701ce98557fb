#pragma once
// What an OAuth 2.0 token endpoint answers (RFC 6749 5.1 and 5.2), and the
// first answer of a device authorization (RFC 8628 3.2). Every field is
// checked; nothing the endpoint sends reaches a caller unless it has the
// form it must have.
#include <chrono>
#include <string>
#include <string_view>

#include "mail/MailCodes.h"
#include "mail/SecretText.h"

namespace qel::mail {

struct TokenGrant {
    SecretText accessToken;
    SecretText refreshToken; // empty when the endpoint kept the old one
    std::chrono::seconds expiresIn{3600};
};

// Ok with `out` filled. AuthenticationFailed when the endpoint refused
// (`error` and `error_description` in `detail`); ConnectionDropped, worth
// trying later, when it is down or busy (5xx, 429) or what answered sent no
// JSON; AuthProtocolError when the answer is JSON but no token response. `error`, when not null, gets the bare
// error code ("authorization_pending" and the like) for a refusal.
MailCode readTokenResponse(int httpStatus, std::string_view body, TokenGrant& out, std::string& detail,
                           std::string* error = nullptr);

struct DeviceAuthorization {
    SecretText deviceCode;
    std::string userCode;
    std::string verificationUri;
    std::chrono::seconds expiresIn{900};
    std::chrono::seconds interval{5};
};

MailCode readDeviceAuthorization(int httpStatus, std::string_view body, DeviceAuthorization& out, std::string& detail);

} // namespace qel::mail
