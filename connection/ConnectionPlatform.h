#pragma once
// The platform functions the connection class calls, named as the platform
// names them, so that tests can stand in for wininet.dll and kernel32.
// Every call saves the thread's last-error value it left; the error routines
// read that saved value rather than asking the platform again, because a
// message lookup in between would overwrite it.
#include <windows.h>
#include <wininet.h>

#include <cstdarg>

namespace qel::connection {

class ConnectionPlatform {
public:
    virtual ~ConnectionPlatform() = default;

    // wininet.dll
    virtual BOOL InternetGetConnectedStateExA(DWORD* flags, char* connectionName, DWORD nameLength,
                                              DWORD reserved) = 0;
    virtual BOOL InternetSetOptionA(HINTERNET internet, DWORD option, void* buffer, DWORD bufferLength) = 0;
    virtual BOOL InternetGoOnlineA(char* url, HWND parentWindow, DWORD reserved) = 0;
    virtual DWORD InternetHangUp(DWORD_PTR connection, DWORD reserved) = 0;
    virtual DWORD InternetDialA(HWND parentWindow, char* connectionName, DWORD flags, DWORD_PTR* connection,
                                DWORD reserved) = 0;
    virtual BOOL InternetAutodial(DWORD flags, HWND parentWindow) = 0;
    virtual BOOL InternetAutodialHangup(DWORD reserved) = 0;

    // kernel32
    virtual int lstrlenA(const char* text) = 0;
    virtual char* lstrcpyA(char* destination, const char* source) = 0;
    virtual HMODULE GetModuleHandleA(const char* moduleName) = 0;
    virtual HMODULE LoadLibraryA(const char* libraryName) = 0;
    virtual DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer,
                                 DWORD size, va_list* arguments) = 0;
    virtual BOOL FreeLibrary(HMODULE module) = 0;

    // The last-error value that the latest of the calls above left.
    virtual DWORD savedLastError() const = 0;
};

} // namespace qel::connection
