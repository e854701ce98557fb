#include "mailcomponent/ServerCertificateCheck.h"

#include <cstdio>

#include "mailcomponent/SspiHandles.h"

namespace qel::mailcomponent {

namespace {

std::string hex(DWORD code)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(code));
    return text;
}

std::string narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end()); // host names are ASCII here
}

std::string describe(DWORD error, const std::wstring& host)
{
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
        return "the server's certificate does not chain to a trusted root";
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "no chain could be built from the server's certificate to a trusted root";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return "the server's certificate has expired or is not yet valid";
    case static_cast<DWORD>(CERT_E_CN_NO_MATCH):
        return "the server's certificate is not for the host " + narrow(host);
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return "the server's certificate is not meant for server authentication";
    case static_cast<DWORD>(CERT_E_REVOKED):
        return "the server's certificate has been revoked";
    default:
        return "the server's certificate was refused (" + hex(error) + ")";
    }
}

} // namespace

bool checkServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& host, std::string& reason)
{
    if (!certificate) {
        reason = "the server sent no certificate";
        return false;
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    ChainContext chain;
    // The certificates the server sent along (its store) may complete the chain.
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, 0, nullptr,
                                 chain.receive())) {
        reason = "no chain could be built for the server's certificate (" + hex(GetLastError()) + ")";
        return false;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{};
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.pwszServerName = const_cast<wchar_t*>(host.c_str());
    CERT_CHAIN_POLICY_PARA policy{};
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain.get(), &policy, &status)) {
        reason = "the server's certificate could not be checked (" + hex(GetLastError()) + ")";
        return false;
    }
    if (status.dwError != 0) {
        reason = describe(status.dwError, host);
        return false;
    }
    // The SSL policy passes a chain whose only fault it was not asked about; these it must not pass.
    const DWORD faults = chain.get()->TrustStatus.dwErrorStatus
                         & (CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_NOT_TIME_VALID
                            | CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_NOT_VALID_FOR_USAGE
                            | CERT_TRUST_IS_REVOKED);
    if (faults != 0) {
        reason = "the server's certificate chain is not trusted (status " + hex(faults) + ")";
        return false;
    }
    return true;
}

} // namespace qel::mailcomponent
