// Winsock must come before <windows.h>.
#include "mailcomponent/UniqueHandle.h"

#include "mailcomponent/SessionPool.h"

#include <bcrypt.h>

#include <algorithm>

#include "automation/ComModule.h"
#include "mailcomponent/SchannelStream.h"
#include "mailcomponent/Sha256.h"

namespace qel::mailcomponent {

namespace {

void close(std::vector<std::unique_ptr<KeptSession>>& sessions)
{
    for (const auto& session : sessions)
        mail::closeSession(*session->transport);
    sessions.clear();
}

std::string saltedHash(std::string_view secret)
{
    static const std::string salt = [] {
        std::string random(32, '\0');
        BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(random.data()), static_cast<ULONG>(random.size()),
                        BCRYPT_USE_SYSTEM_PREFERRED_RNG);
        return random;
    }();
    static const char hex[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : sha256({salt, secret})) {
        text += hex[byte >> 4];
        text += hex[byte & 15];
    }
    return text;
}

} // namespace

SessionPool& SessionPool::process()
{
    static SessionPool& pool = [] () -> SessionPool& {
        static SessionPool kept;
        // The DLL stays while sessions are kept; asking also closes the expired ones.
        automation::ComModule::instance().keepLoadedWhile([] {
            process().expire();
            if (!process().empty())
                return true;
            SchannelStream::releaseSharedCredentials();
            return false;
        });
        return kept;
    }();
    return pool;
}

// Runs only as the DLL unloads with sessions still kept, i.e. as the
// process ends (DllCanUnloadNow refuses otherwise): no QUIT, no TLS, no
// waits there, only the sockets closed; the rest goes with the process.
SessionPool::~SessionPool()
{
    for (auto& session : kept_) {
        session->transport->dropSocket();
        session->transport.release();
    }
}

std::unique_ptr<KeptSession> SessionPool::take(const std::string& key)
{
    std::vector<std::unique_ptr<KeptSession>> stale;
    std::unique_ptr<KeptSession> found;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        const auto now = std::chrono::steady_clock::now();
        for (auto it = kept_.begin(); it != kept_.end();) {
            if ((*it)->idleUntil <= now) {
                stale.push_back(std::move(*it));
                it = kept_.erase(it);
            } else if (!found && (*it)->key == key) {
                found = std::move(*it);
                it = kept_.erase(it);
            } else {
                ++it;
            }
        }
    }
    close(stale);
    return found;
}

void SessionPool::put(std::unique_ptr<KeptSession> session, std::chrono::milliseconds idle)
{
    session->idleUntil = std::chrono::steady_clock::now() + idle;
    std::vector<std::unique_ptr<KeptSession>> surplus;
    {
        const std::lock_guard<std::mutex> guard(lock_);
        kept_.push_back(std::move(session));
        if (kept_.size() > kMostSessions) {
            surplus.push_back(std::move(kept_.front()));
            kept_.erase(kept_.begin());
        }
    }
    close(surplus);
}

void SessionPool::expire()
{
    take(std::string(1, '\0')); // a key no session has
}

bool SessionPool::empty()
{
    const std::lock_guard<std::mutex> guard(lock_);
    return kept_.empty();
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
