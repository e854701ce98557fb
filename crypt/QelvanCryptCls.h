#pragma once
// Rijndael with variable block and key length (4, 6 or 8 words), in the
// table-driven form whose tables are derived from GF(2^8) arithmetic at run
// time. The whole-buffer functions use 256-bit blocks and keys, electronic
// codebook, a little-endian length prefix and zero padding: that buffer layout
// is stored and exchanged, so it must never change.
//
// Words are bit patterns: byte i of a word has weight 2^(8i).
#include <array>
#include <cstdint>

#include "crypt/ByteArray.h"

namespace qel::crypt {

using Word = std::uint32_t;

class QelvanCryptCls {
public:
    // Fields set at creation.
    static constexpr std::array<Word, 31> lowMaskWord = [] {
        std::array<Word, 31> a{};
        for (unsigned n = 0; n < a.size(); ++n) a[n] = (Word{2} << n) - 1;
        return a;
    }();
    static constexpr std::array<Word, 31> bitWord = [] {
        std::array<Word, 31> a{};
        for (unsigned n = 0; n < a.size(); ++n) a[n] = Word{1} << n;
        return a;
    }();
    static constexpr std::array<std::uint8_t, 8> lowMaskOctet{1, 3, 7, 15, 31, 63, 127, 255};
    static constexpr std::array<std::uint8_t, 8> bitOctet{1, 2, 4, 8, 16, 32, 64, 128};
    // Last row of the inverse column-mix matrix; the other rows are rotations.
    static constexpr std::array<std::uint8_t, 4> inverseMixCoefficients{0x0B, 0x0D, 0x09, 0x0E};

    // The block transform: tables, then a key, then any number of blocks.
    void gentables();
    // Error 9 when nb or nk exceeds 8 or KEY lacks entries 0 to 4*nk-1;
    // lengths below 1 are refused with error 5 before any field changes.
    void gkey(std::int32_t nb, std::int32_t nk, ByteArrayView KEY);
    // Replace entries 0 to 4*Nb-1 of buff; error 9, before any write, when
    // one of them is missing.
    void Encrypt(ByteArray& buff) const;
    void Decrypt(ByteArray& buff) const;

    // 256-bit blocks run on the processor's AES instructions where it has
    // them; tests turn that off to hold the table-driven rounds against them.
    void useHardwareRounds(bool enabled);
    bool usesHardwareRounds() const { return hardwareRounds_; }

    // Whole-buffer framing. A result without storage means "no result".
    ByteArray EncryptData(ByteArrayView bytMessage, ByteArrayView bytPassword);
    ByteArray DecryptData(ByteArrayView bytIn, ByteArrayView bytPassword);

    // Word and byte helpers. Shift counts out of range raise error 6.
    static Word ShiftWordLeft(Word value, std::int16_t count);
    static Word ShiftWordRight(Word value, std::int16_t count);
    static std::uint8_t ShiftOctetLeft(std::uint8_t value, std::uint8_t count);
    static std::uint8_t ShiftOctetRight(std::uint8_t value, std::uint8_t count);
    static Word RotateWordLeft(Word value, std::int16_t count);
    static std::uint8_t RotateOctetLeft(std::uint8_t value, std::uint8_t count);
    static Word JoinWord(const std::array<std::uint8_t, 4>& b);
    static Word JoinWordAt(ByteArrayView b, std::int32_t k);
    static void SplitWord(Word a, std::array<std::uint8_t, 4>& b);
    static void SplitWordAt(Word a, ByteArray& b, std::int32_t k);
    static std::uint8_t GfDouble(std::uint8_t a);

    // Field helpers that need the tables of gentables.
    std::uint8_t GfMultiply(std::uint8_t x, std::uint8_t y) const;
    Word SubstituteWord(Word a) const;
    std::uint8_t GfDotProduct(Word x, Word y) const;
    Word InverseMixWord(Word x) const;
    std::uint8_t SboxEntry(std::uint8_t x) const;

    // Read access for tests and diagnostics.
    const std::array<std::uint8_t, 256>& sbox() const { return sbox_; }
    const std::array<std::uint8_t, 256>& inverseSbox() const { return inverseSbox_; }
    const std::array<std::uint8_t, 256>& antilogTable() const { return antilogTable_; }
    const std::array<std::uint8_t, 256>& logTable() const { return logTable_; }
    const std::array<Word, 256>& forwardRoundTable() const { return forwardRoundTable_; }
    const std::array<Word, 256>& inverseRoundTable() const { return inverseRoundTable_; }
    const std::array<Word, 30>& roundConstants() const { return roundConstants_; }
    std::int32_t keyWords() const { return keyWords_; }
    std::int32_t blockWords() const { return blockWords_; }
    std::int32_t roundCount() const { return roundCount_; }
    const std::array<std::uint8_t, 24>& forwardShiftIndex() const { return forwardShiftIndex_; }
    const std::array<std::uint8_t, 24>& inverseShiftIndex() const { return inverseShiftIndex_; }
    const std::array<Word, 120>& encryptionSchedule() const { return encryptionSchedule_; }
    const std::array<Word, 120>& decryptionSchedule() const { return decryptionSchedule_; }

private:
    enum class Direction { Forward, Inverse };
    template <Direction D>
    void transform(std::uint8_t* data, std::size_t blocks) const;
    void keyFromPassword(ByteArrayView bytPassword);

    std::array<std::uint8_t, 256> sbox_{};
    std::array<std::uint8_t, 256> inverseSbox_{};
    std::array<std::uint8_t, 256> antilogTable_{};
    std::array<std::uint8_t, 256> logTable_{};
    std::array<Word, 256> forwardRoundTable_{};
    std::array<Word, 256> inverseRoundTable_{};
    std::array<Word, 30> roundConstants_{};
    std::int32_t keyWords_ = 0;
    std::int32_t blockWords_ = 0;
    std::int32_t roundCount_ = 0;
    std::array<std::uint8_t, 24> forwardShiftIndex_{};
    std::array<std::uint8_t, 24> inverseShiftIndex_{};
    std::array<Word, 120> encryptionSchedule_{};
    std::array<Word, 120> decryptionSchedule_{};
    // The round tables turned by 8, 16 and 24 bits, derived with them: the
    // block loop then looks up instead of rotating.
    std::array<std::array<Word, 256>, 3> forwardRotated_{};
    std::array<std::array<Word, 256>, 3> inverseRotated_{};
    bool hardwareRounds_ = defaultHardwareRounds();
    static bool defaultHardwareRounds();
};

} // namespace qel::crypt
