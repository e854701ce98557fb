#include "crypt/HardwareRounds.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define QEL_HARDWARE_ROUNDS 1
#endif

namespace qel::crypt {

#ifdef QEL_HARDWARE_ROUNDS

namespace {

// Byte 4c + r of a half is row r of its column c. Row r of the block moves
// by rowOffset[r] columns: out(r, g) = in(r, (g + rowOffset[r]) mod 8).
struct HalfShuffle {
    std::array<std::uint8_t, 16> blendMask; // 0x80 where the byte comes from the right half
    std::array<std::uint8_t, 16> shuffle;   // pshufb indices, instruction's own shift undone
};

// aesShift is +1 for AESENC (row r taken from column c + r) and -1 for AESDEC.
constexpr HalfShuffle makeHalfShuffle(int half, const std::array<int, 4>& rowOffset, int aesShift)
{
    HalfShuffle s{};
    for (int r = 0; r < 4; ++r) {
        for (int p = 0; p < 4; ++p) {
            // The one output column c of this half that reads position p of row r.
            const int c = ((p - rowOffset[r]) % 4 + 4) % 4;
            const int source = (4 * half + c + rowOffset[r]) % 8;
            s.blendMask[4 * p + r] = source >= 4 ? 0x80 : 0;
        }
        for (int c = 0; c < 4; ++c) {
            const int wanted = ((c - aesShift * r) % 4 + 4) % 4; // column after the instruction's shift
            const int p = (wanted + rowOffset[r]) % 4;
            s.shuffle[4 * c + r] = static_cast<std::uint8_t>(4 * p + r);
        }
    }
    return s;
}

constexpr std::array<int, 4> kForwardOffsets{0, 1, 3, 4};
constexpr std::array<int, 4> kInverseOffsets{0, 7, 5, 4};
constexpr HalfShuffle kForward[2] = {makeHalfShuffle(0, kForwardOffsets, 1), makeHalfShuffle(1, kForwardOffsets, 1)};
constexpr HalfShuffle kInverse[2] = {makeHalfShuffle(0, kInverseOffsets, -1), makeHalfShuffle(1, kInverseOffsets, -1)};

#define QEL_TARGET __attribute__((target("aes,sse4.1")))

QEL_TARGET inline __m128i loadBytes(const void* p)
{
    return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Everything stays inside one function: on 32-bit x86 the base ABI has no
// vector registers to pass or return these values in.
template <bool Forward>
QEL_TARGET void run(std::uint8_t* data, std::size_t blocks, const std::uint32_t* schedule, int rounds)
{
    const HalfShuffle(&s)[2] = Forward ? kForward : kInverse;
    const __m128i blendLeft = loadBytes(s[0].blendMask.data());
    const __m128i blendRight = loadBytes(s[1].blendMask.data());
    const __m128i shuffleLeft = loadBytes(s[0].shuffle.data());
    const __m128i shuffleRight = loadBytes(s[1].shuffle.data());
    for (std::size_t b = 0; b < blocks; ++b, data += 32) {
        const std::uint32_t* key = schedule;
        __m128i left = _mm_xor_si128(loadBytes(data), loadBytes(key));
        __m128i right = _mm_xor_si128(loadBytes(data + 16), loadBytes(key + 4));
        for (int round = 1; round <= rounds; ++round) {
            key += 8;
            const __m128i l = _mm_shuffle_epi8(_mm_blendv_epi8(left, right, blendLeft), shuffleLeft);
            const __m128i r = _mm_shuffle_epi8(_mm_blendv_epi8(left, right, blendRight), shuffleRight);
            const __m128i keyLeft = loadBytes(key);
            const __m128i keyRight = loadBytes(key + 4);
            if (round < rounds) {
                left = Forward ? _mm_aesenc_si128(l, keyLeft) : _mm_aesdec_si128(l, keyLeft);
                right = Forward ? _mm_aesenc_si128(r, keyRight) : _mm_aesdec_si128(r, keyRight);
            } else {
                left = Forward ? _mm_aesenclast_si128(l, keyLeft) : _mm_aesdeclast_si128(l, keyLeft);
                right = Forward ? _mm_aesenclast_si128(r, keyRight) : _mm_aesdeclast_si128(r, keyRight);
            }
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(data), left);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(data + 16), right);
    }
}

} // namespace

bool HardwareRounds::available()
{
    // Asked once per process: __builtin_cpu_init rewrites data shared by every
    // thread, and objects on several threads may ask at the same time.
    static const bool present = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("aes") && __builtin_cpu_supports("sse4.1");
    }();
    return present;
}

void HardwareRounds::encrypt(std::uint8_t* data, std::size_t blocks, const std::uint32_t* schedule, int rounds)
{
    run<true>(data, blocks, schedule, rounds);
}

void HardwareRounds::decrypt(std::uint8_t* data, std::size_t blocks, const std::uint32_t* schedule, int rounds)
{
    run<false>(data, blocks, schedule, rounds);
}

#else

bool HardwareRounds::available() { return false; }
void HardwareRounds::encrypt(std::uint8_t*, std::size_t, const std::uint32_t*, int) {}
void HardwareRounds::decrypt(std::uint8_t*, std::size_t, const std::uint32_t*, int) {}

#endif

} // namespace qel::crypt
