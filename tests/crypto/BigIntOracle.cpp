#include "tests/crypto/BigIntOracle.h"

#include "tests/support/TestSupport.h"

#include <cstdlib>
#include <vector>

namespace zarn::test::bigint {

namespace {

// GMP words of 64 bits with 33 nail bits are exactly the record's digits.
constexpr std::size_t kNails = 33;

} // namespace

TGmp PowerOfTwo(unsigned long exponent, long offset) {
    TGmp value;
    mpz_setbit(value.get(), exponent);
    if (offset >= 0)
        mpz_add_ui(value.get(), value.get(), static_cast<unsigned long>(offset));
    else
        mpz_sub_ui(value.get(), value.get(), static_cast<unsigned long>(-offset));
    return value;
}

TGmp ValueOf(const TBigInt& A) {
    TGmp value;
    if (A.Digits.size() >= 2)
        mpz_import(value.get(), A.Digits.size() - 1, -1, sizeof(std::int64_t), 0, kNails,
                   A.Digits.data() + 1);
    if (A.Positive == 0)
        mpz_neg(value.get(), value.get());
    return value;
}

TBigInt RecordOf(const TGmp& gmpValue, int positive) {
    mpz_srcptr value = gmpValue.get();
    const std::size_t words = mpz_sgn(value) == 0 ? 1 : (mpz_sizeinbase(value, 2) + 30) / 31;
    TBigInt A;
    A.Digits.assign(words + 1, 0);
    std::size_t count = 0;
    mpz_export(A.Digits.data() + 1, &count, -1, sizeof(std::int64_t), 0, kNails, value);
    A.Digits[0] = static_cast<std::int64_t>(words);
    A.Positive = static_cast<std::uint8_t>(positive >= 0 ? positive : (mpz_sgn(value) >= 0 ? 1 : 0));
    return A;
}

TBigInt RecordOf(long value) {
    return RecordOf(TGmp(value));
}

std::string Describe(const TBigInt& A) {
    if (A.Digits.empty())
        return "(no value)";
    const TGmp value = ValueOf(A);
    TGmp magnitude;
    mpz_abs(magnitude.get(), value.get());
    return std::string(A.Positive == 0 ? "-" : "+") + "0x" + magnitude.Hex() + " (" +
           std::to_string(A.Digits.size() - 1) + " digits)";
}

::testing::AssertionResult InNormalForm(const TBigInt& A) {
    if (A.Digits.empty())
        return ::testing::AssertionFailure() << "no digits";
    const std::int64_t n = A.Digits[0];
    if (n < 1 || static_cast<std::size_t>(n) + 1 != A.Digits.size())
        return ::testing::AssertionFailure()
               << "Digits[0] = " << n << " with " << A.Digits.size() << " elements";
    for (std::int64_t i = 1; i <= n; ++i) {
        if (A.Digits[static_cast<std::size_t>(i)] < 0 || A.Digits[static_cast<std::size_t>(i)] > 0x7FFFFFFF)
            return ::testing::AssertionFailure()
                   << "digit " << i << " = " << A.Digits[static_cast<std::size_t>(i)];
    }
    if (n > 1 && A.Digits[static_cast<std::size_t>(n)] == 0)
        return ::testing::AssertionFailure() << "leading zero digit in " << Describe(A);
    if (A.Positive > 1)
        return ::testing::AssertionFailure() << "sign flag " << int{A.Positive};
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Holds(const TBigInt& A, mpz_srcptr expected, int flag) {
    if (const auto form = InNormalForm(A); !form)
        return form;
    TGmp magnitude;
    mpz_abs(magnitude.get(), ValueOf(A).get());
    if (mpz_cmpabs(magnitude.get(), expected) != 0 ||
        (mpz_sgn(expected) != 0 && (mpz_sgn(expected) < 0) != (flag == 0))) {
        TGmp wanted;
        mpz_abs(wanted.get(), expected);
        return ::testing::AssertionFailure() << "got " << Describe(A) << ", expected "
                                             << (mpz_sgn(expected) < 0 ? "-0x" : "+0x") << wanted.Hex();
    }
    if (A.Positive != flag)
        return ::testing::AssertionFailure()
               << "sign flag " << int{A.Positive} << ", expected " << flag << " for " << Describe(A);
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Holds(const TBigInt& A, const TGmp& expected, int flag) {
    return Holds(A, expected.get(), flag);
}

void TPowerModFormTest::SetUp() {
    if (!detail::PowerModFormAvailable(GetParam()))
        GTEST_SKIP() << "not offered by this processor";
}

std::string PowerModFormName(const ::testing::TestParamInfo<detail::TPowerModForm>& info) {
    return detail::PowerModFormName(info.param);
}

int Scaled(int count) {
    static const double scale = [] {
        const char* text = std::getenv("ZARN_BIGINT_TEST_SCALE");
        const double value = text != nullptr ? std::atof(text) : 1.0;
        return value > 0 ? value : 1.0;
    }();
    return std::max(1, static_cast<int>(count * scale));
}

TOperands::TOperands(std::uint64_t salt) {
    gmp_randinit_mt(m_state);
    std::mt19937_64 generator = SeededGenerator(salt);
    gmp_randseed_ui(m_state, static_cast<unsigned long>(generator()));
}

TOperands::~TOperands() {
    gmp_randclear(m_state);
}

std::uint64_t TOperands::Below(std::uint64_t bound) {
    TGmp value;
    TGmp limit;
    mpz_import(limit.get(), 1, 1, sizeof(bound), 0, 0, &bound);
    mpz_urandomm(value.get(), m_state, limit.get());
    return mpz_get_ui(value.get());
}

TGmp TOperands::WithBits(unsigned long bits) {
    TGmp value;
    if (bits == 0)
        return value;
    switch (Below(5)) {
    case 0: // uniform
        mpz_urandomb(value.get(), m_state, bits);
        break;
    case 1: // long runs of zero and one bits
        mpz_rrandomb(value.get(), m_state, bits);
        break;
    case 2: { // digits of 0, 1, 2^30 and 0x7FFFFFFF among uniform ones
        static const unsigned long special[] = {0, 0x7FFFFFFF, 0x7FFFFFFF, 1, 0x40000000};
        for (unsigned long at = 0; at < bits; at += 31) {
            const unsigned long digit =
                Below(3) == 0 ? static_cast<unsigned long>(Below(0x80000000)) : special[Below(5)];
            TGmp part(static_cast<long>(digit));
            mpz_mul_2exp(part.get(), part.get(), at);
            mpz_add(value.get(), value.get(), part.get());
        }
        mpz_fdiv_r_2exp(value.get(), value.get(), bits);
        break;
    }
    case 3: // 2^bits - 1: all ones
        value = PowerOfTwo(bits, -1);
        break;
    default: // a power of two plus a little
        mpz_setbit(value.get(), bits - 1);
        mpz_add_ui(value.get(), value.get(), static_cast<unsigned long>(Below(4)));
        break;
    }
    mpz_setbit(value.get(), bits - 1); // exactly `bits` bits
    mpz_fdiv_r_2exp(value.get(), value.get(), bits);
    return value;
}

TGmp TOperands::Magnitude(unsigned maxDigits) {
    if (Below(40) == 0)
        return TGmp(0);
    // Bit lengths next to a digit boundary half of the time.
    const unsigned long digits = 1 + Below(maxDigits);
    unsigned long bits = digits * 31;
    if (Below(2) == 0)
        bits = bits - 1 + Below(3); // 31k - 1, 31k, 31k + 1
    else
        bits -= Below(31);
    return WithBits(std::max(1ul, bits));
}

TBigInt TOperands::Signed(unsigned maxDigits) {
    const TGmp magnitude = Magnitude(maxDigits);
    const int positive = static_cast<int>(Below(2));
    TGmp value = magnitude;
    if (positive == 0)
        mpz_neg(value.get(), value.get());
    return RecordOf(value, positive);
}

} // namespace zarn::test::bigint
