#pragma once
// The legacy string transform (MyOldEncrypt/MyOldDecrypt, and the Cipher
// object's methods): a text's UTF-16LE bytes through the whole-buffer
// block cipher under a fixed pass phrase, written as uppercase hex. Texts made
// by either library decrypt in the other, so nothing here may change.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "crypt/ByteArray.h"

namespace qel::textcrypt {

inline constexpr std::u16string_view kLegacyPassPhrase = u"mr4ta9zk2qc7wx5nbe0hyj3dvu8pf6ls";

// Bytes encrypted in place of a text's bytes; error 9 when they have no
// entry 0 (empty, undimensioned, or indexed from above 0).
std::u16string myOldEncrypt(crypt::ByteArrayView bytes);
std::u16string myOldEncrypt(std::u16string_view text);

// The decrypted bytes, to be read as UTF-16LE code units; empty when the
// cipher gives no result. An odd count is possible for text this transform
// did not make, and the caller decides how the last byte shows.
std::vector<std::uint8_t> myOldDecrypt(std::u16string_view hex);

// Code units from little-endian byte pairs; an unpaired last byte is dropped.
std::u16string textFromLittleEndianBytes(const std::vector<std::uint8_t>& bytes);

} // namespace qel::textcrypt
