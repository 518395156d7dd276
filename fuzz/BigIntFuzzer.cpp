// The big integers on operands taken from the input, every result compared with GMP and checked
// for its sign flag and normal form. Calls outside a contract (a zero divisor, an even modulus)
// must raise their errors, not crash or hang.
#include "crypto/BigInt.h"
#include "crypto/BigIntPrimality.h"
#include "platform/Errors.h"
#include "tests/support/Gmp.h"

#include <gmp.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using namespace zarn;

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

using test::TGmp;

void CheckNormalForm(const TBigInt& x) {
    Check(x.Positive <= 1, "sign flag is 0 or 1");
    Check(!x.Digits.empty() && x.Digits[0] >= 1, "digit count");
    const auto n = static_cast<std::size_t>(x.Digits[0]);
    Check(x.Digits.size() == n + 1, "array of n + 1 elements");
    for (std::size_t i = 1; i <= n; ++i)
        Check(x.Digits[i] >= 0 && x.Digits[i] <= 0x7FFFFFFF, "digit range");
    Check(n == 1 || x.Digits[n] != 0, "no leading zero digit");
}

// The value of `x` (checked for normal form) in `out`.
void ToMpz(const TBigInt& x, mpz_ptr out) {
    CheckNormalForm(x);
    mpz_set_ui(out, 0);
    for (std::int64_t i = x.Digits[0]; i >= 1; --i) {
        mpz_mul_2exp(out, out, 31);
        mpz_add_ui(out, out, static_cast<unsigned long>(x.Digits[static_cast<std::size_t>(i)]));
    }
    if (x.Positive == 0)
        mpz_neg(out, out);
}

bool Equals(const TBigInt& x, mpz_ptr expected) {
    TGmp value;
    ToMpz(x, value);
    return mpz_cmpabs(value, expected) == 0 &&
           (mpz_sgn(expected) == 0 || (mpz_sgn(expected) < 0) == (x.Positive == 0));
}

// Reads one operand: a length byte, then that many big-endian magnitude bytes.
std::string TakeBytes(const std::uint8_t*& data, std::size_t& size) {
    if (size == 0)
        return std::string(1, '\0');
    const std::size_t length = std::min<std::size_t>(data[0], size - 1);
    std::string bytes(reinterpret_cast<const char*>(data + 1), length);
    data += length + 1;
    size -= length + 1;
    return bytes.empty() ? std::string(1, '\0') : bytes;
}

void FromBytesChecked(const std::string& bytes, bool negative, TBigInt& x, mpz_ptr value) {
    BigIntFromBytes(bytes, x);
    mpz_import(value, bytes.size(), 1, 1, 1, 0, bytes.data());
    Check(Equals(x, value), "BigIntFromBytes");
    Check(BigIntToBytes(x).size() == (mpz_sgn(value) == 0 ? 1 : (mpz_sizeinbase(value, 2) + 7) / 8),
          "BigIntToBytes length");
    if (negative) {
        BigIntNegate(x);
        mpz_neg(value, value);
    }
}

template <typename F>
bool Raises(F call) {
    try {
        call();
    } catch (const Exception&) {
        return true;
    }
    return false;
}

void CheckDivision(const TBigInt& a, const TBigInt& b, mpz_ptr av, mpz_ptr bv) {
    TBigInt q, r;
    if (mpz_sgn(bv) == 0) {
        Check(Raises([&] { BigIntDivMod(a, b, q, r); }), "DivMod by zero raises");
        Check(Raises([&] { BigIntMod(a, b, r); }), "Mod by zero raises");
        return;
    }
    BigIntDivMod(a, b, q, r);
    TGmp expectedR, expectedQ, absB;
    mpz_abs(absB, bv);
    mpz_mod(expectedR, av, absB);
    mpz_sub(expectedQ, av, expectedR);
    mpz_divexact(expectedQ, expectedQ, bv);
    Check(Equals(q, expectedQ) && Equals(r, expectedR), "DivMod value");
    Check(r.Positive == 1, "remainder positive");
    Check(q.Positive == (a.Positive == b.Positive ? 1 : 0), "quotient sign flag");
    TBigInt m;
    BigIntMod(a, b, m);
    Check(Equals(m, expectedR) && m.Positive == 1, "Mod");
}

void CheckSmall(TBigInt a, mpz_ptr av, std::uint64_t d) {
    TGmp absA;
    mpz_abs(absA, av);
    if (d == 0) {
        Check(Raises([&] { BigIntModSmall(a, 0); }), "ModSmall by zero raises");
        Check(Raises([&] { BigIntDivModSmall(a, 0); }), "DivModSmall by zero raises");
        return;
    }
    const auto expected = static_cast<std::int64_t>(mpz_fdiv_ui(absA, d));
    Check(BigIntModSmall(a, static_cast<std::int64_t>(d)) == expected, "ModSmall");
    const std::uint8_t flag = a.Positive;
    Check(BigIntDivModSmall(a, static_cast<std::int64_t>(d)) == expected, "DivModSmall remainder");
    mpz_fdiv_q_ui(absA, absA, d);
    Check(a.Positive == flag, "DivModSmall keeps the flag");
    TGmp value;
    ToMpz(a, value);
    Check(mpz_cmpabs(value, absA) == 0, "DivModSmall quotient");
    if (d < 0x80000000u && mpz_sgn(absA) != 0) {
        BigIntMulSmall(a, static_cast<std::int64_t>(d));
        mpz_mul_ui(absA, absA, d);
        ToMpz(a, value);
        Check(mpz_cmpabs(value, absA) == 0, "MulSmall");
    }
}

// The trial division: false exactly for an even |a| or one with a factor in the table.
void CheckTrialDivision(const TBigInt& a, mpz_ptr av) {
    bool expected = mpz_odd_p(av) != 0;
    for (std::size_t k = 0; expected && k < SmallPrimes.size(); ++k)
        expected = mpz_divisible_ui_p(av, static_cast<unsigned long>(SmallPrimes[k])) == 0;
    Check(BigIntTrialDivision(a) == expected, "TrialDivision");
}

void CheckModular(const TBigInt& a, const TBigInt& b, const TBigInt& n, mpz_ptr av, mpz_ptr bv, mpz_ptr nv) {
    TBigInt p;
    if (mpz_sgn(nv) <= 0 || mpz_cmp_ui(nv, 1) == 0 || mpz_even_p(nv)) {
        if (n.Positive == 1)
            Check(Raises([&] { BigIntPowerMod(a, b, n, p); }), "PowerMod with an unusable modulus raises");
        return;
    }
    TGmp expected, absE;
    mpz_abs(absE, bv);
    mpz_powm(expected, av, absE, nv);
    // Every form of the exponentiation on the same operands; the reference takes a bit per step, so it
    // gets short exponents only.
    const std::size_t bits = mpz_sizeinbase(nv, 2);
    for (const auto form : detail::kPowerModForms) {
        if (!detail::PowerModFormAvailable(form) || !detail::PowerModFormTakes(form, bits) ||
            (form == detail::TPowerModForm::Reference && mpz_sizeinbase(absE, 2) > 64))
            continue;
        detail::PowerModWith(form, a, b, n, p);
        Check(Equals(p, expected) && p.Positive == 1, "PowerMod");
    }
    BigIntPowerMod(a, b, n, p);
    Check(Equals(p, expected) && p.Positive == 1, "PowerMod in the default form");

    TBigInt y;
    BigIntSquareMod(a, n, y);
    mpz_mul(expected, av, av);
    mpz_mod(expected, expected, nv);
    Check(Equals(y, expected), "SquareMod");
    BigIntMultiplyMod(a, b, n, y);
    mpz_mul(expected, av, bv);
    mpz_mod(expected, expected, nv);
    Check(Equals(y, expected), "MultiplyMod");

    if (mpz_sgn(av) > 0) {
        TBigInt g, x;
        BigIntGcd(a, n, g);
        mpz_gcd(expected, av, nv);
        Check(Equals(g, expected), "Gcd");
        BigIntFromBytes(std::string("\x2A"), x); // 42 stays when there is no inverse
        BigIntModInverse(a, n, x);
        if (mpz_cmp_ui(expected, 1) == 0) {
            mpz_invert(expected, av, nv);
            Check(Equals(x, expected), "ModInverse");
        } else {
            Check(x.Digits[0] == 1 && x.Digits[1] == 42, "ModInverse leaves its result without an inverse");
        }
    }
}

void CheckArithmetic(const TBigInt& a, const TBigInt& b, mpz_ptr av, mpz_ptr bv) {
    TBigInt r;
    TGmp expected;
    BigIntAdd(a, b, r);
    mpz_add(expected, av, bv);
    Check(Equals(r, expected), "Add");
    const int order = mpz_cmpabs(av, bv);
    Check(r.Positive == (order >= 0 ? a.Positive : b.Positive), "Add sign flag");
    Check(BigIntCompareAbs(a, b) == (order > 0 ? boLarger : order < 0 ? boSmaller : boEqual), "CompareAbs");
    BigIntSubtract(a, b, r);
    mpz_sub(expected, av, bv);
    Check(Equals(r, expected), "Subtract");
    BigIntMultiply(a, b, r);
    mpz_mul(expected, av, bv);
    Check(Equals(r, expected) && r.Positive == (a.Positive == b.Positive ? 1 : 0), "Multiply");
    BigIntSquare(a, r);
    mpz_mul(expected, av, av);
    Check(Equals(r, expected) && r.Positive == 1, "Square");

    TBigInt h;
    BigIntCopy(a, h);
    BigIntHalve(h);
    mpz_abs(expected, av);
    mpz_fdiv_q_2exp(expected, expected, 1);
    TGmp value;
    ToMpz(h, value);
    Check(mpz_cmpabs(value, expected) == 0 && h.Positive == a.Positive, "Halve");
    BigIntCopy(a, h);
    BigIntShiftDigitsRight(h);
    mpz_abs(expected, av);
    mpz_fdiv_q_2exp(expected, expected, 31);
    ToMpz(h, value);
    Check(mpz_cmpabs(value, expected) == 0, "ShiftDigitsRight");
    if (mpz_sgn(av) != 0) {
        BigIntCopy(a, h);
        BigIntShiftDigitsLeft(h);
        mpz_abs(expected, av);
        mpz_mul_2exp(expected, expected, 31);
        ToMpz(h, value);
        Check(mpz_cmpabs(value, expected) == 0, "ShiftDigitsLeft");
    }
    if (order >= 0) {
        BigIntCopy(a, h);
        BigIntSubAbsInPlace(h, b);
        mpz_abs(expected, av);
        mpz_abs(value, bv);
        mpz_sub(expected, expected, value);
        ToMpz(h, value);
        Check(mpz_cmpabs(value, expected) == 0, "SubAbsInPlace");
    }
    mpz_abs(expected, av);
    const std::string bits = BigIntToBinary(a);
    Check(bits == expected.Text(2), "BigIntToBinary");
    BigIntFromBinary(bits, h);
    Check(Equals(h, expected) && h.Positive == 1, "BigIntFromBinary");
}

// Decimal text: leading junk (except a last character), an optional '-', then digits only.
void CheckDecimal(const std::string& text) {
    std::size_t start = 0;
    while (start + 1 < text.size() && text[start] != '-' && (text[start] < '0' || text[start] > '9'))
        ++start;
    std::string rest = text.substr(start);
    bool negative = false;
    if (!rest.empty() && rest[0] == '-') {
        negative = true;
        rest.erase(0, 1);
    }
    const bool valid = !rest.empty() && rest.find_first_not_of("0123456789") == std::string::npos;
    TBigInt x;
    try {
        BigIntFromDecimal(text, x);
        Check(valid, "BigIntFromDecimal accepts only digits after the junk");
    } catch (const EConvertError&) {
        Check(!valid, "BigIntFromDecimal rejects only malformed text");
        return;
    }
    TGmp expected;
    mpz_set_str(expected, rest.c_str(), 10);
    if (negative)
        mpz_neg(expected, expected);
    TGmp value;
    ToMpz(x, value);
    Check(mpz_cmpabs(value, expected) == 0 && x.Positive == (negative ? 0 : 1), "BigIntFromDecimal value");
}

} // namespace

// Input: a flag byte (signs, and which part to run), three operands, and the rest as decimal text.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 2)
        return 0;
    const std::uint8_t flags = data[0];
    std::uint64_t small = data[1];
    data += 2;
    size -= 2;
    const std::string aBytes = TakeBytes(data, size);
    const std::string bBytes = TakeBytes(data, size);
    const std::string nBytes = TakeBytes(data, size);
    for (int i = 0; i < 4 && size > 0; ++i, ++data, --size)
        small = (small << 8) | *data;

    TBigInt a, b, n;
    TGmp av, bv, nv;
    FromBytesChecked(aBytes, (flags & 1) != 0, a, av);
    FromBytesChecked(bBytes, (flags & 2) != 0, b, bv);
    FromBytesChecked(nBytes, false, n, nv);

    CheckArithmetic(a, b, av, bv);
    CheckDivision(a, b, av, bv);
    CheckSmall(a, av, small % 0x100000001ULL); // 0 .. 2^32
    CheckTrialDivision(a, av);
    if ((flags & 4) != 0)
        CheckModular(a, b, n, av, bv, nv);
    CheckDecimal(std::string(reinterpret_cast<const char*>(data), size));
    return 0;
}
