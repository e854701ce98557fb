#include "automation/Registration.h"

#include <olectl.h>
#include <oleauto.h>

#include <wrl/client.h>

#include <string>

#include "automation/ComModule.h"

namespace qel::automation {

namespace {

std::wstring stringOf(const GUID& guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

HRESULT setValue(const std::wstring& key, const wchar_t* name, const std::wstring& value)
{
    HKEY handle = nullptr;
    LONG status = RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(handle);
    }
    return HRESULT_FROM_WIN32(status);
}

HRESULT deleteTree(const std::wstring& key)
{
    const LONG status = RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND ? S_OK : HRESULT_FROM_WIN32(status);
}

} // namespace

HRESULT registerServer(const ServerDescription& server) noexcept
try {
    const std::wstring path = ComModule::instance().path();
    const std::wstring classKey = L"CLSID\\" + stringOf(*server.classId);
    const std::wstring libraryId = stringOf(*server.libraryId);
    const std::wstring version = std::to_wstring(server.libraryMajor) + L"." + std::to_wstring(server.libraryMinor);
    const std::pair<std::wstring, std::pair<const wchar_t*, std::wstring>> values[] = {
        {classKey, {nullptr, server.className}},
        {classKey + L"\\InprocServer32", {nullptr, path}},
        {classKey + L"\\InprocServer32", {L"ThreadingModel", L"Apartment"}},
        {classKey + L"\\ProgID", {nullptr, server.programId}},
        {classKey + L"\\TypeLib", {nullptr, libraryId}},
        {classKey + L"\\VERSION", {nullptr, version}},
        {server.programId, {nullptr, server.programId}},
        {std::wstring(server.programId) + L"\\CLSID", {nullptr, stringOf(*server.classId)}},
    };
    for (const auto& [key, value] : values) {
        const HRESULT hr = setValue(key, value.first, value.second);
        if (FAILED(hr)) {
            unregisterServer(server);
            return SELFREG_E_CLASS;
        }
    }

    Microsoft::WRL::ComPtr<ITypeLib> library;
    HRESULT hr = ComModule::instance().typeLibrary(&library);
    if (SUCCEEDED(hr))
        hr = RegisterTypeLib(library.Get(), const_cast<OLECHAR*>(path.c_str()), nullptr);
    if (FAILED(hr)) {
        unregisterServer(server);
        return SELFREG_E_TYPELIB;
    }
    return S_OK;
} catch (...) { // only allocation can fail here
    unregisterServer(server);
    return E_OUTOFMEMORY;
}

HRESULT unregisterServer(const ServerDescription& server) noexcept
try {
    const SYSKIND kind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;
    UnRegisterTypeLib(*server.libraryId, server.libraryMajor, server.libraryMinor, server.libraryLocale, kind);
    HRESULT hr = deleteTree(L"CLSID\\" + stringOf(*server.classId));
    const HRESULT programHr = deleteTree(server.programId);
    return FAILED(hr) ? hr : programHr;
} catch (...) {
    return E_OUTOFMEMORY;
}

} // namespace qel::automation
