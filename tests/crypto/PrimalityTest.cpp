#include "crypto/BigInt.h"
#include "crypto/BigIntPrimality.h"
#include "crypto/BigIntPrimeGeneration.h"
#include "crypto/RandomGenerator.h"
#include "platform/Errors.h"
#include "tests/crypto/GmpOracle.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <type_traits>
#include <vector>

namespace zarn {
namespace {

using test::TGmp;
using test::bigint::RecordOf;
using test::bigint::ValueOf;

TBigInt Big(const std::string& decimal) {
    TBigInt A;
    BigIntFromDecimal(decimal, A);
    return A;
}

TBigInt Big(const TGmp& value) {
    return RecordOf(value);
}

// Fixed seeds for the primality test's reseeding.
std::uint32_t g_seed = 0;
std::uint32_t TheFixedSeed() {
    return g_seed;
}

constexpr std::uint32_t kBases = 1227;

// A seed whose first draw of RandomBelow(1227) is r: the state after one step must lie in
// [r 2^32 / 1227, (r + 1) 2^32 / 1227); take its lower end and step back (x -> (x - 1) / 134775813).
std::uint32_t SeedForFirstBase(std::uint32_t r) {
    const std::uint64_t x1 = ((static_cast<std::uint64_t>(r) << 32) + kBases - 1) / kBases;
    const std::uint32_t inverse = 3645876429u; // 134775813^(-1) mod 2^32
    return static_cast<std::uint32_t>((x1 - 1) * inverse);
}

// The bases BigIntMillerRabin draws after a reseed to `seed`.
std::vector<std::uint32_t> BaseIndices(std::uint32_t seed, int count) {
    const std::uint32_t saved = RandomState();
    SetRandomState(seed);
    std::vector<std::uint32_t> indices;
    for (int k = 0; k < count; ++k)
        indices.push_back(RandomBelow(kBases));
    SetRandomState(saved);
    return indices;
}

// GMP's random numbers, seeded from the test seed and a salt of the test's own.
class TGmpRandom {
public:
    explicit TGmpRandom(std::uint64_t salt) {
        auto generator = test::SeededGenerator(salt);
        gmp_randinit_mt(m_state);
        gmp_randseed_ui(m_state, static_cast<unsigned long>(generator()));
    }
    ~TGmpRandom() { gmp_randclear(m_state); }
    TGmpRandom(const TGmpRandom&) = delete;
    TGmpRandom& operator=(const TGmpRandom&) = delete;
    // The pointer GMP's random functions take.
    operator std::decay_t<gmp_randstate_t>() { return m_state; }

private:
    gmp_randstate_t m_state;
};

// Restores the clock as the seed source after each test.
class Primality : public ::testing::Test {
protected:
    void TearDown() override { SetRandomSeedSource(nullptr); }
    static void FixSeeds(std::uint32_t seed) {
        g_seed = seed;
        SetRandomSeedSource(TheFixedSeed);
    }
};

TEST_F(Primality, SmallPrimesAreTheOddPrimesBelowTenThousand) {
    TGmp prime(2);
    for (std::size_t k = 0; k < SmallPrimes.size(); ++k) {
        mpz_nextprime(prime.get(), prime.get());
        ASSERT_EQ(static_cast<unsigned long>(SmallPrimes[k]), mpz_get_ui(prime.get())) << "entry " << k;
    }
    mpz_nextprime(prime.get(), prime.get());
    EXPECT_GT(mpz_get_ui(prime.get()), 10000u);
    EXPECT_EQ(SmallPrimes[10], 37);
    EXPECT_EQ(SmallPrimes[1226], 9967);
}

TEST_F(Primality, TrialDivision) {
    TGmp mersenne127, mersenne89;
    mpz_ui_pow_ui(mersenne127.get(), 2, 127);
    mpz_sub_ui(mersenne127.get(), mersenne127.get(), 1);
    mpz_ui_pow_ui(mersenne89.get(), 2, 89);
    mpz_sub_ui(mersenne89.get(), mersenne89.get(), 1);
    TGmp times9973, product;
    mpz_mul_ui(times9973.get(), mersenne127.get(), 9973);
    mpz_mul(product.get(), mersenne127.get(), mersenne89.get());

    const std::vector<std::pair<std::string, bool>> cases = {
        {"0", false},
        {"2", false},
        {"9972", false}, // even
        {"3", false},
        {"37", false},
        {"9973", false},     // a table prime divides itself
        {"9999", false},     // 3 * 3 * 11 * 101
        {"99460729", false}, // 9973^2: only the last entry divides it
        {"1", true},
        {"10007", true},
        {"100160063", true}, // 10007 * 10009
        {"-10007", true},
        {"-9", false}, // the sign is ignored
        {mersenne127.Decimal(), true},
        {product.Decimal(), true},
        {times9973.Decimal(), false},
    };
    for (const auto& [decimal, passes] : cases)
        EXPECT_EQ(BigIntTrialDivision(Big(decimal)), passes) << decimal;
}

// Numbers of 1 to 60 digits (the remainders are formed in blocks of digits, and the edges of the
// blocks are where a slip would show): a number without a factor below 10000 passes, and the same
// number times any one table prime fails, whichever entry it is.
TEST_F(Primality, TrialDivisionAgreesWithGmpAtEveryLengthAndEntry) {
    SCOPED_TRACE(test::SeedTrace());
    TGmpRandom state(54);
    const auto hasTableFactor = [](const TGmp& n) {
        return std::any_of(SmallPrimes.begin(), SmallPrimes.end(), [&](std::int32_t prime) {
            return mpz_divisible_ui_p(n.get(), static_cast<unsigned long>(prime)) != 0;
        });
    };
    for (unsigned digits = 1; digits <= 60; ++digits) {
        TGmp rough;
        do {
            mpz_urandomb(rough.get(), state, 31 * digits);
            mpz_setbit(rough.get(), 0);
        } while (hasTableFactor(rough) || mpz_cmp_ui(rough.get(), 1) == 0);
        ASSERT_TRUE(BigIntTrialDivision(Big(rough))) << rough.Decimal();
        for (std::size_t k = digits % 7; k < SmallPrimes.size(); k += 7) {
            TGmp product;
            mpz_mul_ui(product.get(), rough.get(), static_cast<unsigned long>(SmallPrimes[k]));
            ASSERT_FALSE(BigIntTrialDivision(Big(product))) << digits << " digits, entry " << k;
        }
        TGmp random;
        mpz_urandomb(random.get(), state, 31 * digits);
        mpz_setbit(random.get(), 0);
        EXPECT_EQ(BigIntTrialDivision(Big(random)), !hasTableFactor(random)) << random.Decimal();
    }
}

TEST_F(Primality, ProbablePrimeEdgeCases) {
    const std::vector<std::pair<std::string, bool>> cases = {
        {"10007", true}, {"10009", true}, {"100160063", false}, {"3", false},
        {"2", false},    {"1", false},    {"0", false},         {"-10007", false},
    };
    for (const auto& [decimal, isPrime] : cases)
        EXPECT_EQ(BigIntIsProbablePrime(Big(decimal), 4), isPrime) << decimal;

    // No table base passes a round for 10007 * 10009: every first base rejects it.
    const TBigInt product = Big("100160063");
    const TGmp oracle("100160063");
    for (std::uint32_t r = 0; r < kBases; ++r) {
        ASSERT_FALSE(test::IsStrongProbablePrime(oracle, static_cast<unsigned long>(SmallPrimes[r])));
        FixSeeds(SeedForFirstBase(r));
        ASSERT_EQ(BaseIndices(g_seed, 1)[0], r);
        EXPECT_FALSE(BigIntMillerRabin(product, 1)) << "base " << SmallPrimes[r];
    }
}

TEST_F(Primality, MillerRabinWithoutRoundsDrawsNoBase) {
    FixSeeds(0xCAFEF00D);
    SetRandomState(1);
    for (const std::int32_t rounds : {0, -1, -2147483647 - 1}) {
        EXPECT_TRUE(BigIntMillerRabin(Big("10007"), rounds));
        EXPECT_TRUE(BigIntMillerRabin(Big("100160063"), rounds)); // composite, but no round shows it
        EXPECT_EQ(RandomState(), 0xCAFEF00Du);                    // reseeded, nothing drawn
    }
}

TEST_F(Primality, MillerRabinRejectsNumbersItCannotTest) {
    FixSeeds(7);
    SetRandomState(1);
    TBigInt empty;
    EXPECT_THROW(BigIntMillerRabin(empty, 4), EAssertionFailed);
    EXPECT_THROW(BigIntTrialDivision(empty), EAssertionFailed);
    TBigInt countTooLarge; // a digit count beyond the array
    countTooLarge.Digits = {5, 10007};
    EXPECT_THROW(BigIntTrialDivision(countTooLarge), EAssertionFailed);
    EXPECT_THROW(BigIntMillerRabin(countTooLarge, 4), EAssertionFailed);
    // 1 would never leave the halving of N - 1; negative and even numbers are no odd N > 1.
    for (const char* decimal : {"1", "-1", "-10007", "0", "-0", "2", "10008"}) {
        EXPECT_FALSE(BigIntMillerRabin(Big(decimal), 4)) << decimal;
        EXPECT_FALSE(BigIntMillerRabin(Big(decimal), 0)) << decimal;
    }
    EXPECT_EQ(RandomState(), 1u); // returned before reseeding
}

TEST_F(Primality, MillerRabinLeavesTheGeneratorAtItsOwnSeed) {
    TGmp mersenne61;
    mpz_ui_pow_ui(mersenne61.get(), 2, 61);
    mpz_sub_ui(mersenne61.get(), mersenne61.get(), 1);
    FixSeeds(0x0BADC0DE);
    SetRandomState(99);
    EXPECT_TRUE(BigIntMillerRabin(Big(mersenne61), 4));
    SetRandomState(0x0BADC0DE);
    for (int k = 0; k < 4; ++k)
        RandomBelow(kBases);
    const std::uint32_t afterFourDraws = RandomState();
    SetRandomState(99);
    EXPECT_TRUE(BigIntMillerRabin(Big(mersenne61), 4));
    EXPECT_EQ(RandomState(), afterFourDraws);

    // A composite that fails its first round: one base drawn, then the test stops.
    EXPECT_FALSE(BigIntMillerRabin(Big("100160063"), 4));
    EXPECT_EQ(RandomState(), 0x0BADC0DEu * 134775813u + 1u);
}

// Carmichael numbers (6k + 1)(12k + 1)(18k + 1) with all three factors prime, from k = start up.
std::vector<TGmp> CarmichaelNumbers(unsigned long start, int count) {
    std::vector<TGmp> found;
    for (unsigned long k = start; static_cast<int>(found.size()) < count; ++k) {
        TGmp a(6 * k + 1), b(12 * k + 1), c(18 * k + 1);
        if (mpz_probab_prime_p(a.get(), 30) == 0 || mpz_probab_prime_p(b.get(), 30) == 0 ||
            mpz_probab_prime_p(c.get(), 30) == 0)
            continue;
        TGmp n;
        mpz_mul(n.get(), a.get(), b.get());
        mpz_mul(n.get(), n.get(), c.get());
        found.push_back(n);
    }
    return found;
}

// Odd composites up to `limit` that are strong probable primes to `base`.
std::vector<TGmp> StrongPseudoprimes(unsigned long base, unsigned long limit) {
    std::vector<TGmp> found;
    for (unsigned long n = 9; n <= limit; n += 2) {
        TGmp value(n);
        if (n % base != 0 && mpz_probab_prime_p(value.get(), 30) == 0 &&
            test::IsStrongProbablePrime(value, base))
            found.push_back(value);
    }
    return found;
}

// Compares BigIntMillerRabin(N, rounds) with the strong probable-prime check of GMP on the bases the
// seed draws, for rounds 1 to 4, and checks that the draws stop at the first failing round.
void ExpectSameAsGmp(const TGmp& N, std::uint32_t seed) {
    const TBigInt n = Big(N);
    const std::vector<std::uint32_t> indices = BaseIndices(seed, 4);
    bool expected = true;
    int drawn = 0;
    for (int rounds = 1; rounds <= 4; ++rounds) {
        if (expected) {
            expected =
                test::IsStrongProbablePrime(N, static_cast<unsigned long>(SmallPrimes[indices[rounds - 1]]));
            drawn = rounds;
        }
        EXPECT_EQ(BigIntMillerRabin(n, rounds), expected)
            << N.Decimal() << " rounds " << rounds << " seed " << seed;
        SetRandomState(seed);
        for (int k = 0; k < drawn; ++k)
            RandomBelow(kBases);
        const std::uint32_t afterDraws = RandomState();
        BigIntMillerRabin(n, rounds);
        EXPECT_EQ(RandomState(), afterDraws) << N.Decimal() << " rounds " << rounds;
    }
}

TEST_F(Primality, MillerRabinMatchesGmpBaseByBaseOnPseudoprimes) {
    std::vector<TGmp> numbers;
    for (const char* decimal : {"561", "1105", "1729", "2465", "2821", "6601", "8911", "41041", "825265",
                                "3215031751",           // strong pseudoprime to 2, 3, 5 and 7
                                "3825123056546413051"}) // to every base up to 23; factors above 10000
        numbers.emplace_back(decimal);
    for (const TGmp& n : CarmichaelNumbers(1667, 3)) // all factors above 10000
        numbers.push_back(n);
    for (const TGmp& n : CarmichaelNumbers(1000000, 2))
        numbers.push_back(n);
    for (const unsigned long base : {3ul, 5ul, 7ul})
        for (const TGmp& n : StrongPseudoprimes(base, 60000))
            numbers.push_back(n);
    numbers.emplace_back("10007");
    numbers.emplace_back("2305843009213693951"); // 2^61 - 1

    auto generator = test::SeededGenerator(51);
    SCOPED_TRACE(test::SeedTrace());
    int fooled = 0;
    for (const TGmp& n : numbers) {
        // Seeds whose first base is a strong liar for n, so that composites pass rounds, and random ones.
        std::vector<std::uint32_t> seeds;
        for (std::uint32_t r = 0; r < kBases && seeds.size() < 4; ++r)
            if (test::IsStrongProbablePrime(n, static_cast<unsigned long>(SmallPrimes[r])))
                seeds.push_back(SeedForFirstBase(r));
        for (int k = 0; k < 3; ++k)
            seeds.push_back(static_cast<std::uint32_t>(generator()));
        for (const std::uint32_t seed : seeds) {
            FixSeeds(seed);
            ExpectSameAsGmp(n, seed);
            if (mpz_probab_prime_p(n.get(), 30) == 0 && BigIntMillerRabin(Big(n), 1))
                ++fooled;
        }
    }
    EXPECT_GT(fooled, 20); // the liars were really exercised
}

TEST_F(Primality, ProbablePrimeAgreesWithGmpOnRandomNumbers) {
    SCOPED_TRACE(test::SeedTrace());
    TGmpRandom state(52);
    std::vector<unsigned> sizes = {20,  21,  30,  31,  32,  33,  61,  62,  63,  64,  65,  93,   94,  127,
                                   128, 129, 160, 200, 256, 300, 384, 512, 521, 640, 768, 1000, 1024};
    int primes = 0;
    int composites = 0;
    for (const unsigned bits : sizes) {
        for (int kind = 0; kind < 7; ++kind) {
            TGmp n;
            if (kind < 4) { // random odd numbers with the top bit set
                mpz_urandomb(n.get(), state, bits);
                mpz_setbit(n.get(), bits - 1);
                mpz_setbit(n.get(), 0);
            } else if (kind < 6) { // primes
                mpz_urandomb(n.get(), state, bits);
                mpz_setbit(n.get(), bits - 1);
                mpz_nextprime(n.get(), n.get());
            } else { // a product of two primes above 10000
                TGmp a, b;
                mpz_urandomb(a.get(), state, bits / 2);
                mpz_setbit(a.get(), bits / 2 - 1);
                mpz_setbit(a.get(), 14);
                mpz_nextprime(a.get(), a.get());
                mpz_urandomb(b.get(), state, bits - bits / 2);
                mpz_setbit(b.get(), bits - bits / 2 - 1);
                mpz_setbit(b.get(), 14);
                mpz_nextprime(b.get(), b.get());
                mpz_mul(n.get(), a.get(), b.get());
            }
            const bool expected = mpz_probab_prime_p(n.get(), 30) != 0;
            (expected ? primes : composites) += 1;
            EXPECT_EQ(BigIntIsProbablePrime(Big(n), 4), expected) << bits << " bits: " << n.Decimal();
        }
    }
    EXPECT_GT(primes, 50);
    EXPECT_GT(composites, 80);
}

// Start value, result, candidates tested.
struct TNextPrimeCase {
    const char* Start;
    const char* Prime;
    int Candidates;
};

TEST_F(Primality, NextPrimeEdgeCases) {
    const std::vector<TNextPrimeCase> cases = {
        {"0", "10007", 5003},   // 1 is not tested; 3 .. 10005 fail the trial division
        {"10007", "10009", 1},  // the start value itself is never tested
        {"10008", "10037", 14}, // made 10009, which is not tested; 10011 .. 10035 are composite
        {"10009", "10037", 14},
        {"-4", "10007", 5006}, // -5, then -3, -1, 1, 3, ... : no loop on 1 or negative candidates
        {"-0", "10007", 5004},
    };
    for (const TNextPrimeCase& c : cases) {
        TBigInt n = Big(c.Start);
        TBigInt previous;
        int pumps = 0;
        bool stepsOfTwo = true;
        BigIntNextPrime(n, [&] {
            // Each pump follows one candidate: n moves on by 2 between pumps.
            if (pumps > 0) {
                TBigInt difference;
                BigIntSubtract(n, previous, difference);
                stepsOfTwo = stepsOfTwo && ValueOf(difference) == TGmp(2);
            }
            BigIntCopy(n, previous);
            ++pumps;
        });
        EXPECT_EQ(ValueOf(n).Decimal(), c.Prime) << c.Start;
        EXPECT_EQ(pumps, c.Candidates) << c.Start;
        EXPECT_TRUE(stepsOfTwo) << c.Start;
    }
    TBigInt withoutPump = Big("10008");
    BigIntNextPrime(withoutPump);
    EXPECT_EQ(ValueOf(withoutPump).Decimal(), "10037");
    TBigInt empty;
    EXPECT_THROW(BigIntNextPrime(empty), EAssertionFailed);
}

TEST_F(Primality, NextPrimeAgreesWithGmp) {
    SCOPED_TRACE(test::SeedTrace());
    TGmpRandom state(53);
    for (const unsigned bits : {8u, 14u, 20u, 31u, 32u, 62u, 64u, 100u, 200u, 256u, 512u}) {
        for (int k = 0; k < 4; ++k) {
            TGmp start;
            mpz_urandomb(start.get(), state, bits);
            if (k == 3) { // just below a prime: that prime is the first candidate
                mpz_nextprime(start.get(), start.get());
                mpz_sub_ui(start.get(), start.get(), 2);
            }
            TGmp odd = start;
            if (mpz_even_p(odd.get()))
                mpz_add_ui(odd.get(), odd.get(), 1);
            TBigInt n = Big(start);
            BigIntNextPrime(n);
            EXPECT_EQ(ValueOf(n), test::NextPrimeAbove(odd)) << start.Decimal();
        }
    }
}

} // namespace
} // namespace zarn
