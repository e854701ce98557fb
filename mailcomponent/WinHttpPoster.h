#pragma once
// HTTPS for token endpoints through the platform's own client (WinHTTP):
// the system's certificate checks, the system's proxy settings, no
// redirects (a token request goes where it was configured to or nowhere),
// no cookies and no Windows logon sent along.
#include "mail/OAuthTokens.h"

namespace qel::mailcomponent {

class WinHttpPoster final : public mail::HttpsPoster {
public:
    mail::MailCode post(const std::string& url, std::string_view form, mail::Deadline deadline, int& status,
                        mail::SecretText& body, std::string& detail) override;
};

} // namespace qel::mailcomponent
