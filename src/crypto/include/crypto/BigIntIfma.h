// Almost Montgomery multiplication on 52-bit limbs, eight limbs to a vector, written once over the lane
// operations: BigIntIfma.cpp runs it on AVX-512 IFMA (vpmadd52luq / vpmadd52huq), the engine on
// TPortableLanes for the tests and the IfmaPortable form. Before the engine uses the IFMA build it checks
// it once against the word engine (LimbProductAgrees).
//
// A number of k limbs is k words holding 52 bits each, least significant first, zero up to a whole number
// of vectors. With R' = 2^(52 k) and 4N <= R', the product of two numbers below 2N comes out below 2N
// again, so no step needs a final subtraction. Every lane of the accumulator takes at most four 52-bit
// terms per step, and k steps stay far below 2^64 for any size the library meets.
#pragma once

#include "crypto/BigInt.h"

#include <cstddef>
#include <cstdint>

namespace zarn::bigint {

inline constexpr int kLimbBits = 52;
inline constexpr std::uint64_t kLimbMask = (std::uint64_t{1} << kLimbBits) - 1;
inline constexpr std::size_t kLanes = 8;

__extension__ typedef unsigned __int128 TLaneProduct;

struct TIfmaModulus {
    const std::uint64_t* N; // k limbs
    std::uint64_t Inverse;  // -N^(-1) mod 2^52
    std::size_t Limbs;      // k
    std::size_t Vectors;    // ceil(k / 8)
    std::uint64_t* Scratch; // the accumulator: Vectors * 8 words
};

// r = a b / R' mod N, below 2N, for a, b below 2N; r may be a or b.
template <class TLanes>
inline void AlmostMontgomeryProduct(const std::uint64_t* a, const std::uint64_t* b, const TIfmaModulus& m,
                                    std::uint64_t* r) {
    using V = typename TLanes::Vector;
    std::uint64_t* z = m.Scratch;
    const std::size_t vectors = m.Vectors;
    for (std::size_t v = 0; v < vectors; ++v)
        TLanes::Store(z + kLanes * v, TLanes::Zero());
    for (std::size_t i = 0; i < m.Limbs; ++i) {
        const V bi = TLanes::Broadcast(b[i]);
        // The low halves go to the limb they belong to; y makes limb 0 a multiple of 2^52.
        V low = TLanes::MulLowAdd(TLanes::Load(z), TLanes::Load(a), bi);
        const std::uint64_t y = (TLanes::Lane0(low) * m.Inverse) & kLimbMask;
        const V yv = TLanes::Broadcast(y);
        for (std::size_t v = 0; v < vectors; ++v) {
            if (v > 0)
                low = TLanes::MulLowAdd(TLanes::Load(z + kLanes * v), TLanes::Load(a + kLanes * v), bi);
            TLanes::Store(z + kLanes * v, TLanes::MulLowAdd(low, TLanes::Load(m.N + kLanes * v), yv));
        }
        // Dropping limb 0 divides by 2^52; its carry and the high halves land one limb up, which after the
        // shift is the limb of the same index.
        const std::uint64_t carry = z[0] >> kLimbBits;
        for (std::size_t v = 0; v < vectors; ++v) {
            const V above = v + 1 < vectors ? TLanes::Load(z + kLanes * (v + 1)) : TLanes::Zero();
            V shifted = TLanes::ShiftDown(TLanes::Load(z + kLanes * v), above);
            shifted = TLanes::MulHighAdd(shifted, TLanes::Load(a + kLanes * v), bi);
            shifted = TLanes::MulHighAdd(shifted, TLanes::Load(m.N + kLanes * v), yv);
            if (v == 0)
                shifted = TLanes::AddLane0(shifted, carry);
            TLanes::Store(z + kLanes * v, shifted);
        }
    }
    // The value is below 2N < 2^(52 k): its carries end inside limb k - 1.
    std::uint64_t carry = 0;
    for (std::size_t j = 0; j < m.Limbs; ++j) {
        const std::uint64_t limb = z[j] + carry;
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
    static std::uint64_t Lane0(const Vector& v) { return v.Lane[0]; }
    static Vector AddLane0(Vector v, std::uint64_t x) {
        v.Lane[0] += x;
        return v;
    }
};

// The same on AVX-512 IFMA, in BigIntIfma.cpp; only to be called when the processor has IFMA.
void IfmaAlmostMontgomeryProduct(const std::uint64_t* a, const std::uint64_t* b, const TIfmaModulus& m,
                                 std::uint64_t* r);

// An almost Montgomery product: IfmaAlmostMontgomeryProduct or AlmostMontgomeryProduct on some lanes.
using TLimbProduct = void (*)(const std::uint64_t* a, const std::uint64_t* b, const TIfmaModulus& m,
                              std::uint64_t* r);

// True when exponentiations through `product` give the word engine's results: a few fixed ones with
// full-size exponents and moduli from 768 to 4158 bits, at the limb and vector boundaries.
bool LimbProductAgrees(TLimbProduct product);

// The default form: Ifma when the processor has IFMA (ifmaFound) and `product` passes LimbProductAgrees,
// else WordsUnrolled. BigIntPowerMod decides so once, with the IFMA build, at its first call.
detail::TPowerModForm ChooseBestForm(bool ifmaFound, TLimbProduct product);

} // namespace zarn::bigint
