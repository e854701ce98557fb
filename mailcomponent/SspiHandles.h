#pragma once
// What SSPI and crypt32 hand out during a TLS session, each kind owned by a
// UniqueHandle. SSPI handles are freed through the function table that made
// them (the real one, or a test's stand-in).
#include "mailcomponent/UniqueHandle.h"

#define SECURITY_WIN32
// SCH_CREDENTIALS and TLS_PARAMETERS are declared only with this, and need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

namespace qel::mailcomponent {

struct SspiTraits {
    const SecurityFunctionTableW* sspi = nullptr;
    static SecHandle invalid()
    {
        SecHandle h;
        SecInvalidateHandle(&h);
        return h;
    }
    static bool isValid(const SecHandle& h) { return SecIsValidHandle(&h); }
};

struct CredentialsTraits : SspiTraits {
    using Handle = CredHandle;
    void close(CredHandle& h) const { sspi->FreeCredentialsHandle(&h); }
};
using CredentialsHandle = UniqueHandle<CredentialsTraits>;

struct SecurityContextTraits : SspiTraits {
    using Handle = CtxtHandle;
    void close(CtxtHandle& h) const { sspi->DeleteSecurityContext(&h); }
};
using SecurityContext = UniqueHandle<SecurityContextTraits>;

// Memory that SSPI allocated for an output token (ISC_REQ_ALLOCATE_MEMORY).
struct ContextBufferTraits {
    using Handle = void*;
    const SecurityFunctionTableW* sspi = nullptr;
    static void* invalid() { return nullptr; }
    static bool isValid(void* p) { return p != nullptr; }
    void close(void* p) const { sspi->FreeContextBuffer(p); }
};
using ContextBuffer = UniqueHandle<ContextBufferTraits>;

struct CertificateTraits : SentinelTraits<PCCERT_CONTEXT, nullptr> {
    static void close(PCCERT_CONTEXT c) { CertFreeCertificateContext(c); }
};
using CertificateContext = UniqueHandle<CertificateTraits>;

struct ChainTraits : SentinelTraits<PCCERT_CHAIN_CONTEXT, nullptr> {
    static void close(PCCERT_CHAIN_CONTEXT c) { CertFreeCertificateChain(c); }
};
using ChainContext = UniqueHandle<ChainTraits>;

} // namespace qel::mailcomponent
