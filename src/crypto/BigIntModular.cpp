// Modular arithmetic as specified: reduction of products and squares, gcd, inverse, the Montgomery radix
// and reduction on digits, and the right-to-left binary exponentiation built on them (the reference that
// the fast forms of BigIntPowerMod are held to). BigIntPowerMod hands the work to the engine of
// BigIntMontgomery.cpp in the default form for the size, PowerModWith in the form it is given.
#include "BigIntInternal.h"
#include "BigIntWords.h"
#include "crypto/BigInt.h"
#include "platform/Errors.h"

#include <algorithm>
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
// max(nx, nq + nt) + 1 digits.
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
    // One block: two remainders, two coefficients, the division's scratch and the quotient.
    const std::size_t capacity = std::max(Count(A), Count(M)) + 3;
    std::vector<Digit> block(6 * capacity + 1, 0);
    Digit* r0 = block.data();
    Digit* r1 = r0 + capacity;
    Digit* x = r1 + capacity;
    Digit* t1 = x + capacity;
    Digit* scratch = t1 + capacity;
    Digit* q = scratch + capacity + 1;
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
    TBigInt low;
    Resize(low, w);
    MultiplyColumns(DigitsOf(A), na, DigitsOf(B), nb, w, nullptr, DigitsOf(low));
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

void PowerModReference(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) {
    CheckValue(Base, "PowerModReference");
    const std::string bits = BigIntToBinary(E);
    TBigInt R, inverse, NPrime, one, X, product, result;
    std::int64_t t = 0;
    std::int64_t mask = 0;
    MontgomeryRadix(N, R, t, mask);
    BigIntModInverse(N, R, inverse);
    BigIntSubtract(R, inverse, NPrime);
    BigIntMod(R, N, result);
    BigIntMultiplyMod(Base, result, N, X);
    for (std::size_t i = bits.size(); i-- > 0;) {
        if (bits[i] == '1') {
            BigIntMultiply(result, X, product);
            BigIntMontgomeryReduce(product, N, NPrime, t, mask, result);
        }
        BigIntSquare(X, product);
        BigIntMontgomeryReduce(product, N, NPrime, t, mask, X);
    }
    BigIntMontgomeryReduce(result, N, NPrime, t, mask, P);
}

} // namespace detail

namespace {

void CheckPowerModOperands(const TBigInt& Base, const TBigInt& E, const TBigInt& N, const char* operation) {
    CheckValue(Base, operation);
    CheckValue(E, operation);
    CheckValue(N, operation);
    const bool oddAboveOne = N.Positive != 0 && (N.Digits[1] & 1) != 0 && !IsOne(N);
    ZARN_ASSERT(oddAboveOne, std::string(operation) + ": the modulus must be odd and greater than 1.",
                kSourceName);
}

// P = Base^|E| mod N in `form`, for checked operands; a Base outside 0 .. N - 1 enters as its residue.
void PowerModIn(detail::TPowerModForm form, const TBigInt& Base, const TBigInt& E, const TBigInt& N,
                TBigInt& P) {
    TBigInt result;
    if (form == detail::TPowerModForm::Reference) {
        detail::PowerModReference(Base, E, N, result);
    } else if (IsNegative(Base) || BigIntCompareAbs(Base, N) != boSmaller) {
        TBigInt residue;
        BigIntMod(Base, N, residue);
        EnginePower(residue, E, N, KernelsOf(form), result);
    } else {
        EnginePower(Base, E, N, KernelsOf(form), result);
    }
    P = std::move(result);
}

} // namespace

void BigIntPowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) {
    CheckPowerModOperands(Base, E, N, "BigIntPowerMod");
    PowerModIn(detail::DefaultPowerModForm(BitLength(N)), Base, E, N, P);
}

namespace detail {

void PowerModWith(TPowerModForm form, const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) {
    CheckPowerModOperands(Base, E, N, "PowerModWith");
    ZARN_ASSERT(PowerModFormAvailable(form), "PowerModWith: the form is not available on this processor.",
                kSourceName);
    ZARN_ASSERT(PowerModFormTakes(form, BitLength(N)),
                "PowerModWith: the modulus is too long for IFMA limbs.", kSourceName);
    PowerModIn(form, Base, E, N, P);
}

} // namespace detail

} // namespace zarn
