#pragma once
// The account a delivery authenticates with, and where it can come from
// besides the component's own properties: a store of saved credentials
// (the Windows Credential Manager), keyed by a target that names the server.
#include <string>

#include "mail/Deadline.h"
#include "mail/MailCodes.h"
#include "mail/SecretText.h"

namespace qel::mail {

struct Credentials {
    SecretText user;     // UTF-8
    SecretText password; // UTF-8; an OAuth 2.0 access token when `accessToken`
    bool accessToken = false;
    bool present() const { return !user.empty(); }
};

// Where an OAuth account's access tokens come from: a token endpoint, with
// what was fetched kept until shortly before it expires.
class TokenSource {
public:
    virtual ~TokenSource() = default;
    // Puts a token into `token`. `renew`: the server refused the last one, so
    // none kept may be given again. On failure, the code and why in `detail`.
    virtual MailCode token(bool renew, Deadline deadline, SecretText& token, std::string& detail) = 0;
    // The token last given, in words without the token: where it came from
    // and how long it lasts. Empty when there is nothing to say.
    virtual std::string summary() const { return {}; }
};

class CredentialSource {
public:
    virtual ~CredentialSource() = default;
    // False when nothing is stored for `target`.
    virtual bool read(const std::u16string& target, Credentials& out) = 0;
};

// "QelSmtp/" + the host as written, in lower case, + ":" + the port number.
std::u16string credentialTarget(const std::string& host, const std::string& port);

} // namespace qel::mail
