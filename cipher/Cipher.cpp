#include "cipher/Cipher.h"

#include "automation/ErrorReporting.h"
#include "automation/LegacyTextVariant.h"

namespace qel::cipher {

using automation::guarded;
using automation::Variant;

HRESULT Cipher::get_CipherString(VARIANT* value)
{
    if (!value)
        return E_POINTER;
    return cipherString_.copyTo(value);
}

HRESULT Cipher::put_CipherString(VARIANT value)
{
    return guarded(kSource, IID__Cipher, [&] { cipherString_ = Variant::copyOf(value); });
}

HRESULT Cipher::putref_CipherString(VARIANT value)
{
    return put_CipherString(value);
}

HRESULT Cipher::EnhancedEncrypt()
{
    return guarded(kSource, IID__Cipher, [&] { cipherString_ = EncryptText(cipherString_.get()); });
}

HRESULT Cipher::EnhancedDecrypt()
{
    return guarded(kSource, IID__Cipher, [&] { cipherString_ = DecryptText(cipherString_.get()); });
}

Variant Cipher::EncryptText(const VARIANT& text)
{
    return automation::legacyEncrypt(text);
}

Variant Cipher::DecryptText(const VARIANT& text)
{
    return automation::legacyDecrypt(text);
}

} // namespace qel::cipher
