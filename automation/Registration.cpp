#include "automation/Registration.h"

#include <olectl.h>

#include <wrl/client.h>

#include <string>

#include "automation/ComModule.h"
#include "automation/RegistryKey.h"

namespace qel::automation {

namespace {

constexpr wchar_t kClasses[] = L"Software\\Classes\\";

HKEY rootOf(RegistrationScope scope)
{
    return scope == RegistrationScope::user ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE;
}

std::wstring folderOf(const std::wstring& path)
{
    const auto slash = path.find_last_of(L"\\/");
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

} // namespace

HRESULT registerServer(const ServerRegistration& server, RegistrationScope scope) noexcept
try {
    // A DLL whose type library cannot be loaded must not be registered as its server.
    Microsoft::WRL::ComPtr<ITypeLib> library;
    if (FAILED(ComModule::instance().loadTypeLibrary(&library)))
        return SELFREG_E_TYPELIB;
    const std::wstring path = ComModule::instance().path();
    const std::wstring folder = folderOf(path);
    for (const RegistryRow& row : server.rows) {
        const std::wstring& value = row.value == RowValue::modulePath ? path
            : row.value == RowValue::moduleFolder                     ? folder
                                                                      : std::wstring(row.text);
        RegistryKey key;
        LONG status = RegistryKey::create(rootOf(scope), kClasses + std::wstring(row.key), key);
        if (status == ERROR_SUCCESS)
            status = key.setText(row.name, value);
        if (status != ERROR_SUCCESS) {
            unregisterServer(server, scope);
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
} catch (...) { // only allocation can fail here
    unregisterServer(server, scope);
    return E_OUTOFMEMORY;
}

HRESULT unregisterServer(const ServerRegistration& server, RegistrationScope scope) noexcept
try {
    HRESULT result = S_OK;
    for (const wchar_t* owned : server.ownedKeys) {
        const LONG status = RegDeleteTreeW(rootOf(scope), (kClasses + std::wstring(owned)).c_str());
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND && SUCCEEDED(result))
            result = HRESULT_FROM_WIN32(status);
    }
    return result;
} catch (...) {
    return E_OUTOFMEMORY;
}

HRESULT installServer(const ServerRegistration& server, bool install, const wchar_t* commandLine) noexcept
{
    RegistrationScope scope = RegistrationScope::machine;
    if (commandLine && *commandLine) {
        if (CompareStringOrdinal(commandLine, -1, L"user", -1, TRUE) != CSTR_EQUAL)
            return E_INVALIDARG;
        scope = RegistrationScope::user;
    }
    return install ? registerServer(server, scope) : unregisterServer(server, scope);
}

} // namespace qel::automation
