// The trace file's bound and its one previous file, on the prefix's disk.
#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include "mailcomponent/SendTrace.h"

#include <gtest/gtest.h>

namespace qel::mailcomponent {
namespace {

std::wstring tempPath(const wchar_t* name)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = folder + std::to_wstring(GetCurrentProcessId()) + name;
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
    return path;
}

std::string contentOf(const std::wstring& path)
{
    const UniqueFileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    std::string all(1 << 16, '\0');
    DWORD got = 0;
    if (!file.valid() || !ReadFile(file.get(), all.data(), static_cast<DWORD>(all.size()), &got, nullptr))
        return {};
    all.resize(got);
    return all;
}

TEST(SendTraceTest, StaysWithinItsBoundKeepingOnePreviousFile)
{
    const std::wstring path = tempPath(L"-bound.log");
    const TraceFile file(path, 1000);
    std::string last;
    bool rotated = false;
    for (int i = 0; i < 200; ++i) {
        last = "block " + std::to_string(i) + " " + std::string(i % 97, 'x') + "\r\n";
        ASSERT_TRUE(file.append(last));
        const std::string now = contentOf(path), previous = contentOf(path + L".1");
        ASSERT_LE(now.size(), 1000u);
        ASSERT_LE(previous.size(), 1000u);
        ASSERT_EQ(now.substr(now.size() - last.size()), last);
        if (!previous.empty())
            ASSERT_GT(previous.size(), 1000u - 110) << "the previous file is kept whole";
        rotated = rotated || !previous.empty();
    }
    EXPECT_TRUE(rotated);
    // A block alone larger than the bound is cut to it.
    ASSERT_TRUE(file.append(std::string(5000, 'y')));
    const std::string cut = contentOf(path);
    EXPECT_EQ(cut.size(), 1000u);
    EXPECT_NE(cut.find("cut"), std::string::npos);
    DeleteFileW(path.c_str());
    DeleteFileW((path + L".1").c_str());
}

TEST(SendTraceTest, UnwritablePathsLoseTheBlockQuietly)
{
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    for (const std::wstring& path : {std::wstring(folder), std::wstring(folder) + L"no-such-folder\\trace.log", std::wstring()})
        EXPECT_FALSE(TraceFile(path).append("block\r\n"));
}

} // namespace
} // namespace qel::mailcomponent
