#pragma once
// SMTP sessions left open after a delivered mail, so the next Send in the
// process to the same server, as the same account, starts at MAIL. The only
// state the component keeps between sends (besides OAuth tokens): one lock,
// held only to move a session in or out; every QUIT and close is outside it.
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "mail/SmtpSession.h"
#include "mailcomponent/PooledTransport.h"

namespace qel::mailcomponent {

struct KeptSession {
    std::string key;
    std::unique_ptr<PooledTransport> transport;
    mail::SessionState state;
    std::chrono::steady_clock::time_point idleUntil;
};

class SessionPool {
public:
    // More than this many idle sessions are not worth a server's connection slots.
    static constexpr std::size_t kMostSessions = 4;

    static SessionPool& process();
    ~SessionPool();

    // A session kept under `key` and still within its idle limit; null when none.
    // Sessions past their limit are closed on the way.
    std::unique_ptr<KeptSession> take(const std::string& key);
    // Keeps `session` until `idle` has passed; the oldest goes when the pool is full.
    void put(std::unique_ptr<KeptSession> session, std::chrono::milliseconds idle);
    // Closes the sessions past their idle limit.
    void expire();
    bool empty();

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<KeptSession>> kept_;
};

// Everything that chose a session, the secret only as a salted hash that
// lives and dies with the process.
std::string sessionKey(const mail::ServerAddress& server, const std::string& domain, const std::string& user,
                       bool accessToken, std::string_view secret);

} // namespace qel::mailcomponent
