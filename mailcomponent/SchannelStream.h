#pragma once
// TLS over a connected ByteChannel through the operating system's Schannel
// (SSPI), client side. The handshake asks for manual validation and the
// certificate is checked here (ServerCertificateCheck), because Wine's
// Schannel checks nothing; it is made again after every handshake, a
// renegotiation included, and a refusal then ends the session with the same
// code as at the start (CannotConnect). Records are sized from the context's
// stream sizes; bytes of a following record that arrive with one are kept.
// Every wait for bytes ends by its deadline, however many records without
// data the peer sends meanwhile.
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mailcomponent/ByteChannel.h"
#include "mailcomponent/ServerCertificateCheck.h"
#include "mailcomponent/SspiHandles.h"

namespace qel::mailcomponent {

class SchannelStream {
public:
    using CertificateCheck = bool (*)(PCCERT_CONTEXT, const std::wstring& host, mail::Deadline, std::string& reason);
    // Records without data in a row within one wait, beyond any ticket or key
    // update a sound server sends, after which the wait ends as UnexpectedReply.
    static constexpr int kMaxRecordsWithoutData = 1000;

    // `sspi` is the function table of InitSecurityInterfaceW, or a stand-in.
    // With `shared`, the credentials handle is the process's one for that
    // table, so Schannel's session cache can resume a later handshake.
    SchannelStream(ByteChannel& channel, const SecurityFunctionTableW& sspi,
                   CertificateCheck checkCertificate = checkServerCertificate, bool shared = false);
    SchannelStream(const SchannelStream&) = delete;
    SchannelStream& operator=(const SchannelStream&) = delete;
    ~SchannelStream();

    // Handshake and certificate check against `host`, which also goes out as
    // SNI. CannotConnect when TLS cannot be set up or the certificate is
    // refused or the deadline passes (the reason in failureDetail()), ConnectionDropped.
    mail::MailCode handshake(const std::wstring& host, mail::Deadline deadline);
    mail::MailCode send(std::string_view bytes, mail::Deadline deadline);
    // Appends decrypted bytes; ConnectionDropped on close_notify or a bad
    // record, NoReplyInTime past the deadline, CannotConnect when a
    // renegotiation is refused (the session is unusable after that).
    mail::MailCode receive(std::string& into, mail::Deadline deadline);
    // close_notify, where the platform can make one; never a failure.
    void shutdown(mail::Deadline deadline);
    // Lets go of the process's credentials handle; streams using it keep it
    // until they end. For a DLL about to unload, never from DllMain.
    static void releaseSharedCredentials();

    const std::string& failureDetail() const { return failure_; }
    // The session in words, from the last handshake: protocol, cipher suite,
    // the server's certificate and the host it was checked against.
    const std::string& summary() const { return summary_; }
    // Bytes of the peer's already read and not yet decrypted.
    bool holdsUnread() const { return !encrypted_.empty(); }

private:
    mail::MailCode acquireCredentials();
    // The handshake loop from the current input on; used again for
    // renegotiation. `late` is the step's code for a deadline that passes.
    mail::MailCode negotiate(mail::Deadline deadline, mail::MailCode late);
    // What every handshake must be followed by: protocol, certificate, record sizes.
    mail::MailCode verifySession(mail::Deadline deadline);
    void describeSession(const SecPkgContext_ConnectionInfo& connection, PCCERT_CONTEXT certificate);
    mail::MailCode sendToken(const SecBuffer& token, mail::Deadline deadline);
    mail::MailCode fail(mail::MailCode code, std::string reason);

    ByteChannel& channel_;
    const SecurityFunctionTableW& sspi_;
    CertificateCheck checkCertificate_;
    bool shared_;
    std::shared_ptr<CredentialsHandle> credentials_; // shared by the streams of the process when `shared`
    SecurityContext context_;
    std::wstring host_;
    SecPkgContext_StreamSizes sizes_{};
    std::string encrypted_; // received, not yet decrypted
    std::vector<char> record_; // one record, encrypted in place
    std::string wire_;         // encrypted records waiting to go out
    std::string failure_;
    std::string summary_;
    bool established_ = false;
    mail::MailCode broken_ = mail::Ok; // a refusal after which nothing more is sent or read
};

} // namespace qel::mailcomponent
