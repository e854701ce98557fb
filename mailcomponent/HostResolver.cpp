// Winsock must come before <windows.h>.
#include "mailcomponent/HostResolver.h"

#include <windows.h>

#include <memory>

#include "mailcomponent/AbandonableWork.h"

namespace qel::mailcomponent {

namespace {

addrinfo hintsFor(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

// Shared by the caller and the lookup's thread. Winsock first: when the
// caller has gone, the result is freed before WSACleanup.
struct Lookup {
    WinsockUse winsock;
    std::string host, port;
    UniqueAddressInfo result;
    int status = -1;
};

} // namespace

mail::MailCode HostResolver::resolve(const std::string& host, const std::string& port, mail::Deadline deadline,
                                     AddressList& out, LookUp lookUp)
{
    // An address literal needs no lookup and no thread.
    const addrinfo numeric = hintsFor(AI_NUMERICHOST);
    addrinfo* literal = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &numeric, &literal) == 0 && literal) {
        out = AddressList(literal);
        return mail::Ok;
    }
    // Only lookups that still hang count: healthy ones running side by side do not.
    static AbandonableWork lookups(kMaxAbandoned);
    auto lookup = std::make_shared<Lookup>();
    lookup->host = host;
    lookup->port = port;
    const AbandonableWork::Outcome outcome = lookups.run(
        [lookup, lookUp] {
            lookup->winsock = startWinsock();
            if (!lookup->winsock.valid())
                return;
            const addrinfo hints = hintsFor(0);
            addrinfo* result = nullptr;
            lookup->status = lookUp(lookup->host.c_str(), lookup->port.c_str(), &hints, &result);
            lookup->result.reset(result);
        },
        deadline);
    if (outcome != AbandonableWork::Finished)
        return outcome == AbandonableWork::NoThread ? mail::ThreadNotCreated : mail::ResolveTimedOut;
    if (lookup->status != 0 || !lookup->result.valid())
        return mail::HostNotResolved;
    out = AddressList(lookup->result.release());
    return mail::Ok;
}

} // namespace qel::mailcomponent
