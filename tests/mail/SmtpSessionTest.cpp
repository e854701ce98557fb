// The SMTP dialogue against a scripted server.
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "mail/ScriptedServer.h"
#include "mail/SmtpAuth.h"

namespace qel::mail {
namespace {

const Envelope kEnvelope{"me@example.com", {"gateway@example.com", "copy@example.com"}};

// The data of DATA as one piece.
class TextData : public MessageData {
public:
    explicit TextData(std::string text) : text_(std::move(text)) {}
    std::uint64_t size() const override { return text_.size(); }
    MailCode next(std::string& piece) override
    {
        piece = given_ ? std::string() : text_;
        given_ = true;
        return Ok;
    }
    void rewind() override { given_ = false; }

private:
    std::string text_;
    bool given_ = false;
};

DeliveryOptions clientOptions()
{
    DeliveryOptions options;
    options.domain = "client";
    return options;
}

MailCode run(ScriptedServer& server, MessageData& data, const DeliveryOptions& options = clientOptions(),
             const Envelope& envelope = kEnvelope)
{
    ServerAddress address;
    parseServer(u"mail.example.com:2525", address);
    return deliver(server, address, envelope, data, options);
}

MailCode run(ScriptedServer& server)
{
    TextData data("body\r\n");
    return run(server, data);
}

const std::deque<std::string> kAccepting{"220 hi\r\n", "250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                                         "354 go\r\n", "250 queued\r\n", "221 bye\r\n"};

TEST(SmtpSessionTest, AFullDialogue)
{
    ScriptedServer server({"220 hi\r\n", "250-hello\r\n250-SIZE 1000\r\n250 OK\r\n", "250 ok\r\n", "250 ok\r\n",
                           "251 forwarded\r\n", "354 go\r\n", "250 queued\r\n"});
    EXPECT_EQ(run(server), Ok);
    EXPECT_EQ(server.connectedTo, "mail.example.com:2525");
    EXPECT_EQ(server.sent, "EHLO client\r\nMAIL FROM:<me@example.com> SIZE=6\r\nRCPT TO:<gateway@example.com>\r\n"
                           "RCPT TO:<copy@example.com>\r\nDATA\r\nbody\r\n.\r\nQUIT\r\n");
}

TEST(SmtpSessionTest, OldServersGetHelo)
{
    ScriptedServer server({"220 hi\r\n", "502 what\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                           "354 go\r\n", "250 queued\r\n"});
    EXPECT_EQ(run(server), Ok);
    EXPECT_NE(server.sent.find("EHLO client\r\nHELO client\r\n"), std::string::npos);
}

TEST(SmtpSessionTest, EachFailureHasItsCode)
{
    const std::vector<std::pair<std::deque<std::string>, MailCode>> cases{
        {{"554 go away\r\n"}, UnexpectedReply},
        {{"220 hi\r\n", "550 who\r\n", "550 still who\r\n"}, ConversationRefused},
        {{"220 hi\r\n", "421 busy\r\n"}, ConversationRefused},
        {{"220 hi\r\n", "250 ok\r\n", "550 no such sender\r\n"}, SenderRejected},
        {{"220 hi\r\n", "250 ok\r\n", "552 too big\r\n"}, MessageNotFormed},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "552 too big\r\n"},
         MessageNotFormed},
        {{"220 hi\r\n", "250 ok\r\n", "451 4.3.0 later\r\n"}, SenderRejected},
        {{"220 hi\r\n", "250 ok\r\n", "421 4.3.2 closing\r\n", ""}, ConnectionDropped},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "550 no such user\r\n"}, RecipientRejected},
        {{"220 hi\r\n", "250 ok\r\n", "250 ok\r\n", "552 4.2.2 mailbox full\r\n"}, RecipientRejected},
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

TEST(SmtpSessionTest, RefusedDialogueStillSaysQuitButNotInsideTheData)
{
    ScriptedServer refused({"220 hi\r\n", "250 ok\r\n", "550 no such sender\r\n", "221 bye\r\n"});
    EXPECT_EQ(run(refused), SenderRejected);
    EXPECT_TRUE(refused.sent.ends_with(">\r\nQUIT\r\n")) << refused.sent;

    // An attachment that cannot be read half-way: no final dot, no QUIT, so
    // the server drops the half message.
    class FailingData : public MessageData {
    public:
        std::uint64_t size() const override { return 100; }
        MailCode next(std::string& piece) override
        {
            piece = "first piece\r\n";
            return pieces_++ == 0 ? Ok : FileNotRead;
        }
        void rewind() override { pieces_ = 0; }

    private:
        int pieces_ = 0;
    } failing;
    ScriptedServer aborted(kAccepting);
    EXPECT_EQ(run(aborted, failing), FileNotRead);
    EXPECT_TRUE(aborted.sent.ends_with("DATA\r\n") || aborted.sent.ends_with("DATA\r\nfirst piece\r\n")) << aborted.sent;
}

TEST(SmtpSessionTest, ServerSizeLimitEndsBeforeMailFrom)
{
    ScriptedServer server({"220 hi\r\n", "250-hello\r\n250-size 5\r\n250 OK\r\n", "221 bye\r\n"});
    EXPECT_EQ(run(server), MessageNotFormed);
    EXPECT_EQ(server.sent, "EHLO client\r\nQUIT\r\n");
    ScriptedServer unlimited({"220 hi\r\n", "250-hello\r\n250 SIZE\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                              "354 go\r\n", "250 queued\r\n"});
    EXPECT_EQ(run(unlimited), Ok);
    EXPECT_NE(unlimited.sent.find("MAIL FROM:<me@example.com> SIZE=6\r\n"), std::string::npos);
}

TEST(SmtpSessionTest, EhloCarriesTheDomainOrTheAddressLiteral)
{
    ScriptedServer named(kAccepting);
    EXPECT_EQ(run(named), Ok);
    EXPECT_TRUE(named.sent.starts_with("EHLO client\r\n"));
    ScriptedServer unnamed(kAccepting);
    TextData data("x\r\n");
    EXPECT_EQ(run(unnamed, data, DeliveryOptions{}), Ok);
    EXPECT_TRUE(unnamed.sent.starts_with("EHLO [127.0.0.1]\r\n")) << unnamed.sent;
    DeliveryOptions broken;
    broken.domain = "client\r\nRCPT TO:<x@y>";
    ScriptedServer untouched(kAccepting);
    EXPECT_EQ(run(untouched, data, broken), ConversationRefused);
    EXPECT_EQ(untouched.connectedTo, "");
}

// However the bytes trickle, every wait for one reply has the same absolute
// deadline: Timeout from the step's start, and the final reply its own.
TEST(SmtpSessionTest, OneDeadlinePerReplyTheFinalOneLonger)
{
    ScriptedServer server(kAccepting);
    server.trickle = true;
    DeliveryOptions options = clientOptions();
    options.stepTimeout = std::chrono::seconds(30);
    options.finalReplyTimeout = std::chrono::seconds(600);
    TextData data("body\r\n");
    const auto started = Deadline::Clock::now();
    ASSERT_EQ(run(server, data, options), Ok);
    const auto finished = Deadline::Clock::now();
    std::map<std::size_t, std::set<Deadline::Clock::time_point>> byReply;
    for (const auto& [unread, when] : server.receiveDeadlines)
        byReply[unread].insert(when);
    // QUIT's reply is not awaited once the mail is delivered.
    ASSERT_EQ(byReply.size(), kAccepting.size() - 1);
    for (const auto& [unread, deadlines] : byReply) {
        ASSERT_EQ(deadlines.size(), 1u) << "reply " << kAccepting.size() - unread;
        const auto wait = unread == 2 ? std::chrono::seconds(600) : unread == 1 ? std::chrono::seconds(2) : std::chrono::seconds(30);
        EXPECT_GE(*deadlines.begin(), started + wait) << "reply " << kAccepting.size() - unread;
        EXPECT_LE(*deadlines.begin(), finished + wait) << "reply " << kAccepting.size() - unread;
    }
}

// With BDAT the message goes before MAIL and RCPT are answered, and a server
// may hold those replies until it has checked the message: all three get
// the final reply's wait.
TEST(SmtpSessionTest, RepliesOwedAfterTheMessageGetTheFinalWait)
{
    ScriptedServer server({"250 ok\r\n", "250 ok\r\n", "250 queued\r\n"});
    SessionState session{true, {"hi", "PIPELINING", "CHUNKING"}};
    DeliveryOptions options = clientOptions();
    options.session = &session;
    options.stepTimeout = std::chrono::seconds(30);
    options.finalReplyTimeout = std::chrono::seconds(600);
    TextData data("body\r\n");
    const auto started = Deadline::Clock::now();
    ASSERT_EQ(run(server, data, options, {"me@example.com", {"gateway@example.com"}}), Ok);
    ASSERT_EQ(server.receiveDeadlines.size(), 3u);
    for (const auto& [unread, when] : server.receiveDeadlines)
        EXPECT_GE(when, started + std::chrono::seconds(600)) << "reply " << 3 - unread;
}

// Hands out new scripted connections for a mail that goes again, and
// counts how often it was asked.
class ScriptedReconnect : public TransportSource {
public:
    explicit ScriptedReconnect(std::optional<std::deque<std::string>> replies) : replies_(std::move(replies)) {}
    SmtpTransport& fresh() override
    {
        servers.push_back(std::make_unique<ScriptedServer>(replies_.value_or(std::deque<std::string>{})));
        return *servers.back();
    }
    std::vector<std::unique_ptr<ScriptedServer>> servers;

private:
    std::optional<std::deque<std::string>> replies_;
};

// PIPELINING, CHUNKING and a session kept for the next mail: what goes
// out, in which writes, what the caller learns, and when the mail goes
// again on a new connection. "|" separates writes; a resumed session starts
// at MAIL with the extensions of its EHLO. Where CHUNKING is offered the
// message is ".body\r\n", which BDAT sends as it is.
TEST(SmtpSessionTest, PipelinedAndKeptSessions)
{
    struct Case {
        const char* name;
        std::deque<std::string> replies;
        MailCode expected;
        std::string writes;
        bool resumed = false;
        bool offered = true; // PIPELINING
        bool chunking = false;
        bool pipelining = true;
        bool keeping = false; // the caller would keep the session
        bool leftOpen = false;
        std::size_t recipients = 2;
        bool quiet = true;
        std::size_t dropOnWrite = SIZE_MAX;
        // Replies of the new connection, when the mail must go again on one.
        std::optional<std::deque<std::string>> again = std::nullopt;
        const char* detail = ""; // a part of ErrorDetail
    };
    const std::string envelope = "MAIL FROM:<me@example.com> SIZE=6\r\nRCPT TO:<gateway@example.com>\r\n"
                                 "RCPT TO:<copy@example.com>\r\nDATA\r\n";
    const std::string separate = "MAIL FROM:<me@example.com> SIZE=6\r\n|RCPT TO:<gateway@example.com>\r\n|"
                                 "RCPT TO:<copy@example.com>\r\n|DATA\r\n";
    const std::string hello = "220 hi\r\n";
    const std::string pipelining = "250-hi\r\n250-PIPELINING\r\n250 SIZE\r\n";
    const std::string chunk = "MAIL FROM:<me@example.com> SIZE=7\r\nRCPT TO:<gateway@example.com>\r\nBDAT 7 LAST\r\n.body\r\n";
    const std::string chunkingHello = "250-hi\r\n250-PIPELINING\r\n250-CHUNKING\r\n250 SIZE\r\n";
    const std::deque<std::string> againAccepted{hello, "250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "250 ok\r\n",
                                                "354 go\r\n", "250 queued\r\n"};
    const std::deque<std::string> againOne{hello, "250 hello\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"};
    const char* mayHaveTaken = "the server may have taken the message";
    const char* temporary = "temporary failure, a later try may succeed; the server answered: ";
    // Twenty recipients: sixteen commands, their replies, then the rest.
    std::string manyFirst = "MAIL FROM:<me@example.com> SIZE=6\r\n", manyRest, manyFirstReplies = "250 ok\r\n", manyRestReplies;
    for (int i = 0; i < 20; ++i) {
        (i < 15 ? manyFirst : manyRest) += "RCPT TO:<r" + std::to_string(i) + "@example.com>\r\n";
        (i < 15 ? manyFirstReplies : manyRestReplies) += "250 ok\r\n";
    }
    manyRest += "DATA\r\n";
    manyRestReplies += "354 go\r\n";
    const std::vector<Case> cases{
        {.name = "offered: one write, replies in order",
         .replies = {hello, pipelining, "250 ok\r\n250 ok\r\n", "250 ok\r\n354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + envelope + "|body\r\n.\r\n|QUIT\r\n"},
        {.name = "turned off",
         .replies = {hello, pipelining, "250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + separate + "|body\r\n.\r\n|QUIT\r\n",
         .pipelining = false},
        {.name = "a refused recipient: no data, the 354 answered by closing",
         .replies = {hello, pipelining, "250 ok\r\n550 no such user\r\n250 ok\r\n354 go\r\n"},
         .expected = RecipientRejected,
         .writes = "EHLO client\r\n|" + envelope,
         .detail = "the server answered: 550 no such user"},
        {.name = "a refused recipient, DATA refused too: QUIT",
         .replies = {hello, pipelining, "250 ok\r\n550 no such user\r\n550 nor this\r\n554 no valid recipients\r\n", "221 bye\r\n"},
         .expected = RecipientRejected,
         .writes = "EHLO client\r\n|" + envelope + "|QUIT\r\n"},
        {.name = "a recipient refused for now: said so",
         .replies = {hello, pipelining, "250 ok\r\n450 4.2.1 try later\r\n250 ok\r\n554 no\r\n", "221 bye\r\n"},
         .expected = RecipientRejected,
         .writes = "EHLO client\r\n|" + envelope + "|QUIT\r\n",
         .detail = "temporary failure, a later try may succeed; the server answered: 450 4.2.1 try later"},
        {.name = "a full mailbox at RCPT: the recipient, for now, not the message",
         .replies = {hello, pipelining, "250 ok\r\n552 4.2.2 mailbox full\r\n250 ok\r\n554 no\r\n", "221 bye\r\n"},
         .expected = RecipientRejected,
         .writes = "EHLO client\r\n|" + envelope + "|QUIT\r\n",
         .detail = "temporary failure, a later try may succeed; the server answered: 552 4.2.2 mailbox full"},
        {.name = "a refused sender",
         .replies = {hello, pipelining, "550 who\r\n503 first MAIL\r\n503 first MAIL\r\n503 no\r\n", "221 bye\r\n"},
         .expected = SenderRejected,
         .writes = "EHLO client\r\n|" + envelope + "|QUIT\r\n"},
        {.name = "twenty recipients: in groups, each read before the next goes",
         .replies = {hello, pipelining, manyFirstReplies, manyRestReplies, "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + manyFirst + "|" + manyRest + "|body\r\n.\r\n|QUIT\r\n",
         .recipients = 20},
        {.name = "kept: no QUIT",
         .replies = {hello, pipelining, "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + envelope + "|body\r\n.\r\n",
         .leftOpen = true},
        {.name = "a reply behind the final one: delivered, not kept",
         .replies = {hello, pipelining, "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n421 4.4.2 bye\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + envelope + "|body\r\n.\r\n|QUIT\r\n",
         .keeping = true},
        {.name = "the server spoke after the final reply: delivered, not kept",
         .replies = {hello, pipelining, "250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + envelope + "|body\r\n.\r\n|QUIT\r\n",
         .keeping = true,
         .quiet = false},
        {.name = "resumed: MAIL first",
         .replies = {"250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = envelope + "|body\r\n.\r\n",
         .resumed = true,
         .leftOpen = true},
        {.name = "resumed without PIPELINING",
         .replies = {"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = separate + "|body\r\n.\r\n",
         .resumed = true,
         .offered = false,
         .leftOpen = true},
        {.name = "resumed, closed meanwhile: again",
         .replies = {""}, .expected = Ok, .writes = envelope, .resumed = true, .again = againAccepted},
        {.name = "resumed, 421 meanwhile: again",
         .replies = {"421 idle too long\r\n", ""}, .expected = Ok, .writes = envelope, .resumed = true, .again = againAccepted},
        {.name = "resumed without PIPELINING, 421 meanwhile: again, no QUIT into the closing",
         .replies = {"421 idle too long\r\n", ""},
         .expected = Ok,
         .writes = "MAIL FROM:<me@example.com> SIZE=6\r\n",
         .resumed = true,
         .offered = false,
         .again = againAccepted},
        {.name = "resumed, dropped before DATA's answer: nothing of it went, again",
         .replies = {"250 ok\r\n250 ok\r\n", ""}, .expected = Ok, .writes = envelope, .resumed = true, .again = againAccepted},
        {.name = "fresh, 421 to MAIL: again, at most once",
         .replies = {hello, pipelining, "421 4.3.2 shutting down\r\n", ""},
         .expected = ConnectionDropped,
         .writes = "EHLO client\r\n|" + envelope,
         .again = std::deque<std::string>{hello, "250 hello\r\n", "421 4.3.2 still shutting down\r\n", ""},
         .detail = "temporary failure, a later try may succeed; the server answered: 421 4.3.2 still shutting down"},
        {.name = "resumed, recipient refused: no new connection",
         .replies = {"250 ok\r\n550 no such user\r\n250 ok\r\n354 go\r\n"},
         .expected = RecipientRejected,
         .writes = envelope,
         .resumed = true},
        {.name = "resumed, dropped after the final dot: not again, and said so",
         .replies = {"250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", ""},
         .expected = ConnectionDropped,
         .writes = envelope + "|body\r\n.\r\n",
         .resumed = true,
         .detail = mayHaveTaken},
        {.name = "CHUNKING: the mail in one write",
         .replies = {hello, chunkingHello, "250 ok\r\n250 ok\r\n250 queued\r\n", "221 bye\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|" + chunk + "|QUIT\r\n",
         .chunking = true,
         .recipients = 1},
        {.name = "CHUNKING without PIPELINING: DATA",
         .replies = {hello, "250-hi\r\n250-CHUNKING\r\n250 SIZE\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "EHLO client\r\n|MAIL FROM:<me@example.com> SIZE=7\r\n|RCPT TO:<gateway@example.com>\r\n|DATA\r\n"
                   "|..body\r\n.\r\n|QUIT\r\n",
         .chunking = true,
         .recipients = 1},
        {.name = "CHUNKING, two recipients: DATA",
         .replies = {"250 ok\r\n250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n"},
         .expected = Ok,
         .writes = "MAIL FROM:<me@example.com> SIZE=7\r\nRCPT TO:<gateway@example.com>\r\nRCPT TO:<copy@example.com>\r\nDATA\r\n"
                   "|..body\r\n.\r\n",
         .resumed = true,
         .chunking = true,
         .leftOpen = true},
        {.name = "CHUNKING, a refused recipient",
         .replies = {"250 ok\r\n550 no such user\r\n554 no valid recipients\r\n", "221 bye\r\n"},
         .expected = RecipientRejected,
         .writes = chunk + "|QUIT\r\n",
         .resumed = true,
         .chunking = true,
         .recipients = 1},
        {.name = "CHUNKING, 421 to MAIL: no mail began, again",
         .replies = {"421 idle too long\r\n", ""},
         .expected = Ok,
         .writes = chunk,
         .resumed = true,
         .chunking = true,
         .recipients = 1,
         .again = againOne},
        {.name = "CHUNKING, closed under the message, a 421 waiting: read, again",
         .replies = {"421 idle too long\r\n", ""},
         .expected = Ok,
         .writes = "",
         .resumed = true,
         .chunking = true,
         .recipients = 1,
         .dropOnWrite = 0,
         .again = againOne},
        {.name = "CHUNKING, 421 to MAIL but BDAT taken: delivered, not again",
         .replies = {"421 4.3.2 hm\r\n250 ok\r\n250 queued\r\n"},
         .expected = Ok,
         .writes = chunk + "|QUIT\r\n",
         .resumed = true,
         .chunking = true,
         .recipients = 1},
        {.name = "CHUNKING, dropped unanswered: the message went, not again",
         .replies = {""},
         .expected = ConnectionDropped,
         .writes = chunk,
         .resumed = true,
         .chunking = true,
         .recipients = 1,
         .detail = mayHaveTaken},
        {.name = "CHUNKING, no reply by the final deadline: not again, and said so",
         .replies = {"..."},
         .expected = NoReplyInTime,
         .writes = chunk,
         .resumed = true,
         .chunking = true,
         .recipients = 1,
         .detail = mayHaveTaken},
        {.name = "resumed, the server spoke or closed while idle: again, nothing written",
         .replies = {},
         .expected = Ok,
         .writes = "",
         .resumed = true,
         .chunking = true,
         .recipients = 1,
         .quiet = false,
         .again = againOne},
    };
    for (const Case& c : cases) {
        ScriptedServer server(c.replies);
        SessionState session;
        session.open = c.resumed;
        session.extensions = {"hi", "SIZE"};
        if (c.offered)
            session.extensions.push_back("PIPELINING");
        if (c.chunking)
            session.extensions.push_back("CHUNKING");
        server.quietLine = c.quiet;
        server.dropOnWrite = c.dropOnWrite;
        Envelope envelope = kEnvelope;
        envelope.to.resize(c.recipients);
        if (c.recipients > 2)
            for (std::size_t i = 0; i < c.recipients; ++i)
                envelope.to[i] = "r" + std::to_string(i) + "@example.com";
        DeliveryOptions options = clientOptions();
        options.pipelining = c.pipelining;
        options.session = c.resumed || c.leftOpen || c.keeping ? &session : nullptr;
        ScriptedReconnect reconnect(c.again);
        options.reconnect = &reconnect;
        std::string detail;
        options.detail = &detail;
        TextData data(c.chunking ? ".body\r\n" : "body\r\n");
        EXPECT_EQ(run(server, data, options, envelope), c.expected) << c.name;
        std::string writes;
        for (const std::string& w : server.writes)
            writes += (writes.empty() ? "" : "|") + w;
        EXPECT_EQ(writes, c.writes) << c.name;
        EXPECT_EQ(server.connectedTo.empty(), c.resumed) << c.name;
        // A mail that went again leaves the new connection's session kept.
        EXPECT_EQ(session.open, c.leftOpen || (c.again && c.expected == Ok && options.session)) << c.name;
        EXPECT_EQ(reconnect.servers.size(), c.again ? 1u : 0u) << c.name;
        if (c.again && c.expected == Ok) {
            // The whole mail goes on the new connection.
            EXPECT_EQ(reconnect.servers[0]->connectedTo, "mail.example.com:2525") << c.name;
            EXPECT_TRUE(reconnect.servers[0]->sent.ends_with(c.chunking ? "DATA\r\n..body\r\n.\r\n" : "DATA\r\nbody\r\n.\r\n"))
                << c.name << ": " << reconnect.servers[0]->sent;
        }
        EXPECT_NE(detail.find(c.detail), std::string::npos) << c.name << ": " << detail;
    }
}

// A mail over the bound that BDAT sends unasked goes with DATA.
TEST(SmtpSessionTest, ChunkingOnlyForSmallMail)
{
    const std::string big(kMostSentUnasked + 1, 'x');
    ScriptedServer server({"250 ok\r\n250 ok\r\n354 go\r\n", "250 queued\r\n"});
    SessionState session{true, {"hi", "PIPELINING", "CHUNKING"}};
    DeliveryOptions options = clientOptions();
    options.session = &session;
    TextData data(big + "\r\n");
    EXPECT_EQ(run(server, data, options, {"me@example.com", {"gateway@example.com"}}), Ok);
    ASSERT_FALSE(server.writes.empty());
    EXPECT_EQ(server.writes[0], "MAIL FROM:<me@example.com>\r\nRCPT TO:<gateway@example.com>\r\nDATA\r\n");
    EXPECT_TRUE(server.sent.ends_with(big + "\r\n.\r\n"));
}

TEST(SmtpSessionTest, ServerNames)
{
    const auto parse = [](std::u16string_view text, ServerAddress& out) { return parseServer(text, out); };
    ServerAddress a;
    EXPECT_EQ(parse(u"smtp.example.com", a), Ok);
    EXPECT_EQ(a.host + "|" + a.port, "smtp.example.com|25");
    EXPECT_EQ(parse(u"[::1]:2525", a), Ok);
    EXPECT_EQ(a.host + "|" + a.port, "::1|2525");
    EXPECT_EQ(parse(u"::1", a), Ok);
    EXPECT_EQ(a.host + "|" + a.port, "::1|25");
    EXPECT_EQ(parse(u" 127.0.0.1:26 ", a), Ok);
    EXPECT_EQ(a.host + "|" + a.port, "127.0.0.1|26");
    EXPECT_EQ(parse(u"", a), NoServer);
    EXPECT_EQ(parse(u"   ", a), NoServer);
    EXPECT_EQ(parse(u":25", a), NoServer);
    EXPECT_EQ(parse(u"host:0", a), CannotConnect);
    EXPECT_EQ(parse(u"host:99999", a), CannotConnect);
    EXPECT_EQ(parse(u"host:x", a), CannotConnect);
    EXPECT_EQ(parse(u"h\u00F6st", a), HostNotResolved);
    EXPECT_EQ(parse(u"a]b:25", a), HostNotResolved);
    EXPECT_EQ(parse(u"smtp.example.com.:587", a), Ok);
    EXPECT_EQ(a.host + "|" + a.port, "smtp.example.com|587");
    EXPECT_EQ(parse(u"smtp.example.com..", a), HostNotResolved);
}

// Hands out "tok1", "tok2", ... or refuses; counts the requests.
class CountingTokens : public TokenSource {
public:
    MailCode token(bool, Deadline, SecretText& token, std::string& detail) override
    {
        ++requests;
        if (refusal != Ok) {
            detail = "the token endpoint refused: invalid_client";
            return refusal;
        }
        token.append("tok" + std::to_string(requests));
        return Ok;
    }
    MailCode refusal = Ok;
    int requests = 0;
};

// TLS and authentication: what goes out, in order, for each server
// behaviour, with its code and the words of the detail. "<TLS>" marks the
// handshake; nothing after a failed or refused one may go out.
TEST(SmtpSessionTest, SecureDialogues)
{
    enum Account { None, Password, Token, RefusedToken };
    struct Case {
        const char* name;
        std::u16string_view server;
        Account account;
        std::deque<std::string> replies;
        MailCode tls;
        MailCode expected;
        std::string sent;
        std::string detail;
        int tokenRequests = 0;
        std::string transportSays = "";
    };
    const std::string tail = "MAIL FROM:<me@example.com> SIZE=6\r\nRCPT TO:<gateway@example.com>\r\n"
                             "RCPT TO:<copy@example.com>\r\nDATA\r\nbody\r\n.\r\nQUIT\r\n";
    const std::deque<std::string> accepting{"250 ok\r\n", "250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n",
                                            "221 bye\r\n"};
    const auto then = [&](std::deque<std::string> first) {
        first.insert(first.end(), accepting.begin(), accepting.end());
        return first;
    };
    const std::string plainAuth = "AUTH PLAIN AGRpc3BhdGNoAGNvcnJlY3QgaG9yc2U=\r\n";
    const std::string bearer1 = "AUTH XOAUTH2 dXNlcj1kaXNwYXRjaAFhdXRoPUJlYXJlciB0b2sxAQE=\r\n";
    const std::string bearer2 = "AUTH XOAUTH2 dXNlcj1kaXNwYXRjaAFhdXRoPUJlYXJlciB0b2syAQE=\r\n";
    const std::string refusal = "334 eyJzdGF0dXMiOiI0MDEiLCJzY2hlbWVzIjoiYmVhcmVyIiwic2NvcGUiOiJodHRwczovL21haWwuZ29vZ2xlLmNvbS8ifQ==\r\n";
    const std::deque<std::string> oauthReady{"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "220 go\r\n",
                                             "250-hi\r\n250-AUTH XOAUTH2\r\n250 SIZE\r\n"};
    const auto after = [](std::deque<std::string> first, std::initializer_list<std::string> more) {
        first.insert(first.end(), more.begin(), more.end());
        return first;
    };
    const std::string oauthStart = "EHLO client\r\nSTARTTLS\r\n<TLS>EHLO client\r\n";
    const std::vector<Case> cases{
        {"STARTTLS, then PLAIN", u"mail.example.com:587", Password,
         then({"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "220 go\r\n", "250-hi\r\n250-AUTH LOGIN PLAIN\r\n250 SIZE\r\n",
               "235 ok\r\n"}),
         Ok, Ok, "EHLO client\r\nSTARTTLS\r\n<TLS>EHLO client\r\n" + plainAuth + tail, ""},
        {"implicit TLS, then LOGIN", u"smtps://mail.example.com", Password,
         then({"220 hi\r\n", "250-hi\r\n250-AUTH LOGIN\r\n250 SIZE\r\n", "334 VXNlcm5hbWU6\r\n", "334 UGFzc3dvcmQ6\r\n",
               "235 ok\r\n"}),
         Ok, Ok, "<TLS>EHLO client\r\nAUTH LOGIN\r\nZGlzcGF0Y2g=\r\nY29ycmVjdCBob3JzZQ==\r\n" + tail, ""},
        {"a forged reply behind the 220 is not read", u"starttls://mail.example.com:2525", None,
         then({"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "220 go\r\n554 forged\r\n", "250-hi\r\n250 SIZE\r\n"}), Ok,
         Ok, "EHLO client\r\nSTARTTLS\r\n<TLS>EHLO client\r\n" + tail, ""},
        {"STARTTLS not offered", u"mail.example.com:587", None, {"220 hi\r\n", "250-hi\r\n250 AUTH PLAIN\r\n"}, Ok,
         UnexpectedReply, "EHLO client\r\n", "does not offer STARTTLS"},
        {"EHLO refused where STARTTLS is required: no HELO", u"mail.example.com:587", None, {"220 hi\r\n", "502 no\r\n"},
         Ok, ConversationRefused, "EHLO client\r\nQUIT\r\n", "502 no"},
        {"STARTTLS refused", u"mail.example.com:587", None, {"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "454 not now\r\n"},
         Ok, UnexpectedReply, "EHLO client\r\nSTARTTLS\r\n", "454 not now"},
        {"handshake or certificate refused", u"mail.example.com:587", Password, {"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n",
         "220 go\r\n"}, CannotConnect, CannotConnect, "EHLO client\r\nSTARTTLS\r\n<TLS>", "transport says why"},
        {"implicit TLS refused", u"mail.example.com:465", None, {}, CannotConnect, CannotConnect, "<TLS>", "transport says why"},
        {"wrong password", u"mail.example.com:587", Password, {"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "220 go\r\n",
         "250-hi\r\n250 AUTH PLAIN\r\n", "535 5.7.8 Authentication credentials invalid\r\n", "221 bye\r\n"}, Ok,
         AuthenticationFailed, "EHLO client\r\nSTARTTLS\r\n<TLS>EHLO client\r\n" + plainAuth + "QUIT\r\n",
         "answered: 535 5.7.8"},
        {"a refusal that quotes the account", u"mail.example.com:465", Password, {"220 hi\r\n",
         "250-hi\r\n250 AUTH PLAIN\r\n", "501 5.5.2 bad: AUTH PLAIN AGRpc3BhdGNoAGNvcnJlY3QgaG9yc2U=\r\n", "221 bye\r\n"},
         Ok, AuthProtocolError, "<TLS>EHLO client\r\n" + plainAuth + "QUIT\r\n", "answered: 501 5.5.2"},
        {"control bytes in a reply are escaped", u"mail.example.com", None,
         {std::string("554 no\rX\x1B[2J\0!\r\n", 16)}, Ok, UnexpectedReply, "QUIT\r\n",
         "554 no\\x0DX\\x1B[2J\\x00!"},
        {"a reply before a close is the reason", u"mail.example.com:465", None, {"421 4.7.0 Too many connections\r\n"},
         Ok, UnexpectedReply, "<TLS>QUIT\r\n", "answered: 421 4.7.0 Too many connections", 0,
         "the server closed the TLS session"},
        {"XOAUTH2 with a fetched token", u"mail.example.com:587", Token, then(after(oauthReady, {"235 ok\r\n"})), Ok, Ok,
         oauthStart + bearer1 + tail, "", 1},
        {"a refused token is fetched once more", u"mail.example.com:587", Token,
         after(oauthReady, {refusal, "535 5.7.8 no\r\n", refusal, "535 5.7.8 no\r\n", "221 bye\r\n"}), Ok,
         AuthenticationFailed, oauthStart + bearer1 + "\r\n" + bearer2 + "\r\nQUIT\r\n", "(status 401)", 2},
        {"the token endpoint refuses: no connection", u"mail.example.com:587", RefusedToken, oauthReady, Ok,
         AuthenticationFailed, "", "invalid_client", 1},
        {"no XOAUTH2 offered", u"mail.example.com:465", Token, {"220 hi\r\n", "250-hi\r\n250 AUTH PLAIN LOGIN\r\n"},
         Ok, AuthModeNotSupported, "<TLS>EHLO client\r\nQUIT\r\n", "XOAUTH2", 1},
        {"a token on a plain connection: nothing at all", u"mail.example.com", Token, {"220 hi\r\n"}, Ok,
         AuthModeNotSupported, "", "only over TLS", 0},
        {"no mechanism in common", u"mail.example.com:465", Password, {"220 hi\r\n", "250-hi\r\n250 AUTH CRAM-MD5\r\n", "221 bye\r\n"},
         Ok, AuthModeNotSupported, "<TLS>EHLO client\r\nQUIT\r\n", "neither AUTH PLAIN nor AUTH LOGIN"},
        {"no AUTH at all", u"mail.example.com:465", Password, {"220 hi\r\n", "250 hi\r\n", "221 bye\r\n"}, Ok,
         AuthModeNotSupported, "<TLS>EHLO client\r\nQUIT\r\n", "no authentication"},
        {"a malformed challenge", u"mail.example.com:465", Password, {"220 hi\r\n", "250-hi\r\n250 AUTH LOGIN\r\n",
         "334 ?\r\n", "221 bye\r\n"}, Ok, AuthProtocolError, "<TLS>EHLO client\r\nAUTH LOGIN\r\nQUIT\r\n", "answered: 334"},
        {"an account on a plain connection", u"mail.example.com", Password, {"220 hi\r\n"}, Ok, AuthModeNotSupported, "",
         "only over TLS"},
    };
    for (const Case& c : cases) {
        Credentials dispatch;
        dispatch.user.append("dispatch");
        dispatch.password.append(c.account == Password ? "correct horse" : "");
        dispatch.accessToken = c.account == Token || c.account == RefusedToken;
        CountingTokens tokens;
        tokens.refusal = c.account == RefusedToken ? AuthenticationFailed : Ok;
        ScriptedServer server(c.replies);
        server.tlsResult = c.tls;
        server.tlsDetail = c.tls == Ok ? c.transportSays : "transport says why";
        ServerAddress address;
        ASSERT_EQ(parseServer(c.server, address), Ok);
        DeliveryOptions options = clientOptions();
        std::string detail = "left from before";
        options.detail = &detail;
        options.credentials = c.account != None ? &dispatch : nullptr;
        options.tokens = &tokens;
        TextData data("body\r\n");
        EXPECT_EQ(deliver(server, address, kEnvelope, data, options), c.expected) << c.name;
        EXPECT_EQ(server.sent, c.sent) << c.name;
        if (c.detail.empty())
            EXPECT_EQ(detail, "") << c.name;
        else
            EXPECT_NE(detail.find(c.detail), std::string::npos) << c.name << ": " << detail;
        EXPECT_EQ(server.connectedTo.empty(), c.sent.empty()) << c.name;
        EXPECT_EQ(tokens.requests, c.tokenRequests) << c.name;
        EXPECT_EQ(detail.find("AGRpc3BhdGNo"), std::string::npos) << c.name;
    }
}

// What a trace or the test command is told: every command and reply in
// order, AUTH and the message by name only; and how far a test goes.
TEST(SmtpSessionTest, TellsEachStepButNoSecretAndNoData)
{
    struct Lines : DeliveryObserver {
        void line(std::string_view text) override { all += std::string(text) + "\n"; }
        std::string all;
    };
    const std::deque<std::string> upToAuth{"220 hi\r\n", "250-hi\r\n250 STARTTLS\r\n", "220 go\r\n",
                                           "250-hi\r\n250 AUTH PLAIN\r\n", "235 2.7.0 ok AGRpc3BhdGNo\r\n"};
    const std::string told = "connected to \nS: 220 hi\nC: EHLO client\nS: 250-hi\nS: 250 STARTTLS\nC: STARTTLS\nS: 220 go\n"
                             "TLS: \nC: EHLO client\nS: 250-hi\nS: 250 AUTH PLAIN\nC: AUTH PLAIN [hidden]\nS: 235 2.7.0\n";
    struct Case {
        DeliveryOptions::Reach reach;
        std::deque<std::string> more;
        std::string rest;
    };
    const std::vector<Case> cases{
        {DeliveryOptions::Reach::Delivery, {"250 ok\r\n", "250 ok\r\n", "354 go\r\n", "250 queued\r\n"},
         "C: MAIL FROM:<me@example.com>\nS: 250 ok\nC: RCPT TO:<gateway@example.com>\nS: 250 ok\nC: DATA\nS: 354 go\n"
         "C: [the message, 6 octets, and the final dot]\nS: 250 queued\nC: QUIT\n"},
        {DeliveryOptions::Reach::Recipients, {"250 ok\r\n", "250 ok\r\n", "250 reset\r\n"},
         "C: MAIL FROM:<me@example.com>\nS: 250 ok\nC: RCPT TO:<gateway@example.com>\nS: 250 ok\nC: RSET\nS: 250 reset\nC: QUIT\n"},
        {DeliveryOptions::Reach::Authentication, {}, "C: QUIT\n"},
    };
    for (const Case& c : cases) {
        std::deque<std::string> replies = upToAuth;
        replies.insert(replies.end(), c.more.begin(), c.more.end());
        ScriptedServer server(replies);
        Credentials dispatch;
        dispatch.user.append("dispatch");
        dispatch.password.append("correct horse");
        Lines lines;
        DeliveryOptions options = clientOptions();
        options.credentials = &dispatch;
        options.observer = &lines;
        options.reach = c.reach;
        ServerAddress address;
        ASSERT_EQ(parseServer(u"mail.example.com:587", address), Ok);
        TextData data("body\r\n");
        EXPECT_EQ(deliver(server, address, {"me@example.com", {"gateway@example.com"}}, data, options), Ok);
        EXPECT_EQ(lines.all, told + c.rest);
        EXPECT_EQ(server.sent.find("DATA") != std::string::npos, c.reach == DeliveryOptions::Reach::Delivery);
    }
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
        ASSERT_EQ(parseServer(c.text, a), Ok);
        EXPECT_EQ(a.host + "|" + a.port, c.hostPort);
        EXPECT_EQ(a.security, c.security) << a.host << ":" << a.port;
    }
    ServerAddress a;
    EXPECT_EQ(parseServer(u"smtps://", a), NoServer);
    EXPECT_EQ(parseServer(u"smtps://:465", a), NoServer);
    EXPECT_NE(parseServer(u"smtp://smtps://mail.example.com", a), Ok);
}

} // namespace
} // namespace qel::mail
