#pragma once
// Rijndael with 256-bit blocks on the processor's AES instructions. Those
// work on 128-bit halves with AES's own row shifts, so each round first
// blends the two halves and shuffles bytes such that, after the instruction's
// shift, every row is shifted as a 256-bit block requires. The results equal
// the table-driven rounds bit for bit; the tests hold both side by side.
#include <cstddef>
#include <cstdint>

namespace qel::crypt {

class HardwareRounds {
public:
    // True where the processor has AES and SSE4.1 instructions.
    static bool available();

    // `blocks` 32-byte blocks in place under `rounds` + 1 round keys of 8 words
    // each (the decryption keys for decrypt, in the equivalent inverse form).
    static void encrypt(std::uint8_t* data, std::size_t blocks, const std::uint32_t* schedule, int rounds);
    static void decrypt(std::uint8_t* data, std::size_t blocks, const std::uint32_t* schedule, int rounds);
};

} // namespace qel::crypt
