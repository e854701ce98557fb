#include "mail/SmtpSession.h"

#include <algorithm>

namespace qel::mail {

namespace {

constexpr std::size_t kMaxLine = 4096;     // far beyond the 512 the protocol allows
constexpr std::size_t kMaxReplyLines = 256;

// Reads one reply (all its lines) and gives its three-digit code.
class ReplyReader {
public:
    explicit ReplyReader(SmtpTransport& transport) : transport_(transport) {}

    MailCode read(int& code)
    {
        for (std::size_t lines = 0; lines < kMaxReplyLines; ++lines) {
            std::string line;
            if (const MailCode status = nextLine(line); status != Sent)
                return status;
            if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
                return UnexpectedReply;
            const int lineCode = std::stoi(line.substr(0, 3));
            if (lines > 0 && lineCode != code)
                return UnexpectedReply;
            code = lineCode;
            if (line.size() == 3 || line[3] == ' ')
                return Sent;
            if (line[3] != '-')
                return UnexpectedReply;
        }
        return UnexpectedReply;
    }

private:
    MailCode nextLine(std::string& line)
    {
        for (;;) {
            const auto end = buffer_.find('\n');
            if (end != std::string::npos) {
                line = buffer_.substr(0, end);
                buffer_.erase(0, end + 1);
                if (!line.empty() && line.back() == '\r')
                    line.pop_back();
                return line.size() > kMaxLine ? UnexpectedReply : Sent;
            }
            if (buffer_.size() > kMaxLine)
                return UnexpectedReply;
            if (const MailCode status = transport_.receive(buffer_); status != Sent)
                return status;
        }
    }

    SmtpTransport& transport_;
    std::string buffer_;
};

} // namespace

MailCode parseServer(std::u16string_view server, ServerAddress& out)
{
    std::string text;
    for (char16_t c : server) {
        if (c == u' ' || c == u'\t')
            continue;
        if (c < 0x21 || c > 0x7E)
            return HostNotResolved; // no such host name can exist
        text += static_cast<char>(c);
    }
    struct Scheme {
        std::string_view prefix;
        Security security;
        const char* port;
    };
    const Scheme* scheme = nullptr;
    static constexpr Scheme kSchemes[] = {
        {"smtp://", Security::Plain, "25"}, {"starttls://", Security::StartTls, "587"}, {"smtps://", Security::Implicit, "465"}};
    for (const Scheme& s : kSchemes)
        if (text.size() >= s.prefix.size()
            && std::equal(s.prefix.begin(), s.prefix.end(), text.begin(), [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); })) {
            scheme = &s;
            text.erase(0, s.prefix.size());
        }
    if (text.empty())
        return NoServer;
    out = ServerAddress{};
    if (scheme)
        out.port = scheme->port;
    if (text.front() == '[') {
        const auto close = text.find(']');
        if (close == std::string::npos)
            return HostNotResolved;
        out.host = text.substr(1, close - 1);
        if (close + 1 < text.size()) {
            if (text[close + 1] != ':')
                return HostNotResolved;
            out.port = text.substr(close + 2);
        }
    } else if (std::count(text.begin(), text.end(), ':') == 1) {
        const auto colon = text.find(':');
        out.host = text.substr(0, colon);
        out.port = text.substr(colon + 1);
    } else {
        out.host = text; // a name, or an IPv6 address without brackets
    }
    if (out.host.empty())
        return NoServer;
    if (out.port.empty() || out.port.size() > 5 || !std::all_of(out.port.begin(), out.port.end(), ::isdigit)
        || std::stoi(out.port) == 0 || std::stoi(out.port) > 65535)
        return CannotConnect;
    out.port = std::to_string(std::stoi(out.port));
    out.security = scheme ? scheme->security
                 : out.port == "465" ? Security::Implicit
                 : out.port == "587" ? Security::StartTls
                                     : Security::Plain;
    return Sent;
}

MailCode deliver(SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope,
                 const std::string& dotStuffedData)
{
    if (const MailCode status = transport.connect(server.host, server.port); status != Sent)
        return status;
    ReplyReader replies(transport);
    int code = 0;
    // Sends a command and reads its reply; `refused` when the reply is not `expected`.
    const auto exchange = [&](const std::string& command, std::initializer_list<int> expected, MailCode refused) {
        code = 0;
        if (const MailCode status = transport.send(command); status != Sent)
            return status;
        if (const MailCode status = replies.read(code); status != Sent)
            return status;
        return std::find(expected.begin(), expected.end(), code) != expected.end() ? Sent : refused;
    };

    if (const MailCode status = replies.read(code); status != Sent)
        return status;
    if (code != 220)
        return UnexpectedReply;
    MailCode greeting = exchange("EHLO " + envelope.heloName + "\r\n", {250}, UnexpectedReply);
    if (greeting == UnexpectedReply && code >= 500) // an old server: say HELO instead
        greeting = exchange("HELO " + envelope.heloName + "\r\n", {250}, UnexpectedReply);
    if (greeting != Sent)
        return greeting;
    if (const MailCode status = exchange("MAIL FROM:<" + envelope.from + ">\r\n", {250}, SenderRejected); status != Sent)
        return status;
    for (const std::string& recipient : envelope.to)
        if (const MailCode status = exchange("RCPT TO:<" + recipient + ">\r\n", {250, 251}, RecipientRejected); status != Sent)
            return status;
    if (const MailCode status = exchange("DATA\r\n", {354}, UnexpectedReply); status != Sent)
        return status;
    if (const MailCode status = transport.send(dotStuffedData); status != Sent)
        return status;
    if (const MailCode status = replies.read(code); status != Sent)
        return status;
    if (code != 250)
        return UnexpectedReply;
    transport.send("QUIT\r\n"); // the mail is accepted; how the server says goodbye does not matter
    return Sent;
}

} // namespace qel::mail
