#pragma once
// What the Windows benchmarks measure with. Wine reports PrivateUsage and the
// handle count as 0: PagefileUsage (the same charge on Windows) stands for
// private memory, and the slot the next new handle gets, which climbs while
// handles leak, for the handles.
#include <windows.h>
#include <oaidl.h>
#include <psapi.h>

#include <wrl/client.h>

#include <algorithm>
#include <vector>

namespace qel::bench {

inline double seconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

inline long long privateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return static_cast<long long>(std::max(counters.PrivateUsage, counters.PagefileUsage));
}

inline long nextHandleSlot()
{
    const HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CloseHandle(probe);
    return static_cast<long>(reinterpret_cast<ULONG_PTR>(probe) / 4);
}

// A text VARIANT the caller clears.
inline VARIANT text(const wchar_t* value)
{
    VARIANT v;
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(value);
    return v;
}

inline VARIANT number(long value)
{
    VARIANT v;
    v.vt = VT_I4;
    v.lVal = value;
    return v;
}

// Calls a member by name: a property put with one argument, or a method; clears the arguments.
inline HRESULT call(IDispatch* object, const wchar_t* name, WORD kind, std::vector<VARIANT> args, VARIANT* result = nullptr)
{
    DISPID id;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    if (FAILED(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)))
        return E_FAIL;
    std::reverse(args.begin(), args.end());
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params{args.data(), kind == DISPATCH_PROPERTYPUT ? &put : nullptr, static_cast<UINT>(args.size()),
                      kind == DISPATCH_PROPERTYPUT ? 1u : 0u};
    const HRESULT hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params, result, nullptr, nullptr);
    for (VARIANT& v : args)
        VariantClear(&v);
    return hr;
}

// A new mail component, as the Renderer makes one, with the members every
// benchmark send sets and one recipient; null when none can be made.
inline Microsoft::WRL::ComPtr<IDispatch> newMail(const wchar_t* server)
{
    CLSID clsid;
    Microsoft::WRL::ComPtr<IDispatch> mail;
    if (FAILED(CLSIDFromProgID(L"EasyMail.SMTP", &clsid))
        || FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, reinterpret_cast<void**>(mail.GetAddressOf()))))
        return nullptr;
    call(mail.Get(), L"MailServer", DISPATCH_PROPERTYPUT, {text(server)});
    call(mail.Get(), L"Subject", DISPATCH_PROPERTYPUT, {text(L"bench")});
    call(mail.Get(), L"BodyText", DISPATCH_PROPERTYPUT, {text(L"body")});
    call(mail.Get(), L"FromAddr", DISPATCH_PROPERTYPUT, {text(L"dispatch@example.com")});
    VARIANT ignored;
    VariantInit(&ignored);
    call(mail.Get(), L"AddRecipient", DISPATCH_METHOD, {text(L"gateway@example.com")}, &ignored);
    VariantClear(&ignored);
    return mail;
}

// The component's answer to Send (0 when sent); -2 when the call itself failed.
inline int send(IDispatch* mail)
{
    VARIANT result;
    VariantInit(&result);
    if (FAILED(call(mail, L"Send", DISPATCH_METHOD, {}, &result)))
        return -2;
    VariantChangeType(&result, &result, 0, VT_I4);
    return result.lVal;
}

} // namespace qel::bench
