// Many single-threaded apartments at once, as a server host runs them: each
// thread creates its own objects by ProgID every round and drives them
// through IDispatch; every result must equal the one computed first on one
// thread. Prints a summary line and exits non-zero on any mismatch or failure.
//   qel_concurrency_soak [THREADS] [ROUNDS] [ONLINE] [APARTMENT_PER_ROUND]
// ONLINE 0 leaves out GetINetStatus, whose platform calls serialise threads;
// APARTMENT_PER_ROUND 1 enters and leaves the apartment around every round,
// as a host with short-lived worker apartments does: each exit may unload
// the libraries while other threads go on using them.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

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
    EXCEPINFO exception{};
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result.receive(), &exception, nullptr);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
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

// One round: fresh objects, every member named, results in a fixed order.
std::vector<std::wstring> round(int salt, bool online)
{
    std::vector<std::wstring> results;
    const ComPtr<IDispatch> renderer = create(L"QelMessage.Renderer");
    const ComPtr<IDispatch> cipher = create(L"QelCipher.Cipher");
    const std::wstring suffix = std::to_wstring(salt % 7);
    Variant message = text((L"Hello from round " + suffix).c_str());
    Variant account = text(L"account");
    Variant password = text(L"secret");
    results.push_back(invoke(renderer.Get(), L"Message", DISPATCH_PROPERTYPUT, {message.get()}));
    results.push_back(invoke(renderer.Get(), L"Account", DISPATCH_PROPERTYPUT, {account.get()}));
    results.push_back(invoke(renderer.Get(), L"Password", DISPATCH_PROPERTYPUT, {password.get()}));
    for (int i = 0; i < 3; ++i) {
        Variant phone = text((L"+4470000000" + std::to_wstring(i)).c_str());
        Variant name = text((L"Name " + std::to_wstring(i)).c_str());
        results.push_back(invoke(renderer.Get(), L"AddRecipient", DISPATCH_METHOD, {byReference(phone), byReference(name)}));
    }
    results.push_back(invoke(renderer.Get(), L"Translate", DISPATCH_METHOD));
    results.push_back(invoke(renderer.Get(), L"TranslatedMessage", DISPATCH_PROPERTYGET));
    Variant plain = text((L"plain text " + suffix).c_str());
    const std::wstring legacy = invoke(renderer.Get(), L"MyOldEncrypt", DISPATCH_METHOD, {byReference(plain)});
    results.push_back(legacy);
    results.push_back(invoke(renderer.Get(), L"MyEncrypt", DISPATCH_METHOD, {byReference(plain)}));
    Variant legacyText = text(legacy.c_str());
    results.push_back(invoke(renderer.Get(), L"MyOldDecrypt", DISPATCH_METHOD, {byReference(legacyText)}));
    results.push_back(invoke(cipher.Get(), L"CipherString", DISPATCH_PROPERTYPUT, {plain.get()}));
    results.push_back(invoke(cipher.Get(), L"EnhancedEncrypt", DISPATCH_METHOD));
    results.push_back(invoke(cipher.Get(), L"CipherString", DISPATCH_PROPERTYGET));
    if (online)
        results.push_back(invoke(renderer.Get(), L"GetINetStatus", DISPATCH_METHOD));
    return results;
}

} // namespace

int main(int argc, char** argv)
{
    const int threads = argc > 1 ? std::atoi(argv[1]) : 16;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 100;
    const bool online = argc > 3 ? std::atoi(argv[3]) != 0 : true;
    const bool apartmentPerRound = argc > 4 && std::atoi(argv[4]) != 0;

    std::vector<std::vector<std::wstring>> expected;
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)))
        return 2;
    for (int salt = 0; salt < 7; ++salt)
        expected.push_back(round(salt, online));
    CoUninitialize();

    std::atomic<int> mismatches{0}, completed{0};
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            for (int r = 0; r < rounds; ++r) {
                if ((r == 0 || apartmentPerRound) && FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
                    ++mismatches;
                    return;
                }
                const int salt = (t + r) % 7;
                if (round(salt, online) != expected[salt])
                    ++mismatches;
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
