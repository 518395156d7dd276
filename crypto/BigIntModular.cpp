// Modular arithmetic: reduction of products and squares, gcd, inverse, and the exponentiation in
// Montgomery form.
#include "crypto/BigInt.h"
#include "crypto/BigIntInternal.h"
#include "platform/Errors.h"

#include <algorithm>
#include <bit>
#include <utility>

namespace zarn {

using namespace bigint;

namespace {

const char* const kSourceName = "Common\\BigInt";

void RequireDigitCount(std::int64_t t, const char* operation) {
    ZARN_ASSERT(t >= 1, std::string(operation) + ": t < 1.", kSourceName);
}

bool IsOne(const TBigInt& A) {
    return A.Digits[0] == 1 && A.Digits[1] == 1;
}

bool IsNegative(const TBigInt& A) {
    return A.Positive == 0 && !IsZero(A);
}

// The extended Euclidean algorithm carrying only the coefficient of A: X = A^(-1) mod M for
// gcd(A, M) = 1. All records are distinct; the temporaries keep their arrays from step to step.
void InverseCoprime(const TBigInt& A, const TBigInt& M, TBigInt& X) {
    TBigInt r0, r1, q, r, product, next, t1;
    BigIntCopy(M, r0);
    BigIntCopy(A, r1);
    SetSmall(X, 0);
    SetSmall(t1, 1);
    do {
        BigIntDivMod(r0, r1, q, r);
        std::swap(r0, r1); // r0 = r1
        std::swap(r1, r);  // r1 = r
        BigIntMultiply(t1, q, product);
        BigIntSubtract(X, product, next);
        std::swap(X, t1);    // X = t1
        std::swap(t1, next); // t1 = next
    } while (!IsZero(r1));
    // r0 is the last non-zero remainder, X * A = r0 (mod M). Every remainder after the first division
    // is non-negative; only A = -1 itself can end the sequence as -1, and then X is the inverse of -A.
    if (IsNegative(r0))
        BigIntNegate(X);
    if (IsNegative(X)) {
        BigIntAdd(M, X, next);
        std::swap(X, next);
    }
    if (IsZero(X))
        X.Positive = 1;
}

// x = x + q * t on magnitudes; the digits of x and t above their counts are zero, and x has room for
// max(nx, nq + nt) + 1 digits. q is padded.
void AddMultiple(Digit* x, std::size_t& nx, const Digit* t, std::size_t nt, const Digit* q, std::size_t nq) {
    if (nq == 1) {
        const auto factor = static_cast<std::uint64_t>(q[0]);
        const std::size_t n = std::max(nx, nt) + 1;
        std::uint64_t carry = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint64_t v =
                static_cast<std::uint64_t>(x[i]) + factor * static_cast<std::uint64_t>(t[i]) + carry;
            x[i] = static_cast<Digit>(v & kDigitMask);
            carry = v >> kDigitBits;
        }
        nx = SignificantCount(x, n);
        return;
    }
    const std::size_t columns = std::max(nx, nq + nt) + 1;
    MultiplyColumns(t, nt, q, nq, columns, x, x);
    nx = SignificantCount(x, columns);
}

// The value of a number of at most two digits, and the reverse (n becomes its digit count).
std::uint64_t TwoDigits(const Digit* d, std::size_t n) {
    return static_cast<std::uint64_t>(d[0]) | (n > 1 ? static_cast<std::uint64_t>(d[1]) << kDigitBits : 0);
}

void SetTwoDigits(std::uint64_t value, Digit* d, std::size_t& n) {
    d[0] = static_cast<Digit>(value & kDigitMask);
    d[1] = static_cast<Digit>(value >> kDigitBits);
    n = d[1] != 0 ? 2 : 1;
}

// InverseCoprime for A >= 0 and M > 0, on bare digit arrays. Every remainder and quotient is then
// non-negative and the coefficients alternate in sign, so X - t1 * q has the magnitude |X| + q |t1| and
// the sign opposite to t1's. The values are those of InverseCoprime.
void InverseOfNonNegative(const TBigInt& A, const TBigInt& M, TBigInt& X) {
    if (IsZero(A))
        throw EDivByZero();
    // One block: two remainders, two coefficients, the division's scratch and the padded quotient.
    const std::size_t capacity = std::max(Count(A), Count(M)) + 3;
    std::vector<Digit> block(6 * capacity + 1 + 2 * kPad, 0);
    Digit* r0 = block.data();
    Digit* r1 = r0 + capacity;
    Digit* x = r1 + capacity;
    Digit* t1 = x + capacity;
    Digit* scratch = t1 + capacity;
    Digit* q = scratch + capacity + 1 + kPad;
    std::size_t n0 = Count(M), n1 = Count(A), nx = 1, nt = 1;
    std::copy(DigitsOf(M), DigitsOf(M) + n0, r0);
    std::copy(DigitsOf(A), DigitsOf(A) + n1, r1);
    t1[0] = 1;
    bool xNegative = false;
    bool tNegative = false;
    do {
        std::size_t nq = 0;
        if (n0 <= 2 && n1 <= 2) {
            // Both below 2^62: the same division in one machine word.
            const std::uint64_t a = TwoDigits(r0, n0), b = TwoDigits(r1, n1);
            SetTwoDigits(a % b, r0, n0);
            SetTwoDigits(a / b, q, nq);
            nq = a >= b ? nq : 0;
        } else {
            nq = CompareDigits(r0, n0, r1, n1) >= 0 ? n0 - n1 + 1 : 0;
            DivideDigits(r0, n0, r1, n1, q, scratch);
        }
        std::swap(r0, r1); // r0 = r1, r1 = r
        std::swap(n0, n1);
        if (nq > 0) {
            AddMultiple(x, nx, t1, nt, q, SignificantCount(q, nq));
            for (std::size_t i = 0; i < nq; ++i)
                q[i] = 0;
        }
        std::swap(x, t1); // X = t1, t1 = X - t1 * q
        std::swap(nx, nt);
        xNegative = tNegative;
        tNegative = !tNegative;
    } while (!(n1 == 1 && r1[0] == 0));
    TBigInt result;
    Resize(result, nx);
    std::copy(x, x + nx, DigitsOf(result));
    if (xNegative && !IsZero(result)) {
        Resize(result, Count(M));
        SubtractDigits(DigitsOf(M), Count(M), DigitsOf(result), Count(M), DigitsOf(result));
        Normalize(result);
    }
    result.Positive = 1;
    X = std::move(result);
}

} // namespace

void BigIntSquareMod(const TBigInt& A, const TBigInt& M, TBigInt& Y) {
    TBigInt S;
    BigIntSquare(A, S);
    BigIntMod(S, M, Y);
}

void BigIntMultiplyMod(const TBigInt& A, const TBigInt& B, const TBigInt& M, TBigInt& Y) {
    TBigInt S;
    BigIntMultiply(A, B, S);
    BigIntMod(S, M, Y);
}

void BigIntGcd(const TBigInt& A, const TBigInt& B, TBigInt& G) {
    const TBigIntOrder order = BigIntCompareAbs(A, B);
    if (order == boEqual)
        return BigIntCopy(A, G);
    if (order == boSmaller)
        return BigIntGcd(B, A, G);
    TBigInt X, Y, T;
    BigIntCopy(A, X);
    BigIntCopy(B, Y);
    while (!IsZero(Y)) {
        BigIntMod(X, Y, T);
        std::swap(X, Y); // X = Y
        std::swap(Y, T); // Y = T
    }
    G = std::move(X);
}

void BigIntModInverse(const TBigInt& A, const TBigInt& M, TBigInt& X) {
    TBigInt g;
    BigIntGcd(A, M, g);
    if (!IsOne(g))
        return;
    TBigInt inverse;
    if (A.Positive != 0 && M.Positive != 0 && !IsZero(M))
        InverseOfNonNegative(A, M, inverse);
    else
        InverseCoprime(A, M, inverse);
    X = std::move(inverse);
}

void BigIntLowPart(const TBigInt& A, std::int64_t t, std::int64_t mask, TBigInt& L) {
    CheckValue(A, "BigIntLowPart");
    RequireDigitCount(t, "BigIntLowPart");
    const auto digits = static_cast<std::size_t>(t);
    if (Count(A) < digits)
        return BigIntCopy(A, L);
    TBigInt low;
    low.Digits.assign(A.Digits.begin(), A.Digits.begin() + 1 + static_cast<std::ptrdiff_t>(digits));
    low.Digits[0] = t;
    low.Digits[digits] &= mask;
    Normalize(low);
    low.Positive = 1;
    L = std::move(low);
}

void BigIntMultiplyLow(const TBigInt& A, const TBigInt& B, std::int64_t t, std::int64_t mask, TBigInt& L) {
    CheckValue(A, "BigIntMultiplyLow");
    CheckValue(B, "BigIntMultiplyLow");
    RequireDigitCount(t, "BigIntMultiplyLow");
    const std::size_t na = Count(A);
    const std::size_t nb = Count(B);
    const std::size_t w = std::min(static_cast<std::size_t>(t), na + nb);
    TPaddedDigits padded;
    const Digit* b = padded.Assign(DigitsOf(B), nb);
    TBigInt low;
    Resize(low, w);
    MultiplyColumns(DigitsOf(A), na, b, nb, w, nullptr, DigitsOf(low));
    if (w == static_cast<std::size_t>(t))
        low.Digits[w] &= mask;
    Normalize(low);
    low.Positive = (A.Positive != 0) == (B.Positive != 0) ? 1 : 0;
    L = std::move(low);
}

void BigIntMontgomeryReduce(const TBigInt& T, const TBigInt& N, const TBigInt& NPrime, std::int64_t t,
                            std::int64_t mask, TBigInt& U) {
    CheckValue(N, "BigIntMontgomeryReduce");
    CheckValue(NPrime, "BigIntMontgomeryReduce");
    RequireDigitCount(t, "BigIntMontgomeryReduce");
    TBigInt m, product, S;
    BigIntLowPart(T, t, mask, m);
    BigIntMultiplyLow(m, NPrime, t, mask, m);
    BigIntMultiply(m, N, product);
    BigIntAdd(product, T, S);
    // S is a multiple of R; below 2^(31 (t - 1)) the quotient is zero.
    TBigInt quotient;
    const auto dropped = static_cast<std::size_t>(t - 1);
    if (Count(S) <= dropped) {
        SetSmall(quotient, 0);
    } else {
        quotient.Digits.assign(S.Digits.begin() + static_cast<std::ptrdiff_t>(dropped), S.Digits.end());
        quotient.Digits[0] = static_cast<Digit>(Count(S) - dropped);
    }
    quotient.Positive = 1;
    if (mask >= (std::int64_t{1} << 30))
        BigIntShiftDigitsRight(quotient);
    else
        BigIntDivModSmall(quotient, mask + 1);
    if (BigIntCompareAbs(quotient, N) != boSmaller)
        BigIntSubAbsInPlace(quotient, N);
    U = std::move(quotient);
}

namespace detail {

void MontgomeryRadix(const TBigInt& N, TBigInt& R, std::int64_t& t, std::int64_t& mask) {
    CheckValue(N, "MontgomeryRadix");
    ZARN_ASSERT(!IsZero(N), "MontgomeryRadix: N = 0.", kSourceName);
    const std::size_t n = Count(N);
    const Digit top = N.Digits[n];
    TBigInt radix;
    if (top >= (Digit{1} << 30)) {
        Resize(radix, n + 1);
        std::fill(radix.Digits.begin() + 1, radix.Digits.end(), 0);
        radix.Digits[n + 1] = 1;
        mask = static_cast<std::int64_t>(kDigitMask);
    } else {
        int b = 29;
        while (((top >> b) & 1) == 0)
            --b;
        Resize(radix, n);
        std::fill(radix.Digits.begin() + 1, radix.Digits.end(), 0);
        radix.Digits[n] = Digit{1} << (b + 1);
        mask = (std::int64_t{1} << (b + 1)) - 1;
    }
    radix.Positive = 1;
    t = static_cast<std::int64_t>(n);
    R = std::move(radix);
}

namespace {

// N^(-1) mod 2^62 for odd n: each step x(2 - n x) doubles the bits that are right, starting from the 5 of
// (3 n) xor 2.
std::uint64_t InverseOfLowDigits(std::uint64_t n) {
    std::uint64_t x = (3 * n) ^ 2;
    for (int step = 0; step < 4; ++step)
        x *= 2 - n * x;
    return x & ((std::uint64_t{1} << 62) - 1);
}

// x = x - y mod 2^(31 n), digit by digit with a borrow.
void SubtractWrapping(Digit* x, const Digit* y, std::size_t n) {
    Digit borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Digit v = x[i] - y[i] - borrow;
        borrow = v < 0 ? 1 : 0;
        x[i] = v + (borrow << kDigitBits);
    }
}

} // namespace

void MontgomeryNPrime(const TBigInt& N, const TBigInt& R, std::int64_t t, std::int64_t mask,
                      TBigInt& NPrime) {
    CheckValue(N, "MontgomeryNPrime");
    const bool odd = (N.Digits[1] & 1) != 0;
    ZARN_ASSERT(odd && t >= 1 && Count(N) <= static_cast<std::size_t>(t), "MontgomeryNPrime: N must be odd.",
                kSourceName);
    // The inverse of N modulo 2^(31 k), lifted from k = 2 digits to t by Newton's step: with
    // e = N x = 1 + h mod 2^(31 2k), where h is a multiple of 2^(31 k), x - x h is the inverse modulo
    // 2^(31 2k). Below digit k, x h is zero, so only the new digits change.
    const auto digits = static_cast<std::size_t>(t);
    const std::size_t width = std::max<std::size_t>(digits, 2);
    TPaddedDigits inverse, error;
    Digit* x = inverse.Zeroed(width);
    Digit* h = error.Zeroed(width);
    std::vector<Digit> product(width, 0);
    const std::uint64_t low =
        InverseOfLowDigits(static_cast<std::uint64_t>(N.Digits[1]) |
                           (Count(N) > 1 ? static_cast<std::uint64_t>(N.Digits[2]) << kDigitBits : 0));
    x[0] = static_cast<Digit>(low & kDigitMask);
    x[1] = static_cast<Digit>(low >> kDigitBits);
    for (std::size_t k = 2; k < digits; k *= 2) {
        const std::size_t next = std::min(2 * k, digits);
        MultiplyColumns(DigitsOf(N), std::min(Count(N), next), x, k, next, nullptr, h);
        h[0] = 0; // e = 1 + h
        MultiplyColumns(h, next, x, k, next, nullptr, product.data());
        SubtractWrapping(x, product.data(), next);
        std::fill(h, h + next, 0);
    }
    // The inverse modulo R keeps the bits below the radix; N' = R - N^(-1) mod R.
    TBigInt lowPart;
    Resize(lowPart, digits);
    std::copy(x, x + digits, DigitsOf(lowPart));
    lowPart.Digits[digits] &= mask;
    Normalize(lowPart);
    BigIntSubtract(R, lowPart, NPrime);
}

} // namespace detail

namespace {

// The exponentiation's working state: fixed-length digit buffers of t digits (zero above the value), so
// that no step allocates. Every reduction takes a product T < N * R of 2t digits.
class TMontgomeryLoop {
public:
    TMontgomeryLoop(const TBigInt& N, const TBigInt& NPrime, std::size_t t, std::uint64_t mask)
        : m_kernels(MontgomeryKernels()), m_t(t), m_mask(static_cast<Digit>(mask)), m_shift(Bits(mask)),
          m_storage(4 * (t + 2 * kPad) + 2 * (3 * t + 1), 0) {
        // One block: N, N', P and X with their zero padding, then the two reductions' buffers.
        Digit* next = m_storage.data() + kPad;
        m_n = next;
        m_nPrime = next += t + 2 * kPad;
        m_p = next += t + 2 * kPad;
        m_x = next += t + 2 * kPad;
        next += t + kPad;
        m_forP = {next, next + 2 * t + 1};
        next += 3 * t + 1;
        m_forX = {next, next + 2 * t + 1};
        Store(N, m_n);
        Store(NPrime, m_nPrime);
    }

    void SetP(const TBigInt& value) { Store(value, m_p); }
    void SetX(const TBigInt& value) { Store(value, m_x); }

    // P = reduce(P * X) and X = reduce(X^2). The two chains are independent; running their stages in
    // turn lets the processor overlap them.
    void MultiplyPByXAndSquareX() {
        m_kernels.Product(m_p, m_x, m_t, m_forP.product);
        m_kernels.Square(m_x, m_t, m_forX.product);
        LowProduct(m_forP);
        LowProduct(m_forX);
        AddMultipleOfN(m_forP);
        AddMultipleOfN(m_forX);
        DivideByRadix(m_forP, m_p);
        DivideByRadix(m_forX, m_x);
    }

    // X = reduce(X^2).
    void SquareX() {
        m_kernels.Square(m_x, m_t, m_forX.product);
        Reduce(m_forX, m_x);
    }

    // P = reduce(P): leaves Montgomery form.
    void ReduceP() {
        std::fill(m_forP.product, m_forP.product + 2 * m_t + 1, 0);
        std::copy(m_p, m_p + m_t, m_forP.product);
        Reduce(m_forP, m_p);
    }

    void GetP(TBigInt& P) const {
        Resize(P, m_t);
        std::copy(m_p, m_p + m_t, DigitsOf(P));
        Normalize(P);
        P.Positive = 1;
    }

private:
    // The buffers of one reduction: T (becoming S in place, 2t + 1 digits, the top one zero between
    // reductions) and m = (T mod R) * N' mod R (t digits).
    struct TReduction {
        Digit* product;
        Digit* lowProduct;
    };

    static int Bits(std::uint64_t mask) {
        int bits = 0;
        while (bits < kDigitBits && ((mask >> bits) & 1) != 0)
            ++bits;
        return bits;
    }

    void Store(const TBigInt& value, Digit* digits) const {
        std::fill(digits, digits + m_t, 0);
        std::copy(DigitsOf(value), DigitsOf(value) + std::min(Count(value), m_t), digits);
    }

    // out = T * R^(-1) mod N: m = (T mod R) * N' mod R, S = m * N + T, U = S / R, less N once.
    void Reduce(TReduction& r, Digit* out) {
        LowProduct(r);
        AddMultipleOfN(r);
        DivideByRadix(r, out);
    }

    // m = (T mod R) * N' mod R, forming only the digits below the radix. T's digit t - 1 is masked while
    // the truncated product reads it.
    void LowProduct(TReduction& r) const {
        const std::size_t t = m_t;
        const Digit kept = r.product[t - 1];
        r.product[t - 1] &= m_mask;
        m_kernels.LowProduct(r.product, m_nPrime, t, r.lowProduct);
        r.product[t - 1] = kept;
        r.lowProduct[t - 1] &= m_mask;
    }

    // S = m * N + T < 2 N R < 2^(62 t + 1): 2t digits and a top digit of at most 1, formed in place of T,
    // its digits possibly redundant (see DivideByRadix).
    void AddMultipleOfN(TReduction& r) const {
        m_kernels.ProductPlus(r.lowProduct, m_n, m_t, r.product, r.product);
    }

    // out = S / R, less N when that is N or more. S is a multiple of R, so its lowest t - 1 digits are zero
    // in value: as redundant digits d_0 .. d_(t-2) (each below 2^31 + 2^16) they are worth either 0 or
    // exactly 2^(31 (t - 1)), the latter when any of them is non-zero; that is a carry of 1 into digit t - 1.
    // The digits from t - 1 up are settled on the way, and S / R takes digits t .. 2t (R = 2^(31 t)) or drops
    // the bits below 2^m_shift of digit t - 1. U < 2N: t digits and, only when R = 2^(31 t), a top digit of
    // at most 1.
    void DivideByRadix(TReduction& r, Digit* out) const {
        const std::size_t t = m_t;
        const Digit* s = r.product;
        Digit low = 0;
        for (std::size_t i = 0; i + 1 < t; ++i)
            low |= s[i];
        std::uint64_t v = static_cast<std::uint64_t>(s[t - 1]) + (low != 0 ? 1 : 0);
        Digit below = static_cast<Digit>(v & kDigitMask);
        std::uint64_t carry = v >> kDigitBits;
        if (m_shift == kDigitBits) {
            for (std::size_t j = 0; j < t; ++j) {
                v = static_cast<std::uint64_t>(s[t + j]) + carry;
                out[j] = static_cast<Digit>(v & kDigitMask);
                carry = v >> kDigitBits;
            }
        } else {
            const int up = kDigitBits - m_shift;
            for (std::size_t j = 0; j < t; ++j) {
                v = static_cast<std::uint64_t>(s[t + j]) + carry;
                const auto digit = static_cast<Digit>(v & kDigitMask);
                carry = v >> kDigitBits;
                out[j] = ((below >> m_shift) | (digit << up)) & static_cast<Digit>(kDigitMask);
                below = digit;
            }
        }
        const std::uint64_t top = static_cast<std::uint64_t>(s[2 * t]) + carry; // 0 unless R = 2^(31 t)
        // With a top digit the difference U - N still fits t digits: the borrow out of them cancels it.
        if (top != 0 || CompareDigits(out, t, m_n, t) >= 0)
            SubtractDigits(out, t, m_n, t, out);
        r.product[2 * t] = 0;
    }

    TMontgomeryKernels m_kernels;
    std::size_t m_t;
    Digit m_mask;
    int m_shift;
    std::vector<Digit> m_storage;
    Digit* m_n = nullptr;
    Digit* m_nPrime = nullptr;
    Digit* m_p = nullptr;
    Digit* m_x = nullptr;
    TReduction m_forP{}, m_forX{};
};

// ---- The exponentiation loop on 64-bit words ----
//
// The loop's values are held as 64-bit words, which the processor multiplies whole: R = 2^L stays the
// radix, so T mod R keeps the low bits below L, the truncated product keeps the words below the radix,
// and the division by R is a shift right by L bits.

using Word = std::uint64_t;

constexpr int kWordBits = 64;

std::size_t WordCount(std::size_t bits) {
    return (bits + kWordBits - 1) / kWordBits;
}

// The digits d[0 .. n) packed into w[0 .. words); digits above the words must be zero.
void PackWords(const Digit* d, std::size_t n, Word* w, std::size_t words) {
    std::fill(w, w + words, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t bit = kDigitBits * i;
        const std::size_t at = bit / kWordBits;
        const auto offset = static_cast<int>(bit % kWordBits);
        const auto digit = static_cast<Word>(d[i]);
        if (at < words)
            w[at] |= digit << offset;
        if (offset > kWordBits - kDigitBits && at + 1 < words)
            w[at + 1] |= digit >> (kWordBits - offset);
    }
}

// The words w[0 .. words) as n digits.
void UnpackWords(const Word* w, std::size_t words, Digit* d, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t bit = kDigitBits * i;
        const std::size_t at = bit / kWordBits;
        const auto offset = static_cast<int>(bit % kWordBits);
        Word value = at < words ? w[at] >> offset : 0;
        if (offset > kWordBits - kDigitBits && at + 1 < words)
            value |= w[at + 1] << (kWordBits - offset);
        d[i] = static_cast<Digit>(value & kDigitMask);
    }
}

// The products below scan columns: every product of a column goes into a three-word accumulator
// (c0, c1, c2), so the products of a column do not wait for each other, and the column's low word is
// written once. With n known to the compiler the loops unroll completely.
struct TColumnAccumulator {
    Word c0 = 0, c1 = 0, c2 = 0;

    __attribute__((always_inline)) void Add(UInt128 product) {
        const auto low = static_cast<Word>(product);
        const auto high = static_cast<Word>(product >> kWordBits);
#if defined(__x86_64__)
        // One carry chain through the three words. The sums are written before `high` is read, so they
        // must not share its register (an input of equal value could otherwise be given the same one).
        asm("addq %[low], %[c0]\n\t"
            "adcq %[high], %[c1]\n\t"
            "adcq $0, %[c2]"
            : [c0] "+&r"(c0), [c1] "+&r"(c1), [c2] "+&r"(c2)
            : [low] "r"(low), [high] "r"(high)
            : "cc");
#else
        const UInt128 sum = ((static_cast<UInt128>(c1) << kWordBits) | c0) + product;
        c2 += sum < product ? 1 : 0;
        c0 = static_cast<Word>(sum);
        c1 = static_cast<Word>(sum >> kWordBits);
#endif
    }
    __attribute__((always_inline)) void AddWord(Word w) {
        Add(w);
    }

    // The column's low word; the accumulator moves one word down for the next column.
    __attribute__((always_inline)) Word Next() {
        const Word low = c0;
        c0 = c1;
        c1 = c2;
        c2 = 0;
        return low;
    }
};

__attribute__((always_inline)) inline UInt128 Times(Word a, Word b) {
    return static_cast<UInt128>(a) * b;
}

// The rows i of column k of an n-word product, whose a_i * b_(k - i) lie inside both operands.
constexpr std::size_t FirstRow(std::size_t k, std::size_t n) {
    return k < n ? 0 : k - n + 1;
}
constexpr std::size_t EndRow(std::size_t k, std::size_t n) {
    return k < n ? k + 1 : n;
}

// r[0 .. 2n) = a * b.
__attribute__((always_inline)) inline void WordProduct(const Word* a, const Word* b, std::size_t n, Word* r) {
    TColumnAccumulator acc;
#pragma GCC unroll 32
    for (std::size_t k = 0; k + 1 < 2 * n; ++k) {
#pragma GCC unroll 32
        for (std::size_t i = FirstRow(k, n); i < EndRow(k, n); ++i)
            acc.Add(Times(a[i], b[k - i]));
        r[k] = acc.Next();
    }
    r[2 * n - 1] = acc.Next();
}

// r[0 .. 2n) = a^2: each cross product formed once and added twice.
__attribute__((always_inline)) inline void WordSquare(const Word* a, std::size_t n, Word* r) {
    TColumnAccumulator acc;
#pragma GCC unroll 32
    for (std::size_t k = 0; k + 1 < 2 * n; ++k) {
#pragma GCC unroll 32
        for (std::size_t i = FirstRow(k, n); 2 * i < k; ++i) {
            const UInt128 product = Times(a[i], a[k - i]);
            acc.Add(product);
            acc.Add(product);
        }
        if (k % 2 == 0)
            acc.Add(Times(a[k / 2], a[k / 2]));
        r[k] = acc.Next();
    }
    r[2 * n - 1] = acc.Next();
}

// r[0 .. n) = a * b mod 2^(64 n), forming only the columns below.
__attribute__((always_inline)) inline void WordLowProduct(const Word* a, const Word* b, std::size_t n,
                                                          Word* r) {
    TColumnAccumulator acc;
#pragma GCC unroll 32
    for (std::size_t k = 0; k < n; ++k) {
#pragma GCC unroll 32
        for (std::size_t i = 0; i <= k; ++i)
            acc.Add(Times(a[i], b[k - i]));
        r[k] = acc.Next();
    }
}

// s[0 .. 2n] = s + a * b, the sum fitting 2n + 1 words (s[2n] is zero before).
__attribute__((always_inline)) inline void WordAddProduct(const Word* a, const Word* b, std::size_t n,
                                                          Word* s) {
    TColumnAccumulator acc;
#pragma GCC unroll 32
    for (std::size_t k = 0; k + 1 < 2 * n; ++k) {
        acc.AddWord(s[k]);
#pragma GCC unroll 32
        for (std::size_t i = FirstRow(k, n); i < EndRow(k, n); ++i)
            acc.Add(Times(a[i], b[k - i]));
        s[k] = acc.Next();
    }
    acc.AddWord(s[2 * n - 1]);
    s[2 * n - 1] = acc.Next();
    s[2 * n] = acc.Next();
}

// The four products for n-word operands, with n fixed in the code, for n = 1 .. kFixedWordCounts.
struct TWordKernels {
    void (*Product)(const Word* a, const Word* b, Word* r);
    void (*Square)(const Word* a, Word* r);
    void (*LowProduct)(const Word* a, const Word* b, Word* r);
    void (*AddProduct)(const Word* a, const Word* b, Word* s);
};

constexpr std::size_t kFixedWordCounts = 8;

template <std::size_t N>
struct TFixedWordKernels {
    static void Product(const Word* a, const Word* b, Word* r) { WordProduct(a, b, N, r); }
    static void Square(const Word* a, Word* r) { WordSquare(a, N, r); }
    static void LowProduct(const Word* a, const Word* b, Word* r) { WordLowProduct(a, b, N, r); }
    static void AddProduct(const Word* a, const Word* b, Word* s) { WordAddProduct(a, b, N, s); }
};

template <std::size_t... I>
TWordKernels WordKernels(std::size_t n, std::index_sequence<I...>) {
    static constexpr TWordKernels fixed[] = {
        {TFixedWordKernels<I + 1>::Product, TFixedWordKernels<I + 1>::Square,
         TFixedWordKernels<I + 1>::LowProduct, TFixedWordKernels<I + 1>::AddProduct}...};
    ZARN_ASSERT(n >= 1 && n <= sizeof...(I), "WordKernels: no fixed form for this word count.", kSourceName);
    return fixed[n - 1];
}

TWordKernels WordKernels(std::size_t n) {
    return WordKernels(n, std::make_index_sequence<kFixedWordCounts>());
}

// Compares a and b, n words each: -1, 0 or 1.
int CompareWords(const Word* a, const Word* b, std::size_t n) {
    for (std::size_t i = n; i-- > 0;)
        if (a[i] != b[i])
            return a[i] < b[i] ? -1 : 1;
    return 0;
}

// a = a - b mod 2^(64 n).
void SubtractWords(Word* a, const Word* b, std::size_t n) {
    Word borrow = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const Word d = a[i] - b[i];
        const Word next = (a[i] < b[i] ? 1 : 0) | (d < borrow ? 1 : 0);
        a[i] = d - borrow;
        borrow = next;
    }
}

// The exponentiation's working state: buffers of n = ceil(L / 64) words allocated once, so that no step
// allocates. Every reduction takes a product T < N * R of 2n words.
class TMontgomeryWords {
public:
    TMontgomeryWords(const TBigInt& N, const TBigInt& NPrime, std::size_t bits)
        : m_kernels(WordKernels(WordCount(bits))), m_n(WordCount(bits)), m_bits(bits),
          m_storage(10 * m_n + 2, 0) {
        Word* next = m_storage.data();
        m_modulus = next;
        m_nPrime = next += m_n;
        m_p = next += m_n;
        m_x = next += m_n;
        m_low = next += m_n;
        m_forP = next += m_n;
        m_forX = next += 2 * m_n + 1;
        Store(N, m_modulus);
        Store(NPrime, m_nPrime);
    }

    void SetP(const TBigInt& value) { Store(value, m_p); }
    void SetX(const TBigInt& value) { Store(value, m_x); }

    // P = reduce(P * X) and X = reduce(X^2).
    void MultiplyPByXAndSquareX() {
        m_kernels.Product(m_p, m_x, m_forP);
        Reduce(m_forP, m_p);
        SquareX();
    }

    // X = reduce(X^2).
    void SquareX() {
        m_kernels.Square(m_x, m_forX);
        Reduce(m_forX, m_x);
    }

    // P = reduce(P): leaves Montgomery form.
    void ReduceP() {
        std::fill(m_forP, m_forP + 2 * m_n + 1, 0);
        std::copy(m_p, m_p + m_n, m_forP);
        Reduce(m_forP, m_p);
    }

    void GetP(TBigInt& P) const {
        const std::size_t digits = (m_bits + kDigitBits - 1) / kDigitBits;
        Resize(P, digits);
        UnpackWords(m_p, m_n, DigitsOf(P), digits);
        Normalize(P);
        P.Positive = 1;
    }

private:
    void Store(const TBigInt& value, Word* words) const {
        PackWords(DigitsOf(value), Count(value), words, m_n);
    }

    // Keeps the bits of w below L (w has n words).
    void MaskBelowRadix(Word* w) const {
        const std::size_t top = m_bits % kWordBits;
        if (top != 0)
            w[m_n - 1] &= (Word{1} << top) - 1;
    }

    // out = T * R^(-1) mod N: m = (T mod R) * N' mod R, S = m * N + T, U = S / R, less N once. T has 2n + 1
    // words, the top one zero, and becomes S.
    void Reduce(Word* T, Word* out) {
        const std::size_t n = m_n;
        Word* m = m_low;
        std::copy(T, T + n, out); // T mod R, borrowing out as scratch
        MaskBelowRadix(out);
        m_kernels.LowProduct(out, m_nPrime, m);
        MaskBelowRadix(m);
        m_kernels.AddProduct(m, m_modulus, T);
        // U = S >> L, below 2N < 2^(L + 1): n words and, when L is a whole number of words, the top bit in
        // word 2n of S.
        const std::size_t skip = m_bits / kWordBits;
        const auto shift = static_cast<int>(m_bits % kWordBits);
        for (std::size_t i = 0; i < n; ++i)
            out[i] =
                shift == 0 ? T[skip + i] : (T[skip + i] >> shift) | (T[skip + i + 1] << (kWordBits - shift));
        const Word top = shift == 0 ? T[skip + n] : 0;
        // With a top bit the difference U - N still fits n words: the borrow out of them cancels it.
        if (top != 0 || CompareWords(out, m_modulus, n) >= 0)
            SubtractWords(out, m_modulus, n);
        T[2 * n] = 0;
    }

    TWordKernels m_kernels;
    std::size_t m_n;
    std::size_t m_bits;
    std::vector<Word> m_storage;
    Word* m_modulus = nullptr;
    Word* m_nPrime = nullptr;
    Word* m_p = nullptr;
    Word* m_x = nullptr;
    Word* m_low = nullptr;
    Word* m_forP = nullptr;
    Word* m_forX = nullptr;
};

// Right-to-left binary exponentiation over the bits of E, least significant first, then out of
// Montgomery form.
template <class TLoop>
void RunPowerLoop(TLoop& loop, const std::string& bits, const TBigInt& one, const TBigInt& X, TBigInt& P) {
    loop.SetP(one);
    loop.SetX(X);
    for (std::size_t i = bits.size(); i-- > 0;) {
        if (bits[i] == '1')
            loop.MultiplyPByXAndSquareX();
        else
            loop.SquareX();
    }
    loop.ReduceP();
    loop.GetP(P);
}

void PowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) {
    const std::string bits = BigIntToBinary(E);
    TBigInt R, NPrime, one, X;
    std::int64_t t = 0;
    std::int64_t mask = 0;
    detail::MontgomeryRadix(N, R, t, mask);
    detail::MontgomeryNPrime(N, R, t, mask, NPrime);
    // R / 2 <= N < R, so R mod N is R - N.
    BigIntSubtract(R, N, one);
    BigIntMultiplyMod(Base, one, N, X);

    // L, the bit length of N: whole digits below the top one, and the bits the mask keeps of it. Up to
    // 512 bits (8 words) the loop runs on machine words with the products unrolled; above, on the digits
    // with the vector kernels, which are faster there.
    const auto L =
        static_cast<std::size_t>(kDigitBits * (t - 1) + std::popcount(static_cast<std::uint64_t>(mask)));
    if (WordCount(L) <= kFixedWordCounts) {
        TMontgomeryWords loop(N, NPrime, L);
        RunPowerLoop(loop, bits, one, X, P);
    } else {
        TMontgomeryLoop loop(N, NPrime, static_cast<std::size_t>(t), static_cast<std::uint64_t>(mask));
        RunPowerLoop(loop, bits, one, X, P);
    }
}

} // namespace

void BigIntPowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) {
    CheckValue(Base, "BigIntPowerMod");
    CheckValue(E, "BigIntPowerMod");
    CheckValue(N, "BigIntPowerMod");
    const bool oddAboveOne = N.Positive != 0 && (N.Digits[1] & 1) != 0 && !IsOne(N);
    ZARN_ASSERT(oddAboveOne, "BigIntPowerMod: the modulus must be odd and greater than 1.", kSourceName);
    TBigInt result;
    PowerMod(Base, E, N, result);
    P = std::move(result);
}

} // namespace zarn
