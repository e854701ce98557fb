// The gateway's message format, checked line by line.
#include <gtest/gtest.h>

#include "message/GatewayText.h"

namespace qel::message {
namespace {

GatewayMessage workedExample()
{
    GatewayMessage m;
    m.account = u"acct-001";
    m.password = u"pw";
    m.version = u"1.0.22";
    m.hasCampaign = true;
    m.campaign = u"Spring sale";
    m.recipients = {{u"5550101", u"Ann"}, {u"5550102", u"Ben"}};
    m.body = u"Meeting moved to 3 pm";
    m.replyAddress = u"reply@example.com";
    return m;
}

TEST(GatewayTextTest, BodyHoldsOneFieldPerLineInOrder)
{
    EXPECT_EQ(composeGatewayBody(workedExample()),
              u"SMS-AccountId:=acct-001\r\nSMS-SecurityKey:=pw\r\nSMS-Version:=1.0.22\r\nSMS-BPID:=0\r\n"
              u"SMS-Campaign:=Spring sale\r\nSMS-Recp:=5550101\r\nSMS-Recn:=Ann\r\nSMS-Recp:=5550102\r\n"
              u"SMS-Recn:=Ben\r\nSMS-Body:=Meeting moved to 3 pm\r\nSMS-Name:=reply@example.com\r\n");
}

TEST(GatewayTextTest, OptionalLinesAndTheCampaignRewrite)
{
    GatewayMessage m = workedExample();
    m.campaign = u"Joe's 'best'";
    m.isPictureMessage = true;
    const std::u16string body = composeGatewayBody(m);
    EXPECT_NE(body.find(u"SMS-BPID:=0\r\nSMS-Campaign:=Joe`s `best`\r\nSMS-IsMMS:=1\r\nSMS-Recp:=5550101\r\n"),
              std::u16string::npos);
    m.hasCampaign = false;
    m.isPictureMessage = false;
    EXPECT_EQ(composeGatewayBody(m).find(u"SMS-Campaign"), std::u16string::npos);
    EXPECT_EQ(composeGatewayBody(m).find(u"SMS-IsMMS"), std::u16string::npos);
}

TEST(GatewayTextTest, OuterTextWrapsTheEncryptedBlock)
{
    EXPECT_EQ(composeOuterText(workedExample(), u"ABCD"),
              u"To: 5550101 (Ann), 5550102 (Ben), \r\nMessage: Meeting moved to 3 pm\r\n"
              u"=====Start Qel encryption======\r\nABCD\r\n=====End Qel encryption======");
    GatewayMessage lineBreaks = workedExample();
    lineBreaks.body = u"two\r\nlines";
    EXPECT_NE(composeOuterText(lineBreaks, u"").find(u"Message: two\r\nlines\r\n====="), std::u16string::npos)
        << "values are inserted without escaping";
}

} // namespace
} // namespace qel::message
