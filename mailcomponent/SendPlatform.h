#pragma once
// What SmtpMail::Send reaches outside the process through: connections to
// the mail server, the stored credentials, and HTTPS to a token endpoint.
// The component is given the Windows one; a test gives its own.
#include <memory>

#include "mail/Credentials.h"
#include "mail/OAuthTokens.h"
#include "mailcomponent/PooledTransport.h"

namespace qel::mailcomponent {

class SendPlatform {
public:
    virtual ~SendPlatform() = default;
    virtual std::unique_ptr<PooledTransport> newConnection() = 0;
    virtual mail::CredentialSource& passwords() = 0;
    virtual mail::SecretStore& secrets() = 0;
    virtual mail::HttpsPoster& https() = 0;

    // Winsock and Schannel, the Credential Manager, WinHTTP.
    static SendPlatform& windows();
};

} // namespace qel::mailcomponent
