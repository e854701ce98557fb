#include "automation/Variant.h"

#include <new>

#include "automation/ErrorReporting.h"

namespace qel::automation {

Bstr::Bstr(std::u16string_view text)
    : value_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(text.data()), static_cast<UINT>(text.size())))
{
    if (!value_)
        throw std::bad_alloc();
}

Bstr Bstr::fromBytes(std::span<const std::uint8_t> bytes)
{
    Bstr result;
    result.value_ = SysAllocStringByteLen(reinterpret_cast<LPCSTR>(bytes.data()), static_cast<UINT>(bytes.size()));
    if (!result.value_)
        throw std::bad_alloc();
    return result;
}

Variant Variant::copyOf(const VARIANT& source)
{
    Variant copy;
    check(VariantCopyInd(&copy.value_, const_cast<VARIANT*>(&source)));
    return copy;
}

Variant Variant::ofBstr(Bstr text)
{
    Variant result;
    result.value_.vt = VT_BSTR;
    result.value_.bstrVal = text.release();
    return result;
}

Variant Variant::ofText(std::u16string_view text)
{
    return ofBstr(Bstr(text));
}

Variant Variant::ofInteger(std::int16_t number)
{
    Variant result;
    result.value_.vt = VT_I2;
    result.value_.iVal = number;
    return result;
}

HRESULT Variant::copyTo(VARIANT* out) const
{
    VariantInit(out);
    return VariantCopy(out, const_cast<VARIANT*>(&value_));
}

SafeArrayAccess::SafeArrayAccess(SAFEARRAY* array) : array_(array)
{
    check(SafeArrayAccessData(array_, &data_));
}

SafeArrayAccess::~SafeArrayAccess()
{
    SafeArrayUnaccessData(array_);
}

} // namespace qel::automation
