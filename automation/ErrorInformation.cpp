#include "automation/ErrorInformation.h"

#include <wrl/client.h>

namespace qel::automation {

HRESULT describeFailure(HRESULT status, const ErrorDescription& error) noexcept
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    Microsoft::WRL::ComPtr<IErrorInfo> info;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(error.interfaceId ? *error.interfaceId : GUID_NULL);
        create->SetSource(const_cast<LPOLESTR>(error.source));
        create->SetDescription(const_cast<LPOLESTR>(error.description));
        create->SetHelpFile(const_cast<LPOLESTR>(error.helpFile));
        create->SetHelpContext(error.helpContext);
        create.As(&info);
    }
    restoreErrorInformation(info.Get()); // without memory for it, at least nothing stale
    return status;
}

HRESULT failWithoutDescription(HRESULT status) noexcept
{
    restoreErrorInformation(nullptr);
    return status;
}

void restoreErrorInformation(IErrorInfo* info) noexcept
{
    SetErrorInfo(0, info);
}

} // namespace qel::automation
