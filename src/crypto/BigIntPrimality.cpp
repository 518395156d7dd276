#include "crypto/BigIntPrimality.h"

#include "BigIntInternal.h"
#include "crypto/RandomGenerator.h"

#include <string>
#include <utility>

namespace zarn {

namespace {

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

constexpr std::array<std::int32_t, 1228> kSmallPrimes = MakeSmallPrimes();

// The remainder by a table prime without a division. Digits are taken in blocks of kBlockDigits from
// the least significant end; a block's value mod p is the sum of its digits times the powers
// 2^(31 i) mod p of their positions, and the blocks are joined from the top one down by
// r = (r * 2^(31 kBlockDigits) + block sum) mod p. Every sum stays below 2^50 (digits below 2^31,
// powers and r below 2^14), and one multiplication by floor(2^64 / p) reduces it.
constexpr std::size_t kBlockDigits = 16;

struct TSmallPrimeDivisor {
    std::uint64_t Reciprocal = 0; // floor(2^64 / p)
    std::uint32_t Prime = 0;
    std::uint16_t BlockFactor = 0;                    // 2^(31 kBlockDigits) mod p
    std::array<std::uint16_t, kBlockDigits> Powers{}; // 2^(31 i) mod p
};

constexpr std::array<TSmallPrimeDivisor, 1228> MakeSmallPrimeDivisors() {
    std::array<TSmallPrimeDivisor, 1228> table{};
    for (std::size_t k = 0; k < table.size(); ++k) {
        const auto p = static_cast<std::uint64_t>(kSmallPrimes[k]);
        TSmallPrimeDivisor& divisor = table[k];
        divisor.Prime = static_cast<std::uint32_t>(p);
        divisor.Reciprocal = ~std::uint64_t{0} / p; // p is odd, so 2^64 / p is not whole
        std::uint64_t power = 1;
        for (std::size_t i = 0; i < kBlockDigits; ++i) {
            divisor.Powers[i] = static_cast<std::uint16_t>(power);
            power = (power << 31) % p;
        }
        divisor.BlockFactor = static_cast<std::uint16_t>(power);
    }
    return table;
}

constinit const std::array<TSmallPrimeDivisor, 1228> kSmallPrimeDivisors = MakeSmallPrimeDivisors();

// x mod p for x < 2^63: the estimated quotient is floor(x / p) or one less.
std::uint64_t ReduceBelow(std::uint64_t x, const TSmallPrimeDivisor& divisor) {
    const auto quotient =
        static_cast<std::uint64_t>((static_cast<bigint::UInt128>(x) * divisor.Reciprocal) >> 64);
    const std::uint64_t r = x - quotient * divisor.Prime;
    return r >= divisor.Prime ? r - divisor.Prime : r;
}

// |N| mod p, the value of BigIntModSmall(N, p).
std::uint64_t ModSmallPrime(const TBigInt& N, const TSmallPrimeDivisor& divisor) {
    const std::int64_t* digits = N.Digits.data() + 1;
    const auto n = static_cast<std::size_t>(N.Digits[0]);
    std::size_t start = (n - 1) / kBlockDigits * kBlockDigits;
    std::uint64_t r = 0;
    for (std::size_t end = n;; end = start, start -= kBlockDigits) {
        std::uint64_t sum = r * std::uint64_t{divisor.BlockFactor};
        for (std::size_t i = start; i < end; ++i)
            sum += static_cast<std::uint64_t>(digits[i]) * divisor.Powers[i - start];
        r = ReduceBelow(sum, divisor);
        if (start == 0)
            return r;
    }
}

// The digit count must match the array: the remainders below read as many digits as it says.
void RequireValue(const TBigInt& N, const char* operation) {
    bigint::CheckValue(N, operation);
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

constinit const std::array<std::int32_t, 1228> SmallPrimes = kSmallPrimes;

bool BigIntTrialDivision(const TBigInt& N) {
    RequireValue(N, "BigIntTrialDivision");
    if (!IsOdd(N))
        return false;
    for (const TSmallPrimeDivisor& divisor : kSmallPrimeDivisors)
        if (ModSmallPrime(N, divisor) == 0)
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
