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

// Wipes a text that holds a secret when it goes out of scope, on every path.
struct WipedOnExit {
    std::string& text;
    ~WipedOnExit() { wipe(text.data(), text.size()); }
};

// One line from standard input, as UTF-8; not echoed when it is a console.
// False when it is longer than the store takes. The line is gathered in a
// buffer of fixed size, wiped after, so no grown copy is left behind.
bool readSecretLine(SecretText& out)
{
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    bool fits = true;
    if (GetConsoleMode(input, &mode)) {
        SetConsoleMode(input, (mode & ~ENABLE_ECHO_INPUT) | ENABLE_LINE_INPUT);
        static wchar_t line[mail::kMostStoredSecret];
        std::size_t length = 0;
        wchar_t unit = 0;
        DWORD read = 0;
        while (ReadConsoleW(input, &unit, 1, &read, nullptr) && read == 1 && unit != L'\n') {
            if (unit == L'\r')
                continue;
            if (length == std::size(line))
                fits = false;
            else
                line[length++] = unit;
        }
        SetConsoleMode(input, mode);
        std::fwprintf(stderr, L"\n");
        qel::mailcomponent::appendUtf8(line, length, out);
        wipe(line, sizeof line);
        wipe(&unit, sizeof unit);
    } else {
        char byte = 0;
        DWORD read = 0;
        while (ReadFile(input, &byte, 1, &read, nullptr) && read == 1 && byte != '\n') {
            if (byte == '\r')
                continue;
            if (out.view().size() == mail::kMostStoredSecret)
                fits = false;
            else
                out.append(std::string_view(&byte, 1));
        }
        wipe(&byte, 1);
    }
    fits = fits && out.view().size() <= mail::kMostStoredSecret;
    if (!fits)
        out.clear();
    return fits;
}

int tooLong()
{
    std::fprintf(stderr, "qel-smtp-credential: the secret is longer than the %zu bytes the store takes\n", mail::kMostStoredSecret);
    return 1;
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

// False when the system gave no random bytes: a guessable state or verifier is no protection.
bool randomText(std::size_t bytes, std::string& out)
{
    std::string random(bytes, '\0');
    const WipedOnExit wiped{random};
    if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(random.data()), static_cast<ULONG>(bytes),
                                        BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
        return false;
    out = base64Url(random);
    return true;
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

// The browser's way back: only a request for the redirect's path with this
// run's state ends the wait. Anything else (another tab, a stale sign-in, a
// port scanner) is answered 400 and the wait goes on. Connections are served
// side by side, each with its own bound, so a silent one holds up no other.
class LoopbackListener {
public:
    LoopbackListener()
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int size = sizeof address;
        BOOL exclusive = TRUE; // no other program may bind the port over this one and take the code
        if (!socket_.valid()
            || setsockopt(socket_.get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive), sizeof exclusive) != 0
            || bind(socket_.get(), reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(socket_.get(), 16) != 0
            || getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        port_ = ntohs(address.sin_port);
    }
    int port() const { return port_; }

    // The request target of the first request `wanted` takes; false when none came by the deadline.
    template <typename Wanted>
    bool next(mail::Deadline deadline, const Wanted& wanted, std::string& target)
    {
        std::vector<Client> clients;
        for (;;) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(socket_.get(), &set);
            mail::Deadline wake = deadline;
            for (const Client& client : clients) {
                FD_SET(client.socket.get(), &set);
                wake = mail::Deadline::earliest(wake, client.until);
            }
            const long ms = static_cast<long>(wake.remaining().count());
            timeval wait{ms / 1000, (ms % 1000) * 1000};
            if (deadline.passed() || select(0, &set, nullptr, nullptr, &wait) == SOCKET_ERROR)
                return false;
            for (auto client = clients.begin(); client != clients.end();) {
                const bool done = FD_ISSET(client->socket.get(), &set) ? serve(*client, wanted, target) : client->until.passed();
                if (done && !target.empty())
                    return true;
                client = done ? clients.erase(client) : client + 1;
            }
            if (FD_ISSET(socket_.get(), &set)) {
                UniqueSocket accepted(accept(socket_.get(), nullptr, nullptr));
                if (accepted.valid()) {
                    if (clients.size() == kMostClients)
                        clients.erase(clients.begin());
                    clients.push_back({std::move(accepted), {}, mail::Deadline::earliest(deadline, mail::Deadline::in(kClientTime))});
                }
            }
        }
    }

private:
    static constexpr std::size_t kMostClients = 16; // within FD_SETSIZE, beside the listener
    static constexpr std::chrono::seconds kClientTime{10};

    struct Client {
        UniqueSocket socket;
        std::string request;
        mail::Deadline until;
        ~Client() { wipe(request.data(), request.size()); }
        Client(UniqueSocket s, std::string r, mail::Deadline u) : socket(std::move(s)), request(std::move(r)), until(u) {}
        Client(Client&&) = default;
        Client& operator=(Client&&) = default;
    };

    // Reads what came; true when the client is done with, `target` set when it was the one awaited.
    template <typename Wanted>
    static bool serve(Client& client, const Wanted& wanted, std::string& target)
    {
        char piece[1024];
        const int got = recv(client.socket.get(), piece, sizeof piece, 0);
        if (got <= 0)
            return true;
        client.request.append(piece, static_cast<std::size_t>(got));
        wipe(piece, sizeof piece);
        if (client.request.find("\r\n\r\n") == std::string::npos && client.request.size() < 8192)
            return false;
        const std::size_t space = client.request.find(' ');
        std::string asked = space == std::string::npos
                              ? std::string()
                              : client.request.substr(space + 1, client.request.find(' ', space + 1) - space - 1);
        const bool answered = wanted(asked);
        const char* reply = answered ? "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\nConnection: close\r\n\r\n"
                                       "qel-smtp-credential has the answer; this window may be closed.\r\n"
                                     : "HTTP/1.1 400 Bad Request\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
        send(client.socket.get(), reply, static_cast<int>(std::strlen(reply)), 0);
        if (answered)
            target.swap(asked);
        wipe(asked.data(), asked.size());
        return true;
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
    std::string state, verifier, url, target, code;
    const WipedOnExit wiped[] = {{state}, {verifier}, {url}, {target}, {code}};
    if (!randomText(16, state) || !randomText(32, verifier))
        return failed("the system gave no random bytes for the sign-in's state and code verifier (BCryptGenRandom failed)");
    const std::string challenge = sha256({verifier});
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
    url = account.authorizeEndpoint + (account.authorizeEndpoint.find('?') == std::string::npos ? "?" : "&")
        + std::string(query.view());
    // completeAccount took only https; the shell is given nothing else, whatever changes before it.
    if (url.rfind("https://", 0) != 0)
        return failed("the authorize endpoint is not an https address");
    std::printf("Sign in through this address (waiting for the browser on %s):\n%s\n", redirect.c_str(), url.c_str());
    std::fflush(stdout);
    if (!options.noBrowser)
        ShellExecuteW(nullptr, L"open", wide(qel::utf16FromUtf8(url)).c_str(), nullptr, nullptr, SW_SHOWNORMAL);

    const std::string wait = named(options, L"--wait");
    const int seconds = wait.empty() ? 300 : std::atoi(wait.c_str());
    const auto ours = [&](const std::string& asked) {
        const std::size_t mark = asked.find('?');
        return mark != std::string::npos && asked.substr(0, mark) == "/" && queryValue(std::string_view(asked).substr(mark + 1), "state") == state;
    };
    if (!listener.next(mail::Deadline::in(std::chrono::seconds(seconds)), ours, target))
        return failed("nobody signed in within " + std::to_string(seconds) + " seconds");
    const std::string_view received = std::string_view(target).substr(target.find('?') + 1);
    if (const std::string error = queryValue(received, "error"); !error.empty())
        return failed(error == "access_denied" ? "the sign-in was declined" : "the sign-in failed: " + mail::escapedText(error, 64));
    code = queryValue(received, "code");
    if (code.empty())
        return failed("the sign-in came back without a code");

    SecretText exchange;
    mail::appendFormField(exchange, "grant_type", "authorization_code");
    mail::appendFormField(exchange, "code", code);
    mail::appendFormField(exchange, "redirect_uri", redirect);
    mail::appendFormField(exchange, "code_verifier", verifier);
    mail::appendClient(exchange, account);
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
    return usage();
}
