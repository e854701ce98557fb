#include "connection/ObjectError.h"

#include <wrl/client.h>

namespace qel::connection {

HRESULT statusOfErrorNumber(std::int32_t number) noexcept
{
    if (number < 0)
        return static_cast<HRESULT>(number);
    if (number >= 1 && number <= 0xFFFF)
        return static_cast<HRESULT>(0x800A0000u + static_cast<unsigned>(number));
    // 0 and large positive numbers (a sum with a huge last-error value) are no
    // failure status; the caller must still see a failure.
    return E_FAIL;
}

HRESULT raiseObjectError(const ObjectError& error, REFGUID interfaceId) noexcept
{
    Microsoft::WRL::ComPtr<ICreateErrorInfo> create;
    if (SUCCEEDED(CreateErrorInfo(&create))) {
        create->SetGUID(interfaceId);
        create->SetSource(const_cast<LPOLESTR>(error.source().c_str()));
        create->SetDescription(const_cast<LPOLESTR>(error.description().c_str()));
        Microsoft::WRL::ComPtr<IErrorInfo> info;
        if (SUCCEEDED(create.As(&info)))
            SetErrorInfo(0, info.Get());
    }
    return statusOfErrorNumber(error.number());
}

} // namespace qel::connection
