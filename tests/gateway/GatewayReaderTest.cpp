#include <gtest/gtest.h>

#include <new>
#include <sstream>

#include "common/Utf8.h"
#include "gateway/EscapedText.h"
#include "gateway/GatewayReadCommand.h"
#include "gateway/GatewayReader.h"

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

TEST(GatewayReaderTest, ReadsBackEveryFieldInOrder)
{
    const GatewayMail mail = readGatewayMail(body(kGood) + u"\r\n", page);
    EXPECT_EQ(mail.recipientsLine, u"5550101 (Ann), 5550102 (Ben), ");
    EXPECT_EQ(mail.messageLine, u"two\r\nlines");
    std::u16string all;
    for (const auto& f : mail.fields)
        all += f.name + u"=" + f.value + u";";
    EXPECT_EQ(all, u"SMS-AccountId=acct;SMS-SecurityKey=pw;SMS-Version=1.0.22;SMS-BPID=0;SMS-Campaign=Spring sale;"
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
        {{"--machine"}, utf8FromUtf16(body(changed(u"SMS-Body", u"SMS-Name"))), kReadWithProblems,
         "\nSMS-Name=me@example.com\nproblem=field 11: SMS-Name again (first as field 10)\nproblem=SMS-Body is missing\n", ""},
        {{}, "To: x", kCannotRead, "", "qel-gateway-read: no end marker at the end of the body\n"},
        {{}, std::string(kMaxBodyBytes + 1, 'x'), kCannotRead, "",
         "qel-gateway-read: the input is longer than 1048576 bytes, the limit for a gateway body\n"},
        {{"--help"}, "", kReadCleanly, kGatewayReadUsage, ""},
        {{"--json"}, forged, kBadUsage, "", kGatewayReadUsage},
        {{"a", "b"}, forged, kBadUsage, "", kGatewayReadUsage},
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
