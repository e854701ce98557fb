#pragma once
// The check Schannel leaves to its caller when asked for manual validation
// (and the one Wine's Schannel never makes): the server's certificate chains
// to a trusted root of the Windows store, is valid now, is meant for server
// authentication, and names the host as the user wrote it.
#include <string>

#include "mailcomponent/SspiHandles.h"

namespace qel::mailcomponent {

// True when the certificate passes; otherwise `reason` says why, in words.
bool checkServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& host, std::string& reason);

} // namespace qel::mailcomponent
