#include "automation/LateBoundObject.h"

#include <algorithm>

#include "automation/ErrorInformation.h"
#include "automation/ErrorReporting.h"
#include "automation/ExceptionInfo.h"
#include "common/NumberedError.h"

namespace qel::automation {

LateBoundObject::LateBoundObject(const wchar_t* programId)
{
    CLSID clsid{};
    if (FAILED(CLSIDFromProgID(programId, &clsid))
        || FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_PPV_ARGS(&object_))))
        raise(ErrorNumber::CannotCreateObject);
}

DISPID LateBoundObject::idOf(const wchar_t* member)
{
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR name = const_cast<LPOLESTR>(member);
    check(object_->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id));
    return id;
}

Variant LateBoundObject::invoke(DISPID id, WORD kind, std::vector<VARIANT>& reversedArguments)
{
    DISPID putId = DISPID_PROPERTYPUT;
    DISPPARAMS params{reversedArguments.data(), nullptr, static_cast<UINT>(reversedArguments.size()), 0};
    if (kind == DISPATCH_PROPERTYPUT) {
        params.rgdispidNamedArgs = &putId;
        params.cNamedArgs = 1;
    }
    Variant result;
    ExceptionInfo exception;
    UINT badArgument = 0;
    const HRESULT hr = object_->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, kind, &params,
                                       kind == DISPATCH_PROPERTYPUT ? nullptr : result.receive(), exception.receive(),
                                       &badArgument);
    if (hr == DISP_E_EXCEPTION) { // passed on to our caller unchanged
        const HRESULT status = exception.status();
        const EXCEPINFO& raised = exception.get();
        describeFailure(status, {raised.bstrSource, raised.bstrDescription, nullptr, raised.bstrHelpFile,
                                 raised.dwHelpContext});
        throw ComFailure(status, true);
    }
    check(hr);
    return result;
}

void LateBoundObject::put(const wchar_t* property, const VARIANT& value)
{
    std::vector<VARIANT> arguments{value};
    invoke(idOf(property), DISPATCH_PROPERTYPUT, arguments);
}

Variant LateBoundObject::call(const wchar_t* method, std::vector<VARIANT> arguments)
{
    std::reverse(arguments.begin(), arguments.end());
    return invoke(idOf(method), DISPATCH_METHOD, arguments);
}

} // namespace qel::automation
