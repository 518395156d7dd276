// The raw digit kernels: products and squares by columns (portable, AVX2 and AVX-512 forms, chosen at run
// time), addition, subtraction, comparison and the long division on bare digit arrays.
#include "crypto/BigInt.h"
#include "crypto/BigIntInternal.h"
#include "platform/Errors.h"

#include <algorithm>

#if defined(__x86_64__) && defined(__GNUC__)
#define ZARN_BIGINT_VECTOR 1
#include <immintrin.h>
// The vector kernels are compiled for their instruction sets function by function and only called after
// the processor reported them.
#define ZARN_AVX2 __attribute__((target("avx2")))
#define ZARN_AVX512 __attribute__((target("avx512f")))
#endif

namespace zarn {

namespace bigint {

namespace {

inline std::uint64_t U(Digit d) {
    return static_cast<std::uint64_t>(d);
}

// ---- Portable kernels ----
//
// A column sum is kept as acc + hi * 2^31. Four digit products, each at most (2^31 - 1)^2, plus an acc
// below 2^31 stay below 2^64, so acc takes four products between folds; hi grows by less than 2^33 per
// fold and stays far below 2^64 for any digit count the library meets.

inline void Fold(std::uint64_t& acc, std::uint64_t& hi) {
    hi += acc >> kDigitBits;
    acc &= kDigitMask;
}

void MultiplyColumnsPortable(const Digit* a, std::size_t na, const Digit* b, std::size_t nb,
                             std::size_t columns, const Digit* addend, Digit* r) {
    std::uint64_t carry = 0;
    std::uint64_t hiBelow = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        std::uint64_t acc = 0;
        std::uint64_t hi = 0;
        const std::size_t iLo = c + 1 > nb ? c + 1 - nb : 0;
        const std::size_t iEnd = std::min(na, c + 1);
        std::size_t i = iLo;
        for (; i + 4 <= iEnd; i += 4) {
            acc += U(a[i]) * U(b[c - i]) + U(a[i + 1]) * U(b[c - i - 1]) + U(a[i + 2]) * U(b[c - i - 2]) +
                   U(a[i + 3]) * U(b[c - i - 3]);
            Fold(acc, hi);
        }
        for (; i < iEnd; ++i)
            acc += U(a[i]) * U(b[c - i]);
        Fold(acc, hi);
        const std::uint64_t v = acc + hiBelow + carry + (addend != nullptr ? U(addend[c]) : 0);
        r[c] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        hiBelow = hi;
    }
}

void SquareColumnsPortable(const Digit* a, std::size_t n, Digit* r) {
    std::uint64_t carry = 0;
    std::uint64_t hiBelow = 0;
    for (std::size_t c = 0; c < 2 * n; ++c) {
        // Cross products a_i * a_j with i < j = c - i.
        std::uint64_t acc = 0;
        std::uint64_t hi = 0;
        const std::size_t iLo = c + 1 > n ? c + 1 - n : 0;
        const std::size_t iEnd = (c + 1) / 2;
        std::size_t i = iLo;
        for (; i + 4 <= iEnd; i += 4) {
            acc += U(a[i]) * U(a[c - i]) + U(a[i + 1]) * U(a[c - i - 1]) + U(a[i + 2]) * U(a[c - i - 2]) +
                   U(a[i + 3]) * U(a[c - i - 3]);
            Fold(acc, hi);
        }
        for (; i < iEnd; ++i)
            acc += U(a[i]) * U(a[c - i]);
        Fold(acc, hi);
        const std::uint64_t square = (c % 2 == 0 && c / 2 < n) ? U(a[c / 2]) * U(a[c / 2]) : 0;
        // The doubled column below 2^40 plus a square below 2^62 and a small carry.
        const std::uint64_t v = 2 * (acc + hiBelow) + square + carry;
        r[c] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        hiBelow = hi;
    }
}

// ---- Vector kernels ----
//
// A block of adjacent columns c = k0, k0 + 1, ... is formed at once, one column per 64-bit lane: row i
// multiplies a_i by the digits b[c - i], which lie side by side, so lanes whose index falls outside the
// operand read its zero padding. The multiply instruction takes the low 32 bits of each lane, which hold
// the whole digit.
//
// The column values are then turned into digits without a serial carry chain. Every column value X
// stays below 2^31 (n + 3), n the digit count, so one split of X into X mod 2^31 plus X div 2^31 carried
// one column up leaves digits below 2^31 + 2n + 3 with the same value. Such a digit is 2^31 or more only
// when the low bits of its column were within 2n + 3 of 2^31; that is rare but for runs of zero digits,
// and when it happens a scalar pass over the result settles the carries. The Montgomery reduction asks
// for the digits of its sum unsettled ("redundant") and settles them itself.
//
// Squares keep the cross products a_i * a_j with i < j only: lane l of row i holds j = k0 + l - i, to be
// kept when l > 2i - k0. Rows with 2i < k0 keep every lane, the next few only their upper lanes. The
// column value is twice the cross sum plus a_(c/2)^2 in the even columns; the square is split into its low
// 31 bits, added in its column, and the rest, carried to the next, so that the column values stay small.

#if ZARN_BIGINT_VECTOR

void SettleFullDigits(Digit* r, std::size_t columns) {
    std::uint64_t carry = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        const std::uint64_t v = U(r[c]) + carry;
        r[c] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
    }
}

// The entry points of one instruction set, compiled for it around its MultiplyBody and SquareBody:
// the general column products, and the exponentiation's products.
#define ZARN_DIGIT_KERNEL_ENTRY_POINTS(TARGET)                                                               \
    template <bool Settle>                                                                                   \
    TARGET void MultiplyColumns(const Digit* a, std::size_t na, const Digit* b, std::size_t nb,              \
                                std::size_t columns, const Digit* addend, Digit* r) {                        \
        MultiplyBody<Settle>(a, na, b, nb, columns, addend, r);                                              \
    }                                                                                                        \
    TARGET void SquareColumns(const Digit* a, std::size_t n, Digit* r) {                                     \
        SquareBody(a, n, r);                                                                                 \
    }                                                                                                        \
    TARGET void Product(const Digit* a, const Digit* b, std::size_t t, Digit* r) {                           \
        MultiplyBody<true>(a, t, b, t, 2 * t, nullptr, r);                                                   \
    }                                                                                                        \
    TARGET void LowProduct(const Digit* a, const Digit* b, std::size_t t, Digit* r) {                        \
        MultiplyBody<true>(a, t, b, t, t, nullptr, r);                                                       \
    }                                                                                                        \
    TARGET void ProductPlus(const Digit* a, const Digit* b, std::size_t t, const Digit* addend, Digit* r) {  \
        MultiplyBody<false>(a, t, b, t, 2 * t + 1, addend, r);                                               \
    }                                                                                                        \
    TARGET void Square(const Digit* a, std::size_t t, Digit* r) {                                            \
        SquareBody(a, t, r);                                                                                 \
    }                                                                                                        \
    inline TMontgomeryKernels MontgomeryKernels() {                                                          \
        return {Product, LowProduct, ProductPlus, Square};                                                   \
    }

namespace avx2 {

ZARN_AVX2 __attribute__((always_inline)) inline __m256i DigitMask() {
    return _mm256_set1_epi64x(static_cast<long long>(kDigitMask));
}

ZARN_AVX2 __attribute__((always_inline)) inline __m256i RowProduct(Digit digit, const Digit* b) {
    return _mm256_mul_epu32(_mm256_set1_epi64x(digit),
                            _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b)));
}

ZARN_AVX2 __attribute__((always_inline)) inline void Fold(__m256i& acc, __m256i& hi) {
    hi = _mm256_add_epi64(hi, _mm256_srli_epi64(acc, kDigitBits));
    acc = _mm256_and_si256(acc, DigitMask());
}

// Rows iLo .. iEnd - 1 of the block at k0, added into acc and hi.
ZARN_AVX2 __attribute__((always_inline)) inline void AddRows(const Digit* a, const Digit* b,
                                                             std::ptrdiff_t k0, std::ptrdiff_t iLo,
                                                             std::ptrdiff_t iEnd, __m256i& acc, __m256i& hi) {
    std::ptrdiff_t i = iLo;
    for (; i + 4 <= iEnd; i += 4) {
        const __m256i sum = _mm256_add_epi64(
            _mm256_add_epi64(RowProduct(a[i], b + k0 - i), RowProduct(a[i + 1], b + k0 - i - 1)),
            _mm256_add_epi64(RowProduct(a[i + 2], b + k0 - i - 2), RowProduct(a[i + 3], b + k0 - i - 3)));
        acc = _mm256_add_epi64(acc, sum);
        Fold(acc, hi);
    }
    // At most three rows are left.
    const std::ptrdiff_t rest = iEnd - i;
    if (rest > 0)
        acc = _mm256_add_epi64(acc, RowProduct(a[i], b + k0 - i));
    if (rest > 1)
        acc = _mm256_add_epi64(acc, RowProduct(a[i + 1], b + k0 - i - 1));
    if (rest > 2)
        acc = _mm256_add_epi64(acc, RowProduct(a[i + 2], b + k0 - i - 2));
    Fold(acc, hi);
}

ZARN_AVX2 __attribute__((always_inline)) inline __m256i LaneMask(std::size_t lanes) {
    return _mm256_cmpgt_epi64(_mm256_set1_epi64x(static_cast<long long>(lanes)),
                              _mm256_set_epi64x(3, 2, 1, 0));
}

// d[0 .. lanes) in the low lanes, zero above.
ZARN_AVX2 __attribute__((always_inline)) inline __m256i LoadLanes(const Digit* d, std::size_t lanes) {
    if (lanes == 4)
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d));
    return _mm256_maskload_epi64(reinterpret_cast<const long long*>(d), LaneMask(lanes));
}

// Moves every lane one column up: [v0 v1 v2 v3] gives [p3 v0 v1 v2], p3 being lane 3 of the previous
// block; `turned` carries [v3 v0 v1 v2] on to the next block.
ZARN_AVX2 __attribute__((always_inline)) inline __m256i ColumnUp(__m256i v, __m256i& turned) {
    const __m256i now = _mm256_permute4x64_epi64(v, _MM_SHUFFLE(2, 1, 0, 3));
    const __m256i shifted = _mm256_blend_epi32(now, turned, 0x03);
    turned = now;
    return shifted;
}

class TCarrier {
public:
    ZARN_AVX2 TCarrier() : m_hi(_mm256_setzero_si256()), m_low(m_hi), m_overflow(m_hi) {}

    // Writes the digits of the block whose column values are x plus hi carried in from the column below.
    ZARN_AVX2 __attribute__((always_inline)) inline void Put(__m256i x, __m256i hi, Digit* r,
                                                             std::size_t lanes) {
        const __m256i value = _mm256_add_epi64(x, ColumnUp(hi, m_hi));
        const __m256i above = _mm256_srli_epi64(value, kDigitBits);
        __m256i digits = _mm256_add_epi64(_mm256_and_si256(value, DigitMask()), ColumnUp(above, m_low));
        if (lanes == 4) {
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(r), digits);
        } else {
            const __m256i valid = LaneMask(lanes);
            digits = _mm256_and_si256(digits, valid);
            _mm256_maskstore_epi64(reinterpret_cast<long long*>(r), valid, digits);
        }
        m_overflow = _mm256_or_si256(m_overflow, digits);
    }

    // Settles digits of 2^31 or more, unless the caller takes the redundant digits.
    ZARN_AVX2 void Finish(Digit* r, std::size_t columns, bool settle) {
        if (settle && _mm256_movemask_pd(_mm256_castsi256_pd(_mm256_slli_epi64(m_overflow, 32))) != 0)
            SettleFullDigits(r, columns);
    }

private:
    __m256i m_hi, m_low, m_overflow;
};

template <bool Settle>
ZARN_AVX2 __attribute__((always_inline)) inline void
MultiplyBody(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, std::size_t columns,
             const Digit* addend, Digit* r) {
    TCarrier carrier;
    for (std::size_t block = 0; block < columns; block += 4) {
        const auto k0 = static_cast<std::ptrdiff_t>(block);
        const std::ptrdiff_t iLo = std::max<std::ptrdiff_t>(0, k0 + 1 - static_cast<std::ptrdiff_t>(nb));
        const std::ptrdiff_t iEnd = std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(na), k0 + 4);
        __m256i acc = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        AddRows(a, b, k0, iLo, iEnd, acc, hi);
        const std::size_t lanes = std::min<std::size_t>(4, columns - block);
        if (addend != nullptr)
            acc = _mm256_add_epi64(acc, LoadLanes(addend + block, lanes));
        carrier.Put(acc, hi, r + block, lanes);
    }
    carrier.Finish(r, columns, Settle);
}

ZARN_AVX2 __attribute__((always_inline)) inline void SquareBody(const Digit* a, std::size_t n, Digit* r) {
    const __m256i upperLanes[3] = {_mm256_set_epi64x(-1, -1, -1, 0), _mm256_set_epi64x(-1, -1, 0, 0),
                                   _mm256_set_epi64x(-1, 0, 0, 0)};
    const __m256i evenLanes = _mm256_set_epi64x(0, -1, 0, -1);
    const auto sn = static_cast<std::ptrdiff_t>(n);
    TCarrier carrier;
    for (std::size_t block = 0; block < 2 * n; block += 4) {
        const auto k0 = static_cast<std::ptrdiff_t>(block);
        const std::ptrdiff_t iLo = std::max<std::ptrdiff_t>(0, k0 + 1 - sn);
        const std::ptrdiff_t iFull = std::max(iLo, std::min<std::ptrdiff_t>(sn, (k0 + 1) / 2));
        const std::ptrdiff_t iEnd = std::min<std::ptrdiff_t>(sn, k0 / 2 + 2);
        __m256i acc = _mm256_setzero_si256();
        __m256i hi = _mm256_setzero_si256();
        AddRows(a, a, k0, iLo, iFull, acc, hi);
        for (std::ptrdiff_t i = iFull; i < iEnd; ++i)
            acc =
                _mm256_add_epi64(acc, _mm256_and_si256(RowProduct(a[i], a + k0 - i), upperLanes[2 * i - k0]));
        Fold(acc, hi);
        // Lanes 0 and 2 get a[k0/2] and a[k0/2 + 1] (the padding when past the end).
        const __m256i half = _mm256_permute4x64_epi64(
            _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + k0 / 2))),
            _MM_SHUFFLE(1, 1, 0, 0));
        const __m256i squares = _mm256_and_si256(_mm256_mul_epu32(half, half), evenLanes);
        const __m256i value =
            _mm256_add_epi64(_mm256_add_epi64(acc, acc), _mm256_and_si256(squares, DigitMask()));
        const __m256i carried =
            _mm256_add_epi64(_mm256_add_epi64(hi, hi), _mm256_srli_epi64(squares, kDigitBits));
        carrier.Put(value, carried, r + block, std::min<std::size_t>(4, 2 * n - block));
    }
    carrier.Finish(r, 2 * n, true);
}

ZARN_DIGIT_KERNEL_ENTRY_POINTS(ZARN_AVX2)

} // namespace avx2

// GCC 12's AVX-512 intrinsics start from an undefined register and warn about it.
#if !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace avx512 {

ZARN_AVX512 __attribute__((always_inline)) inline __m512i DigitMask() {
    return _mm512_set1_epi64(static_cast<long long>(kDigitMask));
}

ZARN_AVX512 __attribute__((always_inline)) inline __m512i RowProduct(Digit digit, const Digit* b) {
    return _mm512_mul_epu32(_mm512_set1_epi64(digit), _mm512_loadu_si512(b));
}

ZARN_AVX512 __attribute__((always_inline)) inline void Fold(__m512i& acc, __m512i& hi) {
    hi = _mm512_add_epi64(hi, _mm512_srli_epi64(acc, kDigitBits));
    acc = _mm512_and_si512(acc, DigitMask());
}

ZARN_AVX512 __attribute__((always_inline)) inline void AddRows(const Digit* a, const Digit* b,
                                                               std::ptrdiff_t k0, std::ptrdiff_t iLo,
                                                               std::ptrdiff_t iEnd, __m512i& acc,
                                                               __m512i& hi) {
    std::ptrdiff_t i = iLo;
    for (; i + 4 <= iEnd; i += 4) {
        const __m512i sum = _mm512_add_epi64(
            _mm512_add_epi64(RowProduct(a[i], b + k0 - i), RowProduct(a[i + 1], b + k0 - i - 1)),
            _mm512_add_epi64(RowProduct(a[i + 2], b + k0 - i - 2), RowProduct(a[i + 3], b + k0 - i - 3)));
        acc = _mm512_add_epi64(acc, sum);
        Fold(acc, hi);
    }
    // At most three rows are left.
    const std::ptrdiff_t rest = iEnd - i;
    if (rest > 0)
        acc = _mm512_add_epi64(acc, RowProduct(a[i], b + k0 - i));
    if (rest > 1)
        acc = _mm512_add_epi64(acc, RowProduct(a[i + 1], b + k0 - i - 1));
    if (rest > 2)
        acc = _mm512_add_epi64(acc, RowProduct(a[i + 2], b + k0 - i - 2));
    Fold(acc, hi);
}

inline __mmask8 LaneMask(std::size_t lanes) {
    return static_cast<__mmask8>((1u << lanes) - 1);
}

// d[0 .. lanes) in the low lanes, zero above.
ZARN_AVX512 __attribute__((always_inline)) inline __m512i LoadLanes(const Digit* d, std::size_t lanes) {
    if (lanes == 8)
        return _mm512_loadu_si512(d);
    return _mm512_maskz_loadu_epi64(LaneMask(lanes), d);
}

// Column c alone, in lane 0 of acc and hi: the sum of a_i * b_(c - i) for i in iLo .. iEnd - 1 (all inside
// both operands), eight rows at a time with b's digits turned round to meet a's.
ZARN_AVX512 __attribute__((always_inline)) inline void ColumnSum(const Digit* a, const Digit* b,
                                                                 std::ptrdiff_t c, std::ptrdiff_t iLo,
                                                                 std::ptrdiff_t iEnd, __m512i& acc,
                                                                 __m512i& hi) {
    const __m512i turn = _mm512_set_epi64(0, 1, 2, 3, 4, 5, 6, 7);
    __m512i lows = _mm512_setzero_si512();
    __m512i highs = _mm512_setzero_si512();
    std::ptrdiff_t i = iLo;
    for (; i + 8 <= iEnd; i += 8) {
        const __m512i products = _mm512_mul_epu32(
            _mm512_loadu_si512(a + i), _mm512_permutexvar_epi64(turn, _mm512_loadu_si512(b + c - i - 7)));
        lows = _mm512_add_epi64(lows, _mm512_and_si512(products, DigitMask()));
        highs = _mm512_add_epi64(highs, _mm512_srli_epi64(products, kDigitBits));
    }
    std::uint64_t low = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(lows));
    std::uint64_t high = static_cast<std::uint64_t>(_mm512_reduce_add_epi64(highs));
    for (; i < iEnd; ++i) {
        const std::uint64_t product = U(a[i]) * U(b[c - i]);
        low += product & kDigitMask;
        high += product >> kDigitBits;
    }
    acc = _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, static_cast<long long>(low));
    hi = _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, static_cast<long long>(high));
}

class TCarrier {
public:
    ZARN_AVX512 TCarrier() : m_hi(_mm512_setzero_si512()), m_low(m_hi), m_overflow(m_hi) {}

    // As the AVX2 form; valignq moves the lanes one column up, taking lane 7 of the previous block.
    ZARN_AVX512 __attribute__((always_inline)) inline void Put(__m512i x, __m512i hi, Digit* r,
                                                               std::size_t lanes) {
        const __m512i value = _mm512_add_epi64(x, _mm512_alignr_epi64(hi, m_hi, 7));
        const __m512i above = _mm512_srli_epi64(value, kDigitBits);
        const __m512i digits =
            _mm512_add_epi64(_mm512_and_si512(value, DigitMask()), _mm512_alignr_epi64(above, m_low, 7));
        if (lanes == 8) {
            _mm512_storeu_si512(r, digits);
            m_overflow = _mm512_or_si512(m_overflow, digits);
        } else {
            _mm512_mask_storeu_epi64(r, LaneMask(lanes), digits);
            m_overflow = _mm512_mask_or_epi64(m_overflow, LaneMask(lanes), m_overflow, digits);
        }
        m_hi = hi;
        m_low = above;
    }

    ZARN_AVX512 void Finish(Digit* r, std::size_t columns, bool settle) {
        if (settle &&
            _mm512_test_epi64_mask(m_overflow, _mm512_set1_epi64(static_cast<long long>(kBase))) != 0)
            SettleFullDigits(r, columns);
    }

private:
    __m512i m_hi, m_low, m_overflow;
};

template <bool Settle>
ZARN_AVX512 __attribute__((always_inline)) inline void
MultiplyBody(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, std::size_t columns,
             const Digit* addend, Digit* r) {
    TCarrier carrier;
    for (std::size_t block = 0; block < columns; block += 8) {
        const auto k0 = static_cast<std::ptrdiff_t>(block);
        const std::size_t lanes = std::min<std::size_t>(8, columns - block);
        const std::ptrdiff_t iLo = std::max<std::ptrdiff_t>(0, k0 + 1 - static_cast<std::ptrdiff_t>(nb));
        __m512i acc, hi;
        if (lanes == 1) {
            // A last block of one column is a dot product.
            ColumnSum(a, b, k0, iLo, std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(na), k0 + 1), acc,
                      hi);
        } else if (lanes <= 4) {
            // A last block of up to four columns takes half as wide rows.
            __m256i acc4 = _mm256_setzero_si256();
            __m256i hi4 = _mm256_setzero_si256();
            avx2::AddRows(a, b, k0, iLo, std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(na), k0 + 4),
                          acc4, hi4);
            acc = _mm512_zextsi256_si512(acc4);
            hi = _mm512_zextsi256_si512(hi4);
        } else {
            acc = _mm512_setzero_si512();
            hi = _mm512_setzero_si512();
            AddRows(a, b, k0, iLo, std::min<std::ptrdiff_t>(static_cast<std::ptrdiff_t>(na), k0 + 8), acc,
                    hi);
        }
        if (addend != nullptr)
            acc = _mm512_add_epi64(acc, LoadLanes(addend + block, lanes));
        carrier.Put(acc, hi, r + block, lanes);
    }
    carrier.Finish(r, columns, Settle);
}

ZARN_AVX512 __attribute__((always_inline)) inline void SquareBody(const Digit* a, std::size_t n, Digit* r) {
    const __m512i pairUp = _mm512_set_epi64(3, 3, 2, 2, 1, 1, 0, 0);
    const auto sn = static_cast<std::ptrdiff_t>(n);
    TCarrier carrier;
    for (std::size_t block = 0; block < 2 * n; block += 8) {
        const auto k0 = static_cast<std::ptrdiff_t>(block);
        const std::ptrdiff_t iLo = std::max<std::ptrdiff_t>(0, k0 + 1 - sn);
        const std::ptrdiff_t iFull = std::max(iLo, std::min<std::ptrdiff_t>(sn, (k0 + 1) / 2));
        const std::ptrdiff_t iEnd = std::min<std::ptrdiff_t>(sn, k0 / 2 + 4);
        __m512i acc = _mm512_setzero_si512();
        __m512i hi = _mm512_setzero_si512();
        AddRows(a, a, k0, iLo, iFull, acc, hi);
        for (std::ptrdiff_t i = iFull; i < iEnd; ++i) {
            const auto upper = static_cast<__mmask8>(0xFFu << (2 * i - k0 + 1));
            acc = _mm512_add_epi64(
                acc, _mm512_maskz_mul_epu32(upper, _mm512_set1_epi64(a[i]), _mm512_loadu_si512(a + k0 - i)));
        }
        Fold(acc, hi);
        // Lanes 0, 2, 4 and 6 get a[k0/2] .. a[k0/2 + 3] (the padding when past the end).
        const __m512i half = _mm512_permutexvar_epi64(
            pairUp, _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + k0 / 2))));
        const __m512i squares = _mm512_maskz_mul_epu32(0x55, half, half);
        const __m512i value =
            _mm512_add_epi64(_mm512_add_epi64(acc, acc), _mm512_and_si512(squares, DigitMask()));
        const __m512i carried =
            _mm512_add_epi64(_mm512_add_epi64(hi, hi), _mm512_srli_epi64(squares, kDigitBits));
        carrier.Put(value, carried, r + block, std::min<std::size_t>(8, 2 * n - block));
    }
    carrier.Finish(r, 2 * n, true);
}

ZARN_DIGIT_KERNEL_ENTRY_POINTS(ZARN_AVX512)

} // namespace avx512

#if !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#endif

detail::TDigitKernels& ActiveKernels() {
    static detail::TDigitKernels active = detail::BestDigitKernels();
    return active;
}

} // namespace

TColumnKernels CurrentColumnKernels() {
    switch (ActiveKernels()) {
#if ZARN_BIGINT_VECTOR
    case detail::TDigitKernels::Avx512:
        return {avx512::MultiplyColumns<true>, avx512::SquareColumns};
    case detail::TDigitKernels::Avx2:
        return {avx2::MultiplyColumns<true>, avx2::SquareColumns};
#endif
    default:
        return {MultiplyColumnsPortable, SquareColumnsPortable};
    }
}

namespace {

void PortableProduct(const Digit* a, const Digit* b, std::size_t t, Digit* r) {
    MultiplyColumnsPortable(a, t, b, t, 2 * t, nullptr, r);
}

void PortableLowProduct(const Digit* a, const Digit* b, std::size_t t, Digit* r) {
    MultiplyColumnsPortable(a, t, b, t, t, nullptr, r);
}

void PortableProductPlus(const Digit* a, const Digit* b, std::size_t t, const Digit* addend, Digit* r) {
    MultiplyColumnsPortable(a, t, b, t, 2 * t + 1, addend, r);
}

void PortableSquare(const Digit* a, std::size_t t, Digit* r) {
    SquareColumnsPortable(a, t, r);
}

} // namespace

TMontgomeryKernels MontgomeryKernels() {
    switch (ActiveKernels()) {
#if ZARN_BIGINT_VECTOR
    case detail::TDigitKernels::Avx512:
        return avx512::MontgomeryKernels();
    case detail::TDigitKernels::Avx2:
        return avx2::MontgomeryKernels();
#endif
    default:
        return {PortableProduct, PortableLowProduct, PortableProductPlus, PortableSquare};
    }
}

void MultiplyColumns(const Digit* a, std::size_t na, const Digit* bPadded, std::size_t nb,
                     std::size_t columns, const Digit* addend, Digit* r) {
    CurrentColumnKernels().Multiply(a, na, bPadded, nb, columns, addend, r);
}

void SquareColumns(const Digit* aPadded, std::size_t n, Digit* r) {
    CurrentColumnKernels().Square(aPadded, n, r);
}

const Digit* TPaddedDigits::Assign(const Digit* d, std::size_t n) {
    Digit* copy = Zeroed(n);
    std::copy(d, d + n, copy);
    return copy;
}

Digit* TPaddedDigits::Zeroed(std::size_t n) {
    m_buffer.assign(n + 2 * kPad, 0);
    return m_buffer.data() + kPad;
}

std::size_t SignificantCount(const Digit* d, std::size_t n) {
    while (n > 1 && d[n - 1] == 0)
        --n;
    return n;
}

int CompareDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb) {
    if (na != nb)
        return na > nb ? 1 : -1;
    for (std::size_t i = na; i-- > 0;) {
        if (a[i] != b[i])
            return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

void AddDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < na; ++i) {
        const std::uint64_t v = U(a[i]) + (i < nb ? U(b[i]) : 0) + carry;
        r[i] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
    }
    r[na] = static_cast<Digit>(carry);
}

// v = a_i + 2^31 - b_i - borrow lies in 0 .. 2^32 - 1; bit 31 of v set means no borrow.
void SubtractDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < na; ++i) {
        const std::uint64_t v = U(a[i]) + kBase - (i < nb ? U(b[i]) : 0) - borrow;
        r[i] = static_cast<Digit>(v & kDigitMask);
        borrow = 1 - (v >> kDigitBits);
    }
}

namespace {

// Compares r with b * 2^(31 offset); both without leading zeros, b not zero.
__attribute__((always_inline)) inline int CompareShifted(const Digit* r, std::size_t rn, const Digit* b,
                                                         std::size_t nb, std::size_t offset) {
    if (rn != nb + offset)
        return rn > nb + offset ? 1 : -1;
    for (std::size_t i = nb; i-- > 0;) {
        if (r[i + offset] != b[i])
            return r[i + offset] > b[i] ? 1 : -1;
    }
    for (std::size_t i = 0; i < offset; ++i) {
        if (r[i] != 0)
            return 1;
    }
    return 0;
}

// r -= b * 2^(31 offset) for r >= that value; rn is updated.
void SubtractShifted(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, std::size_t offset) {
    SubtractDigits(r + offset, rn - offset, b, nb, r + offset);
    rn = SignificantCount(r, rn);
}

// t = b * q (1 <= q < 2^31) and r -= t * 2^(31 offset) in one pass, for r >= that value; returns the digit
// count of t and updates rn. b * q + carry stays below 2^63.
std::size_t SubtractMultipleShifted(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb,
                                    std::uint64_t q, std::size_t offset, Digit* t) {
    Digit* target = r + offset;
    const std::size_t length = rn - offset;
    std::uint64_t carry = 0;
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < nb; ++i) {
        const std::uint64_t v = U(b[i]) * q + carry;
        t[i] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        const std::uint64_t w = U(target[i]) + kBase - U(t[i]) - borrow;
        target[i] = static_cast<Digit>(w & kDigitMask);
        borrow = 1 - (w >> kDigitBits);
    }
    t[nb] = static_cast<Digit>(carry);
    for (std::size_t i = nb; i < length; ++i) {
        const std::uint64_t w = U(target[i]) + kBase - (i == nb ? carry : 0) - borrow;
        target[i] = static_cast<Digit>(w & kDigitMask);
        borrow = 1 - (w >> kDigitBits);
    }
    rn = SignificantCount(r, rn);
    return carry != 0 ? nb + 1 : nb;
}

} // namespace

// D = b * 2^(31 offset) is the shifted divisor; the quotient digit at `offset` collects the estimates.
// An estimate q divides the top one or two digits of r by the top digit of D plus one, so q * D <= r;
// since r < D * 2^31 whenever D moves down a place, q < 2^31 and every quotient digit stays below 2^31.
void DivideDigits(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, Digit* q, Digit* scratch) {
    if (CompareDigits(r, rn, b, nb) < 0)
        return;
    std::size_t offset = rn - nb;
    const std::uint64_t divisor = U(b[nb - 1]) + 1;
    // While r >= b: subtract estimates of D = b * 2^(31 offset) while r >= D, then move D down a place.
    for (;;) {
        while (CompareShifted(r, rn, b, nb, offset) >= 0) {
            const std::uint64_t top = U(r[rn - 1]);
            // One digit over one fits 32 bits, where division is cheaper.
            const std::uint64_t estimate =
                rn > nb + offset ? ((top << kDigitBits) | U(r[rn - 2])) / divisor
                                 : static_cast<std::uint32_t>(top) / static_cast<std::uint32_t>(divisor);
            if (estimate != 0) {
                // T = estimate * D is subtracted, and once more while r >= T.
                const std::size_t tn = SubtractMultipleShifted(r, rn, b, nb, estimate, offset, scratch);
                std::uint64_t taken = estimate;
                if (CompareShifted(r, rn, scratch, tn, offset) >= 0) {
                    SubtractShifted(r, rn, scratch, tn, offset);
                    taken += estimate;
                }
                if (q != nullptr)
                    q[offset] += static_cast<Digit>(taken);
            } else {
                SubtractShifted(r, rn, b, nb, offset);
                if (q != nullptr)
                    q[offset] += 1;
            }
        }
        // r < D now, so r has no more digits than D. With D = b the division is done; otherwise D moves
        // down a place and the loop goes on while r >= b.
        if (offset == 0)
            return;
        --offset;
        if (CompareDigits(r, rn, b, nb) < 0)
            return;
    }
}

} // namespace bigint

namespace detail {

bool DigitKernelsAvailable(TDigitKernels kernels) {
    switch (kernels) {
#if ZARN_BIGINT_VECTOR
    case TDigitKernels::Avx512:
        return __builtin_cpu_supports("avx512f") != 0;
    case TDigitKernels::Avx2:
        return __builtin_cpu_supports("avx2") != 0;
#endif
    case TDigitKernels::Portable:
        return true;
    default:
        return false;
    }
}

TDigitKernels BestDigitKernels() {
    for (const TDigitKernels kernels : {TDigitKernels::Avx512, TDigitKernels::Avx2}) {
        if (DigitKernelsAvailable(kernels))
            return kernels;
    }
    return TDigitKernels::Portable;
}

void UseDigitKernels(TDigitKernels kernels) {
    ZARN_ASSERT(DigitKernelsAvailable(kernels), "UseDigitKernels: not available on this processor.",
                "Common\\BigInt");
    bigint::ActiveKernels() = kernels;
}

TDigitKernels ActiveDigitKernels() {
    return bigint::ActiveKernels();
}

} // namespace detail

} // namespace zarn
