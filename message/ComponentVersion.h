#pragma once
// "major.minor.revision" from the file version in this DLL's own version
// resource: the gateway is told which component composed the message.
#include <string>

namespace qel::message {

std::u16string componentVersion();

} // namespace qel::message
