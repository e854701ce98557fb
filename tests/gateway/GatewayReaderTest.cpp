#include <gtest/gtest.h>

#include "gateway/GatewayReader.h"
#include "message/GatewayText.h"
#include "textcrypt/CurrentTransform.h"

namespace qel::gateway {
namespace {

const textcrypt::AnsiCodePage& page = textcrypt::AnsiCodePage::windows1252();

std::u16string composed(const message::GatewayMessage& m)
{
    return message::composeOuterText(m, textcrypt::myEncrypt(message::composeGatewayBody(m), page));
}

message::GatewayMessage sample()
{
    message::GatewayMessage m;
    m.account = u"acct";
    m.password = u"pw";
    m.version = u"1.0.22";
    m.recipients = {{u"5550101", u"Ann"}, {u"5550102", u"Ben"}};
    m.body = u"two\r\nlines";
    m.replyAddress = u"me@example.com";
    m.isPictureMessage = true;
    return m;
}

TEST(GatewayReaderTest, ReadsBackEveryFieldInOrder)
{
    const GatewayMail mail = readGatewayMail(composed(sample()) + u"\r\n", page);
    EXPECT_EQ(mail.recipientsLine, u"5550101 (Ann), 5550102 (Ben), ");
    EXPECT_EQ(mail.messageLine, u"two\r\nlines");
    std::u16string all;
    for (const auto& f : mail.fields)
        all += f.name + u"=" + f.value + u";";
    EXPECT_EQ(all, u"SMS-AccountId=acct;SMS-SecurityKey=pw;SMS-Version=1.0.22;SMS-BPID=0;SMS-IsMMS=1;"
                   u"SMS-Recp=5550101;SMS-Recn=Ann;SMS-Recp=5550102;SMS-Recn=Ben;SMS-Body=two\r\nlines;"
                   u"SMS-Name=me@example.com;");
}

TEST(GatewayReaderTest, MalformedBodiesSayWhatIsWrong)
{
    const std::u16string good = composed(sample());
    const auto error = [](std::u16string_view body) -> std::string {
        try {
            readGatewayMail(body, page);
        } catch (const GatewayFormatError& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(error(u""), "the body does not begin with \"To: \"");
    EXPECT_EQ(error(good.substr(0, good.size() - 3)), "no end marker at the end of the body");
    std::u16string noStart = good;
    noStart.replace(noStart.find(u"=====Start"), 10, u"xxxxxxxxxx");
    EXPECT_EQ(error(noStart), "no start marker");
    std::u16string badHex = good;
    badHex[badHex.find(u"======\r\n") + 8] = u'G';
    EXPECT_EQ(error(badHex).substr(0, 41), "the encrypted block cannot be decrypted: ");
    const std::u16string notFields = u"To: \r\nMessage: \r\n=====Start Qel encryption======\r\n"
        + textcrypt::myEncrypt(u"hello\r\n", page) + u"\r\n=====End Qel encryption======";
    EXPECT_EQ(error(notFields), "field block line 1 is not a field");
}

} // namespace
} // namespace qel::gateway
