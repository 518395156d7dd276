// The raw digit kernels: products and squares by columns, addition, subtraction, comparison and the
// long division on bare digit arrays. Long products on digit pairs are in BigIntPairs.cpp.
#include "BigIntInternal.h"
#include "crypto/BigInt.h"

#include <algorithm>
#include <type_traits>
#include <vector>

namespace zarn {

namespace bigint {

namespace {

inline std::uint64_t U(Digit d) {
    return static_cast<std::uint64_t>(d);
}

// A column sum is kept as acc + hi * 2^31. Four digit products, each at most (2^31 - 1)^2, plus an acc
// below 2^31 stay below 2^64, so acc takes four products between folds; hi grows by less than 2^33 per
// fold and stays far below 2^64 for any digit count the library meets.

inline void Fold(std::uint64_t& acc, std::uint64_t& hi) {
    hi += acc >> kDigitBits;
    acc &= kDigitMask;
}

} // namespace

void MultiplyColumns(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, std::size_t columns,
                     const Digit* addend, Digit* r) {
    std::uint64_t carry = 0;
    std::uint64_t hiBelow = 0;
    for (std::size_t c = 0; c < columns; ++c) {
        std::uint64_t acc = 0;
        std::uint64_t hi = 0;
        const std::size_t iLo = c + 1 > nb ? c + 1 - nb : 0;
        const std::size_t iEnd = std::min(na, c + 1);
        std::size_t i = iLo;
        for (; i + 4 <= iEnd; i += 4) {
            acc += U(a[i]) * U(b[c - i]) + U(a[i + 1]) * U(b[c - i - 1]) + U(a[i + 2]) * U(b[c - i - 2]) +
                   U(a[i + 3]) * U(b[c - i - 3]);
            Fold(acc, hi);
        }
        for (; i < iEnd; ++i)
            acc += U(a[i]) * U(b[c - i]);
        Fold(acc, hi);
        const std::uint64_t v = acc + hiBelow + carry + (addend != nullptr ? U(addend[c]) : 0);
        r[c] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        hiBelow = hi;
    }
}

void SquareColumns(const Digit* a, std::size_t n, Digit* r) {
    std::uint64_t carry = 0;
    std::uint64_t hiBelow = 0;
    for (std::size_t c = 0; c < 2 * n; ++c) {
        // Cross products a_i * a_j with i < j = c - i.
        std::uint64_t acc = 0;
        std::uint64_t hi = 0;
        const std::size_t iLo = c + 1 > n ? c + 1 - n : 0;
        const std::size_t iEnd = (c + 1) / 2;
        std::size_t i = iLo;
        for (; i + 4 <= iEnd; i += 4) {
            acc += U(a[i]) * U(a[c - i]) + U(a[i + 1]) * U(a[c - i - 1]) + U(a[i + 2]) * U(a[c - i - 2]) +
                   U(a[i + 3]) * U(a[c - i - 3]);
            Fold(acc, hi);
        }
        for (; i < iEnd; ++i)
            acc += U(a[i]) * U(a[c - i]);
        Fold(acc, hi);
        const std::uint64_t square = (c % 2 == 0 && c / 2 < n) ? U(a[c / 2]) * U(a[c / 2]) : 0;
        // The doubled column below 2^40 plus a square below 2^62 and a small carry.
        const std::uint64_t v = 2 * (acc + hiBelow) + square + carry;
        r[c] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        hiBelow = hi;
    }
}

std::size_t SignificantCount(const Digit* d, std::size_t n) {
    while (n > 1 && d[n - 1] == 0)
        --n;
    return n;
}

int CompareDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb) {
    if (na != nb)
        return na > nb ? 1 : -1;
    for (std::size_t i = na; i-- > 0;) {
        if (a[i] != b[i])
            return a[i] > b[i] ? 1 : -1;
    }
    return 0;
}

void AddDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    std::uint64_t carry = 0;
    for (std::size_t i = 0; i < na; ++i) {
        const std::uint64_t v = U(a[i]) + (i < nb ? U(b[i]) : 0) + carry;
        r[i] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
    }
    r[na] = static_cast<Digit>(carry);
}

// v = a_i + 2^31 - b_i - borrow lies in 0 .. 2^32 - 1; bit 31 of v set means no borrow.
void SubtractDigits(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < na; ++i) {
        const std::uint64_t v = U(a[i]) + kBase - (i < nb ? U(b[i]) : 0) - borrow;
        r[i] = static_cast<Digit>(v & kDigitMask);
        borrow = 1 - (v >> kDigitBits);
    }
}

namespace {

// Compares r with b * 2^(31 offset); both without leading zeros, b not zero.
__attribute__((always_inline)) inline int CompareShifted(const Digit* r, std::size_t rn, const Digit* b,
                                                         std::size_t nb, std::size_t offset) {
    if (rn != nb + offset)
        return rn > nb + offset ? 1 : -1;
    for (std::size_t i = nb; i-- > 0;) {
        if (r[i + offset] != b[i])
            return r[i + offset] > b[i] ? 1 : -1;
    }
    for (std::size_t i = 0; i < offset; ++i) {
        if (r[i] != 0)
            return 1;
    }
    return 0;
}

// r -= b * 2^(31 offset) for r >= that value; rn is updated.
void SubtractShifted(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, std::size_t offset) {
    SubtractDigits(r + offset, rn - offset, b, nb, r + offset);
    rn = SignificantCount(r, rn);
}

// t = b * q (1 <= q < 2^31) and r -= t * 2^(31 offset) in one pass, for r >= that value; returns the digit
// count of t and updates rn. b * q + carry stays below 2^63.
std::size_t SubtractMultipleShifted(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb,
                                    std::uint64_t q, std::size_t offset, Digit* t) {
    Digit* target = r + offset;
    const std::size_t length = rn - offset;
    std::uint64_t carry = 0;
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < nb; ++i) {
        const std::uint64_t v = U(b[i]) * q + carry;
        t[i] = static_cast<Digit>(v & kDigitMask);
        carry = v >> kDigitBits;
        const std::uint64_t w = U(target[i]) + kBase - U(t[i]) - borrow;
        target[i] = static_cast<Digit>(w & kDigitMask);
        borrow = 1 - (w >> kDigitBits);
    }
    t[nb] = static_cast<Digit>(carry);
    for (std::size_t i = nb; i < length; ++i) {
        const std::uint64_t w = U(target[i]) + kBase - (i == nb ? carry : 0) - borrow;
        target[i] = static_cast<Digit>(w & kDigitMask);
        borrow = 1 - (w >> kDigitBits);
    }
    rn = SignificantCount(r, rn);
    return carry != 0 ? nb + 1 : nb;
}

} // namespace

// D = b * 2^(31 offset) is the shifted divisor; the quotient digit at `offset` collects the estimates.
// An estimate q divides the top one or two digits of r by the top digit of D plus one, so q * D <= r;
// since r < D * 2^31 whenever D moves down a place, q < 2^31 and every quotient digit stays below 2^31.
void DivideDigits(Digit* r, std::size_t& rn, const Digit* b, std::size_t nb, Digit* q, Digit* scratch) {
    if (CompareDigits(r, rn, b, nb) < 0)
        return;
    std::size_t offset = rn - nb;
    const std::uint64_t divisor = U(b[nb - 1]) + 1;
    // While r >= b: subtract estimates of D = b * 2^(31 offset) while r >= D, then move D down a place.
    for (;;) {
        while (CompareShifted(r, rn, b, nb, offset) >= 0) {
            const std::uint64_t top = U(r[rn - 1]);
            // One digit over one fits 32 bits, where division is cheaper.
            const std::uint64_t estimate =
                rn > nb + offset ? ((top << kDigitBits) | U(r[rn - 2])) / divisor
                                 : static_cast<std::uint32_t>(top) / static_cast<std::uint32_t>(divisor);
            if (estimate != 0) {
                // T = estimate * D is subtracted, and once more while r >= T.
                const std::size_t tn = SubtractMultipleShifted(r, rn, b, nb, estimate, offset, scratch);
                std::uint64_t taken = estimate;
                if (CompareShifted(r, rn, scratch, tn, offset) >= 0) {
                    SubtractShifted(r, rn, scratch, tn, offset);
                    taken += estimate;
                }
                if (q != nullptr)
                    q[offset] += static_cast<Digit>(taken);
            } else {
                SubtractShifted(r, rn, b, nb, offset);
                if (q != nullptr)
                    q[offset] += 1;
            }
        }
        // r < D now, so r has no more digits than D. With D = b the division is done; otherwise D moves
        // down a place and the loop goes on while r >= b.
        if (offset == 0)
            return;
        --offset;
        if (CompareDigits(r, rn, b, nb) < 0)
            return;
    }
}

} // namespace bigint

} // namespace zarn
