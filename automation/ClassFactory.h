#pragma once
#include <windows.h>
#include <unknwn.h>

#include "automation/ComModule.h"
#include "automation/ComObject.h"

namespace qel::automation {

// Creates objects of one class (T starts with one reference, as every
// ComObject does). A factory counts as a server lock while a host holds
// it, so the DLL never unloads under a factory still in use.
template <class T>
class ClassFactory final : public ComObject<Answers<IClassFactory, &IID_IUnknown, &IID_IClassFactory>> {
public:
    ClassFactory() { ComModule::instance().lock(true); }
    ~ClassFactory() override { ComModule::instance().lock(false); }

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
};

} // namespace qel::automation
