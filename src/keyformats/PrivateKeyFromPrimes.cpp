// A private key from the numbers a key generation knows: n, e, d and the primes, with the CRT values
// computed and the whole checked before anything is encoded.
#include "keyformats/KeyFormats.h"

#include <initializer_list>
#include <string>
#include <utility>

namespace zarn {

namespace {

const char* const kMismatch = "The private exponent does not belong to these primes and public exponent";

TBigInt Number(const std::string& bytes) {
    TBigInt value;
    BigIntFromBytes(bytes.empty() ? std::string(1, '\0') : bytes, value);
    return value;
}

TBigInt Small(std::uint32_t value) {
    TBigInt result;
    BigIntFromDecimal(std::to_string(value), result);
    return result;
}

bool IsZero(const TBigInt& value) {
    return value.Digits[0] == 1 && value.Digits[1] == 0;
}

bool Equal(const TBigInt& a, const TBigInt& b) {
    return BigIntCompareAbs(a, b) == boEqual;
}

TBigInt Minus(const TBigInt& a, const TBigInt& b) {
    TBigInt result;
    BigIntSubtract(a, b, result);
    return result;
}

} // namespace

TRsaPrivateKey RsaPrivateKeyFromPrimes(const std::string& nBytes, const std::string& eBytes,
                                       const std::string& dBytes, const std::string& pBytes,
                                       const std::string& qBytes) {
    const TBigInt n = Number(nBytes), e = Number(eBytes), d = Number(dBytes), one = Small(1);
    TBigInt p = Number(pBytes), q = Number(qBytes);
    for (const TBigInt* value : std::initializer_list<const TBigInt*>{&n, &e, &d, &p, &q})
        if (IsZero(*value))
            throw EKeyFormatError("A number of the RSA key pair is zero");
    if (BigIntCompareAbs(p, q) == boSmaller)
        std::swap(p, q);
    TBigInt product;
    BigIntMultiply(p, q, product);
    if (!Equal(product, n) || Equal(q, one))
        throw EKeyFormatError("The primes of the RSA key pair do not make its modulus");

    const TBigInt pMinusOne = Minus(p, one);
    const TBigInt qMinusOne = Minus(q, one);
    TBigInt dP, dQ, check;
    BigIntMod(d, pMinusOne, dP);
    BigIntMod(d, qMinusOne, dQ);
    BigIntMultiplyMod(e, dP, pMinusOne, check);
    if (!Equal(check, one))
        throw EKeyFormatError(kMismatch);
    BigIntMultiplyMod(e, dQ, qMinusOne, check);
    if (!Equal(check, one))
        throw EKeyFormatError(kMismatch);
    TBigInt qInv = Small(0);
    BigIntModInverse(q, p, qInv);
    if (IsZero(qInv))
        throw EKeyFormatError("The primes of the RSA key pair are not distinct primes");

    return {BigIntToBytes(n), BigIntToBytes(e),  BigIntToBytes(d),  BigIntToBytes(p),
            BigIntToBytes(q), BigIntToBytes(dP), BigIntToBytes(dQ), BigIntToBytes(qInv)};
}

} // namespace zarn
