#include "connection/SystemConnectionPlatform.h"

namespace qel::connection {

SystemConnectionPlatform::SystemConnectionPlatform()
    : SystemConnectionPlatform(LibraryBinding::internetLibrary(), LibraryBinding::systemLibrary())
{
}

SystemConnectionPlatform::SystemConnectionPlatform(LibraryBinding& internetLibrary, LibraryBinding& systemLibrary)
    : internetLibrary_(internetLibrary), systemLibrary_(systemLibrary)
{
}

template <class Function, class... Arguments>
auto SystemConnectionPlatform::call(LibraryBinding& library, const char* functionName, Arguments... arguments)
{
    // Through void(*)() because a direct cast between function types warns.
    const auto entry = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(library.function(functionName)));
    const auto result = entry(arguments...);
    lastError_ = ::GetLastError();
    return result;
}

BOOL SystemConnectionPlatform::InternetGetConnectedStateExA(DWORD* flags, char* connectionName, DWORD nameLength,
                                                            DWORD reserved)
{
    return call<decltype(&::InternetGetConnectedStateExA)>(internetLibrary_, "InternetGetConnectedStateExA", flags,
                                                           connectionName, nameLength, reserved);
}

BOOL SystemConnectionPlatform::InternetSetOptionA(HINTERNET internet, DWORD option, void* buffer, DWORD bufferLength)
{
    return call<decltype(&::InternetSetOptionA)>(internetLibrary_, "InternetSetOptionA", internet, option, buffer,
                                                 bufferLength);
}

BOOL SystemConnectionPlatform::InternetGoOnlineA(char* url, HWND parentWindow, DWORD reserved)
{
    return call<decltype(&::InternetGoOnlineA)>(internetLibrary_, "InternetGoOnlineA", url, parentWindow, reserved);
}

DWORD SystemConnectionPlatform::InternetHangUp(DWORD_PTR connection, DWORD reserved)
{
    return call<decltype(&::InternetHangUp)>(internetLibrary_, "InternetHangUp", connection, reserved);
}

DWORD SystemConnectionPlatform::InternetDialA(HWND parentWindow, char* connectionName, DWORD flags,
                                              DWORD_PTR* connection, DWORD reserved)
{
    return call<decltype(&::InternetDialA)>(internetLibrary_, "InternetDialA", parentWindow, connectionName, flags,
                                            connection, reserved);
}

BOOL SystemConnectionPlatform::InternetAutodial(DWORD flags, HWND parentWindow)
{
    return call<decltype(&::InternetAutodial)>(internetLibrary_, "InternetAutodial", flags, parentWindow);
}

BOOL SystemConnectionPlatform::InternetAutodialHangup(DWORD reserved)
{
    return call<decltype(&::InternetAutodialHangup)>(internetLibrary_, "InternetAutodialHangup", reserved);
}

int SystemConnectionPlatform::lstrlenA(const char* text)
{
    return call<decltype(&::lstrlenA)>(systemLibrary_, "lstrlenA", text);
}

char* SystemConnectionPlatform::lstrcpyA(char* destination, const char* source)
{
    return call<decltype(&::lstrcpyA)>(systemLibrary_, "lstrcpyA", destination, source);
}

HMODULE SystemConnectionPlatform::GetModuleHandleA(const char* moduleName)
{
    return call<decltype(&::GetModuleHandleA)>(systemLibrary_, "GetModuleHandleA", moduleName);
}

HMODULE SystemConnectionPlatform::LoadLibraryA(const char* libraryName)
{
    return call<decltype(&::LoadLibraryA)>(systemLibrary_, "LoadLibraryA", libraryName);
}

DWORD SystemConnectionPlatform::FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                               char* buffer, DWORD size, va_list* arguments)
{
    return call<decltype(&::FormatMessageA)>(systemLibrary_, "FormatMessageA", flags, source, messageId, languageId,
                                             buffer, size, arguments);
}

BOOL SystemConnectionPlatform::FreeLibrary(HMODULE module)
{
    return call<decltype(&::FreeLibrary)>(systemLibrary_, "FreeLibrary", module);
}

} // namespace qel::connection
