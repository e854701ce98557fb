#pragma once
// The words for the mail component's failure codes, as ErrorText shows them
// after "Message send error : " or "Error attaching file. Check file exists : ".
#include <string_view>

namespace qel::message {

// The text for `code`; any code not in the table (2, 6, 12 to 14, 23, a
// fraction, a negative number...) gives the empty text.
std::u16string_view MailErrorText(double code);

} // namespace qel::message
