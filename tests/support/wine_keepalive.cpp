// Held open by the test fixture for the whole run: while one GUI process
// lives, Wine keeps its desktop and services, and the test programs neither
// wait for them to start nor inherit them (with ctest's output pipe).
#include <windows.h>

int main()
{
    HWND window = CreateWindowExW(0, L"STATIC", L"keepalive", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    // An hour at most, in case the fixture's cleanup never runs.
    const DWORD deadline = GetTickCount() + 3600 * 1000;
    MSG message;
    while (static_cast<LONG>(deadline - GetTickCount()) > 0) {
        if (MsgWaitForMultipleObjects(0, nullptr, FALSE, 1000, QS_ALLINPUT) == WAIT_OBJECT_0)
            while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
                DispatchMessageW(&message);
    }
    DestroyWindow(window);
    return 0;
}
