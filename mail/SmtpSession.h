#pragma once
// The SMTP dialogue of one delivery, over any transport: greeting, EHLO (HELO
// when refused), MAIL FROM, RCPT TO per recipient, DATA, QUIT. Every failure
// ends as the code for what went wrong; no reply, however long or malformed,
// is read beyond its bounds.
#include <string>
#include <string_view>
#include <vector>

#include "mail/MailCodes.h"

namespace qel::mail {

class SmtpTransport {
public:
    virtual ~SmtpTransport() = default;
    // HostNotResolved, CannotConnect or ConnectTimedOut when it cannot.
    virtual MailCode connect(const std::string& host, const std::string& port) = 0;
    virtual MailCode send(std::string_view bytes) = 0;
    // Appends what arrived: ConnectionDropped when the peer closed, NoReplyInTime
    // when nothing came in time.
    virtual MailCode receive(std::string& into) = 0;
};

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

struct Envelope {
    std::string heloName;
    std::string from;
    std::vector<std::string> to;
};

MailCode deliver(SmtpTransport& transport, const ServerAddress& server, const Envelope& envelope,
                 const std::string& dotStuffedData);

} // namespace qel::mail
