// Winsock must come before <windows.h>.
#include "mailcomponent/WinsockTransport.h"

namespace qel::mailcomponent {

using mail::MailCode;

WinsockTransport::~WinsockTransport()
{
    // close_notify, briefly: the outcome of the send is already settled.
    if (tls_)
        tls_->shutdown(mail::Deadline::in(std::chrono::milliseconds(500)));
}

MailCode WinsockTransport::connect(const std::string& host, const std::string& port, mail::Deadline resolving,
                                   mail::Deadline connecting)
{
    host_ = host;
    return connection_.connect(host, port, resolving, connecting);
}

MailCode WinsockTransport::send(std::string_view bytes, mail::Deadline deadline)
{
    return tls_ ? tls_->send(bytes, deadline) : connection_.send(bytes, deadline);
}

MailCode WinsockTransport::receive(std::string& into, mail::Deadline deadline)
{
    return tls_ ? tls_->receive(into, deadline) : connection_.receive(into, deadline);
}

MailCode WinsockTransport::startTls(mail::Deadline deadline)
{
    if (tls_)
        return mail::UnexpectedReply; // TLS inside TLS: never asked for by the dialogue
    const SecurityFunctionTableW* sspi = InitSecurityInterfaceW();
    if (!sspi)
        return mail::CannotConnect;
    tls_ = std::make_unique<SchannelStream>(static_cast<ByteChannel&>(*this), *sspi, checkServerCertificate, true);
    return tls_->handshake(std::wstring(host_.begin(), host_.end()), deadline); // host names are ASCII by now
}

std::string WinsockTransport::failureDetail() const
{
    return tls_ ? tls_->failureDetail() : std::string();
}

} // namespace qel::mailcomponent
