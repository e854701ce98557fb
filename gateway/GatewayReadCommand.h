#pragma once
// qel-gateway-read as a function, so tests run it without a process.
#include <ostream>
#include <streambuf>
#include <string>
#include <vector>

namespace qel::gateway {

// Exit statuses.
inline constexpr int kReadCleanly = 0;
inline constexpr int kCannotRead = 1;   // not a gateway body, too long, or any other failure
inline constexpr int kBadUsage = 2;     // unknown option, too many arguments, file cannot be opened
inline constexpr int kReadWithProblems = 3;

extern const char* const kGatewayReadUsage;

// arguments without the program's name; input is read when no file is named.
int runGatewayRead(const std::vector<std::string>& arguments, std::streambuf& input, std::ostream& out,
                   std::ostream& err);

} // namespace qel::gateway
