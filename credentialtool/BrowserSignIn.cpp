#include "mailcomponent/UniqueSocket.h" // Winsock before <windows.h>

#include "credentialtool/BrowserSignIn.h"

#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "common/Utf8.h"
#include "mail/Base64.h"
#include "mail/Deadline.h"
#include "mail/DetailText.h"
#include "mailcomponent/Sha256.h"

namespace qel::credentialtool {

using mail::SecretText;
using mail::wipe;
using mailcomponent::sha256;
using mailcomponent::startWinsock;
using mailcomponent::UniqueSocket;
using mailcomponent::WinsockUse;

namespace {

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

} // namespace

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

} // namespace qel::credentialtool
