// Comparison, addition, subtraction, multiplication, squaring, the small-operand operations, shifts and
// long division, against GMP: value, sign flag as the sign rules give it, and normal form.
#include "crypto/BigInt.h"
#include "crypto/BigIntPrimality.h"
#include "platform/Errors.h"
#include "tests/crypto/BigIntOracle.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>

namespace zarn {
namespace {

using test::bigint::Describe;
using test::bigint::Holds;
using test::bigint::PowerOfTwo;
using test::bigint::RecordOf;
using test::bigint::Scaled;
using test::bigint::TGmp;
using test::bigint::TOperands;
using test::bigint::ValueOf;

TGmp Abs(const TBigInt& A) {
    TGmp value = ValueOf(A);
    mpz_abs(value.get(), value.get());
    return value;
}

// The magnitude with the sign that `flag` gives it.
TGmp WithFlag(TGmp magnitude, int flag) {
    if (flag == 0)
        mpz_neg(magnitude.get(), magnitude.get());
    return magnitude;
}

// A second operand: independent, or of the same magnitude as `a`, or close to it.
TBigInt Partner(TOperands& operands, const TBigInt& a) {
    switch (operands.Below(6)) {
    case 0: {
        TBigInt b = a;
        b.Positive = static_cast<std::uint8_t>(operands.Below(2));
        return b;
    }
    case 1: {
        TGmp value = Abs(a);
        mpz_add_ui(value.get(), value.get(), 1);
        return RecordOf(value, static_cast<int>(operands.Below(2)));
    }
    default:
        return operands.Signed(1 + static_cast<unsigned>(operands.Below(100)));
    }
}

TEST(BigIntArithmetic, CompareAddSubtractAgreeWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(10);
    for (int round = 0; round < Scaled(6000); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(round % 100));
        const TBigInt b = Partner(operands, a);
        SCOPED_TRACE(Describe(a) + " and " + Describe(b));
        const TGmp av = ValueOf(a), bv = ValueOf(b);
        const int order = mpz_cmpabs(av.get(), bv.get());
        EXPECT_EQ(BigIntCompareAbs(a, b), order > 0 ? boLarger : order < 0 ? boSmaller : boEqual);

        TGmp expected;
        TBigInt r;
        BigIntAdd(a, b, r);
        mpz_add(expected.get(), av.get(), bv.get());
        EXPECT_TRUE(Holds(r, expected, order >= 0 ? a.Positive : b.Positive)) << "add";

        BigIntSubtract(a, b, r);
        mpz_sub(expected.get(), av.get(), bv.get());
        EXPECT_TRUE(Holds(r, expected, order >= 0 ? a.Positive : 1 - b.Positive)) << "subtract";
        EXPECT_TRUE(Holds(b, bv, b.Positive)) << "B unchanged";
    }
}

TEST(BigIntArithmeticKernels, MultiplyAndSquareAgreeWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(11);
    for (int round = 0; round < Scaled(3000); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(round % 100));
        const TBigInt b = Partner(operands, a);
        SCOPED_TRACE(Describe(a) + " and " + Describe(b));
        const TGmp av = ValueOf(a), bv = ValueOf(b);
        TGmp expected;
        TBigInt r;
        BigIntMultiply(a, b, r);
        mpz_mul(expected.get(), av.get(), bv.get());
        EXPECT_TRUE(Holds(r, expected, a.Positive == b.Positive ? 1 : 0)) << "multiply";

        BigIntSquare(a, r);
        mpz_mul(expected.get(), av.get(), av.get());
        EXPECT_TRUE(Holds(r, expected, 1)) << "square";
    }
}

TEST(BigIntArithmeticKernels, SquaresOfAllOnesAndAllMaximalDigits) {
    // Every column of these squares holds the largest sums; 2^62 - 1 is two digits of 0x7FFFFFFF.
    for (unsigned long bits = 1; bits <= 31 * 70; bits += bits < 100 ? 1 : 29) {
        const TGmp value = PowerOfTwo(bits, -1);
        const TBigInt a = RecordOf(value);
        SCOPED_TRACE(bits);
        TGmp expected;
        mpz_mul(expected.get(), value.get(), value.get());
        TBigInt square, product;
        BigIntSquare(a, square);
        BigIntMultiply(a, a, product);
        EXPECT_TRUE(Holds(square, expected, 1));
        EXPECT_TRUE(Holds(product, expected, 1));
    }
}

// Long products and squares (on digit pairs, in strips of 8, 4, 2 and 1 pairs) next to the digit
// schoolbook, which BigIntMultiplyLow runs when its radix lies above the whole product, and GMP: every
// length from 1 to 80 digits against lengths around it and far from it, and up to 140 digits, in the
// shapes of TOperands and with every digit 0x7FFFFFFF (the largest column sums).
TEST(BigIntArithmeticKernels, LongProductsMatchTheDigitSchoolbook) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(12);
    const auto withDigits = [&](unsigned long digits, bool allOnes) {
        const unsigned long bits = 31 * (digits - 1) + 1 + operands.Below(31);
        return RecordOf(allOnes ? PowerOfTwo(31 * digits, -1) : operands.WithBits(bits),
                        static_cast<int>(operands.Below(2)));
    };
    const auto check = [](const TBigInt& a, const TBigInt& b) {
        SCOPED_TRACE(Describe(a) + " and " + Describe(b));
        const std::int64_t columns = a.Digits[0] + b.Digits[0];
        TBigInt product, square, reference;
        BigIntMultiply(a, b, product);
        BigIntMultiplyLow(a, b, columns, 0x7FFFFFFF, reference);
        TGmp expected;
        mpz_mul(expected.get(), ValueOf(a).get(), ValueOf(b).get());
        EXPECT_TRUE(Holds(product, expected, a.Positive == b.Positive ? 1 : 0));
        EXPECT_EQ(product.Digits, reference.Digits);
        BigIntSquare(a, square);
        BigIntMultiplyLow(a, a, 2 * a.Digits[0], 0x7FFFFFFF, reference);
        mpz_mul(expected.get(), ValueOf(a).get(), ValueOf(a).get());
        EXPECT_TRUE(Holds(square, expected, 1));
        EXPECT_EQ(square.Digits, reference.Digits);
    };
    for (unsigned long digits = 1; digits <= 80; ++digits) {
        for (const bool allOnes : {false, true}) {
            const TBigInt a = withDigits(digits, allOnes);
            check(a, withDigits(digits, allOnes));
            check(a, withDigits(std::max(1ul, digits + operands.Below(5) - 2), allOnes));
            check(a, withDigits(1 + operands.Below(140), allOnes));
        }
    }
    for (int round = 0; round < Scaled(40); ++round)
        check(withDigits(81 + operands.Below(60), false), withDigits(1 + operands.Below(140), false));
}

TEST(BigIntArithmetic, EdgeCasesOfTheSignRules) {
    EXPECT_EQ(BigIntCompareAbs(RecordOf(-5), RecordOf(5)), boEqual);
    EXPECT_EQ(BigIntCompareAbs(RecordOf(-7), RecordOf(5)), boLarger);
    EXPECT_EQ(BigIntCompareAbs(RecordOf(5), RecordOf(-7)), boSmaller);

    TBigInt r;
    BigIntAdd(RecordOf(5), RecordOf(-5), r);
    EXPECT_TRUE(Holds(r, TGmp(0), 1));
    BigIntAdd(RecordOf(-5), RecordOf(5), r);
    EXPECT_TRUE(Holds(r, TGmp(0), 0));

    BigIntAdd(RecordOf(0x7FFFFFFF), RecordOf(1), r);
    EXPECT_EQ(r.Digits, (std::vector<std::int64_t>{2, 0, 1}));
    TBigInt back;
    BigIntSubtract(r, RecordOf(1), back);
    EXPECT_EQ(back.Digits, (std::vector<std::int64_t>{1, 0x7FFFFFFF}));

    BigIntMultiply(RecordOf(0), RecordOf(-3), r);
    EXPECT_TRUE(Holds(r, TGmp(0), 0));
    BigIntMultiply(RecordOf(-3), RecordOf(-4), r);
    EXPECT_TRUE(Holds(r, TGmp(12), 1));
    BigIntSquare(RecordOf(-3), r);
    EXPECT_TRUE(Holds(r, TGmp(9), 1));

    TBigInt a = RecordOf(6);
    BigIntNegate(a);
    EXPECT_EQ(a.Positive, 0);
    BigIntAbs(a);
    EXPECT_EQ(a.Positive, 1);
}

TEST(BigIntArithmetic, InputsMayBeTheResultRecord) {
    TBigInt a = RecordOf(-123456789012345L);
    const TGmp av = ValueOf(a);
    TGmp expected;
    BigIntMultiply(a, a, a);
    mpz_mul(expected.get(), av.get(), av.get());
    EXPECT_TRUE(Holds(a, expected, 1));
    BigIntSubtract(a, a, a); // x - x: equal magnitudes, the first operand's flag
    EXPECT_TRUE(Holds(a, TGmp(0), 1));
    a = RecordOf(99);
    TBigInt b = RecordOf(-100);
    BigIntAdd(a, b, b);
    EXPECT_TRUE(Holds(b, TGmp(-1), 0));
    BigIntSquare(b, b);
    EXPECT_TRUE(Holds(b, TGmp(1), 1));
}

TEST(BigIntSmallOperand, AgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(12);
    const std::uint64_t divisors[] = {1,          2,          3,          9973,
                                      0x7FFFFFFF, 0x80000000, 0xFFFFFFFF, std::uint64_t{1} << 32};
    for (int round = 0; round < Scaled(4000); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(round % 100));
        const std::uint64_t d =
            round % 3 == 0 ? divisors[operands.Below(8)] : 1 + operands.Below(std::uint64_t{1} << 32);
        SCOPED_TRACE(Describe(a) + " by " + std::to_string(d));
        const TGmp magnitude = Abs(a);
        TGmp quotient;
        const unsigned long remainder = mpz_fdiv_q_ui(quotient.get(), magnitude.get(), d);

        EXPECT_EQ(BigIntModSmall(a, static_cast<std::int64_t>(d)), static_cast<std::int64_t>(remainder));
        TBigInt q = a;
        EXPECT_EQ(BigIntDivModSmall(q, static_cast<std::int64_t>(d)), static_cast<std::int64_t>(remainder));
        EXPECT_TRUE(Holds(q, WithFlag(quotient, a.Positive), a.Positive)) << "quotient";

        const std::uint64_t m = 1 + operands.Below(0x7FFFFFFF);
        TBigInt product = a;
        BigIntMulSmall(product, static_cast<std::int64_t>(m));
        TGmp expected;
        mpz_mul_ui(expected.get(), ValueOf(a).get(), m);
        EXPECT_TRUE(Holds(product, expected, a.Positive)) << "times " << m;
    }
}

TEST(BigIntSmallOperand, EdgeCasesAndOperandsOutsideTheUsualRange) {
    EXPECT_EQ(BigIntModSmall(RecordOf(10007), 3), 2);
    EXPECT_EQ(BigIntModSmall(RecordOf(-10007), 3), 2);
    EXPECT_THROW(BigIntModSmall(RecordOf(5), 0), EDivByZero);
    TBigInt a = RecordOf(5);
    EXPECT_THROW(BigIntDivModSmall(a, 0), EDivByZero);
    EXPECT_THROW(BigIntDivModSmall(a, -2), EAssertionFailed);
    EXPECT_THROW(BigIntMulSmall(a, -2), EAssertionFailed);
    EXPECT_TRUE(Holds(a, TGmp(5), 1)) << "left unchanged";

    // Divisors and factors above 2^32 are exact too, and a zero factor gives zero in normal form.
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(13);
    for (int round = 0; round < Scaled(300); ++round) {
        const TBigInt x = operands.Signed(1 + static_cast<unsigned>(round % 40));
        const std::uint64_t d = (std::uint64_t{1} << 32) + 1 + operands.Below(std::uint64_t{1} << 62);
        TGmp dv, quotient, remainder, product;
        mpz_import(dv.get(), 1, 1, sizeof(d), 0, 0, &d);
        mpz_fdiv_qr(quotient.get(), remainder.get(), Abs(x).get(), dv.get());
        TBigInt q = x;
        EXPECT_EQ(BigIntDivModSmall(q, static_cast<std::int64_t>(d)),
                  static_cast<std::int64_t>(mpz_get_ui(remainder.get())));
        EXPECT_TRUE(Holds(q, WithFlag(quotient, x.Positive), x.Positive));
        TBigInt p = x;
        BigIntMulSmall(p, static_cast<std::int64_t>(d));
        mpz_mul(product.get(), Abs(x).get(), dv.get());
        EXPECT_TRUE(Holds(p, WithFlag(product, x.Positive), x.Positive));
    }
    TBigInt z = RecordOf(-123456789012345L);
    BigIntMulSmall(z, 0);
    EXPECT_TRUE(Holds(z, TGmp(0), 0));
}

TEST(BigIntShifts, HalveAndDigitShiftsAgreeWithGmp) {
    TBigInt a = RecordOf(1);
    BigIntHalve(a);
    EXPECT_EQ(a.Digits, (std::vector<std::int64_t>{1, 0}));
    a = RecordOf(0x80000000L);
    BigIntHalve(a);
    EXPECT_EQ(a.Digits, (std::vector<std::int64_t>{1, 0x40000000}));
    a = RecordOf(-0x7FFFFFFFL);
    BigIntShiftDigitsRight(a);
    EXPECT_TRUE(Holds(a, TGmp(0), 0));
    a = RecordOf(0);
    BigIntShiftDigitsLeft(a);
    EXPECT_EQ(a.Digits, (std::vector<std::int64_t>{1, 0}));

    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(14);
    for (int round = 0; round < Scaled(1500); ++round) {
        const TBigInt x = operands.Signed(1 + static_cast<unsigned>(round % 100));
        SCOPED_TRACE(Describe(x));
        const TGmp magnitude = Abs(x);
        TGmp expected;
        TBigInt y = x;
        BigIntHalve(y);
        mpz_fdiv_q_2exp(expected.get(), magnitude.get(), 1);
        EXPECT_TRUE(Holds(y, WithFlag(expected, x.Positive), x.Positive)) << "halve";

        y = x;
        BigIntShiftDigitsRight(y);
        mpz_fdiv_q_2exp(expected.get(), magnitude.get(), 31);
        EXPECT_TRUE(Holds(y, WithFlag(expected, x.Positive), x.Positive)) << "right";

        y = x;
        BigIntShiftDigitsLeft(y);
        mpz_mul_2exp(expected.get(), magnitude.get(), 31);
        EXPECT_TRUE(Holds(y, WithFlag(expected, x.Positive), x.Positive)) << "left";
    }
}

TEST(BigIntSubAbsInPlace, AgreesWithGmpAndRefusesALargerSubtrahend) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(15);
    for (int round = 0; round < Scaled(1500); ++round) {
        TBigInt a = operands.Signed(1 + static_cast<unsigned>(round % 100));
        TBigInt b = Partner(operands, a);
        if (BigIntCompareAbs(a, b) == boSmaller)
            std::swap(a, b);
        SCOPED_TRACE(Describe(a) + " less " + Describe(b));
        TGmp expected;
        mpz_sub(expected.get(), Abs(a).get(), Abs(b).get());
        const std::uint8_t flag = a.Positive;
        BigIntSubAbsInPlace(a, b);
        EXPECT_TRUE(Holds(a, WithFlag(expected, flag), flag));
    }
    TBigInt small = RecordOf(-5);
    EXPECT_THROW(BigIntSubAbsInPlace(small, RecordOf(0x80000000L)), EAssertionFailed);
    EXPECT_TRUE(Holds(small, TGmp(-5), 0)) << "left unchanged";
    BigIntSubAbsInPlace(small, small);
    EXPECT_TRUE(Holds(small, TGmp(0), 0));
}

struct TDivisionCase {
    long a, b, q, r;
    int quotientFlag;
};

TEST(BigIntDivision, SignTable) {
    const TDivisionCase cases[] = {
        {7, 2, 3, 1, 1},   {-7, 2, -4, 1, 0}, {7, -2, -3, 1, 0}, {-7, -2, 4, 1, 1},
        {-6, 2, -3, 0, 0}, {3, 5, 0, 3, 1},   {-3, 5, -1, 2, 0}, {3, -5, 0, 3, 0}, // a zero Q with B's flag
        {-6, -2, 3, 0, 1}, {0, -5, 0, 0, 0},  {5, 5, 1, 0, 1},
    };
    for (const TDivisionCase& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " divided by " + std::to_string(c.b));
        TBigInt q, r;
        BigIntDivMod(RecordOf(c.a), RecordOf(c.b), q, r);
        EXPECT_TRUE(Holds(q, TGmp(c.q), c.quotientFlag));
        EXPECT_TRUE(Holds(r, TGmp(c.r), 1));
    }
    const long mods[][3] = {{-7, 2, 1}, {-6, 2, 0}, {5, -3, 2}, {-5, -3, 1}, {2, 7, 2}};
    for (const auto& m : mods) {
        TBigInt r;
        BigIntMod(RecordOf(m[0]), RecordOf(m[1]), r);
        EXPECT_TRUE(Holds(r, TGmp(m[2]), 1)) << m[0] << " mod " << m[1];
    }
}

TEST(BigIntDivision, ZeroDivisorRaises) {
    TBigInt q = RecordOf(1), r = RecordOf(2);
    EXPECT_THROW(BigIntDivMod(RecordOf(7), RecordOf(0), q, r), EDivByZero);
    TBigInt negativeZero = RecordOf(0);
    negativeZero.Positive = 0;
    EXPECT_THROW(BigIntDivMod(RecordOf(7), negativeZero, q, r), EDivByZero);
    EXPECT_THROW(BigIntMod(RecordOf(-7), negativeZero, r), EDivByZero);
    try {
        BigIntMod(RecordOf(1), RecordOf(0), r);
    } catch (const EDivByZero& error) {
        EXPECT_EQ(error.Message(), "Division durch Null");
    }
}

// Checks DivMod and Mod of a by b against GMP.
void ExpectDivision(const TBigInt& a, const TBigInt& b) {
    SCOPED_TRACE(Describe(a) + " divided by " + Describe(b));
    const TGmp av = ValueOf(a), bv = ValueOf(b);
    TGmp absB, remainder, quotient;
    mpz_abs(absB.get(), bv.get());
    mpz_mod(remainder.get(), av.get(), absB.get());
    mpz_sub(quotient.get(), av.get(), remainder.get());
    mpz_divexact(quotient.get(), quotient.get(), bv.get());
    TBigInt q, r, m;
    BigIntDivMod(a, b, q, r);
    EXPECT_TRUE(Holds(q, quotient, a.Positive == b.Positive ? 1 : 0));
    EXPECT_TRUE(Holds(r, remainder, 1));
    BigIntMod(a, b, m);
    EXPECT_TRUE(Holds(m, remainder, 1));
}

TEST(BigIntDivision, AgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(16);
    for (int round = 0; round < Scaled(5000); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(round % 100));
        TBigInt b = operands.Signed(1 + static_cast<unsigned>(operands.Below(1 + (a.Digits.size() - 1) + 2)));
        if (mpz_sgn(ValueOf(b).get()) == 0)
            b = RecordOf(round % 2 == 0 ? 1 : -1);
        ExpectDivision(a, b);
    }
}

TEST(BigIntDivision, DivisorsWithExtremeTopDigits) {
    // Top digit 0x7FFFFFFF makes every estimate divide by 2^31; top digit 1 makes them coarse.
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(17);
    for (int round = 0; round < Scaled(300); ++round) {
        const unsigned digits = 1 + static_cast<unsigned>(operands.Below(30));
        TGmp low = operands.WithBits(31 * (digits - 1));
        for (const unsigned long top : {0x7FFFFFFFul, 1ul, 2ul, 0x40000000ul}) {
            TGmp divisor(static_cast<long>(top));
            mpz_mul_2exp(divisor.get(), divisor.get(), 31 * (digits - 1));
            mpz_add(divisor.get(), divisor.get(), low.get());
            const TBigInt a = operands.Signed(digits + static_cast<unsigned>(operands.Below(40)));
            ExpectDivision(a, RecordOf(divisor, static_cast<int>(operands.Below(2))));
        }
        // A one-digit divisor agrees with the small division.
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(operands.Below(100)));
        const long d = 1 + static_cast<long>(operands.Below(0x7FFFFFFF));
        TBigInt q, r, small = a;
        BigIntDivMod(a, RecordOf(d), q, r);
        const std::int64_t rem = BigIntDivModSmall(small, d);
        if (a.Positive == 1) {
            EXPECT_EQ(q.Digits, small.Digits);
            EXPECT_EQ(r.Digits, RecordOf(rem).Digits);
        }
    }
}

TEST(BigIntDivision, ResultsMayBeInputRecords) {
    TBigInt a = RecordOf(-1000003), b = RecordOf(10);
    BigIntDivMod(a, b, a, b); // Q into A, R into B
    EXPECT_TRUE(Holds(a, TGmp(-100001), 0));
    EXPECT_TRUE(Holds(b, TGmp(7), 1));
    BigIntMod(a, b, b);
    EXPECT_TRUE(Holds(b, TGmp(1), 1)); // -100001 mod 7
}

// Records out of normal form, each passed as every input of every operation: a zero top digit above the
// first (which would send the radix search below bit 0), a count that does not match the array, and top
// digits outside 0 .. 2^31 - 1. Each call raises EAssertionFailed and leaves its result record alone.
TEST(BigIntNormalForm, EveryOperationRejectsARecordOutOfNormalForm) {
    TBigInt leadingZero, countTooSmall, negativeTop, wideTop;
    leadingZero.Digits = {2, 5, 0};
    countTooSmall.Digits = {1, 5, 1};
    negativeTop.Digits = {1, -1};
    wideTop.Digits = {2, 5, 0x80000000};
    const TBigInt good = RecordOf(7);
    using TCall = std::function<void(const TBigInt&, TBigInt&)>;
    const std::pair<const char*, TCall> calls[] = {
        {"CompareAbs", [&](const TBigInt& x, TBigInt&) { BigIntCompareAbs(x, good); }},
        {"Add", [&](const TBigInt& x, TBigInt& r) { BigIntAdd(good, x, r); }},
        {"Subtract", [&](const TBigInt& x, TBigInt& r) { BigIntSubtract(x, good, r); }},
        {"Negate",
         [&](const TBigInt& x, TBigInt&) {
             TBigInt y = x;
             BigIntNegate(y);
         }},
        {"Multiply", [&](const TBigInt& x, TBigInt& r) { BigIntMultiply(x, good, r); }},
        {"Square", [&](const TBigInt& x, TBigInt& r) { BigIntSquare(x, r); }},
        {"MulSmall",
         [&](const TBigInt& x, TBigInt&) {
             TBigInt y = x;
             BigIntMulSmall(y, 3);
         }},
        {"ModSmall", [&](const TBigInt& x, TBigInt&) { BigIntModSmall(x, 3); }},
        {"Halve",
         [&](const TBigInt& x, TBigInt&) {
             TBigInt y = x;
             BigIntHalve(y);
         }},
        {"ShiftDigitsRight",
         [&](const TBigInt& x, TBigInt&) {
             TBigInt y = x;
             BigIntShiftDigitsRight(y);
         }},
        {"SubAbsInPlace",
         [&](const TBigInt& x, TBigInt&) {
             TBigInt y = RecordOf(1L << 40);
             BigIntSubAbsInPlace(y, x);
         }},
        {"DivMod",
         [&](const TBigInt& x, TBigInt& r) {
             TBigInt q;
             BigIntDivMod(good, x, q, r);
         }},
        {"Mod", [&](const TBigInt& x, TBigInt& r) { BigIntMod(x, good, r); }},
        {"ToBinary", [&](const TBigInt& x, TBigInt&) { BigIntToBinary(x); }},
        {"Copy", [&](const TBigInt& x, TBigInt& r) { BigIntCopy(x, r); }},
        {"SquareMod", [&](const TBigInt& x, TBigInt& r) { BigIntSquareMod(good, x, r); }},
        {"Gcd", [&](const TBigInt& x, TBigInt& r) { BigIntGcd(x, good, r); }},
        {"ModInverse", [&](const TBigInt& x, TBigInt& r) { BigIntModInverse(good, x, r); }},
        {"LowPart", [&](const TBigInt& x, TBigInt& r) { BigIntLowPart(x, 1, 1, r); }},
        {"MontgomeryReduce",
         [&](const TBigInt& x, TBigInt& r) { BigIntMontgomeryReduce(good, x, good, 1, 7, r); }},
        {"MontgomeryRadix",
         [&](const TBigInt& x, TBigInt& r) {
             std::int64_t t, mask;
             detail::MontgomeryRadix(x, r, t, mask);
         }},
        {"PowerMod base", [&](const TBigInt& x, TBigInt& r) { BigIntPowerMod(x, good, good, r); }},
        {"PowerMod exponent", [&](const TBigInt& x, TBigInt& r) { BigIntPowerMod(good, x, RecordOf(9), r); }},
        {"PowerMod modulus", [&](const TBigInt& x, TBigInt& r) { BigIntPowerMod(good, good, x, r); }},
        {"PowerModReference",
         [&](const TBigInt& x, TBigInt& r) { detail::PowerModReference(good, good, x, r); }},
        {"TrialDivision", [&](const TBigInt& x, TBigInt&) { BigIntTrialDivision(x); }},
        {"MillerRabin", [&](const TBigInt& x, TBigInt&) { BigIntMillerRabin(x, 1); }},
    };
    for (const TBigInt* bad : {&leadingZero, &countTooSmall, &negativeTop, &wideTop}) {
        for (const auto& [name, call] : calls) {
            SCOPED_TRACE(std::string(name) +
                         " of a record with Digits[0] = " + std::to_string(bad->Digits[0]));
            TBigInt result = RecordOf(42);
            EXPECT_THROW(call(*bad, result), EAssertionFailed);
            EXPECT_TRUE(Holds(result, TGmp(42), 1));
        }
    }
}

} // namespace
} // namespace zarn
