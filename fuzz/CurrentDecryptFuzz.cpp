// On Windows-1252 every byte is a character and back, so whatever decrypts
// encrypts again to the same digits, in uppercase.
#include <cstdlib>

#include "common/NumberedError.h"
#include "fuzz/FuzzInput.h"
#include "textcrypt/CurrentTransform.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const auto& page = qel::textcrypt::AnsiCodePage::windows1252();
    const std::u16string hex = qel::fuzz::unitsOf(data, size);
    std::u16string text;
    try {
        text = qel::textcrypt::myDecrypt(hex, page);
    } catch (const qel::NumberedError& e) {
        const auto n = e.number();
        if (n != qel::ErrorNumber::SubscriptOutOfRange && n != qel::ErrorNumber::TypeMismatch
            && n != qel::ErrorNumber::InvalidArgument)
            std::abort();
        return 0;
    }
    if (qel::textcrypt::myEncrypt(text, page) != qel::fuzz::upper(hex))
        std::abort();
    return 0;
}
