// Internal to the BigInt sources: digit constants, record helpers and the raw digit kernels that the
// public operations and the exponentiation loop share. Kernels work on digit arrays (least significant
// first, no count element) and never allocate.
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

// Operands read with vector loads must have this many readable zero digits below and above them.
inline constexpr std::size_t kPad = 8;

// Raises EAssertionFailed unless A holds a value in the record layout (n >= 1, n + 1 elements).
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

// Number of digits of d[0 .. n) without leading zeros, at least 1.
std::size_t SignificantCount(const Digit* d, std::size_t n);

// Compares a (na digits) with b (nb digits), both without leading zeros: -1, 0 or 1.
int CompareDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb);

// r = a + b for na >= nb; writes na + 1 digits.
void AddDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r);

// r = a - b for a >= b and na >= nb; writes na digits. r may be a.
void SubtractDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r);

// Digits 0 .. columns - 1 of a * b + addend into r (addend: nullptr or `columns` digits), that is the
// value mod 2^(31 columns): only the columns asked for are formed. b must be padded (kPad zero digits on
// each side). r may be addend but must not overlap a or b.
void MultiplyColumns(const Digit* a, std::size_t na, const Digit* bPadded, std::size_t nb,
                     std::size_t columns, const Digit* addend, Digit* r);

// Columns 0 .. 2n - 1 of a * a into r, each cross product formed once and doubled. a must be padded.
void SquareColumns(const Digit* aPadded, std::size_t n, Digit* r);

// The two kernels above in the form currently chosen.
struct TColumnKernels {
    void (*Multiply)(const Digit* a, std::size_t na, const Digit* bPadded, std::size_t nb,
                     std::size_t columns, const Digit* addend, Digit* r);
    void (*Square)(const Digit* aPadded, std::size_t n, Digit* r);
};
TColumnKernels CurrentColumnKernels();

// The products of the Montgomery exponentiation, on t-digit operands with b padded: a * b (2t digits),
// a * b mod 2^(31 t) (t digits), a * b + addend (2t + 1 digits, addend 2t + 1 digits, r may be addend)
// and a^2 (2t digits). The sum's digits may be left redundant: the same value in digits below
// 2^31 + 2^16 that need not be below 2^31.
struct TMontgomeryKernels {
    void (*Product)(const Digit* a, const Digit* bPadded, std::size_t t, Digit* r);
    void (*LowProduct)(const Digit* a, const Digit* bPadded, std::size_t t, Digit* r);
    void (*ProductPlus)(const Digit* a, const Digit* bPadded, std::size_t t, const Digit* addend, Digit* r);
    void (*Square)(const Digit* aPadded, std::size_t t, Digit* r);
};

// The exponentiation's products in the form currently chosen.
TMontgomeryKernels MontgomeryKernels();

// A reusable zero-padded copy of an operand for the kernels above.
class TPaddedDigits {
public:
    // Copies d[0 .. n) and returns the pointer to the copy's first digit.
    const Digit* Assign(const Digit* d, std::size_t n);
    // Room for n digits, all zero, and the pointer to the first.
    Digit* Zeroed(std::size_t n);

private:
    std::vector<Digit> m_buffer;
};

// Division of magnitudes: r (rn digits, no leading zeros, room for at least rn digits) becomes
// r mod b, rn its new count; when q is not null it receives the quotient digits (rn_old - nb + 1 of
// them, zeroed by the caller, only when r >= b). b has no leading zeros and is not zero; scratch has
// room for nb + 1 digits.
void DivideDigits(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, Digit* q, Digit* scratch);

} // namespace zarn::bigint
