// The exponentiation engine behind BigIntPowerMod. The operands become 64-bit words once; for a modulus
// of n words the Montgomery radix is R = 2^(64 n), so each reduction step removes a whole word. The set-up
// takes -N^(-1) mod 2^64 by Newton's iteration, R mod N by doublings from the top bit of N, and R^2 mod N
// by squarings and doublings in Montgomery form: no long division. The Montgomery product (BigIntWords.h)
// runs for a run-time word count or unrolled for the counts of kUnrolledWords. The exponent is taken in
// sliding windows over a table of odd powers, on the words or on IFMA limbs. Which kernels a form names is
// decided in KernelsOf alone.
#include "BigIntInternal.h"
#include "BigIntWords.h"
#include "crypto/BigInt.h"
#include "crypto/BigIntIfma.h"
#include "platform/Errors.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <vector>

namespace zarn {

namespace bigint {

std::size_t BitLength(const TBigInt& A) {
    const std::size_t n = Count(A);
    const auto top = static_cast<std::uint64_t>(A.Digits[n]);
    return kDigitBits * (n - 1) + (top == 0 ? 0 : kWordBits - static_cast<std::size_t>(__builtin_clzll(top)));
}

namespace {

// The magnitude of A in w[0 .. words).
void ToWords(const TBigInt& A, Word* w, std::size_t words) {
    Repack(reinterpret_cast<const Word*>(DigitsOf(A)), Count(A), kDigitBits, w, words, kWordBits);
}

} // namespace

void FromWords(const Word* w, std::size_t words, TBigInt& A) {
    const std::size_t digits = (kWordBits * words + kDigitBits - 1) / kDigitBits;
    Resize(A, digits);
    Repack(w, words, kWordBits, reinterpret_cast<Word*>(DigitsOf(A)), digits, kDigitBits);
    Normalize(A);
    A.Positive = 1;
}

TWordKernels GenericWordKernels(std::size_t) {
    return {MultiplyWords<0>, SquareWords<0>};
}

// The unrolled kernels for n words where the files hold them (exactly the counts of kUnrolledWords, which
// the tests rely on), else the generic loop.
TWordKernels UnrolledWordKernels(std::size_t n) {
    TWordKernels kernels;
    for (const auto group :
         {UnrolledWords1To8, UnrolledWords9To12, UnrolledWords13To16, UnrolledWords17To24, UnrolledWords32}) {
        if (kernels.Multiply == nullptr)
            kernels = group(n);
    }
    const bool listed = std::find(std::begin(detail::kUnrolledWords), std::end(detail::kUnrolledWords), n) !=
                        std::end(detail::kUnrolledWords);
    ZARN_ASSERT(listed == (kernels.Multiply != nullptr), "WordKernels: kUnrolledWords and the files differ.",
                "Common\\BigInt");
    return listed ? kernels : GenericWordKernels(n);
}

namespace {

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

// The Montgomery arithmetic on limbs of 52 bits, by IFMA or by other lanes.
struct TLimbArithmetic {
    TIfmaModulus Modulus;
    TLimbProduct Product;
    std::size_t Stride;
    void Multiply(const Word* a, const Word* b, Word* r) const { Product(a, b, Modulus, r); }
    void Square(const Word* a, Word* r) const { Product(a, a, Modulus, r); }
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

// The set-up for N in one block, and the word and limb arithmetic on it. The block starts on a 64-byte
// boundary, where vector loads do not cross cache lines: N in limbs (when there are limb products), the
// caller's room, then N in words and the scratch.
struct TEngine {
    static constexpr std::size_t kAlign = 64 / sizeof(Word);

    TEngine(const TBigInt& N, const TEngineKernels& kernels, std::size_t extra)
        : Bits(BitLength(N)), Words(WordsFor(Bits)), Limbs(LimbsFor(Bits)),
          Vectors((Limbs + kLanes - 1) / kLanes),
          LimbProduct(kernels.Limbs != nullptr ? kernels.Limbs(Vectors) : nullptr),
          Stride(LimbProduct != nullptr ? kLanes * Vectors : Words),
          Storage(kAlign + LimbWords() + extra + 2 * Words, 0),
          Start(Storage.data() +
                (kAlign - reinterpret_cast<std::uintptr_t>(Storage.data()) / sizeof(Word) % kAlign) % kAlign),
          WordArithmetic{{Start + LimbWords() + extra, 0, Words, Start + LimbWords() + extra + Words},
                         kernels.Words(Words),
                         Words},
          LimbArithmetic{{Start, 0, Limbs, Vectors}, LimbProduct, Stride} {
        Word* modulus = Start + LimbWords() + extra;
        ToWords(N, modulus, Words);
        WordArithmetic.Modulus.Inverse = NegativeInverse(modulus[0]);
        if (LimbProduct != nullptr) {
            Repack(modulus, Words, kWordBits, Start, Stride, kLimbBits);
            LimbArithmetic.Modulus.Inverse = WordArithmetic.Modulus.Inverse & kLimbMask;
        }
    }
    // The words of one number in the arithmetic `kernels` give for N of `bits` bits.
    static std::size_t StrideFor(const TEngineKernels& kernels, std::size_t bits) {
        return kernels.Limbs != nullptr ? kLanes * ((LimbsFor(bits) + kLanes - 1) / kLanes) : WordsFor(bits);
    }
    std::size_t LimbWords() const { return LimbProduct != nullptr ? Stride : 0; }
    // The caller's room, on a 64-byte boundary when there are limb products.
    Word* Extra() { return Start + LimbWords(); }

    std::size_t Bits, Words, Limbs, Vectors;
    TLimbProduct LimbProduct;
    std::size_t Stride;
    std::vector<Word> Storage;
    Word* Start;
    TWordArithmetic WordArithmetic;
    TLimbArithmetic LimbArithmetic;
};

// P = Base^|E| mod N with the kernels given: on words, or on limbs when they include limb products.
void Power(const TBigInt& Base, const TBigInt& E, const TBigInt& N, const TEngineKernels& kernels,
           TBigInt& P) {
    const std::size_t eBits = BitLength(E);
    if (eBits == 0) {
        SetSmall(P, 1);
        return;
    }
    const std::size_t n = WordsFor(BitLength(N));
    const std::size_t width = WindowWidth(eBits);
    const std::size_t entries = std::size_t{1} << (width - 1);
    const std::size_t stride = TEngine::StrideFor(kernels, BitLength(N));
    // In the engine's room: the table, the power and x in the stride of the arithmetic (limbs first, on
    // vector boundaries), then base, a set-up value and the product, and the exponent.
    TEngine engine(N, kernels, 3 * n + WordsFor(eBits) + (entries + 2) * stride);
    Word* table = engine.Extra();
    Word* power = table + entries * stride;
    Word* x = power + stride;
    Word* base = x + stride;
    Word* value = base + n;
    Word* product = value + n;
    Word* exponent = product + n;
    const Word* modulus = engine.WordArithmetic.Modulus.N;
    ToWords(Base, base, n);
    ToWords(E, exponent, WordsFor(eBits));
    const TWordArithmetic& words = engine.WordArithmetic;

    if (engine.LimbProduct == nullptr) {
        PowerOfTwo(words, engine.Bits, kWordBits * n, value); // R^2 mod N
        words.Multiply(base, value, x);                       // base R mod N
        WindowPower(words, x, exponent, eBits, width, table, power);
        for (std::size_t i = 0; i < n; ++i)
            value[i] = i == 0 ? 1 : 0;
        words.Multiply(power, value, product);
    } else {
        const TLimbArithmetic& limbs = engine.LimbArithmetic;
        PowerOfTwo(words, engine.Bits, kLimbBits * engine.Limbs, value); // R 2^(52 k) mod N
        words.Multiply(base, value, product);                            // base 2^(52 k) mod N
        Repack(product, n, kWordBits, x, stride, kLimbBits);
        WindowPower(limbs, x, exponent, eBits, width, table, power);
        for (std::size_t i = 0; i < stride; ++i)
            x[i] = i == 0 ? 1 : 0;
        limbs.Multiply(power, x, power); // out of Montgomery form: at most N
        Repack(power, engine.Limbs, kLimbBits, product, n, kWordBits);
        if (AtLeast(product, modulus, n))
            SubtractWords(product, modulus, n);
    }
    FromWords(product, n, P);
}

} // namespace

TEngineKernels KernelsOf(detail::TPowerModForm form) {
    switch (form) {
    case detail::TPowerModForm::Words:
        return {GenericWordKernels, nullptr};
    case detail::TPowerModForm::Ifma:
        return {UnrolledWordKernels, IfmaLimbProducts()};
    case detail::TPowerModForm::IfmaPortable:
        return {UnrolledWordKernels, LimbProductFor<TPortableLanes>};
    default:
        return {UnrolledWordKernels, nullptr};
    }
}

void EnginePower(const TBigInt& Base, const TBigInt& E, const TBigInt& N, const TEngineKernels& kernels,
                 TBigInt& P) {
    Power(Base, E, N, kernels, P);
}

double SquaringSeconds(const TBigInt& N, const TEngineKernels& kernels, int count) {
    const std::size_t n = WordsFor(BitLength(N));
    TEngine engine(N, kernels, n + TEngine::StrideFor(kernels, BitLength(N)));
    Word* x = engine.Extra();
    Word* half = x + engine.Stride;
    // Half of N: below N, and below 2N as limbs.
    ToWords(N, half, n);
    for (std::size_t i = 0; i < n; ++i)
        half[i] = (half[i] >> 1) | (i + 1 < n ? half[i + 1] << (kWordBits - 1) : 0);
    Repack(half, n, kWordBits, x, engine.Stride, engine.LimbProduct != nullptr ? kLimbBits : kWordBits);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (engine.LimbProduct == nullptr)
            engine.WordArithmetic.Square(x, x);
        else
            engine.LimbArithmetic.Square(x, x);
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace bigint

} // namespace zarn
