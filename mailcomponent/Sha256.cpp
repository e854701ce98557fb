#include "mailcomponent/Sha256.h"

#include "mailcomponent/BCryptHandles.h" // Winsock before <windows.h>

namespace qel::mailcomponent {

std::string sha256(std::initializer_list<std::string_view> parts)
{
    // Opened once and kept for the process: opening costs more than a hash.
    static const BCRYPT_ALG_HANDLE algorithm = [] {
        BCRYPT_ALG_HANDLE opened = nullptr;
        BCryptOpenAlgorithmProvider(&opened, BCRYPT_SHA256_ALGORITHM, nullptr, 0);
        return opened;
    }();
    BCRYPT_HASH_HANDLE created = nullptr;
    if (!algorithm || BCryptCreateHash(algorithm, &created, nullptr, 0, nullptr, 0, 0) != 0)
        return {};
    const HashHandle hash(created);
    for (const std::string_view part : parts)
        if (BCryptHashData(hash.get(), reinterpret_cast<PUCHAR>(const_cast<char*>(part.data())), static_cast<ULONG>(part.size()), 0)
            != 0)
            return {};
    std::string digest(32, '\0');
    if (BCryptFinishHash(hash.get(), reinterpret_cast<PUCHAR>(digest.data()), static_cast<ULONG>(digest.size()), 0) != 0)
        return {};
    return digest;
}

} // namespace qel::mailcomponent
