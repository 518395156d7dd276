#include "tests/crypto/GmpOracle.h"

namespace zarn::test {

std::string BytesOf(const TGmp& value) {
    std::string bytes((value.Bits() + 7) / 8, '\0');
    std::size_t count = 0;
    mpz_export(bytes.data(), &count, 1, 1, 1, 0, value.get());
    bytes.resize(count);
    return count == 0 ? std::string(1, '\0') : bytes;
}

TGmp MpzFromHex(const std::string& hex) {
    TGmp value;
    mpz_set_str(value.get(), hex.c_str(), 16);
    return value;
}

bool IsStrongProbablePrime(const TGmp& N, unsigned long base) {
    TGmp n1, m, y, b(base);
    mpz_sub_ui(n1.get(), N.get(), 1);
    const mp_bitcnt_t s = mpz_scan1(n1.get(), 0);
    mpz_tdiv_q_2exp(m.get(), n1.get(), s);
    mpz_powm(y.get(), b.get(), m.get(), N.get());
    if (mpz_cmp_ui(y.get(), 1) == 0 || y == n1)
        return true;
    for (mp_bitcnt_t i = 1; i < s; ++i) {
        mpz_powm_ui(y.get(), y.get(), 2, N.get());
        if (y == n1)
            return true;
    }
    return false;
}

TGmp NextPrimeAbove(const TGmp& odd) {
    TGmp from = odd;
    if (mpz_cmp_ui(from.get(), 10005) < 0)
        mpz_set_ui(from.get(), 10005);
    TGmp prime;
    mpz_nextprime(prime.get(), from.get());
    return prime;
}

} // namespace zarn::test
