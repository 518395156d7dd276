// GMP as the oracle of the prime and key-generation tests: an owning mpz wrapper, conversions between
// TBigInt and mpz, and the strong probable-prime check of one Miller-Rabin base.
#pragma once

#include "crypto/BigInt.h"

#include <gmp.h>

#include <string>

namespace zarn::test {

class TMpz {
public:
    TMpz() { mpz_init(m_value); }
    explicit TMpz(unsigned long value) { mpz_init_set_ui(m_value, value); }
    explicit TMpz(const std::string& decimal) { mpz_init_set_str(m_value, decimal.c_str(), 10); }
    TMpz(const TMpz& other) { mpz_init_set(m_value, other.m_value); }
    TMpz& operator=(const TMpz& other) {
        mpz_set(m_value, other.m_value);
        return *this;
    }
    ~TMpz() { mpz_clear(m_value); }

    mpz_ptr get() { return m_value; }
    mpz_srcptr get() const { return m_value; }
    std::string Hex() const;     // upper case, "-" for negative values
    std::string Decimal() const; // for failure messages
    std::size_t Bits() const { return mpz_sizeinbase(m_value, 2); }
    bool operator==(const TMpz& other) const { return mpz_cmp(m_value, other.m_value) == 0; }

private:
    mpz_t m_value;
};

TMpz ToMpz(const TBigInt& A);
TBigInt FromMpz(const TMpz& value);
// The value of a hex text as the key generation writes it (no sign).
TMpz MpzFromHex(const std::string& hex);
// Big-endian bytes of the magnitude, without leading zeros (one zero byte for zero).
std::string BytesOf(const TMpz& value);

// True when the odd N > 2 is a strong probable prime to `base`: base^m = 1 or base^(2^i m) = N - 1
// for some i < s, where N - 1 = 2^s m with m odd.
bool IsStrongProbablePrime(const TMpz& N, unsigned long base);

// The first prime above the odd value `odd` that the trial division lets through: the next prime
// after max(odd, 10005).
TMpz NextPrimeAbove(const TMpz& odd);

} // namespace zarn::test
