// The exports of QelCipher.dll.
#include "QelCipher.h"
#include "QelCipherRegistration.h"
#include "automation/ServerExports.h"
#include "cipher/Cipher.h"

QEL_AUTOMATION_SERVER_EXPORTS(qel::cipher::Cipher, CLSID_Cipher, kQelCipherRegistration)
