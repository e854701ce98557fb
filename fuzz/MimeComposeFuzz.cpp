// Whatever values a host gives the mail component (names, addresses,
// subject, body, attachment name and bytes), the message is refused or
// composed so that every line ends in CRLF, no bare CR or LF occurs, no line
// is longer than 78 characters (998 for one that carries an address), every
// header unfolds and decodes back to the value given, and the body and the
// attachment decode to what went in.
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "common/Utf8.h"
#include "fuzz/FuzzInput.h"
#include "mail/MemoryByteSource.h"
#include "mail/MessageStream.h"
#include "mail/MimeWriter.h"

namespace {

using namespace qel::mail;

// Names the broken expectation before stopping.
void expect(bool condition, int line)
{
    if (!condition) {
        std::fprintf(stderr, "MimeComposeFuzz.cpp:%d: expectation broken\n", line);
        std::abort();
    }
}
#define check(condition) expect(condition, __LINE__)

std::string decodeBase64(std::string_view text)
{
    static const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string bytes;
    std::uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=' || c == '\r' || c == '\n')
            continue;
        const auto value = alphabet.find(c);
        check(value != std::string::npos);
        bits = bits << 6 | static_cast<std::uint32_t>(value);
        if ((count += 6) >= 8)
            bytes += static_cast<char>(bits >> (count -= 8));
    }
    return bytes;
}

// Adjacent encoded words "=?UTF-8?B?...?=" separated by blanks, as UTF-16.
std::u16string decodeWords(std::string_view text)
{
    std::string bytes;
    while (!text.empty()) {
        check(text.starts_with("=?UTF-8?B?"));
        const auto end = text.find("?=");
        check(end != std::string_view::npos);
        bytes += decodeBase64(text.substr(10, end - 10));
        text.remove_prefix(end + 2);
        if (!text.empty()) {
            check(text.front() == ' ');
            text.remove_prefix(1);
        }
    }
    return qel::utf16FromUtf8(bytes);
}

std::u16string widen(std::string_view text)
{
    return std::u16string(text.begin(), text.end());
}

// One mailbox at the start of `text`, consumed: "<a>", "\"name\" <a>" or "words <a>".
MailAddress readMailbox(std::string_view& text)
{
    MailAddress who;
    if (text.starts_with("\"")) {
        std::size_t i = 1;
        for (; i < text.size() && text[i] != '"'; ++i) {
            if (text[i] == '\\')
                ++i;
            check(i < text.size());
            who.name += static_cast<char16_t>(static_cast<unsigned char>(text[i]));
        }
        check(i + 2 < text.size() && text[i + 1] == ' ');
        text.remove_prefix(i + 2);
    } else if (!text.starts_with("<")) {
        const auto open = text.find(" <");
        check(open != std::string_view::npos);
        who.name = decodeWords(text.substr(0, open));
        text.remove_prefix(open + 1);
    }
    check(text.starts_with("<"));
    const auto close = text.find('>');
    check(close != std::string_view::npos);
    who.address = widen(text.substr(1, close - 1));
    text.remove_prefix(close + 1);
    return who;
}

void checkMailbox(const MailAddress& read, const MailAddress& given)
{
    check(read.address == given.address);
    check(read.name == given.name || (read.name.empty() && given.name == given.address));
}

// Splits the input at U+FFFF into fields.
std::vector<std::u16string> fieldsOf(const std::u16string& units)
{
    std::vector<std::u16string> fields(1);
    for (char16_t c : units) {
        if (c == 0xFFFF)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t choices = data[0];
    std::vector<std::u16string> fields = fieldsOf(qel::fuzz::unitsOf(data + 1, size - 1));
    fields.resize(10);
    // Fuzzed addresses are mostly refused; fixed ones let the rest be composed.
    const auto address = [&](int bit, const std::u16string& fuzzed) {
        return (choices >> bit & 1) ? fuzzed : std::u16string(u"a@example.com");
    };
    OutgoingMail mail;
    mail.from = {address(0, fields[1]), fields[0]};
    const int recipients = 1 + (choices >> 3 & 1) + (choices >> 4 & 1);
    for (int i = 0; i < recipients; ++i)
        mail.to.push_back({address(1 + (i > 0), fields[3 + i]), fields[2] + std::u16string(static_cast<std::size_t>(i), u'x')});
    mail.subject = fields[6];
    mail.body = fields[7];
    std::vector<std::uint8_t> bytes;
    for (char16_t c : fields[9])
        bytes.push_back(static_cast<std::uint8_t>(c)), bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    if (choices >> 5 & 1)
        mail.attachments.push_back({fields[8], std::make_shared<MemoryByteSource>(bytes)});
    if (validate(mail) != Ok)
        return 0;

    MessageStream stream(mail, "Tue, 08 Dec 2026 18:05:34 +0000", "1.2@host", "=_qel_b");
    std::string message, piece;
    for (;;) {
        check(stream.next(piece) == Ok);
        if (piece.empty())
            break;
        message += piece;
    }
    check(message.size() == stream.size());

    std::size_t start = 0;
    while (start < message.size()) {
        const std::size_t end = message.find("\r\n", start);
        check(end != std::string::npos);
        const std::string_view line = std::string_view(message).substr(start, end - start);
        check(line.find_first_of("\r\n") == std::string_view::npos);
        check(line.size() <= (line.find('<') != std::string_view::npos ? 998u : 78u));
        start = end + 2;
    }

    const std::size_t headEnd = message.find("\r\n\r\n");
    check(headEnd != std::string::npos);
    std::string head = message.substr(0, headEnd + 2);
    for (std::size_t fold; (fold = head.find("\r\n ")) != std::string::npos;)
        head.erase(fold, 2);
    const auto header = [&](std::string_view name) {
        const auto at = head.find("\r\n" + std::string(name) + ": ");
        check(at != std::string::npos);
        const auto value = at + name.size() + 4;
        return std::string_view(head).substr(value, head.find("\r\n", value) - value);
    };
    const std::string_view subject = header("Subject");
    check((subject.starts_with("=?") ? decodeWords(subject) : widen(subject)) == mail.subject);
    std::string_view from = header("From");
    checkMailbox(readMailbox(from), mail.from);
    check(from.empty());
    std::string_view to = header("To");
    for (std::size_t i = 0; i < mail.to.size(); ++i) {
        if (i > 0) {
            check(to.starts_with(", ") || to.starts_with(","));
            to.remove_prefix(to.starts_with(", ") ? 2 : 1);
        }
        checkMailbox(readMailbox(to), mail.to[i]);
    }
    check(to.empty());

    const std::string textHeaders = "Content-Transfer-Encoding: base64\r\n\r\n";
    const std::size_t body = message.find(textHeaders);
    check(body != std::string::npos);
    const std::size_t bodyStart = body + textHeaders.size();
    const std::size_t bodyEnd = mail.attachments.empty() ? message.size() : message.find("--=_qel_b", bodyStart);
    check(decodeBase64(std::string_view(message).substr(bodyStart, bodyEnd - bodyStart)) == qel::utf8FromUtf16(mail.body));
    if (!mail.attachments.empty()) {
        const std::size_t content = message.find("\r\n\r\n", message.find("Content-Disposition: attachment", bodyEnd)) + 4;
        const std::size_t contentEnd = message.find("--=_qel_b--\r\n", content);
        check(contentEnd != std::string::npos && contentEnd + 13 == message.size());
        const std::string decoded = decodeBase64(std::string_view(message).substr(content, contentEnd - content));
        check(decoded == std::string(bytes.begin(), bytes.end()));
    }
    check(dotStuffed(message).ends_with("\r\n.\r\n"));
    return 0;
}
