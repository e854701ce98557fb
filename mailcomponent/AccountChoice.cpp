#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include "mailcomponent/AccountChoice.h"

#include "common/Utf8.h"
#include "mail/DetailText.h"
#include "mailcomponent/WindowsCredentials.h"

namespace qel::mailcomponent {

mail::MailCode chooseAccount(const GivenAccount& given, const mail::ServerAddress& server, SendPlatform& platform,
                             ChosenAccount& out, std::string& detail)
{
    out.target = mail::credentialTarget(server.host, server.port);
    const bool withToken = given.accessToken && !given.accessToken->empty();
    if (withToken || !given.user.empty()) {
        out.source = ChosenAccount::Source::Properties;
        out.credentials.user.append(utf8FromUtf16(given.user));
        out.credentials.accessToken = withToken;
        if (const mail::SecretText* secret = withToken ? given.accessToken : given.password)
            out.credentials.password.append(secret->view());
        out.identity.append(out.credentials.password.view());
        if (withToken && given.user.empty()) {
            detail = "AccessToken needs UserName, the mailbox the token is for";
            return mail::AuthenticationFailed;
        }
        return mail::Ok;
    }
    mail::SecretText storedUser, blob;
    if (const mail::Stored stored = platform.secrets().lookup(out.target + kOAuthAccountSuffix, storedUser, blob);
        stored != mail::Stored::Absent) {
        out.source = ChosenAccount::Source::StoredOAuth;
        if (stored == mail::Stored::Damaged) {
            detail = "the stored OAuth account is damaged: store it again with qel-smtp-credential oauth-app or oauth-user";
            return mail::AuthProtocolError;
        }
        std::string missing;
        if (mail::readStoredForm(blob.view(), out.oauth, detail) != mail::Ok)
            return mail::AuthProtocolError;
        if (!mail::completeAccount(out.oauth, server.host, missing)) {
            detail = "the stored OAuth account lacks " + missing;
            return mail::AuthProtocolError;
        }
        const std::string mailbox(storedUser.view());
        out.identity.append(blob.view());
        out.credentials.user.append(mailbox);
        out.credentials.accessToken = true;
        out.tokens.emplace(out.oauth, mailbox, out.target + kRefreshTokenSuffix, platform.https(), platform.secrets(),
                           mail::TokenCache::process());
        return mail::Ok;
    }
    if (platform.passwords().read(out.target, out.credentials))
        out.source = ChosenAccount::Source::StoredPassword;
    out.identity.append(out.credentials.password.view());
    return mail::Ok;
}

std::string ChosenAccount::description() const
{
    const std::string user = mail::escapedText(credentials.user.view(), 256);
    switch (source) {
    case Source::Properties:
        return (credentials.accessToken ? "AccessToken property" : "UserName and Password properties") + std::string(", user ")
               + user;
    case Source::StoredOAuth:
        return "stored OAuth account " + utf8FromUtf16(target + kOAuthAccountSuffix) + ", mailbox " + user + ", grant "
               + (oauth.grant == mail::OAuthGrant::ClientCredentials ? "client credentials (the app's own)"
                                                                    : "refresh token (a person's sign-in)")
               + ", token endpoint " + mail::escapedText(oauth.tokenEndpoint, 256) + ", scope "
               + mail::escapedText(oauth.scope, 256);
    case Source::StoredPassword:
        return "stored password " + utf8FromUtf16(target) + ", user " + user;
    case Source::None:
        break;
    }
    return "none (no UserName, nothing stored for " + utf8FromUtf16(target) + ")";
}

} // namespace qel::mailcomponent
