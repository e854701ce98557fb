#pragma once
// The project's own mail component, registered as "EasyMail.SMTP": it
// collects one message through properties and methods and sends it with
// SMTP, over TLS and with an account where MailServer asks for it. AddAttachment and Send answer 0 on success and otherwise the
// code of what went wrong (MailCodes).
#include <vector>

#include "QelSmtp.h"
#include "automation/DispatchObject.h"
#include "automation/Variant.h"
#include "mail/OutgoingMail.h"
#include "mail/OAuthAccount.h"
#include "mail/OAuthTokens.h"
#include "mail/SecretText.h"
#include "mail/SmtpSession.h"
#include "mailcomponent/SendPlatform.h"

namespace qel::mailcomponent {

class SmtpMail final : public automation::DispatchObject<_SmtpMail, &IID__SmtpMail> {
public:
    static constexpr const wchar_t* kSource = L"EasyMail.SMTP";

    explicit SmtpMail(SendPlatform& platform = SendPlatform::windows()) : platform_(platform) {}

    STDMETHODIMP Reset() override;
#define QEL_MAIL_PROPERTY(Name, field)                                                                        \
    STDMETHODIMP get_##Name(VARIANT* value) override { return value ? field.copyTo(value) : E_POINTER; }       \
    STDMETHODIMP put_##Name(VARIANT value) override { return store(field, value); }
    QEL_MAIL_PROPERTY(BodyFormat, bodyFormat_)
    QEL_MAIL_PROPERTY(MailServer, mailServer_)
    QEL_MAIL_PROPERTY(Subject, subject_)
    QEL_MAIL_PROPERTY(BodyText, bodyText_)
    QEL_MAIL_PROPERTY(From, from_)
    QEL_MAIL_PROPERTY(FromAddr, fromAddr_)
    QEL_MAIL_PROPERTY(Domain, domain_)
    QEL_MAIL_PROPERTY(UserName, userName_)
#undef QEL_MAIL_PROPERTY
    STDMETHODIMP get_Timeout(VARIANT* value) override;
    STDMETHODIMP put_Timeout(VARIANT value) override;
    STDMETHODIMP get_FinalReplyTimeout(VARIANT* value) override;
    STDMETHODIMP put_FinalReplyTimeout(VARIANT value) override;
    STDMETHODIMP get_SessionIdleLimit(VARIANT* value) override;
    STDMETHODIMP put_SessionIdleLimit(VARIANT value) override;
    STDMETHODIMP get_Pipelining(VARIANT* value) override;
    STDMETHODIMP put_Pipelining(VARIANT value) override;
    STDMETHODIMP put_Password(VARIANT value) override { return putSecret(password_, value); }
    STDMETHODIMP put_AccessToken(VARIANT value) override { return putSecret(accessToken_, value); }
    STDMETHODIMP get_ErrorDetail(VARIANT* value) override;
    STDMETHODIMP AddRecipient(VARIANT address, VARIANT name, VARIANT type, VARIANT* result) override;
    STDMETHODIMP AddAttachment(VARIANT path, VARIANT options, VARIANT* result) override;
    STDMETHODIMP Send(VARIANT* result) override;

private:
    HRESULT store(automation::Variant& field, const VARIANT& value);
    HRESULT putSeconds(int& field, VARIANT value, int most, int least = 1);
    HRESULT putSecret(mail::SecretText& field, VARIANT value);
    HRESULT sendOnce(VARIANT* result);
    mail::MailCode deliverKept(const mail::ServerAddress& server, const mail::Envelope& envelope, mail::MessageData& data,
                               mail::DeliveryOptions& options, const std::string& user, std::string_view identity);

    static constexpr int kTimeoutSeconds = 30;
    static constexpr int kFinalReplySeconds = 600;
    // Below the 5 minutes a server waits (RFC 5321 4.5.3.2.7), so it is
    // mostly this end that ends an idle session, with QUIT.
    static constexpr int kSessionIdleSeconds = 30;

    SendPlatform& platform_;
    automation::Variant bodyFormat_, mailServer_, subject_, bodyText_, from_, fromAddr_, domain_, userName_;
    mail::SecretText password_, accessToken_; // UTF-8
    std::string errorDetail_;   // UTF-8
    int timeoutSeconds_ = kTimeoutSeconds;
    int finalReplySeconds_ = kFinalReplySeconds;
    int sessionIdleSeconds_ = kSessionIdleSeconds;
    bool pipelining_ = true;
    std::vector<mail::MailAddress> recipients_;
    std::vector<mail::Attachment> attachments_; // each holds its file open
    // For the duration of a traced Send: its observer, and which account it chose.
    mail::DeliveryObserver* observer_ = nullptr;
    std::string traceServer_, traceAccount_;
};

} // namespace qel::mailcomponent
