#pragma once
// SMTP over Winsock: the dialogue's transport on a WinsockConnection.
#include "mail/SmtpSession.h"
#include "mailcomponent/WinsockConnection.h"

namespace qel::mailcomponent {

class WinsockTransport final : public mail::SmtpTransport {
public:
    mail::MailCode connect(const std::string& host, const std::string& port, mail::Deadline resolving,
                           mail::Deadline connecting) override
    {
        return connection_.connect(host, port, resolving, connecting);
    }
    mail::MailCode send(std::string_view bytes, mail::Deadline deadline) override { return connection_.send(bytes, deadline); }
    mail::MailCode receive(std::string& into, mail::Deadline deadline) override
    {
        return connection_.receive(into, deadline);
    }
    std::string localAddressLiteral() const override { return connection_.localAddressLiteral(); }

private:
    WinsockConnection connection_;
};

} // namespace qel::mailcomponent
