#pragma once
// Winsock's handles in the UniqueHandle family: a socket, a getaddrinfo
// result, and a WSAStartup that succeeded (undone by WSACleanup).
#include "mailcomponent/UniqueHandle.h"

#include <ws2tcpip.h>

namespace qel::mailcomponent {

struct SocketTraits : SentinelTraits<SOCKET, INVALID_SOCKET> {
    static void close(SOCKET s) { closesocket(s); }
};
using UniqueSocket = UniqueHandle<SocketTraits>;

struct AddressInfoTraits : SentinelTraits<addrinfo*, nullptr> {
    static void close(addrinfo* a) { freeaddrinfo(a); }
};
using UniqueAddressInfo = UniqueHandle<AddressInfoTraits>;

struct WinsockUseTraits : SentinelTraits<bool, false> {
    static void close(bool) { WSACleanup(); }
};
using WinsockUse = UniqueHandle<WinsockUseTraits>;

// Winsock for the life of the returned value; invalid when it could not start.
inline WinsockUse startWinsock()
{
    WSADATA data;
    return WinsockUse(WSAStartup(MAKEWORD(2, 2), &data) == 0);
}

} // namespace qel::mailcomponent
