#include "textcrypt/LegacyTransform.h"

#include <array>

#include "common/NumberedError.h"
#include "crypt/QelvanCryptCls.h"
#include "textcrypt/HexPairs.h"

namespace qel::textcrypt {

namespace {

// The pass phrase as UTF-16LE; the cipher reads only its first 32 bytes.
constexpr std::array<std::uint8_t, 2 * kLegacyPassPhrase.size()> kKeyBytes = [] {
    std::array<std::uint8_t, 2 * kLegacyPassPhrase.size()> bytes{};
    for (std::size_t i = 0; i < kLegacyPassPhrase.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(kLegacyPassPhrase[i]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(kLegacyPassPhrase[i] >> 8);
    }
    return bytes;
}();

} // namespace

std::u16string myOldEncrypt(crypt::ByteArrayView bytes)
{
    crypt::QelvanCryptCls cipher;
    const crypt::ByteArray encrypted = cipher.EncryptData(bytes, crypt::ByteArrayView(kKeyBytes));
    // Bytes without storage have no encryption to write out.
    if (!encrypted.hasStorage())
        raise(ErrorNumber::SubscriptOutOfRange);
    std::u16string hex;
    appendHexPairs(encrypted.entries(), hex);
    return hex;
}

std::u16string myOldEncrypt(std::u16string_view text)
{
    std::vector<std::uint8_t> bytes(2 * text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<std::uint8_t>(text[i]);
        bytes[2 * i + 1] = static_cast<std::uint8_t>(text[i] >> 8);
    }
    return myOldEncrypt(crypt::ByteArrayView(bytes));
}

std::vector<std::uint8_t> myOldDecrypt(std::u16string_view hex)
{
    crypt::QelvanCryptCls cipher;
    const std::vector<std::uint8_t> encrypted = decodeHexPairs(hex);
    crypt::ByteArray decrypted = cipher.DecryptData(crypt::ByteArrayView(encrypted), crypt::ByteArrayView(kKeyBytes));
    return decrypted.release();
}

std::u16string textFromLittleEndianBytes(const std::vector<std::uint8_t>& bytes)
{
    std::u16string text(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
    return text;
}

} // namespace qel::textcrypt
