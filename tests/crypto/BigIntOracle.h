// GMP as the oracle of the big-integer tests: values of TBigInt records read straight from their digits
// (31-bit digits are GMP words with 33 nail bits), checks of value, sign flag and normal form, and random
// operands of the shapes that catch carry and estimate faults.
#pragma once

#include "crypto/BigInt.h"
#include "tests/support/Gmp.h"

#include <gmp.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace zarn::test::bigint {

using test::TGmp;

// 2^exponent + offset.
TGmp PowerOfTwo(unsigned long exponent, long offset = 0);

// The value of A's digits with its sign flag applied (whatever its form).
TGmp ValueOf(const TBigInt& A);

// The record in normal form for `value`, with sign flag `positive` (by default that of the value).
TBigInt RecordOf(const TGmp& value, int positive = -1);
TBigInt RecordOf(long value);

// "+0x1F (2 digits)" and the like, for failure messages.
std::string Describe(const TBigInt& A);

// The layout and normal form: n >= 1, n + 1 elements, digits below 2^31, no leading zero digit, flag 0/1.
::testing::AssertionResult InNormalForm(const TBigInt& A);

// Normal form, the value `expected` (by magnitude and sign) and the sign flag `flag`.
::testing::AssertionResult Holds(const TBigInt& A, mpz_srcptr expected, int flag);
::testing::AssertionResult Holds(const TBigInt& A, const TGmp& expected, int flag);

// A fixture whose tests run once per form of the exponentiation; forms the processor lacks are skipped.
class TPowerModFormTest : public ::testing::TestWithParam<detail::TPowerModForm> {
protected:
    void SetUp() override;
    // BigIntPowerMod in the test's form.
    void PowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P) const {
        detail::PowerModWith(GetParam(), Base, E, N, P);
    }
};
inline const auto kPowerModForms = ::testing::ValuesIn(detail::kPowerModForms);
std::string PowerModFormName(const ::testing::TestParamInfo<detail::TPowerModForm>& info);

// Scales an iteration count by ZARN_BIGINT_TEST_SCALE (a positive number, 1 by default).
int Scaled(int count);

// Random operands from the test seed: magnitudes of 1 to maxDigits digits built from uniform digits,
// long runs of zero and one bits, digits of 0 and 0x7FFFFFFF, and values just around a power of two at a
// random bit length.
class TOperands {
public:
    explicit TOperands(std::uint64_t salt);
    ~TOperands();
    TOperands(const TOperands&) = delete;
    TOperands& operator=(const TOperands&) = delete;

    TGmp Magnitude(unsigned maxDigits);
    // A magnitude of exactly `bits` bits in one of the shapes above.
    TGmp WithBits(unsigned long bits);
    // A record of Magnitude(maxDigits) with a random sign flag (zero may carry either flag).
    TBigInt Signed(unsigned maxDigits);
    // Uniform in 0 .. bound - 1.
    std::uint64_t Below(std::uint64_t bound);

private:
    gmp_randstate_t m_state;
};

} // namespace zarn::test::bigint
