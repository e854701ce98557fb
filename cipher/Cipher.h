#pragma once
// QelCipher.Cipher: encrypts and decrypts CipherString in place with the
// legacy transform, so that Renderer's MyOldEncrypt/MyOldDecrypt read what it
// writes and the reverse. A failed call leaves CipherString as it was.
#include "QelCipher.h"
#include "automation/DispatchObject.h"
#include "automation/Variant.h"

namespace qel::cipher {

class Cipher final : public automation::DispatchObject<_Cipher, &IID__Cipher> {
public:
    static constexpr const wchar_t* kSource = L"QelCipher";

    STDMETHODIMP get_CipherString(VARIANT* value) override;
    STDMETHODIMP put_CipherString(VARIANT value) override;
    STDMETHODIMP putref_CipherString(VARIANT value) override;
    STDMETHODIMP EnhancedEncrypt() override;
    STDMETHODIMP EnhancedDecrypt() override;

private:
    static automation::Variant EncryptText(const VARIANT& text);
    static automation::Variant DecryptText(const VARIANT& text);

    automation::Variant cipherString_;
};

} // namespace qel::cipher
