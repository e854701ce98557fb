// Renderer through COM, under Wine: Translate against the number of
// recipients, and a legacy encryption through IDispatch against a trivial
// property get in the same run. Needs the servers registered in the prefix.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "QelMessage.h"

using Microsoft::WRL::ComPtr;
using qel::bench::seconds;
using qel::bench::text;

namespace {

// Median seconds per call of `body`, over `samples` samples of `calls` calls.
double median(int samples, int calls, const std::function<void()>& body)
{
    std::vector<double> times;
    for (int s = 0; s < samples; ++s) {
        const double start = seconds();
        for (int i = 0; i < calls; ++i)
            body();
        times.push_back((seconds() - start) / calls);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

ComPtr<_Renderer> filledRenderer(int recipients)
{
    ComPtr<_Renderer> r;
    CoCreateInstance(CLSID_Renderer, nullptr, CLSCTX_INPROC_SERVER, IID__Renderer, reinterpret_cast<void**>(r.GetAddressOf()));
    VARIANT message = text(L"Meeting moved to 3 pm"), account = text(L"acct-001"), password = text(L"secret");
    r->put_Message(message);
    r->put_Account(account);
    r->put_Password(password);
    VARIANT name = text(L"Recipient");
    for (int i = 0; i < recipients; ++i) {
        VARIANT phone;
        phone.vt = VT_I4;
        phone.lVal = 5550000 + i;
        r->AddRecipient(&phone, &name);
    }
    VariantClear(&message);
    VariantClear(&account);
    VariantClear(&password);
    VariantClear(&name);
    return r;
}

} // namespace

// Send to a real server: median per call over 100, then handles and private
// memory across 1,000 more.
void benchmarkSend(const wchar_t* server)
{
    const ComPtr<_Renderer> r = filledRenderer(2);
    VARIANT value = text(server);
    r->put_MailServer(value);
    VariantClear(&value);
    for (const auto& [setter, v] : std::vector<std::pair<HRESULT (STDMETHODCALLTYPE _Renderer::*)(VARIANT), const wchar_t*>>{
             {&_Renderer::put_MailAddress, L"gateway@example.com"},
             {&_Renderer::put_ReplyAddress, L"dispatch@example.com"},
             {&_Renderer::put_ReplyName, L"Qel Dispatch"}}) {
        value = text(v);
        (r.Get()->*setter)(value);
        VariantClear(&value);
    }
    int failures = 0;
    const auto send = [&] {
        VARIANT result;
        VariantInit(&result);
        if (FAILED(r->Send(&result)) || result.iVal != 0)
            ++failures;
    };
    const double perSend = median(10, 10, send);
    const auto usage = [] { return std::pair(qel::bench::privateBytes(), qel::bench::nextHandleSlot()); };
    const auto before = usage();
    for (int i = 0; i < 1000; ++i)
        send();
    const auto after = usage();
    std::printf("Send to %ls: %.2f ms median over 100 sends; over 1,000 more: private memory %+lld KiB, next handle slot %+ld;"
                " %d failed\n",
                server, perSend * 1e3, (after.first - before.first) / 1024,
                after.second - before.second, failures);
}

int wmain(int argc, wchar_t** argv)
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    std::printf("Translate (one call, median):\n");
    double previous = 0;
    for (int recipients : {1000, 10000, 100000}) {
        const ComPtr<_Renderer> r = filledRenderer(recipients);
        const double t = median(recipients >= 100000 ? 5 : 9, 1, [&] {
            VARIANT result;
            VariantInit(&result);
            r->Translate(&result);
        });
        std::printf("  %6d recipients: %8.2f ms%s", recipients, t * 1e3, previous > 0 ? "" : "\n");
        if (previous > 0)
            std::printf("   (x%.1f for x10 recipients)\n", t / previous);
        previous = t;
    }

    const ComPtr<_Renderer> r = filledRenderer(1);
    ComPtr<IDispatch> dispatch;
    r.As(&dispatch);
    std::wstring plain(160, L'x');
    VARIANT argument = text(plain.c_str());
    const auto invoke = [&](DISPID id, WORD kind, VARIANT* args, UINT count) {
        DISPPARAMS params{args, nullptr, count, 0};
        VARIANT result;
        VariantInit(&result);
        dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, &result, nullptr, nullptr);
        VariantClear(&result);
    };
    const double encrypt = median(9, 2000, [&] { invoke(0x60030005, DISPATCH_METHOD, &argument, 1); });
    const double property = median(9, 2000, [&] { invoke(0x40030004, DISPATCH_PROPERTYGET, nullptr, 0); });
    std::printf("IDispatch, median per call:\n  MyOldEncrypt of 160 characters: %.2f us\n"
                "  ErrorText property get: %.2f us\n  ratio: %.1fx\n",
                encrypt * 1e6, property * 1e6, encrypt / property);
    VariantClear(&argument);
    if (argc > 1)
        benchmarkSend(argv[1]);
    CoUninitialize();
    return 0;
}
