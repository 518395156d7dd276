// The raw digit kernels: products and squares by columns, the same on digit pairs for long operands,
// addition, subtraction, comparison and the long division on bare digit arrays.
#include "crypto/BigInt.h"
#include "crypto/BigIntInternal.h"

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

namespace {

// A pair holds two digits in one 64-bit word, d_(2m) + d_(2m+1) 2^31: 62 bits, one shift and one OR from
// the digits and back. A product of pairs is below 2^124, so up to eight of them, a pair of the result
// and the carry from below (under 2^66) add up in 128 bits without a further carry word.
using Pair = std::uint64_t;
constexpr int kPairBits = 2 * kDigitBits;
constexpr Pair kPairMask = (Pair{1} << kPairBits) - 1;

// r[0 .. na + W) = r[0 .. na) + a b[0 .. W), column by column: column c sums a[c - t] b[t] for t < W (for
// the cross products of a square, a[i + 1 ..] against a[i ..], only t <= c / 2, so that each comes once),
// r[c] and the carry. Between the first and the last columns every column has all W products with the W
// pairs of b in registers. Needs na >= 2W - 2 (square) or W - 1.
template <std::size_t W, bool Square>
void AddStrip(const Pair* a, std::size_t na, const Pair* b, Pair* r) {
    constexpr std::size_t head = Square ? 2 * W - 2 : W - 1;
    UInt128 carry = 0;
    const auto finish = [&](UInt128 sum, std::size_t c) {
        sum += carry;
        r[c] = static_cast<Pair>(sum) & kPairMask;
        carry = sum >> kPairBits;
    };
#pragma GCC unroll 16
    for (std::size_t c = 0; c < head; ++c) {
        UInt128 sum = r[c];
#pragma GCC unroll 8
        for (std::size_t t = 0; t < W; ++t) {
            if (t <= (Square ? c / 2 : c))
                sum += static_cast<UInt128>(a[c - t]) * b[t];
        }
        finish(sum, c);
    }
    Pair factors[W];
#pragma GCC unroll 8
    for (std::size_t t = 0; t < W; ++t)
        factors[t] = b[t];
    for (std::size_t c = head; c < na; ++c) {
        UInt128 sum = 0;
#pragma GCC unroll 8
        for (std::size_t t = 0; t < W; ++t)
            sum += static_cast<UInt128>(a[c - t]) * factors[t];
        finish(sum + r[c], c);
    }
#pragma GCC unroll 8
    for (std::size_t e = 1; e < W; ++e) {
        UInt128 sum = 0;
#pragma GCC unroll 8
        for (std::size_t t = e; t < W; ++t)
            sum += static_cast<UInt128>(a[na - 1 + e - t]) * factors[t];
        finish(sum, na - 1 + e);
    }
    r[na + W - 1] = static_cast<Pair>(carry);
}

// Strips of kStrip pairs of b at a time, then of half as many, and so on down to one.
constexpr std::size_t kStrip = 8;

template <bool Square, std::size_t W = kStrip>
void AddStrips(const Pair* a, std::size_t n, const Pair* b, std::size_t nb, Pair* r, std::size_t& i) {
    if constexpr (Square) {
        for (; i + std::max<std::size_t>(2 * W - 1, 2) <= n; i += W)
            AddStrip<W, true>(a + i + 1, n - i - 1, a + i, r + 2 * i + 1);
    } else {
        for (; i + W <= nb; i += W)
            AddStrip<W, false>(a, n, b + i, r + i);
    }
    if constexpr (W > 1)
        AddStrips<Square, W / 2>(a, n, b, nb, r, i);
}

// r[0 .. na + nb) = a b for na >= nb >= 1.
void MultiplyPairs(const Pair* a, std::size_t na, const Pair* b, std::size_t nb, Pair* r) {
    std::fill(r, r + na, 0);
    std::size_t i = 0;
    AddStrips<false>(a, na, b, nb, r, i);
}

// Below this many pairs a square is a product: the strips' first columns cost more than the cross
// products save.
constexpr std::size_t kSquareStripPairs = 8;

// r[0 .. 2n) = a^2: the cross products a_i a_j, i < j, in strips of rows (a strip of W rows from row i
// takes a[i + 1 ..] against a[i .. i + W)), then doubled, with the squares a_i^2 added.
void SquarePairs(const Pair* a, std::size_t n, Pair* r) {
    std::fill(r, r + 2 * n, 0);
    std::size_t i = 0;
    AddStrips<true>(a, n, nullptr, 0, r, i);
    // Twice a pair, a square and the carry (under 2^63) fit 128 bits.
    UInt128 carry = 0;
    for (std::size_t k = 0; k < 2 * n; ++k) {
        UInt128 sum = static_cast<UInt128>(r[k] << 1) + carry;
        if (k % 2 == 0)
            sum += static_cast<UInt128>(a[k / 2]) * a[k / 2];
        r[k] = static_cast<Pair>(sum) & kPairMask;
        carry = sum >> kPairBits;
    }
}

void ToPairs(const Digit* d, std::size_t n, Pair* p) {
    for (std::size_t m = 0; m < n / 2; ++m)
        p[m] = U(d[2 * m]) | (U(d[2 * m + 1]) << kDigitBits);
    if (n % 2 != 0)
        p[n / 2] = U(d[n - 1]);
}

// The first n digits of the pairs p.
void FromPairs(const Pair* p, std::size_t n, Digit* d) {
    for (std::size_t m = 0; m < n / 2; ++m) {
        d[2 * m] = static_cast<Digit>(p[m] & kDigitMask);
        d[2 * m + 1] = static_cast<Digit>(p[m] >> kDigitBits);
    }
    if (n % 2 != 0)
        d[n - 1] = static_cast<Digit>(p[n / 2] & kDigitMask);
}

} // namespace

void MultiplyThroughPairs(const Digit* a, std::size_t na, const Digit* b, std::size_t nb, Digit* r) {
    thread_local std::vector<Pair> pairs;
    const std::size_t pa = (na + 1) / 2, pb = b == nullptr ? pa : (nb + 1) / 2;
    if (pairs.size() < 2 * (pa + pb))
        pairs.resize(2 * (pa + pb));
    Pair* x = pairs.data();
    Pair* y = x + pa;
    Pair* product = y + pb;
    ToPairs(a, na, x);
    if (b == nullptr && pa >= kSquareStripPairs) {
        SquarePairs(x, pa, product);
    } else {
        if (b != nullptr)
            ToPairs(b, nb, y);
        else
            y = x;
        if (pa >= pb)
            MultiplyPairs(x, pa, y, pb, product);
        else
            MultiplyPairs(y, pb, x, pa, product);
    }
    FromPairs(product, b == nullptr ? 2 * na : na + nb, r);
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
