#include "gateway/GatewayReader.h"

#include "common/NumberedError.h"
#include "gateway/GatewayFieldRules.h"
#include "textcrypt/CurrentTransform.h"

namespace qel::gateway {

namespace {

constexpr std::u16string_view kStart = u"=====Start Qel encryption======";
constexpr std::u16string_view kEnd = u"=====End Qel encryption======";

[[noreturn]] void malformed(const std::string& what)
{
    throw GatewayFormatError(what);
}

std::u16string_view trimLineBreaks(std::u16string_view text)
{
    while (!text.empty() && (text.back() == u'\r' || text.back() == u'\n' || text.back() == u' '))
        text.remove_suffix(1);
    while (!text.empty() && (text.front() == u'\r' || text.front() == u'\n'))
        text.remove_prefix(1);
    return text;
}

std::vector<GatewayField> fieldsOf(std::u16string_view block)
{
    std::vector<GatewayField> fields;
    std::size_t lineNumber = 0;
    while (!block.empty()) {
        const std::size_t end = block.find(u"\r\n");
        if (end == std::u16string_view::npos)
            malformed("field block does not end in CR LF");
        const std::u16string_view line = block.substr(0, end);
        block.remove_prefix(end + 2);
        ++lineNumber;
        const std::size_t separator = line.find(u":=");
        if (line.starts_with(u"SMS-") && separator != std::u16string_view::npos) {
            fields.push_back({std::u16string(line.substr(0, separator)), std::u16string(line.substr(separator + 2))});
        } else if (!fields.empty()) {
            // A value holding a line break goes on over the next line.
            fields.back().value.append(u"\r\n").append(line);
        } else {
            malformed("field block line " + std::to_string(lineNumber) + " is not a field");
        }
    }
    if (fields.empty())
        malformed("field block holds no field");
    return fields;
}

// The head a Renderer writes for these fields; a body is read from the
// internet, so one whose head says otherwise than its block is reported.
void compareHeadWithBlock(std::u16string_view head, GatewayMail& mail)
{
    std::u16string recipients;
    const std::u16string* body = nullptr;
    for (std::size_t i = 0; i < mail.fields.size(); ++i) {
        const GatewayField& field = mail.fields[i];
        if (field.name == u"SMS-Recp") {
            const bool named = i + 1 < mail.fields.size() && mail.fields[i + 1].name == u"SMS-Recn";
            recipients += field.value + u" (" + (named ? mail.fields[i + 1].value : u"") + u"), ";
        } else if (field.name == u"SMS-Body" && !body) {
            body = &field.value;
        }
    }
    const std::u16string message = body ? *body : u"";
    // Compared whole, so a name or message holding "\r\nMessage: " is split where the Renderer joined.
    if (head == u"To: " + recipients + u"\r\nMessage: " + message + u"\r\n") {
        mail.recipientsLine = recipients;
        mail.messageLine = message;
        return;
    }
    const std::size_t messageAt = head.find(u"\r\nMessage: ");
    mail.recipientsLine = std::u16string(head.substr(4, messageAt - 4));
    mail.messageLine = std::u16string(head.substr(messageAt + 11, head.size() - 2 - (messageAt + 11)));
    if (mail.recipientsLine != recipients)
        mail.problems.push_back(u"the head's recipients \"" + mail.recipientsLine + u"\" differ from the block's \""
                                + recipients + u"\"");
    if (body && mail.messageLine != message)
        mail.problems.push_back(u"the head's message \"" + mail.messageLine + u"\" differs from SMS-Body \"" + message
                                + u"\"");
}

} // namespace

GatewayMail readGatewayMail(std::u16string_view body, const textcrypt::AnsiCodePage& codePage)
{
    if (body.size() > kMaxBodyBytes)
        malformed("the body is longer than " + std::to_string(kMaxBodyBytes)
                  + " characters, the limit for a gateway body");
    body = trimLineBreaks(body);
    if (!body.starts_with(u"To: "))
        malformed("the body does not begin with \"To: \"");
    if (!body.ends_with(kEnd))
        malformed("no end marker at the end of the body");
    const std::size_t start = body.rfind(std::u16string(kStart) + u"\r\n");
    if (start == std::u16string_view::npos)
        malformed("no start marker");
    const std::u16string_view head = body.substr(0, start);
    if (head.find(u"\r\nMessage: ") == std::u16string_view::npos || !head.ends_with(u"\r\n"))
        malformed("no \"Message: \" line before the start marker");

    GatewayMail mail;
    const std::size_t blockStart = start + kStart.size() + 2;
    std::u16string hex;
    for (char16_t c : body.substr(blockStart, body.size() - kEnd.size() - blockStart))
        if (c != u'\r' && c != u'\n')
            hex += c;
    try {
        mail.fields = fieldsOf(textcrypt::myDecrypt(hex, codePage));
    } catch (const NumberedError& e) {
        malformed(std::string("the encrypted block cannot be decrypted: ") + e.what());
    }
    mail.problems = fieldRuleProblems(mail.fields);
    compareHeadWithBlock(head, mail);
    return mail;
}

} // namespace qel::gateway
