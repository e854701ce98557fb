#include <cstdlib>

#include "common/NumberedError.h"
#include "fuzz/FuzzInput.h"
#include "textcrypt/HexPairs.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::u16string text = qel::fuzz::unitsOf(data, size);
    try {
        const auto bytes = qel::textcrypt::decodeHexPairs(text);
        std::u16string again;
        qel::textcrypt::appendHexPairs(bytes, again);
        if (again != qel::fuzz::upper(text))
            std::abort();
    } catch (const qel::NumberedError& e) {
        if (e.number() != qel::ErrorNumber::SubscriptOutOfRange && e.number() != qel::ErrorNumber::TypeMismatch)
            std::abort();
    }
    return 0;
}
