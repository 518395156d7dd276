// The exponentiation engine behind BigIntPowerMod. The operands become 64-bit words once; for a modulus
// of n words the Montgomery radix is R = 2^(64 n), so each reduction step removes a whole word. The set-up
// takes -N^(-1) mod 2^64 by Newton's iteration, R mod N by doublings from the top bit of N, and R^2 mod N
// by squarings and doublings in Montgomery form: no long division. The Montgomery product (BigIntWords.h)
// runs for a run-time word count or unrolled for the counts of kUnrolledWords. The exponent is taken in
// sliding windows over a table of odd powers, on the words or on IFMA limbs; the IFMA product is checked
// against the words once before it is used.
#include "BigIntInternal.h"
#include "BigIntWords.h"
#include "crypto/BigInt.h"
#include "crypto/BigIntIfma.h"
#include "platform/Errors.h"

#include <algorithm>
#include <iterator>
#include <vector>

#if defined(__x86_64__)
#include <cpuid.h>
#include <immintrin.h>
#endif

namespace zarn {

namespace bigint {

namespace {

std::size_t BitLength(const TBigInt& A) {
    const std::size_t n = Count(A);
    const auto top = static_cast<std::uint64_t>(A.Digits[n]);
    return kDigitBits * (n - 1) + (top == 0 ? 0 : kWordBits - static_cast<std::size_t>(__builtin_clzll(top)));
}

// The magnitude of A in w[0 .. words).
void ToWords(const TBigInt& A, Word* w, std::size_t words) {
    Repack(reinterpret_cast<const Word*>(DigitsOf(A)), Count(A), kDigitBits, w, words, kWordBits);
}

void FromWords(const Word* w, std::size_t words, TBigInt& A) {
    const std::size_t digits = (kWordBits * words + kDigitBits - 1) / kDigitBits;
    Resize(A, digits);
    Repack(w, words, kWordBits, reinterpret_cast<Word*>(DigitsOf(A)), digits, kDigitBits);
    Normalize(A);
    A.Positive = 1;
}

// The unrolled kernels for n words where the files hold them (exactly the counts of kUnrolledWords, which
// the tests rely on), else the generic loop.
TWordKernels WordKernels(std::size_t n, bool unrolled) {
    TWordKernels kernels;
    for (const auto group : {UnrolledWords1To8, UnrolledWords9To12, UnrolledWords13To16, UnrolledWords32}) {
        if (kernels.Multiply == nullptr)
            kernels = group(n);
    }
    const bool listed = std::find(std::begin(detail::kUnrolledWords), std::end(detail::kUnrolledWords), n) !=
                        std::end(detail::kUnrolledWords);
    ZARN_ASSERT(listed == (kernels.Multiply != nullptr), "WordKernels: kUnrolledWords and the files differ.",
                "Common\\BigInt");
    return unrolled && listed ? kernels : TWordKernels{MultiplyWords<0>, SquareWords<0>};
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

TLimbProduct IfmaProduct() {
#if defined(__x86_64__)
    return IfmaAlmostMontgomeryProduct;
#else
    return nullptr;
#endif
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

// P = Base^|E| mod N on words with the generic or the unrolled products, or on limbs with `limbProduct`.
void Power(const TBigInt& Base, const TBigInt& E, const TBigInt& N, bool unrolled, TLimbProduct limbProduct,
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
    const bool limbs = limbProduct != nullptr;
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
    const TWordArithmetic words{
        {modulus, NegativeInverse(modulus[0]), n, scratch}, WordKernels(n, unrolled), n};

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
            {limbModulus, words.Modulus.Inverse & kLimbMask, k, vectors, accumulator}, limbProduct, stride};
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

} // namespace

void EnginePowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, detail::TPowerModForm form,
                    TBigInt& P) {
    TLimbProduct limbProduct = nullptr;
    if (form == detail::TPowerModForm::IfmaPortable)
        limbProduct = AlmostMontgomeryProduct<TPortableLanes>;
    else if (form == detail::TPowerModForm::Ifma && BitLength(N) >= detail::kIfmaMinBits)
        limbProduct = IfmaProduct();
    Power(Base, E, N, form != detail::TPowerModForm::Words, limbProduct, P);
}

// Operands from a fixed seed (splitmix64): odd moduli of the given lengths, bases one bit shorter and
// exponents as long as the moduli. 768 bits is where the IFMA form starts, 830 and 831 bits fill two
// vectors and begin a third, 2048 bits is the common size, and 4158 bits fills ten vectors.
bool LimbProductAgrees(TLimbProduct product) {
    std::uint64_t state = 0x5EED;
    const auto draw = [&state](std::size_t bits, TBigInt& x) {
        std::vector<Word> words(WordsFor(bits));
        for (Word& word : words) {
            state += 0x9E3779B97F4A7C15;
            Word z = state;
            z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
            z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
            word = z ^ (z >> 31);
        }
        if (bits % kWordBits != 0)
            words.back() &= (Word{1} << (bits % kWordBits)) - 1;
        words.back() |= Word{1} << ((bits - 1) % kWordBits);
        FromWords(words.data(), words.size(), x);
    };
    for (const std::size_t bits : {768, 830, 831, 2048, 4158}) {
        TBigInt N, base, E, expected, actual;
        draw(bits, N);
        N.Digits[1] |= 1;
        draw(bits - 1, base);
        draw(bits, E);
        Power(base, E, N, true, nullptr, expected);
        Power(base, E, N, true, product, actual);
        if (actual.Digits != expected.Digits)
            return false;
    }
    return true;
}

detail::TPowerModForm ChooseBestForm(bool ifmaFound, TLimbProduct product) {
    return ifmaFound && product != nullptr && LimbProductAgrees(product)
               ? detail::TPowerModForm::Ifma
               : detail::TPowerModForm::WordsUnrolled;
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
    return form != TPowerModForm::Ifma || BestPowerModForm() == TPowerModForm::Ifma;
}

TPowerModForm BestPowerModForm() {
    static const TPowerModForm best = bigint::ChooseBestForm(bigint::IfmaAvailable(), bigint::IfmaProduct());
    return best;
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
