// Token endpoint answers, the stored OAuth account, and the requests made
// from it; expectations written out by hand from RFC 6749 and RFC 8628.
#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include <gtest/gtest.h>

#include "mail/OAuthAccount.h"
#include "mail/OAuthTokens.h"
#include "mail/SmtpAuth.h"
#include "mail/TokenResponse.h"

namespace qel::mail {
namespace {

TEST(OAuthTest, TokenResponsesAreCheckedFieldByField)
{
    struct Case {
        int status;
        std::string body;
        MailCode expected;
        std::string access, refresh;
        long long expiresIn;
        std::string detail;
    };
    const std::vector<Case> cases{
        {200, R"({"access_token":"eyJ0.a-b_c","token_type":"Bearer","expires_in":3599})", Ok, "eyJ0.a-b_c", "", 3599, ""},
        {200, R"({"access_token":"t","token_type":"bearer","expires_in":"120","refresh_token":"r2"})", Ok, "t", "r2", 120, ""},
        {200, R"({"access_token":"t","token_type":"Bearer"})", Ok, "t", "", 3600, ""},
        {200, R"({"access_token":"t","token_type":"mac"})", AuthProtocolError, "", "", 0, "not Bearer"},
        {200, R"({"token_type":"Bearer"})", AuthProtocolError, "", "", 0, "no usable access_token"},
        {200, R"({"access_token":"a b","token_type":"Bearer"})", AuthProtocolError, "", "", 0, "no usable access_token"},
        {200, R"({"access_token":7,"token_type":"Bearer"})", AuthProtocolError, "", "", 0, "no usable access_token"},
        {200, R"({"access_token":"t","token_type":"Bearer","expires_in":-5})", AuthProtocolError, "", "", 0, "expires_in"},
        {200, R"({"access_token":"t","token_type":"Bearer","refresh_token":""})", AuthProtocolError, "", "", 0, "refresh_token"},
        {200, R"({"access_token":"t","token_type":"Bearer","expires_in":"31536000"})", Ok, "t", "", 86400, ""},
        {200, R"({"access_token":"t","token_type":"Bearer","refresh_token":")" + std::string(4095, 'r') + R"("})", Ok, "t",
         std::string(4095, 'r'), 3600, ""},
        {200, R"({"access_token":"t","token_type":"Bearer","refresh_token":")" + std::string(4096, 'r') + R"("})",
         AuthProtocolError, "", "", 0, "refresh_token"},
        {200, R"({"access_token":"t","token_type":"Bearer","expires_in":"١٢"})", AuthProtocolError, "", "", 0,
         "expires_in"},
        {200, "[]", AuthProtocolError, "", "", 0, "not a JSON object"},
        {200, "<html>", ConnectionDropped, "", "", 0, "HTTP 200, an answer that is not JSON"},
        {400, R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret.\r\nTrace"})",
         AuthenticationFailed, "", "", 0, "refused: invalid_client (AADSTS7000215: Invalid client secret.\\x0D\\x0ATrace)"},
        {401, R"({"error":"invalid_grant"})", AuthenticationFailed, "", "", 0, "refused: invalid_grant"},
        {404, R"({"message":"no such tenant"})", AuthProtocolError, "", "", 0, "HTTP 404 without an OAuth error"},
        {502, "Bad gateway", ConnectionDropped, "", "", 0, "unavailable for now (HTTP 502, an answer that is not JSON)"},
        {503, R"({"error":"temporarily_unavailable"})", ConnectionDropped, "", "", 0, "unavailable for now (HTTP 503)"},
        {429, R"({"error":"too_many_requests"})", ConnectionDropped, "", "", 0, "(HTTP 429)"},
    };
    for (const Case& c : cases) {
        TokenGrant grant;
        std::string detail;
        EXPECT_EQ(readTokenResponse(c.status, c.body, grant, detail), c.expected) << c.body;
        EXPECT_EQ(grant.accessToken.view(), c.access) << c.body;
        EXPECT_EQ(grant.refreshToken.view(), c.refresh) << c.body;
        if (c.expected == Ok) {
            EXPECT_EQ(grant.expiresIn.count(), c.expiresIn) << c.body;
        }
        EXPECT_NE(detail.find(c.detail), std::string::npos) << c.body << ": " << detail;
    }
}

TEST(OAuthTest, DeviceAuthorizationAndTheServersChallenge)
{
    DeviceAuthorization device;
    std::string detail;
    ASSERT_EQ(readDeviceAuthorization(200, R"({"device_code":"GmRh","user_code":"WDJB-MJHT","verification_uri":"https://example.com/device","expires_in":86400,"interval":5})",
                                      device, detail),
              Ok);
    EXPECT_EQ(device.deviceCode.view(), "GmRh");
    EXPECT_EQ(device.userCode + " " + device.verificationUri, "WDJB-MJHT https://example.com/device");
    EXPECT_EQ(device.expiresIn.count() * 100 + device.interval.count(), 180005);
    for (const char* body : {R"({"device_code":"x","user_code":"U","verification_uri":"http://example.com/"})",
                             R"({"device_code":"x","user_code":"U C","verification_uri":"https://example.com/"})",
                             R"({"user_code":"U","verification_url":"https://example.com/"})", "[]"})
        EXPECT_EQ(readDeviceAuthorization(200, body, device, detail), AuthProtocolError) << body;

    // {"status":"401","schemes":"bearer"}; then things that are no challenge.
    EXPECT_EQ(xoauth2Status("eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIn0="), "401");
    EXPECT_EQ(xoauth2Status("eyJzdGF0dXMiOjQwMH0="), "400"); // {"status":400}
    for (const char* status : {"401", "invalid_token", "INVALID_TOKEN"})
        EXPECT_TRUE(tokenExpired(status)) << status;
    for (const char* status : {"400", "", "insufficient_scope", "4011"})
        EXPECT_FALSE(tokenExpired(status)) << status;
    for (const char* challenge : {"", "?", "eyJzdGF0dXMiOiI0MDEK", "eyJzdGF0dXMiOiI0MAEifQ==", "W10="})
        EXPECT_EQ(xoauth2Status(challenge), "") << challenge;
}

TEST(OAuthTest, AccountsTheirDefaultsAndRequests)
{
    OAuthAccount app;
    app.clientId = "c0ffee";
    app.clientSecret.append("s&cr=t +");
    app.tenant = "contoso.onmicrosoft.com";
    std::string missing;
    ASSERT_TRUE(completeAccount(app, "SMTP.Office365.com", missing));
    EXPECT_EQ(app.tokenEndpoint, "https://login.microsoftonline.com/contoso.onmicrosoft.com/oauth2/v2.0/token");
    EXPECT_EQ(tokenRequest(app, "").view(), "grant_type=client_credentials&client_id=c0ffee&client_secret=s%26cr%3Dt%20%2B"
                                            "&scope=https%3A%2F%2Foutlook.office365.com%2F.default");

    OAuthAccount user;
    user.grant = OAuthGrant::RefreshToken;
    user.clientId = "apps.googleusercontent";
    ASSERT_TRUE(completeAccount(user, "smtp.gmail.com", missing));
    EXPECT_EQ(user.tokenEndpoint + " " + user.scope, "https://oauth2.googleapis.com/token https://mail.google.com/");
    EXPECT_EQ(tokenRequest(user, "1//r").view(),
              "grant_type=refresh_token&refresh_token=1%2F%2Fr&client_id=apps.googleusercontent&scope=https%3A%2F%2Fmail.google.com%2F");

    OAuthAccount stored;
    std::string detail;
    ASSERT_EQ(readStoredForm(storedForm(app).view(), stored, detail), Ok);
    EXPECT_EQ(stored.clientSecret.view(), "s&cr=t +");
    EXPECT_EQ(stored.tenant + stored.clientId + stored.tokenEndpoint, app.tenant + app.clientId + app.tokenEndpoint);
    EXPECT_EQ(readStoredForm(R"({"grant":"password"})", stored, detail), AuthProtocolError);
    EXPECT_EQ(readStoredForm("correct horse", stored, detail), AuthProtocolError);

    OAuthAccount elsewhere;
    elsewhere.clientId = "c";
    EXPECT_FALSE(completeAccount(elsewhere, "mail.example.com", missing));
    EXPECT_NE(missing.find("token endpoint"), std::string::npos);
    elsewhere.scope = "s";
    for (std::string OAuthAccount::*endpoint : {&OAuthAccount::tokenEndpoint, &OAuthAccount::deviceEndpoint,
                                                 &OAuthAccount::authorizeEndpoint}) {
        elsewhere.tokenEndpoint = elsewhere.deviceEndpoint = elsewhere.authorizeEndpoint = "https://id.example/x";
        elsewhere.*endpoint = "http://127.0.0.1/token";
        EXPECT_FALSE(completeAccount(elsewhere, "mail.example.com", missing));
        EXPECT_NE(missing.find("https"), std::string::npos) << missing;
    }
}

// A token endpoint that makes refresh tokens single-use and revokes the
// whole chain when a spent one comes back, and a store; both in memory.
struct FakeEndpoint : HttpsPoster, SecretStore {
    MailCode post(const std::string& url, std::string_view form, Deadline, int& status, SecretText& body,
                  std::string&) override
    {
        if (++inFlight > 1)
            overlapped = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(slowMs));
        const std::lock_guard<std::mutex> held(lock);
        --inFlight;
        requests.push_back(url + "?" + std::string(form));
        const std::string n = std::to_string(requests.size());
        const auto at = form.find("refresh_token=");
        const std::string refresh = at == std::string_view::npos ? "" : std::string(form.substr(at + 14, form.find('&', at) - at - 14));
        status = 400;
        if (refuse) {
            body.append(R"({"error":"invalid_client"})");
        } else if (at != std::string_view::npos && (revoked || refresh != live)) {
            revoked = revoked || spent.count(refresh) == 1;
            body.append(R"({"error":"invalid_grant"})");
        } else {
            status = 200;
            if (at != std::string_view::npos)
                spent.insert(std::exchange(live, "rt" + n));
            body.append(R"({"access_token":"at)" + n + R"(","token_type":"Bearer","expires_in":)" + std::to_string(lifetime)
                        + R"(,"refresh_token":")" + live + R"("})");
        }
        return Ok;
    }
    bool read(const std::u16string& target, SecretText& user, SecretText& blob) override
    {
        return lookup(target, user, blob) == Stored::Found;
    }
    Stored lookup(const std::u16string& target, SecretText& user, SecretText& blob) override
    {
        const std::lock_guard<std::mutex> held(lock);
        const auto found = stored.find(target);
        if (damaged || found == stored.end())
            return damaged ? Stored::Damaged : Stored::Absent;
        user.append(storedFor);
        blob.append(found->second);
        if (!readHook.empty()) // what the next read finds
            found->second = std::exchange(readHook, {});
        return Stored::Found;
    }
    bool write(const std::u16string& target, std::string_view, std::string_view blob) override
    {
        const std::lock_guard<std::mutex> held(lock);
        if (!failWrites)
            stored[target] = blob;
        return !failWrites;
    }
    std::mutex lock;
    std::vector<std::string> requests;
    std::map<std::u16string, std::string> stored{{u"refresh", "rt0"}};
    std::set<std::string> spent;
    std::string live = "rt0", storedFor = "Me@Example.com", readHook;
    std::atomic<int> inFlight{0};
    bool refuse = false, damaged = false, failWrites = false, revoked = false, overlapped = false;
    int lifetime = 3600, slowMs = 0;
};

OAuthAccount refreshAccount()
{
    OAuthAccount account;
    account.grant = OAuthGrant::RefreshToken;
    account.clientId = "c";
    account.scope = "s";
    account.tokenEndpoint = "https://id.example/token";
    return account;
}

std::string take(OAuthTokens& tokens, bool renew = false)
{
    SecretText token;
    std::string detail;
    const MailCode code = tokens.token(renew, Deadline::in(std::chrono::seconds(5)), token, detail);
    return std::to_string(code) + " " + std::string(token.view()) + detail;
}

TEST(OAuthTest, TokensAreKeptRenewedAndRotated)
{
    const OAuthAccount account = refreshAccount();
    FakeEndpoint endpoint;
    TokenCache cache;
    OAuthTokens tokens(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
    EXPECT_EQ(take(tokens), "0 at1");
    EXPECT_EQ(take(tokens), "0 at1"); // kept: no second request
    EXPECT_EQ(take(tokens, true), "0 at2");
    ASSERT_EQ(endpoint.requests.size(), 2u);
    EXPECT_NE(endpoint.requests[0].find("refresh_token=rt0&"), std::string::npos);
    EXPECT_NE(endpoint.requests[1].find("refresh_token=rt1&"), std::string::npos); // the rotated one
    EXPECT_EQ(endpoint.stored[u"refresh"], "rt2");
    // Another apartment's refused token, which this one has renewed already: the renewed one, without asking.
    OAuthTokens apartment(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
    EXPECT_EQ(take(apartment, true), "0 at2");
    EXPECT_EQ(take(tokens, true).substr(0, 3), "24 "); // a second renewal within the minute
    EXPECT_NE(take(tokens, true).find("renewed less than a minute ago"), std::string::npos);
    EXPECT_EQ(endpoint.requests.size(), 2u);
}

TEST(OAuthTest, WhatIsStoredAndWhatTheEndpointSays)
{
    struct Case {
        void (*arrange)(FakeEndpoint&);
        std::string expected;
        std::size_t requests;
    };
    const Case cases[] = {
        {[](FakeEndpoint& e) { e.refuse = true; }, "24 the token endpoint refused: invalid_client", 1},
        {[](FakeEndpoint& e) { e.stored.clear(); }, "24 no refresh token is stored for this server", 0},
        {[](FakeEndpoint& e) { e.damaged = true; }, "26 the stored refresh token is damaged: run qel-smtp-credential oauth-user to sign in again", 0},
        {[](FakeEndpoint& e) { e.storedFor = "other@example.com"; }, "26 the stored refresh token is for another mailbox", 0},
        // Rotated by a holder outside this hold between the read and the request: the stored one, once more.
        {[](FakeEndpoint& e) { e.stored[u"refresh"] = "rt-spent", e.readHook = "rt0"; }, "0 at2", 2},
        {[](FakeEndpoint& e) { e.live = "rt-elsewhere"; }, "24 the token endpoint refused: invalid_grant", 1},
    };
    for (const Case& c : cases) {
        const OAuthAccount account = refreshAccount();
        FakeEndpoint endpoint;
        c.arrange(endpoint);
        TokenCache cache;
        OAuthTokens tokens(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
        EXPECT_EQ(take(tokens).substr(0, c.expected.size()), c.expected) << "case " << &c - cases;
        EXPECT_EQ(endpoint.requests.size(), c.requests) << c.expected;
    }
}

TEST(OAuthTest, ARotatedTokenThatCannotBeStoredIsKeptAndUsed)
{
    const OAuthAccount account = refreshAccount();
    FakeEndpoint endpoint;
    endpoint.failWrites = true;
    endpoint.lifetime = 30; // within the margin: every send asks
    TokenCache cache;
    for (const char* expected : {"0 at1", "0 at2", "0 at3"}) {
        OAuthTokens tokens(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
        EXPECT_EQ(take(tokens), expected);
        EXPECT_NE(tokens.note().find("could not be stored"), std::string::npos);
    }
    EXPECT_FALSE(endpoint.revoked);
    EXPECT_EQ(endpoint.stored[u"refresh"], "rt0");
}

TEST(OAuthTest, AccountsNeverShareAKeyByAccident)
{
    OAuthAccount first, second, byRefresh;
    first.clientId = byRefresh.clientId = "a\nb";
    second.clientId = "a";
    byRefresh.grant = OAuthGrant::RefreshToken;
    for (OAuthAccount* account : {&first, &second, &byRefresh})
        account->tokenEndpoint = "https://id.example/token", account->scope = "s";
    FakeEndpoint endpoint;
    TokenCache cache;
    OAuthTokens one(first, "c", u"refresh", endpoint, endpoint, cache), other(second, "b\nc", u"refresh", endpoint, endpoint, cache);
    endpoint.storedFor = "c";
    OAuthTokens third(byRefresh, "c", u"refresh", endpoint, endpoint, cache);
    EXPECT_EQ(take(one), "0 at1");
    EXPECT_EQ(take(other), "0 at2");
    EXPECT_EQ(take(third), "0 at3");
}

TEST(OAuthTest, ApartmentsRefreshOneAtATime)
{
    const OAuthAccount account = refreshAccount();
    FakeEndpoint endpoint;
    endpoint.lifetime = 30;
    endpoint.slowMs = 5;
    TokenCache cache;
    std::vector<std::thread> apartments;
    std::atomic<int> delivered{0};
    for (int i = 0; i < 8; ++i)
        apartments.emplace_back([&] {
            for (int send = 0; send < 3; ++send) {
                OAuthTokens tokens(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
                delivered += take(tokens).rfind("0 at", 0) == 0;
            }
        });
    for (std::thread& apartment : apartments)
        apartment.join();
    EXPECT_EQ(delivered, 24);
    EXPECT_FALSE(endpoint.overlapped);
    EXPECT_FALSE(endpoint.revoked);
    EXPECT_EQ(endpoint.stored[u"refresh"], endpoint.live);
}

} // namespace
} // namespace qel::mail
