// Internal to the BigInt sources: digit constants, record helpers, the raw digit kernels that the public
// operations share, and the entry to the exponentiation engine. Kernels work on digit arrays (least
// significant first, no count element) and never allocate, but for the one scratch buffer per thread that
// MultiplyThroughPairs keeps.
#pragma once

#include "crypto/BigInt.h"

#include <cstddef>
#include <cstdint>

namespace zarn::bigint {

using Digit = std::int64_t;

__extension__ typedef unsigned __int128 UInt128;

inline constexpr int kDigitBits = 31;
inline constexpr std::uint64_t kDigitMask = 0x7FFFFFFF;
inline constexpr std::uint64_t kBase = 0x80000000;

// Raises EAssertionFailed unless A holds a value in normal form: n >= 1, n + 1 elements, a top digit in
// 0 .. 2^31 - 1 that is not zero unless n = 1. O(1): the digits below the top one are not read.
void CheckValue(const TBigInt& A, const char* operation);

// Digit count of A and a pointer to its first digit.
inline std::size_t Count(const TBigInt& A) {
    return static_cast<std::size_t>(A.Digits[0]);
}
inline const Digit* DigitsOf(const TBigInt& A) {
    return A.Digits.data() + 1;
}
inline Digit* DigitsOf(TBigInt& A) {
    return A.Digits.data() + 1;
}

inline bool IsZero(const TBigInt& A) {
    return A.Digits[0] == 1 && A.Digits[1] == 0;
}

// Makes A an n-digit record (contents of the digits unspecified), reusing its array.
void Resize(TBigInt& A, std::size_t n);

// Strips leading zero digits (keeping one), shrinks the array to n + 1 elements and stores n.
void Normalize(TBigInt& A);

// Sets A to a small non-negative value, positive.
void SetSmall(TBigInt& A, std::uint64_t value);

// out[0 .. outCount) = the bits of in[0 .. inCount), taken as inBits bits an element, regrouped as outBits
// bits an element (digits of 31 bits, pairs of 62, words of 64, limbs of 52), least significant first;
// missing bits are zero and bits beyond the output are dropped. 1 <= inBits, outBits <= 64.
void Repack(const std::uint64_t* in, std::size_t inCount, int inBits, std::uint64_t* out,
            std::size_t outCount, int outBits);

// Number of digits of d[0 .. n) without leading zeros, at least 1.
std::size_t SignificantCount(const Digit* d, std::size_t n);

// Compares a (na digits) with b (nb digits), both without leading zeros: -1, 0 or 1.
int CompareDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb);

// r = a + b for na >= nb; writes na + 1 digits.
void AddDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r);

// r = a - b for a >= b and na >= nb; writes na digits. r may be a.
void SubtractDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r);

// Digits 0 .. columns - 1 of a * b + addend into r (addend: nullptr or `columns` digits), that is the
// value mod 2^(31 columns): only the columns asked for are formed. r may be addend but must not overlap
// a or b.
void MultiplyColumns(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, std::size_t columns,
                     const Digit* addend, Digit* r);

// Columns 0 .. 2n - 1 of a * a into r, each cross product formed once and doubled.
void SquareColumns(const Digit* a, std::size_t n, Digit* r);

// r = a b (na + nb digits), or a^2 (2na digits) when b is nullptr, on pairs of digits in 64-bit words:
// the digits of MultiplyColumns and SquareColumns at about a quarter of the products. r must not overlap
// a or b. Uses one scratch buffer per thread.
void MultiplyThroughPairs(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r);

// Division of magnitudes: r (rn digits, no leading zeros, room for at least rn digits) becomes
// r mod b, rn its new count; when q is not null it receives the quotient digits (rn_old - nb + 1 of
// them, zeroed by the caller, only when r >= b). b has no leading zeros and is not zero; scratch has
// room for nb + 1 digits.
void DivideDigits(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, Digit* q, Digit* scratch);

// The bit length of |A|: 0 for zero.
std::size_t BitLength(const TBigInt& A);

} // namespace zarn::bigint
