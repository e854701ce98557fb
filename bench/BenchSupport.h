#pragma once
// What the Windows benchmarks measure with. Wine reports PrivateUsage and the
// handle count as 0: PagefileUsage (the same charge on Windows) stands for
// private memory, and the slot the next new handle gets, which climbs while
// handles leak, for the handles.
#include <windows.h>
#include <oaidl.h>
#include <psapi.h>

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

} // namespace qel::bench
