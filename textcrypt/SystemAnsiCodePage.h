#pragma once
// Windows only: the ANSI code page (CP_ACP) read from the platform's own
// conversions, one code unit or one byte at a time, as the current transform
// must see it (best-fit replacements included).
#include "textcrypt/AnsiCodePage.h"

namespace qel::textcrypt {

AnsiCodePage systemAnsiCodePage();

} // namespace qel::textcrypt
