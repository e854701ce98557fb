#include <gtest/gtest.h>

#include "mail/MimeWriter.h"

namespace qel::mail {
namespace {

OutgoingMail sample()
{
    OutgoingMail mail;
    mail.from = {u"me@example.com", u"Me"};
    mail.to = {{u"gateway@example.com", u"gateway@example.com"}};
    mail.subject = u"Qel Message object";
    mail.body = u"To: 1 (A), \r\nMessage: hi";
    return mail;
}

TEST(MimeWriterTest, PlainMessageHasTheHeadersAndABase64Body)
{
    const std::string m = composeMessage(sample(), "Tue, 08 Dec 2026 18:05:34 +0000", "1.2@host", "=_b");
    EXPECT_EQ(m.substr(0, m.find("Content-Type")),
              "Date: Tue, 08 Dec 2026 18:05:34 +0000\r\nFrom: \"Me\" <me@example.com>\r\nTo: <gateway@example.com>\r\n"
              "Subject: Qel Message object\r\nMessage-ID: <1.2@host>\r\nMIME-Version: 1.0\r\n");
    EXPECT_NE(m.find("Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n\r\n"
                     "VG86IDEgKEEpLCANCk1lc3NhZ2U6IGhp\r\n"),
              std::string::npos);
}

TEST(MimeWriterTest, NonAsciiHeadersAreEncodedWordsAndLinesStayShort)
{
    OutgoingMail mail = sample();
    mail.from.name = u"Jos\u00E9 \u00C5ngstr\u00F6m";
    mail.subject = std::u16string(100, u'\u00E9');
    mail.body = std::u16string(5000, u'x');
    mail.attachments.push_back({u"photo.jpg", std::vector<std::uint8_t>(3000, 0xFF)});
    const std::string m = composeMessage(mail, "d", "id", "=_qel_1");
    EXPECT_NE(m.find("From: =?UTF-8?B?Sm9zw6kgw4VuZ3N0csO2bQ==?=\r\n <me@example.com>\r\n"), std::string::npos);
    EXPECT_NE(m.find("Content-Type: image/jpeg; name=\"photo.jpg\""), std::string::npos);
    EXPECT_NE(m.find("--=_qel_1--\r\n"), std::string::npos);
    std::size_t start = 0;
    while (start < m.size()) {
        const std::size_t end = m.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends in CR LF";
        EXPECT_LE(end - start, 78u) << m.substr(start, end - start);
        EXPECT_EQ(m.substr(start, end - start).find_first_of("\r\n"), std::string::npos) << "no bare CR or LF";
        start = end + 2;
    }
}

TEST(MimeWriterTest, RefusesWhatCouldBreakAHeaderOrACommand)
{
    const auto code = [](auto change) {
        OutgoingMail mail = sample();
        change(mail);
        return validate(mail);
    };
    EXPECT_EQ(code([](OutgoingMail&) {}), Sent);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.name = u"Me\r\nBcc: x@y"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u"me@example.com>\r\nRCPT TO:<x@y"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u"me@example.com> SIZE=1"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u""; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to[0].address = u"a@b\nDATA"; }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to[0].name = std::u16string(u"x\0y", 3); }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to.clear(); }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.subject = u"a\rb"; }), MessageNotFormed);
}

TEST(MimeWriterTest, DotStuffingDoublesLeadingDotsAndEndsTheData)
{
    EXPECT_EQ(dotStuffed(".a\r\nb\r\n..c\r\n"), "..a\r\nb\r\n...c\r\n.\r\n");
    EXPECT_EQ(dotStuffed("x"), "x\r\n.\r\n");
}

} // namespace
} // namespace qel::mail
