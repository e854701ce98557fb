#pragma once
#include <windows.h>
#include <unknwn.h>


#include "automation/ComModule.h"

namespace qel::automation {

// Creates objects of one class (T starts with one reference, as
// DispatchObject does). A factory counts as a server lock while a host holds
// it, so the DLL never unloads under a factory still in use.
template <class T>
class ClassFactory final : public IClassFactory {
public:
    ClassFactory() { ComModule::instance().lock(true); }
    ~ClassFactory() { ComModule::instance().lock(false); }

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (outer)
            return CLASS_E_NOAGGREGATION;
        T* object = nullptr;
        try {
            object = new T();
        } catch (...) { // a constructor that cannot allocate its defaults
            return E_OUTOFMEMORY;
        }
        const HRESULT hr = object->QueryInterface(riid, out);
        object->Release();
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        ComModule::instance().lock(lock != FALSE);
        return S_OK;
    }

private:
    volatile LONG references_ = 1;
};

} // namespace qel::automation
