#pragma once
// SMTP sessions left open after a delivered mail, so the next Send in the
// process to the same server, as the same account, starts at MAIL. The only
// state the component keeps between sends (besides OAuth tokens): one lock,
// held only to move a session in or out. Sessions are closed by a thread of
// the pool's own, when their idle limit passes, so no Send waits for
// another's QUIT and none need come for an idle session to end.
#include <chrono>
#include <condition_variable>
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
    // When the connection was opened: its authentication ages from there.
    std::chrono::steady_clock::time_point opened = std::chrono::steady_clock::now();

    // The same place, on a new connection.
    void replace(std::unique_ptr<PooledTransport> connection)
    {
        transport = std::move(connection);
        state = {};
        opened = std::chrono::steady_clock::now();
    }
};

class SessionPool {
public:
    // More than this many idle sessions are not worth a server's connection slots.
    static constexpr std::size_t kMostSessions = 4;
    // A session this old is not kept again: what authenticated it may have
    // expired meanwhile (an OAuth access token lasts an hour).
    static constexpr std::chrono::minutes kMostAge{10};

    static SessionPool& process();

    // A session kept under `key` and still within its idle limit; null when none.
    std::unique_ptr<KeptSession> take(const std::string& key);
    // Keeps `session` until `idle` has passed; the oldest goes when the pool
    // is full, and a session past kMostAge goes at once.
    void put(std::unique_ptr<KeptSession> session, std::chrono::milliseconds idle);
    // Nothing kept, nothing left to close: the DLL may unload.
    bool vacant();

private:
    // With lock_ held: `session` is closed by the closing thread.
    void closeLater(std::unique_ptr<KeptSession> session);
    void wakeCloser();
    void closeExpired();
    static unsigned long __stdcall closerMain(void* module);

    std::mutex lock_;
    std::condition_variable changed_;
    std::vector<std::unique_ptr<KeptSession>> kept_, closing_;
    bool closerRunning_ = false;
};

// Everything that chose a session, the secret only as a salted hash that
// lives and dies with the process.
std::string sessionKey(const mail::ServerAddress& server, const std::string& domain, const std::string& user,
                       bool accessToken, std::string_view secret);

} // namespace qel::mailcomponent
