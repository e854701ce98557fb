#pragma once
// Credentials from the Windows Credential Manager: a generic credential whose
// target is mail::credentialTarget() of the server, as `cmdkey /generic:`
// or qel-smtp-credential stores it (user name, password as UTF-16 bytes).
// An OAuth account is stored beside it, under the same target with
// "/oauth" (the account, UTF-8 JSON) and "/oauth-refresh" (a refresh token,
// UTF-8) appended. A blob holds at most 2,560 bytes on Windows 7 and later
// and 512 on older systems and Wine, and a refresh token may have more than
// 1,500 characters; so secrets are kept as UTF-8, and one of 512 bytes or
// more goes in parts (mail/PartedStore.h).
#include "mail/Credentials.h"
#include "mail/OAuthTokens.h"
#include "mail/PartedStore.h"

namespace qel::mailcomponent {

class WindowsCredentials final : public mail::CredentialSource, public mail::SecretStore {
public:
    bool read(const std::u16string& target, mail::Credentials& out) override;
    // The blob as it is stored; the user name in UTF-8.
    bool read(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob) override;
    mail::Stored lookup(const std::u16string& target, mail::SecretText& user, mail::SecretText& blob) override;
    bool write(const std::u16string& target, std::string_view user, std::string_view blob) override;
    // A mutex named for the target, which every process of this logon session sees.
    std::unique_ptr<Hold> hold(const std::u16string& target, mail::Deadline deadline) override;
    // Every part; false when there was nothing.
    bool remove(const std::u16string& target);

    // One credential each, as CredReadW and CredWriteW take them.
    class Blobs final : public mail::CredentialBlobs {
    public:
        bool get(const std::u16string& name, mail::SecretText& user, mail::SecretText& blob) override;
        bool put(const std::u16string& name, std::string_view user, std::string_view blob) override;
        bool erase(const std::u16string& name) override;
    };

private:
    Blobs blobs_;
};

inline const std::u16string kOAuthAccountSuffix = u"/oauth";
inline const std::u16string kRefreshTokenSuffix = u"/oauth-refresh";

} // namespace qel::mailcomponent
