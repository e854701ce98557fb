#include "mailcomponent/WinsockTransport.h"

#include <ws2tcpip.h>

namespace qel::mailcomponent {

using mail::MailCode;

WinsockTransport::WinsockTransport(int timeoutSeconds) : timeoutMs_(timeoutSeconds * 1000)
{
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

WinsockTransport::~WinsockTransport()
{
    if (socket_ != INVALID_SOCKET)
        closesocket(socket_);
    if (started_)
        WSACleanup();
}

bool WinsockTransport::wait(bool forWriting)
{
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket_, &ready);
    FD_SET(socket_, &failed);
    timeval timeout{timeoutMs_ / 1000, (timeoutMs_ % 1000) * 1000};
    const int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
    return count > 0;
}

MailCode WinsockTransport::connect(const std::string& host, const std::string& port)
{
    if (!started_)
        return mail::CannotConnect;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* addresses = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &hints, &addresses) != 0 || !addresses)
        return mail::HostNotResolved;
    MailCode outcome = mail::CannotConnect;
    for (addrinfo* a = addresses; a; a = a->ai_next) {
        socket_ = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (socket_ == INVALID_SOCKET)
            continue;
        u_long nonBlocking = 1;
        ioctlsocket(socket_, FIONBIO, &nonBlocking);
        if (::connect(socket_, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            outcome = mail::Sent;
            break;
        }
        if (WSAGetLastError() == WSAEWOULDBLOCK) {
            if (wait(true)) {
                int error = 0;
                int size = sizeof error;
                getsockopt(socket_, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size);
                if (error == 0) {
                    outcome = mail::Sent;
                    break;
                }
            } else {
                outcome = mail::ConnectTimedOut;
            }
        }
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
    }
    freeaddrinfo(addresses);
    return outcome;
}

MailCode WinsockTransport::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        if (!wait(true))
            return mail::NoReplyInTime;
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 64 * 1024));
        const int sent = ::send(socket_, bytes.data(), chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            return mail::ConnectionDropped;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return mail::Sent;
}

MailCode WinsockTransport::receive(std::string& into)
{
    if (!wait(false))
        return mail::NoReplyInTime;
    char buffer[4096];
    const int received = recv(socket_, buffer, sizeof buffer, 0);
    if (received <= 0)
        return mail::ConnectionDropped;
    into.append(buffer, static_cast<std::size_t>(received));
    return mail::Sent;
}

} // namespace qel::mailcomponent
