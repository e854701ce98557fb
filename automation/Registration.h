#pragma once
// Registry entries of one server, from the rows that cmake/com_registration.py
// generates out of cmake/ComClasses.txt and the IDL, the same rows the MSI
// packages write. Per machine they go under HKLM\Software\Classes, per user
// under HKCU\Software\Classes. Unregistering deletes every key the server
// owns; a registration that fails half way deletes them too.
#include <windows.h>

#include <span>

namespace qel::automation {

enum class RowValue { text, modulePath, moduleFolder };

struct RegistryRow {
    const wchar_t* key;  // under Software\Classes
    const wchar_t* name; // nullptr for the key's default value
    RowValue value;
    const wchar_t* text; // the value when it is RowValue::text
};

struct ServerRegistration {
    std::span<const RegistryRow> rows;
    std::span<const wchar_t* const> ownedKeys;
};

enum class RegistrationScope { machine, user };

HRESULT registerServer(const ServerRegistration& server, RegistrationScope scope) noexcept;
HRESULT unregisterServer(const ServerRegistration& server, RegistrationScope scope) noexcept;

// DllInstall's convention (regsvr32 /n /i:user): the command line "user", in
// any case, means per user; none means per machine; anything else is refused.
HRESULT installServer(const ServerRegistration& server, bool install, const wchar_t* commandLine) noexcept;

} // namespace qel::automation
