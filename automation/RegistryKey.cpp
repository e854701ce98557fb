#include "automation/RegistryKey.h"

namespace qel::automation {

RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept
{
    if (this != &other) {
        if (handle_)
            RegCloseKey(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

RegistryKey::~RegistryKey()
{
    if (handle_)
        RegCloseKey(handle_);
}

LONG RegistryKey::create(HKEY root, const std::wstring& path, RegistryKey& out)
{
    HKEY handle = nullptr;
    const LONG status = RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        RegistryKey opened;
        opened.handle_ = handle;
        out = std::move(opened);
    }
    return status;
}

LONG RegistryKey::setText(const wchar_t* name, const std::wstring& value) const
{
    return RegSetValueExW(handle_, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                          static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

} // namespace qel::automation
