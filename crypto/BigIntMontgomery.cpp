// The exponentiation engine behind BigIntPowerMod. The operands become 64-bit words once; for a modulus
// of n words the Montgomery radix is R = 2^(64 n), so each reduction step removes a whole word. The set-up
// takes -N^(-1) mod 2^64 by Newton's iteration, R mod N by doublings from the top bit of N, and R^2 mod N
// by squarings and doublings in Montgomery form: no long division. The Montgomery product is one loop,
// written once, compiled for a run-time word count and again for the fixed counts of kUnrolledWords. The
// exponent is taken in sliding windows over a table of odd powers, on the words or on IFMA limbs.
#include "crypto/BigInt.h"
#include "crypto/BigIntIfma.h"
#include "crypto/BigIntInternal.h"
#include "platform/Errors.h"

#include <algorithm>
#include <iterator>
#include <utility>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace zarn {

namespace bigint {

namespace {

using Word = std::uint64_t;

constexpr int kWordBits = 64;

#define ZARN_INLINE __attribute__((always_inline)) inline

// ---- Words ----

std::size_t WordsFor(std::size_t bits) {
    return (bits + kWordBits - 1) / kWordBits;
}

std::size_t BitLength(const TBigInt& A) {
    const std::size_t n = Count(A);
    const auto top = static_cast<std::uint64_t>(A.Digits[n]);
    return kDigitBits * (n - 1) + (top == 0 ? 0 : kWordBits - static_cast<std::size_t>(__builtin_clzll(top)));
}

// out[0 .. outCount) = the bits of in[0 .. inCount), taken as inBits bits an element, regrouped as outBits
// bits an element (digits of 31 bits, words of 64, limbs of 52), least significant first; missing bits
// are zero and bits beyond the output are dropped.
void Repack(const Word* in, std::size_t inCount, int inBits, Word* out, std::size_t outCount, int outBits) {
    std::size_t at = 0; // out[j] starts at bit `offset` of in[at]
    int offset = 0;
    for (std::size_t j = 0; j < outCount; ++j) {
        Word value = at < inCount ? in[at] >> offset : 0;
        std::size_t i = at;
        for (int filled = inBits - offset; filled < outBits && ++i < inCount; filled += inBits)
            value |= in[i] << filled;
        out[j] = outBits == kWordBits ? value : value & ((Word{1} << outBits) - 1);
        for (offset += outBits; offset >= inBits; offset -= inBits)
            ++at;
    }
}

const Word* WordsOf(const TBigInt& A) {
    return reinterpret_cast<const Word*>(DigitsOf(A));
}

// The magnitude of A in w[0 .. words).
void ToWords(const TBigInt& A, Word* w, std::size_t words) {
    Repack(WordsOf(A), Count(A), kDigitBits, w, words, kWordBits);
}

void FromWords(const Word* w, std::size_t words, TBigInt& A) {
    const std::size_t digits = (kWordBits * words + kDigitBits - 1) / kDigitBits;
    Resize(A, digits);
    Repack(w, words, kWordBits, reinterpret_cast<Word*>(DigitsOf(A)), digits, kDigitBits);
    Normalize(A);
    A.Positive = 1;
}

// a = a - b mod 2^(64 n), when a >= b or when a carries a bit 2^(64 n) that the borrow cancels.
void SubtractWords(Word* a, const Word* b, std::size_t n) {
    unsigned char borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const UInt128 d = static_cast<UInt128>(a[i]) - b[i] - borrow;
        a[i] = static_cast<Word>(d);
        borrow = static_cast<unsigned char>(d >> 127);
    }
}

bool AtLeast(const Word* a, const Word* b, std::size_t n) {
    for (std::size_t i = n; i-- > 0;) {
        if (a[i] != b[i])
            return a[i] > b[i];
    }
    return true;
}

// ---- The Montgomery product on words ----

struct TModulus {
    const Word* N;
    Word Inverse; // -N^(-1) mod 2^64
    std::size_t Count;
    Word* Scratch; // Count words
};

// A column of the product: Low + High 2^128. Each product is one add, add-with-carry and carry count
// (the compiler reads the comparison as the carry out), so the products of a column do not wait for
// each other's carries.
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

// r[0 .. na + nb) = a b, or a^2 (b = nullptr, nb = na), by the same columns without the reduction.
void WordProduct(const Word* a, std::size_t na, const Word* b, std::size_t nb, Word* r) {
    UInt128 carry = 0;
    for (std::size_t k = 0; k + 1 < na + nb; ++k) {
        const std::size_t first = k + 1 > nb ? k + 1 - nb : 0;
        TColumn column = b == nullptr ? ProductColumn<0, true>(a, a, k, first, 0)
                                      : ProductColumn<0, false>(a, b, k, first, std::min(na, k + 1));
        column.Add(carry);
        r[k] = column.Next();
        carry = column.Low;
    }
    r[na + nb - 1] = static_cast<Word>(carry);
}

using TProduct = void (*)(const Word* a, const Word* b, const TModulus& m, Word* r);

struct TWordKernels {
    TProduct Multiply;
    TProduct Square;
};

template <std::size_t Fixed>
void MultiplyWords(const Word* a, const Word* b, const TModulus& m, Word* r) {
    MontgomeryProduct<Fixed, false>(a, b, m, r);
}

template <std::size_t Fixed>
void SquareWords(const Word* a, const Word*, const TModulus& m, Word* r) {
    MontgomeryProduct<Fixed, true>(a, a, m, r);
}

template <std::size_t... I>
TWordKernels UnrolledKernels(std::size_t n, std::index_sequence<I...>) {
    static constexpr TWordKernels kernels[] = {
        {MultiplyWords<detail::kUnrolledWords[I]>, SquareWords<detail::kUnrolledWords[I]>}...};
    for (std::size_t i = 0; i < sizeof...(I); ++i) {
        if (detail::kUnrolledWords[i] == n)
            return kernels[i];
    }
    return {MultiplyWords<0>, SquareWords<0>};
}

TWordKernels WordKernels(std::size_t n, bool unrolled) {
    if (!unrolled)
        return {MultiplyWords<0>, SquareWords<0>};
    return UnrolledKernels(n, std::make_index_sequence<std::size(detail::kUnrolledWords)>());
}

// The Montgomery arithmetic on words that the window loop and the set-up use.
struct TWordArithmetic {
    TModulus Modulus;
    TWordKernels Kernels;
    std::size_t Stride;
    void Multiply(const Word* a, const Word* b, Word* r) const { Kernels.Multiply(a, b, Modulus, r); }
    void Square(const Word* a, Word* r) const { Kernels.Square(a, a, Modulus, r); }
};

// -N^(-1) mod 2^64 for odd n: each step x (2 - n x) doubles the bits that are right, starting from the
// five of (3 n) xor 2.
Word NegativeInverse(Word n) {
    Word x = (3 * n) ^ 2;
    for (int step = 0; step < 4; ++step)
        x *= 2 - n * x;
    return 0 - x;
}

// y = 2 y mod N for y < N.
void DoubleModN(Word* y, const TModulus& m) {
    Word top = 0;
    for (std::size_t i = 0; i < m.Count; ++i) {
        const Word next = y[i] >> (kWordBits - 1);
        y[i] = (y[i] << 1) | top;
        top = next;
    }
    if (top != 0 || AtLeast(y, m.N, m.Count))
        SubtractWords(y, m.N, m.Count);
}

// y = R 2^e mod N, the Montgomery form of 2^e, for an N of `bits` bits: R mod N by doubling 2^(bits - 1),
// then the bits of e from the top, squaring for each and doubling for each one.
void PowerOfTwo(const TWordArithmetic& arithmetic, std::size_t bits, std::size_t e, Word* y) {
    const TModulus& m = arithmetic.Modulus;
    for (std::size_t i = 0; i < m.Count; ++i)
        y[i] = 0;
    y[(bits - 1) / kWordBits] = Word{1} << ((bits - 1) % kWordBits);
    for (std::size_t i = bits - 1; i < kWordBits * m.Count; ++i)
        DoubleModN(y, m);
    for (int bit = kWordBits - 1; bit >= 0; --bit) {
        if ((e >> bit) == 0)
            continue;
        arithmetic.Square(y, y);
        if (((e >> bit) & 1) != 0)
            DoubleModN(y, m);
    }
}

// ---- IFMA ----

#if defined(__x86_64__)
// The operating system's saved-state mask; only called once OSXSAVE is known.
__attribute__((target("xsave"))) unsigned long long SavedState() {
    return _xgetbv(0);
}
#endif

bool IfmaFound() {
#if defined(__x86_64__)
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(1, &eax, &ebx, &ecx, &edx) == 0 || (ecx & bit_OSXSAVE) == 0)
        return false;
    if (__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) == 0)
        return false;
    if ((ebx & bit_AVX512F) == 0 || (ebx & bit_AVX512IFMA) == 0)
        return false;
    // The operating system saves the vector state: SSE, AVX, the mask registers and both zmm halves.
    return (SavedState() & 0xE6) == 0xE6;
#else
    return false;
#endif
}

bool IfmaAvailable() {
    static const bool available = IfmaFound();
    return available;
}

// The Montgomery arithmetic on limbs of 52 bits, by IFMA or by the portable lanes.
struct TLimbArithmetic {
    TIfmaModulus Modulus;
    bool Portable;
    std::size_t Stride;
    void Multiply(const Word* a, const Word* b, Word* r) const {
        if (Portable)
            AlmostMontgomeryProduct<TPortableLanes>(a, b, Modulus, r);
#if defined(__x86_64__)
        else
            IfmaAlmostMontgomeryProduct(a, b, Modulus, r);
#endif
    }
    void Square(const Word* a, Word* r) const {
        Multiply(a, a, r);
    }
};

// ---- The exponentiation ----

// p = x^e in Montgomery form, e of eBits > 0 bits, left to right in sliding windows of up to `width` bits
// over the odd powers x, x^3, .. x^(2^width - 1) in `table`. x may be table's first entry.
template <class TArithmetic>
void WindowPower(const TArithmetic& arithmetic, const Word* x, const Word* e, std::size_t eBits,
                 std::size_t width, Word* table, Word* p) {
    const std::size_t stride = arithmetic.Stride;
    const auto bit = [e](std::size_t i) { return (e[i / kWordBits] >> (i % kWordBits)) & 1; };
    for (std::size_t i = 0; i < stride; ++i)
        table[i] = x[i];
    if (width > 1) {
        arithmetic.Square(table, p); // x^2, until p is first set
        for (std::size_t j = 1; j < (std::size_t{1} << (width - 1)); ++j)
            arithmetic.Multiply(table + (j - 1) * stride, p, table + j * stride);
    }
    bool started = false;
    for (std::size_t top = eBits; top-- > 0;) {
        if (bit(top) == 0) {
            arithmetic.Square(p, p);
            continue;
        }
        std::size_t low = top + 1 > width ? top + 1 - width : 0;
        while (bit(low) == 0)
            ++low;
        std::size_t value = 0;
        for (std::size_t i = top + 1; i-- > low;)
            value = 2 * value + bit(i);
        const Word* power = table + (value / 2) * stride;
        if (started) {
            for (std::size_t i = low; i <= top; ++i)
                arithmetic.Square(p, p);
            arithmetic.Multiply(p, power, p);
        } else {
            for (std::size_t i = 0; i < stride; ++i)
                p[i] = power[i];
            started = true;
        }
        top = low;
    }
}

// The window width that minimises the table's products plus one product per window.
std::size_t WindowWidth(std::size_t eBits) {
    std::size_t best = 1;
    for (std::size_t width = 2; width <= 7; ++width) {
        if ((std::size_t{1} << (width - 1)) + eBits / (width + 1) <
            (std::size_t{1} << (best - 1)) + eBits / (best + 1))
            best = width;
    }
    return best;
}

} // namespace

void EnginePowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, detail::TPowerModForm form,
                    TBigInt& P) {
    const std::size_t eBits = BitLength(E);
    if (eBits == 0) {
        SetSmall(P, 1);
        return;
    }
    const std::size_t bits = BitLength(N);
    const std::size_t n = WordsFor(bits);
    const std::size_t width = WindowWidth(eBits);
    const std::size_t entries = std::size_t{1} << (width - 1);
    const bool limbs = form == detail::TPowerModForm::IfmaPortable ||
                       (form == detail::TPowerModForm::Ifma && bits >= detail::kIfmaMinBits);
    // IFMA: R' = 2^(52 k) with 4N <= R', in vectors of eight limbs.
    const std::size_t k = (bits + 2 + kLimbBits - 1) / kLimbBits;
    const std::size_t vectors = (k + kLanes - 1) / kLanes;
    const std::size_t stride = limbs ? kLanes * vectors : n;

    // One block: N, the scratch, base, a set-up value and the product, the exponent, then the table, the
    // power and x in the stride of the arithmetic, and for the limbs N and the accumulator.
    std::vector<Word> block(5 * n + WordsFor(eBits) + (entries + 2 + (limbs ? 2 : 0)) * stride, 0);
    Word* modulus = block.data();
    Word* scratch = modulus + n;
    Word* base = scratch + n;
    Word* value = base + n;
    Word* product = value + n;
    Word* exponent = product + n;
    Word* table = exponent + WordsFor(eBits);
    Word* power = table + entries * stride;
    Word* x = power + stride;
    Word* limbModulus = x + stride;
    Word* accumulator = limbModulus + stride;
    ToWords(N, modulus, n);
    ToWords(Base, base, n);
    ToWords(E, exponent, WordsFor(eBits));
    const TWordArithmetic words{{modulus, NegativeInverse(modulus[0]), n, scratch},
                                WordKernels(n, form != detail::TPowerModForm::Words),
                                n};

    if (!limbs) {
        PowerOfTwo(words, bits, kWordBits * n, value); // R^2 mod N
        words.Multiply(base, value, x);                // base R mod N
        WindowPower(words, x, exponent, eBits, width, table, power);
        for (std::size_t i = 0; i < n; ++i)
            value[i] = i == 0 ? 1 : 0;
        words.Multiply(power, value, product);
    } else {
        PowerOfTwo(words, bits, kLimbBits * k, value); // R 2^(52 k) mod N
        words.Multiply(base, value, product);          // base 2^(52 k) mod N
        Repack(product, n, kWordBits, x, stride, kLimbBits);
        Repack(modulus, n, kWordBits, limbModulus, stride, kLimbBits);
        const TLimbArithmetic arithmetic{
            {limbModulus, words.Modulus.Inverse & kLimbMask, k, vectors, accumulator},
            form == detail::TPowerModForm::IfmaPortable,
            stride};
        WindowPower(arithmetic, x, exponent, eBits, width, table, power);
        for (std::size_t i = 0; i < stride; ++i)
            x[i] = i == 0 ? 1 : 0;
        arithmetic.Multiply(power, x, power); // out of Montgomery form: at most N
        Repack(power, k, kLimbBits, product, n, kWordBits);
        if (AtLeast(product, modulus, n))
            SubtractWords(product, modulus, n);
    }
    FromWords(product, n, P);
}

void MultiplyThroughWords(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    thread_local std::vector<Word> words;
    const std::size_t wa = WordsFor(kDigitBits * na), wb = b == nullptr ? wa : WordsFor(kDigitBits * nb);
    words.resize(2 * (wa + wb));
    Word* x = words.data();
    Word* y = x + wa;
    Word* product = y + wb;
    Repack(reinterpret_cast<const Word*>(a), na, kDigitBits, x, wa, kWordBits);
    if (b != nullptr)
        Repack(reinterpret_cast<const Word*>(b), nb, kDigitBits, y, wb, kWordBits);
    WordProduct(x, wa, b == nullptr ? nullptr : y, wb, product);
    Repack(product, wa + wb, kWordBits, reinterpret_cast<Word*>(r), b == nullptr ? 2 * na : na + nb,
           kDigitBits);
}

} // namespace bigint

namespace detail {

namespace {

TPowerModForm& ActiveForm() {
    static TPowerModForm active = BestPowerModForm();
    return active;
}

} // namespace

bool PowerModFormAvailable(TPowerModForm form) {
    return form != TPowerModForm::Ifma || bigint::IfmaAvailable();
}

TPowerModForm BestPowerModForm() {
    return bigint::IfmaAvailable() ? TPowerModForm::Ifma : TPowerModForm::WordsUnrolled;
}

TPowerModForm ActivePowerModForm() {
    return ActiveForm();
}

void UsePowerModForm(TPowerModForm form) {
    ZARN_ASSERT(PowerModFormAvailable(form), "UsePowerModForm: not available on this processor.",
                "Common\\BigInt");
    ActiveForm() = form;
}

} // namespace detail

} // namespace zarn
