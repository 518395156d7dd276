// A private key completed from n, e and d: the primes found by the standard method, and the CRT
// values.
#include "keyformats/KeyFormats.h"

#include <string>
#include <utility>

namespace zarn {

namespace {

TBigInt Small(std::uint32_t value) {
    TBigInt result;
    BigIntFromDecimal(std::to_string(value), result);
    return result;
}

bool IsZero(const TBigInt& value) {
    return value.Digits[0] == 1 && value.Digits[1] == 0;
}

bool IsOdd(const TBigInt& value) {
    return (value.Digits[1] & 1) != 0;
}

bool Equal(const TBigInt& a, const TBigInt& b) {
    return BigIntCompareAbs(a, b) == boEqual;
}

TBigInt Minus(const TBigInt& a, const TBigInt& b) {
    TBigInt result;
    BigIntSubtract(a, b, result);
    return result;
}

const char* const kMismatch = "The private exponent does not belong to this modulus and public exponent";

// Each base finds the primes with a probability of at least one half when d belongs to n and e.
constexpr std::uint32_t kBases = 100;

// A prime factor of n, found from k = e d - 1 = 2^t r (r odd); n odd, k a multiple of the order of
// every unit modulo n. Raises EKeyFormatError when k is not such a multiple or no base splits n.
TBigInt FindFactor(const TBigInt& n, const TBigInt& r, int t) {
    const TBigInt one = Small(1);
    const TBigInt nMinusOne = Minus(n, one);
    for (std::uint32_t g = 2; g < 2 + kBases; ++g) {
        const TBigInt base = Small(g);
        if (BigIntCompareAbs(base, nMinusOne) != boSmaller)
            break;
        TBigInt factor;
        BigIntGcd(n, base, factor);
        if (!Equal(factor, one))
            return factor;
        TBigInt y;
        BigIntPowerMod(base, r, n, y);
        if (Equal(y, one) || Equal(y, nMinusOne))
            continue;
        // y runs through g^(2^i r); a square of 1 from a y other than +-1 splits n. Reaching i = t
        // without a 1 means g^k != 1, so k is not a multiple of the order of g.
        for (int i = 1;; ++i) {
            TBigInt square;
            BigIntSquareMod(y, n, square);
            if (Equal(square, one)) {
                BigIntGcd(n, Minus(y, one), factor);
                return factor;
            }
            if (i == t)
                throw EKeyFormatError(kMismatch);
            if (Equal(square, nMinusOne))
                break;
            y = std::move(square);
        }
    }
    throw EKeyFormatError("The primes of the RSA modulus could not be found");
}

} // namespace

TRsaPrivateKey CompleteRsaPrivateKey(const TBigInt& n, const TBigInt& e, const TBigInt& d) {
    const TBigInt one = Small(1);
    if (IsZero(e) || IsZero(d))
        throw EKeyFormatError("An RSA exponent is zero");
    if (!IsOdd(n) || BigIntCompareAbs(n, Small(15)) == boSmaller)
        throw EKeyFormatError("The RSA modulus is not the product of two odd primes");

    TBigInt k;
    BigIntMultiply(e, d, k);
    k = Minus(k, one);
    if (IsZero(k) || IsOdd(k))
        throw EKeyFormatError(kMismatch);
    TBigInt r;
    BigIntCopy(k, r);
    int t = 0;
    for (; !IsOdd(r); ++t)
        BigIntHalve(r);

    TBigInt p = FindFactor(n, r, t);
    TBigInt q, remainder;
    BigIntDivMod(n, p, q, remainder);
    TBigInt product;
    BigIntMultiply(p, q, product);
    if (!IsZero(remainder) || !Equal(product, n) || Equal(p, one) || Equal(q, one))
        throw EKeyFormatError("The primes of the RSA modulus could not be found");
    if (BigIntCompareAbs(p, q) == boSmaller)
        std::swap(p, q);

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
        throw EKeyFormatError("The RSA modulus is not the product of two distinct primes");

    return {BigIntToBytes(n), BigIntToBytes(e),  BigIntToBytes(d),  BigIntToBytes(p),
            BigIntToBytes(q), BigIntToBytes(dP), BigIntToBytes(dQ), BigIntToBytes(qInv)};
}

TRsaPrivateKey CompleteRsaPrivateKey(const std::string& n, const std::string& e, const std::string& d) {
    const auto value = [](const std::string& bytes) {
        TBigInt result;
        BigIntFromBytes(bytes.empty() ? std::string(1, '\0') : bytes, result);
        return result;
    };
    return CompleteRsaPrivateKey(value(n), value(e), value(d));
}

} // namespace zarn
