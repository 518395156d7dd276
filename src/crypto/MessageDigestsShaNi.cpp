// SHA-1 compression with the processor's SHA instructions (x86-64 SHA extensions). Built with the
// instruction set enabled for these functions only; called only after the processor reported it.
#include "Processor.h"
#include "crypto/MessageDigests.h"

namespace zarn::sha1 {

bool ShaInstructionsAvailable() {
    return processor::Features().Sha;
}

} // namespace zarn::sha1

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace zarn::sha1 {

namespace {

// Four rounds; the round function is an immediate operand, hence the switch.
__attribute__((target("sha,sse4.1,ssse3"))) __m128i FourRounds(__m128i abcd, __m128i e, int group) {
    switch (group / 5) {
    case 0:
        return _mm_sha1rnds4_epu32(abcd, e, 0);
    case 1:
        return _mm_sha1rnds4_epu32(abcd, e, 1);
    case 2:
        return _mm_sha1rnds4_epu32(abcd, e, 2);
    default:
        return _mm_sha1rnds4_epu32(abcd, e, 3);
    }
}

} // namespace

// The lanes hold the words highest first: ABCD has A in lane 3, E sits in lane 3 of its register,
// and each message register holds four schedule words with the earliest in lane 3.
__attribute__((target("sha,sse4.1,ssse3"))) void
CompressShaInstructions(std::uint32_t state[5], const unsigned char* blocks, std::size_t count) {
    const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
    __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
    __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
    for (; count > 0; --count, blocks += 64) {
        const __m128i abcdSaved = abcd;
        const __m128i eSaved = e0;
        __m128i message[4];
        for (int i = 0; i < 4; ++i)
            message[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(blocks + 16 * i)),
                                          byteSwap);
        __m128i e = _mm_add_epi32(e0, message[0]);
        __m128i abcdBefore = abcd;
        for (int group = 0; group < 20; ++group) {
            abcdBefore = abcd;
            abcd = FourRounds(abcd, e, group);
            const int next = group + 1;
            if (next == 20)
                break;
            if (next >= 4) {
                // W[4n..4n+3] from the four groups before it.
                __m128i& w = message[next % 4];
                w = _mm_sha1msg1_epu32(w, message[(next + 1) % 4]);
                w = _mm_xor_si128(w, message[(next + 2) % 4]);
                w = _mm_sha1msg2_epu32(w, message[(next + 3) % 4]);
            }
            e = _mm_sha1nexte_epu32(abcdBefore, message[next % 4]);
        }
        e0 = _mm_sha1nexte_epu32(abcdBefore, eSaved);
        abcd = _mm_add_epi32(abcd, abcdSaved);
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
    state[4] = static_cast<std::uint32_t>(_mm_extract_epi32(e0, 3));
}

} // namespace zarn::sha1

#else

namespace zarn::sha1 {
void CompressShaInstructions(std::uint32_t state[5], const unsigned char* blocks, std::size_t count) {
    CompressPortable(state, blocks, count);
}
} // namespace zarn::sha1

#endif
