// ProcessError, the two message lookups and the operation guards.
#include <functional>

#include "connection/ConnectionTestSupport.h"

namespace qel::test {
namespace {

using Numbers = std::vector<std::uint64_t>;
const HMODULE kInternetModule = reinterpret_cast<HMODULE>(0x10000);

class ErrorReportingTest : public ConnectionTest {
protected:
    void SetUp() override
    {
        ConnectionTest::SetUp();
        platform->systemMessages = {{5, "Access denied. "}, {12000, "General twelve thousand."}};
        platform->moduleMessages = {{12001, "Out of handles.\r\n"}, {12029, "Cannot connect.\r\n"}};
        platform->loadedInternetModule = kInternetModule;
    }
};

TEST_F(ErrorReportingTest, LastErrorValueChoosesNumberAndDescription)
{
    const struct {
        DWORD lastError;
        HRESULT hr; // S_OK: nothing raised
        std::wstring description;
    } cases[] = {
        {0, S_OK, L""},
        {0x80000000, S_OK, L""}, // negative as a signed number
        {0xFFFFFFFF, S_OK, L""},
        {5, static_cast<HRESULT>(0x800403ED), L"Win32API Error: 5 Access denied. "},
        {12000, static_cast<HRESULT>(0x800403E8 + 12000), L"Win32API Error: 12000 General twelve thousand."},
        {12001, static_cast<HRESULT>(0x800403E8 + 12001), L"WinInet API Error: 12001 Out of handles."},
        {1, static_cast<HRESULT>(0x800403E9), L"Win32API Error: 1 "}, // no text known
        {13000, static_cast<HRESULT>(0x800403E8 + 13000), L"WinInet API Error: 13000 "},
        // The sum is no failure status any more; the caller still sees a failure.
        {0x7FFFFFFF, E_FAIL, L"WinInet API Error: 2147483647 "},
    };
    platform->dialResult = 1;
    for (const auto& c : cases) {
        platform->lastErrors["InternetDialA"] = c.lastError;
        BSTR name = SysAllocString(L"Office");
        LONG number = 0;
        VARIANT_BOOL result = 0;
        const Failure failure = failureOf(connection->Dial(&number, &name, &number, nullptr, &result));
        SysFreeString(name);
        EXPECT_EQ(failure.hr, c.hr) << c.lastError;
        if (c.hr != S_OK) {
            EXPECT_EQ(failure.source, L"CWinInetConnection.Dial") << c.lastError;
            EXPECT_EQ(failure.description, c.description) << c.lastError;
        }
    }
}

TEST_F(ErrorReportingTest, WinApiDescriptionAsksTheSystemTable)
{
    LONG number = 5;
    BSTR text = nullptr;
    ASSERT_HRESULT_SUCCEEDED(connection->GetWinApiDesc(&number, &text));
    EXPECT_EQ(takeText(text), L"Access denied. ");
    Numbers lookup = platform->lastCallOf("FormatMessageA")->numbers;
    EXPECT_NE(lookup.back(), 0u) << "the arguments";
    lookup.pop_back();
    EXPECT_EQ(lookup, (Numbers{0x12FF, 0, 5, 0x400, 256})); // flags, source, number, language, size

    number = 4242;
    ASSERT_HRESULT_SUCCEEDED(connection->GetWinApiDesc(&number, &text));
    EXPECT_EQ(takeText(text), L"");
}

TEST_F(ErrorReportingTest, WinInetDescriptionDropsTheClosingLineBreak)
{
    const struct {
        std::string message;
        std::wstring expected;
    } cases[] = {
        {std::string(20, 'w') + "\r\n", std::wstring(20, L'w')},
        {"\r\n", L""},
        {std::string(300, 'v'), std::wstring(253, L'v')}, // 255 fit the buffer, less the two dropped
    };
    for (const auto& c : cases) {
        platform->moduleMessages[12345] = c.message;
        LONG number = 12345;
        BSTR text = nullptr;
        ASSERT_HRESULT_SUCCEEDED(connection->GetWinInetDesc(&number, &text));
        EXPECT_EQ(takeText(text), c.expected);
        EXPECT_EQ(platform->lastCallOf("FormatMessageA")->numbers[0], 0x800u);
        EXPECT_EQ(platform->lastCallOf("FormatMessageA")->numbers[3], 0u);
    }
}

TEST_F(ErrorReportingTest, WinInetDescriptionLeavesTheLibraryAsItFoundIt)
{
    const HMODULE loaded = reinterpret_cast<HMODULE>(0x20000);
    const struct {
        HMODULE alreadyLoaded;
        HMODULE loadResult;
        int loads;
        std::uint64_t lookupModule;
        int frees;
    } cases[] = {
        {kInternetModule, nullptr, 0, 0x10000, 0},
        {nullptr, loaded, 1, 0x20000, 1},
        {nullptr, nullptr, 1, 0, 0}, // a null handle is never freed
    };
    for (const auto& c : cases) {
        platform->calls.clear();
        platform->loadedInternetModule = c.alreadyLoaded;
        platform->loadLibraryResult = c.loadResult;
        LONG number = 12029;
        BSTR text = nullptr;
        ASSERT_HRESULT_SUCCEEDED(connection->GetWinInetDesc(&number, &text));
        SysFreeString(text);
        EXPECT_EQ(platform->lastCallOf("GetModuleHandleA")->text, "wininet.dll");
        EXPECT_EQ(platform->countOf("LoadLibraryA"), c.loads);
        EXPECT_EQ(platform->lastCallOf("FormatMessageA")->numbers[1], c.lookupModule);
        EXPECT_EQ(platform->countOf("FreeLibrary"), c.frees);
        if (c.frees) {
            EXPECT_EQ(platform->lastCallOf("FreeLibrary")->numbers, (Numbers{0x20000}));
        }
    }
}

// One operation as its guard sees it: the platform function inside its body.
struct GuardedOperation {
    const char* platformFunction;
    std::function<HRESULT(_CWinInetConnection*)> call;
    const wchar_t* source;
    std::int32_t offset;
};

std::vector<GuardedOperation> guardedOperations()
{
    static BSTR text = SysAllocString(L"x");
    static LONG number = 0;
    static VARIANT_BOOL boolean = 0;
    static VARIANT variant;
    constexpr auto operationOffset = static_cast<std::int32_t>(0x800403E8);
    return {
        {"InternetSetOptionA", [](auto* c) { return c->SetGlobalOnline(&boolean); },
         L"CWinInetConnection.SetGlobalOnline", operationOffset},
        {"InternetSetOptionA", [](auto* c) { return c->SetGlobalOffline(&boolean); },
         L"CWinInetConnection.SetGlobalOffline", operationOffset},
        {"InternetGoOnlineA", [](auto* c) { return c->GoOnline(&text, &number, &boolean); },
         L"CWinInetConnection.GoOnline", operationOffset},
        {"InternetHangUp", [](auto* c) { return c->HangUp(&variant); }, L"CWinInetConnection.HangUp",
         operationOffset},
        {"InternetDialA", [](auto* c) { return c->Dial(&number, &text, &number, nullptr, &boolean); },
         L"CWinInetConnection.Dial", operationOffset},
        {"InternetAutodialHangup", [](auto* c) { return c->AutodialHangup(); },
         L"CWinInetConnection.AutodialHangup", operationOffset},
        {"InternetGetConnectedStateExA", [](auto* c) { return c->Refresh(); }, L"CWinInetConnection.Refresh",
         static_cast<std::int32_t>(0x80040000)},
    };
}

TEST_F(ErrorReportingTest, GuardMovesAnErrorOfTheBodyIntoTheComponentRange)
{
    for (const GuardedOperation& operation : guardedOperations()) {
        platform->onCall = [&](std::string_view function) {
            if (function == operation.platformFunction)
                raise(ErrorNumber::InvalidArgument);
        };
        const Failure failure = failureOf(operation.call(connection.Get()));
        // The numbers the class is known by: Refresh's guard has its own range.
        const bool refresh = operation.source == std::wstring_view(L"CWinInetConnection.Refresh");
        EXPECT_EQ(failure.hr, static_cast<HRESULT>(refresh ? 0x80040005 : 0x800403ED)) << operation.platformFunction;
        EXPECT_EQ(failure.source, operation.source);
        EXPECT_EQ(failure.description, L"Invalid procedure call or argument");
    }
}

TEST_F(ErrorReportingTest, GuardRaisesOverflowWhenTheSumLeavesThe32BitRange)
{
    for (const GuardedOperation& operation : guardedOperations()) {
        const std::int32_t lowestWrapped = INT32_MIN - operation.offset;
        for (const std::int32_t inner : {lowestWrapped, lowestWrapped - 1}) {
            platform->onCall = [&](std::string_view function) {
                if (function == operation.platformFunction)
                    throw connection::ObjectError(inner, L"elsewhere", L"inner");
            };
            const Failure failure = failureOf(operation.call(connection.Get()));
            if (inner == lowestWrapped) {
                EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x80000000)) << operation.platformFunction;
                EXPECT_EQ(failure.source, operation.source);
            } else {
                EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800A0006)) << operation.platformFunction;
                EXPECT_EQ(failure.description, L"Overflow");
            }
        }
    }
}

TEST_F(ErrorReportingTest, ErrorLeavingProcessErrorPassesTheOperationsGuardUnchanged)
{
    platform->operationResult = FALSE;
    platform->lastErrors["InternetGoOnlineA"] = 5;
    BSTR url = SysAllocString(L"");
    LONG window = 0;
    VARIANT_BOOL result = 0;
    // Composed by ProcessError: the number carries the offset once.
    Failure failure = failureOf(connection->GoOnline(&url, &window, &result));
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800403ED));
    EXPECT_EQ(failure.source, L"CWinInetConnection.GoOnline");

    // Raised inside ProcessError while the text is fetched: its own guard names it.
    platform->onCall = [](std::string_view function) {
        if (function == "FormatMessageA")
            raise(ErrorNumber::TypeMismatch);
    };
    failure = failureOf(connection->GoOnline(&url, &window, &result));
    SysFreeString(url);
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800403E8 + 13));
    EXPECT_EQ(failure.source, L"CWinInetConnection.ProcessError");
    EXPECT_EQ(failure.description, L"Type mismatch");
}

TEST_F(ErrorReportingTest, LibraryLoadedForALookupIsFreedWhenTheLookupFails)
{
    platform->loadedInternetModule = nullptr;
    platform->loadLibraryResult = reinterpret_cast<HMODULE>(0x20000);
    platform->onCall = [](std::string_view function) {
        if (function == "FormatMessageA")
            raise(ErrorNumber::InvalidArgument);
    };
    LONG number = 12029;
    BSTR text = nullptr;
    EXPECT_EQ(connection->GetWinInetDesc(&number, &text), static_cast<HRESULT>(0x800A0005));
    EXPECT_EQ(platform->countOf("FreeLibrary"), 1);
}

} // namespace
} // namespace qel::test
