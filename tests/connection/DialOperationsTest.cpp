// The online-mode and dial-up operations: what each hands the platform and
// how it reads the outcome.
#include "connection/ConnectionTestSupport.h"

namespace qel::test {
namespace {

using Numbers = std::vector<std::uint64_t>;

HRESULT dial(_CWinInetConnection* c, LONG option, VARIANT_BOOL* showOffline, VARIANT_BOOL* result,
             const wchar_t* name = L"Office")
{
    BSTR text = SysAllocString(name);
    LONG window = 0x1234;
    const HRESULT hr = c->Dial(&window, &text, &option, showOffline, result);
    SysFreeString(text);
    return hr;
}

TEST_F(ConnectionTest, DialAndAutodialAddTheirBitToTheCallersFlags)
{
    VARIANT_BOOL yes = VARIANT_TRUE, no = VARIANT_FALSE, otherTrue = 1, result = 0;
    const struct {
        LONG option;
        VARIANT_BOOL* flag; // null: omitted
        DWORD dialFlags;
        DWORD autodialFlags;
    } cases[] = {{0x1, nullptr, 0x1, 0x5},       {0x1, &yes, 0x4001, 0x5}, {0x4000, &yes, 0x4000, 0x4004},
                 {0x1, &no, 0x1, 0x1},           {0x2, &otherTrue, 0x4002, 0x6}, {0x4, &no, 0x4, 0x4},
                 {-1, &no, 0xFFFFFFFF, 0xFFFFFFFF}};
    for (const auto& c : cases) {
        ASSERT_HRESULT_SUCCEEDED(dial(connection.Get(), c.option, c.flag, &result));
        EXPECT_EQ(platform->lastCallOf("InternetDialA")->numbers, (Numbers{0x1234, c.dialFlags, 0})) << c.option;
        LONG window = 77, option = c.option;
        ASSERT_HRESULT_SUCCEEDED(connection->Autodial(&window, &option, c.flag, &result));
        EXPECT_EQ(result, VARIANT_TRUE);
        EXPECT_EQ(platform->lastCallOf("InternetAutodial")->numbers, (Numbers{c.autodialFlags, 77})) << c.option;
    }
}

TEST_F(ConnectionTest, DialSucceedsOnZeroAndReportsAnyOtherReturn)
{
    VARIANT_BOOL result = 0;
    ASSERT_HRESULT_SUCCEEDED(dial(connection.Get(), 0, nullptr, &result, L"Caf\u00E9 \u20AC"));
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(platform->lastCallOf("InternetDialA")->text, "Caf\xE9 \x80"); // ANSI code page 1252
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);

    platform->dialResult = 668;
    ASSERT_HRESULT_SUCCEEDED(dial(connection.Get(), 0, nullptr, &result)); // no last error: nothing raised
    EXPECT_EQ(result, VARIANT_FALSE);

    platform->lastErrors["InternetDialA"] = 668;
    platform->systemMessages[668] = "The connection was terminated. ";
    const Failure failure = failureOf(dial(connection.Get(), 0, nullptr, &result));
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800403E8 + 668));
    EXPECT_EQ(failure.source, L"CWinInetConnection.Dial");
    EXPECT_EQ(failure.description, L"Win32API Error: 668 The connection was terminated. ");
}

TEST_F(ConnectionTest, HangUpHandsBackTheLastDialsNumberAndAnswersABooleanVariant)
{
    VARIANT result;
    ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result));
    EXPECT_EQ(platform->lastCallOf("InternetHangUp")->numbers, (Numbers{0, 0}));

    platform->dialedConnection = 0x00C0FFEE;
    platform->dialResult = 5; // the platform's number counts even when the dial failed
    VARIANT_BOOL dialed = 0;
    dial(connection.Get(), 0, nullptr, &dialed);
    platform->lastErrors["InternetHangUp"] = 5;
    const struct {
        DWORD platformReturn;
        VARIANT_BOOL expected;
    } cases[] = {{0, VARIANT_TRUE}, {1, VARIANT_FALSE}, {668, VARIANT_FALSE}, {0xFFFFFFFF, VARIANT_FALSE}};
    for (const auto& c : cases) {
        platform->hangUpResult = c.platformReturn;
        ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result)) << c.platformReturn;
        EXPECT_EQ(result.vt, VT_BOOL);
        EXPECT_EQ(result.boolVal, c.expected) << c.platformReturn;
        EXPECT_EQ(platform->lastCallOf("InternetHangUp")->numbers, (Numbers{0x00C0FFEE, 0}));
    }
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);
}

TEST_F(ConnectionTest, GlobalModeSwitchesPassTheConnectedStateRecord)
{
    VARIANT_BOOL result = 0;
    ASSERT_HRESULT_SUCCEEDED(connection->SetGlobalOffline(&result));
    EXPECT_EQ(result, VARIANT_TRUE);
    // null handle, option 0x32, length 8, state word, flags word
    EXPECT_EQ(platform->lastCallOf("InternetSetOptionA")->numbers, (Numbers{0, 0x32, 8, 0x10, 0x1}));
    platform->operationResult = FALSE;
    ASSERT_HRESULT_SUCCEEDED(connection->SetGlobalOnline(&result));
    EXPECT_EQ(result, VARIANT_FALSE);
    EXPECT_EQ(platform->lastCallOf("InternetSetOptionA")->numbers, (Numbers{0, 0x32, 8, 0x1, 0}));
}

TEST_F(ConnectionTest, GoOnlineFailingWithAnInternetErrorRaisesItsNumberAndText)
{
    BSTR url = SysAllocString(L"http://example.com/");
    LONG window = 42;
    VARIANT_BOOL result = 0;
    ASSERT_HRESULT_SUCCEEDED(connection->GoOnline(&url, &window, &result));
    EXPECT_EQ(result, VARIANT_TRUE);
    EXPECT_EQ(platform->lastCallOf("InternetGoOnlineA")->text, "http://example.com/");
    EXPECT_EQ(platform->lastCallOf("InternetGoOnlineA")->numbers, (Numbers{42, 0}));

    platform->operationResult = FALSE;
    platform->lastErrors["InternetGoOnlineA"] = 12029;
    platform->loadedInternetModule = reinterpret_cast<HMODULE>(0x10000);
    platform->moduleMessages[12029] = "The attempt to connect to the server failed.\r\n";
    const Failure failure = failureOf(connection->GoOnline(&url, &window, &result));
    SysFreeString(url);
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(-2147208475));
    EXPECT_EQ(failure.source, L"CWinInetConnection.GoOnline");
    EXPECT_EQ(failure.description, L"WinInet API Error: 12029 The attempt to connect to the server failed.");
}

TEST_F(ConnectionTest, AutodialAndItsHangupNeverReportAFailure)
{
    platform->operationResult = FALSE;
    platform->lastErrors["InternetAutodialHangup"] = 5;
    EXPECT_EQ(connection->AutodialHangup(), S_OK);
    EXPECT_EQ(platform->lastCallOf("InternetAutodialHangup")->numbers, (Numbers{0}));

    LONG window = 0, option = 0;
    VARIANT_BOOL result = VARIANT_TRUE;
    for (DWORD lastError : {0u, 5u, 12029u, 0x80000000u}) {
        platform->lastErrors["InternetAutodial"] = lastError;
        EXPECT_EQ(connection->Autodial(&window, &option, nullptr, &result), S_OK);
        EXPECT_EQ(result, VARIANT_FALSE) << lastError;
    }
    platform->onCall = [](std::string_view function) {
        if (function == "InternetAutodial")
            raise(ErrorNumber::InvalidArgument);
    };
    result = VARIANT_TRUE;
    EXPECT_EQ(connection->Autodial(&window, &option, nullptr, &result), S_OK);
    EXPECT_EQ(result, VARIANT_FALSE);
}

} // namespace
} // namespace qel::test
