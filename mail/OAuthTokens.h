#pragma once
// Access tokens for a stored OAuth account: taken from the process's cache
// while they last, otherwise fetched from the account's token endpoint; a
// refresh token the endpoint rotates is stored again at once, because the
// old one may already be void.
#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "mail/Credentials.h"
#include "mail/OAuthAccount.h"

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
};

// Tokens of every account, shared by all the components of the process.
class TokenCache {
public:
    using Clock = std::chrono::steady_clock;
    static TokenCache& process();

    bool find(const std::string& account, SecretText& token);
    void keep(const std::string& account, std::string_view token, std::chrono::seconds lifetime);
    void drop(const std::string& account);

private:
    struct Entry {
        SecretText token;
        Clock::time_point usableUntil;
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

private:
    const OAuthAccount& account_;
    std::string mailbox_, cacheKey_;
    std::u16string refreshTarget_;
    HttpsPoster& https_;
    SecretStore& store_;
    TokenCache& cache_;
};

} // namespace qel::mail
