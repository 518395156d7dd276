// The almost Montgomery product of BigIntIfma.h on AVX-512 IFMA. This file alone is compiled with the
// instruction set enabled, and holds nothing else: what it defines runs only after the engine has found
// IFMA on the processor and in the operating system's saved state.
#include "crypto/BigIntIfma.h"

#if defined(__x86_64__)
#include <immintrin.h>

// GCC 12's AVX-512 intrinsics start from an undefined register and warn about it.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace zarn::bigint {

namespace {

struct TIfmaLanes {
    using Vector = __m512i;
    static Vector Zero() { return _mm512_setzero_si512(); }
    static Vector Load(const std::uint64_t* p) { return _mm512_loadu_si512(p); }
    static void Store(std::uint64_t* p, Vector v) { _mm512_storeu_si512(p, v); }
    static Vector Broadcast(std::uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
    static Vector MulLowAdd(Vector acc, Vector a, Vector b) { return _mm512_madd52lo_epu64(acc, a, b); }
    static Vector MulHighAdd(Vector acc, Vector a, Vector b) { return _mm512_madd52hi_epu64(acc, a, b); }
    static Vector Add(Vector a, Vector b) { return _mm512_add_epi64(a, b); }
    static Vector ShiftDown(Vector v, Vector above) { return _mm512_alignr_epi64(above, v, 1); }
    static std::uint64_t Lane1(Vector v) {
        return static_cast<std::uint64_t>(_mm_extract_epi64(_mm512_castsi512_si128(v), 1));
    }
};

} // namespace

TLimbProducts IfmaLimbProducts() {
    return LimbProductFor<TIfmaLanes>;
}

} // namespace zarn::bigint

#else
namespace zarn::bigint {

TLimbProducts IfmaLimbProducts() {
    return nullptr;
}

} // namespace zarn::bigint
#endif
