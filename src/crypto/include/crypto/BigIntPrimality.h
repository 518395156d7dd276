// The probable-prime test of the big-integer library: trial division by the odd primes below 10000,
// then Miller-Rabin rounds whose bases are small primes drawn from the program's pseudo-random
// generator (crypto/RandomGenerator.h). Numbers are TBigInt values as crypto/BigInt.h describes them.
#pragma once

#include "crypto/BigInt.h"

#include <array>
#include <cstdint>

namespace zarn {

// The odd primes from 3 to 9973 in increasing order: every prime below 10000 except 2.
// SmallPrimes[0] = 3, SmallPrimes[10] = 37, SmallPrimes[1226] = 9967, SmallPrimes[1227] = 9973.
extern const std::array<std::int32_t, 1228> SmallPrimes;

// False when N is even (zero and 2 included) or divisible by one of SmallPrimes (each table prime
// divides itself, so 3 .. 9973 give false); true otherwise, for 1 too. Everything above 1 that passes
// is at least 10007. The sign of N is ignored. Stops at the first divisor.
bool BigIntTrialDivision(const TBigInt& N);

// Miller-Rabin with `rounds` bases, each SmallPrimes[RandomBelow(1227)] (3 .. 9967; 9973 is never
// drawn). Reseeds the pseudo-random generator from the clock before drawing, so the generator
// continues from that seed afterwards. True when N passed every round; rounds <= 0 give true without
// drawing a base. The test is meant for N without a prime factor below 10000, as after the trial
// division: an odd prime below 10000 can fail a round whose base is a multiple of it.
// N below 3, negative or even gives false at once (the test works on odd N only).
bool BigIntMillerRabin(const TBigInt& N, std::int32_t rounds);

// BigIntTrialDivision(N), then, only if it passed, BigIntMillerRabin(N, rounds). N = 1, zero and
// negative N give false.
bool BigIntIsProbablePrime(const TBigInt& N, std::int32_t rounds);

} // namespace zarn
