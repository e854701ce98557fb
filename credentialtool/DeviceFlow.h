#pragma once
// RFC 8628: the person signs in on any device with a code the tool prints;
// the tool polls the token endpoint until then, or until the code expires.
#include "mail/OAuthAccount.h"
#include "mail/TokenResponse.h"

namespace qel::credentialtool {

// 0 with the tokens in `grant`, or the exit status of a failed sign-in (said on standard error).
int deviceFlow(const mail::OAuthAccount& account, mail::TokenGrant& grant);

} // namespace qel::credentialtool
