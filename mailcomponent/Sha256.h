#pragma once
// SHA-256 through the system's CNG.
#include <initializer_list>
#include <string>
#include <string_view>

namespace qel::mailcomponent {

// The 32-byte digest of the parts in order, as of their joined text (which
// is never made: a secret among them is not copied); empty when CNG fails.
std::string sha256(std::initializer_list<std::string_view> parts);

} // namespace qel::mailcomponent
