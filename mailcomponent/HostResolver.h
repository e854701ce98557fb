#pragma once
// Name resolution bounded by a deadline. getaddrinfo cannot be cancelled and
// may block far longer than any Timeout (a silent DNS server), and
// GetAddrInfoExW's timeout and cancellation are missing before Windows 8 and
// in Wine; so a name is looked up on a thread of its own that the caller
// waits for until the deadline and then abandons. An abandoned thread owns
// its state, keeps this DLL and Winsock loaded until it ends, and frees the
// result itself; while kMaxAbandoned of them still run, a new lookup is
// refused at once. Lookups that end in time do not count.
#include "mail/Deadline.h"
#include "mail/MailCodes.h"
#include "mailcomponent/AddressList.h"

#include <string>

namespace qel::mailcomponent {

class HostResolver {
public:
    static constexpr long kMaxAbandoned = 8;

    // getaddrinfo, or a test's stand-in.
    using LookUp = int(WSAAPI*)(const char* host, const char* port, const addrinfo* hints, addrinfo** result);

    // HostNotResolved, ResolveTimedOut, or ThreadNotCreated.
    static mail::MailCode resolve(const std::string& host, const std::string& port, mail::Deadline deadline,
                                  AddressList& out, LookUp lookUp = getaddrinfo);
};

} // namespace qel::mailcomponent
