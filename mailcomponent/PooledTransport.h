#pragma once
// A transport a session can be kept on between sends. As the process ends,
// the system closes its socket: no QUIT, no TLS, no waits.
#include "mail/SmtpSession.h"

namespace qel::mailcomponent {

using PooledTransport = mail::SmtpTransport;

} // namespace qel::mailcomponent
