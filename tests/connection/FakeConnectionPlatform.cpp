#include "connection/FakeConnectionPlatform.h"

#include <algorithm>
#include <cstring>

namespace qel::test {

namespace {

std::uint64_t numberOf(const void* pointer)
{
    return reinterpret_cast<std::uintptr_t>(pointer);
}

} // namespace

const FakeConnectionPlatform::Call* FakeConnectionPlatform::lastCallOf(std::string_view function) const
{
    for (auto call = calls.rbegin(); call != calls.rend(); ++call)
        if (call->function == function)
            return &*call;
    return nullptr;
}

int FakeConnectionPlatform::countOf(std::string_view function) const
{
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.function == function; }));
}

void FakeConnectionPlatform::record(std::string function, std::vector<std::uint64_t> numbers, std::string text)
{
    calls.push_back({function, std::move(numbers), std::move(text)});
    if (onCall)
        onCall(function);
    const auto found = lastErrors.find(function);
    savedLastError_ = found == lastErrors.end() ? 0 : found->second;
}

BOOL FakeConnectionPlatform::InternetGetConnectedStateExA(DWORD* flags, char* name, DWORD nameLength, DWORD reserved)
{
    // The flags word as it came in, to show the class cleared it.
    record("InternetGetConnectedStateExA", {*flags, nameLength, reserved}, std::string(name, 2));
    *flags = connectedFlags;
    switch (nameWriting) {
    case NameWriting::Untouched:
        break;
    case NameWriting::Text:
        std::memcpy(name, connectionName.c_str(), std::min<std::size_t>(connectionName.size() + 1, nameLength));
        break;
    case NameWriting::FillWithoutTerminator:
        std::memset(name, 'N', nameLength);
        break;
    }
    return connectedResult;
}

BOOL FakeConnectionPlatform::InternetSetOptionA(HINTERNET internet, DWORD option, void* buffer, DWORD bufferLength)
{
    const auto* words = static_cast<const DWORD*>(buffer);
    record("InternetSetOptionA", {numberOf(internet), option, bufferLength, words[0], words[1]});
    return operationResult;
}

BOOL FakeConnectionPlatform::InternetGoOnlineA(char* url, HWND parentWindow, DWORD reserved)
{
    record("InternetGoOnlineA", {numberOf(parentWindow), reserved}, url);
    return operationResult;
}

DWORD FakeConnectionPlatform::InternetHangUp(DWORD_PTR connection, DWORD reserved)
{
    record("InternetHangUp", {connection, reserved});
    return hangUpResult;
}

DWORD FakeConnectionPlatform::InternetDialA(HWND parentWindow, char* name, DWORD flags, DWORD_PTR* connection,
                                            DWORD reserved)
{
    record("InternetDialA", {numberOf(parentWindow), flags, reserved}, name);
    *connection = dialedConnection;
    return dialResult;
}

BOOL FakeConnectionPlatform::InternetAutodial(DWORD flags, HWND parentWindow)
{
    record("InternetAutodial", {flags, numberOf(parentWindow)});
    return operationResult;
}

BOOL FakeConnectionPlatform::InternetAutodialHangup(DWORD reserved)
{
    record("InternetAutodialHangup", {reserved});
    return operationResult;
}

int FakeConnectionPlatform::lstrlenA(const char* text)
{
    record("lstrlenA", {});
    return static_cast<int>(std::strlen(text));
}

char* FakeConnectionPlatform::lstrcpyA(char* destination, const char* source)
{
    record("lstrcpyA", {});
    if (copyFails)
        return nullptr;
    return std::strcpy(destination, source);
}

HMODULE FakeConnectionPlatform::GetModuleHandleA(const char* moduleName)
{
    record("GetModuleHandleA", {}, moduleName);
    return loadedInternetModule;
}

HMODULE FakeConnectionPlatform::LoadLibraryA(const char* libraryName)
{
    record("LoadLibraryA", {}, libraryName);
    return loadLibraryResult;
}

DWORD FakeConnectionPlatform::FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                                             char* buffer, DWORD size, va_list* arguments)
{
    record("FormatMessageA", {flags, numberOf(source), messageId, languageId, size, numberOf(arguments)});
    const auto& table = source ? moduleMessages : systemMessages;
    const auto found = table.find(messageId);
    if (found == table.end())
        return 0;
    const std::size_t count = std::min<std::size_t>(found->second.size(), size - 1);
    std::memcpy(buffer, found->second.data(), count);
    buffer[count] = '\0';
    return static_cast<DWORD>(count);
}

BOOL FakeConnectionPlatform::FreeLibrary(HMODULE module)
{
    record("FreeLibrary", {numberOf(module)});
    return TRUE;
}

} // namespace qel::test
