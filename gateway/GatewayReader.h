#pragma once
// The gateway's side of the message: reads a mail body that a Renderer
// composed (the "To: " and "Message: " head, the start and end markers, the
// hex block between them), decrypts the block and returns its fields in order.
#include <stdexcept>
#include <string>
#include <vector>

#include "textcrypt/AnsiCodePage.h"

namespace qel::gateway {

class GatewayFormatError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct GatewayField {
    std::u16string name; // "SMS-AccountId" and so on, without ":="
    std::u16string value;
};

struct GatewayMail {
    std::u16string recipientsLine; // after "To: "
    std::u16string messageLine;    // after "Message: "
    std::vector<GatewayField> fields;
};

// GatewayFormatError, saying what is wrong, for anything else.
GatewayMail readGatewayMail(std::u16string_view body, const textcrypt::AnsiCodePage& codePage);

} // namespace qel::gateway
