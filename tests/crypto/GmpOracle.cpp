#include "tests/crypto/GmpOracle.h"

namespace zarn::test {

std::string TMpz::Hex() const {
    std::string text(mpz_sizeinbase(m_value, 16) + 2, '\0');
    mpz_get_str(text.data(), -16, m_value);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

std::string TMpz::Decimal() const {
    std::string text(mpz_sizeinbase(m_value, 10) + 2, '\0');
    mpz_get_str(text.data(), 10, m_value);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

std::string BytesOf(const TMpz& value) {
    std::string bytes((value.Bits() + 7) / 8, '\0');
    std::size_t count = 0;
    mpz_export(bytes.data(), &count, 1, 1, 1, 0, value.get());
    bytes.resize(count);
    return count == 0 ? std::string(1, '\0') : bytes;
}

TMpz ToMpz(const TBigInt& A) {
    const std::string bytes = BigIntToBytes(A);
    TMpz value;
    mpz_import(value.get(), bytes.size(), 1, 1, 1, 0, bytes.data());
    if (A.Positive == 0)
        mpz_neg(value.get(), value.get());
    return value;
}

TBigInt FromMpz(const TMpz& value) {
    TBigInt A;
    BigIntFromBytes(BytesOf(value), A);
    if (mpz_sgn(value.get()) < 0)
        BigIntNegate(A);
    return A;
}

TMpz MpzFromHex(const std::string& hex) {
    TMpz value;
    mpz_set_str(value.get(), hex.c_str(), 16);
    return value;
}

bool IsStrongProbablePrime(const TMpz& N, unsigned long base) {
    TMpz n1, m, y, b(base);
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

TMpz NextPrimeAbove(const TMpz& odd) {
    TMpz from = odd;
    if (mpz_cmp_ui(from.get(), 10005) < 0)
        mpz_set_ui(from.get(), 10005);
    TMpz prime;
    mpz_nextprime(prime.get(), from.get());
    return prime;
}

} // namespace zarn::test
