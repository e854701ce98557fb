#include "automation/LegacyTextVariant.h"

#include "automation/VariantTerms.h"
#include "common/NumberedError.h"
#include "textcrypt/LegacyTransform.h"

namespace qel::automation {

Variant legacyEncrypt(const VARIANT& value)
{
    if (isByteArray(value)) {
        const BorrowedBytes bytes(value);
        return Variant::ofText(textcrypt::myOldEncrypt(bytes.view()));
    }
    if (!isText(value))
        raise(ErrorNumber::TypeMismatch);
    return Variant::ofText(textcrypt::myOldEncrypt(textOf(value)));
}

Variant legacyDecrypt(const VARIANT& value)
{
    if (isNull(value))
        raise(ErrorNumber::InvalidUseOfNull);
    const std::vector<std::uint8_t> bytes = textcrypt::myOldDecrypt(textOf(value));
    return Variant::ofBstr(Bstr::fromBytes(bytes));
}

} // namespace qel::automation
