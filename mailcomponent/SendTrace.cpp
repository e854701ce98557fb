#include "mailcomponent/UniqueHandle.h" // Winsock before <windows.h>

#include "mailcomponent/SendTrace.h"

#include <cstdio>

#include "mail/DetailText.h"

namespace qel::mailcomponent {

namespace {

// Long enough for any sane path; a longer value is read with a second call.
constexpr DWORD kPathChars = 520;
// A writer that holds the file longer than this (another process stuck
// mid-append) costs this Send its block, not its time.
constexpr DWORD kLockWaitMs = 2000;

std::wstring readSetting(HKEY root, const wchar_t* subKey)
{
    std::wstring value(kPathChars, L'\0');
    DWORD bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
    // RRF_RT_REG_SZ takes REG_EXPAND_SZ too and expands it.
    LSTATUS status = RegGetValueW(root, subKey, L"TraceFile", RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
    if (status == ERROR_MORE_DATA) {
        value.assign(bytes / sizeof(wchar_t) + 1, L'\0');
        bytes = static_cast<DWORD>(value.size() * sizeof(wchar_t));
        status = RegGetValueW(root, subKey, L"TraceFile", RRF_RT_REG_SZ, nullptr, value.data(), &bytes);
    }
    if (status != ERROR_SUCCESS)
        return {};
    value.resize(wcsnlen(value.c_str(), value.size()));
    return value;
}

struct RegistryKeyTraits : SentinelTraits<HKEY, nullptr> {
    static void close(HKEY k) { RegCloseKey(k); }
};

// One lock for every spelling of the same file: the full path, upper-cased.
std::wstring mutexName(const std::wstring& path)
{
    std::wstring full(32768, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    full.resize(length > 0 && length < full.size() ? length : 0);
    if (full.empty())
        full = path;
    CharUpperBuffW(full.data(), static_cast<DWORD>(full.size()));
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (wchar_t c : full)
        hash = (hash ^ static_cast<std::uint16_t>(c)) * 1099511628211ull;
    wchar_t name[64];
    swprintf(name, 64, L"QelSmtpTrace-%016llx", static_cast<unsigned long long>(hash));
    return name;
}

// Every process of the machine where that is allowed, else those of this session.
UniqueKernelHandle openLock(const std::wstring& name)
{
    UniqueKernelHandle lock(CreateMutexW(nullptr, FALSE, (L"Global\\" + name).c_str()));
    if (!lock.valid())
        lock.reset(CreateMutexW(nullptr, FALSE, (L"Local\\" + name).c_str()));
    return lock;
}

UniqueFileHandle openForAppend(const std::wstring& path)
{
    return UniqueFileHandle(CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
}

std::string utcNow()
{
    SYSTEMTIME t;
    GetSystemTime(&t);
    char text[40];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%03u UTC", t.wYear, t.wMonth, t.wDay, t.wHour,
                  t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

} // namespace

std::wstring traceFileSetting()
{
    constexpr const wchar_t* kKey = L"Software\\Qel\\QelSmtp";
    if (std::wstring path = readSetting(HKEY_CURRENT_USER, kKey); !path.empty())
        return path;
    // The machine's 64-bit view, so the 32-bit component reads what `reg add HKLM\...` wrote.
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, KEY_QUERY_VALUE | KEY_WOW64_64KEY, &opened) != ERROR_SUCCESS)
        return {};
    const UniqueHandle<RegistryKeyTraits> machine(opened);
    return readSetting(machine.get(), nullptr);
}

TraceFile::TraceFile(std::wstring path, std::uint64_t mostBytes) : path_(std::move(path)), mostBytes_(mostBytes) {}

bool TraceFile::append(std::string_view block) const noexcept
try {
    if (path_.empty() || mostBytes_ == 0)
        return false;
    std::string cut;
    if (block.size() > mostBytes_) { // alone larger than a whole file: its end goes
        static constexpr std::string_view kCut = "\r\n[the rest of this block is cut]\r\n";
        cut.assign(block.substr(0, mostBytes_ > kCut.size() ? mostBytes_ - kCut.size() : 0));
        cut += kCut.substr(0, mostBytes_ - cut.size());
        block = cut;
    }
    const UniqueKernelHandle lock = openLock(mutexName(path_));
    if (!lock.valid())
        return false;
    const DWORD waited = WaitForSingleObject(lock.get(), kLockWaitMs);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) // abandoned: its owner died, the lock is ours
        return false;
    struct Unlock {
        HANDLE lock;
        ~Unlock() { ReleaseMutex(lock); }
    } unlock{lock.get()};

    UniqueFileHandle file = openForAppend(path_);
    LARGE_INTEGER size{};
    if (!file.valid() || !GetFileSizeEx(file.get(), &size))
        return false;
    if (size.QuadPart > 0 && static_cast<std::uint64_t>(size.QuadPart) + block.size() > mostBytes_) {
        file.reset();
        // A reader that holds the old file without FILE_SHARE_DELETE keeps it
        // from being renamed: it is started anew then rather than let grow.
        const std::wstring previous = path_ + L".1";
        if (!MoveFileExW(path_.c_str(), previous.c_str(), MOVEFILE_REPLACE_EXISTING))
            file.reset(CreateFileW(path_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                   nullptr, TRUNCATE_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        file = openForAppend(path_);
        if (!file.valid())
            return false;
    }
    DWORD written = 0;
    return WriteFile(file.get(), block.data(), static_cast<DWORD>(block.size()), &written, nullptr) && written == block.size();
} catch (...) {
    return false;
}

std::unique_ptr<SendTrace> SendTrace::fromSetting() noexcept
try {
    std::wstring path = traceFileSetting();
    return path.empty() ? nullptr : std::make_unique<SendTrace>(TraceFile(std::move(path)));
} catch (...) {
    return nullptr;
}

SendTrace::SendTrace(TraceFile file)
    : file_(std::move(file)), started_(utcNow()), start_(std::chrono::steady_clock::now())
{
}

void SendTrace::line(std::string_view text) noexcept
try {
    const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start_);
    lines_ += "  +" + std::to_string(elapsed.count()) + " ms ";
    lines_ += text;
    lines_ += "\r\n";
} catch (...) {
}

void SendTrace::finish(long code, std::string_view detail, std::string_view server, std::string_view account) noexcept
try {
    std::string block = "=== Send " + started_ + ", process " + std::to_string(GetCurrentProcessId()) + ", thread "
                        + std::to_string(GetCurrentThreadId()) + ", server " + std::string(server) + ", account: "
                        + std::string(account) + "\r\n";
    block += lines_;
    block += "=== result " + std::to_string(code) + (detail.empty() ? "" : ", ErrorDetail: " + mail::escapedText(detail, 2048))
             + "\r\n";
    file_.append(block);
} catch (...) {
}

} // namespace qel::mailcomponent
