#include "message/GatewayText.h"

#include <algorithm>

namespace qel::message {

namespace {

constexpr std::u16string_view kLineEnd = u"\r\n";

void appendField(std::u16string& out, std::u16string_view name, std::u16string_view value)
{
    out.append(name).append(value).append(kLineEnd);
}

// Characters of all recipients' phones and names: texts grow with the
// recipient count, and one allocation keeps composing them linear.
std::size_t recipientCharacters(const GatewayMessage& message)
{
    std::size_t total = 0;
    for (const GatewayRecipient& recipient : message.recipients)
        total += recipient.phone.size() + recipient.name.size();
    return total;
}

} // namespace

std::u16string composeGatewayBody(const GatewayMessage& message)
{
    std::u16string body;
    constexpr std::size_t fixedLines = 200;   // field names, fixed lines and line ends
    constexpr std::size_t perRecipient = 24;  // "SMS-Recp:=", "SMS-Recn:=" and two line ends
    body.reserve(fixedLines + message.account.size() + message.password.size() + message.version.size()
                 + message.campaign.size() + message.body.size() + message.replyAddress.size()
                 + recipientCharacters(message) + perRecipient * message.recipients.size());
    appendField(body, u"SMS-AccountId:=", message.account);
    appendField(body, u"SMS-SecurityKey:=", message.password);
    appendField(body, u"SMS-Version:=", message.version);
    appendField(body, u"SMS-BPID:=", u"0");
    if (message.hasCampaign) {
        std::u16string campaign = message.campaign;
        std::replace(campaign.begin(), campaign.end(), u'\'', u'`');
        appendField(body, u"SMS-Campaign:=", campaign);
    }
    if (message.isPictureMessage)
        appendField(body, u"SMS-IsMMS:=", u"1");
    for (const GatewayRecipient& recipient : message.recipients) {
        appendField(body, u"SMS-Recp:=", recipient.phone);
        appendField(body, u"SMS-Recn:=", recipient.name);
    }
    appendField(body, u"SMS-Body:=", message.body);
    appendField(body, u"SMS-Name:=", message.replyAddress);
    return body;
}

std::u16string composeOuterText(const GatewayMessage& message, std::u16string_view encryptedBody)
{
    std::u16string text;
    constexpr std::size_t fixedParts = 100; // "To: ", "Message: ", markers and line ends
    constexpr std::size_t perRecipient = 5; // " (", "), "
    text.reserve(fixedParts + recipientCharacters(message) + perRecipient * message.recipients.size()
                 + message.body.size() + encryptedBody.size());
    text = u"To: ";
    for (const GatewayRecipient& recipient : message.recipients)
        text.append(recipient.phone).append(u" (").append(recipient.name).append(u"), ");
    text.append(kLineEnd);
    text.append(u"Message: ").append(message.body).append(kLineEnd);
    text.append(kStartMarker).append(kLineEnd);
    text.append(encryptedBody).append(kLineEnd);
    text.append(kEndMarker);
    return text;
}

} // namespace qel::message
