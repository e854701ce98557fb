#pragma once
// The SMTP dialogue of one delivery, over any transport: TLS first for
// implicit TLS, greeting, EHLO (HELO when refused), STARTTLS and EHLO again
// where it is required, AUTH when there is an account, MAIL FROM (with SIZE
// when offered), RCPT TO per recipient, DATA (the three in one write where
// PIPELINING is offered; BDAT and the message with them where CHUNKING is
// too), QUIT, or the session kept open for the next mail.
// Every step has one absolute deadline; every failure ends as the
// code for what went wrong; no reply, however long or malformed, is read
// beyond its bounds.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "mail/Credentials.h"
#include "mail/DeliveryObserver.h"
#include "mail/Deadline.h"
#include "mail/MailCodes.h"

namespace qel::mail {

class SmtpTransport {
public:
    virtual ~SmtpTransport() = default;
    // HostNotResolved or ResolveTimedOut when the name gives no address by
    // `resolving`; CannotConnect when every address refused, ConnectTimedOut
    // when `connecting` passed first. `connecting` bounds all addresses together.
    virtual MailCode connect(const std::string& host, const std::string& port, Deadline resolving,
                             Deadline connecting) = 0;
    // All of `bytes`, or ConnectionDropped / NoReplyInTime (the peer took none by the deadline).
    virtual MailCode send(std::string_view bytes, Deadline deadline) = 0;
    // Appends what arrived: ConnectionDropped when the peer closed, NoReplyInTime
    // when nothing came by the deadline.
    virtual MailCode receive(std::string& into, Deadline deadline) = 0;
    // TLS on the open connection, the certificate checked against the host
    // given to connect. A transport without TLS cannot.
    virtual MailCode startTls(Deadline) { return ConnectionDropped; }
    // Why the transport failed, in words (a TLS or certificate reason); empty when it has none.
    virtual std::string failureDetail() const { return {}; }
    // Nothing has arrived and the peer has not closed: an idle session's
    // server still waits for a command. Looked at without waiting.
    virtual bool quiet() const { return true; }
    // The address connected to, as text ("[2001:db8::1]:587"); empty before.
    virtual std::string peerAddress() const { return {}; }
    // The TLS session in words: protocol, cipher suite, the server's
    // certificate and the name it was checked against; empty without TLS.
    virtual std::string securitySummary() const { return {}; }
    // This end of the connection as an address literal ("[192.0.2.1]",
    // "[IPv6:2001:db8::1]"): what EHLO says when the machine has no name.
    virtual std::string localAddressLiteral() const { return "[127.0.0.1]"; }
};

// The data of DATA, produced piece by piece, so no whole copy of the message
// exists at any time.
class MessageData {
public:
    virtual ~MessageData() = default;
    // Octets of the message before dot-stuffing, as SIZE (RFC 1870) declares it.
    virtual std::uint64_t size() const = 0;
    // Replaces `piece` with the next one; an empty piece is the end.
    // FileNotRead when an attachment cannot be read.
    virtual MailCode next(std::string& piece) = 0;
    // Back to the first octet: a mail sent again on a new connection goes whole.
    virtual void rewind() = 0;
};

// The largest message sent behind BDAT before its MAIL and RCPT are answered.
constexpr std::uint64_t kMostSentUnasked = 1024 * 1024;

enum class Security { Plain, StartTls, Implicit };

struct ServerAddress {
    std::string host;
    std::string port = "25";
    Security security = Security::Plain;
};

// "host", "host:port", "[v6 address]:port" or a bare IPv6 address, after an
// optional "smtp://", "starttls://" or "smtps://" that chooses the security
// (and the default port: 25, 587, 465). Without one, port 587 means STARTTLS
// and 465 implicit TLS, the roles they are registered for. NoServer when
// there is no host.
MailCode parseServer(std::u16string_view server, ServerAddress& out);

// A name EHLO can carry: a domain of letters, digits, hyphens and dots, or an
// address literal in brackets.
bool isEhloDomain(std::string_view domain);

struct Envelope {
    std::string from;
    std::vector<std::string> to;
};

// A connection left greeted (and authenticated) after a delivered mail, at
// a command boundary, so the next mail on it starts with MAIL.
struct SessionState {
    // In: the transport holds such a session. Out: it still does (no QUIT
    // sent, nothing unread).
    bool open = false;
    // The lines of the session's last EHLO reply.
    std::vector<std::string> extensions;
};

// Where a mail that the server cannot have taken goes again, once: a new,
// unconnected transport (the caller owns it, and it replaces the old one).
class TransportSource {
public:
    virtual ~TransportSource() = default;
    virtual SmtpTransport& fresh() = 0;
};

struct DeliveryOptions {
    // Each step: resolving, connecting, each command and its reply, each piece of data.
    std::chrono::milliseconds stepTimeout{30'000};
    // The reply to the final dot: RFC 5321 4.5.3.2.6 asks for 10 minutes,
    // because a server may accept the mail late; giving up sooner makes a
    // host send it again.
    std::chrono::milliseconds finalReplyTimeout{600'000};
    // What EHLO carries; empty: the transport's local address literal.
    std::string domain;
    // The account to authenticate with, after TLS only; none when null or without a user.
    Credentials* credentials = nullptr;
    // For an account with an access token: where a token (and a fresh one,
    // once, when the server refuses it) comes from. Null: the token in
    // `credentials` is all there is.
    TokenSource* tokens = nullptr;
    // Receives why a delivery failed, in words (cleared on success), when not null.
    std::string* detail = nullptr;
    // MAIL, RCPT and DATA in one write when the server offers PIPELINING;
    // with CHUNKING as well, MAIL, RCPT, BDAT and the message.
    bool pipelining = true;
    // When not null, the session may continue one taken open, and is left
    // open after a delivered mail instead of saying QUIT.
    SessionState* session = nullptr;
    // When not null, a mail whose connection closed before the server could
    // have taken it goes once more, on a transport from here.
    TransportSource* reconnect = nullptr;
    // When not null, told every step as it happens.
    DeliveryObserver* observer = nullptr;
    // How far to go: a whole delivery, or, to test a setup, up to
    // authentication, or up to the recipients' replies (then RSET: nothing is sent).
    enum class Reach { Delivery, Authentication, Recipients } reach = Reach::Delivery;
};

MailCode deliver(SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope, MessageData& data,
                 const DeliveryOptions& options);

// Ends a kept session: QUIT, its reply not awaited.
void closeSession(SmtpTransport& transport);

} // namespace qel::mail
