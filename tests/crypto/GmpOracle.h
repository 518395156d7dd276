// GMP as the oracle of the prime and key-generation tests, on top of the big-integer oracle: values of
// hex texts and bytes, and the strong probable-prime check of one Miller-Rabin base.
#pragma once

#include "crypto/BigInt.h"
#include "tests/crypto/BigIntOracle.h"

#include <gmp.h>

#include <string>

namespace zarn::test {

using bigint::TGmp;

// The value of a hex text as the key generation writes it (no sign).
TGmp MpzFromHex(const std::string& hex);
// Big-endian bytes of the magnitude, without leading zeros (one zero byte for zero).
std::string BytesOf(const TGmp& value);

// True when the odd N > 2 is a strong probable prime to `base`: base^m = 1 or base^(2^i m) = N - 1
// for some i < s, where N - 1 = 2^s m with m odd.
bool IsStrongProbablePrime(const TGmp& N, unsigned long base);

// The first prime above the odd value `odd` that the trial division lets through: the next prime
// after max(odd, 10005).
TGmp NextPrimeAbove(const TGmp& odd);

} // namespace zarn::test
