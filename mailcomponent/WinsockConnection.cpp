#include "mailcomponent/WinsockConnection.h"

#include <ws2tcpip.h>

#include <algorithm>

#include "mailcomponent/HostResolver.h"

namespace qel::mailcomponent {

using mail::Deadline;
using mail::MailCode;

namespace {

enum class Readiness { Ready, Failed, TimedOut };

// Past the deadline nothing counts as Ready, not even bytes already waiting:
// a peer that never stops sending must not keep a step alive.
Readiness waitFor(SOCKET s, bool forWriting, Deadline deadline)
{
    for (;;) {
        if (deadline.passed())
            return Readiness::TimedOut;
        fd_set ready, failed;
        FD_ZERO(&ready);
        FD_ZERO(&failed);
        FD_SET(s, &ready);
        FD_SET(s, &failed);
        const long long left = std::min<long long>(deadline.remaining().count(), 24LL * 3600 * 1000);
        timeval timeout{static_cast<long>(left / 1000), static_cast<long>(left % 1000) * 1000};
        const int count = select(0, forWriting ? nullptr : &ready, forWriting ? &ready : nullptr, &failed, &timeout);
        if (count == SOCKET_ERROR)
            return Readiness::Failed;
        if (count > 0)
            return FD_ISSET(s, &failed) ? Readiness::Failed : deadline.passed() ? Readiness::TimedOut : Readiness::Ready;
    }
}

} // namespace

WinsockConnection::WinsockConnection() : winsock_(startWinsock()) {}

MailCode WinsockConnection::connect(const std::string& host, const std::string& port, Deadline resolving,
                                    Deadline connecting)
{
    peer_.clear();
    if (!winsock_.valid())
        return mail::CannotConnect;
    AddressList addresses;
    if (const MailCode status = HostResolver::resolve(host, port, resolving, addresses); status != mail::Ok)
        return status;
    std::size_t left = addresses.count();
    MailCode outcome = mail::CannotConnect;
    for (const addrinfo* a = addresses.first(); a; a = a->ai_next, --left) {
        if (connecting.passed())
            return mail::ConnectTimedOut;
        const Deadline share = Deadline::in(connecting.remaining() / static_cast<long>(left));
        UniqueSocket candidate(::socket(a->ai_family, a->ai_socktype, a->ai_protocol));
        if (!candidate.valid())
            continue;
        u_long nonBlocking = 1;
        ioctlsocket(candidate.get(), FIONBIO, &nonBlocking);
        if (::connect(candidate.get(), a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                continue;
            const Readiness readiness = waitFor(candidate.get(), true, share);
            if (readiness == Readiness::TimedOut) {
                outcome = mail::ConnectTimedOut;
                continue;
            }
            int error = 0;
            int size = sizeof error;
            if (readiness == Readiness::Failed
                || getsockopt(candidate.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &size) != 0 || error != 0)
                continue;
        }
        socket_ = std::move(candidate);
        char host[NI_MAXHOST] = {}, service[NI_MAXSERV] = {};
        peer_ = getnameinfo(a->ai_addr, static_cast<int>(a->ai_addrlen), host, sizeof host, service, sizeof service,
                            NI_NUMERICHOST | NI_NUMERICSERV) == 0
                    ? "[" + std::string(host) + "]:" + service
                    : std::string();
        return mail::Ok;
    }
    return outcome;
}

MailCode WinsockConnection::send(std::string_view bytes, Deadline deadline)
{
    while (!bytes.empty()) {
        const Readiness readiness = waitFor(socket_.get(), true, deadline);
        if (readiness != Readiness::Ready)
            return readiness == Readiness::TimedOut ? mail::NoReplyInTime : mail::ConnectionDropped;
        const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 64 * 1024));
        const int sent = ::send(socket_.get(), bytes.data(), chunk, 0);
        if (sent == SOCKET_ERROR) {
            if (WSAGetLastError() == WSAEWOULDBLOCK)
                continue;
            return mail::ConnectionDropped;
        }
        bytes.remove_prefix(static_cast<std::size_t>(sent));
    }
    return mail::Ok;
}

MailCode WinsockConnection::receive(std::string& into, Deadline deadline)
{
    for (;;) {
        const Readiness readiness = waitFor(socket_.get(), false, deadline);
        if (readiness != Readiness::Ready)
            return readiness == Readiness::TimedOut ? mail::NoReplyInTime : mail::ConnectionDropped;
        char buffer[4096];
        const int received = recv(socket_.get(), buffer, sizeof buffer, 0);
        if (received == SOCKET_ERROR && WSAGetLastError() == WSAEWOULDBLOCK)
            continue;
        if (received <= 0)
            return mail::ConnectionDropped;
        into.append(buffer, static_cast<std::size_t>(received));
        return mail::Ok;
    }
}

bool WinsockConnection::quiet() const
{
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(socket_.get(), &ready);
    FD_SET(socket_.get(), &failed);
    timeval now{0, 0};
    return select(0, &ready, nullptr, &failed, &now) == 0;
}

std::string WinsockConnection::localAddressLiteral() const
{
    sockaddr_storage local{};
    int size = sizeof local;
    char text[NI_MAXHOST] = {};
    if (getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&local), &size) != 0
        || getnameinfo(reinterpret_cast<sockaddr*>(&local), size, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        return "[127.0.0.1]";
    std::string address = text;
    address = address.substr(0, address.find('%')); // no zone index in a literal
    return local.ss_family == AF_INET6 ? "[IPv6:" + address + "]" : "[" + address + "]";
}

} // namespace qel::mailcomponent
