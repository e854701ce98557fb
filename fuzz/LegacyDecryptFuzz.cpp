// Any hex through the legacy decryption; what decrypts to whole code units
// encrypts and decrypts again to the same text.
#include <cstdlib>

#include "common/NumberedError.h"
#include "fuzz/FuzzInput.h"
#include "textcrypt/LegacyTransform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::u16string hex = qel::fuzz::unitsOf(data, size);
    std::vector<std::uint8_t> bytes;
    try {
        bytes = qel::textcrypt::myOldDecrypt(hex);
    } catch (const qel::NumberedError& e) {
        const auto n = e.number();
        if (n != qel::ErrorNumber::SubscriptOutOfRange && n != qel::ErrorNumber::TypeMismatch
            && n != qel::ErrorNumber::Overflow)
            std::abort();
        return 0;
    }
    if (bytes.size() + 4 > hex.size() / 2 && !bytes.empty())
        std::abort();
    if (!bytes.empty() && bytes.size() % 2 == 0) {
        const std::u16string text = qel::textcrypt::textFromLittleEndianBytes(bytes);
        if (qel::textcrypt::myOldDecrypt(qel::textcrypt::myOldEncrypt(text)) != bytes)
            std::abort();
    }
    return 0;
}
