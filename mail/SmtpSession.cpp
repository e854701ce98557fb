#include "mail/SmtpSession.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "mail/DotStuffer.h"
#include "mail/SmtpAuth.h"
#include "mail/DetailText.h"

namespace qel::mail {

namespace {

using std::chrono::milliseconds;

constexpr std::size_t kMaxLine = 4096;     // far beyond the 512 the protocol allows
constexpr std::size_t kMaxReplyLines = 256;
// The data may take longer than one Timeout on a slow link: each piece must
// still go within Timeout, and all of it at no less than this rate.
constexpr std::uint64_t kSlowestBytesPerSecond = 16 * 1024;
// What the data is gathered into before it goes out.
constexpr std::size_t kDataWrite = 64 * 1024;
// Replies owed at most at once in a pipelined group: even at the longest
// a reply may be, they fit a server's socket buffers, so a server that stops
// reading until its replies are read never waits on us while we wait on it
// (RFC 2920 3.1).
constexpr std::size_t kMostUnanswered = 16;
// QUIT's reply only tells that the server heard it: not worth a long wait.
constexpr milliseconds kQuitWait{2000};
// Enough of a reply to say why; a server cannot make the detail grow without end.
constexpr std::size_t kMaxDetail = 512;

// Reads one reply (all its lines) and gives its three-digit code.
class ReplyReader {
public:
    explicit ReplyReader(SmtpTransport& transport) : transport_(transport) {}

    // `text` gets each line after its code and separator.
    MailCode read(int& code, Deadline deadline, std::vector<std::string>* text = nullptr)
    {
        for (std::size_t lines = 0; lines < kMaxReplyLines; ++lines) {
            std::string line;
            if (const MailCode status = nextLine(line, deadline); status != Ok)
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
                return Ok;
            if (line[3] != '-')
                return UnexpectedReply;
        }
        return UnexpectedReply;
    }

    // Bytes already read but not yet taken as a reply.
    bool holdsUnread() const { return !buffer_.empty(); }
    void discardUnread() { buffer_.clear(); }
    void wipeUnread()
    {
        wipe(buffer_.data(), buffer_.capacity());
        buffer_.clear();
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
                return line.size() > kMaxLine ? UnexpectedReply : Ok;
            }
            if (buffer_.size() > kMaxLine)
                return UnexpectedReply;
            if (deadline.passed())
                return NoReplyInTime;
            if (const MailCode status = transport_.receive(buffer_, deadline); status != Ok)
                return status;
        }
    }

    SmtpTransport& transport_;
    std::string buffer_;
};

// "5.7.8" and the like (RFC 3463): class, subject, detail.
bool isEnhancedStatus(const std::string& word)
{
    int parts = 0;
    std::size_t digits = 0;
    for (const char c : word) {
        if (c == '.') {
            if (digits == 0 || ++parts > 2)
                return false;
            digits = 0;
        } else if (!std::isdigit(static_cast<unsigned char>(c)) || ++digits > 3) {
            return false;
        }
    }
    return parts == 2 && digits > 0 && (word[0] == '2' || word[0] == '4' || word[0] == '5') && word[1] == '.';
}

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
    MailCode exchange(std::string_view command, std::initializer_list<int> expected, MailCode refused,
                      std::vector<std::string>* text = nullptr)
    {
        const Deadline deadline = stepDeadline();
        said(command);
        if (const MailCode status = transport_.send(command, deadline); status != Ok)
            return status;
        return expect(expected, refused, deadline, text);
    }

    MailCode expect(std::initializer_list<int> expected, MailCode refused, Deadline deadline,
                    std::vector<std::string>* text = nullptr)
    {
        if (const MailCode status = reply(deadline, text); status != Ok)
            return status;
        return std::find(expected.begin(), expected.end(), code_) != expected.end() ? Ok : refuseWithReply(refused);
    }

    // Reads the next reply, whatever its code: Ok when there was one.
    MailCode reply(Deadline deadline, std::vector<std::string>* text = nullptr)
    {
        code_ = 0;
        std::vector<std::string> lines;
        if (const MailCode status = replies_.read(code_, deadline, &lines); status != Ok)
            return status;
        lastReply_ = std::to_string(code_);
        if (secretReplies_) {
            // A reply to AUTH may quote what was sent: its code and enhanced status only.
            const std::string status = lines.empty() ? std::string() : lines.back().substr(0, lines.back().find(' '));
            if (isEnhancedStatus(status))
                lastReply_ += ' ' + status;
            tell("S: " + lastReply_);
        } else {
            for (std::size_t i = 0; i < lines.size(); ++i) {
                const std::string line = escapedText(lines[i], kMaxDetail);
                lastReply_ += ' ' + line;
                tell("S: " + std::to_string(code_) + (i + 1 < lines.size() ? "-" : " ") + line);
            }
            lastReply_.resize(std::min(lastReply_.size(), kMaxDetail));
        }
        if (text)
            text->insert(text->end(), lines.begin(), lines.end());
        return Ok;
    }

    int code() const { return code_; }

    // While set, replies are kept out of the detail and wiped once read.
    void secretReplies(bool secret)
    {
        secretReplies_ = secret;
        if (!secret)
            replies_.wipeUnread();
    }

    // Bytes the server sent before a TLS handshake are no replies.
    void discardUnread() { replies_.discardUnread(); }
    bool holdsUnread() const { return replies_.holdsUnread(); }

    void tell(std::string_view line) const
    {
        if (options_.observer)
            options_.observer->line(line);
    }
    // A command as it goes out, without its line end; during AUTH only the
    // mechanism's name.
    void said(std::string_view command) const
    {
        if (!options_.observer)
            return;
        if (command.size() >= 2 && command.substr(command.size() - 2) == "\r\n")
            command.remove_suffix(2);
        if (secretReplies_)
            command = command.starts_with("AUTH ") ? command.substr(0, command.find(' ', 5)) : std::string_view();
        tell("C: " + (secretReplies_ ? std::string(command) + (command.empty() ? "" : " ") + "[hidden]" : escapedText(command)));
    }

    // Ends with `code` for a reason of the component's own.
    MailCode refuse(MailCode code, std::string reason)
    {
        detail_ = std::move(reason);
        return code;
    }
    // Ends with `code` because of the reply just read; a 4xx says that a
    // later try may succeed.
    MailCode refuseWithReply(MailCode code, bool temporary = false)
    {
        temporary = temporary || code_ / 100 == 4;
        detail_ = (temporary ? "temporary failure, a later try may succeed; the server answered: " : "the server answered: ")
                + lastReply_;
        return code;
    }
    const std::string& detail() const { return detail_; }
    void forgetDetail() { detail_.clear(); }

    // Says goodbye at a command boundary: the reply awaited briefly when the
    // server is still talking, not at all when it has stopped answering or
    // once the mail is delivered (the reply would change nothing).
    MailCode quit(MailCode outcome)
    {
        if (outcome == ConnectionDropped)
            return outcome;
        const Deadline brief = Deadline::in(std::min(kQuitWait, options_.stepTimeout));
        said("QUIT\r\n");
        if (transport_.send("QUIT\r\n", brief) == Ok && outcome != NoReplyInTime && outcome != Ok) {
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
    bool secretReplies_ = false;
    std::string lastReply_, detail_;
};

// The message after DATA (dot-stuffed, the final dot with the last piece)
// or after BDAT (`counted`: as it is, exactly data.size() octets, since more
// would be read as commands). `head` goes in the first write.
MailCode sendMessage(SmtpTransport& transport, MessageData& data, const DeliveryOptions& options, std::string head,
                     bool counted)
{
    const Deadline all = Deadline::in(options.stepTimeout + milliseconds(data.size() * 1000 / kSlowestBytesPerSecond));
    DotStuffer stuffer;
    std::uint64_t left = data.size();
    std::string piece, pending = std::move(head);
    for (;;) {
        if (const MailCode status = data.next(piece); status != Ok)
            return status;
        if (counted) {
            if (piece.size() > left || (piece.empty() && left > 0))
                return MessageNotFormed;
            left -= piece.size();
            pending += piece;
        } else if (piece.empty()) {
            stuffer.finish(pending);
        } else {
            stuffer.add(piece, pending);
        }
        // The end goes with the last piece: alone, it could wait a round
        // trip for the acknowledgement of that piece (Nagle).
        if (!piece.empty() && pending.size() < kDataWrite)
            continue;
        if (const MailCode status = transport.send(pending, Deadline::earliest(all, Deadline::in(options.stepTimeout)));
            status != Ok)
            return status;
        pending.clear();
        if (piece.empty())
            return Ok;
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
            break;
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
    // "mail.example.com." is the same name made absolute; the certificate names it without the dot.
    if (out.host.size() > 1 && out.host.back() == '.') {
        out.host.pop_back();
        if (out.host.back() == '.')
            return HostNotResolved;
    }
    if (out.host.empty())
        return NoServer;
    // Names, IPv4 and IPv6 addresses (with a zone) are made of these alone.
    if (!std::all_of(out.host.begin(), out.host.end(), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == ':' || c == '%' || c == '_';
        }))
        return HostNotResolved;
    if (out.port.empty() || out.port.size() > 5 || !std::all_of(out.port.begin(), out.port.end(), [](unsigned char c) { return std::isdigit(c) != 0; }))
        return CannotConnect;
    const int port = std::stoi(out.port);
    if (port == 0 || port > 65535)
        return CannotConnect;
    out.port = std::to_string(port);
    out.security = scheme ? scheme->security
                 : out.port == "465" ? Security::Implicit
                 : out.port == "587" ? Security::StartTls
                                     : Security::Plain;
    return Ok;
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

namespace {

// One AUTH exchange; AuthExchange ends every one within three rounds.
MailCode authenticateOnce(Dialogue& dialogue, AuthMechanism mechanism, const Credentials& credentials, std::string& refusal)
{
    AuthExchange exchange(mechanism, credentials);
    SecretText line = exchange.firstLine();
    for (;;) {
        std::vector<std::string> reply;
        MailCode status = dialogue.exchange(line.view(), {235, 334}, AuthenticationFailed, &reply);
        const std::string challenge = reply.empty() ? std::string() : reply.back();
        for (std::string& text : reply)
            wipe(text.data(), text.size());
        if (status == UnexpectedReply)
            return dialogue.refuse(AuthProtocolError, "the server's reply to AUTH is no SMTP reply");
        if (status != Ok && status != AuthenticationFailed)
            return status;
        status = exchange.answer(dialogue.code(), challenge, line);
        if (status != Ok) {
            dialogue.refuseWithReply(status);
            refusal = exchange.refusalStatus();
            if (!exchange.refusalStatus().empty())
                return dialogue.refuse(status, "the server refused the access token (status " + exchange.refusalStatus()
                                                   + "); " + dialogue.detail());
            return status;
        }
        if (line.empty())
            return Ok;
    }
}

// AUTH with the mechanism chosen from what EHLO offered (after TLS). A token
// the server calls invalid or expired may be one the endpoint has revoked
// since it was kept: one fresh token is tried before giving up. No other
// refusal (SMTP AUTH turned off for the mailbox, a 454) is mended by one.
MailCode authenticate(Dialogue& dialogue, const std::vector<std::string>& extensions, Credentials& credentials,
                      TokenSource* tokens, Deadline renewing)
{
    const ServerCapabilities offered = capabilitiesOf(extensions);
    const AuthMechanism mechanism = chooseMechanism(offered, credentials.accessToken);
    if (mechanism == AuthMechanism::None)
        return dialogue.refuse(AuthModeNotSupported, credentials.accessToken ? "the server does not offer AUTH XOAUTH2, which an OAuth account needs"
                                                     : offered.authOffered ? "the server offers neither AUTH PLAIN nor AUTH LOGIN"
                                                                           : "the server offers no authentication");
    dialogue.secretReplies(true);
    std::string refusal;
    MailCode status = authenticateOnce(dialogue, mechanism, credentials, refusal);
    if (status == AuthenticationFailed && mechanism == AuthMechanism::XOAuth2 && tokens && tokenExpired(refusal)) {
        std::string why;
        credentials.password.clear();
        if (const MailCode renewed = tokens->token(true, renewing, credentials.password, why); renewed != Ok)
            status = dialogue.refuse(renewed, why + "; " + dialogue.detail());
        else
            status = authenticateOnce(dialogue, mechanism, credentials, refusal);
    }
    dialogue.secretReplies(false);
    return status;
}

MailCode transact(Dialogue& dialogue, SmtpTransport& transport, const std::vector<std::string>& extensions,
                  const Envelope& envelope, MessageData& data, const DeliveryOptions& options, bool resumed, bool& untaken);

MailCode converse(Dialogue& dialogue, SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope,
                  MessageData& data, const DeliveryOptions& options, bool& untaken)
{
    const std::string domain = options.domain.empty() ? transport.localAddressLiteral() : options.domain;
    if (!isEhloDomain(domain))
        return ConversationRefused;
    const bool withAccount = options.credentials && options.credentials->present();
    if (withAccount && server.security == Security::Plain)
        return dialogue.refuse(AuthModeNotSupported, "an account is sent only over TLS: name the server host:587, "
                                                     "host:465, starttls://host or smtps://host");
    // The token first: an endpoint that refuses leaves the mail server untouched.
    if (withAccount && options.credentials->accessToken && options.tokens) {
        std::string why;
        options.credentials->password.clear();
        if (const MailCode status = options.tokens->token(false, dialogue.stepDeadline(), options.credentials->password, why);
            status != Ok)
            return dialogue.refuse(status, why);
        if (const std::string summary = options.tokens->summary(); !summary.empty())
            dialogue.tell("token: " + summary);
    }
    const Deadline resolving = Deadline::in(options.stepTimeout);
    if (const MailCode status = transport.connect(server.host, server.port, resolving,
                                                  Deadline::at(resolving.when() + options.stepTimeout));
        status != Ok)
        return status;
    dialogue.tell("connected to " + transport.peerAddress());
    // Where TLS fails or is refused, nothing more is sent, not even QUIT.
    if (server.security == Security::Implicit) {
        if (const MailCode status = transport.startTls(dialogue.stepDeadline()); status != Ok)
            return status;
        dialogue.tell("TLS: " + transport.securitySummary());
    }

    if (const MailCode status = dialogue.expect({220}, UnexpectedReply, dialogue.stepDeadline()); status != Ok)
        return dialogue.quit(status);
    std::vector<std::string> extensions;
    MailCode greeting = dialogue.exchange("EHLO " + domain + "\r\n", {250}, ConversationRefused, &extensions);
    if (greeting == ConversationRefused && dialogue.code() >= 500 && server.security != Security::StartTls) {
        extensions.clear(); // an old server: say HELO instead
        dialogue.forgetDetail();
        greeting = dialogue.exchange("HELO " + domain + "\r\n", {250}, ConversationRefused);
    }
    if (greeting != Ok)
        return dialogue.quit(greeting);

    if (server.security == Security::StartTls) {
        if (!capabilitiesOf(extensions).startTls)
            return dialogue.refuse(UnexpectedReply, "the server does not offer STARTTLS, which MailServer requires");
        if (const MailCode status = dialogue.exchange("STARTTLS\r\n", {220}, UnexpectedReply); status != Ok)
            return status;
        // Anything that came behind the 220 was sent before TLS: an attacker's, not the server's.
        dialogue.discardUnread();
        if (const MailCode status = transport.startTls(dialogue.stepDeadline()); status != Ok)
            return status;
        dialogue.tell("TLS: " + transport.securitySummary());
        extensions.clear();
        if (const MailCode status = dialogue.exchange("EHLO " + domain + "\r\n", {250}, ConversationRefused, &extensions);
            status != Ok)
            return dialogue.quit(status);
    }
    if (withAccount)
        if (const MailCode status = authenticate(dialogue, extensions, *options.credentials, options.tokens, dialogue.stepDeadline());
            status != Ok)
            return dialogue.quit(status);
    if (options.reach == DeliveryOptions::Reach::Authentication)
        return dialogue.quit(Ok);

    return transact(dialogue, transport, extensions, envelope, data, options, false, untaken);
}

// One command of a mail's transaction, for the reply it is owed.
struct Command {
    enum Kind { Mail, Rcpt, Data, Bdat, Rset } kind;
    std::string text;
};

// Ok, or the code a reply to `kind` ends the mail with. A 421 closes the
// connection at any step: neither the sender nor the recipient was at fault.
MailCode verdictOn(Command::Kind kind, int code, bool final)
{
    if (code == 421)
        return ConnectionDropped;
    if (final) // BDAT's reply, or the one to the dot
        return code / 100 == 2 ? Ok : code == 552 ? MessageNotFormed : UnexpectedReply;
    switch (kind) {
    case Command::Mail:
        return code == 250 ? Ok : code == 552 ? MessageNotFormed : SenderRejected; // 552: over SIZE (RFC 1870)
    case Command::Rcpt:
        return code == 250 || code == 251 ? Ok : RecipientRejected;
    case Command::Rset:
        return code == 250 ? Ok : UnexpectedReply;
    default:
        return code == 354 ? Ok : UnexpectedReply;
    }
}

// MAIL, RCPT per recipient and DATA, or BDAT with the message, every reply
// read in order; where the server pipelines, written in groups of at most
// kMostUnanswered. The rules for what the caller learns, here and nowhere
// else:
// - A reply still owed once any byte of the message has gone is waited for
//   under FinalReplyTimeout, since the server may hold it until it has
//   checked the message; before that, under Timeout.
// - The mail is delivered exactly when the final reply (to BDAT, or to the
//   dot) is 2xx.
// - A refused sender or recipient ends the mail before its data; a 354 that
//   still came is answered by closing, so the server drops the empty message.
// - `untaken`: the connection closed (a 421, or no reply at all) where the
//   server cannot have taken the mail (none of it written, or a 421 to a
//   command before it), and no later reply was 2xx. Only such a mail may go
//   again on a new connection.
// - After the whole message, a lost connection or a final reply that never
//   came may hide a delivered mail: the detail says so.
MailCode transact(Dialogue& dialogue, SmtpTransport& transport, const std::vector<std::string>& extensions,
                  const Envelope& envelope, MessageData& data, const DeliveryOptions& options, bool resumed, bool& untaken)
{
    untaken = false;
    std::string sizeParameter;
    for (std::size_t i = 1; i < extensions.size(); ++i) { // the first line greets
        std::uint64_t limit = 0;
        if (!sizeLimitOf(extensions[i], limit))
            continue;
        if (limit != 0 && data.size() > limit)
            return dialogue.quit(dialogue.refuse(MessageNotFormed, "the message is larger than the server takes"));
        sizeParameter = " SIZE=" + std::to_string(data.size());
    }
    const ServerCapabilities offered = capabilitiesOf(extensions);
    const bool pipelined = options.pipelining && offered.pipelining;
    // The message goes before any reply is read, so only to one recipient (a
    // refused one leaves nobody to deliver to, never part of a list) and
    // only when it is small: beyond that its transfer outweighs the round
    // trip saved, and a refusal would waste it.
    const bool rehearsal = options.reach == DeliveryOptions::Reach::Recipients;
    const bool chunked = !rehearsal && pipelined && offered.chunking && envelope.to.size() == 1 && data.size() <= kMostSentUnasked;
    if (resumed && !transport.quiet()) {
        untaken = true;
        return dialogue.refuse(ConnectionDropped, "the kept connection was closed by the server while it waited");
    }
    std::vector<Command> commands{{Command::Mail, "MAIL FROM:<" + envelope.from + ">" + sizeParameter + "\r\n"}};
    for (const std::string& recipient : envelope.to)
        commands.push_back({Command::Rcpt, "RCPT TO:<" + recipient + ">\r\n"});
    commands.push_back(rehearsal ? Command{Command::Rset, "RSET\r\n"}
                       : chunked ? Command{Command::Bdat, "BDAT " + std::to_string(data.size()) + " LAST\r\n"}
                                 : Command{Command::Data, "DATA\r\n"});

    bool messageStarted = false;   // a byte of it went
    std::optional<Deadline> final; // the whole of it went
    MailCode refusal = Ok, failure = Ok;
    bool refusedFinal = false, closing = false, acceptedSince = false, delivered = false;
    const auto hear = [&](std::size_t i, Deadline deadline, bool isFinal) {
        // After a 421 nothing is worth the final reply's long wait.
        if (const MailCode status = dialogue.reply(closing ? dialogue.stepDeadline() : final ? *final : deadline); status != Ok)
            return failure = status;
        const int code = dialogue.code();
        const MailCode verdict = verdictOn(commands[i].kind, code, isFinal);
        if (verdict == Ok) {
            acceptedSince = acceptedSince || (refusal != Ok && code / 100 == 2);
            delivered = isFinal;
        } else if (refusal == Ok) {
            refusal = verdict;
            refusedFinal = isFinal;
            closing = code == 421;
            // A full mailbox at RCPT is a 452 in all but name (RFC 5321 4.5.3.1.10).
            dialogue.refuseWithReply(verdict, commands[i].kind == Command::Rcpt && code == 552);
        }
        return Ok;
    };
    for (std::size_t next = 0; next < commands.size() && refusal == Ok && failure == Ok;) {
        const std::size_t first = next;
        std::string batch;
        for (; next < commands.size() && next - first < (pipelined ? kMostUnanswered : 1); ++next) {
            dialogue.said(commands[next].text);
            batch += commands[next].text;
        }
        const Deadline deadline = dialogue.stepDeadline();
        if (chunked && next == commands.size()) {
            messageStarted = true;
            dialogue.tell("C: [the message, " + std::to_string(data.size()) + " octets]");
            // A failure inside the message leaves the connection to be closed short of its count.
            const MailCode written = sendMessage(transport, data, options, std::move(batch), true);
            if (written == Ok)
                final = Deadline::in(options.finalReplyTimeout);
            else if (written != ConnectionDropped)
                return written;
            // Closed under the write: a 421 before it may still be there to read.
        } else if (const MailCode written = transport.send(batch, deadline); written != Ok) {
            failure = written;
            break;
        }
        for (std::size_t i = first; i < next && failure == Ok; ++i)
            hear(i, deadline, commands[i].kind == Command::Bdat);
    }
    if (rehearsal && refusal == Ok && failure == Ok)
        return dialogue.quit(Ok);
    if (refusal == Ok && failure == Ok && !chunked) {
        // A failure inside the data leaves the connection to be closed without
        // the final dot, so the server drops what it got.
        messageStarted = true;
        dialogue.tell("C: [the message, " + std::to_string(data.size()) + " octets, and the final dot]");
        if (const MailCode written = sendMessage(transport, data, options, {}, false); written != Ok)
            return written;
        final = Deadline::in(options.finalReplyTimeout);
        hear(commands.size() - 1, *final, true);
    }

    if (delivered) {
        // Kept only when the server has said nothing more: unread bytes would
        // put the next mail out of step.
        if (options.session && refusal == Ok && !dialogue.holdsUnread() && transport.quiet()) {
            options.session->open = true;
            options.session->extensions = extensions;
            return Ok;
        }
        return dialogue.quit(Ok);
    }
    if (refusal != Ok) {
        untaken = closing && !acceptedSince && (!messageStarted || !refusedFinal);
        // Closing is the answer to a 354 after a refusal, and all a 421 leaves.
        return closing || dialogue.code() == 354 ? refusal : dialogue.quit(refusal);
    }
    untaken = failure == ConnectionDropped && !messageStarted;
    if (final && (failure == ConnectionDropped || failure == NoReplyInTime))
        return dialogue.refuse(failure, failure == ConnectionDropped
                                            ? "the server may have taken the message: the connection was closed after all of it was sent"
                                            : "the server may have taken the message: it sent no final reply within FinalReplyTimeout");
    return dialogue.quit(failure);
}

// Words for a failure that neither the server nor the transport explained.
std::string plainDetail(MailCode code)
{
    switch (code) {
    case NoReplyInTime:
        return "the server did not answer in time";
    case ConnectionDropped:
        return "the connection was closed";
    case HostNotResolved:
        return "the server's name could not be resolved";
    case ResolveTimedOut:
        return "resolving the server's name took too long";
    case CannotConnect:
        return "the server could not be reached";
    case ConnectTimedOut:
        return "connecting to the server took too long";
    default:
        return {};
    }
}

} // namespace

void closeSession(SmtpTransport& transport)
{
    transport.send("QUIT\r\n", Deadline::in(kQuitWait));
}

MailCode deliver(SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope, MessageData& data,
                 const DeliveryOptions& options)
{
    SessionState* const session = options.session;
    const bool resumed = session && session->open;
    if (session)
        session->open = false;
    const auto attempt = [&](SmtpTransport& line, bool resumed, bool& untaken) {
        Dialogue dialogue(line, options);
        data.rewind(); // every delivery starts at the message's first octet
        if (resumed)
            dialogue.tell("on a connection kept from an earlier mail");
        const MailCode outcome = resumed ? transact(dialogue, line, session->extensions, envelope, data, options, true, untaken)
                                         : converse(dialogue, line, server, envelope, data, options, untaken);
        if (options.detail) {
            options.detail->clear();
            if (outcome != Ok) {
                // A server's own reason beats how the connection ended after it (a 421, then a close).
                const std::string fromTransport = line.failureDetail();
                *options.detail = !dialogue.detail().empty() ? dialogue.detail()
                                : !fromTransport.empty()     ? fromTransport
                                                             : plainDetail(outcome);
            }
        }
        return outcome;
    };
    bool untaken = false;
    const MailCode outcome = attempt(transport, resumed, untaken);
    if (!untaken || !options.reconnect)
        return outcome;
    // The server cannot have taken it: once more, from the start, on a new connection.
    if (options.observer)
        options.observer->line("the server cannot have taken the mail: once more, on a new connection");
    return attempt(options.reconnect->fresh(), false, untaken);
}

} // namespace qel::mail
