#include "mail/OAuthTokens.h"

#include "mail/TokenResponse.h"

namespace qel::mail {

namespace {

// A token is not handed out in its last minute: the send it is for still has to reach AUTH.
constexpr std::chrono::seconds kExpiryMargin{60};

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

bool TokenCache::find(const std::string& account, SecretText& token)
{
    const std::lock_guard<std::mutex> held(lock_);
    const auto found = entries_.find(account);
    if (found == entries_.end() || Clock::now() >= found->second.usableUntil)
        return false;
    token.clear();
    token.append(found->second.token.view());
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

void TokenCache::drop(const std::string& account)
{
    const std::lock_guard<std::mutex> held(lock_);
    entries_.erase(account);
}

OAuthTokens::OAuthTokens(const OAuthAccount& account, std::string mailbox, std::u16string refreshTarget,
                         HttpsPoster& https, SecretStore& store, TokenCache& cache)
    : account_(account), mailbox_(std::move(mailbox)),
      cacheKey_(account.tokenEndpoint + '\n' + account.clientId + '\n' + mailbox_ + '\n' + account.scope),
      refreshTarget_(std::move(refreshTarget)), https_(https), store_(store), cache_(cache)
{
}

MailCode OAuthTokens::token(bool renew, Deadline deadline, SecretText& token, std::string& detail)
{
    if (renew)
        cache_.drop(cacheKey_);
    else if (cache_.find(cacheKey_, token))
        return Ok;

    SecretText refreshToken, storedFor;
    if (account_.grant == OAuthGrant::RefreshToken && !store_.read(refreshTarget_, storedFor, refreshToken)) {
        detail = "no refresh token is stored for this server: run qel-smtp-credential oauth-user";
        return AuthenticationFailed;
    }
    TokenGrant grant;
    if (const MailCode got = requestTokens(https_, account_.tokenEndpoint, tokenRequest(account_, refreshToken.view()).view(),
                                           deadline, grant, detail);
        got != Ok)
        return got;
    // Should storing fail, this send still goes: failing it would not bring the old token back.
    if (!grant.refreshToken.empty() && grant.refreshToken.view() != refreshToken.view())
        store_.write(refreshTarget_, mailbox_, grant.refreshToken.view());
    cache_.keep(cacheKey_, grant.accessToken.view(), grant.expiresIn);
    token.clear();
    token.append(grant.accessToken.view());
    return Ok;
}

} // namespace qel::mail
