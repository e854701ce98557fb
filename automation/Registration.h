#pragma once
// Registry entries of one creatable class and its type library. Unregistering
// removes every key that registering wrote.
#include <windows.h>

namespace qel::automation {

struct ServerDescription {
    const CLSID* classId;
    const wchar_t* className;       // shown as the class key's default value
    const wchar_t* programId;       // "Library.Class"
    const GUID* libraryId;
    unsigned short libraryMajor;
    unsigned short libraryMinor;
    LCID libraryLocale;
};

HRESULT registerServer(const ServerDescription& server) noexcept;
HRESULT unregisterServer(const ServerDescription& server) noexcept;

} // namespace qel::automation
