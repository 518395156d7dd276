// Internal to the exponentiation engine: numbers as 64-bit words (least significant first) and the
// Montgomery product on them. The product is one template, compiled for a run-time word count in the
// engine and for fixed word counts in the BigIntUnrolled*.cpp files, a few counts to a file so that they
// compile apart.
#pragma once

#include "BigIntInternal.h"
#include "crypto/BigIntIfma.h"

#include <cstddef>
#include <cstdint>

namespace zarn::bigint {

using Word = std::uint64_t;

inline constexpr int kWordBits = 64;

#define ZARN_INLINE __attribute__((always_inline)) inline

inline std::size_t WordsFor(std::size_t bits) {
    return (bits + kWordBits - 1) / kWordBits;
}

// a = a - b mod 2^(64 n), when a >= b or when a carries a bit 2^(64 n) that the borrow cancels.
inline void SubtractWords(Word* a, const Word* b, std::size_t n) {
    unsigned char borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const UInt128 d = static_cast<UInt128>(a[i]) - b[i] - borrow;
        a[i] = static_cast<Word>(d);
        borrow = static_cast<unsigned char>(d >> 127);
    }
}

inline bool AtLeast(const Word* a, const Word* b, std::size_t n) {
    for (std::size_t i = n; i-- > 0;) {
        if (a[i] != b[i])
            return a[i] > b[i];
    }
    return true;
}

// A column of a product: Low + High 2^128. Each product is one add, add-with-carry and carry count (the
// compiler reads the comparison as the carry out), so the products of a column do not wait for each
// other's carries.
struct TColumn {
    UInt128 Low = 0;
    Word High = 0;
    ZARN_INLINE void Add(UInt128 value) {
        Low += value;
        High += Low < value ? 1 : 0;
    }
    ZARN_INLINE void Add(Word a, Word b) { Add(static_cast<UInt128>(a) * b); }
    // The column's low word; the rest moves down one word as the next column's start.
    ZARN_INLINE Word Next() {
        const auto low = static_cast<Word>(Low);
        Low = (Low >> kWordBits) | (static_cast<UInt128>(High) << kWordBits);
        High = 0;
        return low;
    }
};

struct TModulus {
    const Word* N;
    Word Inverse; // -N^(-1) mod 2^64
    std::size_t Count;
    Word* Scratch; // Count words
};

// for (i = begin; i < end; ++i) body(i): unrolled whole when the word count is fixed, by four otherwise.
template <std::size_t Fixed, class TBody>
ZARN_INLINE void Loop(std::size_t begin, std::size_t end, TBody body) {
    if constexpr (Fixed != 0) {
#pragma GCC unroll 32
        for (std::size_t i = begin; i < end; ++i)
            body(i);
    } else {
#pragma GCC unroll 4
        for (std::size_t i = begin; i < end; ++i)
            body(i);
    }
}

// Column k of a b from row `first` to `end`, or of a^2: each a_i a_j with i < j formed once and doubled.
template <std::size_t Fixed, bool Square>
ZARN_INLINE TColumn ProductColumn(const Word* a, const Word* b, std::size_t k, std::size_t first,
                                  std::size_t end) {
    TColumn column;
    if constexpr (Square) {
        Loop<Fixed>(first, (k + 1) / 2, [&](std::size_t i) { column.Add(a[i], a[k - i]); });
        column.High = (column.High << 1) | static_cast<Word>(column.Low >> (2 * kWordBits - 1));
        column.Low <<= 1;
        if (k % 2 == 0)
            column.Add(a[k / 2], a[k / 2]);
    } else {
        Loop<Fixed>(first, end, [&](std::size_t i) { column.Add(a[i], b[k - i]); });
    }
    return column;
}

// r = a b / R mod N for a, b < N, by product scanning with the reduction folded in: column k < n takes
// the products a_i b_(k-i) and q_i N_(k-i), then q_k = column * (-N^(-1)) mod 2^64 clears its low word;
// columns n .. 2n - 2 give the words of the result, which is below 2N and loses N once if needed. Column
// k reads a and b only at indices above k - n, so r may be a or b.
template <std::size_t Fixed, bool Square>
ZARN_INLINE void MontgomeryProduct(const Word* a, const Word* b, const TModulus& m, Word* r) {
    const std::size_t n = Fixed != 0 ? Fixed : m.Count;
    Word local[Fixed != 0 ? Fixed : 1];
    Word* q = Fixed != 0 ? local : m.Scratch;
    const Word* N = m.N;
    // The carry from the column below comes in last, so that a column's products need not wait for it.
    UInt128 carry = 0;
    Loop<Fixed>(0, n, [&](std::size_t k) {
        TColumn column = ProductColumn<Fixed, Square>(a, b, k, 0, k + 1);
        Loop<Fixed>(0, k, [&](std::size_t i) { column.Add(q[i], N[k - i]); });
        column.Add(carry);
        q[k] = static_cast<Word>(column.Low) * m.Inverse;
        column.Add(q[k], N[0]);
        column.Next();
        carry = column.Low;
    });
    Loop<Fixed>(n, 2 * n - 1, [&](std::size_t k) {
        TColumn column = ProductColumn<Fixed, Square>(a, b, k, k - n + 1, n);
        Loop<Fixed>(k - n + 1, n, [&](std::size_t i) { column.Add(q[i], N[k - i]); });
        column.Add(carry);
        r[k - n] = column.Next();
        carry = column.Low;
    });
    r[n - 1] = static_cast<Word>(carry);
    if ((carry >> kWordBits) != 0 || AtLeast(r, N, n))
        SubtractWords(r, N, n);
}

// The Montgomery product and square for one word count (0: any), r = a b / R mod N or a^2 / R mod N.
using TProduct = void (*)(const Word* a, const Word* b, const TModulus& m, Word* r);

struct TWordKernels {
    TProduct Multiply = nullptr;
    TProduct Square = nullptr;
};

template <std::size_t Fixed>
void MultiplyWords(const Word* a, const Word* b, const TModulus& m, Word* r) {
    MontgomeryProduct<Fixed, false>(a, b, m, r);
}

template <std::size_t Fixed>
void SquareWords(const Word* a, const Word*, const TModulus& m, Word* r) {
    MontgomeryProduct<Fixed, true>(a, a, m, r);
}

// The kernels unrolled for n words when n is one of Sizes, else none.
template <std::size_t... Sizes>
TWordKernels KernelsFor(std::size_t n) {
    TWordKernels found;
    ((n == Sizes ? (found = {MultiplyWords<Sizes>, SquareWords<Sizes>}, 0) : 0), ...);
    return found;
}

// One function per BigIntUnrolled*.cpp: the kernels of its word counts, or none. Together they serve
// every count in detail::kUnrolledWords.
TWordKernels UnrolledWords1To8(std::size_t n);
TWordKernels UnrolledWords9To12(std::size_t n);
TWordKernels UnrolledWords13To16(std::size_t n);
TWordKernels UnrolledWords17To24(std::size_t n);
TWordKernels UnrolledWords32(std::size_t n);

// A = the number w[0 .. words) holds, positive.
void FromWords(const Word* w, std::size_t words, TBigInt& A);

// The word kernels for n words: the generic loop, or the unrolled one where the files hold it.
TWordKernels GenericWordKernels(std::size_t n);
TWordKernels UnrolledWordKernels(std::size_t n);

// What the engine computes with: word kernels for the set-up (and for the whole exponentiation when there
// are no limb products), and limb products on 52-bit limbs.
struct TEngineKernels {
    TWordKernels (*Words)(std::size_t n);
    TLimbProducts Limbs; // null: words only
};

// The kernels a form of the exponentiation names; the one place that decides it.
TEngineKernels KernelsOf(detail::TPowerModForm form);

// P = Base^|E| mod N with `kernels`, for an odd N > 1 and 0 <= Base < N, all in normal form; P is a
// different record.
void EnginePower(const TBigInt& Base, const TBigInt& E, const TBigInt& N, const TEngineKernels& kernels,
                 TBigInt& P);

// The time `count` Montgomery squarings take with `kernels` at N's size, in seconds.
double SquaringSeconds(const TBigInt& N, const TEngineKernels& kernels, int count);

} // namespace zarn::bigint
