// Refresh, the property getters and the connection name, over the fake platform.
#include "connection/ConnectionTestSupport.h"

namespace qel::test {
namespace {

using Getter = HRESULT (STDMETHODCALLTYPE _CWinInetConnection::*)(VARIANT_BOOL*);
using NameWriting = FakeConnectionPlatform::NameWriting;

// The six flag properties in the order of their bits 0x01, 0x02, 0x04, 0x10, 0x20, 0x40.
const Getter kFlagProperties[] = {&_CWinInetConnection::get_UseModem,       &_CWinInetConnection::get_UseLAN,
                                  &_CWinInetConnection::get_UseProxy,       &_CWinInetConnection::get_IsRasInstalled,
                                  &_CWinInetConnection::get_IsOffline,      &_CWinInetConnection::get_IsConnectionConfigured};

std::vector<VARIANT_BOOL> read(_CWinInetConnection* connection, std::initializer_list<Getter> getters)
{
    std::vector<VARIANT_BOOL> values;
    for (Getter getter : getters) {
        VARIANT_BOOL value = 0x5555;
        EXPECT_HRESULT_SUCCEEDED((connection->*getter)(&value));
        values.push_back(value);
    }
    return values;
}

std::vector<VARIANT_BOOL> flagProperties(_CWinInetConnection* connection)
{
    std::vector<VARIANT_BOOL> values;
    for (Getter getter : kFlagProperties)
        values.push_back(read(connection, {getter})[0]);
    return values;
}

VARIANT_BOOL isConnected(_CWinInetConnection* connection)
{
    return read(connection, {&_CWinInetConnection::get_IsConnected})[0];
}

constexpr VARIANT_BOOL T = VARIANT_TRUE, F = VARIANT_FALSE;

TEST_F(ConnectionTest, NewObjectAnswersFalseAndEmptyWithoutAskingThePlatform)
{
    EXPECT_EQ(flagProperties(connection.Get()), (std::vector<VARIANT_BOOL>{F, F, F, F, F, F}));
    EXPECT_EQ(isConnected(connection.Get()), F);
    EXPECT_EQ(connectionName(), L"");
    EXPECT_TRUE(platform->calls.empty());
}

TEST_F(ConnectionTest, FlagWordSetsEachPropertyFromItsOwnBit)
{
    const struct {
        DWORD flags;
        std::vector<VARIANT_BOOL> expected; // modem, LAN, proxy, RAS, offline, configured
    } cases[] = {
        {0x05, {T, F, T, F, F, F}},  {0x08, {F, F, F, F, F, F}},     {0x7F, {T, T, T, T, T, T}},
        {0x12, {F, T, F, T, F, F}},  {0xFFFFFF80, {F, F, F, F, F, F}}, {0x60, {F, F, F, F, T, T}},
    };
    for (const auto& c : cases) {
        platform->connectedFlags = c.flags;
        ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
        EXPECT_EQ(flagProperties(connection.Get()), c.expected) << std::hex << c.flags;
        EXPECT_EQ(isConnected(connection.Get()), T);
    }
}

TEST_F(ConnectionTest, QueryGetsAClearedFlagWordAndANameBufferOf256BytesStartingWithASpace)
{
    ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
    const auto* query = platform->lastCallOf("InternetGetConnectedStateExA");
    ASSERT_NE(query, nullptr);
    EXPECT_EQ(query->numbers, (std::vector<std::uint64_t>{0, 256, 0}));
    EXPECT_EQ(query->text, std::string(" \0", 2));
}

TEST_F(ConnectionTest, ConnectionNameIsWhatThePlatformLeftInTheBuffer)
{
    const struct {
        NameWriting writing;
        std::string written;
        std::wstring expected;
    } cases[] = {
        {NameWriting::Untouched, "", L" "},
        {NameWriting::Text, "", L""},
        {NameWriting::Text, "LAN Connection", L"LAN Connection"},
        {NameWriting::Text, "Caf\xE9", L"Caf\u00E9"}, // ANSI code page 1252 in the test runs
        // The platform fills all 256 bytes it was given and no terminator.
        {NameWriting::FillWithoutTerminator, "", std::wstring(256, L'N')},
    };
    for (const auto& c : cases) {
        platform->nameWriting = c.writing;
        platform->connectionName = c.written;
        ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
        EXPECT_EQ(connectionName(), c.expected) << c.written;
    }
}

TEST_F(ConnectionTest, FailedCopyOfTheNameGivesTheEmptyText)
{
    platform->nameWriting = NameWriting::Text;
    platform->connectionName = "LAN Connection";
    platform->copyFails = true;
    ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
    EXPECT_EQ(connectionName(), L"");
}

TEST_F(ConnectionTest, FailedQueryWithoutAnErrorNumberUpdatesEverythingAndRaisesNothing)
{
    ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
    ASSERT_EQ(isConnected(connection.Get()), T);

    platform->connectedResult = FALSE;
    platform->connectedFlags = 0x12;
    platform->nameWriting = NameWriting::Text;
    platform->connectionName = "Dial-up";
    EXPECT_HRESULT_SUCCEEDED(connection->Refresh());
    EXPECT_EQ(isConnected(connection.Get()), F);
    EXPECT_EQ(flagProperties(connection.Get()), (std::vector<VARIANT_BOOL>{F, T, F, T, F, F}));
    EXPECT_EQ(connectionName(), L"Dial-up");
    EXPECT_EQ(platform->countOf("FormatMessageA"), 0);
}

TEST_F(ConnectionTest, FailedQueryWithAnErrorNumberRaisesAndKeepsFlagsAndName)
{
    platform->connectedFlags = 0x02;
    platform->nameWriting = NameWriting::Text;
    platform->connectionName = "LAN Connection";
    ASSERT_HRESULT_SUCCEEDED(connection->Refresh());

    platform->connectedResult = FALSE;
    platform->connectedFlags = 0x01;
    platform->connectionName = "other";
    platform->lastErrors["InternetGetConnectedStateExA"] = 2;
    platform->systemMessages[2] = "File not found. ";
    const Failure failure = failureOf(connection->Refresh());
    EXPECT_EQ(failure.hr, static_cast<HRESULT>(0x800403EA));
    EXPECT_EQ(failure.source, L"CWinInetConnection.Refresh");
    EXPECT_EQ(failure.description, L"Win32API Error: 2 File not found. ");
    EXPECT_EQ(isConnected(connection.Get()), F);
    EXPECT_EQ(flagProperties(connection.Get()), (std::vector<VARIANT_BOOL>{F, T, F, F, F, F}));
    EXPECT_EQ(connectionName(), L"LAN Connection");
}

TEST_F(ConnectionTest, GettersNeverAskThePlatform)
{
    ASSERT_HRESULT_SUCCEEDED(connection->Refresh());
    const std::size_t calls = platform->calls.size();
    flagProperties(connection.Get());
    isConnected(connection.Get());
    connectionName();
    EXPECT_EQ(platform->calls.size(), calls);
}

} // namespace
} // namespace qel::test
