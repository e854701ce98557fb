#pragma once
// What one in-process server DLL knows about itself: its handle, its live
// objects and server locks (for DllCanUnloadNow), and its embedded type
// library, loaded once and shared by every object's IDispatch.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include <mutex>
#include <string>

namespace qel::automation {

class ComModule {
public:
    static ComModule& instance();

    // The DLL this code is linked into, found from an address inside it, so
    // that nothing needs to run when the DLL loads.
    HMODULE handle() const;
    std::wstring path() const;

    void objectCreated() { InterlockedIncrement(&objects_); }
    void objectDestroyed() { InterlockedDecrement(&objects_); }
    void lock(bool locked) { locked ? InterlockedIncrement(&locks_) : InterlockedDecrement(&locks_); }
    bool canUnload() const { return objects_ == 0 && locks_ == 0; }

    // Type information for one interface of the embedded type library.
    HRESULT typeInfo(REFGUID guid, ITypeInfo** info);
    HRESULT typeLibrary(ITypeLib** library);

private:
    volatile LONG objects_ = 0;
    volatile LONG locks_ = 0;
    std::mutex typeLibraryLock_; // objects of several apartments may ask at once
    Microsoft::WRL::ComPtr<ITypeLib> typeLibrary_;
};

} // namespace qel::automation
