// Which form of the exponentiation runs by default: the check that the IFMA products give the words'
// results, and the measurement of which of the two is faster at a size, each made once and only when a
// size where IFMA could be chosen is met.
#include "BigIntInternal.h"
#include "BigIntWords.h"
#include "Processor.h"
#include "crypto/BigInt.h"
#include "crypto/BigIntIfma.h"
#include "platform/Errors.h"

#include <algorithm>
#include <vector>

namespace zarn {

namespace bigint {

namespace {

// Operands from a fixed seed (splitmix64).
class TDraws {
public:
    // A number of exactly `bits` bits whose top `ones` bits are all set.
    void Draw(std::size_t bits, std::size_t ones, TBigInt& x) {
        std::vector<Word> words(WordsFor(bits));
        for (Word& word : words)
            word = Next();
        for (std::size_t i = bits; i < kWordBits * words.size(); ++i)
            words[i / kWordBits] &= ~(Word{1} << (i % kWordBits));
        for (std::size_t i = bits - std::min(bits, ones); i < bits; ++i)
            words[i / kWordBits] |= Word{1} << (i % kWordBits);
        FromWords(words.data(), words.size(), x);
    }
    // An odd modulus of `bits` bits, as above.
    void DrawModulus(std::size_t bits, std::size_t ones, TBigInt& N) {
        Draw(bits, ones, N);
        N.Digits[1] |= 1;
    }

private:
    Word Next() {
        m_state += 0x9E3779B97F4A7C15;
        Word z = m_state;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EB;
        return z ^ (z >> 31);
    }
    Word m_state = 0x5EED;
};

// A size the check covers, and whether its modulus has its top 24 bits set (where a product that drops a
// limb or a carry overflows soonest) or only its top bit.
struct TCheckedSize {
    std::size_t Bits;
    std::size_t TopOnes;
};

// Around every vector count up to the first one without a product of its own: the last limb count of
// the count (416 v - 2 bits) and the first of the next (416 v - 1). Up to five vectors (2080 bits, the
// sizes in common use) also both limb boundaries four limbs into the count, with both kinds of modulus:
// 52 j - 2 (the last size of j limbs), 52 j - 1 and 52 j (the first sizes of j + 1 limbs, whose top limb
// only makes room for 4N).
std::vector<TCheckedSize> CheckedSizes() {
    std::vector<TCheckedSize> sizes;
    const std::size_t vectorBits = kLanes * kLimbBits;
    for (std::size_t v = 1; v <= kIfmaFixedVectors + 1; ++v) {
        sizes.push_back({vectorBits * v - 2, 24});
        sizes.push_back({vectorBits * v - 1, 24});
        if (v > 5)
            continue;
        const std::size_t inside = vectorBits * v - 4 * kLimbBits;
        for (const std::size_t bits : {inside - 2, inside - 1, inside}) {
            for (const std::size_t ones : {24, 1})
                sizes.push_back({bits, ones});
        }
    }
    return sizes;
}

} // namespace

// Exponents of 12 bits give each size some twenty products after the set-up.
bool LimbProductAgrees(TLimbProducts products) {
    TDraws draws;
    const TEngineKernels words = KernelsOf(detail::TPowerModForm::WordsUnrolled);
    const TEngineKernels limbs{words.Words, products};
    for (const TCheckedSize& size : CheckedSizes()) {
        TBigInt N, base, E, expected, actual;
        draws.DrawModulus(size.Bits, size.TopOnes, N);
        draws.Draw(size.Bits - 1, size.TopOnes, base);
        draws.Draw(12, 1, E);
        EnginePower(base, E, N, words, expected);
        EnginePower(base, E, N, limbs, actual);
        if (actual.Digits != expected.Digits)
            return false;
    }
    return true;
}

TFormChooser::TFormChooser(TUsable ifmaUsable, TFaster ifmaFaster)
    : m_ifmaUsable(std::move(ifmaUsable)), m_ifmaFaster(std::move(ifmaFaster)) {}

bool TFormChooser::Known(std::atomic<std::uint8_t>& answer, const std::function<bool()>& ask) {
    if (answer.load(std::memory_order_acquire) == kUnknown) {
        const std::lock_guard<std::mutex> hold(m_lock);
        if (answer.load(std::memory_order_relaxed) == kUnknown)
            answer.store(ask() ? kIfma : kWords, std::memory_order_release);
    }
    return answer.load(std::memory_order_acquire) == kIfma;
}

bool TFormChooser::IfmaUsable() {
    return Known(m_usable, m_ifmaUsable);
}

detail::TPowerModForm TFormChooser::FormFor(std::size_t bits) {
    if (bits < detail::kIfmaMinBits || bits > detail::kIfmaMaxBits || !IfmaUsable())
        return detail::TPowerModForm::WordsUnrolled;
    return Known(m_byWords[WordsFor(bits)], [this, bits] { return m_ifmaFaster(bits); })
               ? detail::TPowerModForm::Ifma
               : detail::TPowerModForm::WordsUnrolled;
}

namespace {

// Sixteen squarings with each kind of product, the best of five alternating rounds, on a modulus of the
// size with its top bits set.
bool IfmaFasterAt(std::size_t bits) {
    TDraws draws;
    TBigInt N;
    draws.DrawModulus(bits, 24, N);
    const TEngineKernels words = KernelsOf(detail::TPowerModForm::WordsUnrolled);
    const TEngineKernels limbs = KernelsOf(detail::TPowerModForm::Ifma);
    double wordSeconds = 1e9, limbSeconds = 1e9;
    for (int round = 0; round < 5; ++round) {
        wordSeconds = std::min(wordSeconds, SquaringSeconds(N, words, 16));
        limbSeconds = std::min(limbSeconds, SquaringSeconds(N, limbs, 16));
    }
    return limbSeconds < wordSeconds;
}

bool IfmaPassesItsCheck() {
    return processor::Features().Ifma && IfmaLimbProducts() != nullptr &&
           LimbProductAgrees(IfmaLimbProducts());
}

TFormChooser& Chooser() {
    static TFormChooser chooser(IfmaPassesItsCheck, IfmaFasterAt);
    return chooser;
}

} // namespace

} // namespace bigint

namespace detail {

const char* PowerModFormName(TPowerModForm form) {
    switch (form) {
    case TPowerModForm::Reference:
        return "Reference";
    case TPowerModForm::Words:
        return "Words";
    case TPowerModForm::WordsUnrolled:
        return "WordsUnrolled";
    case TPowerModForm::Ifma:
        return "Ifma";
    case TPowerModForm::IfmaPortable:
        return "IfmaPortable";
    }
    return "?";
}

bool PowerModFormAvailable(TPowerModForm form) {
    return form != TPowerModForm::Ifma || bigint::Chooser().IfmaUsable();
}

TPowerModForm DefaultPowerModForm(std::size_t bits) {
    return bigint::Chooser().FormFor(bits);
}

} // namespace detail

} // namespace zarn
