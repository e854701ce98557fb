#pragma once
// SMTP over Winsock: the dialogue's transport on a WinsockConnection, with
// TLS (SchannelStream) on the same connection once startTls succeeds.
#include "mailcomponent/WinsockConnection.h" // Winsock before <windows.h>

#include <memory>

#include "mailcomponent/ByteChannel.h"
#include "mailcomponent/PooledTransport.h"
#include "mailcomponent/SchannelStream.h"

namespace qel::mailcomponent {

class WinsockTransport final : public PooledTransport, private ByteChannel {
public:
    WinsockTransport() = default;
    ~WinsockTransport() override;
    WinsockTransport(const WinsockTransport&) = delete;
    WinsockTransport& operator=(const WinsockTransport&) = delete;

    mail::MailCode connect(const std::string& host, const std::string& port, mail::Deadline resolving,
                           mail::Deadline connecting) override;
    mail::MailCode send(std::string_view bytes, mail::Deadline deadline) override;
    mail::MailCode receive(std::string& into, mail::Deadline deadline) override;
    // The certificate is checked against the host as given to connect.
    mail::MailCode startTls(mail::Deadline deadline) override;
    std::string failureDetail() const override;
    bool quiet() const override { return !(tls_ && tls_->holdsUnread()) && connection_.quiet(); }
    std::string localAddressLiteral() const override { return connection_.localAddressLiteral(); }
    std::string peerAddress() const override { return connection_.peerAddress(); }
    std::string securitySummary() const override { return tls_ ? tls_->summary() : std::string(); }

private:
    mail::MailCode sendRaw(std::string_view bytes, mail::Deadline deadline) override { return connection_.send(bytes, deadline); }
    mail::MailCode receiveRaw(std::string& into, mail::Deadline deadline) override
    {
        return connection_.receive(into, deadline);
    }

    WinsockConnection connection_;
    std::string host_;
    std::unique_ptr<SchannelStream> tls_; // after connection_: it goes first
};

} // namespace qel::mailcomponent
