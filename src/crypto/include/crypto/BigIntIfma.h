// Almost Montgomery multiplication on 52-bit limbs, eight limbs to a vector, written once over the lane
// operations: BigIntIfma.cpp runs it on AVX-512 IFMA (vpmadd52luq / vpmadd52huq), the engine on
// TPortableLanes for the tests and the IfmaPortable form. Before the engine uses the IFMA build it checks
// it once against the word engine (LimbProductAgrees).
//
// A number of k limbs is k words holding 52 bits each, least significant first, zero up to a whole number
// of vectors. With R' = 2^(52 k) and 4N <= R', the product of two numbers below 2N comes out below 2N
// again, so no step needs a final subtraction.
//
// The bound. Each of the k steps adds to every lane of the accumulator at most four terms below 2^52 (the
// low and high halves of a_j b_i and of N_j y), and lane 0 also takes the carry of the limb it drops,
// below 2^12. A lane moves down one place per step and is never emptied before it leaves, so after k
// steps it holds at most 4 k (2^52 - 1) + 2^12, which stays below 2^64 for k <= 1023 limbs. With
// 4N <= R' that is N below 2^(52 * 1023 - 2): kIfmaMaxBits below. No Ifma form runs above it.
#pragma once

#include "crypto/BigInt.h"

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <utility>

namespace zarn::bigint {

inline constexpr int kLimbBits = 52;
inline constexpr std::uint64_t kLimbMask = (std::uint64_t{1} << kLimbBits) - 1;
inline constexpr std::size_t kLanes = 8;
inline constexpr std::size_t kIfmaMaxLimbs = 1023;
inline constexpr std::size_t kIfmaMaxVectors = (kIfmaMaxLimbs + kLanes - 1) / kLanes;
static_assert(detail::kIfmaMaxBits + 2 == kLimbBits * kIfmaMaxLimbs, "the bound above");

// The limbs for a modulus of `bits` bits: 4N <= 2^(52 k).
inline std::size_t LimbsFor(std::size_t bits) {
    return (bits + 2 + kLimbBits - 1) / kLimbBits;
}

__extension__ typedef unsigned __int128 TLaneProduct;

struct TIfmaModulus {
    const std::uint64_t* N; // k limbs
    std::uint64_t Inverse;  // -N^(-1) mod 2^52
    std::size_t Limbs;      // k
    std::size_t Vectors;    // ceil(k / 8)
};

// r = a b / R' mod N, below 2N, for a, b below 2N; r may be a or b. Fixed is the vector count the product
// is compiled for (the accumulator then lives in registers), or 0 for any count up to kIfmaMaxVectors.
//
// Step i adds a b_i + N y to the accumulator, with y chosen so that limb 0 becomes a multiple of 2^52, and
// drops limb 0: the low halves of the products go to the limb they belong to, the high halves one limb
// up, which after the shift is the limb of the same index. Limb 0 is also kept in a scalar (z0): the next
// y is computed from it without waiting for the vectors, which only have to supply lane 1 as it stood
// before the step.
template <class TLanes, std::size_t Fixed>
inline void AlmostMontgomeryProduct(const std::uint64_t* a, const std::uint64_t* b, const TIfmaModulus& m,
                                    std::uint64_t* r) {
    using V = typename TLanes::Vector;
    const std::size_t vectors = Fixed != 0 ? Fixed : m.Vectors;
    V z[Fixed != 0 ? Fixed : kIfmaMaxVectors];
    const auto A = [a](std::size_t v) { return TLanes::Load(a + kLanes * v); };
    const auto N = [&m](std::size_t v) { return TLanes::Load(m.N + kLanes * v); };
#pragma GCC unroll 16
    for (std::size_t v = 0; v < vectors; ++v)
        z[v] = TLanes::Zero();
    const std::uint64_t a0 = a[0], a1 = a[1], n0 = m.N[0], n1 = m.N[1];
    std::uint64_t z0 = 0;
    for (std::size_t i = 0; i < m.Limbs; ++i) {
        const std::uint64_t bi = b[i];
        const std::uint64_t z1 = TLanes::Lane1(z[0]);
        const TLaneProduct ab = static_cast<TLaneProduct>(a0) * bi;
        const std::uint64_t t = z0 + (static_cast<std::uint64_t>(ab) & kLimbMask);
        const std::uint64_t y = (t * m.Inverse) & kLimbMask;
        const TLaneProduct ny = static_cast<TLaneProduct>(n0) * y;
        // t + (N_0 y mod 2^52) is a multiple of 2^52: the low half adds one unit to t's top when t's low
        // 52 bits are not zero, so the carry does not wait for the product.
        const std::uint64_t carry = (t >> kLimbBits) + ((t & kLimbMask) != 0 ? 1 : 0);
        z0 = z1 + ((a1 * bi) & kLimbMask) + ((n1 * y) & kLimbMask) +
             static_cast<std::uint64_t>(ab >> kLimbBits) + static_cast<std::uint64_t>(ny >> kLimbBits) +
             carry;
        const V bv = TLanes::Broadcast(bi);
        const V yv = TLanes::Broadcast(y);
        // The products are summed apart from the accumulator, so that each step's vectors wait on y only
        // for one multiplication and on the step before only for the additions and the shift.
        V low[Fixed != 0 ? Fixed : kIfmaMaxVectors];
#pragma GCC unroll 16
        for (std::size_t v = 0; v < vectors; ++v)
            low[v] =
                TLanes::Add(z[v], TLanes::MulLowAdd(TLanes::MulLowAdd(TLanes::Zero(), A(v), bv), N(v), yv));
#pragma GCC unroll 16
        for (std::size_t v = 0; v < vectors; ++v) {
            const V high = TLanes::MulHighAdd(TLanes::MulHighAdd(TLanes::Zero(), A(v), bv), N(v), yv);
            z[v] =
                TLanes::Add(TLanes::ShiftDown(low[v], v + 1 < vectors ? low[v + 1] : TLanes::Zero()), high);
        }
    }
    // Lane 0 of the vectors lacks the carries, which z0 has. The value is below 2N < 2^(52 k): its carries
    // end inside limb k - 1.
#pragma GCC unroll 16
    for (std::size_t v = 0; v < vectors; ++v)
        TLanes::Store(r + kLanes * v, z[v]);
    r[0] = z0;
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < m.Limbs; ++j) {
        const std::uint64_t limb = r[j] + carry;
        r[j] = limb & kLimbMask;
        carry = limb >> kLimbBits;
    }
    for (std::size_t j = m.Limbs; j < kLanes * vectors; ++j)
        r[j] = 0;
}

// The lane operations in plain code: what the IFMA instructions do, lane by lane.
struct TPortableLanes {
    struct Vector {
        std::uint64_t Lane[kLanes];
    };
    static Vector Zero() { return Vector{}; }
    static Vector Load(const std::uint64_t* p) {
        Vector v;
        for (std::size_t l = 0; l < kLanes; ++l)
            v.Lane[l] = p[l];
        return v;
    }
    static void Store(std::uint64_t* p, const Vector& v) {
        for (std::size_t l = 0; l < kLanes; ++l)
            p[l] = v.Lane[l];
    }
    static Vector Broadcast(std::uint64_t x) {
        Vector v;
        for (std::uint64_t& lane : v.Lane)
            lane = x;
        return v;
    }
    // acc + bits 0 .. 51 (MulLowAdd) or 52 .. 103 (MulHighAdd) of the product of the low 52 bits of a and b.
    static Vector MulLowAdd(Vector acc, const Vector& a, const Vector& b) {
        for (std::size_t l = 0; l < kLanes; ++l)
            acc.Lane[l] += ((a.Lane[l] & kLimbMask) * (b.Lane[l] & kLimbMask)) & kLimbMask;
        return acc;
    }
    static Vector MulHighAdd(Vector acc, const Vector& a, const Vector& b) {
        for (std::size_t l = 0; l < kLanes; ++l) {
            const TLaneProduct product =
                static_cast<TLaneProduct>(a.Lane[l] & kLimbMask) * (b.Lane[l] & kLimbMask);
            acc.Lane[l] += static_cast<std::uint64_t>(product >> kLimbBits);
        }
        return acc;
    }
    // Lanes 1 .. 7 of v into 0 .. 6, lane 0 of above into 7.
    static Vector ShiftDown(const Vector& v, const Vector& above) {
        Vector r;
        for (std::size_t l = 0; l + 1 < kLanes; ++l)
            r.Lane[l] = v.Lane[l + 1];
        r.Lane[kLanes - 1] = above.Lane[0];
        return r;
    }
    static Vector Add(Vector a, const Vector& b) {
        for (std::size_t l = 0; l < kLanes; ++l)
            a.Lane[l] += b.Lane[l];
        return a;
    }
    static std::uint64_t Lane1(const Vector& v) { return v.Lane[1]; }
};

// An almost Montgomery product for one vector count.
using TLimbProduct = void (*)(const std::uint64_t* a, const std::uint64_t* b, const TIfmaModulus& m,
                              std::uint64_t* r);

// The products of one kind of lanes: the one for `vectors` vectors.
using TLimbProducts = TLimbProduct (*)(std::size_t vectors);

// Vector counts up to kIfmaFixedVectors (moduli up to 4158 bits) have a product of their own.
inline constexpr std::size_t kIfmaFixedVectors = 10;

template <class TLanes, std::size_t... Counts>
TLimbProduct LimbProductAmong(std::size_t vectors, std::index_sequence<Counts...>) {
    TLimbProduct found = AlmostMontgomeryProduct<TLanes, 0>;
    ((vectors == Counts + 1 ? (found = AlmostMontgomeryProduct<TLanes, Counts + 1>, 0) : 0), ...);
    return found;
}

template <class TLanes>
TLimbProduct LimbProductFor(std::size_t vectors) {
    return LimbProductAmong<TLanes>(vectors, std::make_index_sequence<kIfmaFixedVectors>());
}

// The same on AVX-512 IFMA, in BigIntIfma.cpp; only to be called when the processor has IFMA. Null where
// the build has no IFMA.
TLimbProducts IfmaLimbProducts();

// True when short exponentiations through `products` give the word engine's results at the limb counts
// that end and begin a vector, for every vector count with a product of its own and the first without,
// and at sizes of 52 j - 2, 52 j - 1 and 52 j bits, where the limb count changes (BigIntFormChoice.cpp).
bool LimbProductAgrees(TLimbProducts products);

// The default form for each size: WordsUnrolled, or Ifma from kIfmaMinBits to kIfmaMaxBits bits where
// IFMA is usable and faster than the words. Whether IFMA is usable (the processor has it and its products
// pass LimbProductAgrees) is asked once, when the first size in that range is met; which is faster, once
// per word count. Both answers are kept. Safe to call from several threads.
class TFormChooser {
public:
    using TUsable = std::function<bool()>;
    // True when the limb products beat the word products for a modulus of `bits` bits.
    using TFaster = std::function<bool(std::size_t bits)>;
    TFormChooser(TUsable ifmaUsable, TFaster ifmaFaster);

    detail::TPowerModForm FormFor(std::size_t bits);
    bool IfmaUsable();

private:
    enum : std::uint8_t { kUnknown, kWords, kIfma };
    // The answer kept in `answer`, asked once (true: IFMA).
    bool Known(std::atomic<std::uint8_t>& answer, const std::function<bool()>& ask);
    std::mutex m_lock;
    TUsable m_ifmaUsable;
    TFaster m_ifmaFaster;
    std::atomic<std::uint8_t> m_usable{kUnknown};
    std::array<std::atomic<std::uint8_t>, (detail::kIfmaMaxBits + 63) / 64 + 1> m_byWords{};
};

} // namespace zarn::bigint
