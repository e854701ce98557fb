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

    void objectCreated() { changed(InterlockedIncrement(&objects_)); }
    void objectDestroyed() { changed(InterlockedDecrement(&objects_)); }
    void lock(bool locked) { changed(locked ? InterlockedIncrement(&locks_) : InterlockedDecrement(&locks_)); }
    // No object and no lock, and none for a moment. An apartment that ends
    // asks while others may be making objects of this DLL; the runtime's
    // unloading races with them there (Wine's frees its entry of the DLL
    // under another apartment's feet), so, as the runtime itself does for
    // free-threaded DLLs, the DLL goes only once activity has settled.
    bool canUnload() const;
    bool holdsNothing() const { return objects_ == 0 && locks_ == 0; }
    // For a DLL that keeps something beyond its objects (open connections):
    // asked last by canUnload, true while it still holds anything; it may
    // let go of what has expired when asked.
    void keepLoadedWhile(bool (*holding)()) { InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&holding_), reinterpret_cast<void*>(holding)); }

    static constexpr ULONGLONG kUnloadDelayMs = 1000;

    // Type information for one interface of the embedded type library.
    HRESULT typeInfo(REFGUID guid, ITypeInfo** info);
    HRESULT typeLibrary(ITypeLib** library);

private:
    void changed(LONG) { InterlockedExchange64(&lastChange_, static_cast<LONGLONG>(GetTickCount64())); }

    volatile LONGLONG lastChange_ = 0;
    volatile LONG objects_ = 0;
    volatile LONG locks_ = 0;
    bool (*volatile holding_)() = nullptr;
    std::mutex typeLibraryLock_; // objects of several apartments may ask at once
    Microsoft::WRL::ComPtr<ITypeLib> typeLibrary_;
};

} // namespace qel::automation
