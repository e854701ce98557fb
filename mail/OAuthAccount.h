#pragma once
// An OAuth 2.0 account for SMTP: how its tokens are obtained (an app's own
// client credentials, or a mailbox's refresh token), from where, for what
// scope; the built-in defaults of the mail services that require it, chosen
// by the server's name; and the form it is stored in (UTF-8 JSON).
#include <string>
#include <string_view>

#include "mail/MailCodes.h"
#include "mail/SecretText.h"

namespace qel::mail {

enum class OAuthGrant { ClientCredentials, RefreshToken };

struct OAuthAccount {
    OAuthGrant grant = OAuthGrant::ClientCredentials;
    std::string clientId;
    SecretText clientSecret; // empty for a public client
    std::string tenant;      // Microsoft's directory; "organizations" when not given
    std::string tokenEndpoint, deviceEndpoint, authorizeEndpoint;
    std::string scope;
};

struct OAuthProvider {
    std::string_view name;
    // "{tenant}" stands for the account's tenant.
    std::string_view tokenEndpoint, deviceEndpoint, authorizeEndpoint;
    std::string_view appScope, userScope;
};

// Microsoft 365 / Outlook.com or Google by the SMTP server's name; null otherwise.
const OAuthProvider* providerFor(std::string_view host);

// Fills what the account leaves empty from the provider of `host`. False,
// with what is missing in `missing`, when a token endpoint or scope remains
// unknown, or an endpoint is not https.
bool completeAccount(OAuthAccount& account, std::string_view host, std::string& missing);

SecretText storedForm(const OAuthAccount& account);
// AuthProtocolError with `detail` when `blob` is not an account's stored form.
MailCode readStoredForm(std::string_view blob, OAuthAccount& account, std::string& detail);

// application/x-www-form-urlencoded: "name=value", joined by "&".
void appendFormField(SecretText& body, std::string_view name, std::string_view value);

// client_id, and client_secret when the account has one: how a client names itself to the token endpoint.
void appendClient(SecretText& body, const OAuthAccount& account);

// The request for a new access token: the client credentials grant, or the
// refresh token grant with `refreshToken`.
SecretText tokenRequest(const OAuthAccount& account, std::string_view refreshToken);

} // namespace qel::mail
