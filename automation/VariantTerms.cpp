#include "automation/VariantTerms.h"

#include "automation/ErrorReporting.h"
#include "common/NumberedError.h"

namespace qel::automation {

namespace {

// Conversion failures as the host's language reports them. An object
// without a default value, or no object at all, cannot be used as text.
void checkConversion(HRESULT hr)
{
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_BADVARTYPE || hr == DISP_E_MEMBERNOTFOUND || hr == E_NOINTERFACE
        || hr == E_POINTER || hr == E_INVALIDARG)
        raise(ErrorNumber::TypeMismatch);
    if (hr == DISP_E_OVERFLOW)
        raise(ErrorNumber::Overflow);
    check(hr);
}

// The value itself, whatever reference it is held by. A string held by
// reference is read where it lies (it may be millions of characters); other
// referenced values are small and copied.
class Direct {
public:
    explicit Direct(const VARIANT& value) : value_(&innermost(value))
    {
        if (value_->vt == (VT_BYREF | VT_BSTR)) {
            VariantInit(&borrowed_);
            borrowed_.vt = VT_BSTR;
            borrowed_.bstrVal = value_->pbstrVal ? *value_->pbstrVal : nullptr;
            value_ = &borrowed_; // never cleared: the host owns the string
        } else if (value_->vt & VT_BYREF) {
            copy_ = Variant::copyOf(*value_);
            value_ = &copy_.get();
        }
    }
    const VARIANT& operator*() const { return *value_; }
    const VARIANT* operator->() const { return value_; }

private:
    const VARIANT* value_;
    VARIANT borrowed_;
    Variant copy_;
};

SAFEARRAY* arrayOf(const VARIANT& value)
{
    return (value.vt & VT_BYREF) ? (value.pparray ? *value.pparray : nullptr) : value.parray;
}

std::u16string textOfBytes(const VARIANT& value)
{
    const BorrowedBytes bytes(value);
    const auto& view = bytes.view();
    const auto entries = view.hasStorage() ? view.range(view.lowerBound(), view.count()) : std::span<const std::uint8_t>();
    std::u16string text(entries.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(entries[2 * i] | entries[2 * i + 1] << 8);
    return text;
}

} // namespace

const VARIANT& innermost(const VARIANT& value)
{
    const VARIANT* v = &value;
    for (int depth = 0; depth < 16 && v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal; ++depth)
        v = v->pvarVal;
    return *v;
}

bool isNull(const VARIANT& value)
{
    return innermost(value).vt == VT_NULL;
}

bool isMissing(const VARIANT& value)
{
    return value.vt == VT_ERROR && value.scode == DISP_E_PARAMNOTFOUND;
}

bool isBlank(const VARIANT& value)
{
    const Direct direct(value);
    switch (direct->vt) {
    case VT_EMPTY: return true;
    case VT_NULL: return false;
    case VT_BSTR: return SysStringLen(direct->bstrVal) == 0;
    default: break;
    }
    VARIANT empty;
    empty.vt = VT_BSTR;
    empty.bstrVal = nullptr;
    const HRESULT hr = VarCmp(const_cast<VARIANT*>(&*direct), &empty, LOCALE_USER_DEFAULT, 0);
    checkConversion(FAILED(hr) ? hr : S_OK);
    return hr == VARCMP_EQ;
}

std::u16string textOf(const VARIANT& value)
{
    if (isByteArray(value))
        return textOfBytes(value);
    const Direct direct(value);
    switch (direct->vt) {
    case VT_EMPTY:
    case VT_NULL: return {};
    case VT_BSTR:
        return std::u16string(reinterpret_cast<const char16_t*>(direct->bstrVal), SysStringLen(direct->bstrVal));
    default: break;
    }
    if (direct->vt & VT_ARRAY)
        raise(ErrorNumber::TypeMismatch);
    // What the host's own concatenation makes of it: numbers and dates in the
    // user's locale, Booleans as words.
    VARIANT empty;
    empty.vt = VT_BSTR;
    empty.bstrVal = nullptr;
    Variant text;
    checkConversion(VarCat(const_cast<VARIANT*>(&*direct), &empty, text.receive()));
    if (text.get().vt != VT_BSTR)
        raise(ErrorNumber::TypeMismatch);
    const BSTR b = text.get().bstrVal;
    return std::u16string(reinterpret_cast<const char16_t*>(b), SysStringLen(b));
}

std::optional<std::size_t> lengthOf(const VARIANT& value)
{
    if (isNull(value))
        return std::nullopt;
    return textOf(value).size();
}

bool isText(const VARIANT& value)
{
    return (innermost(value).vt & ~VT_BYREF) == VT_BSTR;
}

bool isByteArray(const VARIANT& value)
{
    return (innermost(value).vt & ~VT_BYREF) == (VT_ARRAY | VT_UI1);
}

BorrowedBytes::BorrowedBytes(const VARIANT& value)
{
    SAFEARRAY* array = arrayOf(innermost(value));
    if (!array)
        return; // never dimensioned
    // Only entry (0) of a one-dimensional array can be located.
    if (SafeArrayGetDim(array) != 1)
        raise(ErrorNumber::SubscriptOutOfRange);
    access_.emplace(array);
    const SAFEARRAYBOUND& bound = array->rgsabound[0];
    view_ = crypt::ByteArrayView(
        std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(access_->data()), bound.cElements), bound.lLbound);
}

} // namespace qel::automation
