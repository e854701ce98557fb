// The connection class over the real wininet.dll and kernel32 under Wine;
// expectations come from calling the platform directly.
#include <cstring>

#include "connection/ConnectionTestSupport.h"
#include "connection/SystemConnectionPlatform.h"

namespace qel::test {
namespace {

using connection::LibraryBinding;
using connection::SystemConnectionPlatform;

ComPtr<_CWinInetConnection> connectionOver(std::shared_ptr<connection::ConnectionPlatform> platform)
{
    return connection::CWinInetConnection::create(std::move(platform));
}

std::wstring widenAnsi(const char* text, int length)
{
    std::wstring wide(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, length, wide.data(), static_cast<int>(wide.size()));
    return wide;
}

TEST(RealPlatform, RefreshReportsWhatThePlatformReports)
{
    using Query = decltype(&InternetGetConnectedStateExA);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(LoadLibraryA("wininet.dll"), "InternetGetConnectedStateExA")));
    ASSERT_NE(query, nullptr);
    DWORD flags = 0;
    char name[257] = " ";
    const BOOL connected = query(&flags, name, 256, 0);

    const auto object = connectionOver(std::make_shared<SystemConnectionPlatform>());
    ASSERT_HRESULT_SUCCEEDED(object->Refresh());
    VARIANT_BOOL value = 0;
    object->get_IsConnected(&value);
    EXPECT_EQ(value != VARIANT_FALSE, connected != FALSE);
    object->get_UseLAN(&value);
    EXPECT_EQ(value != VARIANT_FALSE, (flags & INTERNET_CONNECTION_LAN) != 0);
    object->get_IsRasInstalled(&value);
    EXPECT_EQ(value != VARIANT_FALSE, (flags & INTERNET_RAS_INSTALLED) != 0);
    BSTR text = nullptr;
    object->get_ConnectionName(&text);
    EXPECT_EQ(takeText(text), widenAnsi(name, static_cast<int>(std::strlen(name))));
}

TEST(RealPlatform, WinApiDescriptionIsTheSystemsTextOrEmpty)
{
    const auto object = connectionOver(std::make_shared<SystemConnectionPlatform>());
    for (LONG number : {2L, 5L, 12029L}) {
        char expected[257] = {};
        const DWORD count =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                           nullptr, static_cast<DWORD>(number), LANG_USER_DEFAULT, expected, 256, nullptr);
        BSTR text = nullptr;
        ASSERT_HRESULT_SUCCEEDED(object->GetWinApiDesc(&number, &text));
        EXPECT_EQ(takeText(text), widenAnsi(expected, static_cast<int>(count))) << number;
        if (number == 5) {
            EXPECT_GT(count, 0u) << "the system knows error 5";
        }
        if (number == 12029) {
            EXPECT_EQ(count, 0u) << "the system table lacks the internet errors";
        }
    }
}

TEST(RealPlatform, LibraryThatCannotBeBoundFailsThroughTheGuards)
{
    LibraryBinding missing("qel-no-such-library.dll");
    LibraryBinding withoutTheFunctions("kernel32.dll");
    const struct {
        LibraryBinding* internetLibrary;
        HRESULT refresh;
        HRESULT setGlobalOnline;
        std::wstring description;
    } cases[] = {
        {&missing, static_cast<HRESULT>(0x80040000 + 53), static_cast<HRESULT>(0x800403E8 + 53),
         L"File not found: qel-no-such-library.dll"},
        {&withoutTheFunctions, static_cast<HRESULT>(0x80040000 + 453), static_cast<HRESULT>(0x800403E8 + 453),
         L"Can't find DLL entry point InternetGetConnectedStateExA in kernel32.dll"},
    };
    for (const auto& c : cases) {
        const auto object = connectionOver(
            std::make_shared<SystemConnectionPlatform>(*c.internetLibrary, LibraryBinding::systemLibrary()));
        const Failure refresh = failureOf(object->Refresh());
        EXPECT_EQ(refresh.hr, c.refresh);
        EXPECT_EQ(refresh.source, L"CWinInetConnection.Refresh");
        EXPECT_EQ(refresh.description, c.description);
        VARIANT_BOOL result = VARIANT_TRUE;
        EXPECT_EQ(object->SetGlobalOnline(&result), c.setGlobalOnline);
        LONG window = 0, option = 0;
        EXPECT_EQ(object->Autodial(&window, &option, nullptr, &result), S_OK);
        EXPECT_EQ(result, VARIANT_FALSE);
    }
}

} // namespace
} // namespace qel::test
