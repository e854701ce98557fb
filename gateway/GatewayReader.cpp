#include "gateway/GatewayReader.h"

#include <algorithm>

#include "common/NumberedError.h"
#include "gateway/BlockReadings.h"
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

std::vector<std::u16string_view> linesOf(std::u16string_view block)
{
    std::vector<std::u16string_view> lines;
    while (!block.empty()) {
        const std::size_t end = block.find(u"\r\n");
        if (end == std::u16string_view::npos)
            malformed("field block does not end in CR LF");
        lines.push_back(block.substr(0, end));
        block.remove_prefix(end + 2);
    }
    return lines;
}

// Every line that looks like a field taken for one: how a block that no
// Renderer wrote is shown, with the rules it breaks.
std::vector<GatewayField> fieldsByLook(const std::vector<std::u16string_view>& lines)
{
    std::vector<GatewayField> fields;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::u16string_view line = lines[i];
        const std::size_t separator = line.find(u":=");
        if (line.starts_with(u"SMS-") && separator != std::u16string_view::npos)
            fields.push_back({std::u16string(line.substr(0, separator)), std::u16string(line.substr(separator + 2))});
        else if (!fields.empty())
            fields.back().value.append(u"\r\n").append(line);
        else
            malformed("field block line " + std::to_string(i + 1) + " is not a field");
    }
    if (fields.empty())
        malformed("field block holds no field");
    return fields;
}

struct HeadLines {
    std::u16string recipients;
    std::u16string message;
    bool operator==(const HeadLines&) const = default;
};

// The head a Renderer writes for these fields.
HeadLines headFor(const std::vector<GatewayField>& fields)
{
    HeadLines lines;
    const std::u16string* body = nullptr;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const GatewayField& field = fields[i];
        if (field.name == u"SMS-Recp") {
            const bool named = i + 1 < fields.size() && fields[i + 1].name == u"SMS-Recn";
            lines.recipients += field.value + u" (" + (named ? fields[i + 1].value : u"") + u"), ";
        } else if (field.name == u"SMS-Body" && !body) {
            body = &field.value;
        }
    }
    if (body)
        lines.message = *body;
    return lines;
}

// The head taken at its first "Message: " line, where no reading says where it is.
HeadLines headByLook(std::u16string_view head)
{
    const std::size_t messageAt = head.find(u"\r\nMessage: ");
    return {std::u16string(head.substr(4, messageAt - 4)),
            std::u16string(head.substr(messageAt + 11, head.size() - 2 - (messageAt + 11)))};
}

// A body is read from the internet, so one whose head says otherwise than its block is reported.
void compareHeadWithBlock(std::u16string_view head, GatewayMail& mail)
{
    const HeadLines block = headFor(mail.fields);
    // Compared whole, so a name or message holding "\r\nMessage: " is split where the Renderer joined.
    const HeadLines read =
        head == u"To: " + block.recipients + u"\r\nMessage: " + block.message + u"\r\n" ? block : headByLook(head);
    mail.recipientsLine = read.recipients;
    mail.messageLine = read.message;
    if (read.recipients != block.recipients)
        mail.problems.push_back(u"the head's recipients \"" + read.recipients + u"\" differ from the block's \""
                                + block.recipients + u"\"");
    const bool hasBody = std::any_of(mail.fields.begin(), mail.fields.end(),
                                     [](const GatewayField& field) { return field.name == u"SMS-Body"; });
    if (hasBody && read.message != block.message)
        mail.problems.push_back(u"the head's message \"" + read.message + u"\" differs from SMS-Body \""
                                + block.message + u"\"");
}

void comparePictureWithBlock(MailPicture picture, GatewayMail& mail)
{
    const bool flagged = std::any_of(mail.fields.begin(), mail.fields.end(),
                                     [](const GatewayField& field) { return field.name == u"SMS-IsMMS"; });
    if (picture == MailPicture::None && flagged)
        mail.problems.push_back(u"SMS-IsMMS in the block, but the mail carried no picture");
    if (picture == MailPicture::Attached && !flagged)
        mail.problems.push_back(u"no SMS-IsMMS in the block, but the mail carried a picture");
}

std::u16string number(std::size_t n)
{
    const std::string digits = std::to_string(n);
    return {digits.begin(), digits.end()};
}

// Which field the readings first differ in, and how.
std::u16string ambiguity(const std::vector<GatewayField>& one, const std::vector<GatewayField>& another)
{
    std::size_t i = 0;
    while (i + 1 < std::min(one.size(), another.size()) && one[i].name == another[i].name
           && one[i].value == another[i].value)
        ++i;
    const auto field = [](const GatewayField& f) { return f.name + u" \"" + f.value + u"\""; };
    return u"the block reads in more than one way that the head cannot tell apart: field " + number(i + 1) + u" is "
        + field(one[i]) + u" in one reading and " + field(another[i]) + u" in another";
}

void readUncertainly(std::u16string_view head, const BlockReadings& readings, GatewayMail& mail)
{
    const HeadLines read = readings.found.size() == 2 && headFor(readings.found[0]) == headFor(readings.found[1])
        ? headFor(readings.found[0])
        : headByLook(head);
    mail.recipientsLine = read.recipients;
    mail.messageLine = read.message;
    if (readings.tooMany) {
        mail.problems.push_back(u"the block reads in more ways in step with the head than the reader follows ("
                                + number(kMaxCutsInStep) + u" at one line); it cannot tell which one a Renderer wrote");
    } else {
        mail.problems.push_back(ambiguity(readings.found[0], readings.found[1]));
        mail.readings = readings.found;
    }
}

} // namespace

GatewayMail readGatewayMail(std::u16string_view body, const textcrypt::AnsiCodePage& codePage, MailPicture picture)
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
    std::u16string block;
    try {
        block = textcrypt::myDecrypt(hex, codePage);
    } catch (const NumberedError& e) {
        malformed(std::string("the encrypted block cannot be decrypted: ") + e.what());
    }
    const std::vector<std::u16string_view> lines = linesOf(block);
    const BlockReadings readings = renderersReadings(lines, head, picture);
    if (readings.found.size() == 1) {
        mail.fields = readings.found.front();
        const HeadLines read = headFor(mail.fields);
        mail.recipientsLine = read.recipients;
        mail.messageLine = read.message;
    } else if (readings.found.size() > 1 || readings.tooMany) {
        readUncertainly(head, readings, mail);
    } else {
        mail.fields = fieldsByLook(lines);
        mail.problems = fieldRuleProblems(mail.fields);
        comparePictureWithBlock(picture, mail);
        compareHeadWithBlock(head, mail);
    }
    return mail;
}

} // namespace qel::gateway
