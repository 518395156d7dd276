// Long products on pairs of digits: two 31-bit digits in one 64-bit word, so that a product of pairs
// does the work of four digit products.
#include "BigIntInternal.h"
#include "crypto/BigInt.h"

#include <type_traits>
#include <vector>

namespace zarn {

namespace bigint {

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

// The digits d[0 .. n) as pairs p[0 .. (n + 1) / 2), and back: the first n digits of the pairs.
void ToPairs(const Digit* d, std::size_t n, Pair* p) {
    Repack(reinterpret_cast<const std::uint64_t*>(d), n, kDigitBits, p, (n + 1) / 2, kPairBits);
}

void FromPairs(const Pair* p, std::size_t n, Digit* d) {
    Repack(p, (n + 1) / 2, kPairBits, reinterpret_cast<std::uint64_t*>(d), n, kDigitBits);
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

} // namespace bigint

} // namespace zarn
