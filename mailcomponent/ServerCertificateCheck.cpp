// dwUrlRetrievalTimeout is declared only with this, before any <wincrypt.h>.
#define CERT_CHAIN_PARA_HAS_EXTRA_FIELDS
#include "mailcomponent/ServerCertificateCheck.h"

#include <algorithm>
#include <cstddef>

#include "mailcomponent/SspiHandles.h"
#include "mailcomponent/StatusText.h"

namespace qel::mailcomponent {

namespace {

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
        return "the server's certificate was refused (" + statusText(error) + ")";
    }
}

} // namespace

DWORD refusedChainFaults(DWORD errorStatus)
{
    // Revocation is not checked (no flag asks for it), so only its own
    // "unknown" and "offline" may stand; any other fault refuses.
    return errorStatus & ~static_cast<DWORD>(CERT_TRUST_REVOCATION_STATUS_UNKNOWN | CERT_TRUST_IS_OFFLINE_REVOCATION);
}

bool checkServerCertificate(PCCERT_CONTEXT certificate, const std::wstring& host, mail::Deadline deadline,
                            std::string& reason)
{
    if (!certificate) {
        reason = "the server sent no certificate";
        return false;
    }
    if (deadline.passed()) {
        reason = "no time was left to check the server's certificate";
        return false;
    }
    char serverAuth[] = szOID_PKIX_KP_SERVER_AUTH;
    LPSTR usages[] = {serverAuth};
    CERT_CHAIN_PARA chainPara{};
    // Up to the retrieval fields only: Wine takes no larger size, and Windows
    // before 8 knows no later field.
    chainPara.cbSize = offsetof(CERT_CHAIN_PARA, pStrongSignPara);
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // The certificate names the addresses AIA would fetch, so the server
    // would choose where we connect, and Windows would wait for them with its
    // own timeouts outside the step's: the chain is built from this machine's
    // stores and what the server sent, with any retrieval capped by the time left.
    chainPara.dwUrlRetrievalTimeout = static_cast<DWORD>(std::max<long long>(1, deadline.remaining().count()));
    constexpr DWORD chainFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL | CERT_CHAIN_DISABLE_AIA;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    if (!CertGetCertificateChain(nullptr, certificate, nullptr, certificate->hCertStore, &chainPara, chainFlags, nullptr,
                                 &built)) {
        reason = "no chain could be built for the server's certificate (" + statusText(GetLastError()) + ")";
        return false;
    }
    const ChainContext chain(built);
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
        reason = "the server's certificate could not be checked (" + statusText(GetLastError()) + ")";
        return false;
    }
    if (status.dwError != 0) {
        reason = describe(status.dwError, host);
        return false;
    }
    // The SSL policy may pass a chain with a fault it was not asked about.
    const DWORD faults = refusedChainFaults(chain.get()->TrustStatus.dwErrorStatus);
    if (faults != 0) {
        reason = "the server's certificate chain is not trusted (status " + statusText(faults) + ")";
        return false;
    }
    return true;
}

} // namespace qel::mailcomponent
