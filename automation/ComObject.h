#pragma once
// The one IUnknown of this code: a reference count that starts at one, for
// whoever made the object, and whose last Release deletes it; QueryInterface
// answers from the object's list of interfaces, each with the IIDs it
// answers to.
#include <windows.h>
#include <unknwn.h>

#include <wrl/client.h>

namespace qel::automation {

// One interface of an object and every IID a caller may ask it by.
template <class Interface, const IID*... Ids>
class Answers : public Interface {
protected:
    void* interfaceAnswering(REFIID riid)
    {
        return (IsEqualIID(riid, *Ids) || ...) ? static_cast<Interface*>(this) : nullptr;
    }
};

template <class... Entries>
class ComObject : public Entries... {
public:
    ComObject() = default;
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) final
    {
        if (!out)
            return E_POINTER;
        void* found = nullptr;
        ((found = found ? found : Entries::interfaceAnswering(riid)), ...);
        *out = found;
        if (!found)
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() final { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() final
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

protected:
    virtual ~ComObject() = default;

private:
    volatile LONG references_ = 1;
};

// A new object's one reference, handed to the result. Not ComPtr::Attach:
// mingw-w64's adds a reference of its own.
template <class Interface, class Object>
Microsoft::WRL::ComPtr<Interface> adopt(Object* object)
{
    Microsoft::WRL::ComPtr<Interface> held(object);
    object->Release();
    return held;
}

} // namespace qel::automation
