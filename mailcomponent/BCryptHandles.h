#pragma once
// CNG's handles in the UniqueHandle family: an algorithm provider and a hash.
#include "mailcomponent/UniqueHandle.h"

#include <bcrypt.h>

namespace qel::mailcomponent {

struct AlgorithmProviderTraits : SentinelTraits<BCRYPT_ALG_HANDLE, nullptr> {
    static void close(BCRYPT_ALG_HANDLE h) { BCryptCloseAlgorithmProvider(h, 0); }
};
using AlgorithmProvider = UniqueHandle<AlgorithmProviderTraits>;

struct HashTraits : SentinelTraits<BCRYPT_HASH_HANDLE, nullptr> {
    static void close(BCRYPT_HASH_HANDLE h) { BCryptDestroyHash(h); }
};
using HashHandle = UniqueHandle<HashTraits>;

} // namespace qel::mailcomponent
