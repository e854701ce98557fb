#pragma once
// An OutgoingMail as an RFC 5322 message: CRLF line ends, no line longer than
// 78 characters, non-ASCII header text as RFC 2047 encoded words, the body as
// UTF-8 in base64, attachments as base64 parts of multipart/mixed. Values
// that could break a header or an SMTP command are refused before anything
// is written.
#include <string>

#include "mail/MailCodes.h"
#include "mail/OutgoingMail.h"

namespace qel::mail {

// Sent when the mail can go out; otherwise SenderRejected (sender name or
// address), RecipientRejected, or MessageNotFormed (subject, no recipient).
MailCode validate(const OutgoingMail& mail);

// `date` is an RFC 5322 date-time; `messageId` the part inside the angle brackets;
// `boundary` a token that occurs nowhere in the encoded parts.
std::string composeMessage(const OutgoingMail& mail, const std::string& date, const std::string& messageId,
                           const std::string& boundary);

// The data section as SMTP sends it: leading dots doubled, ended by CRLF.CRLF.
std::string dotStuffed(const std::string& message);

} // namespace qel::mail
