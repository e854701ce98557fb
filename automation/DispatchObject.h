#pragma once
// IDispatch for an object with one dual interface, on top of DualObject.
// Names and DISPIDs come from the embedded type library alone:
// GetIDsOfNames and Invoke delegate to its ITypeInfo, which calls the vtable.
#include <windows.h>
#include <oaidl.h>

#include <wrl/client.h>

#include "automation/ComModule.h"
#include "automation/DualObject.h"
#include "automation/ReferenceArguments.h"

namespace qel::automation {

template <class Interface, const IID* InterfaceId>
class DispatchObject : public DualObject<Interface, InterfaceId> {
public:
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

    Microsoft::WRL::ComPtr<ITypeInfo> typeInfo_;
};

} // namespace qel::automation
