#pragma once
// Credentials from the Windows Credential Manager: a generic credential whose
// target is mail::credentialTarget() of the server, as `cmdkey /generic:`
// or qel-smtp-credential stores it (user name, password as UTF-16 bytes).
#include "mail/Credentials.h"

namespace qel::mailcomponent {

class WindowsCredentials final : public mail::CredentialSource {
public:
    bool read(const std::u16string& target, mail::Credentials& out) override;
};

} // namespace qel::mailcomponent
