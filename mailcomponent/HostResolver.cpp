// Winsock must come before <windows.h>.
#include "mailcomponent/HostResolver.h"

#include <windows.h>

namespace qel::mailcomponent {

namespace {

LONG lookupsRunning = 0;

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
    std::string host, port;
    HANDLE done = nullptr;
    addrinfo* result = nullptr;
    int status = -1;
    LONG references = 2;

    void release()
    {
        if (InterlockedDecrement(&references) != 0)
            return;
        if (result)
            freeaddrinfo(result);
        CloseHandle(done);
        delete this;
    }
};

DWORD WINAPI lookUp(void* argument)
{
    auto* lookup = static_cast<Lookup*>(argument);
    WSADATA data;
    const bool started = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    const addrinfo hints = hintsFor(0);
    if (started)
        lookup->status = getaddrinfo(lookup->host.c_str(), lookup->port.c_str(), &hints, &lookup->result);
    SetEvent(lookup->done);
    lookup->release();
    if (started)
        WSACleanup();
    InterlockedDecrement(&lookupsRunning);
    return 0;
}

// Runs the lookup, then lets go of the module reference the starter took for it.
DWORD WINAPI lookUpAndUnload(void* argument)
{
    lookUp(argument);
    HMODULE self = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&lookUpAndUnload), &self);
    FreeLibraryAndExitThread(self, 0);
}

} // namespace

mail::MailCode HostResolver::resolve(const std::string& host, const std::string& port, mail::Deadline deadline,
                                     AddressList& out)
{
    // An address literal needs no lookup and no thread.
    const addrinfo numeric = hintsFor(AI_NUMERICHOST);
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), port.c_str(), &numeric, &result) == 0 && result) {
        out = AddressList(result);
        return mail::Sent;
    }
    if (InterlockedIncrement(&lookupsRunning) > kMaxAbandoned) {
        InterlockedDecrement(&lookupsRunning);
        return mail::ResolveTimedOut; // earlier lookups of this process still hang
    }
    auto* lookup = new Lookup{host, port, CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    HMODULE self = nullptr;
    // The thread holds this DLL, so its code stays mapped even after the host releases us.
    if (!lookup->done
        || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&lookUpAndUnload), &self)) {
        if (lookup->done)
            CloseHandle(lookup->done);
        delete lookup;
        InterlockedDecrement(&lookupsRunning);
        return mail::ThreadNotCreated;
    }
    const HANDLE thread = CreateThread(nullptr, 64 * 1024, lookUpAndUnload, lookup, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
    if (!thread) {
        FreeLibrary(self);
        CloseHandle(lookup->done);
        delete lookup;
        InterlockedDecrement(&lookupsRunning);
        return mail::ThreadNotCreated;
    }
    CloseHandle(thread);
    const auto waitMs = std::min<long long>(deadline.remaining().count(), INFINITE - 1);
    mail::MailCode code = mail::ResolveTimedOut;
    if (WaitForSingleObject(lookup->done, static_cast<DWORD>(waitMs)) == WAIT_OBJECT_0) {
        if (lookup->status == 0 && lookup->result) {
            out = AddressList(std::exchange(lookup->result, nullptr));
            code = mail::Sent;
        } else {
            code = mail::HostNotResolved;
        }
    }
    lookup->release();
    return code;
}

} // namespace qel::mailcomponent
