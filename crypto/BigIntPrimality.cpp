#include "crypto/BigIntPrimality.h"

#include "crypto/RandomGenerator.h"
#include "platform/Errors.h"

#include <string>
#include <utility>

namespace zarn {

namespace {

const char* const kSourceName = "Common\\BigInt";

constexpr std::int32_t kTableLimit = 10000;

// A sieve of Eratosthenes over the odd numbers below 10000, run by the compiler.
constexpr std::array<std::int32_t, 1228> MakeSmallPrimes() {
    std::array<bool, kTableLimit> composite{};
    std::array<std::int32_t, 1228> table{};
    std::size_t count = 0;
    for (std::int32_t v = 3; v < kTableLimit; v += 2) {
        if (composite[static_cast<std::size_t>(v)])
            continue;
        if (count == table.size())
            throw "more odd primes below 10000 than table entries";
        table[count++] = v;
        for (std::int32_t multiple = v * v; multiple < kTableLimit; multiple += 2 * v)
            composite[static_cast<std::size_t>(multiple)] = true;
    }
    if (count != table.size())
        throw "fewer odd primes below 10000 than table entries";
    return table;
}

void RequireValue(const TBigInt& N, const char* operation) {
    ZARN_ASSERT(N.Digits.size() >= 2, std::string(operation) + ": N holds no value.", kSourceName);
}

bool IsOdd(const TBigInt& A) {
    return (A.Digits[1] & 1) != 0;
}

bool Equal(const TBigInt& A, const TBigInt& B) {
    return BigIntCompareAbs(A, B) == boEqual;
}

// The numbers one Miller-Rabin call works with: N - 1 = 2^s * m with m odd.
struct TMillerRabinTerms {
    TBigInt One;
    TBigInt N1;
    TBigInt M;
    std::int64_t S = 0;
};

TMillerRabinTerms SplitNMinusOne(const TBigInt& N) {
    TMillerRabinTerms terms;
    BigIntFromDecimal("1", terms.One);
    BigIntSubtract(N, terms.One, terms.N1);
    BigIntCopy(terms.N1, terms.M);
    while (!IsOdd(terms.M)) {
        ++terms.S;
        BigIntHalve(terms.M);
    }
    return terms;
}

// One round with the given base: y = base^m mod N passes when it is 1 or N - 1, or becomes N - 1
// within s - 1 squarings. A square that is 1 (a non-trivial square root of 1 was found), or squarings
// used up without reaching N - 1, show N composite.
bool RoundPasses(const TBigInt& base, const TBigInt& N, const TMillerRabinTerms& terms) {
    TBigInt y;
    BigIntPowerMod(base, terms.M, N, y);
    if (Equal(y, terms.One) || Equal(y, terms.N1))
        return true;
    TBigInt squared;
    for (std::int64_t i = 1; i < terms.S; ++i) {
        BigIntSquareMod(y, N, squared);
        std::swap(y, squared);
        if (Equal(y, terms.N1))
            return true;
        if (Equal(y, terms.One))
            return false;
    }
    return false;
}

} // namespace

constinit const std::array<std::int32_t, 1228> SmallPrimes = MakeSmallPrimes();

bool BigIntTrialDivision(const TBigInt& N) {
    RequireValue(N, "BigIntTrialDivision");
    if (!IsOdd(N))
        return false;
    for (const std::int32_t prime : SmallPrimes)
        if (BigIntModSmall(N, prime) == 0)
            return false;
    return true;
}

bool BigIntMillerRabin(const TBigInt& N, std::int32_t rounds) {
    RequireValue(N, "BigIntMillerRabin");
    // 1 would never leave the halving loop below (N - 1 = 0), and the rounds need an odd N > 1.
    if (!IsOdd(N) || N.Positive == 0 || (N.Digits[0] == 1 && N.Digits[1] == 1))
        return false;
    SeedRandomFromClock();
    const TMillerRabinTerms terms = SplitNMinusOne(N);
    SeedRandomFromClock();
    TBigInt base;
    for (std::int64_t j = 0; j < rounds; ++j) {
        const std::uint32_t r = RandomBelow(static_cast<std::uint32_t>(SmallPrimes.size() - 1));
        BigIntFromDecimal(std::to_string(SmallPrimes[r]), base);
        if (!RoundPasses(base, N, terms))
            return false;
    }
    return true;
}

bool BigIntIsProbablePrime(const TBigInt& N, std::int32_t rounds) {
    return BigIntTrialDivision(N) && BigIntMillerRabin(N, rounds);
}

} // namespace zarn
