#pragma once
// What the Windows benchmarks measure with. Wine reports PrivateUsage and the
// handle count as 0: PagefileUsage (the same charge on Windows) stands for
// private memory, and the slot the next new handle gets, which climbs while
// handles leak, for the handles.
#include <windows.h>
#include <oaidl.h>
#include <psapi.h>

#include <algorithm>

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

} // namespace qel::bench
