#pragma once
// RFC 8252: the browser on this machine signs in and comes back to a
// loopback address with a code, bound to this run by PKCE (RFC 7636).
#include "credentialtool/ToolSupport.h"
#include "mail/OAuthAccount.h"
#include "mail/TokenResponse.h"

namespace qel::credentialtool {

// 0 with the tokens in `grant`, or the exit status of a failed sign-in (said on standard error).
int loopbackFlow(const mail::OAuthAccount& account, const Options& options, mail::TokenGrant& grant);

} // namespace qel::credentialtool
