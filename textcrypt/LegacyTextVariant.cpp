#include "textcrypt/LegacyTextVariant.h"

#include "automation/VariantTerms.h"
#include "common/NumberedError.h"
#include "textcrypt/LegacyTransform.h"

namespace qel::textcrypt {

automation::Variant legacyEncrypt(const VARIANT& value)
{
    if (automation::isByteArray(value)) {
        const automation::BorrowedBytes bytes(value);
        return automation::Variant::ofText(myOldEncrypt(bytes.view()));
    }
    if (!automation::isText(value))
        raise(ErrorNumber::TypeMismatch);
    return automation::Variant::ofText(myOldEncrypt(automation::textOf(value)));
}

automation::Variant legacyDecrypt(const VARIANT& value)
{
    if (automation::isNull(value))
        raise(ErrorNumber::InvalidUseOfNull);
    const std::vector<std::uint8_t> bytes = myOldDecrypt(automation::textOf(value));
    return automation::Variant::ofBstr(automation::Bstr::fromBytes(bytes));
}

} // namespace qel::textcrypt
