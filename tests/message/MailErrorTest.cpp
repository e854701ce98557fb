#include <gtest/gtest.h>

#include "message/MailError.h"

namespace qel::message {
namespace {

// The table's words, typed from the table: every code, not a sample.
TEST(MailErrorTest, KnownCodesHaveTheirTextsAndAllOthersNone)
{
    const std::pair<double, std::u16string_view> table[] = {
        {1, u"An exception has occurred."},
        {3, u" The process has run out of memory."},
        {4, u"An error has occurred due to a problem with the message body or attachments."},
        {5, u"There was a problem initiating the conversation with the mail server. Ensure the setting of the Domain "
            u"property is correct."},
        {7, u"The from address was not formatted correctly or was rejected by the SMTP mail server. Some SMTP mail "
            u"servers will only accept mail from particular addresses or domains. SMTP mail servers may also reject a "
            u"from address if the server can not successfully do a reverse lookup on the from address."},
        {8, u"An error was reported in response to a recipient address. The SMTP server may refuse to handle mail for "
            u"unknown recipients."},
        {9, u"There was an error connecting to the SMTP mail server."},
        {10, u"There was an error opening a file. If you have specified file attachments, ensure that they exist and "
             u"that you have access to them."},
        {11, u"There was an error reading a file. If you have specified file attachments, ensure that they exist and "
             u"the you have access to them."},
        {15, u"No mail server specified."},
        {16, u"There was a problem with the connection and a socket error occurred."},
        {17, u"Could not resolve host."},
        {18, u"Connected but server sent back bad response."},
        {19, u"Could not create thread."},
        {20, u"Cancelled as a result of calling the Cancel() method."},
        {21, u"The operation timed-out while the host was being resolved."},
        {22, u"The operation timed-out while connecting."},
        {24, u"ESMTP Authentication failed."},
        {25, u"The selected ESMTP Authentication mode is not supported by the server."},
        {26, u"ESMTP Authentication protocol error."},
        {27, u"Socket Timeout Error"},
    };
    for (const auto& [code, text] : table)
        EXPECT_EQ(MailErrorText(code), text) << code;
    for (double none : {0.0, 2.0, 6.0, 12.0, 13.0, 14.0, 23.0, 28.0, 99.0, -9.0, 9.5})
        EXPECT_TRUE(MailErrorText(none).empty()) << none;
}

} // namespace
} // namespace qel::message
