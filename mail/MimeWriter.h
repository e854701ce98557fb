#pragma once
// An OutgoingMail as an RFC 5322 message: CRLF line ends, no line longer than
// 78 characters, non-ASCII header text as RFC 2047 encoded words, the body as
// UTF-8 in base64, attachments as base64 parts of multipart/mixed. Values
// that could break a header or an SMTP command are refused before anything
// is written. The message is written in pieces (MessageStream): everything up
// to the first attachment, each attachment's head and content, the tail.
#include <cstdint>
#include <string>

#include "mail/MailCodes.h"
#include "mail/OutgoingMail.h"

namespace qel::mail {

// Ok when the mail can go out; otherwise SenderRejected (sender name or
// address), RecipientRejected, or MessageNotFormed (subject, no recipient).
MailCode validate(const OutgoingMail& mail);

// `date` is an RFC 5322 date-time; `messageId` the part inside the angle brackets;
// `boundary` a token that occurs nowhere in the encoded parts.
std::string messageHead(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                        const std::string& boundary);
std::string attachmentHead(const Attachment& attachment, const std::string& boundary);
std::string messageTail(const OutgoingMail& mail, const std::string& boundary);

// Attachment content as base64 lines of 76 characters: a piece that is not the
// last must hold a multiple of 57 bytes, so lines do not break between pieces.
void appendBase64Lines(const std::uint8_t* bytes, std::size_t count, std::string& out);
std::uint64_t base64LinesSize(std::uint64_t bytes);

// The data section as SMTP sends it: leading dots doubled, ended by CRLF.CRLF.
std::string dotStuffed(const std::string& message);

} // namespace qel::mail
