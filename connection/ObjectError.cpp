#include "connection/ObjectError.h"

#include "automation/ErrorInformation.h"

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
    return automation::describeFailure(statusOfErrorNumber(error.number()),
                                       {error.source().c_str(), error.description().c_str(), &interfaceId});
}

} // namespace qel::connection
