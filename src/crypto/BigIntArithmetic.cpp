// Comparison, signed addition and subtraction, multiplication and squaring, the small-operand operations,
// digit shifts and long division.
#include "BigIntInternal.h"
#include "crypto/BigInt.h"
#include "platform/Errors.h"

#include <algorithm>
#include <utility>

namespace zarn {

using namespace bigint;

namespace {

const char* const kSourceName = "Common\\BigInt";

inline std::uint64_t U(Digit d) {
    return static_cast<std::uint64_t>(d);
}

thread_local std::vector<Digit> t_scratch;

// From this many digits on, products go through digit pairs.
constexpr std::size_t kWordProductDigits = 6;

bool Flag(std::uint8_t positive) {
    return positive != 0;
}

// Adds A and B with the given sign flags; R is a different record.
void AddSigned(const TBigInt& A, bool aPositive, const TBigInt& B, bool bPositive, TBigInt& R) {
    const std::size_t na = Count(A);
    const std::size_t nb = Count(B);
    if (na < nb)
        return AddSigned(B, bPositive, A, aPositive, R);
    if (aPositive == bPositive) {
        Resize(R, na + 1);
        AddDigits(DigitsOf(A), na, DigitsOf(B), nb, DigitsOf(R));
    } else {
        if (BigIntCompareAbs(B, A) == boLarger)
            return AddSigned(B, bPositive, A, aPositive, R);
        Resize(R, na);
        SubtractDigits(DigitsOf(A), na, DigitsOf(B), nb, DigitsOf(R));
    }
    Normalize(R);
    R.Positive = aPositive ? 1 : 0;
}

// Calls `compute` on R, or on a temporary moved into R afterwards when R is one of the inputs.
template <typename Compute>
void IntoResult(TBigInt& R, std::initializer_list<const TBigInt*> inputs, Compute compute) {
    if (std::find(inputs.begin(), inputs.end(), &R) == inputs.end())
        return compute(R);
    TBigInt result;
    compute(result);
    R = std::move(result);
}

void IncrementMagnitude(TBigInt& A) {
    const std::size_t n = Count(A);
    Resize(A, n + 1);
    std::uint64_t carry = 1;
    for (std::size_t i = 1; i <= n + 1 && carry != 0; ++i) {
        const std::uint64_t v = U(A.Digits[i]) + carry;
        A.Digits[i] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
    }
    Normalize(A);
}

// R = |B| - R for 0 < R < |B|.
void ComplementRemainder(const TBigInt& B, TBigInt& R) {
    const std::size_t nb = Count(B);
    Resize(R, nb);
    SubtractDigits(DigitsOf(B), nb, DigitsOf(R), nb, DigitsOf(R));
    Normalize(R);
}

// R = |A| mod |B| and, when Q is given, Q = |A| div |B| (positive); B is not zero, Q and R are records
// different from A, B and each other.
void DivideMagnitudes(const TBigInt& A, const TBigInt& B, TBigInt* Q, TBigInt& R) {
    const std::size_t na = Count(A);
    const std::size_t nb = Count(B);
    R.Digits.assign(A.Digits.begin(), A.Digits.end());
    R.Positive = 1;
    if (BigIntCompareAbs(A, B) == boSmaller) {
        if (Q != nullptr)
            SetSmall(*Q, 0);
        return;
    }
    if (Q != nullptr) {
        Resize(*Q, na - nb + 1);
        std::fill(Q->Digits.begin() + 1, Q->Digits.end(), 0);
        Q->Positive = 1;
    }
    t_scratch.resize(nb + 1);
    std::size_t rn = na;
    DivideDigits(DigitsOf(R), rn, DigitsOf(B), nb, Q != nullptr ? DigitsOf(*Q) : nullptr, t_scratch.data());
    Resize(R, rn);
    if (Q != nullptr)
        Normalize(*Q);
}

void RequireDivisor(const TBigInt& B) {
    if (IsZero(B))
        throw EDivByZero();
}

} // namespace

TBigIntOrder BigIntCompareAbs(const TBigInt& A, const TBigInt& B) {
    CheckValue(A, "BigIntCompareAbs");
    CheckValue(B, "BigIntCompareAbs");
    const int order = CompareDigits(DigitsOf(A), Count(A), DigitsOf(B), Count(B));
    return order > 0 ? boLarger : order < 0 ? boSmaller : boEqual;
}

void BigIntAdd(const TBigInt& A, const TBigInt& B, TBigInt& R) {
    CheckValue(A, "BigIntAdd");
    CheckValue(B, "BigIntAdd");
    IntoResult(R, {&A, &B},
               [&](TBigInt& result) { AddSigned(A, Flag(A.Positive), B, Flag(B.Positive), result); });
}

void BigIntSubtract(const TBigInt& A, const TBigInt& B, TBigInt& R) {
    CheckValue(A, "BigIntSubtract");
    CheckValue(B, "BigIntSubtract");
    IntoResult(R, {&A, &B},
               [&](TBigInt& result) { AddSigned(A, Flag(A.Positive), B, !Flag(B.Positive), result); });
}

void BigIntNegate(TBigInt& A) {
    CheckValue(A, "BigIntNegate");
    A.Positive = Flag(A.Positive) ? 0 : 1;
}

void BigIntAbs(TBigInt& A) {
    CheckValue(A, "BigIntAbs");
    A.Positive = 1;
}

void BigIntMultiply(const TBigInt& A, const TBigInt& B, TBigInt& R) {
    CheckValue(A, "BigIntMultiply");
    CheckValue(B, "BigIntMultiply");
    IntoResult(R, {&A, &B}, [&](TBigInt& result) {
        const std::size_t na = Count(A);
        const std::size_t nb = Count(B);
        Resize(result, na + nb);
        if (std::min(na, nb) >= kWordProductDigits)
            MultiplyThroughPairs(DigitsOf(A), na, DigitsOf(B), nb, DigitsOf(result));
        else
            MultiplyColumns(DigitsOf(A), na, DigitsOf(B), nb, na + nb, nullptr, DigitsOf(result));
        Normalize(result);
        result.Positive = Flag(A.Positive) == Flag(B.Positive) ? 1 : 0;
    });
}

void BigIntSquare(const TBigInt& A, TBigInt& R) {
    CheckValue(A, "BigIntSquare");
    IntoResult(R, {&A}, [&](TBigInt& result) {
        const std::size_t n = Count(A);
        Resize(result, 2 * n);
        if (n >= kWordProductDigits)
            MultiplyThroughPairs(DigitsOf(A), n, nullptr, n, DigitsOf(result));
        else
            SquareColumns(DigitsOf(A), n, DigitsOf(result));
        Normalize(result);
        result.Positive = 1;
    });
}

void BigIntMulSmall(TBigInt& A, std::int64_t m) {
    CheckValue(A, "BigIntMulSmall");
    ZARN_ASSERT(m >= 0, "BigIntMulSmall: negative factor.", kSourceName);
    const std::size_t n = Count(A);
    Resize(A, n + 3);
    if (m < (std::int64_t{1} << 32)) {
        // Digit * m < 2^63 and the carry stays below 2^33.
        std::uint64_t carry = 0;
        for (std::size_t i = 1; i <= n; ++i) {
            const std::uint64_t v = U(A.Digits[i]) * U(m) + carry;
            A.Digits[i] = static_cast<Digit>(v & kDigitMask);
            carry = v >> kDigitBits;
        }
        for (std::size_t i = n + 1; i <= n + 3; ++i, carry >>= kDigitBits)
            A.Digits[i] = static_cast<Digit>(carry & kDigitMask);
    } else {
        UInt128 carry = 0;
        for (std::size_t i = 1; i <= n; ++i) {
            const UInt128 v = static_cast<UInt128>(U(A.Digits[i])) * U(m) + carry;
            A.Digits[i] = static_cast<Digit>(static_cast<std::uint64_t>(v) & kDigitMask);
            carry = v >> kDigitBits;
        }
        for (std::size_t i = n + 1; i <= n + 3; ++i, carry >>= kDigitBits)
            A.Digits[i] = static_cast<Digit>(static_cast<std::uint64_t>(carry) & kDigitMask);
    }
    Normalize(A);
}

namespace {

std::uint64_t CheckedDivisor(std::int64_t d, const char* operation) {
    if (d == 0)
        throw EDivByZero();
    ZARN_ASSERT(d > 0, std::string(operation) + ": negative divisor.", kSourceName);
    return U(d);
}

// rem * 2^31 + digit < d * 2^31, below 2^63 for d <= 2^32; larger divisors take 128 bits. The quotient
// digits go to `quotient` when it is not null (it may be `digits`).
std::uint64_t DivideBySmall(const Digit* digits, std::size_t n, std::uint64_t d, Digit* quotient) {
    if (d <= (std::uint64_t{1} << 32)) {
        std::uint64_t rem = 0;
        for (std::size_t i = n; i-- > 0;) {
            const std::uint64_t v = (rem << kDigitBits) | U(digits[i]);
            if (quotient != nullptr)
                quotient[i] = static_cast<Digit>(v / d);
            rem = v % d;
        }
        return rem;
    }
    UInt128 rem = 0;
    for (std::size_t i = n; i-- > 0;) {
        const UInt128 v = (rem << kDigitBits) | U(digits[i]);
        if (quotient != nullptr)
            quotient[i] = static_cast<Digit>(static_cast<std::uint64_t>(v / d));
        rem = v % d;
    }
    return static_cast<std::uint64_t>(rem);
}

} // namespace

std::int64_t BigIntDivModSmall(TBigInt& A, std::int64_t d) {
    CheckValue(A, "BigIntDivModSmall");
    const std::uint64_t divisor = CheckedDivisor(d, "BigIntDivModSmall");
    const std::uint64_t rem = DivideBySmall(DigitsOf(A), Count(A), divisor, DigitsOf(A));
    Normalize(A);
    return static_cast<std::int64_t>(rem);
}

std::int64_t BigIntModSmall(const TBigInt& A, std::int64_t d) {
    CheckValue(A, "BigIntModSmall");
    const std::uint64_t divisor = CheckedDivisor(d, "BigIntModSmall");
    return static_cast<std::int64_t>(DivideBySmall(DigitsOf(A), Count(A), divisor, nullptr));
}

void BigIntHalve(TBigInt& A) {
    CheckValue(A, "BigIntHalve");
    const std::size_t n = Count(A);
    Digit c = 0;
    for (std::size_t i = n; i >= 1; --i) {
        const Digit b = A.Digits[i] & 1;
        A.Digits[i] = (A.Digits[i] >> 1) | c;
        c = b << 30;
    }
    if (A.Digits[n] == 0 && n > 1)
        Resize(A, n - 1);
}

void BigIntShiftDigitsLeft(TBigInt& A) {
    CheckValue(A, "BigIntShiftDigitsLeft");
    if (IsZero(A))
        return;
    A.Digits.insert(A.Digits.begin() + 1, 0);
    A.Digits[0] += 1;
}

void BigIntShiftDigitsRight(TBigInt& A) {
    CheckValue(A, "BigIntShiftDigitsRight");
    if (Count(A) > 1) {
        A.Digits.erase(A.Digits.begin() + 1);
        A.Digits[0] -= 1;
    } else {
        A.Digits[1] = 0;
    }
}

void BigIntSubAbsInPlace(TBigInt& A, const TBigInt& B) {
    ZARN_ASSERT(BigIntCompareAbs(A, B) != boSmaller, "BigIntSubAbsInPlace: |A| < |B|.", kSourceName);
    SubtractDigits(DigitsOf(A), Count(A), DigitsOf(B), Count(B), DigitsOf(A));
    Normalize(A);
}

void BigIntDivMod(const TBigInt& A, const TBigInt& B, TBigInt& Q, TBigInt& R) {
    CheckValue(A, "BigIntDivMod");
    CheckValue(B, "BigIntDivMod");
    RequireDivisor(B);
    if (&Q == &A || &Q == &B || &R == &A || &R == &B || &Q == &R) {
        TBigInt quotient;
        TBigInt remainder;
        BigIntDivMod(A, B, quotient, remainder);
        Q = std::move(quotient);
        R = std::move(remainder);
        return;
    }
    const bool aPositive = Flag(A.Positive);
    const bool bPositive = Flag(B.Positive);
    DivideMagnitudes(A, B, &Q, R);
    if (aPositive) {
        Q.Positive = bPositive ? 1 : 0;
        return;
    }
    if (!IsZero(R)) {
        IncrementMagnitude(Q);
        ComplementRemainder(B, R);
    }
    Q.Positive = bPositive ? 0 : 1;
}

void BigIntMod(const TBigInt& A, const TBigInt& B, TBigInt& R) {
    CheckValue(A, "BigIntMod");
    CheckValue(B, "BigIntMod");
    RequireDivisor(B);
    IntoResult(R, {&A, &B}, [&](TBigInt& result) {
        DivideMagnitudes(A, B, nullptr, result);
        if (!Flag(A.Positive) && !IsZero(result))
            ComplementRemainder(B, result);
        result.Positive = 1;
    });
}

} // namespace zarn
