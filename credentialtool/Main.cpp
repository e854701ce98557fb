// qel-smtp-credential: stores, shows or removes what the mail component reads
// for a server, for systems without cmdkey (Wine), for scripts, and for OAuth
// accounts, whose first refresh token needs a person to sign in once. The
// server is written as in MailServer, so the target is the one the component
// looks up. Secrets typed at a console are not echoed; an argument stays in
// the process's command line while it runs, so standard input is better.
//   qel-smtp-credential store SERVER USER [PASSWORD]
//   qel-smtp-credential oauth-app SERVER MAILBOX CLIENT-ID [SECRET] [--token-endpoint URL] [--scope SCOPE] [--tenant T]
//   qel-smtp-credential oauth-user SERVER MAILBOX CLIENT-ID [SECRET|-] [--token-endpoint URL]
//       [--device-endpoint URL | --authorize-endpoint URL] [--scope SCOPE] [--tenant T] [--no-browser] [--wait SECONDS]
//   qel-smtp-credential show SERVER     (never a password, secret or token)
//   qel-smtp-credential remove SERVER   (the password and the OAuth account alike)
//   qel-smtp-credential test SERVER [--from ADDRESS --to ADDRESS [--send]]
#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>

#include "common/Utf8.h"
#include "credentialtool/BrowserSignIn.h"
#include "credentialtool/ConsoleSecret.h"
#include "credentialtool/DeviceFlow.h"
#include "credentialtool/SetupTest.h"
#include "credentialtool/ToolSupport.h"
#include "mail/Credentials.h"
#include "mail/OAuthAccount.h"
#include "mail/SmtpSession.h"
#include "mailcomponent/WindowsCredentials.h"

using namespace qel::credentialtool;
namespace mail = qel::mail;
using mail::SecretText;
using mail::wipe;
using qel::mailcomponent::kOAuthAccountSuffix;
using qel::mailcomponent::kRefreshTokenSuffix;
using qel::mailcomponent::WindowsCredentials;

namespace {

int usage()
{
    std::fwprintf(stderr,
                  L"usage: qel-smtp-credential store SERVER USER [PASSWORD]\n"
                  L"       qel-smtp-credential oauth-app SERVER MAILBOX CLIENT-ID [SECRET] [--token-endpoint URL]"
                  L" [--scope SCOPE] [--tenant TENANT]\n"
                  L"       qel-smtp-credential oauth-user SERVER MAILBOX CLIENT-ID [SECRET|-] [--token-endpoint URL]"
                  L" [--device-endpoint URL | --authorize-endpoint URL] [--scope SCOPE] [--tenant TENANT]"
                  L" [--no-browser] [--wait SECONDS]\n"
                  L"       qel-smtp-credential show SERVER | remove SERVER\n"
                  L"       qel-smtp-credential test SERVER [--from ADDRESS --to ADDRESS [--send]]\n");
    return 2;
}

int storeOAuth(const std::u16string& target, mail::OAuthGrant grant, const std::string& mailbox, const Options& options,
               const mail::ServerAddress& server, SecretText& secret, bool secretFromInput)
{
    mail::OAuthAccount account;
    account.grant = grant;
    account.clientId = utf8(options.positional[2]);
    account.tenant = named(options, L"--tenant");
    account.tokenEndpoint = named(options, L"--token-endpoint");
    account.scope = named(options, L"--scope");
    if (secretFromInput && !readSecretLine(secret))
        return tooLong();
    account.clientSecret.append(secret.view());
    // What the administrator chose is stored; the built-in defaults are filled in at each send.
    const SecretText form = mail::storedForm(account);
    mail::OAuthAccount complete;
    std::string detail, missing;
    mail::readStoredForm(form.view(), complete, detail);
    complete.deviceEndpoint = named(options, L"--device-endpoint");
    complete.authorizeEndpoint = named(options, L"--authorize-endpoint");
    if (!mail::completeAccount(complete, server.host, missing))
        return failed("this account needs " + missing + " (see --token-endpoint and --scope)");
    if (grant == mail::OAuthGrant::ClientCredentials && complete.tenant.empty()
        && complete.tokenEndpoint.find("/organizations/") != std::string::npos)
        return failed("an app's own account needs its directory: give --tenant (its id or domain) or --token-endpoint");

    WindowsCredentials store;
    if (grant == mail::OAuthGrant::RefreshToken) {
        mail::TokenGrant tokens;
        const bool device = !named(options, L"--device-endpoint").empty()
                         || (named(options, L"--authorize-endpoint").empty() && !complete.deviceEndpoint.empty());
        if (!device && complete.authorizeEndpoint.empty())
            return failed("no way to sign in is known for this server: give --device-endpoint or --authorize-endpoint");
        if (const int status = device ? deviceFlow(complete, tokens) : loopbackFlow(complete, options, tokens); status != 0)
            return status;
        if (tokens.refreshToken.empty())
            return failed("the token endpoint gave no refresh token (does the scope ask for offline access?)");
        // Not in the middle of a send's rotation, which would store its token over this one.
        const auto held = store.hold(target + kRefreshTokenSuffix, mail::Deadline::in(kRequestTimeout));
        if (!held)
            return failed("a send kept renewing this account's token; try again");
        if (!store.write(target + kRefreshTokenSuffix, mailbox, tokens.refreshToken.view()))
            return failed("the refresh token was not stored (error " + std::to_string(GetLastError()) + ")");
    }
    if (!store.write(target + kOAuthAccountSuffix, mailbox, form.view()))
        return failed("the account was not stored (error " + std::to_string(GetLastError()) + ")");
    std::printf("stored the OAuth account of %s for %s (%s)\n", mailbox.c_str(), qel::utf8FromUtf16(target).c_str(),
                grant == mail::OAuthGrant::RefreshToken ? "refresh token grant" : "client credentials grant");
    return 0;
}

int show(const std::u16string& target)
{
    WindowsCredentials store;
    SecretText user, blob;
    bool any = false;
    if (store.read(target, user, blob)) {
        std::printf("%s password of %s\n", qel::utf8FromUtf16(target).c_str(), std::string(user.view()).c_str());
        any = true;
    }
    mail::OAuthAccount account;
    std::string detail;
    if (store.read(target + kOAuthAccountSuffix, user, blob) && mail::readStoredForm(blob.view(), account, detail) == mail::Ok) {
        std::printf("%s OAuth account of %s: %s grant, client %s%s%s%s%s\n", qel::utf8FromUtf16(target + kOAuthAccountSuffix).c_str(),
                    std::string(user.view()).c_str(),
                    account.grant == mail::OAuthGrant::RefreshToken ? "refresh token" : "client credentials",
                    account.clientId.c_str(), account.clientSecret.empty() ? "" : " with a secret",
                    account.tenant.empty() ? "" : (", tenant " + account.tenant).c_str(),
                    account.tokenEndpoint.empty() ? ", built-in endpoint" : (", endpoint " + account.tokenEndpoint).c_str(),
                    account.scope.empty() ? "" : (", scope " + account.scope).c_str());
        any = true;
    }
    if (const mail::Stored refresh = store.lookup(target + kRefreshTokenSuffix, user, blob); refresh != mail::Stored::Absent) {
        if (refresh == mail::Stored::Found)
            std::printf("%s refresh token of %s stored\n", qel::utf8FromUtf16(target + kRefreshTokenSuffix).c_str(),
                        std::string(user.view()).c_str());
        else
            std::printf("%s refresh token damaged: sign in again with oauth-user\n",
                        qel::utf8FromUtf16(target + kRefreshTokenSuffix).c_str());
        any = true;
    }
    return any ? 0 : failed("nothing is stored for this server");
}

int remove(const std::u16string& target)
{
    bool any = false;
    for (const std::u16string& name : {target, target + kOAuthAccountSuffix, target + kRefreshTokenSuffix})
        if (WindowsCredentials().remove(name)) {
            std::printf("removed %s\n", qel::utf8FromUtf16(name).c_str());
            any = true;
        }
    return any ? 0 : failed("nothing was stored for this server");
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    Options options;
    if (argc < 3 || !parseOptions(argc, argv, options))
        return usage();
    const std::wstring verb = argv[1];
    mail::ServerAddress server;
    if (mail::parseServer(reinterpret_cast<const char16_t*>(options.positional[0]), server) != mail::Ok) {
        std::fwprintf(stderr, L"qel-smtp-credential: '%ls' is no server\n", options.positional[0]);
        return 2;
    }
    const std::u16string target = mail::credentialTarget(server.host, server.port);
    const std::size_t count = options.positional.size();
    SecretText secret;

    if (verb == L"store" && (count == 2 || count == 3)) {
        if (count == 3)
            takeArgument(options.positional[2], secret);
        else if (!readSecretLine(secret))
            return tooLong();
        // A password is stored as UTF-16, the form cmdkey gives it.
        const std::u16string password = qel::utf16FromUtf8(secret.view());
        const bool stored = WindowsCredentials().write(
            target, utf8(options.positional[1]),
            std::string_view(reinterpret_cast<const char*>(password.data()), password.size() * sizeof(char16_t)));
        wipe(const_cast<char16_t*>(password.data()), password.size() * sizeof(char16_t));
        if (!stored)
            return failed("the credential was not stored (error " + std::to_string(GetLastError()) + ")");
        std::printf("stored %s for %s\n", qel::utf8FromUtf16(target).c_str(), utf8(options.positional[1]).c_str());
        return 0;
    }
    if ((verb == L"oauth-app" || verb == L"oauth-user") && (count == 3 || count == 4)) {
        const bool app = verb == L"oauth-app";
        const bool fromInput = count == 4 ? std::wstring(options.positional[3]) == L"-" : app;
        if (count == 4 && !fromInput)
            takeArgument(options.positional[3], secret);
        return storeOAuth(target, app ? mail::OAuthGrant::ClientCredentials : mail::OAuthGrant::RefreshToken,
                          utf8(options.positional[1]), options, server, secret, fromInput);
    }
    if (verb == L"show" && count == 1)
        return show(target);
    if (verb == L"remove" && count == 1)
        return remove(target);
    if (verb == L"test" && count == 1) {
        const std::string from = named(options, L"--from"), to = named(options, L"--to");
        if (from.empty() != to.empty() || (options.send && from.empty()))
            return usage();
        return testSetup({reinterpret_cast<const char16_t*>(options.positional[0]), from, to, options.send});
    }
    return usage();
}
