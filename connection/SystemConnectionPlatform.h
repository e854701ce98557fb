#pragma once
// The real platform: each function bound by name in wininet.dll or kernel32
// on its first use, the last-error value saved right after each call.
#include "connection/ConnectionPlatform.h"
#include "connection/LibraryBinding.h"

namespace qel::connection {

class SystemConnectionPlatform final : public ConnectionPlatform {
public:
    // The process-wide bindings of wininet.dll and kernel32.
    SystemConnectionPlatform();
    // Other libraries in their place, for tests of binding failures.
    SystemConnectionPlatform(LibraryBinding& internetLibrary, LibraryBinding& systemLibrary);

    BOOL InternetGetConnectedStateExA(DWORD* flags, char* connectionName, DWORD nameLength, DWORD reserved) override;
    BOOL InternetSetOptionA(HINTERNET internet, DWORD option, void* buffer, DWORD bufferLength) override;
    BOOL InternetGoOnlineA(char* url, HWND parentWindow, DWORD reserved) override;
    DWORD InternetHangUp(DWORD_PTR connection, DWORD reserved) override;
    DWORD InternetDialA(HWND parentWindow, char* connectionName, DWORD flags, DWORD_PTR* connection,
                        DWORD reserved) override;
    BOOL InternetAutodial(DWORD flags, HWND parentWindow) override;
    BOOL InternetAutodialHangup(DWORD reserved) override;

    int lstrlenA(const char* text) override;
    char* lstrcpyA(char* destination, const char* source) override;
    HMODULE GetModuleHandleA(const char* moduleName) override;
    HMODULE LoadLibraryA(const char* libraryName) override;
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                         va_list* arguments) override;
    BOOL FreeLibrary(HMODULE module) override;

    DWORD savedLastError() const override { return lastError_; }

private:
    template <class Function, class... Arguments>
    auto call(LibraryBinding& library, const char* functionName, Arguments... arguments);

    LibraryBinding& internetLibrary_;
    LibraryBinding& systemLibrary_;
    DWORD lastError_ = 0;
};

} // namespace qel::connection
