#include "crypto/RandomGenerator.h"

#include "platform/Clock.h"
#include "platform/Errors.h"

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/random.h>

namespace zarn {

namespace {

std::uint32_t g_state = 0;
TRandomSeedSource g_seedSource = nullptr;

const char* const kSourceName = "Common\\RandomGenerator";
constexpr std::size_t kRefill = 256;

} // namespace

std::uint32_t RandomBelow(std::uint32_t N) {
    g_state = g_state * 134775813u + 1u; // unsigned: wraps modulo 2^32
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(N) * g_state) >> 32);
}

void SeedRandomFromClock() {
    // The high-resolution counter always exists here, so the tick count is never needed as a fallback.
    g_state = g_seedSource != nullptr ? g_seedSource() : HighResolutionCounterLow32();
}

std::uint32_t RandomState() {
    return g_state;
}

void SetRandomState(std::uint32_t x) {
    g_state = x;
}

void SetRandomSeedSource(TRandomSeedSource source) {
    g_seedSource = source;
}

TSystemCandidateSource::TSystemCandidateSource() = default;

TSystemCandidateSource::~TSystemCandidateSource() {
    // The unused bytes could be candidate material of a later call; do not leave them in freed memory
    // (explicit_bzero is not removed as a dead store).
    if (!m_buffer.empty())
        explicit_bzero(m_buffer.data(), m_buffer.size());
}

std::uint32_t TSystemCandidateSource::NextWord() {
    if (m_buffer.size() < 4) {
        m_buffer.assign(kRefill, 0);
        std::size_t filled = 0;
        while (filled < m_buffer.size()) {
            const ssize_t got = getrandom(m_buffer.data() + filled, m_buffer.size() - filled, 0);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                throw Exception(std::string("The system's random source failed: ") + std::strerror(errno));
            }
            filled += static_cast<std::size_t>(got);
        }
    }
    std::uint32_t word = 0;
    for (int k = 0; k < 4; ++k) {
        word = (word << 8) | m_buffer.back();
        m_buffer.back() = 0;
        m_buffer.pop_back();
    }
    return word;
}

std::uint32_t TSystemCandidateSource::Below(std::uint32_t n) {
    ZARN_ASSERT(n >= 1, "TSystemCandidateSource::Below: n must be at least 1.", kSourceName);
    // Words from the top partial block of 2^32 mod n values would favour the small results: draw again.
    const std::uint32_t limit = static_cast<std::uint32_t>(0x100000000ULL - 0x100000000ULL % n);
    std::uint32_t word = NextWord();
    while (limit != 0 && word >= limit)
        word = NextWord();
    return word % n;
}

} // namespace zarn
