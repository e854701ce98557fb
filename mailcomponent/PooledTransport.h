#pragma once
// A transport a session can be kept on between sends. As the process ends
// its socket is closed without a word: no QUIT, no TLS, no waits.
#include "mail/SmtpSession.h"

namespace qel::mailcomponent {

class PooledTransport : public mail::SmtpTransport {
public:
    virtual void dropSocket() = 0;
};

} // namespace qel::mailcomponent
