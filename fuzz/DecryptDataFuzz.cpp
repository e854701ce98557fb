// Arbitrary buffers, passwords and lower bounds through DecryptData: a result
// never exceeds the data, and the only errors are 9 and 6.
#include <cstdlib>

#include "common/NumberedError.h"
#include "crypt/QelvanCryptCls.h"

using namespace qel::crypt;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const std::size_t passwordLength = std::min<std::size_t>(data[0] % 64, size - 2);
    const int shape = data[1];
    const std::span<const std::uint8_t> password(data + 2, passwordLength);
    const std::span<const std::uint8_t> input(data + 2 + passwordLength, size - 2 - passwordLength);

    // Low bits pick the lower bounds (mostly 0) and whether storage exists.
    const std::int32_t inputBound = (shape & 3) == 3 ? 1 : (shape & 3) == 2 ? -1 : 0;
    const ByteArrayView in = (shape & 4) ? ByteArrayView() : ByteArrayView(input, inputBound);
    const ByteArrayView pw = (shape & 8) ? ByteArrayView() : ByteArrayView(password, (shape & 16) ? 1 : 0);

    QelvanCryptCls cipher;
    try {
        const ByteArray result = cipher.DecryptData(in, pw);
        if (result.hasStorage() && (result.entries().empty() || result.entries().size() + 4 > input.size()))
            std::abort();
    } catch (const qel::NumberedError& e) {
        if (e.number() != qel::ErrorNumber::SubscriptOutOfRange && e.number() != qel::ErrorNumber::Overflow)
            std::abort();
    }
    return 0;
}
