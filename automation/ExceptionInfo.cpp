#include "automation/ExceptionInfo.h"

namespace qel::automation {

ExceptionInfo::~ExceptionInfo()
{
    clear();
}

EXCEPINFO* ExceptionInfo::receive()
{
    clear();
    return &info_;
}

const EXCEPINFO& ExceptionInfo::get()
{
    if (info_.pfnDeferredFillIn) {
        const auto fillIn = info_.pfnDeferredFillIn;
        info_.pfnDeferredFillIn = nullptr;
        fillIn(&info_);
    }
    return info_;
}

HRESULT ExceptionInfo::status()
{
    const EXCEPINFO& info = get();
    return info.scode ? info.scode : info.wCode ? MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, info.wCode) : E_FAIL;
}

void ExceptionInfo::clear()
{
    SysFreeString(info_.bstrSource);
    SysFreeString(info_.bstrDescription);
    SysFreeString(info_.bstrHelpFile);
    info_ = EXCEPINFO{};
}

} // namespace qel::automation
