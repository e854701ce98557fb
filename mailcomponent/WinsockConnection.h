#pragma once
// A TCP connection over Winsock (IPv4 and IPv6) whose every wait ends by a
// deadline: resolving, connecting across all addresses, each send and
// receive. The raw byte layer under the SMTP transport (and under TLS).
#include <winsock2.h>

#include <string>
#include <string_view>

#include "mail/Deadline.h"
#include "mail/MailCodes.h"
#include "mailcomponent/UniqueSocket.h"

namespace qel::mailcomponent {

class WinsockConnection {
public:
    WinsockConnection();
    WinsockConnection(const WinsockConnection&) = delete;
    WinsockConnection& operator=(const WinsockConnection&) = delete;

    // Tries the addresses in order, each with a fair share of the time left,
    // so one that never answers cannot take the time of the next.
    mail::MailCode connect(const std::string& host, const std::string& port, mail::Deadline resolving,
                           mail::Deadline connecting);
    mail::MailCode send(std::string_view bytes, mail::Deadline deadline);
    mail::MailCode receive(std::string& into, mail::Deadline deadline);
    std::string localAddressLiteral() const;
    // "[::1]:587", "[127.0.0.1]:25": the address connect reached; empty before.
    const std::string& peerAddress() const { return peer_; }
    // No bytes, close or failure waiting: looked at without waiting.
    bool quiet() const;

private:
    WinsockUse winsock_; // first in, last out: the socket closes before WSACleanup
    UniqueSocket socket_;
    std::string peer_;
};

} // namespace qel::mailcomponent
