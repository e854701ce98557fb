#pragma once
#include <string>

namespace qel::mailcomponent {

// What EHLO says unless the host set Domain: the machine's fully qualified
// name when it has one; empty otherwise, for the transport's address literal.
std::string machineDomain();

} // namespace qel::mailcomponent
