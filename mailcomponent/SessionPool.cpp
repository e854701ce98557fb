// Winsock must come before <windows.h>.
#include "mailcomponent/UniqueHandle.h"

#include "mailcomponent/SessionPool.h"

#include <bcrypt.h>

#include <algorithm>
#include <vector>

#include "automation/ComModule.h"
#include "mailcomponent/SchannelStream.h"
#include "mailcomponent/Sha256.h"

namespace qel::mailcomponent {

namespace {

void close(std::unique_ptr<KeptSession> session)
{
    mail::closeSession(*session->transport); // QUIT written, never answered
    session.reset(); // TLS close_notify, bounded by the transport
}

std::string saltedHash(std::string_view secret)
{
    // Empty when the system gave no randomness: a hash without a salt would
    // be the secret's own, so no session is kept then.
    static const std::string salt = [] {
        std::string random(32, '\0');
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(random.data()),
                                            static_cast<ULONG>(random.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            random.clear();
        return random;
    }();
    if (salt.empty())
        return {};
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : sha256({salt, secret})) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

} // namespace

// Never destroyed: as the process ends, its closing thread is stopped
// wherever it was, perhaps inside a wait on the pool's lock or condition,
// and destroying those then may never return. The system closes the
// sockets; no QUIT, no TLS, no waits happen there.
SessionPool& SessionPool::process()
{
    static SessionPool& pool = [] () -> SessionPool& {
        SessionPool& kept = *new SessionPool;
        // The DLL stays while sessions are kept or being closed.
        automation::ComModule::instance().keepLoadedWhile([] {
            if (!process().vacant())
                return true;
            SchannelStream::releaseSharedCredentials();
            return false;
        });
        return kept;
    }();
    return pool;
}

std::unique_ptr<KeptSession> SessionPool::take(const std::string& key)
{
    const std::lock_guard<std::mutex> guard(lock_);
    const auto now = std::chrono::steady_clock::now();
    for (auto it = kept_.begin(); it != kept_.end(); ++it)
        if ((*it)->key == key && (*it)->idleUntil > now) {
            std::unique_ptr<KeptSession> found = std::move(*it);
            kept_.erase(it);
            return found;
        }
    return nullptr;
}

void SessionPool::put(std::unique_ptr<KeptSession> session, std::chrono::milliseconds idle)
{
    const auto now = std::chrono::steady_clock::now();
    session->idleUntil = now + idle;
    const std::lock_guard<std::mutex> guard(lock_);
    if (now - session->opened >= kMostAge) {
        closeLater(std::move(session));
    } else {
        kept_.push_back(std::move(session));
        if (kept_.size() > kMostSessions) {
            closeLater(std::move(kept_.front()));
            kept_.erase(kept_.begin());
        }
    }
    wakeCloser();
}

bool SessionPool::vacant()
{
    const std::lock_guard<std::mutex> guard(lock_);
    return kept_.empty() && closing_.empty() && !closerRunning_;
}

void SessionPool::closeLater(std::unique_ptr<KeptSession> session)
{
    closing_.push_back(std::move(session));
}

// With lock_ held. The thread holds a reference to the DLL of its own, so
// the code it runs stays until it has left it.
void SessionPool::wakeCloser()
{
    if (closerRunning_) {
        changed_.notify_one();
        return;
    }
    HMODULE self = nullptr;
    HANDLE thread = nullptr;
    if (GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&SessionPool::closerMain), &self)) {
        thread = CreateThread(nullptr, 0, &SessionPool::closerMain, self, 0, nullptr);
        if (!thread)
            FreeLibrary(self);
    }
    if (thread) {
        CloseHandle(thread);
        closerRunning_ = true;
        return;
    }
    // No thread to be had: what must go goes now, and the rest waits for the next put.
    std::vector<std::unique_ptr<KeptSession>> now = std::move(closing_);
    closing_.clear();
    for (auto& session : now)
        close(std::move(session));
}

unsigned long __stdcall SessionPool::closerMain(void* module)
{
    process().closeExpired();
    FreeLibraryAndExitThread(static_cast<HMODULE>(module), 0);
}

void SessionPool::closeExpired()
{
    std::unique_lock<std::mutex> guard(lock_);
    for (;;) {
        const auto now = std::chrono::steady_clock::now();
        for (auto it = kept_.begin(); it != kept_.end();) {
            if ((*it)->idleUntil <= now) {
                closing_.push_back(std::move(*it));
                it = kept_.erase(it);
            } else {
                ++it;
            }
        }
        if (!closing_.empty()) {
            std::vector<std::unique_ptr<KeptSession>> batch = std::move(closing_);
            closing_.clear();
            guard.unlock();
            for (auto& session : batch)
                close(std::move(session));
            guard.lock();
            continue;
        }
        if (kept_.empty()) {
            closerRunning_ = false;
            return;
        }
        auto next = kept_.front()->idleUntil;
        for (const auto& session : kept_)
            next = std::min(next, session->idleUntil);
        changed_.wait_until(guard, next);
    }
}

std::string sessionKey(const mail::ServerAddress& server, const std::string& domain, const std::string& user,
                       bool accessToken, std::string_view secret)
{
    const char security = server.security == mail::Security::Plain ? 'p' : server.security == mail::Security::StartTls ? 's' : 'i';
    // Lengths first, so no two different sets of fields join into one key.
    std::string key;
    for (const std::string_view field : {std::string_view(server.host), std::string_view(server.port), std::string_view(domain),
                                         std::string_view(user)})
        key += std::to_string(field.size()) + ':' + std::string(field) + '|';
    key += std::string{security, accessToken ? 't' : 'p', '|'};
    if (secret.empty() && user.empty())
        return key;
    // Without a hash, sessions of different secrets could not be told apart: none is kept.
    const std::string hash = saltedHash(secret);
    return hash.empty() ? std::string() : key + hash;
}

} // namespace qel::mailcomponent
