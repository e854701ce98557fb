// Authentication rules, with expectations from RFC 4616's example and from
// an independent base64 encoder.
#include <gtest/gtest.h>

#include "mail/Base64.h"
#include "mail/SmtpAuth.h"

namespace qel::mail {
namespace {

Credentials account(std::string_view user, std::string_view password)
{
    Credentials c;
    c.user.append(user);
    c.password.append(password);
    return c;
}

TEST(SmtpAuthTest, ReadsWhatEhloOffers)
{
    struct Case {
        std::vector<std::string> lines;
        bool startTls, authOffered, plain, login;
        AuthMechanism chosen;
    };
    const std::vector<Case> cases{
        {{"mail.example.com", "PIPELINING", "STARTTLS", "AUTH LOGIN PLAIN"}, true, true, true, true, AuthMechanism::Plain},
        {{"mail.example.com", "auth login"}, false, true, false, true, AuthMechanism::Login},
        {{"AUTH PLAIN", "AUTH=LOGIN"}, false, true, false, true, AuthMechanism::Login},
        {{"mail.example.com", "AUTH CRAM-MD5 XOAUTH2", "STARTTLSX", "X-PLAIN"}, false, true, false, false, AuthMechanism::None},
        {{"STARTTLS", "SIZE 1000", "8BITMIME"}, false, false, false, false, AuthMechanism::None},
    };
    for (const Case& c : cases) {
        const ServerCapabilities offered = capabilitiesOf(c.lines);
        EXPECT_EQ(offered.startTls, c.startTls) << c.lines[0];
        EXPECT_EQ(offered.authOffered, c.authOffered) << c.lines[0];
        EXPECT_EQ(offered.plain, c.plain) << c.lines[0];
        EXPECT_EQ(offered.login, c.login) << c.lines[0];
        EXPECT_EQ(chooseMechanism(offered), c.chosen) << c.lines[0];
    }
}

TEST(SmtpAuthTest, PlainSendsEverythingWithTheCommand)
{
    const Credentials tim = account("tim", "tanstaaftanstaaf");
    AuthExchange exchange(AuthMechanism::Plain, tim);
    EXPECT_EQ(exchange.firstLine().view(), "AUTH PLAIN AHRpbQB0YW5zdGFhZnRhbnN0YWFm\r\n");
    SecretText next;
    EXPECT_EQ(exchange.answer(235, "2.7.0 Authentication successful", next), Ok);
    EXPECT_TRUE(next.empty());
}

TEST(SmtpAuthTest, LoginAnswersTwoChallenges)
{
    const Credentials dispatch = account("dispatch", "correct horse");
    AuthExchange exchange(AuthMechanism::Login, dispatch);
    EXPECT_EQ(exchange.firstLine().view(), "AUTH LOGIN\r\n");
    SecretText next;
    EXPECT_EQ(exchange.answer(334, "VXNlcm5hbWU6", next), Ok);
    EXPECT_EQ(next.view(), "ZGlzcGF0Y2g=\r\n");
    EXPECT_EQ(exchange.answer(334, "UGFzc3dvcmQ6", next), Ok);
    EXPECT_EQ(next.view(), "Y29ycmVjdCBob3JzZQ==\r\n");
    EXPECT_EQ(exchange.answer(334, "UGFzc3dvcmQ6", next), AuthProtocolError);
    EXPECT_TRUE(next.empty());
}

TEST(SmtpAuthTest, EachRefusalHasItsCode)
{
    const Credentials dispatch = account("dispatch", "correct horse");
    struct Case {
        AuthMechanism mechanism;
        int code;
        std::string text;
        MailCode expected;
    };
    const std::vector<Case> cases{
        {AuthMechanism::Plain, 535, "5.7.8 Authentication credentials invalid", AuthenticationFailed},
        {AuthMechanism::Plain, 454, "4.7.0 Temporary authentication failure", AuthenticationFailed},
        {AuthMechanism::Plain, 534, "5.7.9 Authentication mechanism is too weak", AuthenticationFailed},
        {AuthMechanism::Plain, 504, "5.5.4 Unrecognized authentication type", AuthModeNotSupported},
        {AuthMechanism::Login, 500, "Command not recognized", AuthModeNotSupported},
        {AuthMechanism::Plain, 501, "5.5.2 Cannot decode response", AuthProtocolError},
        {AuthMechanism::Plain, 334, "", AuthProtocolError},
        {AuthMechanism::Plain, 250, "OK", AuthProtocolError},
        {AuthMechanism::Login, 334, "not base64!", AuthProtocolError},
        {AuthMechanism::Login, 334, "VXNlcm5hbWU", AuthProtocolError},
    };
    for (const Case& c : cases) {
        AuthExchange exchange(c.mechanism, dispatch);
        SecretText next;
        EXPECT_EQ(exchange.answer(c.code, c.text, next), c.expected) << c.code << " " << c.text;
        EXPECT_TRUE(next.empty());
    }
}

TEST(SmtpAuthTest, Base64RoundTripAndRefusals)
{
    const std::vector<std::pair<std::string, std::string>> known{
        {"", ""}, {"\xc3\xa9t\xc3\xa9", "w6l0w6k="}, {"dispatch", "ZGlzcGF0Y2g="}, {"correct horse", "Y29ycmVjdCBob3JzZQ=="}};
    for (const auto& [bytes, text] : known) {
        SecretText encoded;
        appendBase64(bytes, encoded);
        EXPECT_EQ(encoded.view(), text);
        std::string decoded;
        EXPECT_TRUE(decodeBase64(text, decoded));
        EXPECT_EQ(decoded, bytes);
    }
    std::string out;
    for (const char* bad : {"abc", "ab=c", "a=bc", "ab c", "====", "ZGlz\r\nY2g="})
        EXPECT_FALSE(decodeBase64(bad, out)) << bad;
}

TEST(SmtpAuthTest, SecretsAreWipedWhereTheyLay)
{
    SecretText secret("correct horse battery staple, longer than any short-string buffer");
    const char* bytes = secret.view().data();
    const std::size_t size = secret.view().size();
    secret.clear();
    EXPECT_TRUE(secret.empty());
    EXPECT_EQ(std::string(bytes, size), std::string(size, '\0'));

    SecretText source("short");
    const char* shortBytes = source.view().data();
    SecretText target(std::move(source));
    EXPECT_EQ(target.view(), "short");
    EXPECT_TRUE(source.empty()); // NOLINT: moved-from state is part of the contract
    if (shortBytes != target.view().data()) { // held inside the object, so copied: the original must be gone
        EXPECT_EQ(std::string(shortBytes, 5), std::string(5, '\0'));
    }
}

} // namespace
} // namespace qel::mail
