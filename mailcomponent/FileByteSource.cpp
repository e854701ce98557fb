#include "mailcomponent/FileByteSource.h"

#include <algorithm>

namespace qel::mailcomponent {

mail::MailCode FileByteSource::open(const std::u16string& path, std::shared_ptr<FileByteSource>& out)
{
    // CreateFileW stops at a NUL: "secret.txt\0.jpg" would open another file than the one checked.
    if (path.empty() || std::any_of(path.begin(), path.end(), [](char16_t c) { return c < 0x20 || c == 0x7F; }))
        return mail::FileNotOpened;
    UniqueFileHandle file(CreateFileW(reinterpret_cast<LPCWSTR>(path.c_str()), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.valid())
        return mail::FileNotOpened;
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.get(), &size))
        return mail::FileNotRead;
    if (static_cast<std::uint64_t>(size.QuadPart) > kMaxBytes)
        return mail::MessageNotFormed;
    out = std::make_shared<FileByteSource>(std::move(file), static_cast<std::uint64_t>(size.QuadPart));
    return mail::Ok;
}

bool FileByteSource::readAt(std::uint64_t offset, std::uint8_t* into, std::size_t count, std::size_t& got)
{
    got = 0;
    while (got < count) {
        OVERLAPPED at{};
        const std::uint64_t position = offset + got;
        at.Offset = static_cast<DWORD>(position);
        at.OffsetHigh = static_cast<DWORD>(position >> 32);
        DWORD read = 0;
        if (!ReadFile(file_.get(), into + got, static_cast<DWORD>(std::min<std::size_t>(count - got, 1 << 20)), &read, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                return true;
            return false;
        }
        if (read == 0)
            return true;
        got += read;
    }
    return true;
}

} // namespace qel::mailcomponent
