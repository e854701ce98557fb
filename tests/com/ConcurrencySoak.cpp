// Many single-threaded apartments at once, as a server host runs them: each
// thread creates its own objects by ProgID every round and drives them
// through IDispatch; every result must equal the one computed first on one
// thread. Prints a summary line and exits non-zero on any mismatch or failure.
//   qel_concurrency_soak [THREADS] [ROUNDS] [ONLINE] [APARTMENT_PER_ROUND] [CONTROL]
// ONLINE 0 leaves out GetINetStatus, whose platform calls serialise threads;
// APARTMENT_PER_ROUND 1 enters and leaves the apartment around every round,
// as a host with short-lived worker apartments does: each exit may unload
// the libraries while other threads go on using them. CONTROL 1 drives the
// platform's Scripting.Dictionary instead, for comparison.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "automation/ExceptionInfo.h"
#include "automation/Variant.h"

namespace {

using Microsoft::WRL::ComPtr;
using qel::automation::Variant;

ComPtr<IDispatch> create(const wchar_t* programId)
{
    CLSID clsid{};
    ComPtr<IDispatch> object;
    if (FAILED(CLSIDFromProgID(programId, &clsid))
        || FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&object))))
        return nullptr;
    return object;
}

// The result's text, or a marker of the failure: both are compared.
std::wstring invoke(IDispatch* object, const wchar_t* member, WORD kind, std::vector<VARIANT> arguments = {})
{
    if (!object)
        return L"<no object>";
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    if (FAILED(object->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id)))
        return L"<no member>";
    std::vector<VARIANT> reversed(arguments.rbegin(), arguments.rend());
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    if (kind == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &named;
        params.cNamedArgs = 1;
    }
    Variant result;
    qel::automation::ExceptionInfo exception;
    const HRESULT hr =
        object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result.receive(), exception.receive(), nullptr);
    if (FAILED(hr))
        return L"<failed " + std::to_wstring(hr) + L">";
    Variant text;
    if (result.get().vt != VT_EMPTY
        && FAILED(VariantChangeType(text.receive(), const_cast<VARIANT*>(&result.get()), 0, VT_BSTR)))
        return L"<not text>";
    return text.get().vt == VT_BSTR ? std::wstring(text.get().bstrVal, SysStringLen(text.get().bstrVal)) : L"";
}

Variant text(const wchar_t* value)
{
    return Variant::ofText(reinterpret_cast<const char16_t*>(value));
}

VARIANT byReference(Variant& value)
{
    VARIANT reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = const_cast<VARIANT*>(&value.get());
    return reference;
}

// One result of a round, named for the member that gave it.
struct Result {
    std::wstring member;
    std::wstring value;
    bool operator==(const Result&) const = default;
};

// One round: fresh objects, every member named, results in a fixed order.
// Each text is allocated just before the call that takes it and freed right
// after, as a script host does with its temporaries, and phones go by value
// to AddRecipient's VARIANT* parameters, as a script passes literals: a
// string left with two owners shows as another string read back. In odd
// rounds the message's accented letter makes Translate raise error 5, so
// error information crosses the apartments too.
std::vector<Result> round(int salt, bool online)
{
    std::vector<Result> results;
    const auto record = [&](const wchar_t* member, std::wstring value) {
        results.push_back({member, std::move(value)});
    };
    const ComPtr<IDispatch> renderer = create(L"QelMessage.Renderer");
    const ComPtr<IDispatch> cipher = create(L"QelCipher.Cipher");
    const std::wstring suffix = std::to_wstring(salt % 7);
    const auto putText = [&](IDispatch* object, const wchar_t* property, const std::wstring& value) {
        record(property, invoke(object, property, DISPATCH_PROPERTYPUT, {text(value.c_str()).get()}));
    };
    putText(renderer.Get(), L"Message", L"Message number " + suffix + (salt % 2 ? L" \u00e9" : L""));
    putText(renderer.Get(), L"Account", L"account");
    putText(renderer.Get(), L"Password", L"secret");
    for (int i = 0; i < 3; ++i) {
        Variant name = text((L"Name " + std::to_wstring(i)).c_str());
        record(L"AddRecipient", invoke(renderer.Get(), L"AddRecipient", DISPATCH_METHOD,
                                       {text((L"555010" + std::to_wstring(i)).c_str()).get(), byReference(name)}));
    }
    record(L"Message", invoke(renderer.Get(), L"Message", DISPATCH_PROPERTYGET));
    record(L"Translate", invoke(renderer.Get(), L"Translate", DISPATCH_METHOD));
    record(L"TranslatedMessage", invoke(renderer.Get(), L"TranslatedMessage", DISPATCH_PROPERTYGET));
    Variant plain = text((L"plain text " + suffix).c_str());
    const std::wstring legacy = invoke(renderer.Get(), L"MyOldEncrypt", DISPATCH_METHOD, {byReference(plain)});
    record(L"MyOldEncrypt", legacy);
    record(L"MyEncrypt", invoke(renderer.Get(), L"MyEncrypt", DISPATCH_METHOD, {byReference(plain)}));
    Variant legacyText = text(legacy.c_str());
    record(L"MyOldDecrypt", invoke(renderer.Get(), L"MyOldDecrypt", DISPATCH_METHOD, {byReference(legacyText)}));
    putText(cipher.Get(), L"CipherString", L"plain text " + suffix);
    record(L"EnhancedEncrypt", invoke(cipher.Get(), L"EnhancedEncrypt", DISPATCH_METHOD));
    record(L"CipherString", invoke(cipher.Get(), L"CipherString", DISPATCH_PROPERTYGET));
    if (online)
        record(L"GetINetStatus", invoke(renderer.Get(), L"GetINetStatus", DISPATCH_METHOD));
    return results;
}

// The same pattern on the platform's own Scripting.Dictionary: a fault that
// shows here as often as on our servers belongs to the platform.
std::vector<Result> controlRound(int salt)
{
    std::vector<Result> results;
    const std::wstring suffix = std::to_wstring(salt % 7);
    for (int object = 0; object < 2; ++object) {
        const ComPtr<IDispatch> dictionary = create(L"Scripting.Dictionary");
        for (int i = 0; i < 3; ++i) {
            const std::wstring key = L"555010" + std::to_wstring(i);
            const Variant item = text((L"Message number " + suffix).c_str());
            results.push_back(
                {L"Add", invoke(dictionary.Get(), L"Add", DISPATCH_METHOD, {text(key.c_str()).get(), item.get()})});
        }
        results.push_back({L"Item", invoke(dictionary.Get(), L"Item", DISPATCH_PROPERTYGET, {text(L"5550101").get()})});
        results.push_back({L"Count", invoke(dictionary.Get(), L"Count", DISPATCH_PROPERTYGET)});
    }
    return results;
}

// A crash names its code, its address and the code addresses found on the
// faulting thread's stack, each as module+offset: a backtrace of sorts that
// needs no debugger (winedbg under qemu takes minutes to start).
std::string whereIs(ULONG_PTR address)
{
    HMODULE module = nullptr;
    char name[MAX_PATH] = "?";
    if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                           reinterpret_cast<LPCSTR>(address), &module)) {
        GetModuleFileNameA(module, name, MAX_PATH);
        const char* base = std::strrchr(name, '\\');
        char text[MAX_PATH + 32];
        std::snprintf(text, sizeof text, "%s+0x%llx", base ? base + 1 : name,
                      static_cast<unsigned long long>(address - reinterpret_cast<ULONG_PTR>(module)));
        return text;
    }
    return {};
}

LONG WINAPI reportCrash(EXCEPTION_POINTERS* crash)
{
    const auto address = reinterpret_cast<ULONG_PTR>(crash->ExceptionRecord->ExceptionAddress);
#ifdef _WIN64
    const auto* stack = reinterpret_cast<const ULONG_PTR*>(crash->ContextRecord->Rsp);
#else
    const auto* stack = reinterpret_cast<const ULONG_PTR*>(crash->ContextRecord->Esp);
#endif
    std::printf("crash: code 0x%08lx at %s (0x%llx); on the stack:", crash->ExceptionRecord->ExceptionCode,
                whereIs(address).c_str(), static_cast<unsigned long long>(address));
    for (int i = 0, found = 0; i < 2048 && found < 24 && !IsBadReadPtr(stack + i, sizeof *stack); ++i) {
        const std::string place = whereIs(stack[i]);
        if (!place.empty() && place.find(".exe") == std::string::npos) {
            std::printf(" %s", place.c_str());
            ++found;
        }
    }
    std::printf("\n");
    std::fflush(stdout);
    return EXCEPTION_CONTINUE_SEARCH;
}

} // namespace

int main(int argc, char** argv)
{
    const int threads = argc > 1 ? std::atoi(argv[1]) : 16;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 100;
    const bool online = argc > 3 ? std::atoi(argv[3]) != 0 : true;
    const bool apartmentPerRound = argc > 4 && std::atoi(argv[4]) != 0;
    const bool control = argc > 5 && std::atoi(argv[5]) != 0;
    const auto run = [&](int salt) { return control ? controlRound(salt) : round(salt, online); };

    SetUnhandledExceptionFilter(reportCrash);
    std::vector<std::vector<Result>> expected;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    for (int salt = 0; salt < 7; ++salt)
        expected.push_back(run(salt));
    CoUninitialize();

    std::atomic<int> mismatches{0}, completed{0};
    std::mutex reporting;
    const auto shown = [](const std::wstring& text) { return text.size() > 160 ? text.substr(0, 160) + L"..." : text; };
    const auto report = [&](int thread, int roundNumber, const std::vector<Result>& got,
                            const std::vector<Result>& want) {
        const std::lock_guard<std::mutex> held(reporting);
        for (std::size_t i = 0; i < std::max(got.size(), want.size()); ++i) {
            const Result none{L"<missing>", L""};
            const Result& g = i < got.size() ? got[i] : none;
            const Result& w = i < want.size() ? want[i] : none;
            if (!(g == w))
                std::printf("mismatch: thread %d round %d result %zu %ls: expected \"%ls\", got %ls \"%ls\"\n", thread,
                            roundNumber, i, w.member.c_str(), shown(w.value).c_str(), g.member.c_str(),
                            shown(g.value).c_str());
        }
        std::fflush(stdout);
    };
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                if ((r == 0 || apartmentPerRound) && FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                    ++mismatches;
                    return;
                }
                const int salt = (t + r) % 7;
                const std::vector<Result> got = run(salt);
                if (got != expected[salt]) {
                    ++mismatches;
                    report(t, r, got, expected[salt]);
                }
                ++completed;
                if (apartmentPerRound || r == rounds - 1)
                    CoUninitialize();
            }
        });
    for (std::thread& worker : workers)
        worker.join();

    std::printf("soak: %d threads x %d rounds: %d completed, %d mismatched\n", threads, rounds, completed.load(),
                mismatches.load());
    return mismatches == 0 && completed == threads * rounds ? 0 : 1;
}
