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
#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include <shellapi.h>
#include <wincred.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/Utf8.h"
#include "mail/Base64.h"
#include "mail/Credentials.h"
#include "mail/DetailText.h"
#include "mail/OAuthAccount.h"
#include "mail/SecretText.h"
#include "mail/SmtpSession.h"
#include "mail/TokenResponse.h"
#include "mailcomponent/SecretUtf8.h"
#include "mailcomponent/Sha256.h"
#include "mailcomponent/WinHttpPoster.h"
#include "mailcomponent/WindowsCredentials.h"

namespace mail = qel::mail;
using mail::SecretText;
using mail::wipe;
using qel::mailcomponent::kOAuthAccountSuffix;
using qel::mailcomponent::kRefreshTokenSuffix;
using qel::mailcomponent::sha256;
using qel::mailcomponent::startWinsock;
using qel::mailcomponent::UniqueSocket;
using qel::mailcomponent::WindowsCredentials;
using qel::mailcomponent::WinHttpPoster;
using qel::mailcomponent::WinsockUse;

namespace {

constexpr std::chrono::seconds kRequestTimeout{30};

int usage()
{
    std::fwprintf(stderr,
                  L"usage: qel-smtp-credential store SERVER USER [PASSWORD]\n"
                  L"       qel-smtp-credential oauth-app SERVER MAILBOX CLIENT-ID [SECRET] [--token-endpoint URL]"
                  L" [--scope SCOPE] [--tenant TENANT]\n"
                  L"       qel-smtp-credential oauth-user SERVER MAILBOX CLIENT-ID [SECRET|-] [--token-endpoint URL]"
                  L" [--device-endpoint URL | --authorize-endpoint URL] [--scope SCOPE] [--tenant TENANT]"
                  L" [--no-browser] [--wait SECONDS]\n"
                  L"       qel-smtp-credential show SERVER | remove SERVER\n");
    return 2;
}

int failed(const std::string& what)
{
    std::fprintf(stderr, "qel-smtp-credential: %s\n", what.c_str());
    return 1;
}

std::string utf8(const wchar_t* text)
{
    return qel::utf8FromUtf16(reinterpret_cast<const char16_t*>(text));
}

std::wstring wide(std::u16string_view text)
{
    return std::wstring(text.begin(), text.end());
}

// One line from standard input, as UTF-8; not echoed when it is a console.
void readSecretLine(SecretText& out)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(input, &mode)) {
        SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
        wchar_t unit;
        DWORD read = 0;
        std::wstring line;
        while (ReadConsoleW(input, &unit, 1, &read, nullptr) && read == 1 && unit != L'\n')
            if (unit != L'\r')
                line += unit;
        SetConsoleMode(input, mode);
        std::fwprintf(stderr, L"\n");
        qel::mailcomponent::appendUtf8(line.data(), line.size(), out);
        wipe(line.data(), line.size() * sizeof(wchar_t));
        return;
    }
    char byte;
    DWORD read = 0;
    while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n')
        if (byte != '\r')
            out.append(std::string_view(&byte, 1));
}

// A secret given as an argument, wiped from the command line's copy once taken.
void takeArgument(wchar_t* argument, SecretText& out)
{
    qel::mailcomponent::appendUtf8(argument, std::wcslen(argument), out);
    wipe(argument, std::wcslen(argument) * sizeof(wchar_t));
}

std::string base64Url(std::string_view bytes)
{
    SecretText encoded;
    mail::appendBase64(bytes, encoded);
    std::string out(encoded.view());
    for (char& c : out)
        c = c == '+' ? '-' : c == '/' ? '_' : c;
    return out.substr(0, out.find('='));
}

std::string randomText(std::size_t bytes)
{
    std::string random(bytes, '\0');
    BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(random.data()), static_cast<ULONG>(bytes),
                    BCRYPT_USE_SYSTEM_PREFERRED_RNG);
    return base64Url(random);
}

struct Options {
    std::vector<wchar_t*> positional;
    std::map<std::wstring, std::string> named;
    bool noBrowser = false;
};

bool parseOptions(int argc, wchar_t** argv, Options& out)
{
    for (int i = 2; i < argc; ++i) {
        const std::wstring word = argv[i];
        if (word == L"--no-browser") {
            out.noBrowser = true;
        } else if (word.rfind(L"--", 0) == 0) {
            static const wchar_t* kNamed[] = {L"--token-endpoint", L"--device-endpoint", L"--authorize-endpoint",
                                              L"--scope", L"--tenant", L"--wait"};
            if (i + 1 == argc || std::find(std::begin(kNamed), std::end(kNamed), word) == std::end(kNamed))
                return false;
            out.named[word] = utf8(argv[++i]);
        } else {
            out.positional.push_back(argv[i]);
        }
    }
    return true;
}

std::string named(const Options& options, const wchar_t* name)
{
    const auto found = options.named.find(name);
    return found == options.named.end() ? std::string() : found->second;
}

// A token request to the endpoint, within the tool's time for one request.
mail::MailCode requestTokens(const std::string& url, const SecretText& form, mail::TokenGrant& grant, std::string& detail,
                             std::string* error = nullptr)
{
    WinHttpPoster https;
    return mail::requestTokens(https, url, form.view(), mail::Deadline::in(kRequestTimeout), grant, detail, error);
}

// RFC 8628: the person signs in elsewhere with a code; this polls until then.
int deviceFlow(const mail::OAuthAccount& account, mail::TokenGrant& grant)
{
    SecretText form;
    mail::appendFormField(form, "client_id", account.clientId);
    mail::appendFormField(form, "scope", account.scope);
    WinHttpPoster https;
    int status = 0;
    SecretText body;
    std::string detail;
    mail::DeviceAuthorization device;
    if (https.post(account.deviceEndpoint, form.view(), mail::Deadline::in(kRequestTimeout), status, body, detail) != mail::Ok
        || mail::readDeviceAuthorization(status, body.view(), device, detail) != mail::Ok)
        return failed(detail);
    std::printf("To sign in, open %s and enter the code %s\n", device.verificationUri.c_str(), device.userCode.c_str());
    std::fflush(stdout);
    const mail::Deadline expires = mail::Deadline::in(device.expiresIn);
    auto interval = device.interval;
    for (;;) {
        std::this_thread::sleep_for(std::min<std::chrono::milliseconds>(interval, expires.remaining()));
        if (expires.passed())
            return failed("the code expired before anyone signed in");
        SecretText poll;
        mail::appendFormField(poll, "grant_type", "urn:ietf:params:oauth:grant-type:device_code");
        mail::appendFormField(poll, "device_code", device.deviceCode.view());
        mail::appendClient(poll, account);
        std::string error;
        const mail::MailCode code = requestTokens(account.tokenEndpoint, poll, grant, detail, &error);
        if (code == mail::Ok)
            return 0;
        if (error == "authorization_pending")
            continue;
        if (error == "slow_down") {
            interval += std::chrono::seconds(5);
            continue;
        }
        if (error == "access_denied")
            return failed("the sign-in was declined");
        if (error == "expired_token")
            return failed("the code expired before anyone signed in");
        return failed(detail);
    }
}

// The value of `name` in a query string, percent-decoded.
std::string queryValue(std::string_view query, std::string_view name)
{
    for (std::size_t start = 0; start <= query.size();) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        if (pair.substr(0, pair.find('=')) == name && pair.find('=') != std::string_view::npos) {
            std::string value;
            const std::string_view raw = pair.substr(name.size() + 1);
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '%' && i + 2 < raw.size() && std::isxdigit(static_cast<unsigned char>(raw[i + 1]))
                    && std::isxdigit(static_cast<unsigned char>(raw[i + 2]))) {
                    value += static_cast<char>(std::stoi(std::string(raw.substr(i + 1, 2)), nullptr, 16));
                    i += 2;
                } else {
                    value += raw[i] == '+' ? ' ' : raw[i];
                }
            }
            return value;
        }
        start = end + 1;
    }
    return {};
}

class LoopbackListener {
public:
    LoopbackListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        if (!socket_.valid() || bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), size) != 0
            || listen(socket_.get(), 4) != 0 || getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    int port() const { return port_; }

    // The request line of the next browser request, answered with `page`
    // when it carries a query; false when none came by the deadline.
    bool next(mail::Deadline deadline, std::string& target)
    {
        for (;;) {
            if (!readable(socket_.get(), deadline))
                return false;
            const UniqueSocket client(accept(socket_.get(), nullptr, nullptr));
            if (!client.valid())
                continue;
            std::string request;
            const mail::Deadline reading = mail::Deadline::earliest(deadline, mail::Deadline::in(std::chrono::seconds(10)));
            char piece[1024];
            while (request.find("\r\n\r\n") == std::string::npos && request.size() < 8192 && readable(client.get(), reading)) {
                const int got = recv(client.get(), piece, sizeof piece, 0);
                if (got <= 0)
                    break;
                request.append(piece, static_cast<std::size_t>(got));
            }
            const std::size_t space = request.find(' ');
            target = space == std::string::npos ? std::string() : request.substr(space + 1, request.find(' ', space + 1) - space - 1);
            const bool answered = target.find('?') != std::string::npos;
            const char* reply = answered ? "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n\r\n"
                                           "qel-smtp-credential has the answer; this window may be closed.\r\n"
                                         : "HTTP/1.1 404 Not Found\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
            send(client.get(), reply, static_cast<int>(std::strlen(reply)), 0);
            wipe(request.data(), request.size());
            if (answered)
                return true;
        }
    }

private:
    static bool readable(SOCKET socket, mail::Deadline deadline)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        const long ms = static_cast<long>(deadline.remaining().count());
        timeval wait{ms / 1000, (ms % 1000) * 1000};
        return ms > 0 && select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    WinsockUse winsock_ = startWinsock(); // first in, last out
    UniqueSocket socket_{socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)};
    int port_ = 0;
};

// RFC 8252: the browser on this machine signs in and comes back to a
// loopback address with a code, bound to this run by PKCE (RFC 7636).
int loopbackFlow(const mail::OAuthAccount& account, const Options& options, mail::TokenGrant& grant)
{
    LoopbackListener listener;
    if (listener.port() == 0)
        return failed("no loopback port to receive the sign-in on");
    const std::string redirect = "http://127.0.0.1:" + std::to_string(listener.port()) + "/";
    const std::string state = randomText(16), verifier = randomText(32), challenge = sha256({verifier});
    if (challenge.empty())
        return failed("no SHA-256 from the system for the sign-in's code challenge");
    SecretText query;
    mail::appendFormField(query, "response_type", "code");
    mail::appendFormField(query, "client_id", account.clientId);
    mail::appendFormField(query, "redirect_uri", redirect);
    mail::appendFormField(query, "scope", account.scope);
    mail::appendFormField(query, "state", state);
    mail::appendFormField(query, "code_challenge", base64Url(challenge));
    mail::appendFormField(query, "code_challenge_method", "S256");
    mail::appendFormField(query, "access_type", "offline"); // Google gives a refresh token only when asked so
    mail::appendFormField(query, "prompt", "consent");
    const std::string url = account.authorizeEndpoint + (account.authorizeEndpoint.find('?') == std::string::npos ? "?" : "&")
                          + std::string(query.view());
    std::printf("Sign in through this address (waiting for the browser on %s):\n%s\n", redirect.c_str(), url.c_str());
    std::fflush(stdout);
    if (!options.noBrowser)
        ShellExecuteW(nullptr, L"open", wide(qel::utf16FromUtf8(url)).c_str(), nullptr, nullptr, SW_SHOWNORMAL);

    const std::string wait = named(options, L"--wait");
    const int seconds = wait.empty() ? 300 : std::atoi(wait.c_str());
    std::string target;
    if (!listener.next(mail::Deadline::in(std::chrono::seconds(seconds)), target))
        return failed("nobody signed in within " + std::to_string(seconds) + " seconds");
    const std::string_view received = std::string_view(target).substr(target.find('?') + 1);
    if (queryValue(received, "state") != state)
        return failed("the sign-in came back for another request (state differs)");
    if (const std::string error = queryValue(received, "error"); !error.empty())
        return failed(error == "access_denied" ? "the sign-in was declined" : "the sign-in failed: " + mail::escapedText(error, 64));
    std::string code = queryValue(received, "code");
    if (code.empty())
        return failed("the sign-in came back without a code");

    SecretText exchange;
    mail::appendFormField(exchange, "grant_type", "authorization_code");
    mail::appendFormField(exchange, "code", code);
    mail::appendFormField(exchange, "redirect_uri", redirect);
    mail::appendFormField(exchange, "code_verifier", verifier);
    mail::appendClient(exchange, account);
    wipe(code.data(), code.size());
    wipe(target.data(), target.size());
    std::string detail;
    if (requestTokens(account.tokenEndpoint, exchange, grant, detail) != mail::Ok)
        return failed(detail);
    return 0;
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
    if (secretFromInput)
        readSecretLine(secret);
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
    if (store.read(target + kRefreshTokenSuffix, user, blob)) {
        std::printf("%s refresh token of %s stored\n", qel::utf8FromUtf16(target + kRefreshTokenSuffix).c_str(),
                    std::string(user.view()).c_str());
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
        else
            readSecretLine(secret);
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
    return usage();
}
