#pragma once
// IUnknown and ISupportErrorInfo for an object of this DLL with one dual
// interface, counted among the DLL's live objects for DllCanUnloadNow.
// IDispatch is the object's own.
#include <windows.h>
#include <oaidl.h>

#include "automation/ComModule.h"
#include "automation/ComObject.h"

namespace qel::automation {

template <class Interface, const IID* InterfaceId>
class DualObject : public ComObject<Answers<Interface, &IID_IUnknown, &IID_IDispatch, InterfaceId>,
                                    Answers<ISupportErrorInfo, &IID_ISupportErrorInfo>> {
public:
    DualObject() { ComModule::instance().objectCreated(); }
    ~DualObject() override { ComModule::instance().objectDestroyed(); }

    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override
    {
        return IsEqualIID(riid, *InterfaceId) ? S_OK : S_FALSE;
    }
};

} // namespace qel::automation
