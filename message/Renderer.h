#pragma once
// QelMessage.Renderer: a message for the e-mail gateway, held as properties,
// with its recipients, the composition of the gateway text, and the string
// transforms. Content failures of Translate are results (1 and ErrorText);
// everything else is a raised error.
#include <array>
#include <string>
#include <utility>
#include <vector>

#include "QelMessage.h"
#include "automation/DispatchObject.h"
#include "automation/Variant.h"

namespace qel::message {

class Renderer final : public automation::DispatchObject<_Renderer, &IID__Renderer> {
public:
    static constexpr const wchar_t* kSource = L"QelMessage";

    Renderer();

#define QEL_RENDERER_PROPERTY(Name)                                                                        \
    STDMETHODIMP get_##Name(VARIANT* value) override { return getProperty(Property::Name, value); }        \
    STDMETHODIMP put_##Name(VARIANT value) override { return putProperty(Property::Name, value); }         \
    STDMETHODIMP putref_##Name(VARIANT value) override { return putProperty(Property::Name, value); }
    QEL_RENDERER_PROPERTY(MailServer)
    QEL_RENDERER_PROPERTY(MailAddress)
    QEL_RENDERER_PROPERTY(ReplyAddress)
    QEL_RENDERER_PROPERTY(ReplyName)
    QEL_RENDERER_PROPERTY(ErrorText)
    QEL_RENDERER_PROPERTY(Message)
    QEL_RENDERER_PROPERTY(Account)
    QEL_RENDERER_PROPERTY(Password)
    QEL_RENDERER_PROPERTY(TranslatedMessage)
    QEL_RENDERER_PROPERTY(PictureFile)
    QEL_RENDERER_PROPERTY(Campaign)
#undef QEL_RENDERER_PROPERTY

    STDMETHODIMP GetINetStatus(VARIANT* result) override;
    STDMETHODIMP AddRecipient(VARIANT* RecipientPhone, VARIANT* RecipientName) override;
    STDMETHODIMP Send(VARIANT* result) override;
    STDMETHODIMP Translate(VARIANT* result) override;
    STDMETHODIMP MyOldEncrypt(VARIANT* inpw, VARIANT* result) override;
    STDMETHODIMP MyDecrypt(VARIANT* inpw, VARIANT* result) override;
    STDMETHODIMP MyEncrypt(VARIANT* inpw, VARIANT* result) override;
    STDMETHODIMP MyOldDecrypt(VARIANT* inpw, VARIANT* result) override;

private:
    enum class Property {
        MailServer, MailAddress, ReplyAddress, ReplyName, ErrorText, Message,
        Account, Password, TranslatedMessage, PictureFile, Campaign, Count
    };

    HRESULT getProperty(Property property, VARIANT* value) const;
    HRESULT putProperty(Property property, const VARIANT& value);
    automation::Variant& field(Property property) { return properties_[static_cast<std::size_t>(property)]; }
    const VARIANT& value(Property property) const { return properties_[static_cast<std::size_t>(property)].get(); }

    // 0 when TranslatedMessage was composed, 1 after storing why not in ErrorText.
    std::int16_t translate();
    std::int16_t fail(std::u16string_view text);
    // 0 when the mail component sent the message, 1 after storing why not.
    std::int16_t send();

    std::array<automation::Variant, static_cast<std::size_t>(Property::Count)> properties_;
    std::vector<std::pair<automation::Variant, automation::Variant>> recipients_; // phone, name
    std::u16string version_;
};

} // namespace qel::message
