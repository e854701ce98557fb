// One picture message through the Renderer and the registered mail
// component, timed, with the host's private memory sampled during the send
// (PagefileUsage: Wine reports PrivateUsage as 0).
//   qel_mail_send_bench.exe SERVER:PORT PICTURE.jpg
// Prints "bytes B seconds S growth-kib K result R". Needs the servers
// registered in the prefix.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

#include "BenchSupport.h"
#include "QelMessage.h"

using Microsoft::WRL::ComPtr;
using qel::bench::privateBytes;

namespace {

void put(_Renderer* r, HRESULT (STDMETHODCALLTYPE _Renderer::*setter)(VARIANT), const wchar_t* text)
{
    VARIANT v = qel::bench::text(text);
    (r->*setter)(v);
    VariantClear(&v);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qel_mail_send_bench SERVER:PORT PICTURE.jpg\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 1;
    {
        ComPtr<_Renderer> r;
        if (FAILED(CoCreateInstance(CLSID_Renderer, nullptr, CLSCTX_INPROC_SERVER, IID__Renderer,
                                    reinterpret_cast<void**>(r.GetAddressOf())))) {
            std::fprintf(stderr, "QelMessage.Renderer is not registered\n");
            return 2;
        }
        put(r.Get(), &_Renderer::put_MailServer, argv[1]);
        put(r.Get(), &_Renderer::put_MailAddress, L"gateway@example.com");
        put(r.Get(), &_Renderer::put_ReplyAddress, L"dispatch@example.com");
        put(r.Get(), &_Renderer::put_ReplyName, L"Qel Dispatch");
        put(r.Get(), &_Renderer::put_Account, L"acct-001");
        put(r.Get(), &_Renderer::put_Password, L"secret");
        put(r.Get(), &_Renderer::put_Message, L"Harbour picture");
        put(r.Get(), &_Renderer::put_PictureFile, argv[2]);
        VARIANT phone, name;
        phone.vt = VT_BSTR;
        phone.bstrVal = SysAllocString(L"5550101");
        name.vt = VT_BSTR;
        name.bstrVal = SysAllocString(L"Ann");
        r->AddRecipient(&phone, &name);
        VariantClear(&phone);
        VariantClear(&name);

        const long long baseline = privateBytes();
        std::atomic<bool> sending{true};
        std::atomic<long long> peak{baseline};
        std::thread sampler([&] {
            while (sending) {
                peak = std::max(peak.load(), privateBytes());
                Sleep(2);
            }
        });
        const double started = qel::bench::seconds();
        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = r->Send(&result);
        const double took = qel::bench::seconds() - started;
        sending = false;
        sampler.join();
        peak = std::max(peak.load(), privateBytes());
        WIN32_FILE_ATTRIBUTE_DATA file{};
        GetFileAttributesExW(argv[2], GetFileExInfoStandard, &file);
        VARIANT code;
        VariantInit(&code);
        VariantChangeType(&code, &result, 0, VT_I4);
        std::printf("bytes %llu seconds %.3f growth-kib %lld result %ld\n",
                    (static_cast<unsigned long long>(file.nFileSizeHigh) << 32) | file.nFileSizeLow,
                    took, (peak.load() - baseline) / 1024,
                    SUCCEEDED(hr) ? code.lVal : static_cast<long>(hr));
        VariantClear(&result);
        status = SUCCEEDED(hr) && code.lVal == 0 ? 0 : 1;
    }
    CoUninitialize();
    return status;
}
