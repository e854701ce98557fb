// The online-mode and dial-up operations: what each hands the platform and
// how it reads the outcome.
#include "connection/ConnectionTestSupport.h"

namespace qel::test {
namespace {

using Numbers = std::vector<std::uint64_t>;
constexpr VARIANT_BOOL kUnset = 0x5555;

VARIANT_BOOL dial(_CWinInetConnection* c, LONG window, const wchar_t* name, LONG option, VARIANT_BOOL* showOffline,
                  HRESULT* hr = nullptr)
{
    BSTR text = SysAllocString(name);
    VARIANT_BOOL result = kUnset;
    const HRESULT outcome = c->Dial(&window, &text, &option, showOffline, &result);
    SysFreeString(text);
    if (hr)
        *hr = outcome;
    else
        EXPECT_HRESULT_SUCCEEDED(outcome);
    return result;
}

VARIANT_BOOL autodial(_CWinInetConnection* c, LONG window, LONG option, VARIANT_BOOL* failIfSecurityCheck)
{
    VARIANT_BOOL result = kUnset;
    EXPECT_HRESULT_SUCCEEDED(c->Autodial(&window, &option, failIfSecurityCheck, &result));
    return result;
}

TEST_F(ConnectionTest, DialAddsTheOfflineButtonBitOnlyWhenAskedTo)
{
    VARIANT_BOOL yes = VARIANT_TRUE, no = VARIANT_FALSE, otherTrue = 1;
    const struct {
        LONG option;
        VARIANT_BOOL* showOffline; // null: omitted
        DWORD expected;
    } cases[] = {{0x1, nullptr, 0x1}, {0x1, &yes, 0x4001}, {0x4000, &yes, 0x4000},
                 {0x1, &no, 0x1},     {0x2, &otherTrue, 0x4002}, {-1, &no, 0xFFFFFFFF}};
    for (const auto& c : cases) {
        dial(connection.Get(), 0x1234, L"Office", c.option, c.showOffline);
        EXPECT_EQ(platform->lastCallOf("InternetDialA")->numbers, (Numbers{0x1234, c.expected, 0})) << c.option;
    }
    EXPECT_EQ(platform->lastCallOf("InternetDialA")->text, "Office");
}

TEST_F(ConnectionTest, AutodialAddsTheSecurityCheckBitUnlessToldNot)
{
    VARIANT_BOOL yes = VARIANT_TRUE, no = VARIANT_FALSE;
    const struct {
        LONG option;
        VARIANT_BOOL* failIfSecurityCheck;
        DWORD expected;
    } cases[] = {{0x1, nullptr, 0x5}, {0x1, &no, 0x1}, {0x1, &yes, 0x5}, {0x4, &no, 0x4}};
    for (const auto& c : cases) {
        EXPECT_EQ(autodial(connection.Get(), 77, c.option, c.failIfSecurityCheck), VARIANT_TRUE);
        EXPECT_EQ(platform->lastCallOf("InternetAutodial")->numbers, (Numbers{c.expected, 77})) << c.option;
    }
}

TEST_F(ConnectionTest, DialSucceedsOnZeroAndReportsAnyOtherReturn)
{
    EXPECT_EQ(dial(connection.Get(), 0, L"Office", 0, nullptr), VARIANT_TRUE);
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);

    platform->dialResult = 668;
    EXPECT_EQ(dial(connection.Get(), 0, L"Office", 0, nullptr), VARIANT_FALSE); // no last error: nothing raised

    platform->lastErrors["InternetDialA"] = 668;
    platform->systemMessages[668] = "The connection was terminated. ";
    HRESULT hr = S_OK;
    dial(connection.Get(), 0, L"Office", 0, nullptr, &hr);
    const Failure failure = failureOf(hr);
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800403E8 + 668));
    EXPECT_EQ(failure.source, L"CWinInetConnection.Dial");
    EXPECT_EQ(failure.description, L"Win32API Error: 668 The connection was terminated. ");
}

TEST_F(ConnectionTest, DialHandsTheNameOverInTheAnsiCodePage)
{
    dial(connection.Get(), 0, L"Caf\u00E9 \u20AC", 0, nullptr);
    EXPECT_EQ(platform->lastCallOf("InternetDialA")->text, "Caf\xE9 \x80");
}

TEST_F(ConnectionTest, HangUpHandsBackTheConnectionNumberOfTheLastDial)
{
    VARIANT result;
    ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result));
    EXPECT_EQ(platform->lastCallOf("InternetHangUp")->numbers, (Numbers{0, 0}));

    platform->dialedConnection = 0x00C0FFEE;
    platform->dialResult = 5; // the platform's number counts even when the dial failed
    dial(connection.Get(), 0, L"Office", 0, nullptr);
    ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result));
    ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result));
    EXPECT_EQ(platform->lastCallOf("InternetHangUp")->numbers, (Numbers{0x00C0FFEE, 0}));
}

TEST_F(ConnectionTest, HangUpAnswersABooleanVariantTrueExactlyOnZero)
{
    const struct {
        DWORD platformReturn;
        VARIANT_BOOL expected;
    } cases[] = {{0, VARIANT_TRUE}, {1, VARIANT_FALSE}, {668, VARIANT_FALSE}, {0xFFFFFFFF, VARIANT_FALSE}};
    platform->lastErrors["InternetHangUp"] = 5;
    for (const auto& c : cases) {
        platform->hangUpResult = c.platformReturn;
        VARIANT result;
        ASSERT_HRESULT_SUCCEEDED(connection->HangUp(&result)) << c.platformReturn;
        EXPECT_EQ(result.vt, VT_BOOL);
        EXPECT_EQ(result.boolVal, c.expected) << c.platformReturn;
    }
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);
}

TEST_F(ConnectionTest, GlobalModeSwitchesPassTheConnectedStateRecord)
{
    VARIANT_BOOL result = kUnset;
    ASSERT_HRESULT_SUCCEEDED(connection->SetGlobalOffline(&result));
    EXPECT_EQ(result, VARIANT_TRUE);
    // null handle, option 0x32, length 8, state word, flags word
    EXPECT_EQ(platform->lastCallOf("InternetSetOptionA")->numbers, (Numbers{0, 0x32, 8, 0x10, 0x1}));
    ASSERT_HRESULT_SUCCEEDED(connection->SetGlobalOnline(&result));
    EXPECT_EQ(platform->lastCallOf("InternetSetOptionA")->numbers, (Numbers{0, 0x32, 8, 0x1, 0}));

    platform->operationResult = FALSE;
    ASSERT_HRESULT_SUCCEEDED(connection->SetGlobalOnline(&result));
    EXPECT_EQ(result, VARIANT_FALSE);
}

TEST_F(ConnectionTest, GoOnlineFailingWithAnInternetErrorRaisesItsNumberAndText)
{
    BSTR url = SysAllocString(L"http://example.com/");
    LONG window = 42;
    VARIANT_BOOL result = kUnset;
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

TEST_F(ConnectionTest, AutodialHangupReportsNothingOfThePlatformsOutcome)
{
    platform->operationResult = FALSE;
    platform->lastErrors["InternetAutodialHangup"] = 5;
    EXPECT_EQ(connection->AutodialHangup(), S_OK);
    EXPECT_EQ(platform->lastCallOf("InternetAutodialHangup")->numbers, (Numbers{0}));
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);
}

TEST_F(ConnectionTest, AutodialEndsQuietlyWithFalseOnAnyFailure)
{
    platform->operationResult = FALSE;
    for (DWORD lastError : {0u, 5u, 12029u, 0x80000000u}) {
        platform->lastErrors["InternetAutodial"] = lastError;
        EXPECT_EQ(autodial(connection.Get(), 0, 0, nullptr), VARIANT_FALSE) << lastError;
    }
    platform->onCall = [](std::string_view function) {
        if (function == "InternetAutodial")
            raise(ErrorNumber::InvalidArgument);
    };
    EXPECT_EQ(autodial(connection.Get(), 0, 0, nullptr), VARIANT_FALSE);
}

} // namespace
} // namespace qel::test
