#include "mail/SmtpSession.h"

#include <algorithm>
#include <cctype>

#include "mail/DotStuffer.h"

namespace qel::mail {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kMaxLine = 4096;     // far beyond the 512 the protocol allows
constexpr std::size_t kMaxReplyLines = 256;
// The data may take longer than one Timeout on a slow link: each piece must
// still go within Timeout, and all of it at no less than this rate.
constexpr std::uint64_t kSlowestBytesPerSecond = 16 * 1024;
// QUIT's reply only tells that the server heard it: not worth a long wait.
constexpr milliseconds kQuitWait{2000};

// Reads one reply (all its lines) and gives its three-digit code.
class ReplyReader {
public:
    explicit ReplyReader(SmtpTransport& transport) : transport_(transport) {}

    // `text` gets each line after its code and separator.
    MailCode read(int& code, Deadline deadline, std::vector<std::string>* text = nullptr)
    {
        for (std::size_t lines = 0; lines < kMaxReplyLines; ++lines) {
            std::string line;
            if (const MailCode status = nextLine(line, deadline); status != Sent)
                return status;
            if (line.size() < 3 || !std::all_of(line.begin(), line.begin() + 3, [](char c) { return c >= '0' && c <= '9'; }))
                return UnexpectedReply;
            const int lineCode = std::stoi(line.substr(0, 3));
            if (lines > 0 && lineCode != code)
                return UnexpectedReply;
            code = lineCode;
            if (text)
                text->push_back(line.size() > 4 ? line.substr(4) : std::string());
            if (line.size() == 3 || line[3] == ' ')
                return Sent;
            if (line[3] != '-')
                return UnexpectedReply;
        }
        return UnexpectedReply;
    }

private:
    MailCode nextLine(std::string& line, Deadline deadline)
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
            if (deadline.passed())
                return NoReplyInTime;
            if (const MailCode status = transport_.receive(buffer_, deadline); status != Sent)
                return status;
        }
    }

    SmtpTransport& transport_;
    std::string buffer_;
};

// The limit of an EHLO line "SIZE [n]": 0 when none is given.
bool sizeLimitOf(const std::string& line, std::uint64_t& limit)
{
    std::string keyword = line.substr(0, line.find(' '));
    std::transform(keyword.begin(), keyword.end(), keyword.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (keyword != "SIZE")
        return false;
    limit = 0;
    for (std::size_t i = 5; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
        if (limit > (UINT64_MAX - 9) / 10)
            return true; // beyond any message
        limit = limit * 10 + static_cast<std::uint64_t>(line[i] - '0');
    }
    return true;
}

class Dialogue {
public:
    Dialogue(SmtpTransport& transport, const DeliveryOptions& options) : transport_(transport), options_(options), replies_(transport) {}

    Deadline stepDeadline() const { return Deadline::in(options_.stepTimeout); }

    // Sends a command and reads its reply, both by one deadline; `refused`
    // when the reply is not one of `expected`.
    MailCode exchange(const std::string& command, std::initializer_list<int> expected, MailCode refused,
                      std::vector<std::string>* text = nullptr)
    {
        const Deadline deadline = stepDeadline();
        if (const MailCode status = transport_.send(command, deadline); status != Sent)
            return status;
        return expect(expected, refused, deadline, text);
    }

    MailCode expect(std::initializer_list<int> expected, MailCode refused, Deadline deadline,
                    std::vector<std::string>* text = nullptr)
    {
        code_ = 0;
        if (const MailCode status = replies_.read(code_, deadline, text); status != Sent)
            return status;
        if (code_ == 552)
            return MessageNotFormed; // RFC 1870: the message is too large
        return std::find(expected.begin(), expected.end(), code_) != expected.end() ? Sent : refused;
    }

    int code() const { return code_; }

    // Says goodbye at a command boundary: the reply awaited briefly when the
    // server is still talking, not at all when it has stopped answering.
    MailCode quit(MailCode outcome)
    {
        if (outcome == ConnectionDropped)
            return outcome;
        const Deadline brief = Deadline::in(std::min(kQuitWait, options_.stepTimeout));
        if (transport_.send("QUIT\r\n", brief) == Sent && outcome != NoReplyInTime) {
            int ignored = 0;
            replies_.read(ignored, brief);
        }
        return outcome;
    }

private:
    SmtpTransport& transport_;
    const DeliveryOptions& options_;
    ReplyReader replies_;
    int code_ = 0;
};

MailCode sendData(SmtpTransport& transport, MessageData& data, const DeliveryOptions& options)
{
    const Deadline all = Deadline::in(options.stepTimeout + milliseconds(data.size() * 1000 / kSlowestBytesPerSecond));
    DotStuffer stuffer;
    std::string piece, stuffed;
    for (;;) {
        if (const MailCode status = data.next(piece); status != Sent)
            return status;
        stuffed.clear();
        if (piece.empty())
            stuffer.finish(stuffed);
        else
            stuffer.add(piece, stuffed);
        if (const MailCode status = transport.send(stuffed, Deadline::earliest(all, Deadline::in(options.stepTimeout)));
            status != Sent)
            return status;
        if (piece.empty())
            return Sent;
    }
}

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
    if (text.empty())
        return NoServer;
    out = ServerAddress{};
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
    // Names, IPv4 and IPv6 addresses (with a zone) are made of these alone.
    if (!std::all_of(out.host.begin(), out.host.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == ':' || c == '%' || c == '_';
        }))
        return HostNotResolved;
    if (out.port.empty() || out.port.size() > 5 || !std::all_of(out.port.begin(), out.port.end(), ::isdigit)
        || std::stoi(out.port) == 0 || std::stoi(out.port) > 65535)
        return CannotConnect;
    return Sent;
}

bool isEhloDomain(std::string_view domain)
{
    if (domain.empty() || domain.size() > 255)
        return false;
    if (domain.front() == '[')
        return domain.size() > 2 && domain.back() == ']'
            && std::all_of(domain.begin() + 1, domain.end() - 1, [](char c) {
                   return std::isxdigit(static_cast<unsigned char>(c)) || c == '.' || c == ':'
                       || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
               });
    std::size_t label = 0;
    for (std::size_t i = 0; i <= domain.size(); ++i) {
        if (i == domain.size() || domain[i] == '.') {
            if (label == 0 || label > 63 || domain[i - 1] == '-' || domain[i - label] == '-')
                return false;
            label = 0;
        } else if (std::isalnum(static_cast<unsigned char>(domain[i])) || domain[i] == '-') {
            ++label;
        } else {
            return false;
        }
    }
    return true;
}

MailCode deliver(SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope, MessageData& data,
                 const DeliveryOptions& options)
{
    const std::string domain = options.domain.empty() ? transport.localAddressLiteral() : options.domain;
    if (!isEhloDomain(domain))
        return ConversationRefused;
    const Deadline resolving = Deadline::in(options.stepTimeout);
    if (const MailCode status = transport.connect(server.host, server.port, resolving,
                                                  Deadline::at(resolving.when() + options.stepTimeout));
        status != Sent)
        return status;
    Dialogue dialogue(transport, options);

    if (const MailCode status = dialogue.expect({220}, UnexpectedReply, dialogue.stepDeadline()); status != Sent)
        return dialogue.quit(status);
    std::vector<std::string> extensions;
    MailCode greeting = dialogue.exchange("EHLO " + domain + "\r\n", {250}, ConversationRefused, &extensions);
    if (greeting == ConversationRefused && dialogue.code() >= 500) { // an old server: say HELO instead
        extensions.clear();
        greeting = dialogue.exchange("HELO " + domain + "\r\n", {250}, ConversationRefused);
    }
    if (greeting != Sent)
        return dialogue.quit(greeting);

    std::string sizeParameter;
    for (std::size_t i = 1; i < extensions.size(); ++i) { // the first line greets
        std::uint64_t limit = 0;
        if (!sizeLimitOf(extensions[i], limit))
            continue;
        if (limit != 0 && data.size() > limit)
            return dialogue.quit(MessageNotFormed);
        sizeParameter = " SIZE=" + std::to_string(data.size());
    }
    if (const MailCode status = dialogue.exchange("MAIL FROM:<" + envelope.from + ">" + sizeParameter + "\r\n", {250},
                                                  SenderRejected);
        status != Sent)
        return dialogue.quit(status);
    for (const std::string& recipient : envelope.to)
        if (const MailCode status = dialogue.exchange("RCPT TO:<" + recipient + ">\r\n", {250, 251}, RecipientRejected);
            status != Sent)
            return dialogue.quit(status);
    if (const MailCode status = dialogue.exchange("DATA\r\n", {354}, UnexpectedReply); status != Sent)
        return dialogue.quit(status);
    // A failure inside the data leaves the connection to be closed without the
    // final dot, so the server drops what it got.
    if (const MailCode status = sendData(transport, data, options); status != Sent)
        return status;
    if (const MailCode status = dialogue.expect({250}, UnexpectedReply, Deadline::in(options.finalReplyTimeout));
        status != Sent)
        return dialogue.quit(status);
    return dialogue.quit(Sent);
}

} // namespace qel::mail
