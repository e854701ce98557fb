#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <new>
#include <optional>
#include <random>
#include <sstream>

#include "common/Utf8.h"
#include "gateway/BlockReadings.h"
#include "gateway/EscapedText.h"
#include "gateway/GatewayReadCommand.h"
#include "gateway/GatewayReader.h"
#include "message/GatewayText.h"
#include "textcrypt/CurrentTransform.h"

namespace qel::gateway {
namespace {

using namespace std::literals;

const textcrypt::AnsiCodePage& page = textcrypt::AnsiCodePage::windows1252();

// The current transform typed from its description, so no body here comes from the code under test: each
// character's code plus that of pass-phrase character 1 to 32 in turn, as two capital hex digits (ASCII only).
std::u16string encrypted(std::u16string_view plain)
{
    std::u16string hex;
    for (std::size_t i = 0; i < plain.size(); ++i)
        for (const int shift : {4, 0})
            hex += u"0123456789ABCDEF"[(plain[i] + "mr4ta9zk2qc7wx5nbe0hyj3dvu8pf6ls"[i % 32]) >> shift & 15];
    return hex;
}

// The plain head, "|" and the plain field block become the body as it travels.
std::u16string body(std::u16string_view plain)
{
    const std::size_t bar = plain.find(u'|');
    return std::u16string(plain.substr(0, bar)) + u"=====Start Qel encryption======\r\n"
        + encrypted(plain.substr(bar + 1)) + u"\r\n=====End Qel encryption======";
}

constexpr std::u16string_view kGood =
    u"To: 5550101 (Ann), 5550102 (Ben), \r\nMessage: two\r\nlines\r\n|SMS-AccountId:=acct\r\nSMS-SecurityKey:=pw\r\n"
    u"SMS-Version:=1.0.22\r\nSMS-BPID:=0\r\nSMS-Campaign:=Spring sale\r\nSMS-Recp:=5550101\r\n"
    u"SMS-Recn:=Ann\r\nSMS-Recp:=5550102\r\nSMS-Recn:=Ben\r\nSMS-Body:=two\r\nlines\r\nSMS-Name:=me@example.com\r\n";

// kGood with every `from` made `to`, in head and block alike.
std::u16string changed(std::u16string_view from, std::u16string_view to, std::u16string plain = std::u16string(kGood))
{
    for (std::size_t at = 0; !from.empty() && (at = plain.find(from, at)) != plain.npos; at += to.size())
        plain.replace(at, from.size(), to);
    return plain;
}

std::u16string joined(const std::vector<GatewayField>& fields)
{
    std::u16string all;
    for (const auto& f : fields)
        all += f.name + u"=" + f.value + u";";
    return all;
}

TEST(GatewayReaderTest, ReadsBackEveryFieldInOrder)
{
    const GatewayMail mail = readGatewayMail(body(kGood) + u"\r\n", page);
    EXPECT_EQ(mail.recipientsLine, u"5550101 (Ann), 5550102 (Ben), ");
    EXPECT_EQ(mail.messageLine, u"two\r\nlines");
    EXPECT_EQ(joined(mail.fields), u"SMS-AccountId=acct;SMS-SecurityKey=pw;SMS-Version=1.0.22;SMS-BPID=0;SMS-Campaign=Spring sale;"
                   u"SMS-Recp=5550101;SMS-Recn=Ann;SMS-Recp=5550102;SMS-Recn=Ben;SMS-Body=two\r\nlines;"
                   u"SMS-Name=me@example.com;");
}

TEST(GatewayReaderTest, MalformedBodiesSayWhatIsWrong)
{
    const std::u16string good = body(kGood);
    const auto error = [](std::u16string_view body) -> std::string {
        try {
            readGatewayMail(body, page);
        } catch (const GatewayFormatError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(error(u""), "the body does not begin with \"To: \"");
    EXPECT_EQ(error(std::u16string(kMaxBodyBytes + 1, u'x')),
              "the body is longer than 1048576 characters, the limit for a gateway body");
    EXPECT_EQ(error(good.substr(0, good.size() - 3)), "no end marker at the end of the body");
    EXPECT_EQ(error(changed(u"=====Start", u"xxxxxxxxxx", good)), "no start marker");
    EXPECT_EQ(error(body(u"To: x\r\n|SMS-Body:=x\r\n")), "no \"Message: \" line before the start marker");
    EXPECT_EQ(error(changed(u"======\r\n", u"======\r\nG", good)), "the encrypted block cannot be decrypted: Type mismatch");
    EXPECT_EQ(error(body(u"To: \r\nMessage: \r\n|hello\r\n")), "field block line 1 is not a field");
    EXPECT_EQ(error(body(u"To: \r\nMessage: \r\n|SMS-Body:=x")), "field block does not end in CR LF");
}

TEST(GatewayReaderTest, ReportsWhatBreaksTheRulesOfARenderersBody)
{
    const struct {
        std::u16string plain;
        std::u16string_view problems;
    } cases[] = {
        {changed(u"Ann", u"A\r\nMessage: n"), u""},
        {changed(u"two\r\nlines", u"two\r\nSMS-Name:=evil"), u""},
        {changed(u"SMS-Body:=two\r\nlines", u"SMS-Body:=two\r\nSMS-Name:=evil"),
         u"field 12: SMS-Name again (first as field 11)|the head's message \"two\r\nlines\" differs from SMS-Body "
         u"\"two\""},
        {changed(u"SMS-BPID:=0\r\n", u"SMS-BPID:=0\r\nSMS-BPID:=0\r\n"), u"field 5: SMS-BPID again (first as field 4)"},
        {changed(u"SMS-BPID:=0", u"SMS-BPID:=0\r\nSMS-Colour:=red"), u"field 5: unknown name \"SMS-Colour\""},
        {changed(u"SMS-Campaign:=Spring sale", u"SMS-IsMMS:=1\r\nSMS-Campaign:=Spring sale"),
         u"field 6: SMS-Campaign out of order, after SMS-IsMMS"},
        {changed(u"1.0.22", u"1.0"), u"field 3: SMS-Version is \"1.0\", not major.minor.revision in decimal"},
        {changed(u"Spring sale", u"Joe's"),
         u"field 5: SMS-Campaign holds an apostrophe, which a Renderer writes as a grave accent"},
        {changed(u"SMS-Version:=1.0.22\r\nSMS-BPID:=0", u"SMS-BPID:=7"),
         u"field 3: SMS-BPID is \"7\", not \"0\"|SMS-Version is missing"},
        {changed(u"SMS-Recp:=5550101\r\nSMS-Recn:=Ann", u"SMS-Recn:=Ann\r\nSMS-Recp:=5550101"),
         u"field 6: SMS-Recn without SMS-Recp before it|field 7: SMS-Recp without SMS-Recn after it|the head's "
         u"recipients \"5550101 (Ann), 5550102 (Ben), \" differ from the block's \"5550101 (), 5550102 (Ben), \""},
        {changed(u"SMS-Recp:=5550101\r\nSMS-Recn:=Ann\r\nSMS-Recp:=5550102\r\nSMS-Recn:=Ben\r\n", u"",
                 changed(u"5550101 (Ann), 5550102 (Ben), ", u"")),
         u"no recipient (SMS-Recp) in the block"},
        {changed(u"(Ben), \r\n", u"(Bob), \r\n"),
         u"the head's recipients \"5550101 (Ann), 5550102 (Bob), \" differ from the block's \"5550101 (Ann), 5550102 "
         u"(Ben), \""},
    };
    for (const auto& c : cases) {
        std::u16string problems;
        for (const auto& p : readGatewayMail(body(c.plain), page).problems)
            problems += (problems.empty() ? u"" : u"|") + p;
        EXPECT_EQ(utf8FromUtf16(problems), utf8FromUtf16(c.problems)) << utf8FromUtf16(c.plain);
    }
}

TEST(GatewayReaderTest, ReadsValuesHoldingLinesThatLookLikeFieldsOrSaysTheHeadCannotTell)
{
    const std::u16string_view mallory = u"two\r\nSMS-Recp:=5550666\r\nSMS-Recn:=Mallory";
    // Names holding lines of the block before the recipients, as many times as there are recipients: each copy could
    // begin the recipients, and every such reading keeps in step with the head until the body.
    const auto inStep = [](int recipients) {
        std::u16string head = u"To: 1 (1", block = u"SMS-AccountId:=a\r\nSMS-SecurityKey:=k\r\n";
        for (int i = 0; i < recipients; ++i) {
            head += i ? u"\r\nSMS-Version:=1.0.22\r\nSMS-BPID:=0), 1 (1" : u"";
            block += u"SMS-Version:=1.0.22\r\nSMS-BPID:=0\r\nSMS-Recp:=1\r\nSMS-Recn:=1\r\n";
        }
        return head + u"), \r\nMessage: m\r\n|" + block + u"SMS-Body:=m\r\nSMS-Name:=s\r\n";
    };
    const struct {
        std::u16string plain;
        std::u16string_view fieldsHold, problem = {};
        std::size_t readings = 0;
        MailPicture picture = MailPicture::Unknown;
    } cases[] = {
        {changed(u"two\r\nlines", mallory), u"SMS-Recn=Ben;SMS-Body=two\r\nSMS-Recp:=5550666\r\nSMS-Recn:=Mallory;"},
        {changed(u"Ann", u"Ann\r\nSMS-Recp:=5550666\r\nSMS-Recn:=Mallory"),
         u"SMS-Recn=Ann\r\nSMS-Recp:=5550666\r\nSMS-Recn:=Mallory;SMS-Recp=5550102;"},
        {changed(u"pw", u"pw\r\nSMS-Version:=1.0.22\r\nSMS-BPID:=0"),
         u"SMS-SecurityKey=pw\r\nSMS-Version:=1.0.22\r\nSMS-BPID:=0;SMS-Version=1.0.22;"},
        // Equally a campaign of two lines without a picture and a campaign of one with one.
        {changed(u"Spring sale", u"Spring\r\nSMS-IsMMS:=1"), u"",
         u"the block reads in more than one way that the head cannot tell apart: field 5 is SMS-Campaign "
         u"\"Spring\r\nSMS-IsMMS:=1\" in one reading and SMS-Campaign \"Spring\" in another", 2},
        {changed(u"acct", u"acct\r\nSMS-SecurityKey:=x"), u"",
         u"the block reads in more than one way that the head cannot tell apart: field 1 is SMS-AccountId "
         u"\"acct\r\nSMS-SecurityKey:=x\" in one reading and SMS-AccountId \"acct\" in another", 2},
        // What the mail carried settles the campaign.
        {changed(u"Spring sale", u"Spring\r\nSMS-IsMMS:=1"), u";SMS-Campaign=Spring\r\nSMS-IsMMS:=1;SMS-Recp=", {}, 0,
         MailPicture::None},
        {changed(u"Spring sale", u"Spring\r\nSMS-IsMMS:=1"), u";SMS-Campaign=Spring;SMS-IsMMS=1;SMS-Recp=", {}, 0,
         MailPicture::Attached},
        {std::u16string(kGood), u";SMS-Campaign=Spring sale;SMS-Recp=",
         u"no SMS-IsMMS in the block, but the mail carried a picture", 0, MailPicture::Attached},
        {changed(u"SMS-Campaign:=Spring sale", u"SMS-IsMMS:=1"), u";SMS-IsMMS=1;",
         u"SMS-IsMMS in the block, but the mail carried no picture", 0, MailPicture::None},
        {inStep(kMaxCutsInStep), u"SMS-Recn=1\r\nSMS-Version:=1.0.22\r\nSMS-BPID:=0;SMS-Recp=1;SMS-Recn=1;SMS-Body=m;"},
        {inStep(kMaxCutsInStep + 1), u"",
         u"the block reads in more ways in step with the head than the reader follows (16 at one line); it cannot tell "
         u"which one a Renderer wrote"},
    };
    for (const auto& c : cases) {
        const GatewayMail mail = readGatewayMail(body(c.plain), page, c.picture);
        EXPECT_NE(joined(mail.fields).find(c.fieldsHold), std::u16string::npos) << utf8FromUtf16(c.plain);
        EXPECT_EQ(utf8FromUtf16(mail.problems.empty() ? u"" : mail.problems.front()), utf8FromUtf16(c.problem));
        EXPECT_EQ(mail.problems.size(), c.problem.empty() ? 0u : 1u);
        EXPECT_EQ(mail.fields.empty(), c.fieldsHold.empty());
        EXPECT_EQ(mail.readings.size(), c.readings);
    }
}

// Random values, drawn to hold line breaks, lines like fields, "Message: " and "To: ", composed into a body by the
// Renderer's own composition. The reader must give back the values or, where another set of values composes to the
// very same body, say so; an enumeration of every cut of the block's lines tells which.
namespace property {

using message::GatewayMessage;

std::u16string draw(std::mt19937& random, std::size_t pieces)
{
    static constexpr std::u16string_view kPieces[] = {
        u"\r\n", u"\r\n", u"\r\n", u"SMS-Recp:=", u"SMS-Recn:=", u"SMS-Body:=", u"SMS-Name:=", u"SMS-IsMMS:=1",
        u"SMS-Campaign:=", u"SMS-AccountId:=", u"SMS-SecurityKey:=", u"SMS-Version:=1.0.22", u"SMS-BPID:=0",
        u"Message: ", u"To: ", u"(", u")", u", ", u" (", u"), ", u"\r", u"\n", u"a", u"5550101", u"=", u"'", u"",
    };
    std::u16string text;
    for (std::size_t n = random() % (pieces + 1); n > 0; --n)
        text += kPieces[random() % std::size(kPieces)];
    return text;
}

GatewayMessage drawMessage(std::mt19937& random)
{
    GatewayMessage m;
    m.account = draw(random, 4);
    m.password = draw(random, 4);
    m.version = u"1.0.22";
    m.hasCampaign = random() % 2;
    m.campaign = (draw(random, 6) + u"c").substr(0, 50); // a Renderer writes no blank campaign, none over 50
    m.isPictureMessage = random() % 2;
    for (std::size_t n = 1 + random() % 3; n > 0; --n)
        m.recipients.push_back({draw(random, 4), draw(random, 4)});
    m.body = draw(random, 6);
    m.replyAddress = draw(random, 4);
    return m;
}

// The reader's expectation: the values themselves, not what the composition made of them.
std::u16string expectedFields(const GatewayMessage& m)
{
    std::u16string all = u"SMS-AccountId=" + m.account + u";SMS-SecurityKey=" + m.password + u";SMS-Version=" + m.version
        + u";SMS-BPID=0;";
    std::u16string campaign = m.campaign;
    std::replace(campaign.begin(), campaign.end(), u'\'', u'`');
    all += m.hasCampaign ? u"SMS-Campaign=" + campaign + u";" : u"";
    all += m.isPictureMessage ? u"SMS-IsMMS=1;" : u"";
    for (const auto& r : m.recipients)
        all += u"SMS-Recp=" + r.phone + u";SMS-Recn=" + r.name + u";";
    return all + u"SMS-Body=" + m.body + u";SMS-Name=" + m.replyAddress + u";";
}

std::optional<GatewayMessage> messageOf(const std::vector<GatewayField>& fields)
{
    GatewayMessage m;
    std::u16string order;
    for (const auto& f : fields) {
        const std::u16string& v = f.value;
        const std::u16string_view n = f.name;
        order += n == u"SMS-AccountId" ? u'A' : n == u"SMS-SecurityKey" ? u'K' : n == u"SMS-Version" ? u'V'
            : n == u"SMS-BPID" ? u'B' : n == u"SMS-Campaign" ? u'C' : n == u"SMS-IsMMS" ? u'M' : n == u"SMS-Recp" ? u'P'
            : n == u"SMS-Recn" ? u'P' : n == u"SMS-Body" ? u'Y' : n == u"SMS-Name" ? u'S' : u'?';
        (n == u"SMS-AccountId" ? m.account : n == u"SMS-SecurityKey" ? m.password : n == u"SMS-Version" ? m.version
            : n == u"SMS-Campaign" ? m.campaign : n == u"SMS-Body" ? m.body : m.replyAddress) = v;
        if (n == u"SMS-Recp")
            m.recipients.push_back({v, {}});
        if (n == u"SMS-Recn" && !m.recipients.empty())
            m.recipients.back().name = v;
    }
    m.hasCampaign = order.find(u'C') != order.npos;
    m.isPictureMessage = order.find(u'M') != order.npos;
    const std::u16string named = u"AKVBCMPPYS"; // a recipient's phone and name share a place
    if (!std::is_sorted(order.begin(), order.end(), [&](char16_t a, char16_t b) { return named.find(a) < named.find(b); }))
        return std::nullopt;
    return m;
}

bool composesTo(const std::vector<GatewayField>& fields, std::u16string_view block, std::u16string_view mailBody,
                MailPicture picture)
{
    const auto m = messageOf(fields);
    return m && m->version == u"1.0.22" && message::composeGatewayBody(*m) == block
        && (picture == MailPicture::Unknown || m->isPictureMessage == (picture == MailPicture::Attached))
        && message::composeOuterText(*m, u"") == std::u16string(mailBody.substr(0, mailBody.find(message::kStartMarker)))
            + std::u16string(message::kStartMarker) + u"\r\n\r\n" + std::u16string(message::kEndMarker);
}

// Whether a cut so far may still compose back: names in order, fixed values as written, finished recipients as
// in the head.
bool mayComposeTo(const std::vector<GatewayField>& fields, std::u16string_view mailBody)
{
    static constexpr std::u16string_view kOrder[] = {u"SMS-AccountId", u"SMS-SecurityKey", u"SMS-Version", u"SMS-BPID",
                                                     u"SMS-Campaign", u"SMS-IsMMS", u"SMS-Recp", u"SMS-Body", u"SMS-Name"};
    std::size_t place = 0, head = 4;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const GatewayField& f = fields[i];
        const std::u16string_view name = f.name == u"SMS-Recn" ? u"SMS-Recp" : std::u16string_view(f.name);
        while (place < std::size(kOrder) && kOrder[place] != name)
            ++place;
        const bool fixedAsWritten = f.name == u"SMS-BPID" ? f.value == u"0"
            : f.name == u"SMS-IsMMS"                      ? f.value == u"1"
                                                          : f.name != u"SMS-Version" || f.value.size() <= 6;
        if (place == std::size(kOrder) || !fixedAsWritten)
            return false;
        if (f.name == u"SMS-Recn" && i + 1 < fields.size()) {
            const std::u16string recipient = fields[i - 1].value + u" (" + f.value + u"), ";
            if (mailBody.substr(head, recipient.size()) != recipient)
                return false;
            head += recipient.size();
        }
    }
    return true;
}

// Every cut of the lines into fields named by their first line, while fewer than two compose back.
struct Cuts {
    std::vector<std::u16string_view> lines;
    std::u16string_view block, mailBody;
    MailPicture picture;
    std::vector<GatewayField> fields;
    int composing = 0;
    long budget = 20000;

    void from(std::size_t line)
    {
        if (composing == 2 || --budget < 0 || !mayComposeTo(fields, mailBody))
            return;
        if (line == lines.size()) {
            composing += composesTo(fields, block, mailBody, picture);
            return;
        }
        if (!fields.empty()) {
            const std::size_t size = fields.back().value.size();
            fields.back().value.append(u"\r\n").append(lines[line]);
            from(line + 1);
            fields.back().value.resize(size);
        }
        const std::size_t separator = lines[line].find(u":=");
        if (lines[line].starts_with(u"SMS-") && separator != std::u16string_view::npos) {
            fields.push_back({std::u16string(lines[line].substr(0, separator)), std::u16string(lines[line].substr(separator + 2))});
            from(line + 1);
            fields.pop_back();
        }
    }
};

} // namespace property

TEST(GatewayReaderTest, ReadsBackTheValuesOfEveryComposedBodyOrSaysWhereAnotherComposesTheSame)
{
    const char* wanted = std::getenv("QEL_GATEWAY_READ_ROUNDS");
    const long rounds = wanted ? std::atol(wanted) : 200;
    std::mt19937 random(19);
    long round = 0, ambiguous = 0, unenumerated = 0;
    const auto started = std::chrono::steady_clock::now();
    for (; round < rounds && !HasFailure(); ++round) {
        const message::GatewayMessage m = property::drawMessage(random);
        const std::u16string block = message::composeGatewayBody(m);
        const std::u16string mailBody = message::composeOuterText(m, textcrypt::myEncrypt(block, page));
        // Every other body as a gateway reads it that knows whether the mail carried a picture.
        const MailPicture picture = round % 2 == 0   ? MailPicture::Unknown
            : m.isPictureMessage ? MailPicture::Attached
                                 : MailPicture::None;
        const GatewayMail mail = readGatewayMail(mailBody, page, picture);
        property::Cuts cuts{{}, block, mailBody, picture, {}};
        for (std::u16string_view rest = block; !rest.empty(); rest.remove_prefix(rest.find(u"\r\n") + 2))
            cuts.lines.push_back(rest.substr(0, rest.find(u"\r\n")));
        cuts.from(0);
        unenumerated += cuts.budget < 0;
        SCOPED_TRACE(utf8FromUtf16(property::expectedFields(m)));
        if (mail.problems.empty()) {
            EXPECT_EQ(joined(mail.fields), property::expectedFields(m));
            std::u16string recipients;
            for (const auto& r : m.recipients)
                recipients += r.phone + u" (" + r.name + u"), ";
            EXPECT_EQ(mail.recipientsLine, recipients);
            EXPECT_EQ(mail.messageLine, m.body);
            EXPECT_TRUE(cuts.composing == 1 || cuts.budget < 0);
        } else {
            ++ambiguous;
            ASSERT_EQ(mail.readings.size(), 2u) << utf8FromUtf16(mail.problems.front());
            SCOPED_TRACE(utf8FromUtf16(joined(mail.readings[0]) + u"\n\n" + joined(mail.readings[1])));
            EXPECT_NE(joined(mail.readings[0]), joined(mail.readings[1]));
            EXPECT_TRUE(property::composesTo(mail.readings[0], block, mailBody, picture));
            EXPECT_TRUE(property::composesTo(mail.readings[1], block, mailBody, picture));
            EXPECT_TRUE(mail.fields.empty());
        }
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::printf("%ld value sets in %.1f s: %ld read in more than one way, %ld too many cuts to enumerate\n", round,
                seconds, ambiguous, unenumerated);
}

TEST(GatewayReaderTest, EscapesWhatCouldForgeALineOrReachATerminal)
{
    const struct {
        std::u16string_view text;
        std::string_view forPeople, forMachines = {}; // the same where empty
    } cases[] = {
        {u"two\r\nSMS-Name=evil", "two\\r\\nSMS-Name=evil", "two\\r\\nSMS-Name\\x3Devil"},
        {u"\x1b[2J\t\\\0\x7f"sv, "\\x1B[2J\\t\\\\\\x00\\x7F"},
        {u"\u0085\u009b\u2028\u2029\u202e\u2066", "\\x85\\x9B\\u2028\\u2029\\u202E\\u2066"},
        {u"caf\u00e9 \U0001F600 \xD800.\xDC00", "caf\xC3\xA9 \xF0\x9F\x98\x80 \\uD800.\\uDC00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(escapedText(c.text, EscapeEquals::No), c.forPeople);
        EXPECT_EQ(escapedText(c.text, EscapeEquals::Yes), c.forMachines.empty() ? c.forPeople : c.forMachines);
    }
}

TEST(GatewayReadCommandTest, PrintsEveryFieldOnItsOwnLineAndSaysWhatFailed)
{
    const std::string forged = utf8FromUtf16(body(changed(u"lines", u"SMS-Name=evil")));
    const struct {
        std::vector<std::string> arguments;
        std::string input;
        int status;
        std::string outHolds, err;
    } cases[] = {
        {{}, forged, kReadCleanly, "Message: two\\r\\nSMS-Name=evil\nSMS-AccountId=acct\n", ""},
        {{}, forged, kReadCleanly, "SMS-Body=two\\r\\nSMS-Name=evil\nSMS-Name=me@example.com\n", ""},
        {{"--machine"}, forged, kReadCleanly, "to=5550101 (Ann), 5550102 (Ben), \nmessage=two\\r\\nSMS-Name\\x3Devil\n", ""},
        {{"--machine"}, forged, kReadCleanly, "SMS-Body=two\\r\\nSMS-Name\\x3Devil\nSMS-Name=me@example.com\n", ""},
        {{}, utf8FromUtf16(body(changed(u"SMS-BPID:=0\r\n", u"SMS-BPID:=0\r\nSMS-BPID:=0\r\n"))), kReadWithProblems,
         "SMS-BPID=0\nSMS-BPID=0\n", "qel-gateway-read: field 5: SMS-BPID again (first as field 4)\n"},
        {{"--machine"}, utf8FromUtf16(body(changed(u"Spring sale", u"Spring\r\nSMS-IsMMS:=1"))), kReadWithProblems,
         "message=two\\r\\nlines\nproblem=the block reads in more than one way", ""},
        {{"--no-picture", "--machine"}, utf8FromUtf16(body(changed(u"Spring sale", u"Spring\r\nSMS-IsMMS:=1"))),
         kReadCleanly, "SMS-Campaign=Spring\\r\\nSMS-IsMMS:\\x3D1\nSMS-Recp=5550101\n", ""},
        {{"--picture"}, forged, kReadWithProblems, "", "qel-gateway-read: no SMS-IsMMS in the block, but the mail carried a picture\n"},
        {{"--machine"}, utf8FromUtf16(body(changed(u"SMS-Body", u"SMS-Name"))), kReadWithProblems,
         "\nSMS-Name=me@example.com\nproblem=field 11: SMS-Name again (first as field 10)\nproblem=SMS-Body is missing\n", ""},
        {{}, "To: x", kCannotRead, "", "qel-gateway-read: no end marker at the end of the body\n"},
        {{}, std::string(kMaxBodyBytes + 1, 'x'), kCannotRead, "",
         "qel-gateway-read: the input is longer than 1048576 bytes, the limit for a gateway body\n"},
        {{"--help"}, "", kReadCleanly, kGatewayReadUsage, ""},
        {{"--json"}, forged, kBadUsage, "", kGatewayReadUsage},
        {{"a", "b"}, forged, kBadUsage, "", kGatewayReadUsage},
        {{"--picture", "--no-picture"}, forged, kBadUsage, "", kGatewayReadUsage},
        {{"/no/such/body"}, forged, kBadUsage, "", "qel-gateway-read: cannot open /no/such/body\n"},
    };
    for (const auto& c : cases) {
        std::stringbuf input(c.input);
        std::ostringstream out, err;
        EXPECT_EQ(runGatewayRead(c.arguments, input, out, err), c.status) << c.outHolds;
        EXPECT_NE(out.str().find(c.outHolds), std::string::npos) << out.str();
        EXPECT_EQ(err.str(), c.err);
    }
    struct OutOfMemory : std::streambuf {
        int_type underflow() override { throw std::bad_alloc(); }
    } outOfMemory;
    std::stringbuf input(forged);
    std::ostream closed(nullptr);
    std::ostringstream err;
    EXPECT_EQ(runGatewayRead({}, outOfMemory, closed, err), kCannotRead);
    EXPECT_EQ(runGatewayRead({}, input, closed, err), kCannotRead);
    EXPECT_EQ(err.str(), "qel-gateway-read: out of memory\nqel-gateway-read: cannot write the output\n");
}

} // namespace
} // namespace qel::gateway
