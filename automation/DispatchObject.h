#pragma once
// IUnknown, IDispatch and ISupportErrorInfo for an object with one dual
// interface. Names and DISPIDs come from the embedded type library alone:
// GetIDsOfNames and Invoke delegate to its ITypeInfo, which calls the vtable.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include "automation/ComModule.h"
#include "automation/ReferenceArguments.h"

namespace qel::automation {

template <class Interface, const IID* InterfaceId>
class DispatchObject : public Interface, public ISupportErrorInfo {
public:
    DispatchObject() { ComModule::instance().objectCreated(); }
    virtual ~DispatchObject() { ComModule::instance().objectDestroyed(); }
    DispatchObject(const DispatchObject&) = delete;
    DispatchObject& operator=(const DispatchObject&) = delete;

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, *InterfaceId)) {
            *out = static_cast<Interface*>(this);
        } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
            *out = static_cast<ISupportErrorInfo*>(this);
        } else {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0)
            delete this;
        return static_cast<ULONG>(left);
    }

    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** info) override
    {
        if (!info)
            return E_POINTER;
        *info = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return typeInfo(info);
    }
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        const HRESULT hr = typeInfo(&info);
        return FAILED(hr) ? hr : info->GetIDsOfNames(names, count, ids);
    }
    STDMETHODIMP Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* badArgument) override
    {
        if (!IsEqualIID(riid, IID_NULL))
            return DISP_E_UNKNOWNINTERFACE;
        Microsoft::WRL::ComPtr<ITypeInfo> info;
        const HRESULT hr = typeInfo(&info);
        if (FAILED(hr))
            return hr;
        ReferenceArguments arguments(info.Get(), member, flags, params);
        return info->Invoke(static_cast<Interface*>(this), member, flags, arguments.get(), result, exception,
                            badArgument);
    }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, *InterfaceId) ? S_OK : S_FALSE;
    }

private:
    HRESULT typeInfo(ITypeInfo** info)
    {
        if (!typeInfo_) {
            const HRESULT hr = ComModule::instance().typeInfo(*InterfaceId, &typeInfo_);
            if (FAILED(hr))
                return hr;
        }
        return typeInfo_.CopyTo(info);
    }

    volatile LONG references_ = 1;
    Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
};

} // namespace qel::automation
