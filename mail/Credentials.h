#pragma once
// The account a delivery authenticates with, and where it can come from
// besides the component's own properties: a store of saved credentials
// (the Windows Credential Manager), keyed by a target that names the server.
#include <string>

#include "mail/SecretText.h"

namespace qel::mail {

struct Credentials {
    SecretText user;     // UTF-8
    SecretText password; // UTF-8
    bool present() const { return !user.empty(); }
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
