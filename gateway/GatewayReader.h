#pragma once
// The gateway's side of the message: reads a mail body that a Renderer
// composed (the "To: " and "Message: " head, the start and end markers, the
// hex block between them), decrypts the block and returns its fields in order.
// Values may hold line breaks, so the block is read by the order in which a
// Renderer writes its fields, with the head choosing between readings.
// The body comes from the internet: what can be read but breaks the rules of
// a Renderer's body (field order, duplicates, unknown names, a head that
// disagrees with the block) is returned as problems, not hidden; so is a
// block that reads in more than one way that the head cannot tell apart.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "textcrypt/AnsiCodePage.h"

namespace qel::gateway {

// Bounds the memory a hostile body can make the reader use; a Renderer's body
// for thousands of recipients stays well below it.
inline constexpr std::size_t kMaxBodyBytes = 1024 * 1024;

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
    std::vector<GatewayField> fields;     // empty when the block reads in more than one way
    std::vector<std::u16string> problems; // empty for a body as a Renderer writes it
    std::vector<std::vector<GatewayField>> readings; // then two of those ways
};

// Whether the mail carried a picture. The block alone cannot always say: a
// campaign on a picture message and a campaign whose second line is
// "SMS-IsMMS:=1" without a picture make the same block.
enum class MailPicture { Unknown, Attached, None };

// GatewayFormatError, saying what is wrong, for a body that cannot be read at
// all, one longer than kMaxBodyBytes code units included.
GatewayMail readGatewayMail(std::u16string_view body, const textcrypt::AnsiCodePage& codePage,
                            MailPicture picture = MailPicture::Unknown);

} // namespace qel::gateway
