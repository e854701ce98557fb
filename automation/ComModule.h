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

    void objectCreated() { changed(InterlockedIncrement(&objects_)); }
    void objectDestroyed() { changed(InterlockedDecrement(&objects_)); }
    void lock(bool locked) { changed(locked ? InterlockedIncrement(&locks_) : InterlockedDecrement(&locks_)); }
    bool holdsNothing() const { return objects_ == 0 && locks_ == 0; }
    // No object and no lock, and none for a moment. An apartment that ends
    // asks while others may be making objects of this DLL, and the runtime's
    // record of the DLL is shared by them all: Wine's frees that record
    // under an apartment that is entering the DLL (a crash in its
    // apartment_freeunusedlibraries when DllCanUnloadNow answered at once).
    // So, as the runtime itself does for free-threaded DLLs, the DLL may go
    // only once activity has settled.
    bool canUnload() const;
    // For a DLL that keeps something beyond its objects (open connections):
    // asked last by canUnload, true while it still holds anything; it may
    // let go of what has expired when asked.
    void keepLoadedWhile(bool (*holding)()) { InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&holding_), reinterpret_cast<void*>(holding)); }

    static constexpr ULONGLONG kUnloadDelayMs = 1000;

    // Keeps this DLL loaded until the process ends, from the first class
    // object handed out: whatever the runtime decides, no apartment can call
    // into code that is gone, and no code of the DLL runs at unload.
    void pin();

    // Type information for one interface of the embedded type library.
    HRESULT typeInfo(REFGUID guid, ITypeInfo** info);
    HRESULT typeLibrary(ITypeLib** library);
    // A load of its own, for a caller that may unload the DLL afterwards.
    HRESULT loadTypeLibrary(ITypeLib** library) const;

private:
    ComModule() = default;
    void changed(LONG) { InterlockedExchange64(&lastChange_, static_cast<LONGLONG>(GetTickCount64())); }

    volatile LONGLONG lastChange_ = 0;
    volatile LONG pinned_ = 0;
    volatile LONG objects_ = 0;
    volatile LONG locks_ = 0;
    bool (*volatile holding_)() = nullptr;
    std::mutex typeLibraryLock_; // objects of several apartments may ask at once
    Microsoft::WRL::ComPtr<ITypeLib> typeLibrary_;
};

} // namespace qel::automation
