#include "mailcomponent/SchannelStream.h"

#include <mutex>

#include <cstdio>
#include <cstring>

#include "mail/SecretText.h"
#include "mailcomponent/StatusText.h"

namespace qel::mailcomponent {

using mail::MailCode;

namespace {

// A record is at most 16 KiB of data plus framing; a peer that makes us hold
// more than this without completing one is not speaking TLS.
constexpr std::size_t kMaxPending = 1 << 20;
constexpr char kAlertRecord = 21;
constexpr std::size_t kWireBatch = 64 * 1024;

constexpr DWORD kContextFlags = ISC_REQ_SEQUENCE_DETECT | ISC_REQ_REPLAY_DETECT | ISC_REQ_CONFIDENTIALITY
                                | ISC_REQ_EXTENDED_ERROR | ISC_REQ_ALLOCATE_MEMORY | ISC_REQ_STREAM
                                | ISC_REQ_MANUAL_CRED_VALIDATION;

// The process's credentials handle and the table that made it. Acquiring
// happens under the lock: it is a local call, done once.
// Never destroyed: freeing a handle is no work for DllMain, and a DLL that
// COM asked first has let go of it already (releaseSharedCredentials).
std::mutex sharedLock;
std::shared_ptr<CredentialsHandle>& sharedCredentials = *new std::shared_ptr<CredentialsHandle>;
const SecurityFunctionTableW* sharedTable = nullptr;

std::string narrow(const wchar_t* text)
{
    std::string out;
    for (; text && *text; ++text)
        out += *text < 0x80 && *text >= 0x20 ? static_cast<char>(*text) : '?';
    return out;
}

std::string certificateName(PCCERT_CONTEXT certificate, DWORD flags)
{
    wchar_t name[256] = {};
    CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, flags, nullptr, name, 256);
    return narrow(name);
}

std::string protocolName(DWORD protocol)
{
    if (protocol & SP_PROT_TLS1_3_CLIENT)
        return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2_CLIENT)
        return "TLS 1.2";
    return "protocol " + statusText(protocol);
}

} // namespace

void SchannelStream::releaseSharedCredentials()
{
    std::shared_ptr<CredentialsHandle> released;
    const std::lock_guard<std::mutex> guard(sharedLock);
    released.swap(sharedCredentials);
}

SchannelStream::SchannelStream(ByteChannel& channel, const SecurityFunctionTableW& sspi, CertificateCheck checkCertificate,
                               bool shared)
    : channel_(channel), sspi_(sspi), checkCertificate_(checkCertificate), shared_(shared),
      context_(SecurityContextTraits{{&sspi}})
{
}

SchannelStream::~SchannelStream()
{
    mail::wipe(record_.data(), record_.size());
}

MailCode SchannelStream::fail(MailCode code, std::string reason)
{
    failure_ = std::move(reason);
    return code;
}

MailCode SchannelStream::acquireCredentials()
{
    std::unique_lock<std::mutex> guard(sharedLock, std::defer_lock);
    if (shared_) {
        guard.lock();
        if (sharedCredentials && sharedTable == &sspi_) {
            credentials_ = sharedCredentials;
            return mail::Ok;
        }
    }
    // TLS 1.2 and later. SCH_CREDENTIALS is what newer Windows wants (and
    // needs for TLS 1.3); systems that do not know it (Wine 8 among them,
    // reportedly) take SCHANNEL_CRED, limited to the same protocols. No
    // client certificate is ever offered (SCH_CRED_NO_DEFAULT_CREDS).
    constexpr DWORD flags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS | SCH_USE_STRONG_CRYPTO;
    TLS_PARAMETERS parameters{};
    parameters.grbitDisabledProtocols = static_cast<DWORD>(~(SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT));
    SCH_CREDENTIALS modern{};
    modern.dwVersion = SCH_CREDENTIALS_VERSION;
    modern.dwFlags = flags;
    modern.cTlsParameters = 1;
    modern.pTlsParameters = &parameters;
    TimeStamp expiry;
    CredHandle handle = CredentialsTraits::invalid();
    SECURITY_STATUS status = sspi_.AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND,
                                                             nullptr, &modern, nullptr, nullptr, &handle, &expiry);
    if (status != SEC_E_OK) {
        SCHANNEL_CRED older{};
        older.dwVersion = SCHANNEL_CRED_VERSION;
        older.dwFlags = flags;
        older.grbitEnabledProtocols = SP_PROT_TLS1_2_CLIENT;
        status = sspi_.AcquireCredentialsHandleW(nullptr, const_cast<wchar_t*>(UNISP_NAME_W), SECPKG_CRED_OUTBOUND, nullptr,
                                                 &older, nullptr, nullptr, &handle, &expiry);
    }
    if (status != SEC_E_OK)
        return fail(mail::CannotConnect, "TLS is not available on this system (" + statusText(status) + ")");
    auto owned = std::make_shared<CredentialsHandle>(CredentialsTraits{{&sspi_}});
    owned->reset(handle);
    credentials_ = owned;
    if (shared_) {
        sharedCredentials = owned;
        sharedTable = &sspi_;
    }
    return mail::Ok;
}

MailCode SchannelStream::sendToken(const SecBuffer& token, mail::Deadline deadline)
{
    if (token.cbBuffer == 0 || !token.pvBuffer)
        return mail::Ok;
    return channel_.sendRaw(std::string_view(static_cast<const char*>(token.pvBuffer), token.cbBuffer), deadline);
}

MailCode SchannelStream::handshake(const std::wstring& host, mail::Deadline deadline)
{
    host_ = host;
    if (const MailCode status = acquireCredentials(); status != mail::Ok)
        return status;
    if (const MailCode status = negotiate(deadline, mail::CannotConnect); status != mail::Ok)
        return status;
    return verifySession(deadline);
}

MailCode SchannelStream::negotiate(mail::Deadline deadline, MailCode late)
{
    // Without input yet, the first call makes the ClientHello.
    bool needInput = context_.valid() && encrypted_.empty();
    bool certificateAsked = false;
    for (;;) {
        // Checked on every turn: a server can keep a handshake going with
        // messages that each need another without ever finishing it.
        if (deadline.passed())
            return fail(late, "the TLS handshake did not complete in time");
        if (needInput) {
            if (encrypted_.size() > kMaxPending)
                return fail(mail::CannotConnect, "the TLS handshake did not complete: the server sent too much");
            const MailCode status = channel_.receiveRaw(encrypted_, deadline);
            if (status == mail::ConnectionDropped)
                return fail(status, "the server closed the connection during the TLS handshake");
            if (status == mail::NoReplyInTime)
                return fail(late, "no answer from the server during the TLS handshake");
            if (status != mail::Ok)
                return fail(status, "no answer from the server during the TLS handshake");
        }
        SecBuffer in[2] = {{static_cast<unsigned long>(encrypted_.size()), SECBUFFER_TOKEN, encrypted_.data()},
                           {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        ULONG attributes = 0;
        const bool first = !context_.valid();
        CtxtHandle created = SecurityContextTraits::invalid();
        const SECURITY_STATUS status = sspi_.InitializeSecurityContextW(
            credentials_->pointer(), context_.pointer(), const_cast<wchar_t*>(host_.c_str()), kContextFlags, 0, 0,
            first ? nullptr : &inDesc, 0, first ? &created : nullptr, &outDesc, &attributes, nullptr);
        const ContextBuffer token(out.pvBuffer, ContextBufferTraits{&sspi_});
        if (first && SecurityContextTraits::isValid(created))
            context_.reset(created); // whatever the call made is ours to delete, on failure too
        if (status == SEC_E_INCOMPLETE_MESSAGE) {
            needInput = true;
            continue;
        }
        if (status == SEC_I_INCOMPLETE_CREDENTIALS) {
            // The server asked for a client certificate. As Microsoft's client
            // loop does: call again with the same input, still without one
            // (the credentials hold none); the server decides whether it can
            // do without. Asked twice in a row, it cannot.
            if (certificateAsked)
                return fail(mail::CannotConnect, "the server insists on a client certificate");
            certificateAsked = true;
            needInput = false;
            continue;
        }
        certificateAsked = false;
        // The token goes out on success and on failure alike: on failure it is the alert.
        if (const MailCode sent = sendToken(out, deadline); sent != mail::Ok && (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED))
            return fail(sent == mail::NoReplyInTime ? late : sent, "the TLS handshake could not be sent to the server");
        if (!first) {
            if (in[1].BufferType == SECBUFFER_EXTRA && in[1].cbBuffer > 0)
                encrypted_.erase(0, encrypted_.size() - in[1].cbBuffer);
            else
                encrypted_.clear();
        }
        if (status == SEC_E_OK)
            return mail::Ok;
        if (status == SEC_I_CONTINUE_NEEDED) {
            needInput = encrypted_.empty();
            continue;
        }
        return fail(mail::CannotConnect, "the TLS handshake failed (" + statusText(status) + ")");
    }
}

MailCode SchannelStream::verifySession(mail::Deadline deadline)
{
    established_ = false;
    // Wine 8 takes SCH_CREDENTIALS but not its protocol limits (it was
    // seen to agree on TLS 1.1), so what was agreed is checked here.
    SecPkgContext_ConnectionInfo connection{};
    if (sspi_.QueryContextAttributesW(context_.pointer(), SECPKG_ATTR_CONNECTION_INFO, &connection) != SEC_E_OK
        || (connection.dwProtocol & (SP_PROT_TLS1_2_CLIENT | SP_PROT_TLS1_3_CLIENT)) == 0)
        return fail(mail::CannotConnect, "the server does not speak TLS 1.2 or later (protocol "
                                             + statusText(connection.dwProtocol) + ")");
    PCCERT_CONTEXT remote = nullptr;
    if (sspi_.QueryContextAttributesW(context_.pointer(), SECPKG_ATTR_REMOTE_CERT_CONTEXT, &remote) != SEC_E_OK)
        return fail(mail::CannotConnect, "the server sent no certificate");
    const CertificateContext certificate(remote);
    describeSession(connection, certificate.get());
    std::string reason;
    // Which certificate was refused tells a TLS-inspecting proxy from a server's own mistake.
    if (!checkCertificate_(certificate.get(), host_, deadline, reason))
        return fail(mail::CannotConnect, reason + " (" + summary_ + ")");
    if (const SECURITY_STATUS status = sspi_.QueryContextAttributesW(context_.pointer(), SECPKG_ATTR_STREAM_SIZES, &sizes_);
        status != SEC_E_OK || sizes_.cbMaximumMessage == 0)
        return fail(mail::CannotConnect, "the TLS session gave no record sizes (" + statusText(status) + ")");
    mail::wipe(record_.data(), record_.size());
    record_.assign(sizes_.cbHeader + sizes_.cbMaximumMessage + sizes_.cbTrailer, '\0');
    established_ = true;
    return mail::Ok;
}

void SchannelStream::describeSession(const SecPkgContext_ConnectionInfo& connection, PCCERT_CONTEXT certificate)
{
    summary_ = protocolName(connection.dwProtocol);
    SecPkgContext_CipherInfo cipher{};
    cipher.dwVersion = SECPKGCONTEXT_CIPHERINFO_V1;
    if (sspi_.QueryContextAttributesW(context_.pointer(), SECPKG_ATTR_CIPHER_INFO, &cipher) == SEC_E_OK && cipher.szCipherSuite[0])
        summary_ += ", " + narrow(cipher.szCipherSuite);
    else // the algorithm identifiers, where the provider names no suite
        summary_ += ", cipher " + statusText(connection.aiCipher) + " (" + std::to_string(connection.dwCipherStrength)
                    + " bits), hash " + statusText(connection.aiHash) + ", exchange " + statusText(connection.aiExch);
    if (certificate) {
        SYSTEMTIME until{};
        FileTimeToSystemTime(&certificate->pCertInfo->NotAfter, &until);
        char date[32];
        std::snprintf(date, sizeof date, "%04u-%02u-%02u %02u:%02u UTC", until.wYear, until.wMonth, until.wDay, until.wHour,
                      until.wMinute);
        summary_ += "; certificate of \"" + certificateName(certificate, 0) + "\" issued by \""
                    + certificateName(certificate, CERT_NAME_ISSUER_FLAG) + "\", valid until " + date;
    }
    summary_ += ", checked for host " + narrow(host_.c_str());
}

MailCode SchannelStream::send(std::string_view bytes, mail::Deadline deadline)
{
    if (broken_ != mail::Ok)
        return broken_;
    // Records go out several at a time: one wait for the socket per record
    // would cost more than the encryption.
    wire_.clear();
    while (!bytes.empty()) {
        const std::size_t piece = std::min<std::size_t>(bytes.size(), sizes_.cbMaximumMessage);
        char* header = record_.data();
        std::memcpy(header + sizes_.cbHeader, bytes.data(), piece);
        SecBuffer buffers[4] = {{sizes_.cbHeader, SECBUFFER_STREAM_HEADER, header},
                                {static_cast<unsigned long>(piece), SECBUFFER_DATA, header + sizes_.cbHeader},
                                {sizes_.cbTrailer, SECBUFFER_STREAM_TRAILER, header + sizes_.cbHeader + piece},
                                {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        const SECURITY_STATUS status = sspi_.EncryptMessage(context_.pointer(), 0, &desc, 0);
        if (status != SEC_E_OK) {
            mail::wipe(header + sizes_.cbHeader, piece);
            return fail(mail::ConnectionDropped, "TLS could not encrypt (" + statusText(status) + ")");
        }
        // The trailer may be shorter than its maximum, and it follows the data directly.
        wire_.append(header, buffers[0].cbBuffer + buffers[1].cbBuffer + buffers[2].cbBuffer);
        bytes.remove_prefix(piece);
        if (wire_.size() >= kWireBatch || bytes.empty()) {
            if (const MailCode sent = channel_.sendRaw(wire_, deadline); sent != mail::Ok)
                return sent;
            wire_.clear();
        }
    }
    return mail::Ok;
}

MailCode SchannelStream::receive(std::string& into, mail::Deadline deadline)
{
    if (broken_ != mail::Ok)
        return broken_;
    int withoutData = 0;
    for (;;) {
        if (!encrypted_.empty()) {
            SecBuffer buffers[4] = {{static_cast<unsigned long>(encrypted_.size()), SECBUFFER_DATA, encrypted_.data()},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr},
                                    {0, SECBUFFER_EMPTY, nullptr}};
            SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
            // TLS 1.2 alerts travel under their own record type, in clear.
            const bool alert = encrypted_[0] == kAlertRecord;
            const SECURITY_STATUS status = sspi_.DecryptMessage(context_.pointer(), &desc, 0, nullptr);
            if (status == SEC_E_OK || status == SEC_I_RENEGOTIATE || status == SEC_I_CONTEXT_EXPIRED) {
                std::size_t appended = 0;
                std::string extra;
                for (const SecBuffer& b : buffers) {
                    if (b.BufferType == SECBUFFER_DATA && b.cbBuffer > 0) {
                        into.append(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                        appended += b.cbBuffer;
                    } else if (b.BufferType == SECBUFFER_EXTRA && b.cbBuffer > 0) {
                        extra.assign(static_cast<const char*>(b.pvBuffer), b.cbBuffer);
                    }
                }
                encrypted_.swap(extra);
                if (status == SEC_I_CONTEXT_EXPIRED)
                    return fail(mail::ConnectionDropped, "the server closed the TLS session");
                if (status == SEC_I_RENEGOTIATE) {
                    // The extra bytes are the handshake message; Windows uses this for TLS 1.3 tickets.
                    MailCode renegotiated = negotiate(deadline, mail::NoReplyInTime);
                    if (renegotiated == mail::Ok)
                        renegotiated = verifySession(deadline);
                    if (renegotiated != mail::Ok) {
                        // Nothing more goes through a session that failed its checks.
                        broken_ = renegotiated == mail::NoReplyInTime ? mail::ConnectionDropped : renegotiated;
                        established_ = false;
                        return renegotiated;
                    }
                }
                if (appended > 0)
                    return mail::Ok;
                // Wine reports close_notify as SEC_E_OK without data, and keeps
                // the connection open while it waits for ours.
                if (alert)
                    return fail(mail::ConnectionDropped, "the server closed the TLS session");
                // A record without data, such as a session ticket or a key
                // update: harmless a few at a time, a way to hold us without end.
                if (++withoutData > kMaxRecordsWithoutData)
                    return fail(mail::UnexpectedReply, "the server sent TLS records without data and nothing else");
                if (deadline.passed())
                    return fail(mail::NoReplyInTime, "the server sent TLS records without data until the time was up");
                continue;
            }
            if (status != SEC_E_INCOMPLETE_MESSAGE)
                return fail(mail::ConnectionDropped, "a TLS record from the server was refused (" + statusText(status) + ")");
            if (encrypted_.size() > kMaxPending)
                return fail(mail::ConnectionDropped, "a TLS record from the server is too long");
        }
        if (deadline.passed())
            return mail::NoReplyInTime;
        const MailCode status = channel_.receiveRaw(encrypted_, deadline);
        if (status != mail::Ok)
            return status;
    }
}

void SchannelStream::shutdown(mail::Deadline deadline)
{
    if (!established_)
        return;
    established_ = false;
    DWORD type = SCHANNEL_SHUTDOWN;
    SecBuffer token{sizeof type, SECBUFFER_TOKEN, &type};
    SecBufferDesc desc{SECBUFFER_VERSION, 1, &token};
    if (sspi_.ApplyControlToken(context_.pointer(), &desc) != SEC_E_OK)
        return; // some Wine versions lack it; the mail is already accepted
    SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = sspi_.InitializeSecurityContextW(credentials_->pointer(), context_.pointer(),
                                                                    const_cast<wchar_t*>(host_.c_str()), kContextFlags, 0, 0,
                                                                    nullptr, 0, nullptr, &outDesc, &attributes, nullptr);
    const ContextBuffer owned(out.pvBuffer, ContextBufferTraits{&sspi_});
    if (status == SEC_E_OK || status == SEC_I_CONTINUE_NEEDED)
        sendToken(out, deadline);
}

} // namespace qel::mailcomponent
