#pragma once
// One open registry key, closed when the owner goes.
#include <windows.h>

#include <string>

namespace qel::automation {

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(RegistryKey&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    RegistryKey& operator=(RegistryKey&& other) noexcept;
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    ~RegistryKey();

    // Opens the key for writing, creating it and its parents as needed.
    static LONG create(HKEY root, const std::wstring& path, RegistryKey& out);
    LONG setText(const wchar_t* name, const std::wstring& value) const;

private:
    HKEY handle_ = nullptr;
};

} // namespace qel::automation
