#pragma once
// The two texts a Renderer composes for the gateway mailbox: the field block
// (one "SMS-" field per line, encrypted by the caller) and the outer text
// around it. Both are message formats the gateway parses: every field name,
// marker and line break here is fixed.
#include <string>
#include <string_view>
#include <vector>

namespace qel::message {

struct GatewayRecipient {
    std::u16string phone;
    std::u16string name;
};

// Property values as their texts.
struct GatewayMessage {
    std::u16string account;
    std::u16string password;
    std::u16string version; // "major.minor.revision" of the component
    bool hasCampaign = false;
    std::u16string campaign;
    bool isPictureMessage = false;
    std::vector<GatewayRecipient> recipients;
    std::u16string body;
    std::u16string replyAddress;
};

inline constexpr std::u16string_view kStartMarker = u"=====Start Qel encryption======";
inline constexpr std::u16string_view kEndMarker = u"=====End Qel encryption======";

// Every line ends in CR LF, the last one included.
std::u16string composeGatewayBody(const GatewayMessage& message);

// Recipients and message in plain, then the encrypted block between the
// markers; no CR LF after the end marker.
std::u16string composeOuterText(const GatewayMessage& message, std::u16string_view encryptedBody);

} // namespace qel::message
