#pragma once
// Text from a gateway body made safe to print: nothing in it can end a line,
// move a terminal's cursor, start an escape sequence or reverse the direction
// of what follows. Escaped: U+0000 to U+001F, U+007F to U+009F, "\", U+2028,
// U+2029, the bidirectional controls U+200E, U+200F, U+202A to U+202E and
// U+2066 to U+2069, and a surrogate half without its other half; for machines
// also "=". The forms are \\, \r, \n, \t, \xHH for the rest up to U+00FF and
// \uHHHH above (hex digits in capitals); everything else is written as UTF-8.
#include <string>
#include <string_view>

namespace qel::gateway {

enum class EscapeEquals { No, Yes };

std::string escapedText(std::u16string_view text, EscapeEquals equals);

} // namespace qel::gateway
