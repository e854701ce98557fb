#include <algorithm>

#include <gtest/gtest.h>

#include "mail/DotStuffer.h"
#include "mail/MemoryByteSource.h"
#include "mail/MessageStream.h"
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
    mail.attachments.push_back({u"photo.jpg", std::make_shared<MemoryByteSource>(std::vector<std::uint8_t>(3000, 0xFF))});
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
    EXPECT_EQ(code([](OutgoingMail&) {}), Ok);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.name = u"Me\r\nBcc: x@y"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u"me@example.com>\r\nRCPT TO:<x@y"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u"me@example.com> SIZE=1"; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.address = u""; }), SenderRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to[0].address = u"a@b\nDATA"; }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to[0].name = std::u16string(u"x\0y", 3); }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.to.clear(); }), RecipientRejected);
    EXPECT_EQ(code([](OutgoingMail& m) { m.subject = u"a\rb"; }), MessageNotFormed);
    EXPECT_EQ(code([](OutgoingMail& m) { m.subject = std::u16string(1, char16_t{0xD800}); }), MessageNotFormed);
    EXPECT_EQ(code([](OutgoingMail& m) { m.from.name = std::u16string(1, char16_t{0xDC00}); }), SenderRejected);
}

TEST(MimeWriterTest, PlainTextThatReadsAsAnEncodedWordIsEncoded)
{
    OutgoingMail mail = sample();
    mail.subject = u"=?UTF-8?B?SGk=?=";
    const std::string m = composeMessage(mail, "d", "id", "=_b");
    EXPECT_NE(m.find("Subject: =?UTF-8?B?PT9VVEYtOD9CP1NHaz0/PQ==?=\r\n"), std::string::npos) << m;
}

// Decodes base64 lines up to the next boundary line.
std::vector<std::uint8_t> decodedPart(const std::string& message, std::size_t start)
{
    const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::vector<std::uint8_t> bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (std::size_t i = start; i < message.size() && message.compare(i, 2, "--") != 0; ++i) {
        const auto value = alphabet.find(message[i]);
        if (value == std::string::npos)
            continue;
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        if ((count += 6) >= 8)
            bytes.push_back(static_cast<std::uint8_t>(bits >> (count -= 8)));
    }
    return bytes;
}

TEST(MimeWriterTest, AttachmentsAreStreamedInBoundedPiecesAndSizedExactly)
{
    OutgoingMail mail = sample();
    std::vector<std::uint8_t> picture(3 * MessageStream::kPieceBytes + 1000);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    mail.attachments.push_back({u"big.jpg", std::make_shared<MemoryByteSource>(picture)});
    mail.attachments.push_back({u"empty.jpg", std::make_shared<MemoryByteSource>(std::vector<std::uint8_t>())});
    MessageStream stream(mail, "d", "id", "=_b");
    std::string whole, piece;
    std::size_t largest = 0;
    while (stream.next(piece) == Ok && !piece.empty()) {
        largest = std::max(largest, piece.size());
        whole += piece;
    }
    EXPECT_EQ(whole.size(), stream.size());
    EXPECT_LE(largest, MessageStream::kPieceBytes / 57 * 78);
    const std::size_t big = whole.find("filename=\"big.jpg\"\r\n\r\n");
    ASSERT_NE(big, std::string::npos);
    EXPECT_EQ(decodedPart(whole, big + 22), picture);
    EXPECT_NE(whole.find("filename=\"empty.jpg\"\r\n\r\n--=_b--\r\n"), std::string::npos);
}

// A mail sent again (on a new connection after a kept one failed) starts over,
// also where the first try stopped inside an attachment.
TEST(MimeWriterTest, ARewoundStreamReadsTheSameBytesAgain)
{
    OutgoingMail mail = sample();
    std::vector<std::uint8_t> picture(2 * MessageStream::kPieceBytes + 100);
    for (std::size_t i = 0; i < picture.size(); ++i)
        picture[i] = static_cast<std::uint8_t>(i * 13 + i / 257);
    mail.attachments.push_back({u"photo.jpg", std::make_shared<MemoryByteSource>(picture)});
    MessageStream stream(mail, "d", "id", "=_b");
    const auto read = [&stream](std::size_t mostPieces) {
        std::string bytes, piece;
        for (std::size_t n = 0; n < mostPieces && stream.next(piece) == Ok && !piece.empty(); ++n)
            bytes += piece;
        return bytes;
    };
    const std::string whole = read(SIZE_MAX);
    ASSERT_EQ(whole.size(), stream.size());
    // Where a read differs from the first one (npos: nowhere), not two screens of base64.
    const auto differs = [&whole](const std::string& again) {
        const auto at = std::mismatch(again.begin(), again.end(), whole.begin(), whole.end());
        return at.first == again.end() && at.second == whole.end() ? std::string::npos : std::size_t(at.first - again.begin());
    };
    stream.rewind();
    EXPECT_EQ(differs(read(SIZE_MAX)), std::string::npos) << "rewound after the whole message";
    stream.rewind();
    const std::string begun = read(3); // the head, the attachment's head, its first piece
    ASSERT_LT(begun.size(), whole.find("--=_b--"));
    stream.rewind();
    EXPECT_EQ(differs(read(SIZE_MAX)), std::string::npos) << "rewound from inside the attachment";
}

TEST(MimeWriterTest, DotStuffingDoublesLeadingDotsAndEndsTheData)
{
    EXPECT_EQ(dotStuffed(".a\r\nb\r\n..c\r\n"), "..a\r\nb\r\n...c\r\n.\r\n");
    EXPECT_EQ(dotStuffed("x"), "x\r\n.\r\n");
    // A line that starts in one piece and goes on in the next.
    DotStuffer stuffer;
    std::string out;
    for (std::string_view piece : {"a\r", "\n", ".b\r\n", ".", ".c\r\n"})
        stuffer.add(piece, out);
    stuffer.finish(out);
    EXPECT_EQ(out, "a\r\n..b\r\n...c\r\n.\r\n");
}

} // namespace
} // namespace qel::mail
