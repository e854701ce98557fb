#include "mail/OAuthTokens.h"

#include <condition_variable>

#include "mail/AsciiText.h"
#include "mail/TokenResponse.h"

namespace qel::mail {

namespace {

// A token is not handed out in its last minute: the send it is for still has to reach AUTH.
constexpr std::chrono::seconds kExpiryMargin{60};
// A server that refuses every token would otherwise have each send of every apartment ask for a new one.
constexpr std::chrono::seconds kRenewalSpacing{60};

// Each field with its length first: no two accounts make the same key.
std::string cacheKeyOf(const OAuthAccount& account, const std::string& mailbox)
{
    std::string key = account.grant == OAuthGrant::RefreshToken ? "refresh_token" : "client_credentials";
    for (const std::string* field : {&account.tokenEndpoint, &account.clientId, &mailbox, &account.scope}) {
        key += '|';
        key += std::to_string(field->size());
        key += ':';
        key += *field;
    }
    return key;
}

} // namespace

MailCode requestTokens(HttpsPoster& https, const std::string& url, std::string_view form, Deadline deadline,
                       TokenGrant& grant, std::string& detail, std::string* error)
{
    int status = 0;
    SecretText body;
    if (const MailCode sent = https.post(url, form, deadline, status, body, detail); sent != Ok)
        return sent;
    return readTokenResponse(status, body.view(), grant, detail, error);
}

TokenCache& TokenCache::process()
{
    static TokenCache cache;
    return cache;
}

bool TokenCache::find(const std::string& account, SecretText& token, Clock::time_point* until)
{
    const std::lock_guard<std::mutex> held(lock_);
    const auto found = entries_.find(account);
    if (found == entries_.end() || found->second.token.empty() || Clock::now() >= found->second.usableUntil)
        return false;
    token.clear();
    token.append(found->second.token.view());
    if (until)
        *until = found->second.usableUntil;
    return true;
}

void TokenCache::keep(const std::string& account, std::string_view token, std::chrono::seconds lifetime)
{
    const std::lock_guard<std::mutex> held(lock_);
    Entry& entry = entries_[account];
    entry.token.clear();
    entry.token.append(token);
    entry.usableUntil = Clock::now() + lifetime - std::min(lifetime, kExpiryMargin);
}

void TokenCache::drop(const std::string& account, std::string_view refused)
{
    const std::lock_guard<std::mutex> held(lock_);
    if (const auto found = entries_.find(account); found != entries_.end() && found->second.token.view() == refused)
        found->second.token.clear();
}

// A flag under a mutex rather than a timed mutex: its timed lock escapes ThreadSanitizer's view.
struct Refreshing {
    std::mutex lock;
    std::condition_variable done;
    bool busy = false;
};

TokenCache::Turn::Turn(TokenCache& cache, const std::string& account, Deadline deadline)
{
    {
        const std::lock_guard<std::mutex> held(cache.lock_);
        std::shared_ptr<Refreshing>& refreshing = cache.entries_[account].refreshing;
        if (!refreshing)
            refreshing = std::make_shared<Refreshing>();
        refreshing_ = refreshing;
    }
    std::unique_lock<std::mutex> held(refreshing_->lock);
    held_ = refreshing_->done.wait_until(held, deadline.when(), [&] { return !refreshing_->busy; });
    if (held_)
        refreshing_->busy = true;
}

TokenCache::Turn::~Turn()
{
    if (!held_)
        return;
    {
        const std::lock_guard<std::mutex> held(refreshing_->lock);
        refreshing_->busy = false;
    }
    refreshing_->done.notify_one();
}

bool TokenCache::mayRenew(const std::string& account)
{
    const std::lock_guard<std::mutex> held(lock_);
    Entry& entry = entries_[account];
    const Clock::time_point now = Clock::now();
    if (entry.renewed && now - *entry.renewed < kRenewalSpacing)
        return false;
    entry.renewed = now;
    return true;
}

void TokenCache::keepRotated(const std::string& account, std::string_view stored, std::string_view rotated)
{
    const std::lock_guard<std::mutex> held(lock_);
    Entry& entry = entries_[account];
    entry.replaced.clear();
    entry.replaced.append(stored);
    entry.rotated.clear();
    entry.rotated.append(rotated);
}

bool TokenCache::rotatedFor(const std::string& account, std::string_view stored, SecretText& rotated)
{
    const std::lock_guard<std::mutex> held(lock_);
    const auto found = entries_.find(account);
    if (found == entries_.end() || found->second.rotated.empty() || found->second.replaced.view() != stored)
        return false;
    rotated.clear();
    rotated.append(found->second.rotated.view());
    return true;
}

OAuthTokens::OAuthTokens(const OAuthAccount& account, std::string mailbox, std::u16string refreshTarget,
                         HttpsPoster& https, SecretStore& store, TokenCache& cache)
    : account_(account), mailbox_(std::move(mailbox)), cacheKey_(cacheKeyOf(account, mailbox_)),
      refreshTarget_(std::move(refreshTarget)), https_(https), store_(store), cache_(cache)
{
}

MailCode OAuthTokens::token(bool renew, Deadline deadline, SecretText& token, std::string& detail)
{
    const auto fromCache = [&] {
        TokenCache::Clock::time_point until;
        if (!cache_.find(cacheKey_, token, &until))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(until - TokenCache::Clock::now());
        summary_ = "an access token kept from an earlier send, used for " + std::to_string(left.count()) + " s more";
        return true;
    };
    const auto handOut = [&] {
        handedOut_.clear();
        handedOut_.append(token.view());
        return Ok;
    };
    if (renew)
        cache_.drop(cacheKey_, handedOut_.view());
    if (fromCache())
        return handOut();
    const TokenCache::Turn turn(cache_, cacheKey_, deadline);
    if (!turn.held()) {
        detail = "another send of this process was still fetching this account's token when Timeout ran out";
        return NoReplyInTime;
    }
    // Whoever held it may have fetched one meanwhile.
    if (fromCache())
        return handOut();
    if (renew && !cache_.mayRenew(cacheKey_)) {
        detail = "the server refused the access token, and this account's token was renewed less than a minute ago";
        return AuthenticationFailed;
    }
    TokenGrant grant;
    if (const MailCode got = account_.grant == OAuthGrant::RefreshToken
                                 ? refresh(deadline, grant, detail)
                                 : requestTokens(https_, account_.tokenEndpoint, tokenRequest(account_, {}).view(), deadline,
                                                 grant, detail);
        got != Ok)
        return got;
    cache_.keep(cacheKey_, grant.accessToken.view(), grant.expiresIn);
    summary_ = "a new access token from " + account_.tokenEndpoint + ", valid for " + std::to_string(grant.expiresIn.count()) + " s";
    token.clear();
    token.append(grant.accessToken.view());
    return handOut();
}

// Read, POST and write under the store's hold, so that another process reads the rotated token, never the one spent.
MailCode OAuthTokens::refresh(Deadline deadline, TokenGrant& grant, std::string& detail)
{
    const std::unique_ptr<SecretStore::Hold> held = store_.hold(refreshTarget_, deadline);
    if (!held) {
        detail = "another process was still renewing this account's token when Timeout ran out";
        return NoReplyInTime;
    }
    SecretText storedFor, stored, used;
    const auto readStored = [&]() -> MailCode {
        storedFor.clear();
        stored.clear();
        switch (store_.lookup(refreshTarget_, storedFor, stored)) {
        case Stored::Absent:
            detail = "no refresh token is stored for this server: run qel-smtp-credential oauth-user";
            return AuthenticationFailed;
        case Stored::Damaged:
            detail = "the stored refresh token is damaged: run qel-smtp-credential oauth-user to sign in again";
            return AuthProtocolError;
        case Stored::Found:
            break;
        }
        if (!asciiEqualFolded(storedFor.view(), mailbox_)) {
            detail = "the stored refresh token is for another mailbox than the account's: run qel-smtp-credential oauth-user";
            return AuthProtocolError;
        }
        return Ok;
    };
    if (const MailCode read = readStored(); read != Ok)
        return read;
    // A rotated token that could not be stored is the live one while the store still has the one it replaced.
    if (!cache_.rotatedFor(cacheKey_, stored.view(), used))
        used.append(stored.view());
    std::string error;
    MailCode got = requestTokens(https_, account_.tokenEndpoint, tokenRequest(account_, used.view()).view(), deadline, grant,
                                 detail, &error);
    // Another holder (a process without this hold, the tool) may have rotated it: the stored one, once more.
    if (got == AuthenticationFailed && error == "invalid_grant") {
        const std::string refused = detail;
        if (readStored() == Ok && stored.view() != used.view()) {
            used.clear();
            used.append(stored.view());
            got = requestTokens(https_, account_.tokenEndpoint, tokenRequest(account_, used.view()).view(), deadline, grant,
                                detail);
        } else {
            detail = refused;
        }
    }
    if (got != Ok || grant.refreshToken.empty() || grant.refreshToken.view() == used.view())
        return got;
    cache_.keepRotated(cacheKey_, stored.view(), grant.refreshToken.view());
    // Should storing fail, this send still goes: failing it would not bring the old token back.
    if (!store_.write(refreshTarget_, mailbox_, grant.refreshToken.view()))
        note_ = "the endpoint's new refresh token could not be stored; this process keeps it in memory, and another "
                "process or a restart will need qel-smtp-credential oauth-user";
    return Ok;
}

} // namespace qel::mail
