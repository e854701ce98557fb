#pragma once
// Access tokens for a stored OAuth account: taken from the process's cache
// while they last, otherwise fetched from the account's token endpoint; a
// refresh token the endpoint rotates is kept in memory and stored again at
// once, because the old one may already be void. One refresh of an account
// at a time, in the process and across processes: an endpoint that makes
// refresh tokens single-use revokes the whole chain when one comes twice.
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "mail/Credentials.h"
#include "mail/OAuthAccount.h"
#include "mail/PartedStore.h"

namespace qel::mail {

// The platform's HTTPS client (certificate checks on).
class HttpsPoster {
public:
    virtual ~HttpsPoster() = default;
    // POSTs `form` as application/x-www-form-urlencoded, all by `deadline`.
    // Ok with the status and body, or the code of a connection failure
    // (HostNotResolved, CannotConnect, ConnectTimedOut, ConnectionDropped, NoReplyInTime) with `detail`.
    virtual MailCode post(const std::string& url, std::string_view form, Deadline deadline, int& status, SecretText& body,
                          std::string& detail) = 0;
};

struct TokenGrant;

// POSTs a token request to `url` and reads the answer into `grant`;
// `error` gets an OAuth refusal's code.
MailCode requestTokens(HttpsPoster& https, const std::string& url, std::string_view form, Deadline deadline,
                       TokenGrant& grant, std::string& detail, std::string* error = nullptr);

// Where secrets are stored by target name (the Credential Manager).
class SecretStore {
public:
    virtual ~SecretStore() = default;
    virtual bool read(const std::u16string& target, SecretText& user, SecretText& blob) = 0;
    virtual bool write(const std::u16string& target, std::string_view user, std::string_view blob) = 0;
    // Tells a damaged value from a missing one where the store can.
    virtual Stored lookup(const std::u16string& target, SecretText& user, SecretText& blob)
    {
        return read(target, user, blob) ? Stored::Found : Stored::Absent;
    }

    class Hold {
    public:
        virtual ~Hold() = default;
    };
    // Held while a refresh token is read, used and replaced, by one process
    // at a time; null when another held it until `deadline`.
    virtual std::unique_ptr<Hold> hold(const std::u16string& target, Deadline deadline)
    {
        (void)target, (void)deadline;
        return std::make_unique<Hold>();
    }
};

// Tokens of every account, shared by all the components of the process.
struct Refreshing;

class TokenCache {
public:
    using Clock = std::chrono::steady_clock;
    static TokenCache& process();

    // `until`, when not null, gets the time the token found stops being used.
    bool find(const std::string& account, SecretText& token, Clock::time_point* until = nullptr);
    void keep(const std::string& account, std::string_view token, std::chrono::seconds lifetime);
    // Only the token the server refused: another apartment may have renewed it already.
    void drop(const std::string& account, std::string_view refused);

    // The one apartment that refreshes the account holds its turn; the others
    // wait for it, until `deadline` at most (then `held()` is false).
    class Turn {
    public:
        Turn(TokenCache& cache, const std::string& account, Deadline deadline);
        ~Turn();
        Turn(const Turn&) = delete;
        Turn& operator=(const Turn&) = delete;
        bool held() const { return held_; }

    private:
        std::shared_ptr<struct Refreshing> refreshing_;
        bool held_ = false;
    };
    // At most one renewal of a refused token a minute: true, and counted, when one may go now.
    bool mayRenew(const std::string& account);
    // The refresh token this process got in place of `stored`, for when storing it failed.
    void keepRotated(const std::string& account, std::string_view stored, std::string_view rotated);
    bool rotatedFor(const std::string& account, std::string_view stored, SecretText& rotated);

private:
    struct Entry {
        SecretText token;
        Clock::time_point usableUntil;
        SecretText replaced, rotated;
        std::optional<Clock::time_point> renewed;
        std::shared_ptr<Refreshing> refreshing;
    };
    // Apartments of one process send at the same time; this map is the only
    // state they share, so the only place that needs a lock.
    std::mutex lock_;
    std::map<std::string, Entry> entries_;
};

class OAuthTokens final : public TokenSource {
public:
    // `refreshTarget`: where the account's refresh token is stored (refresh token grant only).
    OAuthTokens(const OAuthAccount& account, std::string mailbox, std::u16string refreshTarget, HttpsPoster& https,
                SecretStore& store, TokenCache& cache);
    MailCode token(bool renew, Deadline deadline, SecretText& token, std::string& detail) override;
    // What went wrong without failing the send (a rotated token that could not be stored).
    const std::string& note() const { return note_; }
    std::string summary() const override { return summary_; }

private:
    MailCode refresh(Deadline deadline, TokenGrant& grant, std::string& detail);

    const OAuthAccount& account_;
    std::string mailbox_, cacheKey_, note_, summary_;
    SecretText handedOut_; // what a renewal replaces: another apartment may have replaced it already
    std::u16string refreshTarget_;
    HttpsPoster& https_;
    SecretStore& store_;
    TokenCache& cache_;
};

} // namespace qel::mail
