#include <gtest/gtest.h>

#include "message/MailError.h"

namespace qel::message {
namespace {

TEST(MailErrorTest, KnownCodesHaveTheirTextsAndAllOthersNone)
{
    EXPECT_EQ(MailErrorText(9), u"There was an error connecting to the SMTP mail server.");
    EXPECT_EQ(MailErrorText(3), u" The process has run out of memory.") << "the text begins with a blank";
    EXPECT_EQ(MailErrorText(27), u"Socket Timeout Error");
    EXPECT_TRUE(MailErrorText(11).ends_with(u"ensure that they exist and the you have access to them."))
        << "kept word for word";
    for (double none : {0.0, 2.0, 6.0, 12.0, 13.0, 14.0, 23.0, 28.0, 99.0, -9.0, 9.5})
        EXPECT_TRUE(MailErrorText(none).empty()) << none;
}

} // namespace
} // namespace qel::message
