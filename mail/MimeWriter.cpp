#include "mail/MimeWriter.h"

#include <algorithm>

#include "common/Utf8.h"
#include "mail/DotStuffer.h"

namespace qel::mail {

namespace {

constexpr std::string_view kCrLf = "\r\n";

bool isAsciiPrintable(std::u16string_view text)
{
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c >= 0x20 && c < 0x7F; });
}

bool hasLineBreakOrNul(std::u16string_view text)
{
    return std::any_of(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || c == u'\n' || c == 0; });
}

bool hasLoneSurrogate(std::u16string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF)
            ++i;
        else if (text[i] >= 0xD800 && text[i] <= 0xDFFF)
            return true;
    }
    return false;
}

// A header value must read back as given: one that cannot be written in UTF-8,
// or could end the header, is refused.
bool unfitForHeader(std::u16string_view text)
{
    return hasLineBreakOrNul(text) || hasLoneSurrogate(text);
}

// An address goes into "MAIL FROM:<...>" and "RCPT TO:<...>" as it is: only
// printable ASCII without blanks, brackets or quoting characters, so it can
// neither end the command nor add parameters to it.
bool isSafeAddress(std::u16string_view address)
{
    constexpr std::u16string_view forbidden = u" <>()[],;:\"\\";
    return !address.empty() && address.size() <= 254 && isAsciiPrintable(address)
        && address.find_first_of(forbidden) == std::u16string_view::npos;
}

constexpr std::size_t kBase64LineBytes = 57; // 76 characters

void appendBase64(std::string_view bytes, bool lineBreaks, std::string& out)
{
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    out.reserve(out.size() + bytes.size() / 3 * 4 + bytes.size() / kBase64LineBytes * 2 + 8);
    std::size_t onLine = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
        if (n > 1)
            group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
        if (n > 2)
            group |= static_cast<std::uint8_t>(bytes[i + 2]);
        out += alphabet[(group >> 18) & 63];
        out += alphabet[(group >> 12) & 63];
        out += n > 1 ? alphabet[(group >> 6) & 63] : '=';
        out += n > 2 ? alphabet[group & 63] : '=';
        onLine += 4;
        if (lineBreaks && onLine == 76) {
            out += kCrLf;
            onLine = 0;
        }
    }
    if (lineBreaks && onLine != 0)
        out += kCrLf;
}

std::string base64(std::string_view bytes, bool lineBreaks)
{
    std::string out;
    appendBase64(bytes, lineBreaks, out);
    return out;
}

// RFC 2047 encoded words of at most 75 characters, folded one per line; a
// word never splits a character.
std::string encodedWords(std::u16string_view text)
{
    const std::string bytes = utf8FromUtf16(text);
    constexpr std::size_t maxBytes = 39; // 52 base64 characters + 12 of framing, after "Subject: " too
    std::string out;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = std::min(bytes.size(), start + maxBytes);
        while (end < bytes.size() && (static_cast<std::uint8_t>(bytes[end]) & 0xC0) == 0x80)
            --end; // back to the start of a character
        if (!out.empty())
            out += "\r\n ";
        out += "=?UTF-8?B?" + base64(std::string_view(bytes).substr(start, end - start), false) + "?=";
        start = end;
    }
    return out;
}

// Plain text only where a reader takes it back unchanged: nothing that looks
// like an encoded word, no blank at either end.
std::string headerText(std::u16string_view text, std::size_t roomOnLine)
{
    if (isAsciiPrintable(text) && text.size() <= roomOnLine && text.find(u"=?") == std::u16string_view::npos
        && (text.empty() || (text.front() != u' ' && text.back() != u' ')))
        return std::string(text.begin(), text.end());
    return encodedWords(text);
}

std::string mailbox(const MailAddress& who)
{
    const std::string address(who.address.begin(), who.address.end());
    if (who.name.empty() || who.name == who.address)
        return "<" + address + ">";
    if (isAsciiPrintable(who.name) && who.name.size() <= 60) {
        std::string quoted = "\"";
        for (char16_t c : who.name) {
            if (c == u'"' || c == u'\\')
                quoted += '\\';
            quoted += static_cast<char>(c);
        }
        return quoted + "\" <" + address + ">";
    }
    return encodedWords(who.name) + "\r\n <" + address + ">";
}

std::string safeFileName(std::u16string_view name)
{
    std::string safe;
    for (char16_t c : name.substr(0, 60))
        safe += (c < 0x80 && (std::isalnum(static_cast<int>(c)) || c == u'.' || c == u'-' || c == u'_')) ? static_cast<char>(c) : '_';
    return safe.empty() ? "attachment" : safe;
}

std::string contentTypeOf(const std::string& fileName)
{
    std::string lower = fileName;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    const auto endsWith = [&](std::string_view suffix) {
        return lower.size() >= suffix.size() && lower.compare(lower.size() - suffix.size(), suffix.size(), suffix) == 0;
    };
    if (endsWith(".jpg") || endsWith(".jpeg"))
        return "image/jpeg";
    if (endsWith(".png"))
        return "image/png";
    if (endsWith(".gif"))
        return "image/gif";
    return "application/octet-stream";
}

const std::string kTextPartHeaders = "Content-Type: text/plain; charset=UTF-8\r\nContent-Transfer-Encoding: base64\r\n";

} // namespace

MailCode validate(const OutgoingMail& mail)
{
    if (!isSafeAddress(mail.from.address) || unfitForHeader(mail.from.name))
        return SenderRejected;
    if (mail.to.empty())
        return RecipientRejected;
    for (const MailAddress& recipient : mail.to)
        if (!isSafeAddress(recipient.address) || unfitForHeader(recipient.name))
            return RecipientRejected;
    if (unfitForHeader(mail.subject))
        return MessageNotFormed;
    return Ok;
}

std::string messageHead(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                        const std::string& boundary)
{
    std::string m;
    m += "Date: " + date + "\r\n";
    m += "From: " + mailbox(mail.from) + "\r\n";
    m += "To: ";
    for (std::size_t i = 0; i < mail.to.size(); ++i)
        m += (i ? ",\r\n " : "") + mailbox(mail.to[i]);
    m += "\r\n";
    m += "Subject: " + headerText(mail.subject, 78 - 9) + "\r\n";
    m += "Message-ID: <" + messageId + ">\r\n";
    m += "MIME-Version: 1.0\r\n";
    const std::string body = base64(utf8FromUtf16(mail.body), true);
    if (mail.attachments.empty())
        return m + kTextPartHeaders + "\r\n" + body;
    m += "Content-Type: multipart/mixed; boundary=\"" + boundary + "\"\r\n\r\n";
    m += "This is a multi-part message in MIME format.\r\n";
    return m + "--" + boundary + "\r\n" + kTextPartHeaders + "\r\n" + body;
}

std::string attachmentHead(const Attachment& attachment, const std::string& boundary)
{
    const std::string name = safeFileName(attachment.fileName);
    // A parameter goes on a line of its own when the line would be too long.
    const auto header = [](const std::string& head, const std::string& parameter) {
        return head + (head.size() + 2 + parameter.size() > 78 ? ";\r\n " : "; ") + parameter + "\r\n";
    };
    return "--" + boundary + "\r\n" + header("Content-Type: " + contentTypeOf(name), "name=\"" + name + "\"")
        + "Content-Transfer-Encoding: base64\r\n" + header("Content-Disposition: attachment", "filename=\"" + name + "\"")
        + "\r\n";
}

std::string messageTail(const OutgoingMail& mail, const std::string& boundary)
{
    return mail.attachments.empty() ? std::string() : "--" + boundary + "--\r\n";
}

std::uint64_t base64LinesSize(std::uint64_t bytes)
{
    return (bytes + 2) / 3 * 4 + (bytes + kBase64LineBytes - 1) / kBase64LineBytes * 2;
}

void appendBase64Lines(const std::uint8_t* bytes, std::size_t count, std::string& out)
{
    appendBase64(std::string_view(reinterpret_cast<const char*>(bytes), count), true, out);
}

std::string dotStuffed(const std::string& message)
{
    DotStuffer stuffer;
    std::string out;
    stuffer.add(message, out);
    stuffer.finish(out);
    return out;
}

} // namespace qel::mail
