// Conversions of TBigInt to and from decimal text, bit text and bytes, its lifetime operations and the
// internal steps of the conversions.
#include "crypto/BigInt.h"
#include "platform/Conversions.h"
#include "platform/Errors.h"
#include "tests/crypto/BigIntOracle.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <bitset>
#include <vector>

namespace zarn {
namespace {

using test::bigint::Holds;
using test::bigint::InNormalForm;
using test::bigint::RecordOf;
using test::bigint::Scaled;
using test::bigint::TGmp;
using test::bigint::TOperands;

TBigInt FromDecimal(const std::string& text) {
    TBigInt R;
    BigIntFromDecimal(text, R);
    return R;
}

std::string MpzText(mpz_srcptr value, int base) {
    std::vector<char> text(mpz_sizeinbase(value, base) + 2);
    mpz_get_str(text.data(), base, value);
    return text.data();
}

std::string BigEndianBytes(mpz_srcptr magnitude) {
    if (mpz_sgn(magnitude) == 0)
        return std::string(1, '\0');
    std::string bytes((mpz_sizeinbase(magnitude, 2) + 7) / 8, '\0');
    std::size_t count = 0;
    mpz_export(bytes.data(), &count, 1, 1, 1, 0, magnitude);
    return bytes;
}

struct TDecimalCase {
    const char* text;
    long value;
    int flag;
};

TEST(BigIntFromDecimal, JunkSignZerosAndDigitBoundaries) {
    const TDecimalCase cases[] = {
        {"0", 0, 1},
        {"000", 0, 1},
        {"-0", 0, 0},
        {"-000", 0, 0},
        {"007", 7, 1},
        {"abc12", 12, 1},
        {"x12", 12, 1},
        {"+5", 5, 1},
        {"-12", -12, 0},
        {"  -5", -5, 0},
        {"x-5", -5, 0},
        {"65537", 65537, 1},
        {"2147483647", 0x7FFFFFFF, 1},
        {"2147483648", 0x80000000L, 1},
        {"1073741824", 0x40000000, 1},
        {"000000000000000000001", 1, 1},
        {"999999999", 999999999, 1},
        {"1000000000", 1000000000, 1},
        {"-4611686018427387904", -4611686018427387904L, 0}, // -2^62: three digits
    };
    for (const TDecimalCase& c : cases) {
        SCOPED_TRACE(c.text);
        const TGmp expected(c.value);
        EXPECT_TRUE(Holds(FromDecimal(c.text), expected, c.flag));
    }
    // The digit layout at the 2^31 boundaries.
    EXPECT_EQ(FromDecimal("2147483647").Digits, (std::vector<std::int64_t>{1, 0x7FFFFFFF}));
    EXPECT_EQ(FromDecimal("2147483648").Digits, (std::vector<std::int64_t>{2, 0, 1}));
    EXPECT_EQ(FromDecimal("1073741824").Digits, (std::vector<std::int64_t>{1, 0x40000000}));
}

TEST(BigIntFromDecimal, RejectsWithThePlatformConversionError) {
    // The text named in the error is the first group of up to nine digits, counted from the end, that is
    // not all digits.
    const std::pair<const char*, const char*> cases[] = {
        {"x", "x"},
        {"12a", "12a"},
        {"-", ""},
        {"", ""},
        {"-x", "x"},
        {"--5", "-5"},
        {"1-5", "1-5"},
        {"1 2", "1 2"},
        {"0x1F", "x1F"},
        {"1x123456789", "1x"},
        {"123456789x12345678", "x12345678"},
        {"-+5", "+5"},
    };
    for (const auto& [text, part] : cases) {
        SCOPED_TRACE(text);
        TBigInt R = RecordOf(77);
        try {
            BigIntFromDecimal(text, R);
            ADD_FAILURE() << "no error";
        } catch (const EConvertError& error) {
            EXPECT_EQ(error.Message(), InvalidIntegerMessage(part));
        }
        EXPECT_TRUE(Holds(R, TGmp(77), 1)) << "the result record is left as it was";
    }
    TBigInt R;
    try {
        BigIntFromDecimal("12a", R);
        ADD_FAILURE() << "no error";
    } catch (const EConvertError& error) {
        EXPECT_EQ(error.Message(), "'12a' ist kein g\xFC"
                                   "ltiger Integerwert");
    }
}

TEST(BigIntFromDecimal, AgreesWithGmpOnRandomTexts) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(1);
    const std::string junk = "abc xyz+*";
    for (int round = 0; round < Scaled(600); ++round) {
        const TBigInt x = operands.Signed(1 + static_cast<unsigned>(round % 100));
        const TGmp value = test::bigint::ValueOf(x);
        TGmp magnitude;
        mpz_abs(magnitude.get(), value.get());
        std::string text = std::string(x.Positive == 0 ? "-" : "") + std::string(operands.Below(3), '0') +
                           MpzText(magnitude.get(), 10);
        for (std::uint64_t k = operands.Below(3); k > 0; --k)
            text.insert(0, 1, junk[operands.Below(junk.size())]);
        SCOPED_TRACE(text);
        EXPECT_TRUE(Holds(FromDecimal(text), value, x.Positive));
    }
}

TEST(BigIntBinary, EdgeCases) {
    TBigInt R;
    BigIntFromBinary("0000000001", R);
    EXPECT_EQ(R.Digits, (std::vector<std::int64_t>{1, 1}));
    BigIntFromBinary("1" + std::string(31, '0'), R);
    EXPECT_EQ(R.Digits, (std::vector<std::int64_t>{2, 0, 1}));
    BigIntFromBinary("0", R);
    EXPECT_TRUE(Holds(R, TGmp(0), 1));
    BigIntFromBinary("1x1 21", R); // only '1' sets a bit
    EXPECT_TRUE(Holds(R, TGmp(0b101001), 1));
    EXPECT_THROW(BigIntFromBinary("", R), EConvertError);

    EXPECT_EQ(BigIntToBinary(FromDecimal("65537")), "1" + std::string(15, '0') + "1");
    EXPECT_EQ(BigIntToBinary(FromDecimal("0")), "0");
    EXPECT_EQ(BigIntToBinary(FromDecimal("-0")), "0");
    EXPECT_EQ(BigIntToBinary(FromDecimal("-6")), "110");
    EXPECT_EQ(BigIntToBinary(FromDecimal("1073741824")).size(), 31u);
}

TEST(BigIntBytes, EdgeCases) {
    TBigInt R;
    BigIntFromBytes(std::string("\x00\x00\x80", 3), R);
    EXPECT_TRUE(Holds(R, TGmp(128), 1));
    BigIntFromBytes("\xFF", R);
    EXPECT_TRUE(Holds(R, TGmp(255), 1));
    BigIntFromBytes(std::string(2, '\0'), R);
    EXPECT_TRUE(Holds(R, TGmp(0), 1));
    EXPECT_THROW(BigIntFromBytes("", R), EConvertError);

    EXPECT_EQ(BigIntToBytes(FromDecimal("65537")), std::string("\x01\x00\x01", 3));
    EXPECT_EQ(BigIntToBytes(FromDecimal("0")), std::string(1, '\0'));
    EXPECT_EQ(BigIntToBytes(FromDecimal("-65537")), std::string("\x01\x00\x01", 3));
    EXPECT_EQ(BigIntToBytes(FromDecimal("2147483648")), std::string("\x80\x00\x00\x00", 4));
}

TEST(BigIntBinaryAndBytes, AgreeWithGmpAndRoundTrip) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(2);
    for (int round = 0; round < Scaled(1500); ++round) {
        const TBigInt x = operands.Signed(1 + static_cast<unsigned>(round % 100));
        TGmp magnitude;
        mpz_abs(magnitude.get(), test::bigint::ValueOf(x).get());
        SCOPED_TRACE(test::bigint::Describe(x));

        const std::string bits = BigIntToBinary(x);
        EXPECT_EQ(bits, MpzText(magnitude.get(), 2));
        TBigInt back;
        BigIntFromBinary(std::string(operands.Below(40), '0') + bits, back);
        EXPECT_TRUE(Holds(back, magnitude, 1));

        const std::string bytes = BigIntToBytes(x);
        EXPECT_EQ(bytes, BigEndianBytes(magnitude.get()));
        BigIntFromBytes(std::string(operands.Below(3), '\0') + bytes, back);
        EXPECT_TRUE(Holds(back, magnitude, 1));
    }
}

TEST(BigIntInternalSteps, BitsToByteAndTheByteTable) {
    EXPECT_EQ(detail::BitsToByte("10000000"), 128);
    EXPECT_EQ(detail::BitsToByte("00000001"), 1);
    EXPECT_EQ(detail::BitsToByte("1"), 128); // missing characters count 0
    EXPECT_EQ(detail::BitsToByte("x1"), 64);
    EXPECT_EQ(detail::BitsToByte("1111111111"), 255);
    EXPECT_EQ(detail::BitsToByte(""), 0);
    const std::array<std::string, 256> table = detail::BuildByteBitTable();
    for (unsigned v = 0; v < 256; ++v)
        EXPECT_EQ(table[v], std::bitset<8>(v).to_string()) << v;
}

TEST(BigIntInternalSteps, DecimalChunksDivSmall) {
    TBigInt chunks;
    chunks.Digits = {2, 999999999, 1}; // 1 999 999 999
    EXPECT_EQ(detail::DecimalChunksDivSmall(chunks, 2), 1);
    EXPECT_EQ(chunks.Digits, (std::vector<std::int64_t>{1, 999999999}));
    EXPECT_THROW(detail::DecimalChunksDivSmall(chunks, 0), EDivByZero);
    EXPECT_THROW(detail::DecimalChunksDivSmall(chunks, -3), EAssertionFailed);

    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(3);
    for (int round = 0; round < Scaled(300); ++round) {
        const std::size_t c = 1 + operands.Below(12);
        TBigInt value;
        value.Digits.assign(c + 1, 0);
        value.Digits[0] = static_cast<std::int64_t>(c);
        TGmp expected;
        for (std::size_t i = c; i >= 1; --i) {
            const std::uint64_t chunk = operands.Below(2) == 0 ? 999999999 : operands.Below(1000000000);
            value.Digits[i] = static_cast<std::int64_t>(i == c && chunk == 0 ? 1 : chunk);
            mpz_mul_ui(expected.get(), expected.get(), 1000000000);
            mpz_add_ui(expected.get(), expected.get(), static_cast<unsigned long>(value.Digits[i]));
        }
        const std::uint64_t d = 1 + operands.Below(std::uint64_t{1} << 32);
        TGmp quotient;
        const unsigned long remainder = mpz_fdiv_q_ui(quotient.get(), expected.get(), d);
        EXPECT_EQ(detail::DecimalChunksDivSmall(value, static_cast<std::int64_t>(d)),
                  static_cast<std::int64_t>(remainder));
        // The quotient as chunks, leading zero chunks stripped.
        std::vector<std::int64_t> chunksOfQuotient;
        do {
            chunksOfQuotient.push_back(
                static_cast<std::int64_t>(mpz_fdiv_q_ui(quotient.get(), quotient.get(), 1000000000)));
        } while (mpz_sgn(quotient.get()) != 0);
        chunksOfQuotient.insert(chunksOfQuotient.begin(), static_cast<std::int64_t>(chunksOfQuotient.size()));
        EXPECT_EQ(value.Digits, chunksOfQuotient) << "divisor " << d;
    }
}

TEST(BigIntLifetime, CopyIsDeepAndDestroyReleases) {
    TBigInt A = FromDecimal("-123456789012345678901234567890");
    TBigInt B;
    BigIntCopy(A, B);
    EXPECT_EQ(B.Digits, A.Digits);
    EXPECT_EQ(B.Positive, 0);
    B.Digits[1] = 5;
    EXPECT_NE(A.Digits[1], 5);
    BigIntCopy(A, A);
    EXPECT_TRUE(Holds(A, test::bigint::ValueOf(FromDecimal("-123456789012345678901234567890")), 0));

    BigIntDestroy(A);
    EXPECT_TRUE(A.Digits.empty());
    EXPECT_EQ(A.Digits.capacity(), 0u);
    // A record without a value is only a result; as an input it is refused.
    EXPECT_THROW(BigIntCopy(A, B), EAssertionFailed);
    EXPECT_THROW(BigIntToBinary(A), EAssertionFailed);
    EXPECT_THROW(BigIntToBytes(TBigInt{}), EAssertionFailed);
    BigIntFromDecimal("42", A);
    EXPECT_TRUE(Holds(A, TGmp(42), 1));
}

} // namespace
} // namespace zarn
