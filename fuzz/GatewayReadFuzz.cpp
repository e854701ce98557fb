// Any bytes as a gateway body through the reader and both output forms of
// qel-gateway-read: nothing but a GatewayFormatError escapes the reader, the
// exit status says what the reader found, no output line holds a control
// character, a line break or a bidirectional control, and the machine form
// decodes back to exactly what was read. The input is also tried as two head
// lines and a plain field block that is encrypted into a body, so the fuzzer
// reaches the field rules without having to find the encryption; there, a body
// read without problems must compose again, through the Renderer's own
// composition, from the values read, and a body read two ways from either.
#include <algorithm>
#include <cstdlib>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "common/NumberedError.h"
#include "common/Utf8.h"
#include "gateway/GatewayReadCommand.h"
#include "gateway/GatewayReader.h"
#include "message/GatewayText.h"
#include "textcrypt/CurrentTransform.h"

namespace {

using namespace qel::gateway;

const qel::textcrypt::AnsiCodePage& page = qel::textcrypt::AnsiCodePage::windows1252();

void require(bool holds)
{
    if (!holds)
        std::abort();
}

void requireSafeToPrint(std::string_view out)
{
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        require((c >= 0x20 || c == '\n') && c != 0x7F);
        const auto next = i + 1 < out.size() ? static_cast<unsigned char>(out[i + 1]) : 0;
        const auto third = i + 2 < out.size() ? static_cast<unsigned char>(out[i + 2]) : 0;
        require(!(c == 0xC2 && next >= 0x80 && next <= 0x9F)); // C1 controls
        require(!(c == 0xE2 && next == 0x80 && ((third >= 0xA8 && third <= 0xAE) || third == 0x8E || third == 0x8F)));
        require(!(c == 0xE2 && next == 0x81 && third >= 0xA6 && third <= 0xA9));
    }
}

std::vector<std::string_view> linesOf(std::string_view out)
{
    std::vector<std::string_view> lines;
    for (std::size_t end; (end = out.find('\n')) != out.npos; out.remove_prefix(end + 1))
        lines.push_back(out.substr(0, end));
    require(out.empty());
    return lines;
}

int hexDigit(char c)
{
    return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : (std::abort(), 0);
}

std::u16string unescaped(std::string_view text)
{
    std::u16string out;
    std::size_t plainFrom = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        require(text[i] != '=');
        if (text[i] != '\\')
            continue;
        out += qel::utf16FromUtf8(text.substr(plainFrom, i - plainFrom));
        require(i + 1 < text.size());
        const char kind = text[++i];
        if (kind == 'x' || kind == 'u') {
            const std::size_t digits = kind == 'x' ? 2 : 4;
            require(i + digits < text.size());
            char16_t unit = 0;
            for (std::size_t k = 1; k <= digits; ++k)
                unit = static_cast<char16_t>(unit << 4 | hexDigit(text[i + k]));
            out += unit;
            i += digits;
        } else {
            require(kind == '\\' || kind == 'r' || kind == 'n' || kind == 't');
            out += kind == '\\' ? u'\\' : kind == 'r' ? u'\r' : kind == 'n' ? u'\n' : u'\t';
        }
        plainFrom = i + 1;
    }
    return out + qel::utf16FromUtf8(text.substr(plainFrom));
}

std::optional<GatewayMail> check(const std::string& bytes)
{
    GatewayMail mail;
    bool readable = true;
    try {
        mail = readGatewayMail(qel::utf16FromUtf8(bytes), page);
    } catch (const GatewayFormatError&) {
        readable = false;
    }
    const int expected = !readable ? kCannotRead : mail.problems.empty() ? kReadCleanly : kReadWithProblems;
    for (const bool forMachines : {false, true}) {
        std::stringbuf input(bytes);
        std::ostringstream out, err;
        const int status =
            runGatewayRead(forMachines ? std::vector<std::string>{"--machine"} : std::vector<std::string>{}, input, out,
                           err);
        const std::string printed = out.str(), complaints = err.str();
        require(status == expected);
        requireSafeToPrint(printed);
        requireSafeToPrint(complaints);
        const auto lines = linesOf(printed);
        if (!readable) {
            require(lines.empty() && linesOf(complaints).size() == 1);
            continue;
        }
        if (!forMachines) {
            require(lines.size() == 2 + mail.fields.size() && linesOf(complaints).size() == mail.problems.size());
            continue;
        }
        std::vector<std::pair<std::u16string, std::u16string>> records{{u"to", mail.recipientsLine},
                                                                       {u"message", mail.messageLine}};
        for (const auto& field : mail.fields)
            records.emplace_back(field.name, field.value);
        for (const auto& problem : mail.problems)
            records.emplace_back(u"problem", problem);
        require(complaints.empty() && lines.size() == records.size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const std::size_t equals = lines[i].find('=');
            require(equals != std::string_view::npos);
            require(unescaped(lines[i].substr(0, equals)) == records[i].first);
            require(unescaped(lines[i].substr(equals + 1)) == records[i].second);
        }
    }
    return readable ? std::optional(mail) : std::nullopt;
}

qel::message::GatewayMessage valuesOf(const std::vector<GatewayField>& fields)
{
    qel::message::GatewayMessage m;
    for (const GatewayField& f : fields) {
        if (f.name == u"SMS-Recp")
            m.recipients.push_back({f.value, {}});
        else if (f.name == u"SMS-Recn")
            m.recipients.back().name = f.value;
        m.hasCampaign |= f.name == u"SMS-Campaign";
        m.isPictureMessage |= f.name == u"SMS-IsMMS";
        for (auto [name, value] : {std::pair{u"SMS-AccountId", &m.account}, {u"SMS-SecurityKey", &m.password},
                                   {u"SMS-Version", &m.version}, {u"SMS-Campaign", &m.campaign},
                                   {u"SMS-Body", &m.body}, {u"SMS-Name", &m.replyAddress}})
            if (f.name == name)
                *value = f.value;
    }
    return m;
}

std::u16string_view nextLine(std::u16string_view& text)
{
    const std::size_t end = std::min(text.find(u'\n'), text.size());
    std::u16string_view line = text.substr(0, end);
    text.remove_prefix(std::min(end + 1, text.size()));
    if (line.ends_with(u'\r'))
        line.remove_suffix(1);
    return line;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > kMaxBodyBytes / 8)
        return 0;
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    check(bytes);

    const std::u16string text = qel::utf16FromUtf8(bytes);
    std::u16string_view rest = text;
    const std::u16string_view recipients = nextLine(rest);
    const std::u16string_view message = nextLine(rest);
    std::u16string block;
    try {
        block = qel::textcrypt::myEncrypt(rest, page);
    } catch (const qel::NumberedError&) {
        return 0; // a character the transform cannot carry at its place
    }
    const std::u16string body = u"To: " + std::u16string(recipients) + u"\r\nMessage: " + std::u16string(message)
        + u"\r\n=====Start Qel encryption======\r\n" + block + u"\r\n=====End Qel encryption======";
    const auto mail = check(qel::utf8FromUtf16(body));
    if (!mail || qel::utf16FromUtf8(qel::utf8FromUtf16(body)) != body)
        return 0;
    std::vector<std::vector<GatewayField>> readings = mail->readings;
    if (mail->problems.empty())
        readings.push_back(mail->fields);
    for (const auto& reading : readings) {
        const qel::message::GatewayMessage m = valuesOf(reading);
        // Against the block as decrypted: a character the code page lacks travels as its stand-in.
        require(qel::message::composeGatewayBody(m) == qel::textcrypt::myDecrypt(block, page));
        require(qel::message::composeOuterText(m, block) == body);
    }
    return 0;
}
