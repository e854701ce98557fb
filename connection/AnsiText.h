#pragma once
// Texts to and from the system ANSI code page (CP_ACP), as the platform's
// "A" functions take and give them.
#include <string>
#include <string_view>

namespace qel::connection {

std::wstring textFromAnsi(std::string_view bytes);
std::string ansiFromText(std::wstring_view text);

} // namespace qel::connection
