#include "message/Renderer.h"

#include "automation/ErrorReporting.h"
#include "automation/LateBoundObject.h"
#include "automation/LegacyTextVariant.h"
#include "automation/VariantTerms.h"
#include "connection/OnlineStatus.h"
#include "message/ComponentVersion.h"
#include "message/GatewayText.h"
#include "message/MailError.h"
#include "textcrypt/CurrentTransform.h"
#include "textcrypt/SystemAnsiCodePage.h"

namespace qel::message {

namespace {

using automation::guarded;
using automation::Variant;

constexpr std::size_t kMaxCampaignLength = 50;

// The ANSI code page cannot change while a process runs: read it once.
const textcrypt::AnsiCodePage& ansiCodePage()
{
    static const textcrypt::AnsiCodePage page = textcrypt::systemAnsiCodePage();
    return page;
}

bool isSet(const VARIANT& value)
{
    return !automation::isBlank(value) && !automation::isNull(value);
}

VARIANT byReference(Variant& target)
{
    VARIANT reference;
    reference.vt = VT_BYREF | VT_VARIANT;
    reference.pvarVal = const_cast<VARIANT*>(&target.get());
    return reference;
}

// A result code compared as a number; Empty counts as 0.
double numberOf(const VARIANT& code)
{
    if (code.vt == VT_EMPTY)
        return 0;
    Variant number;
    if (FAILED(VariantChangeType(number.receive(), const_cast<VARIANT*>(&code), 0, VT_R8)))
        raise(ErrorNumber::TypeMismatch);
    return number.get().dblVal;
}

using CurrentTransform = std::u16string (*)(std::u16string_view, const textcrypt::AnsiCodePage&);

// MyEncrypt and MyDecrypt: the argument's text through one direction of the
// current transform; Null has no text.
HRESULT currentTransform(VARIANT* inpw, VARIANT* result, CurrentTransform transform)
{
    if (!inpw || !result)
        return E_POINTER;
    return guarded(Renderer::kSource, IID__Renderer, [&] {
        if (automation::isNull(*inpw))
            raise(ErrorNumber::InvalidUseOfNull);
        Variant::ofText(transform(automation::textOf(*inpw), ansiCodePage())).release(result);
    });
}

} // namespace

Renderer::Renderer()
{
    for (Property p : {Property::ErrorText, Property::Message, Property::Account, Property::Password})
        field(p) = Variant::ofText(u"");
}

HRESULT Renderer::getProperty(Property property, VARIANT* result) const
{
    if (!result)
        return E_POINTER;
    return properties_[static_cast<std::size_t>(property)].copyTo(result);
}

HRESULT Renderer::putProperty(Property property, const VARIANT& value)
{
    return guarded(kSource, IID__Renderer, [&] { field(property) = Variant::copyOf(value); });
}

HRESULT Renderer::AddRecipient(VARIANT* RecipientPhone, VARIANT* RecipientName)
{
    if (!RecipientPhone || !RecipientName)
        return E_POINTER;
    return guarded(kSource, IID__Renderer, [&] {
        Variant name = Variant::copyOf(*RecipientName);
        Variant phone = Variant::copyOf(*RecipientPhone);
        recipients_.emplace_back(std::move(phone), std::move(name));
    });
}

HRESULT Renderer::Translate(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__Renderer, [&] { Variant::ofInteger(translate()).release(result); });
}

std::int16_t Renderer::fail(std::u16string_view text)
{
    field(Property::ErrorText) = Variant::ofText(text);
    return 1;
}

std::int16_t Renderer::translate()
{
    using automation::textOf;
    if (automation::isBlank(value(Property::Message)))
        return fail(u"Invalid message (Empty)");
    if (automation::isBlank(value(Property::Account)))
        return fail(u"Invalid account (Empty)");
    if (automation::isBlank(value(Property::Password)))
        return fail(u"Invalid password (Empty)");
    const auto campaignLength = automation::lengthOf(value(Property::Campaign));
    if (campaignLength && *campaignLength > kMaxCampaignLength)
        return fail(u"Campaign is too long");
    if (recipients_.empty())
        return fail(u"No recipients (Empty)");
    if (isSet(value(Property::PictureFile))) {
        const std::u16string path = textOf(value(Property::PictureFile));
        if (path.size() > 4 && path.compare(path.size() - 4, 4, u".jpg") != 0)
            return fail(u"Invalid picture format, must be .jpg");
        // Too short to be a name with the extension: dropped, not reported.
        if (path.size() <= 4)
            field(Property::PictureFile) = Variant::ofText(u"");
    }

    if (version_.empty())
        version_ = componentVersion();
    GatewayMessage message;
    message.account = textOf(value(Property::Account));
    message.password = textOf(value(Property::Password));
    message.version = version_;
    message.hasCampaign = isSet(value(Property::Campaign));
    message.campaign = textOf(value(Property::Campaign));
    message.isPictureMessage = isSet(value(Property::PictureFile));
    message.recipients.reserve(recipients_.size());
    for (const auto& [phone, name] : recipients_)
        message.recipients.push_back({textOf(phone.get()), textOf(name.get())});
    message.body = textOf(value(Property::Message));
    message.replyAddress = textOf(value(Property::ReplyAddress));

    // Through the object's own interface, as a host would call it.
    Variant body = Variant::ofText(composeGatewayBody(message));
    Variant encrypted;
    automation::check(static_cast<_Renderer*>(this)->MyEncrypt(const_cast<VARIANT*>(&body.get()), encrypted.receive()), true);
    field(Property::TranslatedMessage) = Variant::ofText(composeOuterText(message, textOf(encrypted.get())));
    return 0;
}

HRESULT Renderer::MyEncrypt(VARIANT* inpw, VARIANT* result)
{
    return currentTransform(inpw, result, textcrypt::myEncrypt);
}

HRESULT Renderer::MyDecrypt(VARIANT* inpw, VARIANT* result)
{
    return currentTransform(inpw, result, textcrypt::myDecrypt);
}

HRESULT Renderer::MyOldEncrypt(VARIANT* inpw, VARIANT* result)
{
    if (!inpw || !result)
        return E_POINTER;
    return guarded(kSource, IID__Renderer, [&] { automation::legacyEncrypt(*inpw).release(result); });
}

HRESULT Renderer::MyOldDecrypt(VARIANT* inpw, VARIANT* result)
{
    if (!inpw || !result)
        return E_POINTER;
    return guarded(kSource, IID__Renderer, [&] { automation::legacyDecrypt(*inpw).release(result); });
}

HRESULT Renderer::Send(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return guarded(kSource, IID__Renderer, [&] { Variant::ofInteger(send()).release(result); });
}

std::int16_t Renderer::send()
{
    Variant translated;
    automation::check(static_cast<_Renderer*>(this)->Translate(translated.receive()), true);
    if (translated.get().iVal != 0)
        return translated.get().iVal;

    // Every Null before any blank: a Null reply address is reported before a blank mail address.
    struct MailSettingCheck {
        Property property;
        bool (*fails)(const VARIANT&);
        std::u16string_view text;
    };
    static constexpr MailSettingCheck checks[] = {
        {Property::MailAddress, automation::isNull, u"Invalid mail address"},
        {Property::MailServer, automation::isNull, u"Invalid mail server"},
        {Property::ReplyAddress, automation::isNull, u"Invalid mail Reply Address"},
        {Property::MailAddress, automation::isBlank, u"Invalid mail address"},
        {Property::MailServer, automation::isBlank, u"Invalid mail server"},
        {Property::ReplyAddress, automation::isBlank, u"Invalid mail Reply Address"},
        {Property::ReplyName, automation::isBlank, u"Invalid mail Reply Name"},
    };
    for (const MailSettingCheck& check : checks)
        if (check.fails(value(check.property)))
            return fail(check.text);

    // Released when this returns, whatever the outcome.
    automation::LateBoundObject mail(L"EasyMail.SMTP");
    mail.call(L"Reset");
    mail.put(L"BodyFormat", Variant::ofInteger(0).get());
    mail.put(L"MailServer", value(Property::MailServer));
    mail.put(L"Subject", Variant::ofText(u"Qel Message object").get());
    mail.put(L"BodyText", value(Property::TranslatedMessage));
    // By reference, as the component expects, but to copies: it may not
    // change our properties.
    Variant recipient = Variant::copyOf(value(Property::MailAddress));
    Variant recipientName = Variant::copyOf(value(Property::MailAddress));
    mail.call(L"AddRecipient", {byReference(recipient), byReference(recipientName), Variant::ofInteger(1).get()});
    mail.put(L"From", value(Property::ReplyName));
    mail.put(L"FromAddr", value(Property::ReplyAddress));
    if (isSet(value(Property::PictureFile))) {
        Variant picture = Variant::copyOf(value(Property::PictureFile));
        const double code = numberOf(mail.call(L"AddAttachment", {byReference(picture), Variant::ofInteger(0).get()}).get());
        if (code != 0)
            return fail(std::u16string(u"Error attaching file. Check file exists : ") + std::u16string(MailErrorText(code)));
    }
    const double code = numberOf(mail.call(L"Send").get());
    if (code != 0)
        return fail(std::u16string(u"Message send error : ") + std::u16string(MailErrorText(code)));
    return 0;
}

// The connection object's errors pass through unchanged.
HRESULT Renderer::GetINetStatus(VARIANT* result)
{
    if (!result)
        return E_POINTER;
    return connection::queryOnlineStatus(result);
}

} // namespace qel::message
