#pragma once
// The current string transform (MyEncrypt/MyDecrypt): each character's ANSI
// code plus the code of a pass-phrase character, written as hex. It protects
// the gateway field block, so the pass phrase, the wrap of the key position
// after 32 (the 33rd character never takes part) and the digit form are all
// part of the message format.
#include <string>
#include <string_view>

#include "textcrypt/AnsiCodePage.h"

namespace qel::textcrypt {

inline constexpr std::u16string_view kCurrentPassPhrase = u"mr4ta9zk2qc7wx5nbe0hyj3dvu8pf6lsP";

// Error 5 for a character whose code plus the key's lies outside 0 to 255.
std::u16string myEncrypt(std::u16string_view text, const AnsiCodePage& codePage);

// Errors of the hex-pair decoding first, then 5 for a byte below the key's code.
std::u16string myDecrypt(std::u16string_view hex, const AnsiCodePage& codePage);

} // namespace qel::textcrypt
