// Modular reduction of products and squares, gcd, inverse, the Montgomery helpers and the exponentiation,
// against GMP.
#include "crypto/BigInt.h"
#include "crypto/BigIntIfma.h"
#include "crypto/MessageDigests.h"
#include "platform/Errors.h"
#include "tests/crypto/BigIntOracle.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

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

TBigInt Decimal(const char* text) {
    TBigInt R;
    BigIntFromDecimal(text, R);
    return R;
}

TGmp Abs(const TBigInt& A) {
    TGmp value = ValueOf(A);
    mpz_abs(value.get(), value.get());
    return value;
}

TGmp ExpectedPower(const TBigInt& base, const TBigInt& exponent, const TBigInt& modulus) {
    TGmp expected;
    mpz_powm(expected.get(), ValueOf(base).get(), Abs(exponent).get(), ValueOf(modulus).get());
    return expected;
}

class BigIntPowerModForms : public test::bigint::TPowerModFormTest {};

INSTANTIATE_TEST_SUITE_P(Forms, BigIntPowerModForms, test::bigint::kPowerModForms,
                         test::bigint::PowerModFormName);

TEST_P(BigIntPowerModForms, KnownValues) {
    const char* cases[][4] = {{"4", "13", "497", "445"}, {"2", "100", "2147483647", "128"},
                              {"3", "0", "7", "1"},      {"5", "1", "7", "5"},
                              {"2", "340", "341", "1"},  {"7", "560", "561", "1"},
                              {"-2", "3", "7", "6"},     {"2", "-3", "7", "1"},
                              {"0", "0", "9", "1"},      {"14", "5", "21", "14"},
                              {"0", "5", "3", "0"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c[0]) + "^" + c[1] + " mod " + c[2]);
        TBigInt P;
        PowerMod(Decimal(c[0]), Decimal(c[1]), Decimal(c[2]), P);
        EXPECT_TRUE(Holds(P, ValueOf(Decimal(c[3])), 1));
    }
}

TEST(BigIntPowerMod, UnusableModulusRaises) {
    TBigInt P = RecordOf(5);
    for (const long modulus : {0L, 1L, 2L, 10L, -7L, -1L}) {
        SCOPED_TRACE(modulus);
        EXPECT_THROW(BigIntPowerMod(RecordOf(3), RecordOf(5), RecordOf(modulus), P), EAssertionFailed);
        EXPECT_TRUE(Holds(P, TGmp(5), 1)) << "left unchanged";
    }
}

struct TRadixCase {
    TGmp modulus;
    std::int64_t t;
    TGmp radix;
    std::int64_t mask;
};

TEST(BigIntMontgomery, RadixRules) {
    TGmp topOne = PowerOfTwo(31, 1); // two digits, top digit 1
    TGmp topSix = PowerOfTwo(31, 1); // two digits, top digit 6: bit 2 is the highest
    mpz_add(topSix.get(), topSix.get(), PowerOfTwo(33).get());
    mpz_add(topSix.get(), topSix.get(), PowerOfTwo(31).get());
    const TRadixCase cases[] = {
        {TGmp(3), 1, TGmp(4), 3},
        {PowerOfTwo(31, -1), 1, PowerOfTwo(31), 0x7FFFFFFF},
        {PowerOfTwo(30, 1), 1, PowerOfTwo(31), 0x7FFFFFFF},
        {PowerOfTwo(30, -1), 1, PowerOfTwo(30), 0x3FFFFFFF},
        {topOne, 2, PowerOfTwo(32), 1},
        {topSix, 2, PowerOfTwo(34), 7},
        {PowerOfTwo(62, -1), 2, PowerOfTwo(62), 0x7FFFFFFF},
    };
    for (const TRadixCase& c : cases) {
        SCOPED_TRACE(c.modulus.Hex());
        TBigInt R;
        std::int64_t t = 0, mask = 0;
        detail::MontgomeryRadix(RecordOf(c.modulus), R, t, mask);
        EXPECT_EQ(t, c.t);
        EXPECT_EQ(mask, c.mask);
        EXPECT_TRUE(Holds(R, c.radix, 1));
    }
}

// The Montgomery parameters of an odd N > 1, computed with GMP.
struct TMontgomery {
    explicit TMontgomery(const TGmp& modulus) : n(modulus) {
        radix = PowerOfTwo(mpz_sizeinbase(n.get(), 2));
        t = static_cast<std::int64_t>((mpz_sizeinbase(n.get(), 2) + 30) / 31);
        const unsigned long topBits = mpz_sizeinbase(n.get(), 2) - 31 * static_cast<unsigned long>(t - 1);
        mask = (std::int64_t{1} << topBits) - 1;
        mpz_invert(nPrime.get(), n.get(), radix.get());
        mpz_sub(nPrime.get(), radix.get(), nPrime.get());
        mpz_invert(radixInverse.get(), radix.get(), n.get());
    }
    TGmp n, radix, nPrime, radixInverse;
    std::int64_t t, mask;
};

TEST(BigIntMontgomery, LowPartAndMultiplyLowAgreeWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(20);
    for (int round = 0; round < Scaled(1500); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(operands.Below(60)));
        const TBigInt b = operands.Signed(1 + static_cast<unsigned>(operands.Below(60)));
        const auto t = static_cast<std::int64_t>(1 + operands.Below(50));
        const std::int64_t mask = operands.Below(4) == 0
                                      ? static_cast<std::int64_t>(operands.Below(0x80000000))
                                      : (std::int64_t{1} << (1 + operands.Below(31))) - 1;
        SCOPED_TRACE(Describe(a) + " and " + Describe(b) + ", t = " + std::to_string(t) +
                     ", mask = " + std::to_string(mask));
        // The low part of x: digits 1 .. t - 1 whole and digit t ANDed with mask.
        const auto low = [&](const TGmp& x) {
            TGmp below, digit;
            mpz_fdiv_r_2exp(below.get(), x.get(), 31 * static_cast<unsigned long>(t - 1));
            mpz_fdiv_q_2exp(digit.get(), x.get(), 31 * static_cast<unsigned long>(t - 1));
            mpz_fdiv_r_2exp(digit.get(), digit.get(), 31);
            mpz_and(digit.get(), digit.get(), TGmp(mask).get());
            mpz_mul_2exp(digit.get(), digit.get(), 31 * static_cast<unsigned long>(t - 1));
            mpz_add(below.get(), below.get(), digit.get());
            return below;
        };
        TBigInt L;
        BigIntLowPart(a, t, mask, L);
        if (a.Digits[0] < t) {
            EXPECT_EQ(L.Digits, a.Digits);
            EXPECT_EQ(L.Positive, a.Positive);
        } else {
            EXPECT_TRUE(Holds(L, low(Abs(a)), 1));
        }

        BigIntMultiplyLow(a, b, t, mask, L);
        TGmp product;
        mpz_mul(product.get(), Abs(a).get(), Abs(b).get());
        TGmp expected = a.Digits[0] + b.Digits[0] < t ? product : low(product);
        const int flag = a.Positive == b.Positive ? 1 : 0;
        if (flag == 0)
            mpz_neg(expected.get(), expected.get());
        EXPECT_TRUE(Holds(L, expected, flag));
    }
    TBigInt L;
    EXPECT_THROW(BigIntLowPart(RecordOf(5), 0, 1, L), EAssertionFailed);
    EXPECT_THROW(BigIntMultiplyLow(RecordOf(5), RecordOf(5), 0, 1, L), EAssertionFailed);
}

TEST(BigIntMontgomery, ReduceAgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(21);
    for (int round = 0; round < Scaled(1500); ++round) {
        TGmp modulus = operands.Magnitude(1 + static_cast<unsigned>(round % 40));
        mpz_setbit(modulus.get(), 0);
        if (mpz_cmp_ui(modulus.get(), 1) == 0)
            mpz_set_ui(modulus.get(), 3);
        const TMontgomery m(modulus);
        TGmp limit, value;
        mpz_mul(limit.get(), m.n.get(), m.radix.get());
        switch (operands.Below(5)) {
        case 0:
            mpz_set_ui(value.get(), 0);
            break;
        case 1:
            mpz_sub_ui(value.get(), limit.get(), 1);
            break;
        default: {
            TGmp wide = operands.Magnitude(static_cast<unsigned>(2 * m.t));
            mpz_mod(value.get(), wide.get(), limit.get());
        }
        }
        SCOPED_TRACE("T = 0x" + value.Hex() + ", N = 0x" + m.n.Hex());
        TBigInt U;
        BigIntMontgomeryReduce(RecordOf(value), RecordOf(m.n), RecordOf(m.nPrime), m.t, m.mask, U);
        TGmp expected;
        mpz_mul(expected.get(), value.get(), m.radixInverse.get());
        mpz_mod(expected.get(), expected.get(), m.n.get());
        EXPECT_TRUE(Holds(U, expected, 1));

        // Into Montgomery form and back is the identity.
        TBigInt x, form, back;
        x = RecordOf(value);
        BigIntMod(x, RecordOf(m.n), x);
        BigIntMultiplyMod(x, RecordOf(m.radix), RecordOf(m.n), form);
        BigIntMontgomeryReduce(form, RecordOf(m.n), RecordOf(m.nPrime), m.t, m.mask, back);
        EXPECT_EQ(back.Digits, x.Digits);
    }
}

// One case of the exponentiation: every form the processor offers on the same operands, each result
// checked against GMP (value, sign flag, normal form) and against the reference's record.
void ExpectEveryFormAgrees(const TBigInt& base, const TBigInt& E, const TBigInt& N) {
    SCOPED_TRACE(Describe(base) + " ^ " + Describe(E) + " mod " + Describe(N));
    const TGmp expected = ExpectedPower(base, E, N);
    TBigInt reference;
    detail::PowerModReference(base, E, N, reference);
    ASSERT_TRUE(Holds(reference, expected, 1)) << "reference";
    for (const auto form : detail::kPowerModForms) {
        if (form == detail::TPowerModForm::Reference || !detail::PowerModFormAvailable(form))
            continue;
        TBigInt P;
        detail::PowerModWith(form, base, E, N, P);
        const std::string name = detail::PowerModFormName(form);
        ASSERT_TRUE(Holds(P, expected, 1)) << name;
        ASSERT_EQ(P.Digits, reference.Digits) << name;
    }
    TBigInt P;
    BigIntPowerMod(base, E, N, P);
    ASSERT_EQ(P.Digits, reference.Digits) << "default";
}

// An odd modulus of exactly `bits` bits (3 for two bits), in the shapes TOperands makes.
TBigInt OddModulus(TOperands& operands, unsigned long bits) {
    TGmp modulus = operands.WithBits(bits);
    mpz_setbit(modulus.get(), 0);
    return RecordOf(modulus);
}

// A base of any kind: mostly below N, now and then 0, 1, N - 1, negative or above N.
TBigInt AnyBase(TOperands& operands, const TBigInt& N, unsigned long bits) {
    TGmp base = operands.WithBits(1 + operands.Below(bits));
    switch (operands.Below(12)) {
    case 0:
        return RecordOf(operands.Below(2));
    case 1:
        mpz_sub_ui(base.get(), ValueOf(N).get(), 1);
        return RecordOf(base);
    case 2:
        return RecordOf(base, 0);
    case 3:
        return RecordOf(operands.WithBits(bits + 1 + operands.Below(70)));
    default:
        mpz_mod(base.get(), base.get(), ValueOf(N).get());
        return RecordOf(base);
    }
}

// Every bit length from 2 to 2100, random lengths up to 4200 and a few up to 12000 (where the IFMA
// product keeps its accumulator in memory), with short exponents (zero, one and negative ones among
// them): the digit, word and limb boundaries, the word counts of the unrolled loops, the limb and vector
// counts of the IFMA loop and its threshold all lie inside, each hit exactly.
TEST(BigIntPowerMod, EveryFormAtEveryBitLength) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(22);
    std::vector<unsigned long> lengths;
    for (unsigned long bits = 2; bits <= 2100; ++bits)
        lengths.push_back(bits);
    for (int i = 0; i < Scaled(150); ++i)
        lengths.push_back(2101 + operands.Below(2100));
    for (int i = 0; i < Scaled(6); ++i)
        lengths.push_back(4201 + operands.Below(7800));
    for (const unsigned long bits : lengths) {
        const TBigInt N = OddModulus(operands, bits);
        const TBigInt base = AnyBase(operands, N, bits);
        const unsigned long eBits = operands.Below(4) == 0 ? operands.Below(3) : 1 + operands.Below(24);
        const TBigInt E =
            eBits == 0 ? RecordOf(0) : RecordOf(operands.WithBits(eBits), bits % 7 == 0 ? 0 : 1);
        ExpectEveryFormAgrees(base, E, N);
        if (HasFatalFailure())
            return;
    }
}

// Full-size exponents at sampled lengths up to 4200 bits, the switch points of the forms among them.
TEST(BigIntPowerMod, EveryFormWithFullSizeExponents) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(29);
    std::vector<unsigned long> lengths = {2,    3,    63,   64,   65,   255,  256,  257,  511,
                                          512,  513,  766,  767,  768,  769,  1022, 1024, 1246,
                                          1247, 2048, 2494, 2495, 4096, 4158, 4159};
    for (int i = 0; i < Scaled(30); ++i)
        lengths.push_back(2 + operands.Below(1100));
    for (int i = 0; i < Scaled(3); ++i)
        lengths.push_back(2100 + operands.Below(2101));
    for (const unsigned long bits : lengths) {
        const TBigInt N = OddModulus(operands, bits);
        ExpectEveryFormAgrees(AnyBase(operands, N, bits), RecordOf(operands.WithBits(bits)), N);
        if (HasFatalFailure())
            return;
    }
}

// Wrong products for the check before the IFMA form is used: the shift that moves a limb across vectors
// forgets the vector above (only numbers of more than eight limbs notice), the high half of a product
// loses its top bit, or the product takes one step too few where the modulus has a bit length of
// 52 j - 1 or 52 j (its top limb is then empty and only makes room for 4N).
struct TLanesDroppingTheVectorAbove : bigint::TPortableLanes {
    static Vector ShiftDown(const Vector& v, const Vector&) { return TPortableLanes::ShiftDown(v, Zero()); }
};
struct TLanesWithAShortHighHalf : bigint::TPortableLanes {
    static Vector MulHighAdd(Vector acc, const Vector& a, const Vector& b) {
        const Vector full = TPortableLanes::MulHighAdd(Zero(), a, b);
        for (std::size_t l = 0; l < bigint::kLanes; ++l)
            acc.Lane[l] += full.Lane[l] & (bigint::kLimbMask >> 1);
        return acc;
    }
};
template <int TopBitOfLimbBelow>
void OneStepShort(const std::uint64_t* a, const std::uint64_t* b, const bigint::TIfmaModulus& m,
                  std::uint64_t* r) {
    bigint::TIfmaModulus shorter = m;
    if (m.Limbs >= 2 && m.N[m.Limbs - 1] == 0 &&
        static_cast<int>(m.N[m.Limbs - 2] >> 51) == TopBitOfLimbBelow)
        --shorter.Limbs;
    bigint::AlmostMontgomeryProduct<bigint::TPortableLanes, 0>(a, b, shorter, r);
}
template <int TopBitOfLimbBelow>
bigint::TLimbProduct OneStepShortFor(std::size_t) {
    return OneStepShort<TopBitOfLimbBelow>;
}

TEST(BigIntPowerMod, IfmaIsUsedOnlyAfterItsResultsMatchTheWords) {
    EXPECT_TRUE(bigint::LimbProductAgrees(bigint::LimbProductFor<bigint::TPortableLanes>));
    for (const bigint::TLimbProducts wrong :
         {bigint::LimbProductFor<TLanesDroppingTheVectorAbove>,
          bigint::LimbProductFor<TLanesWithAShortHighHalf>, OneStepShortFor<0>, OneStepShortFor<1>})
        EXPECT_FALSE(bigint::LimbProductAgrees(wrong));
}

// The choice of the default form, with the check and the measurement replaced: no check below
// kIfmaMinBits or above kIfmaMaxBits, one check at the first size in between, one measurement per word
// count, and IFMA only where it was measured faster and passed its check.
TEST(BigIntPowerMod, DefaultFormIsTheFasterOneAtEachSize) {
    using detail::TPowerModForm;
    int checks = 0;
    std::vector<std::size_t> measured;
    bigint::TFormChooser chooser(
        [&checks] {
            ++checks;
            return true;
        },
        [&measured](std::size_t bits) {
            measured.push_back(bits);
            return bits >= 1500;
        });
    EXPECT_EQ(chooser.FormFor(detail::kIfmaMinBits - 1), TPowerModForm::WordsUnrolled);
    EXPECT_EQ(chooser.FormFor(detail::kIfmaMaxBits + 1), TPowerModForm::WordsUnrolled);
    EXPECT_EQ(checks, 0);
    EXPECT_EQ(chooser.FormFor(1024), TPowerModForm::WordsUnrolled);
    EXPECT_EQ(chooser.FormFor(2048), TPowerModForm::Ifma);
    EXPECT_EQ(chooser.FormFor(2047), TPowerModForm::Ifma);
    EXPECT_EQ(chooser.FormFor(1000), TPowerModForm::WordsUnrolled);
    EXPECT_EQ(checks, 1);
    EXPECT_EQ(measured, (std::vector<std::size_t>{1024, 2048}));

    bigint::TFormChooser refused([] { return false; },
                                 [](std::size_t) {
                                     ADD_FAILURE() << "measured although IFMA failed its check";
                                     return true;
                                 });
    EXPECT_EQ(refused.FormFor(2048), TPowerModForm::WordsUnrolled);
    EXPECT_FALSE(refused.IfmaUsable());

    // The process's own choice: the words below and above the IFMA range, and Ifma only where available.
    for (const std::size_t bits : {256, 512, 767, 768, 1024, 2048, 4096}) {
        EXPECT_TRUE(detail::DefaultPowerModForm(bits) == TPowerModForm::WordsUnrolled ||
                    (bits >= detail::kIfmaMinBits && detail::PowerModFormAvailable(TPowerModForm::Ifma)))
            << bits;
    }
    EXPECT_EQ(detail::DefaultPowerModForm(detail::kIfmaMaxBits + 1), TPowerModForm::WordsUnrolled);
}

// Several threads asking at once: one check, one measurement per word count, and every thread gets the
// same form for a size.
TEST(BigIntPowerMod, DefaultFormIsChosenOnceUnderConcurrentCalls) {
    std::atomic<int> checks{0};
    std::mutex lock;
    std::multiset<std::size_t> measured;
    bigint::TFormChooser chooser(
        [&checks] {
            ++checks;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            return true;
        },
        [&](std::size_t bits) {
            const std::lock_guard<std::mutex> hold(lock);
            measured.insert((bits + 63) / 64);
            return bits % 128 < 64;
        });
    const std::vector<std::size_t> sizes = {800, 1024, 1100, 2048, 3000, 4096};
    std::vector<std::vector<detail::TPowerModForm>> seen(4);
    std::vector<std::thread> threads;
    for (auto& forms : seen)
        threads.emplace_back([&chooser, &sizes, &forms] {
            for (const std::size_t bits : sizes)
                forms.push_back(chooser.FormFor(bits));
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(checks.load(), 1);
    EXPECT_EQ(measured.size(), sizes.size());
    EXPECT_EQ(std::set<std::size_t>(measured.begin(), measured.end()).size(), sizes.size());
    for (const auto& forms : seen)
        EXPECT_EQ(forms, seen.front());
}

// The one probe of the processor, against the flags the kernel lists: the SHA compression and the IFMA
// form are offered exactly where the processor and the operating system support them.
TEST(ProcessorProbe, AgreesWithTheKernelsFlags) {
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    std::set<std::string> flags;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("flags", 0) != 0)
            continue;
        std::istringstream words(line.substr(line.find(':') + 1));
        for (std::string flag; words >> flag;)
            flags.insert(flag);
        break;
    }
    if (flags.empty())
        GTEST_SKIP() << "no /proc/cpuinfo flags";
    const auto has = [&flags](const char* flag) { return flags.count(flag) != 0; };
    EXPECT_EQ(sha1::ShaInstructionsAvailable(), has("sha_ni") && has("ssse3") && has("sse4_1"));
    EXPECT_EQ(detail::PowerModFormAvailable(detail::TPowerModForm::Ifma),
              has("avx512f") && has("avx512ifma"));
}

// The largest modulus the Ifma forms take, all ones, so that every limb of N is at its largest: the
// plain lanes, which give the IFMA instructions' results, agree with GMP there. One bit more is refused.
TEST(BigIntPowerMod, IfmaFormsStopAtTheirProvenBound) {
    TGmp N = PowerOfTwo(detail::kIfmaMaxBits);
    mpz_sub_ui(N.get(), N.get(), 1);
    TGmp base = PowerOfTwo(detail::kIfmaMaxBits - 1);
    mpz_sub_ui(base.get(), base.get(), 3);
    const TBigInt E = RecordOf(65537);
    TBigInt P;
    detail::PowerModWith(detail::TPowerModForm::IfmaPortable, RecordOf(base), E, RecordOf(N), P);
    EXPECT_TRUE(Holds(P, ExpectedPower(RecordOf(base), E, RecordOf(N)), 1));

    mpz_mul_2exp(N.get(), N.get(), 1);
    mpz_add_ui(N.get(), N.get(), 1);
    for (const auto form : {detail::TPowerModForm::IfmaPortable, detail::TPowerModForm::Ifma}) {
        if (detail::PowerModFormAvailable(form)) {
            EXPECT_THROW(detail::PowerModWith(form, RecordOf(base), E, RecordOf(N), P), EAssertionFailed)
                << detail::PowerModFormName(form);
        }
    }
}

TEST_P(BigIntPowerModForms, BasesSharingAFactorWithTheModulus) {
    // Products that become zero reduce to zero; the result is still base^E mod N.
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(24);
    for (int round = 0; round < Scaled(150); ++round) {
        TGmp p = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(8)));
        TGmp q = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(8)));
        mpz_setbit(p.get(), 0);
        mpz_setbit(q.get(), 0);
        mpz_add_ui(q.get(), q.get(), 2);
        TGmp modulus, base;
        mpz_mul(modulus.get(), p.get(), q.get());
        switch (round % 4) {
        case 0: // a multiple of p
            mpz_mul_ui(base.get(), p.get(), 1 + operands.Below(1000));
            break;
        case 1: // a multiple of N
            mpz_mul_ui(base.get(), modulus.get(), operands.Below(3));
            break;
        case 2: // a power of p, so that X becomes zero after a few squarings
            mpz_pow_ui(base.get(), p.get(), 1 + operands.Below(4));
            break;
        default:
            mpz_mul(base.get(), p.get(), p.get());
            mpz_neg(base.get(), base.get());
        }
        const TBigInt N = RecordOf(modulus);
        const TBigInt B = RecordOf(base);
        const TBigInt E = RecordOf(operands.Magnitude(1 + static_cast<unsigned>(operands.Below(10))));
        SCOPED_TRACE(Describe(B) + " ^ " + Describe(E) + " mod " + Describe(N));
        TBigInt P;
        PowerMod(B, E, N, P);
        EXPECT_TRUE(Holds(P, ExpectedPower(B, E, N), 1));
    }
}

TEST(BigIntPowerMod, ResultMayBeAnInputRecord) {
    TBigInt base = RecordOf(4), exponent = RecordOf(13), modulus = RecordOf(497);
    BigIntPowerMod(base, exponent, modulus, modulus);
    EXPECT_TRUE(Holds(modulus, TGmp(445), 1));
    BigIntPowerMod(base, exponent, RecordOf(497), base);
    EXPECT_TRUE(Holds(base, TGmp(445), 1));
}

TEST(BigIntModularProducts, SquareModAndMultiplyModAgreeWithGmp) {
    TBigInt Y;
    BigIntSquareMod(RecordOf(-3), RecordOf(7), Y);
    EXPECT_TRUE(Holds(Y, TGmp(2), 1));
    BigIntMultiplyMod(RecordOf(-2), RecordOf(3), RecordOf(7), Y);
    EXPECT_TRUE(Holds(Y, TGmp(1), 1));
    EXPECT_THROW(BigIntSquareMod(RecordOf(3), RecordOf(0), Y), EDivByZero);
    EXPECT_THROW(BigIntMultiplyMod(RecordOf(3), RecordOf(2), RecordOf(0), Y), EDivByZero);

    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(25);
    for (int round = 0; round < Scaled(1000); ++round) {
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(operands.Below(70)));
        const TBigInt b = operands.Signed(1 + static_cast<unsigned>(operands.Below(70)));
        TBigInt m = operands.Signed(1 + static_cast<unsigned>(operands.Below(70)));
        if (mpz_sgn(ValueOf(m).get()) == 0)
            m = RecordOf(-97);
        SCOPED_TRACE(Describe(a) + " and " + Describe(b) + " mod " + Describe(m));
        const TGmp modulus = Abs(m);
        TGmp expected;
        BigIntSquareMod(a, m, Y);
        mpz_mul(expected.get(), ValueOf(a).get(), ValueOf(a).get());
        mpz_mod(expected.get(), expected.get(), modulus.get());
        EXPECT_TRUE(Holds(Y, expected, 1));
        BigIntMultiplyMod(a, b, m, Y);
        mpz_mul(expected.get(), ValueOf(a).get(), ValueOf(b).get());
        mpz_mod(expected.get(), expected.get(), modulus.get());
        EXPECT_TRUE(Holds(Y, expected, 1));
    }
}

TEST(BigIntGcd, KnownValuesAndSignFlags) {
    const long cases[][3] = {{12, 18, 6}, {18, 12, 6}, {7, 7, 7},         {0, 5, 5},
                             {5, 0, 5},   {0, 0, 0},   {1, 0x7FFFFFFF, 1}};
    for (const auto& c : cases) {
        TBigInt G;
        BigIntGcd(RecordOf(c[0]), RecordOf(c[1]), G);
        EXPECT_TRUE(Holds(G, TGmp(c[2]), 1)) << c[0] << ", " << c[1];
    }
    // With negative operands the magnitude is the gcd; the flag is that of the record Euclid ends on.
    const long signedCases[][4] = {
        {12, -6, -6, 0}, {-7, 7, -7, 0}, {-18, 12, 6, 1}, {-18, 0, -18, 0}, {12, -18, 6, 1}};
    for (const auto& c : signedCases) {
        TBigInt G;
        BigIntGcd(RecordOf(c[0]), RecordOf(c[1]), G);
        EXPECT_TRUE(Holds(G, TGmp(c[2]), static_cast<int>(c[3]))) << c[0] << ", " << c[1];
    }
}

TEST(BigIntGcd, AgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(26);
    for (int round = 0; round < Scaled(1000); ++round) {
        const TGmp common = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(3)));
        TGmp a = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(40)));
        TGmp b = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(40)));
        if (round % 2 == 0) {
            mpz_mul(a.get(), a.get(), common.get());
            mpz_mul(b.get(), b.get(), common.get());
        }
        TGmp expected;
        mpz_gcd(expected.get(), a.get(), b.get());
        TBigInt G;
        BigIntGcd(RecordOf(a), RecordOf(b), G);
        EXPECT_TRUE(Holds(G, expected, 1)) << a.Hex() << ", " << b.Hex();
    }
}

TEST(BigIntModInverse, KnownValues) {
    const long cases[][3] = {{3, 7, 5},  {17, 3120, 2753}, {65537, 3120, 2753}, {-3, 7, 2},
                             {-1, 7, 6}, {1, 2, 1},        {10, 7, 5}};
    for (const auto& c : cases) {
        TBigInt X;
        BigIntModInverse(RecordOf(c[0]), RecordOf(c[1]), X);
        EXPECT_TRUE(Holds(X, TGmp(c[2]), 1)) << c[0] << " mod " << c[1];
    }
    TBigInt X = RecordOf(42);
    BigIntModInverse(RecordOf(2), RecordOf(4), X);
    EXPECT_TRUE(Holds(X, TGmp(42), 1)) << "no inverse: left as it was";
    TBigInt empty;
    BigIntModInverse(RecordOf(6), RecordOf(9), empty);
    EXPECT_TRUE(empty.Digits.empty());
    EXPECT_THROW(BigIntModInverse(RecordOf(0), RecordOf(1), X), EDivByZero);
}

TEST(BigIntModInverse, AgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TOperands operands(27);
    for (int round = 0; round < Scaled(1500); ++round) {
        TGmp modulus = operands.Magnitude(1 + static_cast<unsigned>(operands.Below(40)));
        if (mpz_cmp_ui(modulus.get(), 2) < 0)
            mpz_set_ui(modulus.get(), 2 + operands.Below(1000));
        const TBigInt a = operands.Signed(1 + static_cast<unsigned>(operands.Below(45)));
        SCOPED_TRACE(Describe(a) + " mod 0x" + modulus.Hex());
        TGmp expected;
        TBigInt X = RecordOf(42);
        if (mpz_invert(expected.get(), ValueOf(a).get(), modulus.get()) != 0) {
            BigIntModInverse(a, RecordOf(modulus), X);
            EXPECT_TRUE(Holds(X, expected, 1));
        } else if (mpz_sgn(ValueOf(a).get()) != 0) {
            BigIntModInverse(a, RecordOf(modulus), X);
            EXPECT_TRUE(Holds(X, TGmp(42), 1));
        }
    }
}

} // namespace
} // namespace zarn
