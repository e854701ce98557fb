#pragma once
// The check Schannel leaves to its caller when asked for manual validation
// (and the one Wine's Schannel never makes): the server's certificate chains
// to a trusted root of the Windows store, is valid now, is meant for server
// authentication, and names the host as the user wrote it. The chain is
// built from what is on this machine and what the server sent, within the
// step's deadline: no address named in a certificate is fetched.
#include <string>

#include "mail/Deadline.h"
#include "mailcomponent/SspiHandles.h"

namespace qel::mailcomponent {

// True when the certificate passes; otherwise `reason` says why, in words.
bool checkServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& host, mail::Deadline deadline,
                            std::string& reason);

// The bits of a chain's error status that refuse it: all but revocation's
// "unknown" and "offline", as revocation is not checked.
DWORD refusedChainFaults(DWORD errorStatus);

} // namespace qel::mailcomponent
