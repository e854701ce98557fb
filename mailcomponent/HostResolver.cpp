// Winsock must come before <windows.h>.
#include "mailcomponent/HostResolver.h"

#include <windows.h>

#include <algorithm>

namespace qel::mailcomponent {

namespace {

// Lookups whose caller gave up waiting and whose thread still runs.
LONG lookupsAbandoned = 0;

enum : LONG { Running, Finished, Abandoned };

addrinfo hintsFor(int flags)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = flags;
    return hints;
}

// Shared by the caller and the lookup thread; whichever lets go last frees it.
struct Lookup {
    Lookup(std::string h, std::string p, HostResolver::LookUp f) : host(std::move(h)), port(std::move(p)), lookUp(f) {}

    std::string host, port;
    HostResolver::LookUp lookUp;
    UniqueKernelHandle done{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    UniqueAddressInfo result;
    int status = -1;
    LONG state = Running;
    LONG references = 1;

    Lookup* share()
    {
        InterlockedIncrement(&references);
        return this;
    }
    void release()
    {
        if (InterlockedDecrement(&references) == 0)
            delete this;
    }
};

struct LookupReferenceTraits : SentinelTraits<Lookup*, nullptr> {
    static void close(Lookup* lookup) { lookup->release(); }
};
using LookupReference = UniqueHandle<LookupReferenceTraits>;

DWORD WINAPI runLookup(void* argument)
{
    const WinsockUse winsock = startWinsock();
    // After winsock: when the caller has gone, the result is freed before WSACleanup.
    const LookupReference held(static_cast<Lookup*>(argument));
    Lookup& lookup = *held.get();
    if (winsock.valid()) {
        const addrinfo hints = hintsFor(0);
        addrinfo* result = nullptr;
        lookup.status = lookup.lookUp(lookup.host.c_str(), lookup.port.c_str(), &hints, &result);
        lookup.result.reset(result);
    }
    if (InterlockedCompareExchange(&lookup.state, Finished, Running) == Abandoned)
        InterlockedDecrement(&lookupsAbandoned);
    SetEvent(lookup.done.get());
    return 0;
}

// Runs the lookup, then lets go of the module reference the starter took for it.
DWORD WINAPI lookUpAndUnload(void* argument)
{
    runLookup(argument);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&lookUpAndUnload), &self);
    FreeLibraryAndExitThread(self, 0);
}

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
    if (InterlockedCompareExchange(&lookupsAbandoned, 0, 0) >= kMaxAbandoned)
        return mail::ResolveTimedOut;
    const LookupReference held(new Lookup(host, port, lookUp));
    Lookup& lookup = *held.get();
    HMODULE module = nullptr;
    // The thread holds this DLL, so its code stays mapped even after the host releases us.
    if (!lookup.done.valid()
        || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&lookUpAndUnload), &module))
        return mail::ThreadNotCreated;
    ModuleReference self(module);
    LookupReference forThread(lookup.share());
    const UniqueKernelHandle thread(
        CreateThread(nullptr, 64 * 1024, lookUpAndUnload, forThread.get(), STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr));
    if (!thread.valid())
        return mail::ThreadNotCreated;
    self.release(); // both the thread's now
    forThread.release();
    const auto waitMs = std::min<long long>(deadline.remaining().count(), INFINITE - 1);
    bool finished = WaitForSingleObject(lookup.done.get(), static_cast<DWORD>(waitMs)) == WAIT_OBJECT_0;
    if (!finished) {
        InterlockedIncrement(&lookupsAbandoned);
        if (InterlockedCompareExchange(&lookup.state, Abandoned, Running) == Finished) {
            InterlockedDecrement(&lookupsAbandoned); // it ended just now after all
            finished = true;
        }
    }
    mail::MailCode code = mail::ResolveTimedOut;
    if (finished) {
        code = lookup.status == 0 && lookup.result.valid() ? mail::Ok : mail::HostNotResolved;
        if (code == mail::Ok)
            out = AddressList(lookup.result.release());
    }
    return code;
}

} // namespace qel::mailcomponent
