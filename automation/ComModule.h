#pragma once
// What one in-process server DLL knows about itself: its handle, its live
// objects and server locks (for DllCanUnloadNow), and its embedded type
// library, loaded once and shared by every object's IDispatch. Never
// destroyed: the DLL is pinned before anything here is shared.
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
    bool holdsNothing() const { return objects_ == 0 && locks_ == 0; }

    // Keeps this DLL loaded until the process ends, from the first class
    // object handed out. The runtime's unloading of a DLL that answered that
    // it may go races with apartments entering it (Wine frees its record of
    // the DLL under another apartment's feet); a pinned DLL stays mapped
    // whatever the runtime decides, so no apartment can call into code that
    // is gone, and no code of the DLL runs at unload. DllCanUnloadNow still
    // answers whether objects remain.
    void pin();

    // Type information for one interface of the embedded type library.
    HRESULT typeInfo(REFGUID guid, ITypeInfo** info);
    HRESULT typeLibrary(ITypeLib** library);
    // A load of its own, for a caller that may unload the DLL afterwards.
    HRESULT loadTypeLibrary(ITypeLib** library) const;

private:
    ComModule() = default;

    volatile LONG pinned_ = 0;
    volatile LONG objects_ = 0;
    volatile LONG locks_ = 0;
    std::mutex typeLibraryLock_; // objects of several apartments may ask at once
    Microsoft::WRL::ComPtr<ITypeLib> typeLibrary_;
};

} // namespace qel::automation
