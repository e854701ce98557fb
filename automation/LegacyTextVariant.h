#pragma once
// The legacy transform on host values, as both libraries offer it
// (Renderer's MyOldEncrypt/MyOldDecrypt, Cipher's Enhanced methods).
#include <windows.h>
#include <oaidl.h>

#include "automation/Variant.h"

namespace qel::automation {

// A text or a byte array; anything else raises error 13.
Variant legacyEncrypt(const VARIANT& value);
// The value's text; Null raises error 94. The decrypted bytes become the
// result's bytes as they are, an odd last byte included.
Variant legacyDecrypt(const VARIANT& value);

} // namespace qel::automation
