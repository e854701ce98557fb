#pragma once
// TLS over a connected ByteChannel through the operating system's Schannel
// (SSPI), client side. The handshake asks for manual validation and the
// certificate is checked here (ServerCertificateCheck), because Wine's
// Schannel checks nothing. Records are sized from the context's stream
// sizes; bytes of a following record that arrive with one are kept.
#include <string>
#include <string_view>
#include <vector>

#include "mailcomponent/ByteChannel.h"
#include "mailcomponent/ServerCertificateCheck.h"
#include "mailcomponent/SspiHandles.h"

namespace qel::mailcomponent {

class SchannelStream {
public:
    using CertificateCheck = bool (*)(PCCERT_CONTEXT, const std::wstring& host, std::string& reason);

    // `sspi` is the function table of InitSecurityInterfaceW, or a stand-in.
    SchannelStream(ByteChannel& channel, const SecurityFunctionTableW& sspi,
                   CertificateCheck checkCertificate = checkServerCertificate);
    SchannelStream(const SchannelStream&) = delete;
    SchannelStream& operator=(const SchannelStream&) = delete;
    ~SchannelStream();

    // Handshake and certificate check against `host`, which also goes out as
    // SNI. CannotConnect when TLS cannot be set up or the certificate is
    // refused (the reason in failureDetail()), NoReplyInTime, ConnectionDropped.
    mail::MailCode handshake(const std::wstring& host, mail::Deadline deadline);
    mail::MailCode send(std::string_view bytes, mail::Deadline deadline);
    // Appends decrypted bytes; ConnectionDropped on close_notify or a bad record.
    mail::MailCode receive(std::string& into, mail::Deadline deadline);
    // close_notify, where the platform can make one; never a failure.
    void shutdown(mail::Deadline deadline);

    const std::string& failureDetail() const { return failure_; }

private:
    mail::MailCode acquireCredentials();
    // The handshake loop from the current input on; used again for renegotiation.
    mail::MailCode negotiate(mail::Deadline deadline);
    mail::MailCode sendToken(SecBuffer& token, mail::Deadline deadline);
    mail::MailCode fail(mail::MailCode code, std::string reason);

    ByteChannel& channel_;
    const SecurityFunctionTableW& sspi_;
    CertificateCheck checkCertificate_;
    CredentialsHandle credentials_;
    SecurityContext context_;
    std::wstring host_;
    SecPkgContext_StreamSizes sizes_{};
    std::string encrypted_; // received, not yet decrypted
    std::vector<char> record_; // one record, encrypted in place
    std::string wire_;         // encrypted records waiting to go out
    std::string failure_;
    bool established_ = false;
};

} // namespace qel::mailcomponent
