#pragma once
// A platform that answers as a test tells it to and records every call with
// its arguments. A test can also make any function raise an error, to stand
// for an error inside an operation's body.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "connection/ConnectionPlatform.h"

namespace qel::test {

class FakeConnectionPlatform final : public connection::ConnectionPlatform {
public:
    struct Call {
        std::string function;
        std::vector<std::uint64_t> numbers; // the arguments other than texts, in order
        std::string text;                   // the text argument, if any
    };
    enum class NameWriting { Untouched, Text, FillWithoutTerminator };

    BOOL connectedResult = TRUE; // InternetGetConnectedStateExA
    DWORD connectedFlags = 0;
    NameWriting nameWriting = NameWriting::Untouched;
    std::string connectionName;
    BOOL operationResult = TRUE; // the other wininet functions that answer a BOOL
    DWORD dialResult = ERROR_SUCCESS;
    DWORD_PTR dialedConnection = 0;
    DWORD hangUpResult = ERROR_SUCCESS;
    bool copyFails = false;
    HMODULE loadedInternetModule = nullptr; // what GetModuleHandleA finds
    HMODULE loadLibraryResult = nullptr;
    std::map<DWORD, std::string> systemMessages;
    std::map<DWORD, std::string> moduleMessages; // for any non-null module handle
    std::map<std::string, DWORD, std::less<>> lastErrors; // per function; 0 when absent
    std::function<void(std::string_view function)> onCall;
    std::vector<Call> calls;

    const Call* lastCallOf(std::string_view function) const
    {
        const auto found = std::find_if(calls.rbegin(), calls.rend(), [&](const Call& c) { return c.function == function; });
        return found == calls.rend() ? nullptr : &*found;
    }
    int countOf(std::string_view function) const
    {
        return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const Call& c) { return c.function == function; }));
    }

    BOOL InternetGetConnectedStateExA(DWORD* flags, char* name, DWORD nameLength, DWORD reserved) override
    {
        // The flags word and the buffer's first two bytes as they came in.
        record("InternetGetConnectedStateExA", {*flags, nameLength, reserved}, std::string(name, 2));
        *flags = connectedFlags;
        if (nameWriting == NameWriting::Text)
            std::memcpy(name, connectionName.c_str(), std::min<std::size_t>(connectionName.size() + 1, nameLength));
        if (nameWriting == NameWriting::FillWithoutTerminator)
            std::memset(name, 'N', nameLength);
        return connectedResult;
    }
    BOOL InternetSetOptionA(HINTERNET internet, DWORD option, void* buffer, DWORD length) override
    {
        const auto* words = static_cast<const DWORD*>(buffer);
        record("InternetSetOptionA", {numberOf(internet), option, length, words[0], words[1]});
        return operationResult;
    }
    BOOL InternetGoOnlineA(char* url, HWND parentWindow, DWORD reserved) override
    {
        record("InternetGoOnlineA", {numberOf(parentWindow), reserved}, url);
        return operationResult;
    }
    DWORD InternetHangUp(DWORD_PTR connection, DWORD reserved) override
    {
        record("InternetHangUp", {connection, reserved});
        return hangUpResult;
    }
    DWORD InternetDialA(HWND parentWindow, char* name, DWORD flags, DWORD_PTR* connection, DWORD reserved) override
    {
        record("InternetDialA", {numberOf(parentWindow), flags, reserved}, name);
        *connection = dialedConnection;
        return dialResult;
    }
    BOOL InternetAutodial(DWORD flags, HWND parentWindow) override
    {
        record("InternetAutodial", {flags, numberOf(parentWindow)});
        return operationResult;
    }
    BOOL InternetAutodialHangup(DWORD reserved) override
    {
        record("InternetAutodialHangup", {reserved});
        return operationResult;
    }
    int lstrlenA(const char* text) override
    {
        record("lstrlenA", {});
        return static_cast<int>(std::strlen(text));
    }
    char* lstrcpyA(char* destination, const char* source) override
    {
        record("lstrcpyA", {});
        return copyFails ? nullptr : std::strcpy(destination, source);
    }
    HMODULE GetModuleHandleA(const char* moduleName) override
    {
        record("GetModuleHandleA", {}, moduleName);
        return loadedInternetModule;
    }
    HMODULE LoadLibraryA(const char* libraryName) override
    {
        record("LoadLibraryA", {}, libraryName);
        return loadLibraryResult;
    }
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId, char* buffer, DWORD size,
                         va_list* arguments) override
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
    BOOL FreeLibrary(HMODULE module) override
    {
        record("FreeLibrary", {numberOf(module)});
        return TRUE;
    }
    DWORD savedLastError() const override { return savedLastError_; }

private:
    static std::uint64_t numberOf(const void* pointer) { return reinterpret_cast<std::uintptr_t>(pointer); }

    void record(std::string function, std::vector<std::uint64_t> numbers, std::string text = {})
    {
        calls.push_back({function, std::move(numbers), std::move(text)});
        if (onCall)
            onCall(function);
        const auto found = lastErrors.find(function);
        savedLastError_ = found == lastErrors.end() ? 0 : found->second;
    }

    DWORD savedLastError_ = 0;
};

} // namespace qel::test
