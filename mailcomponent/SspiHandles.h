#pragma once
// RAII for what SSPI and crypt32 hand out during a TLS session: each wrapper
// owns one kind of handle and is neither copied nor moved.
#define SECURITY_WIN32
// SCH_CREDENTIALS and TLS_PARAMETERS are declared only with this, and need UNICODE_STRING.
#define SCHANNEL_USE_BLACKLISTS
#include <windows.h>
#include <subauth.h>
#include <security.h>
#include <schannel.h>
#include <wincrypt.h>

namespace qel::mailcomponent {

class CredentialsHandle {
public:
    explicit CredentialsHandle(const SecurityFunctionTableW& sspi) : sspi_(&sspi) {}
    CredentialsHandle(const CredentialsHandle&) = delete;
    CredentialsHandle& operator=(const CredentialsHandle&) = delete;
    ~CredentialsHandle() { if (held_) sspi_->FreeCredentialsHandle(&handle_); }
    // For AcquireCredentialsHandle; the handle counts as held once it succeeded.
    CredHandle* receive() { return &handle_; }
    void markHeld() { held_ = true; }
    CredHandle* get() { return &handle_; }

private:
    const SecurityFunctionTableW* sspi_;
    CredHandle handle_{};
    bool held_ = false;
};

class SecurityContext {
public:
    explicit SecurityContext(const SecurityFunctionTableW& sspi) : sspi_(&sspi) {}
    SecurityContext(const SecurityContext&) = delete;
    SecurityContext& operator=(const SecurityContext&) = delete;
    ~SecurityContext() { if (held_) sspi_->DeleteSecurityContext(&handle_); }
    CtxtHandle* get() { return held_ ? &handle_ : nullptr; }
    // InitializeSecurityContext's new-context argument on the first call.
    CtxtHandle* receive() { return &handle_; }
    void markHeld() { held_ = true; }
    bool held() const { return held_; }

private:
    const SecurityFunctionTableW* sspi_;
    CtxtHandle handle_{};
    bool held_ = false;
};

// Memory that SSPI allocated for an output token.
class ContextBuffer {
public:
    explicit ContextBuffer(const SecurityFunctionTableW& sspi) : sspi_(&sspi) {}
    ContextBuffer(const ContextBuffer&) = delete;
    ContextBuffer& operator=(const ContextBuffer&) = delete;
    ~ContextBuffer() { if (buffer_.pvBuffer) sspi_->FreeContextBuffer(buffer_.pvBuffer); }
    SecBuffer& get() { return buffer_; }

private:
    const SecurityFunctionTableW* sspi_;
    SecBuffer buffer_{0, SECBUFFER_TOKEN, nullptr};
};

class CertificateContext {
public:
    CertificateContext() = default;
    CertificateContext(const CertificateContext&) = delete;
    CertificateContext& operator=(const CertificateContext&) = delete;
    ~CertificateContext() { if (context_) CertFreeCertificateContext(context_); }
    PCCERT_CONTEXT* receive() { return &context_; }
    PCCERT_CONTEXT get() const { return context_; }

private:
    PCCERT_CONTEXT context_ = nullptr;
};

class ChainContext {
public:
    ChainContext() = default;
    ChainContext(const ChainContext&) = delete;
    ChainContext& operator=(const ChainContext&) = delete;
    ~ChainContext() { if (chain_) CertFreeCertificateChain(chain_); }
    PCCERT_CHAIN_CONTEXT* receive() { return &chain_; }
    PCCERT_CHAIN_CONTEXT get() const { return chain_; }

private:
    PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

} // namespace qel::mailcomponent
