// Token endpoint answers, the stored OAuth account, and the requests made
// from it; expectations written out by hand from RFC 6749 and RFC 8628.
#include <map>

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
        {200, "<html>", AuthProtocolError, "", "", 0, "not JSON"},
        {400, R"({"error":"invalid_client","error_description":"AADSTS7000215: Invalid client secret.\r\nTrace"})",
         AuthenticationFailed, "", "", 0, "refused: invalid_client (AADSTS7000215: Invalid client secret.\\x0D\\x0ATrace)"},
        {401, R"({"error":"invalid_grant"})", AuthenticationFailed, "", "", 0, "refused: invalid_grant"},
        {502, "Bad gateway", AuthProtocolError, "", "", 0, "HTTP 502 without an OAuth error"},
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
    ASSERT_EQ(readDeviceAuthorization(200, R"({"device_code":"GmRh","user_code":"WDJB-MJHT","verification_uri":"https://example.com/device","expires_in":1800,"interval":5})",
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
    elsewhere.tokenEndpoint = "http://127.0.0.1/token";
    EXPECT_FALSE(completeAccount(elsewhere, "mail.example.com", missing));
    EXPECT_NE(missing.find("https"), std::string::npos);
}

// A token endpoint that rotates refresh tokens, and a store, both in memory.
struct FakeEndpoint : HttpsPoster, SecretStore {
    MailCode post(const std::string& url, std::string_view form, Deadline, int& status, SecretText& body,
                  std::string&) override
    {
        requests.push_back(url + "?" + std::string(form));
        status = refuse ? 400 : 200;
        const std::string n = std::to_string(requests.size());
        body.append(refuse ? R"({"error":"invalid_client"})"
                           : R"({"access_token":"at)" + n + R"(","token_type":"Bearer","refresh_token":"rt)" + n + R"("})");
        return Ok;
    }
    bool read(const std::u16string& target, SecretText& user, SecretText& blob) override
    {
        const auto found = stored.find(target);
        if (found == stored.end())
            return false;
        user.append("me@example.com");
        blob.append(found->second);
        return true;
    }
    bool write(const std::u16string& target, std::string_view, std::string_view blob) override
    {
        stored[target] = blob;
        return true;
    }
    std::vector<std::string> requests;
    std::map<std::u16string, std::string> stored;
    bool refuse = false;
};

TEST(OAuthTest, TokensAreKeptRenewedAndRotated)
{
    OAuthAccount account;
    account.grant = OAuthGrant::RefreshToken;
    account.clientId = "c";
    account.scope = "s";
    account.tokenEndpoint = "https://id.example/token";
    FakeEndpoint endpoint;
    endpoint.stored[u"refresh"] = "rt0";
    TokenCache cache;
    OAuthTokens tokens(account, "me@example.com", u"refresh", endpoint, endpoint, cache);
    const auto take = [&](bool renew) {
        SecretText token;
        std::string detail;
        const MailCode code = tokens.token(renew, Deadline::in(std::chrono::seconds(5)), token, detail);
        return std::to_string(code) + " " + std::string(token.view()) + detail;
    };
    EXPECT_EQ(take(false), "0 at1");
    EXPECT_EQ(take(false), "0 at1"); // kept: no second request
    EXPECT_EQ(take(true), "0 at2");
    ASSERT_EQ(endpoint.requests.size(), 2u);
    EXPECT_NE(endpoint.requests[0].find("refresh_token=rt0&"), std::string::npos);
    EXPECT_NE(endpoint.requests[1].find("refresh_token=rt1&"), std::string::npos); // the rotated one
    EXPECT_EQ(endpoint.stored[u"refresh"], "rt2");

    endpoint.refuse = true;
    EXPECT_EQ(take(true), "24 the token endpoint refused: invalid_client");
    endpoint.stored.clear();
    EXPECT_NE(take(true).find("24 no refresh token is stored"), std::string::npos);
    EXPECT_EQ(endpoint.requests.size(), 3u);
}

} // namespace
} // namespace qel::mail
