// Winsock must come before <windows.h>.
#include "mailcomponent/UniqueHandle.h"

#include "mailcomponent/SmtpMail.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "automation/ErrorReporting.h"
#include "automation/VariantTerms.h"
#include "common/Utf8.h"
#include "mail/Credentials.h"
#include "mail/MessageStream.h"
#include "mail/MimeWriter.h"
#include "mail/SmtpSession.h"
#include "mailcomponent/AccountChoice.h"
#include "mailcomponent/FileByteSource.h"
#include "mailcomponent/MessageStamps.h"
#include "mailcomponent/MachineDomain.h"
#include "mailcomponent/SendTrace.h"
#include "mailcomponent/SessionPool.h"
#include "mailcomponent/SecretUtf8.h"

namespace qel::mailcomponent {

namespace {

using automation::guarded;
using automation::isMissing;
using automation::Variant;

HRESULT longInto(int number, VARIANT* value)
{
    if (!value)
        return E_POINTER;
    VariantInit(value);
    value->vt = VT_I4;
    value->lVal = number;
    return S_OK;
}

void answer(mail::MailCode code, VARIANT* result)
{
    Variant::ofInteger(static_cast<std::int16_t>(code)).release(result);
}

std::string ascii(const std::u16string& text)
{
    return std::string(text.begin(), text.end()); // only after validate(): addresses are ASCII
}

} // namespace

HRESULT SmtpMail::store(Variant& field, const VARIANT& value)
{
    return guarded(kSource, IID__SmtpMail, [&] { field = Variant::copyOf(value); });
}

HRESULT SmtpMail::Reset()
{
    for (Variant* field : {&bodyFormat_, &mailServer_, &subject_, &bodyText_, &from_, &fromAddr_, &domain_, &userName_})
        *field = Variant();
    password_.clear();
    accessToken_.clear();
    errorDetail_.clear();
    timeoutSeconds_ = kTimeoutSeconds;
    finalReplySeconds_ = kFinalReplySeconds;
    sessionIdleSeconds_ = kSessionIdleSeconds;
    pipelining_ = true;
    recipients_.clear();
    attachments_.clear();
    return S_OK;
}

HRESULT SmtpMail::putSeconds(int& field, VARIANT value, int most, int least)
{
    return guarded(kSource, IID__SmtpMail, [&] {
        Variant seconds;
        if (FAILED(VariantChangeType(seconds.receive(), &value, 0, VT_I4)) || seconds.get().lVal < least
            || seconds.get().lVal > most)
            raise(ErrorNumber::InvalidArgument);
        field = seconds.get().lVal;
    });
}

HRESULT SmtpMail::get_Timeout(VARIANT* value)
{
    return longInto(timeoutSeconds_, value);
}

HRESULT SmtpMail::put_Timeout(VARIANT value)
{
    return putSeconds(timeoutSeconds_, value, 3600);
}

HRESULT SmtpMail::get_FinalReplyTimeout(VARIANT* value)
{
    return longInto(finalReplySeconds_, value);
}

HRESULT SmtpMail::put_FinalReplyTimeout(VARIANT value)
{
    return putSeconds(finalReplySeconds_, value, 86400);
}

HRESULT SmtpMail::get_SessionIdleLimit(VARIANT* value)
{
    return longInto(sessionIdleSeconds_, value);
}

HRESULT SmtpMail::put_SessionIdleLimit(VARIANT value)
{
    return putSeconds(sessionIdleSeconds_, value, 3600, 0);
}

HRESULT SmtpMail::get_Pipelining(VARIANT* value)
{
    if (!value)
        return E_POINTER;
    VariantInit(value);
    value->vt = VT_BOOL;
    value->boolVal = pipelining_ ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT SmtpMail::put_Pipelining(VARIANT value)
{
    return guarded(kSource, IID__SmtpMail, [&] {
        Variant flag;
        if (FAILED(VariantChangeType(flag.receive(), &value, 0, VT_BOOL)))
            raise(ErrorNumber::TypeMismatch);
        pipelining_ = flag.get().boolVal != VARIANT_FALSE;
    });
}

HRESULT SmtpMail::putSecret(mail::SecretText& field, VARIANT value)
{
    return guarded(kSource, IID__SmtpMail, [&] {
        field.clear();
        const VARIANT& given = automation::innermost(value);
        if (automation::isText(given)) {
            const BSTR text = given.vt == VT_BSTR ? given.bstrVal : given.pbstrVal ? *given.pbstrVal : nullptr;
            return appendUtf8(text, SysStringLen(text), field);
        }
        if (given.vt == VT_EMPTY || given.vt == VT_NULL)
            return;
        Variant converted; // a number, say: its text is wiped with it
        if (FAILED(VariantChangeType(converted.receive(), const_cast<VARIANT*>(&given), 0, VT_BSTR)))
            raise(ErrorNumber::TypeMismatch);
        appendUtf8(converted.get().bstrVal, SysStringLen(converted.get().bstrVal), field);
        mail::wipe(converted.get().bstrVal, SysStringByteLen(converted.get().bstrVal));
    });
}

HRESULT SmtpMail::get_ErrorDetail(VARIANT* value)
{
    if (!value)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] { Variant::ofText(utf16FromUtf8(errorDetail_)).release(value); });
}

HRESULT SmtpMail::AddRecipient(VARIANT address, VARIANT name, VARIANT, VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] {
        recipients_.push_back({automation::textOf(address), isMissing(name) ? std::u16string() : automation::textOf(name)});
        answer(mail::Ok, result);
    });
}

HRESULT SmtpMail::AddAttachment(VARIANT path, VARIANT, VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__SmtpMail, [&] {
        const std::u16string file = automation::textOf(path);
        std::shared_ptr<FileByteSource> content;
        const mail::MailCode code = FileByteSource::open(file, content);
        if (code == mail::Ok)
            attachments_.push_back({file.substr(file.find_last_of(u"\\/") + 1), std::move(content)});
        answer(code, result);
    });
}

HRESULT SmtpMail::Send(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    const std::unique_ptr<SendTrace> trace = SendTrace::fromSetting();
    if (!trace)
        return sendOnce(result);
    observer_ = trace.get();
    traceServer_ = "MailServer not understood";
    traceAccount_ = "none chosen";
    const HRESULT hr = sendOnce(result);
    observer_ = nullptr;
    trace->finish(SUCCEEDED(hr) && result->vt == VT_I2 ? result->iVal : hr, errorDetail_, traceServer_, traceAccount_);
    return hr;
}

HRESULT SmtpMail::sendOnce(VARIANT* result)
{
    return guarded(kSource, IID__SmtpMail, [&] {
        mail::OutgoingMail message;
        message.from = {automation::textOf(fromAddr_.get()), automation::textOf(from_.get())};
        message.to = recipients_;
        message.subject = automation::textOf(subject_.get());
        message.body = automation::textOf(bodyText_.get());
        message.attachments = attachments_;

        errorDetail_.clear();
        mail::ServerAddress server;
        mail::MailCode code = mail::parseServer(automation::textOf(mailServer_.get()), server);
        if (observer_ && code == mail::Ok) {
            static const char* const security[] = {"plain", "STARTTLS", "implicit TLS"};
            traceServer_ = server.host + ":" + server.port + " " + security[static_cast<int>(server.security)];
        }
        if (code == mail::Ok)
            code = mail::validate(message);
        if (code != mail::Ok)
            return answer(code, result);

        mail::DeliveryOptions options;
        options.stepTimeout = std::chrono::seconds(timeoutSeconds_);
        options.finalReplyTimeout = std::chrono::seconds(finalReplySeconds_);
        options.observer = observer_;
        const std::u16string domain = automation::textOf(domain_.get());
        if (!domain.empty()) {
            options.domain = ascii(domain);
            if (std::any_of(domain.begin(), domain.end(), [](char16_t c) { return c > 0x7E; }) || !mail::isEhloDomain(options.domain))
                return answer(mail::ConversationRefused, result);
        } else {
            options.domain = machineDomain();
        }

        const MessageStamps stamps = stampsForNow();
        mail::MessageStream data(message, stamps.date, stamps.messageId, stamps.boundary);
        mail::Envelope envelope{ascii(message.from.address), {}};
        for (const mail::MailAddress& recipient : message.to)
            envelope.to.push_back(ascii(recipient.address));
        ChosenAccount account;
        const mail::MailCode chosen = chooseAccount({automation::textOf(userName_.get()), &password_, &accessToken_}, server,
                                                    platform_, account, errorDetail_);
        if (observer_)
            traceAccount_ = account.description();
        if (chosen != mail::Ok)
            return answer(chosen, result);
        options.credentials = &account.credentials;
        options.tokens = account.tokens ? &*account.tokens : nullptr;
        options.detail = &errorDetail_;
        options.pipelining = pipelining_;
        answer(deliverKept(server, envelope, data, options, std::string(account.credentials.user.view()), account.identity.view()),
               result);
        if (account.tokens && !account.tokens->note().empty())
            errorDetail_ = account.tokens->note() + (errorDetail_.empty() ? "" : "; " + errorDetail_);
    });
}

// On a session kept from an earlier Send when there is one. A mail that the
// server cannot have taken goes again, once, on a new connection in the
// same place (the dialogue decides when).
mail::MailCode SmtpMail::deliverKept(const mail::ServerAddress& server, const mail::Envelope& envelope, mail::MessageData& data,
                                     mail::DeliveryOptions& options, const std::string& user, std::string_view identity)
{
    SessionPool& pool = SessionPool::process();
    const std::string key = sessionIdleSeconds_ > 0 ? sessionKey(server, options.domain, user, options.credentials->accessToken, identity)
                                                    : std::string();
    std::unique_ptr<KeptSession> session = key.empty() ? nullptr : pool.take(key);
    if (!session)
        session.reset(new KeptSession{key, platform_.newConnection(), {}, {}});
    struct Reconnect final : mail::TransportSource {
        Reconnect(KeptSession& session, SendPlatform& platform) : session(session), platform(platform) {}
        mail::SmtpTransport& fresh() override
        {
            session.replace(platform.newConnection());
            return *session.transport;
        }
        KeptSession& session;
        SendPlatform& platform;
    } reconnect(*session, platform_);
    options.session = key.empty() ? nullptr : &session->state;
    options.reconnect = &reconnect;
    const mail::MailCode code = mail::deliver(*session->transport, server, envelope, data, options);
    if (session->state.open)
        pool.put(std::move(session), std::chrono::seconds(sessionIdleSeconds_));
    return code;
}

} // namespace qel::mailcomponent
