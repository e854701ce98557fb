// Sends through one stored OAuth account from many single-threaded
// apartments of one process at once, as a server host does; each its own
// EasyMail.SMTP, all at the same moment. Prints "code N" and "detail TEXT"
// per send, then "done".
//   qel_oauth_apartments SERVER THREADS
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <barrier>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "automation/ExceptionInfo.h"
#include "automation/Variant.h"

namespace {

using Microsoft::WRL::ComPtr;
using qel::automation::Variant;

Variant text(const std::wstring& value)
{
    return Variant::ofText(std::u16string(value.begin(), value.end()));
}

// The result as text, or the HRESULT that failed.
std::wstring invoke(IDispatch* object, const wchar_t* member, WORD kind, std::vector<VARIANT> arguments = {})
{
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
    Variant result, converted;
    qel::automation::ExceptionInfo exception;
    if (const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result.receive(), exception.receive(), nullptr);
        FAILED(hr))
        return L"<failed " + std::to_wstring(hr) + L">";
    if (result.get().vt == VT_EMPTY || FAILED(VariantChangeType(converted.receive(), const_cast<VARIANT*>(&result.get()), 0, VT_BSTR)))
        return L"";
    return std::wstring(converted.get().bstrVal, SysStringLen(converted.get().bstrVal));
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3)
        return 2;
    const std::wstring server = argv[1];
    const int threads = std::max(1, _wtoi(argv[2]));
    std::barrier start(threads);
    std::mutex printing;
    std::vector<std::thread> apartments;
    for (int i = 0; i < threads; ++i)
        apartments.emplace_back([&] {
            CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
            {
                CLSID clsid{};
                ComPtr<IDispatch> mail;
                std::wstring code = L"<not created>", detail;
                if (SUCCEEDED(CLSIDFromProgID(L"EasyMail.SMTP", &clsid))
                    && SUCCEEDED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&mail)))) {
                    invoke(mail.Get(), L"MailServer", DISPATCH_PROPERTYPUT, {text(server).get()});
                    invoke(mail.Get(), L"Subject", DISPATCH_PROPERTYPUT, {text(L"oauth apartments").get()});
                    invoke(mail.Get(), L"BodyText", DISPATCH_PROPERTYPUT, {text(L"body").get()});
                    invoke(mail.Get(), L"From", DISPATCH_PROPERTYPUT, {text(L"Dispatch").get()});
                    invoke(mail.Get(), L"FromAddr", DISPATCH_PROPERTYPUT, {text(L"dispatch@example.com").get()});
                    invoke(mail.Get(), L"AddRecipient", DISPATCH_METHOD,
                           {text(L"gateway@example.com").get(), text(L"gateway@example.com").get(), Variant::ofInteger(1).get()});
                    start.arrive_and_wait();
                    code = invoke(mail.Get(), L"Send", DISPATCH_METHOD);
                    detail = invoke(mail.Get(), L"ErrorDetail", DISPATCH_PROPERTYGET);
                } else {
                    start.arrive_and_drop();
                }
                const std::lock_guard<std::mutex> held(printing);
                std::wprintf(L"code %ls\ndetail %ls\n", code.c_str(), detail.c_str());
            }
            CoUninitialize();
        });
    for (std::thread& apartment : apartments)
        apartment.join();
    std::wprintf(L"done\n");
    return 0;
}
