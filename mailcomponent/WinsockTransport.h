#pragma once
// SMTP over Winsock: IPv4 and IPv6, every wait bounded by the timeout.
#include <winsock2.h>

#include "mail/SmtpSession.h"

namespace qel::mailcomponent {

class WinsockTransport final : public mail::SmtpTransport {
public:
    explicit WinsockTransport(int timeoutSeconds);
    ~WinsockTransport() override;
    WinsockTransport(const WinsockTransport&) = delete;
    WinsockTransport& operator=(const WinsockTransport&) = delete;

    mail::MailCode connect(const std::string& host, const std::string& port) override;
    mail::MailCode send(std::string_view bytes) override;
    mail::MailCode receive(std::string& into) override;

private:
    // True when the socket is ready within the timeout.
    bool wait(bool forWriting);

    bool started_ = false;
    SOCKET socket_ = INVALID_SOCKET;
    int timeoutMs_;
};

} // namespace qel::mailcomponent
