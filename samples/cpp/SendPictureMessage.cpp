// A C++ host, early bound through the vtable of _Renderer (the header that
// widl makes from QelMessage.idl).
//   SendPictureMessage.exe SMTP-SERVER[:PORT] GATEWAY-MAILBOX PICTURE.jpg
#include <windows.h>

#include <wrl/client.h>

#include <cstdio>

#include "QelMessage.h"

namespace {

VARIANT text(const wchar_t* value)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    return v;
}

// Sets a property from a string and frees the temporary.
template <class Setter>
void set(Setter setter, const wchar_t* value)
{
    VARIANT v = text(value);
    setter(v);
    VariantClear(&v);
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: SendPictureMessage SMTP-SERVER[:PORT] GATEWAY-MAILBOX PICTURE.jpg\n");
        return 2;
    }
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    int status = 1;
    {
        Microsoft::WRL::ComPtr<_Renderer> renderer;
        if (FAILED(CoCreateInstance(CLSID_Renderer, nullptr, CLSCTX_INPROC_SERVER, IID__Renderer,
                                    reinterpret_cast<void**>(renderer.GetAddressOf())))) {
            std::fprintf(stderr, "QelMessage.Renderer is not registered (regsvr32 QelMessage.dll)\n");
            CoUninitialize();
            return 1;
        }
        _Renderer* r = renderer.Get();
        set([r](VARIANT v) { r->put_MailServer(v); }, argv[1]);
        set([r](VARIANT v) { r->put_MailAddress(v); }, argv[2]);
        set([r](VARIANT v) { r->put_PictureFile(v); }, argv[3]);
        set([r](VARIANT v) { r->put_ReplyAddress(v); }, L"dispatch@example.com");
        set([r](VARIANT v) { r->put_ReplyName(v); }, L"Qel Dispatch");
        set([r](VARIANT v) { r->put_Account(v); }, L"acct-001");
        set([r](VARIANT v) { r->put_Password(v); }, L"s3cret");
        set([r](VARIANT v) { r->put_Message(v); }, L"Meeting moved to 3 pm");

        const wchar_t* phones[][2] = {{L"5550101", L"Ann"}, {L"5550102", L"Ben"}};
        for (const auto& [phone, name] : phones) {
            VARIANT p = text(phone), n = text(name);
            r->AddRecipient(&p, &n);
            VariantClear(&p);
            VariantClear(&n);
        }

        VARIANT result;
        VariantInit(&result);
        const HRESULT hr = r->Send(&result);
        if (FAILED(hr)) {
            std::fprintf(stderr, "Send raised 0x%08lx\n", static_cast<unsigned long>(hr));
        } else if (result.iVal == 0) {
            std::printf("Sent.\n");
            status = 0;
        } else {
            VARIANT why;
            VariantInit(&why);
            r->get_ErrorText(&why);
            std::printf("Not sent: %ls\n", why.vt == VT_BSTR ? why.bstrVal : L"");
            VariantClear(&why);
        }
    }
    CoUninitialize();
    return status;
}
