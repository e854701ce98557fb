#include "crypt/QelvanCryptCls.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <utility>

#include "common/NumberedError.h"
#include "crypt/HardwareRounds.h"

namespace qel::crypt {

namespace {

constexpr std::size_t kBlockBytes = 32; // the whole-buffer functions: Nb = Nk = 8
constexpr std::int32_t kMaxWords = 8;

template <class Array>
auto& at(Array& a, std::int64_t i)
{
    if (i < 0 || static_cast<std::uint64_t>(i) >= a.size())
        raise(ErrorNumber::SubscriptOutOfRange);
    return a[static_cast<std::size_t>(i)];
}

Word load(const std::uint8_t* p)
{
    return Word{p[0]} | Word{p[1]} << 8 | Word{p[2]} << 16 | Word{p[3]} << 24;
}

void store(Word w, std::uint8_t* p)
{
    p[0] = static_cast<std::uint8_t>(w);
    p[1] = static_cast<std::uint8_t>(w >> 8);
    p[2] = static_cast<std::uint8_t>(w >> 16);
    p[3] = static_cast<std::uint8_t>(w >> 24);
}

// Row r of column j comes from column (j + offset_r) mod nb. The encryption
// offsets are 1, C2, C3; the decryption ones nb minus those.
struct Layout {
    const Word* schedule;
    const Word* roundTable;
    const std::array<std::array<Word, 256>, 3>* rotatedTables; // roundTable turned by 8, 16, 24 bits
    const std::uint8_t* substitution;
    const std::uint8_t* shiftIndex; // 3 entries per column
    int rounds;
};

// One block in place. Nb and the row offsets are compile-time for the block
// lengths the system uses: every column is spelled out, so the state lives in
// registers and each table index is a constant shift.
template <int Nb, int R1, int R2, int R3>
struct Rounds {
    template <std::size_t... J>
    static void middle(const Word* x, Word* y, const Word* k, const Layout& l, std::index_sequence<J...>)
    {
        const Word* t0 = l.roundTable;
        const Word* t1 = (*l.rotatedTables)[0].data();
        const Word* t2 = (*l.rotatedTables)[1].data();
        const Word* t3 = (*l.rotatedTables)[2].data();
        ((y[J] = k[J] ^ t0[x[J] & 0xFF] ^ t1[(x[(J + R1) % Nb] >> 8) & 0xFF] ^ t2[(x[(J + R2) % Nb] >> 16) & 0xFF]
              ^ t3[x[(J + R3) % Nb] >> 24]),
         ...);
    }

    template <std::size_t... J>
    static void last(const Word* x, Word* y, const Word* k, const std::uint8_t* s, std::index_sequence<J...>)
    {
        ((y[J] = k[J] ^ Word{s[x[J] & 0xFF]} ^ Word{s[(x[(J + R1) % Nb] >> 8) & 0xFF]} << 8
              ^ Word{s[(x[(J + R2) % Nb] >> 16) & 0xFF]} << 16 ^ Word{s[x[(J + R3) % Nb] >> 24]} << 24),
         ...);
    }

    static void run(std::uint8_t* block, const Layout& l)
    {
        constexpr auto columns = std::make_index_sequence<Nb>();
        Word x[Nb];
        Word y[Nb];
        const Word* k = l.schedule;
        for (int i = 0; i < Nb; ++i)
            x[i] = load(block + 4 * i) ^ k[i];
        k += Nb;
        // Two rounds per pass, so the states trade places without a copy.
        int round = 1;
        for (; round + 1 < l.rounds; round += 2, k += 2 * Nb) {
            middle(x, y, k, l, columns);
            middle(y, x, k + Nb, l, columns);
        }
        if (round < l.rounds) {
            middle(x, y, k, l, columns);
            k += Nb;
            std::copy(y, y + Nb, x);
        }
        last(x, y, k, l.substitution, columns);
        for (int i = 0; i < Nb; ++i)
            store(y[i], block + 4 * i);
    }
};

template <int Nb, int R1, int R2, int R3>
void runRounds(std::uint8_t* block, const Layout& l)
{
    Rounds<Nb, R1, R2, R3>::run(block, l);
}

// Any other block length up to 8 words, driven by the shift-index table.
void runRoundsGeneric(std::uint8_t* block, int nb, const Layout& l)
{
    Word x[kMaxWords];
    Word y[kMaxWords];
    const Word* k = l.schedule;
    const Word* t = l.roundTable;
    const std::uint8_t* X = l.shiftIndex;
    for (int i = 0; i < nb; ++i)
        x[i] = load(block + 4 * i) ^ k[i];
    k += nb;
    for (int round = 1; round < l.rounds; ++round, k += nb) {
        for (int j = 0; j < nb; ++j)
            y[j] = k[j] ^ t[x[j] & 0xFF] ^ std::rotl(t[(x[X[3 * j]] >> 8) & 0xFF], 8)
                ^ std::rotl(t[(x[X[3 * j + 1]] >> 16) & 0xFF], 16) ^ std::rotl(t[x[X[3 * j + 2]] >> 24], 24);
        std::copy(y, y + nb, x);
    }
    const std::uint8_t* s = l.substitution;
    for (int j = 0; j < nb; ++j)
        y[j] = k[j] ^ Word{s[x[j] & 0xFF]} ^ Word{s[(x[X[3 * j]] >> 8) & 0xFF]} << 8
            ^ Word{s[(x[X[3 * j + 1]] >> 16) & 0xFF]} << 16 ^ Word{s[x[X[3 * j + 2]] >> 24]} << 24;
    for (int i = 0; i < nb; ++i)
        store(y[i], block + 4 * i);
}

} // namespace

// ---- word and byte helpers ----

Word QelvanCryptCls::ShiftWordLeft(Word value, std::int16_t count)
{
    if (count < 0 || count > 31)
        raise(ErrorNumber::Overflow);
    return value << count;
}

Word QelvanCryptCls::ShiftWordRight(Word value, std::int16_t count)
{
    if (count < 0 || count > 31)
        raise(ErrorNumber::Overflow);
    return value >> count;
}

std::uint8_t QelvanCryptCls::ShiftOctetLeft(std::uint8_t value, std::uint8_t count)
{
    if (count > 7)
        raise(ErrorNumber::Overflow);
    return static_cast<std::uint8_t>(value << count);
}

std::uint8_t QelvanCryptCls::ShiftOctetRight(std::uint8_t value, std::uint8_t count)
{
    if (count > 7)
        raise(ErrorNumber::Overflow);
    return static_cast<std::uint8_t>(value >> count);
}

Word QelvanCryptCls::RotateWordLeft(Word value, std::int16_t count)
{
    return ShiftWordLeft(value, count) | ShiftWordRight(value, static_cast<std::int16_t>(32 - count));
}

std::uint8_t QelvanCryptCls::RotateOctetLeft(std::uint8_t value, std::uint8_t count)
{
    return ShiftOctetLeft(value, count) | ShiftOctetRight(value, static_cast<std::uint8_t>(8 - count));
}

Word QelvanCryptCls::JoinWord(const std::array<std::uint8_t, 4>& b)
{
    return load(b.data());
}

Word QelvanCryptCls::JoinWordAt(ByteArrayView b, std::int32_t k)
{
    return load(b.range(k, 4).data());
}

void QelvanCryptCls::SplitWord(Word a, std::array<std::uint8_t, 4>& b)
{
    store(a, b.data());
}

void QelvanCryptCls::SplitWordAt(Word a, ByteArray& b, std::int32_t k)
{
    store(a, b.range(k, 4).data());
}

std::uint8_t QelvanCryptCls::GfDouble(std::uint8_t a)
{
    const auto doubled = static_cast<std::uint8_t>(a << 1);
    return (a & 0x80) ? static_cast<std::uint8_t>(doubled ^ 0x1B) : doubled;
}

// ---- field helpers ----

std::uint8_t QelvanCryptCls::GfMultiply(std::uint8_t x, std::uint8_t y) const
{
    if (x == 0 || y == 0)
        return 0;
    return antilogTable_[(logTable_[x] + logTable_[y]) % 255];
}

Word QelvanCryptCls::SubstituteWord(Word a) const
{
    return Word{sbox_[a & 0xFF]} | Word{sbox_[(a >> 8) & 0xFF]} << 8 | Word{sbox_[(a >> 16) & 0xFF]} << 16
        | Word{sbox_[a >> 24]} << 24;
}

std::uint8_t QelvanCryptCls::GfDotProduct(Word x, Word y) const
{
    std::uint8_t sum = 0;
    for (int i = 0; i < 32; i += 8)
        sum ^= GfMultiply(static_cast<std::uint8_t>(x >> i), static_cast<std::uint8_t>(y >> i));
    return sum;
}

Word QelvanCryptCls::InverseMixWord(Word x) const
{
    Word m = JoinWord(inverseMixCoefficients);
    Word result = 0;
    for (int byte = 3; byte >= 0; --byte) {
        result |= Word{GfDotProduct(m, x)} << (8 * byte);
        m = RotateWordLeft(m, 24);
    }
    return result;
}

std::uint8_t QelvanCryptCls::SboxEntry(std::uint8_t x) const
{
    std::uint8_t y = antilogTable_[255 - logTable_[x]];
    std::uint8_t z = y;
    for (int i = 0; i < 4; ++i) {
        z = RotateOctetLeft(z, 1);
        y ^= z;
    }
    return y ^ 0x63;
}

// ---- tables and key schedule ----

void QelvanCryptCls::gentables()
{
    logTable_[0] = 0;
    antilogTable_[0] = 1;
    logTable_[1] = 0;
    antilogTable_[1] = 3;
    logTable_[3] = 1;
    for (int i = 2; i < 256; ++i) {
        const std::uint8_t previous = antilogTable_[i - 1];
        antilogTable_[i] = previous ^ GfDouble(previous);
        logTable_[antilogTable_[i]] = static_cast<std::uint8_t>(i);
    }

    sbox_[0] = 0x63;
    inverseSbox_[0x63] = 0;
    for (int i = 1; i < 256; ++i) {
        const std::uint8_t y = SboxEntry(static_cast<std::uint8_t>(i));
        sbox_[i] = y;
        inverseSbox_[y] = static_cast<std::uint8_t>(i);
    }

    std::uint8_t constant = 1;
    for (auto& entry : roundConstants_) {
        entry = constant;
        constant = GfDouble(constant);
    }

    // Products by the column-mix coefficients through doublings: the same
    // field products as GfMultiply, without the logarithm round trip, which
    // keeps this per-call rebuild cheap.
    for (int i = 0; i < 256; ++i) {
        const std::uint8_t y = sbox_[i];
        const std::uint8_t y2 = GfDouble(y);
        forwardRoundTable_[i] = Word{y2} | Word{y} << 8 | Word{y} << 16 | Word{static_cast<std::uint8_t>(y ^ y2)} << 24;

        const std::uint8_t v = inverseSbox_[i];
        const std::uint8_t v2 = GfDouble(v);
        const std::uint8_t v4 = GfDouble(v2);
        const std::uint8_t v8 = GfDouble(v4);
        const Word times14 = v8 ^ v4 ^ v2;
        const Word times9 = v8 ^ v;
        const Word times13 = v8 ^ v4 ^ v;
        const Word times11 = v8 ^ v2 ^ v;
        inverseRoundTable_[i] = times14 | times9 << 8 | times13 << 16 | times11 << 24;
        for (int r = 0; r < 3; ++r) {
            forwardRotated_[r][i] = std::rotl(forwardRoundTable_[i], 8 * (r + 1));
            inverseRotated_[r][i] = std::rotl(inverseRoundTable_[i], 8 * (r + 1));
        }
    }
}

void QelvanCryptCls::gkey(std::int32_t nb, std::int32_t nk, ByteArrayView KEY)
{
    if (nb < 1 || nk < 1)
        raise(ErrorNumber::InvalidArgument);
    if (nb > kMaxWords || nk > kMaxWords)
        raise(ErrorNumber::SubscriptOutOfRange);

    keyWords_ = nk;
    blockWords_ = nb;
    roundCount_ = (nb >= nk ? nb : nk) + 6;

    const int c1 = 1;
    const int c2 = nb < 8 ? 2 : 3;
    const int c3 = nb < 8 ? 3 : 4;
    for (int j = 0; j < nb; ++j) {
        const int m = 3 * j;
        forwardShiftIndex_[m] = static_cast<std::uint8_t>((j + c1) % nb);
        forwardShiftIndex_[m + 1] = static_cast<std::uint8_t>((j + c2) % nb);
        forwardShiftIndex_[m + 2] = static_cast<std::uint8_t>((j + c3) % nb);
        inverseShiftIndex_[m] = static_cast<std::uint8_t>((nb + j - c1) % nb);
        inverseShiftIndex_[m + 1] = static_cast<std::uint8_t>((nb + j - c2) % nb);
        inverseShiftIndex_[m + 2] = static_cast<std::uint8_t>((nb + j - c3) % nb);
    }

    const int n = nb * (roundCount_ + 1);
    std::array<Word, kMaxWords> keyWord{};
    for (int i = 0; i < nk; ++i)
        keyWord[i] = JoinWordAt(KEY, 4 * i);
    auto& e = encryptionSchedule_;
    std::copy_n(keyWord.begin(), nk, e.begin());

    // Checked indexing: short keys (nk < 4) run out of round constants.
    for (int j = nk, k = 0; j < n; j += nk, ++k) {
        at(e, j) = at(e, j - nk) ^ SubstituteWord(RotateWordLeft(at(e, j - 1), 24)) ^ at(roundConstants_, k);
        if (nk <= 6) {
            for (int i = 1; i < nk && j + i < n; ++i)
                e[j + i] = e[j + i - nk] ^ e[j + i - 1];
        } else {
            for (int i = 1; i < 4 && j + i < n; ++i)
                e[j + i] = e[j + i - nk] ^ e[j + i - 1];
            if (j + 4 < n)
                e[j + 4] = e[j + 4 - nk] ^ SubstituteWord(e[j + 3]);
            for (int i = 5; i < nk && j + i < n; ++i)
                e[j + i] = e[j + i - nk] ^ e[j + i - 1];
        }
    }

    // inverseRoundTable[sbox[b]] is the inverse column mix of (b, 0, 0, 0);
    // four lookups give InverseMixWord without sixteen field products.
    const auto inverseMix = [this](Word x) {
        const auto& t = inverseRoundTable_;
        return t[sbox_[x & 0xFF]] ^ std::rotl(t[sbox_[(x >> 8) & 0xFF]], 8)
            ^ std::rotl(t[sbox_[(x >> 16) & 0xFF]], 16) ^ std::rotl(t[sbox_[x >> 24]], 24);
    };
    auto& d = decryptionSchedule_;
    for (int j = 0; j < nb; ++j)
        d[n - nb + j] = e[j];
    for (int i = nb; i < n - nb; i += nb)
        for (int j = 0; j < nb; ++j)
            d[n - nb - i + j] = inverseMix(e[i + j]);
    for (int j = n - nb; j < n; ++j)
        d[j - n + nb] = e[j];
}

// ---- block transform ----

bool QelvanCryptCls::defaultHardwareRounds()
{
    return HardwareRounds::available();
}

void QelvanCryptCls::useHardwareRounds(bool enabled)
{
    hardwareRounds_ = enabled && HardwareRounds::available();
}

// `blocks` consecutive blocks of 4 * Nb bytes, in place.
template <QelvanCryptCls::Direction D>
void QelvanCryptCls::transform(std::uint8_t* data, std::size_t blocks) const
{
    const bool forward = D == Direction::Forward;
    const Word* schedule = forward ? encryptionSchedule_.data() : decryptionSchedule_.data();
    if (blockWords_ == 8 && hardwareRounds_) {
        forward ? HardwareRounds::encrypt(data, blocks, schedule, roundCount_)
                : HardwareRounds::decrypt(data, blocks, schedule, roundCount_);
        return;
    }
    const Layout layout{
        schedule,
        forward ? forwardRoundTable_.data() : inverseRoundTable_.data(),
        forward ? &forwardRotated_ : &inverseRotated_,
        forward ? sbox_.data() : inverseSbox_.data(),
        forward ? forwardShiftIndex_.data() : inverseShiftIndex_.data(),
        roundCount_,
    };
    void (*rounds)(std::uint8_t*, const Layout&) = nullptr;
    switch (blockWords_) {
    case 4: rounds = forward ? runRounds<4, 1, 2, 3> : runRounds<4, 3, 2, 1>; break;
    case 6: rounds = forward ? runRounds<6, 1, 2, 3> : runRounds<6, 5, 4, 3>; break;
    case 8: rounds = forward ? runRounds<8, 1, 3, 4> : runRounds<8, 7, 5, 4>; break;
    default:
        for (std::size_t b = 0; b < blocks; ++b)
            runRoundsGeneric(data + 4 * blockWords_ * b, blockWords_, layout);
        return;
    }
    for (std::size_t b = 0; b < blocks; ++b)
        rounds(data + 4 * blockWords_ * b, layout);
}

void QelvanCryptCls::Encrypt(ByteArray& buff) const
{
    transform<Direction::Forward>(buff.range(0, 4 * static_cast<std::size_t>(blockWords_)).data(), 1);
}

void QelvanCryptCls::Decrypt(ByteArray& buff) const
{
    transform<Direction::Inverse>(buff.range(0, 4 * static_cast<std::size_t>(blockWords_)).data(), 1);
}

// ---- whole-buffer framing ----

void QelvanCryptCls::keyFromPassword(ByteArrayView bytPassword)
{
    std::array<std::uint8_t, 32> key{};
    const std::int64_t used = std::min<std::int64_t>(bytPassword.upperBound() + 1, key.size());
    if (used > 0) {
        const auto bytes = bytPassword.range(0, static_cast<std::size_t>(used));
        std::copy(bytes.begin(), bytes.end(), key.begin());
    }
    gentables();
    gkey(8, 8, ByteArrayView(key));
}

ByteArray QelvanCryptCls::EncryptData(ByteArrayView bytMessage, ByteArrayView bytPassword)
{
    if (!bytMessage.hasStorage() || !bytPassword.hasStorage())
        return {};
    keyFromPassword(bytPassword);

    constexpr std::int64_t maxLength = std::numeric_limits<std::int32_t>::max();
    const std::int64_t length = bytMessage.upperBound() + 1;
    std::int64_t frameBytes = length + 4;
    if (frameBytes % 32 != 0)
        frameBytes += 32 - frameBytes % 32;
    if (length > maxLength || frameBytes > maxLength)
        raise(ErrorNumber::Overflow);
    if (length <= 0) // there is no entry 0 to copy from
        raise(ErrorNumber::SubscriptOutOfRange);
    const auto message = bytMessage.range(0, static_cast<std::size_t>(length));

    // The frame is built in the result and encrypted in place.
    std::vector<std::uint8_t> result(static_cast<std::size_t>(frameBytes));
    store(static_cast<Word>(length), result.data());
    std::copy(message.begin(), message.end(), result.begin() + 4);
    transform<Direction::Forward>(result.data(), result.size() / kBlockBytes);
    return ByteArray(std::move(result));
}

ByteArray QelvanCryptCls::DecryptData(ByteArrayView bytIn, ByteArrayView bytPassword)
{
    if (!bytIn.hasStorage() || !bytPassword.hasStorage())
        return {};
    const std::int64_t inputBytes = bytIn.upperBound() + 1;
    if (inputBytes % 32 != 0)
        return {};
    keyFromPassword(bytPassword);
    if (inputBytes > std::numeric_limits<std::int32_t>::max())
        raise(ErrorNumber::Overflow);
    if (inputBytes <= 0) // no length prefix to read
        raise(ErrorNumber::SubscriptOutOfRange);
    const auto input = bytIn.range(0, static_cast<std::size_t>(inputBytes));

    // The first block tells how many blocks carry the message; the rest are
    // never examined.
    std::array<std::uint8_t, kBlockBytes> first;
    std::copy_n(input.begin(), kBlockBytes, first.begin());
    transform<Direction::Inverse>(first.data(), 1);
    const auto length = static_cast<std::int32_t>(load(first.data()));
    if (length > inputBytes - 4)
        return {};
    if (length == std::numeric_limits<std::int32_t>::min())
        raise(ErrorNumber::Overflow);
    if (length <= 0)
        raise(ErrorNumber::SubscriptOutOfRange);

    const std::size_t frameBytes = (static_cast<std::size_t>(length) + 4 + kBlockBytes - 1) / kBlockBytes * kBlockBytes;
    std::vector<std::uint8_t> frame(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(frameBytes));
    std::copy(first.begin(), first.end(), frame.begin());
    transform<Direction::Inverse>(frame.data() + kBlockBytes, frameBytes / kBlockBytes - 1);
    frame.erase(frame.begin(), frame.begin() + 4);
    frame.resize(static_cast<std::size_t>(length));
    return ByteArray(std::move(frame));
}

} // namespace qel::crypt
