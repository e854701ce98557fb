// The exports of QelCipher.dll.
#include "QelCipher.h"
#include "automation/ServerExports.h"
#include "cipher/Cipher.h"

namespace {

const qel::automation::ServerDescription kCipher{
    &CLSID_Cipher, L"QelCipher.Cipher", L"QelCipher.Cipher", &LIBID_QelCipher, 1, 0, 0x0409,
};

} // namespace

QEL_AUTOMATION_SERVER_EXPORTS(qel::cipher::Cipher, kCipher)
