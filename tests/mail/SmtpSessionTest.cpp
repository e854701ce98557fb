// The SMTP dialogue against a scripted server.
#include <deque>

#include <gtest/gtest.h>

#include "mail/SmtpSession.h"

namespace qel::mail {
namespace {

// Answers each command with the next scripted reply; an empty reply means
// "close the connection", "..." means "say nothing".
class ScriptedServer : public SmtpTransport {
public:
    explicit ScriptedServer(std::deque<std::string> replies) : replies_(std::move(replies)) {}
    MailCode connect(const std::string& host, const std::string& port) override
    {
        connectedTo = host + ":" + port;
        return connectResult;
    }
    MailCode send(std::string_view bytes) override
    {
        sent += bytes;
        return Sent;
    }
    MailCode receive(std::string& into) override
    {
        if (replies_.empty() || replies_.front().empty())
            return ConnectionDropped;
        if (replies_.front() == "...")
            return NoReplyInTime;
        into += replies_.front();
        replies_.pop_front();
        return Sent;
    }
    MailCode connectResult = Sent;
    std::string connectedTo;
    std::string sent;

private:
    std::deque<std::string> replies_;
};

const Envelope kEnvelope{"client", "me@example.com", {"gateway@example.com", "copy@example.com"}};

MailCode run(ScriptedServer& server)
{
    ServerAddress address;
    parseServer(u"mail.example.com:2525", address);
    return deliver(server, address, kEnvelope, "body\r\n.\r\n");
}

TEST(SmtpSessionTest, AFullDialogue)
{
    ScriptedServer server({"220 hi\r\n", "250-hello\r\n250-SIZE 1000\r\n250 OK\r\n", "250 ok\r\n", "250 ok\r\n",
                           "251 forwarded\r\n", "354 go\r\n", "250 queued\r\n"});
    EXPECT_EQ(run(server), Sent);
    EXPECT_EQ(server.connectedTo, "mail.example.com:2525");
    EXPECT_EQ(server.sent, "EHLO client\r\nMAIL FROM:<me@example.com>\r\nRCPT TO:<gateway@example.com>\r\n"
                           "RCPT TO:<copy@example.com>\r\nDATA\r\nbody\r\n.\r\nQUIT\r\n");
}

TEST(SmtpSessionTest, OldServersGetHelo)
{
    ScriptedServer server({"220 hi\r\n", "502 what\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                           "354 go\r\n", "250 queued\r\n"});
    EXPECT_EQ(run(server), Sent);
    EXPECT_NE(server.sent.find("EHLO client\r\nHELO client\r\n"), std::string::npos);
}

TEST(SmtpSessionTest, EachFailureHasItsCode)
{
    const std::vector<std::pair<std::deque<std::string>, MailCode>> cases{
        {{"554 go away\r\n"}, UnexpectedReply},
        {{"220 hi\r\n", "250 ok\r\n", "550 no such sender\r\n"}, SenderRejected},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "550 no such user\r\n"}, RecipientRejected},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "451 later\r\n"}, UnexpectedReply},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", ""}, ConnectionDropped},
        {{"..."}, NoReplyInTime},
        {{""}, ConnectionDropped},
        {{"22"}, ConnectionDropped},
        {{"hello\r\n"}, UnexpectedReply},
        {{"220-a\r\n221 b\r\n"}, UnexpectedReply},
        {{std::string(5000, '2')}, UnexpectedReply},
    };
    for (const auto& [replies, expected] : cases) {
        ScriptedServer server(replies);
        EXPECT_EQ(run(server), expected) << replies.front().substr(0, 20);
    }
    ScriptedServer unreachable({});
    unreachable.connectResult = CannotConnect;
    EXPECT_EQ(run(unreachable), CannotConnect);
}

TEST(SmtpSessionTest, ServerNames)
{
    const auto parse = [](std::u16string_view text, ServerAddress& out) { return parseServer(text, out); };
    ServerAddress a;
    EXPECT_EQ(parse(u"smtp.example.com", a), Sent);
    EXPECT_EQ(a.host + "|" + a.port, "smtp.example.com|25");
    EXPECT_EQ(parse(u"[::1]:2525", a), Sent);
    EXPECT_EQ(a.host + "|" + a.port, "::1|2525");
    EXPECT_EQ(parse(u"::1", a), Sent);
    EXPECT_EQ(a.host + "|" + a.port, "::1|25");
    EXPECT_EQ(parse(u" 127.0.0.1:26 ", a), Sent);
    EXPECT_EQ(a.host + "|" + a.port, "127.0.0.1|26");
    EXPECT_EQ(parse(u"", a), NoServer);
    EXPECT_EQ(parse(u"   ", a), NoServer);
    EXPECT_EQ(parse(u":25", a), NoServer);
    EXPECT_EQ(parse(u"host:0", a), CannotConnect);
    EXPECT_EQ(parse(u"host:99999", a), CannotConnect);
    EXPECT_EQ(parse(u"host:x", a), CannotConnect);
    EXPECT_EQ(parse(u"h\u00F6st", a), HostNotResolved);
}

TEST(SmtpSessionTest, ServerTextChoosesTheSecurity)
{
    struct Case {
        std::u16string_view text;
        std::string hostPort;
        Security security;
    };
    const std::vector<Case> cases{
        {u"mail.example.com", "mail.example.com|25", Security::Plain},
        {u"mail.example.com:587", "mail.example.com|587", Security::StartTls},
        {u"mail.example.com:0465", "mail.example.com|465", Security::Implicit},
        {u"[::1]:465", "::1|465", Security::Implicit},
        {u"starttls://mail.example.com", "mail.example.com|587", Security::StartTls},
        {u"STARTTLS://mail.example.com:2525", "mail.example.com|2525", Security::StartTls},
        {u"smtps://mail.example.com", "mail.example.com|465", Security::Implicit},
        {u"smtps://[2001:db8::1]:10465", "2001:db8::1|10465", Security::Implicit},
        {u"smtp://mail.example.com:587", "mail.example.com|587", Security::Plain},
        {u"smtp://mail.example.com", "mail.example.com|25", Security::Plain},
    };
    for (const Case& c : cases) {
        ServerAddress a;
        ASSERT_EQ(parseServer(c.text, a), Sent);
        EXPECT_EQ(a.host + "|" + a.port, c.hostPort);
        EXPECT_EQ(a.security, c.security) << a.host << ":" << a.port;
    }
    ServerAddress a;
    EXPECT_EQ(parseServer(u"smtps://", a), NoServer);
    EXPECT_EQ(parseServer(u"smtps://:465", a), NoServer);
}

} // namespace
} // namespace qel::mail
