// libmcrypt's rijndael-256 in ECB mode is an independent Rijndael with
// 256-bit blocks: the encrypted buffer must be its encryption of the frame.
#include <mcrypt.h>

#include <random>

#include <gtest/gtest.h>

#include "crypt/QelvanCryptCls.h"

namespace qel::crypt {
namespace {

std::vector<std::uint8_t> mcryptEcb(std::vector<std::uint8_t> data, const std::array<std::uint8_t, 32>& key, bool encrypt)
{
    MCRYPT td = mcrypt_module_open(const_cast<char*>("rijndael-256"), nullptr, const_cast<char*>("ecb"), nullptr);
    EXPECT_TRUE(td != MCRYPT_FAILED);
    EXPECT_EQ(mcrypt_generic_init(td, const_cast<std::uint8_t*>(key.data()), 32, nullptr), 0);
    if (encrypt)
        mcrypt_generic(td, data.data(), static_cast<int>(data.size()));
    else
        mdecrypt_generic(td, data.data(), static_cast<int>(data.size()));
    mcrypt_generic_deinit(td);
    mcrypt_module_close(td);
    return data;
}

TEST(McryptReferenceTest, EncryptDataIsRijndael256EcbOfTheFrame)
{
    std::mt19937 random(20261208);
    QelvanCryptCls cipher;
    for (int trial = 0; trial < 400; ++trial) {
        std::vector<std::uint8_t> message(1 + random() % (trial < 200 ? 70 : 2000));
        std::vector<std::uint8_t> password(random() % 48);
        for (auto& b : message)
            b = static_cast<std::uint8_t>(random());
        for (auto& b : password)
            b = static_cast<std::uint8_t>(random());

        std::array<std::uint8_t, 32> key{};
        std::copy_n(password.begin(), std::min<std::size_t>(password.size(), 32), key.begin());
        std::vector<std::uint8_t> frame(4 + message.size());
        for (int i = 0; i < 4; ++i)
            frame[i] = static_cast<std::uint8_t>(message.size() >> (8 * i));
        std::copy(message.begin(), message.end(), frame.begin() + 4);
        frame.resize((frame.size() + 31) / 32 * 32, 0);

        const auto reference = mcryptEcb(frame, key, true);
        const ByteArray encrypted = cipher.EncryptData(ByteArrayView(message), ByteArrayView(password));
        ASSERT_EQ(encrypted.entries(), reference) << "trial " << trial;
        ASSERT_EQ(mcryptEcb(encrypted.entries(), key, false), frame);
        ASSERT_EQ(cipher.DecryptData(encrypted.view(), ByteArrayView(password)).entries(), message);
    }
}

} // namespace
} // namespace qel::crypt
