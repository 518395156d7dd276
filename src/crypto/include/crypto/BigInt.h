// Arbitrary-precision integers: representation, conversions, arithmetic and modular arithmetic.
//
// Representation. A TBigInt is a sign flag and an array of base-2^31 digits:
//   Positive   1 for a positive number or zero, 0 for a negative number;
//   Digits     Digits[0] = n, the number of digits (n >= 1), then Digits[1] .. Digits[n], the digits of the
//              magnitude, least significant first. Every digit lies in 0 .. 2^31 - 1, so the upper 33 bits
//              of each 64-bit element are zero, and a digit product (below 2^62) plus further digits and a
//              carry fits one 64-bit accumulator.
// The value is (-1 if Positive = 0) * sum of Digits[i] * 2^(31 (i - 1)) for i = 1 .. n.
//
// Invariants of every value the library builds (its normal form):
//   - the array holds exactly n + 1 elements and Digits[0] equals n;
//   - Digits[n] != 0 unless n = 1; zero is n = 1 with Digits[1] = 0.
// The magnitude comparison decides on n first and relies on this form.
//
// The sign of zero is not normalised: zero normally has Positive = 1, but a zero with Positive = 0 arises
// from the text "-0" and from sums such as (-5) + 5. Comparisons work on magnitudes and the conversions to
// text ignore the sign, so such a zero behaves as zero unless a contract below says otherwise.
//
// A record owns its digits; copies are deep (BigIntCopy). A record whose Digits is empty (freshly declared
// or destroyed) holds no value and may only be passed as a result. Passing it, or a record out of normal
// form (a count that does not match the array, a zero top digit above the first, a top digit outside
// 0 .. 2^31 - 1), as an input raises EAssertionFailed.
//
// Calls take their inputs first and their results last, results by reference. A result record may be any
// record, one of the inputs included: the result is formed apart and then moved into it. (When two
// results of one call are the same record, it ends up holding the last one: the remainder of BigIntDivMod.)
// The previous value of a result record is lost; its array is reused where it is large enough.
//
// Errors: a zero divisor raises EDivByZero ("Division durch Null"); a text the decimal conversion rejects
// raises EConvertError with the platform's text; broken preconditions that are named below raise
// EAssertionFailed. Apart from those, the operations report nothing.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zarn {

struct TBigInt {
    std::uint8_t Positive = 1;
    std::vector<std::int64_t> Digits;
};

// Result of the magnitude comparison.
enum TBigIntOrder { boLarger, boSmaller, boEqual };

// ---- Representation and conversions ----

// Parses decimal text. Leading characters other than '-' and '0' .. '9' are skipped, except the last
// character of the text; then an optional '-' makes the result negative ("-0" gives a zero with
// Positive = 0). Everything after that must be decimal digits: anything else (also a second '-', a
// blank or "x" after the first digit, an empty remainder as in "-" or "x") raises EConvertError with
// "'<part>' ist kein gültiger Integerwert", <part> being the first rejected group of up to 9 characters
// counted from the end, or the empty text. An empty text raises the same error for ''.
void BigIntFromDecimal(const std::string& Text, TBigInt& R);

// Parses a bit text, most significant bit first: '1' is a one bit, every other character a zero bit.
// The result is positive and in normal form. An empty text raises EConvertError (for '').
void BigIntFromBinary(const std::string& Bits, TBigInt& R);

// The magnitude as a bit text, most significant first, without leading zeros; "0" for zero. Its length
// is the bit length of |A| (1 for zero). The sign is ignored.
std::string BigIntToBinary(const TBigInt& A);

// Parses big-endian bytes (first byte most significant); leading zero bytes do not change the value.
// The result is positive. An empty string raises EConvertError (for '').
void BigIntFromBytes(const std::string& Bytes, TBigInt& R);

// The magnitude as the shortest big-endian byte string, ceil(bit length / 8) bytes; one byte 0 for zero.
// The sign is ignored.
std::string BigIntToBytes(const TBigInt& A);

// R = A, a deep copy, sign included.
void BigIntCopy(const TBigInt& A, TBigInt& R);

// Releases A's digits; A holds no value afterwards.
void BigIntDestroy(TBigInt& A);

// ---- Arithmetic ----
// Signs: BigIntAdd gives the sign of the operand with the larger magnitude, and with equal magnitudes that
// of the first operand; BigIntSubtract is BigIntAdd of A and -B. BigIntMultiply is positive when both flags
// are equal and negative otherwise (a zero product too); BigIntSquare is positive. The in-place operations
// on one number work on the magnitude and keep the flag.

// boLarger if |A| > |B|, boSmaller if |A| < |B|, boEqual otherwise.
TBigIntOrder BigIntCompareAbs(const TBigInt& A, const TBigInt& B);

// R = A + B. A and B may be the same record.
void BigIntAdd(const TBigInt& A, const TBigInt& B, TBigInt& R);

// R = A - B. A and B may be the same record; B is not modified.
void BigIntSubtract(const TBigInt& A, const TBigInt& B, TBigInt& R);

// Flips A's sign flag (0 <-> 1), also for zero.
void BigIntNegate(TBigInt& A);

// Sets A's sign flag to positive.
void BigIntAbs(TBigInt& A);

// R = A * B, schoolbook. A and B may be the same record.
void BigIntMultiply(const TBigInt& A, const TBigInt& B, TBigInt& R);

// R = A * A, forming each cross product once and doubling it.
void BigIntSquare(const TBigInt& A, TBigInt& R);

// |A| = |A| * m for 1 <= m < 2^31. Also exact for larger m; m = 0 gives zero (flag kept); a negative m
// raises EAssertionFailed and leaves A unchanged.
void BigIntMulSmall(TBigInt& A, std::int64_t m);

// |A| = |A| div d; returns |A| mod d of the old value, for 1 <= d <= 2^32 (larger d are exact too).
// d = 0 raises EDivByZero, a negative d EAssertionFailed; A is then unchanged.
std::int64_t BigIntDivModSmall(TBigInt& A, std::int64_t d);

// |A| mod d, A unchanged; the divisor rules of BigIntDivModSmall.
std::int64_t BigIntModSmall(const TBigInt& A, std::int64_t d);

// |A| = |A| div 2.
void BigIntHalve(TBigInt& A);

// |A| = |A| * 2^31: the digits move up one place. Zero stays zero.
void BigIntShiftDigitsLeft(TBigInt& A);

// |A| = |A| div 2^31: the lowest digit is dropped; a one-digit number becomes zero.
void BigIntShiftDigitsRight(TBigInt& A);

// |A| = |A| - |B| for |A| >= |B|; A's flag is kept. A and B may be the same record. |A| < |B| raises
// EAssertionFailed and leaves A unchanged.
void BigIntSubAbsInPlace(TBigInt& A, const TBigInt& B);

// Euclidean division: A = Q * B + R with 0 <= R < |B|, for all four sign combinations (floor division for
// positive B). Q's flag: with A positive, that of B (so 3 div -5 gives a zero Q with Positive = 0); with A
// negative, negative for positive B and positive for negative B. R is positive. B = 0 raises EDivByZero.
// The quotient digits are estimated from the top one or two digits of the remainder over the top digit of
// the shifted divisor plus one, and corrected by repeated subtraction.
void BigIntDivMod(const TBigInt& A, const TBigInt& B, TBigInt& Q, TBigInt& R);

// R = A mod |B|, 0 <= R < |B|, positive; the division of BigIntDivMod without the quotient. B = 0 raises
// EDivByZero.
void BigIntMod(const TBigInt& A, const TBigInt& B, TBigInt& R);

// ---- Modular arithmetic ----

// Y = A^2 mod M, 0 <= Y < |M|. M = 0 raises EDivByZero.
void BigIntSquareMod(const TBigInt& A, const TBigInt& M, TBigInt& Y);

// Y = A * B mod M, 0 <= Y < |M|. M = 0 raises EDivByZero.
void BigIntMultiplyMod(const TBigInt& A, const TBigInt& B, const TBigInt& M, TBigInt& Y);

// G = the greatest common divisor by Euclid's algorithm; non-negative for non-negative A and B, and
// BigIntGcd(A, 0) = A. (With a negative operand the magnitude is the gcd and the flag is that of the
// record the algorithm ends on: the first operand when |A| = |B|, else the larger one when the smaller is
// zero, else the smaller one when it divides the larger, else positive.)
void BigIntGcd(const TBigInt& A, const TBigInt& B, TBigInt& G);

// X = A^(-1) mod M with 0 <= X < M, for M > 1 and gcd(A, M) = 1 (A of any sign). When the gcd is not 1
// (by magnitude) X is left as it was, also a record that holds no value. A = 0 with |M| = 1 raises
// EDivByZero.
void BigIntModInverse(const TBigInt& A, const TBigInt& M, TBigInt& X);

// Montgomery helpers. For an odd modulus N of t digits the radix R is 2^L, L the bit length of N. With
// the top digit of N at 2^30 or more, R = 2^(31 t) and mask = 2^31 - 1; otherwise, b being the highest set
// bit of the top digit, R = 2^(31 (t - 1) + b + 1) and mask = 2^(b + 1) - 1. x mod R is then digits
// 1 .. t of x with digit t ANDed with mask. t < 1 raises EAssertionFailed in the three calls below.

// L = A mod R: a copy of A (sign included) when A has fewer than t digits, else digits 1 .. t of A with
// digit t ANDed with mask, positive.
void BigIntLowPart(const TBigInt& A, std::int64_t t, std::int64_t mask, TBigInt& L);

// L = |A| * |B| mod R, forming only the digits below the radix; positive when the flags of A and B are
// equal, else negative.
void BigIntMultiplyLow(const TBigInt& A, const TBigInt& B, std::int64_t t, std::int64_t mask, TBigInt& L);

// U = T * R^(-1) mod N for 0 <= T < N * R, with NPrime = -N^(-1) mod R (positive) and t, mask the radix
// of N: m = (T mod R) * NPrime mod R, U = (m * N + T) / R, less N once if that is N or more. A zero T
// gives zero. A larger T gives a U congruent to T * R^(-1) that may be N or more; a negative T or a wrong
// NPrime is outside the contract (the result is then unspecified, never undefined).
void BigIntMontgomeryReduce(const TBigInt& T, const TBigInt& N, const TBigInt& NPrime, std::int64_t t,
                            std::int64_t mask, TBigInt& U);

// P = Base^|E| mod N, 0 <= P < N, for an odd N > 1, in Montgomery form in the form chosen below (by
// default a window exponentiation on machine words or IFMA limbs). Any Base works: a negative one enters
// as its non-negative residue, and one that shares a factor with N gives the right value. An even N, or
// N <= 1, raises EAssertionFailed.
void BigIntPowerMod(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P);

// ---- Internal steps and the choice of kernel form, for the tests and the benchmark ----
namespace detail {

// Character k (k = 1 .. 8) of Bits that is '1' sets bit 8 - k; any other or missing character counts 0.
std::uint8_t BitsToByte(const std::string& Bits);

// Entry v is the 8-character bit text of v, most significant bit first.
std::array<std::string, 256> BuildByteBitTable();

// Divides a number held as base-10^9 chunks in the TBigInt layout (Digits[0] = chunk count, chunks least
// significant first, each 0 .. 10^9 - 1) by d, 1 <= d <= 2^32, in place; strips leading zero chunks
// (keeping one) and returns the remainder. d = 0 raises EDivByZero, another d outside the range
// EAssertionFailed.
std::int64_t DecimalChunksDivSmall(TBigInt& Chunks, std::int64_t d);

// The Montgomery radix of an odd N > 1 as described above: R, t and mask.
void MontgomeryRadix(const TBigInt& N, TBigInt& R, std::int64_t& t, std::int64_t& mask);

// P = Base^|E| mod N for an odd N > 1 by the plain right-to-left binary exponentiation on the digits:
// N' = R - N^(-1) mod R by the extended Euclid, the Montgomery forms of 1 and Base by BigIntMod and
// BigIntMultiplyMod, then per bit of E a BigIntMultiply or BigIntSquare and a BigIntMontgomeryReduce. The
// yardstick of the fast forms; a Base sharing a factor with N gives the right value here too.
void PowerModReference(const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P);

// The forms of the exponentiation; all give the same P.
//   Reference      PowerModReference.
//   Words          the engine on 64-bit words with its generic loop at every size.
//   WordsUnrolled  the same with the loop compiled for fixed word counts where that pays (kUnrolledWords).
//   Ifma           52-bit limbs with AVX-512 IFMA at every size up to kIfmaMaxBits; available only where
//                  the processor has IFMA and its results matched the words' in a check before first use.
//   IfmaPortable   the IFMA algorithm on lanes of plain code, up to kIfmaMaxBits: it checks that algorithm
//                  on processors without IFMA.
enum class TPowerModForm { Reference, Words, WordsUnrolled, Ifma, IfmaPortable };
inline constexpr TPowerModForm kPowerModForms[] = {TPowerModForm::Reference, TPowerModForm::Words,
                                                   TPowerModForm::WordsUnrolled, TPowerModForm::Ifma,
                                                   TPowerModForm::IfmaPortable};
const char* PowerModFormName(TPowerModForm form);
inline constexpr std::size_t kUnrolledWords[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,  10, 11, 12, 13,
                                                 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24, 32};
// The Ifma forms' accumulator is proven exact up to this size (BigIntIfma.h).
inline constexpr std::size_t kIfmaMaxBits = 53194;
// From here up the default form is Ifma wherever that is faster at the size; below it, WordsUnrolled.
inline constexpr std::size_t kIfmaMinBits = 768;

// True when `form` runs on this processor (Ifma: after its check, run here on first asking).
bool PowerModFormAvailable(TPowerModForm form);

// True when `form` takes a modulus of `bits` bits: every form but the Ifma ones above kIfmaMaxBits.
inline bool PowerModFormTakes(TPowerModForm form, std::size_t bits) {
    return bits <= kIfmaMaxBits || (form != TPowerModForm::Ifma && form != TPowerModForm::IfmaPortable);
}

// The form BigIntPowerMod uses for a modulus of `bits` bits: WordsUnrolled, or Ifma from kIfmaMinBits to
// kIfmaMaxBits where it is available and, measured on the first modulus of that word count, faster.
TPowerModForm DefaultPowerModForm(std::size_t bits);

// BigIntPowerMod in the given form. Raises EAssertionFailed when the form is not available, or is an Ifma
// form and N has more than kIfmaMaxBits bits.
void PowerModWith(TPowerModForm form, const TBigInt& Base, const TBigInt& E, const TBigInt& N, TBigInt& P);

} // namespace detail

} // namespace zarn
