#pragma once
// Credentials from the Windows Credential Manager: a generic credential whose
// target is mail::credentialTarget() of the server, as `cmdkey /generic:`
// or qel-smtp-credential stores it (user name, password as UTF-16 bytes).
// An OAuth account is stored beside it, under the same target with
// "/oauth" (the account, UTF-8 JSON) and "/oauth-refresh" (a refresh token,
// UTF-8) appended. A blob holds at most 2,560 bytes on Windows 7 and later
// and 512 on older systems and Wine, and a refresh token may have more than
// 1,500 characters; so secrets are kept as UTF-8, and one longer than 512
// bytes goes in parts: the target's own blob, then "#2", "#3", ..., the last
// part shorter than 512 bytes.
#include "mail/Credentials.h"
#include "mail/OAuthTokens.h"

namespace qel::mailcomponent {

class WindowsCredentials final : public mail::CredentialSource, public mail::SecretStore {
public:
    bool read(const std::u16string& target, mail::Credentials& out) override;
    // The blob as it is stored; the user name in UTF-8.
    bool read(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob) override;
    bool write(const std::u16string& target, std::string_view user, std::string_view blob) override;
    // Every part; false when there was nothing.
    bool remove(const std::u16string& target);

    static constexpr std::size_t kPartSize = 512;
    static constexpr int kMaxParts = 8;
};

inline const std::u16string kOAuthAccountSuffix = u"/oauth";
inline const std::u16string kRefreshTokenSuffix = u"/oauth-refresh";

} // namespace qel::mailcomponent
