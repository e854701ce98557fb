// GetINetStatus: a fresh connection object per call, its answer as a Boolean
// VARIANT, its errors passed through; over the fake platform and, through the
// registered Renderer, over the real one.
#include "automation/ComModule.h"
#include "connection/ConnectionTestSupport.h"
#include "connection/OnlineStatus.h"

#include <psapi.h> // after <windows.h>, which it needs

namespace qel::test {
namespace {

TEST(OnlineStatus, AnswersTheQueryAsABooleanAndReleasesTheObject)
{
    const struct {
        BOOL connected;
        DWORD lastError;
        HRESULT hr;
        VARTYPE type;
        VARIANT_BOOL value;
    } cases[] = {
        {TRUE, 0, S_OK, VT_BOOL, VARIANT_TRUE},
        {FALSE, 0, S_OK, VT_BOOL, VARIANT_FALSE},
        {FALSE, 2, static_cast<HRESULT>(0x800403EA), VT_EMPTY, VARIANT_FALSE},
    };
    for (const auto& c : cases) {
        auto platform = std::make_shared<FakeConnectionPlatform>();
        platform->connectedResult = c.connected;
        platform->lastErrors["InternetGetConnectedStateExA"] = c.lastError;
        VARIANT result;
        const Failure failure = failureOf(connection::queryOnlineStatus(&result, platform));
        EXPECT_EQ(failure.hr, c.hr);
        EXPECT_EQ(result.vt, c.type);
        if (c.type == VT_BOOL)
            EXPECT_EQ(result.boolVal, c.value);
        else
            EXPECT_EQ(failure.source, L"CWinInetConnection.Refresh");
        EXPECT_EQ(platform.use_count(), 1) << "the connection object still holds the platform";
        EXPECT_TRUE(automation::ComModule::instance().holdsNothing()) << "the connection object is released";
    }
}

TEST(OnlineStatus, EachCallQueriesAFreshObject)
{
    auto platform = std::make_shared<FakeConnectionPlatform>();
    VARIANT first, second;
    ASSERT_HRESULT_SUCCEEDED(connection::queryOnlineStatus(&first, platform));
    platform->connectedResult = FALSE;
    ASSERT_HRESULT_SUCCEEDED(connection::queryOnlineStatus(&second, platform));
    EXPECT_EQ(first.boolVal, VARIANT_TRUE);
    EXPECT_EQ(second.boolVal, VARIANT_FALSE);
    EXPECT_EQ(platform->countOf("InternetGetConnectedStateExA"), 2);
    EXPECT_EQ(platform.use_count(), 1);
}

TEST(OnlineStatus, RegisteredRendererAnswersTrueOnThisMachine)
{
    const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
    ASSERT_TRUE(renderer);
    for (int call = 0; call < 2; ++call) {
        const DispatchResult outcome = qel::test::call(renderer.Get(), L"GetINetStatus", DISPATCH_METHOD);
        ASSERT_HRESULT_SUCCEEDED(outcome.hr);
        EXPECT_EQ(outcome.value.get().vt, VT_BOOL);
        EXPECT_EQ(outcome.value.get().boolVal, VARIANT_TRUE);
    }
}

// Wine 8 answers 0 for the handle count and for PrivateUsage; the value of a
// newly opened handle and PagefileUsage (the same charge on Windows) do move.
struct ProcessResources {
    DWORD handles = 0;
    ULONG_PTR nextHandle = 0;
    SIZE_T privateBytes = 0;
};

ProcessResources processResources()
{
    ProcessResources resources;
    GetProcessHandleCount(GetCurrentProcess(), &resources.handles);
    const HANDLE probe = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    resources.nextHandle = reinterpret_cast<ULONG_PTR>(probe);
    CloseHandle(probe);
    PROCESS_MEMORY_COUNTERS_EX counters{};
    GetProcessMemoryInfo(GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    resources.privateBytes = std::max(counters.PrivateUsage, counters.PagefileUsage);
    return resources;
}

// Each call costs the platform's own query (milliseconds under Wine), so the
// batches are small; a leak shows in both, a one-off step of the heap in one.
TEST(OnlineStatus, RepeatedCallsLeaveHandlesAndMemoryFlat)
{
    const ComPtr<IDispatch> renderer = createByProgId(L"QelMessage.Renderer");
    ASSERT_TRUE(renderer);
    const auto run = [&](int calls) {
        for (int i = 0; i < calls; ++i)
            ASSERT_HRESULT_SUCCEEDED(qel::test::call(renderer.Get(), L"GetINetStatus", DISPATCH_METHOD).hr);
    };
    run(50);
    DWORD handles[2];
    ULONG_PTR slots[2];
    SIZE_T bytes[2];
    for (int batch = 0; batch < 2; ++batch) {
        const ProcessResources before = processResources();
        run(1000);
        const ProcessResources after = processResources();
        handles[batch] = after.handles - std::min(before.handles, after.handles);
        slots[batch] = after.nextHandle - std::min(before.nextHandle, after.nextHandle);
        bytes[batch] = after.privateBytes - std::min(before.privateBytes, after.privateBytes);
    }
    EXPECT_LE(std::min(handles[0], handles[1]), 2u);
    EXPECT_LE(std::min(slots[0], slots[1]), 2u * 4) << "handle values step by 4";
    EXPECT_LT(std::min(bytes[0], bytes[1]), SIZE_T{64} << 10) << bytes[0] << " and " << bytes[1] << " bytes";
}

} // namespace
} // namespace qel::test
