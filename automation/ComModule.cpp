#include "automation/ComModule.h"

#include <new>
#include <vector>

namespace qel::automation {

ComModule& ComModule::instance()
{
    // Built in place and never destroyed: a destructor would run at unload,
    // releasing the type library from inside the loader.
    alignas(ComModule) static unsigned char storage[sizeof(ComModule)];
    static ComModule* const module = new (storage) ComModule();
    return *module;
}

HMODULE ComModule::handle() const
{
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCWSTR>(&ComModule::instance), &module);
    return module;
}

bool ComModule::canUnload() const
{
    const auto since = GetTickCount64() - static_cast<ULONGLONG>(InterlockedCompareExchange64(
                                              const_cast<volatile LONGLONG*>(&lastChange_), 0, 0));
    return holdsNothing() && since >= kUnloadDelayMs && !(holding_ && holding_());
}

void ComModule::pin()
{
    if (pinned_ || InterlockedExchange(&pinned_, 1))
        return;
    HMODULE module = nullptr;
    GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                       reinterpret_cast<LPCWSTR>(&ComModule::instance), &module);
}

std::wstring ComModule::path() const
{
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length = GetModuleFileNameW(handle(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0)
            return {};
        if (length < buffer.size())
            return std::wstring(buffer.data(), length);
        buffer.resize(buffer.size() * 2);
    }
}

HRESULT ComModule::typeLibrary(ITypeLib** library)
{
    const std::lock_guard<std::mutex> guard(typeLibraryLock_);
    if (!typeLibrary_) {
        const HRESULT hr = loadTypeLibrary(&typeLibrary_);
        if (FAILED(hr))
            return hr;
    }
    return typeLibrary_.CopyTo(library);
}

HRESULT ComModule::loadTypeLibrary(ITypeLib** library) const
{
    return LoadTypeLibEx(path().c_str(), REGKIND_NONE, library);
}

HRESULT ComModule::typeInfo(REFGUID guid, ITypeInfo** info)
{
    Microsoft::WRL::ComPtr<ITypeLib> library;
    const HRESULT hr = typeLibrary(&library);
    return FAILED(hr) ? hr : library->GetTypeInfoOfGuid(guid, info);
}

} // namespace qel::automation
