#pragma once
// A platform that answers as a test tells it to and records every call with
// its arguments. A test can also make any function raise an error, to stand
// for an error inside an operation's body.
#include <cstdint>
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

    // InternetGetConnectedStateExA
    BOOL connectedResult = TRUE;
    DWORD connectedFlags = 0;
    NameWriting nameWriting = NameWriting::Untouched;
    std::string connectionName;

    // InternetSetOptionA, InternetGoOnlineA, InternetAutodial, InternetAutodialHangup
    BOOL operationResult = TRUE;
    DWORD dialResult = ERROR_SUCCESS;
    DWORD_PTR dialedConnection = 0;
    DWORD hangUpResult = ERROR_SUCCESS;
    bool copyFails = false;

    HMODULE loadedInternetModule = nullptr; // what GetModuleHandleA finds
    HMODULE loadLibraryResult = nullptr;
    std::map<DWORD, std::string> systemMessages;
    std::map<DWORD, std::string> moduleMessages; // served for a non-null module handle

    std::map<std::string, DWORD, std::less<>> lastErrors; // per function; 0 when absent
    std::function<void(std::string_view function)> onCall;

    std::vector<Call> calls;
    const Call* lastCallOf(std::string_view function) const;
    int countOf(std::string_view function) const;

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
    DWORD savedLastError() const override { return savedLastError_; }

private:
    void record(std::string function, std::vector<std::uint64_t> numbers, std::string text = {});

    DWORD savedLastError_ = 0;
};

} // namespace qel::test
