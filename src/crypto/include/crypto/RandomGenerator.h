// The program's one pseudo-random generator, and the random source for prime candidates.
//
// The pseudo-random generator is a process-wide 32-bit linear congruential generator with state x.
// RandomBelow(N) sets x = (x * 134775813 + 1) mod 2^32 and returns the upper 32 bits of the 64-bit
// product N * x. It is not a cryptographic generator: the primality test draws its bases from it, and
// key generation seeds it, but no key material comes from it. Everything runs on one thread; the state
// is not locked.
#pragma once

#include <cstdint>
#include <vector>

namespace zarn {

// Advances the state and returns a value from 0 to N - 1 (0 for N = 0).
std::uint32_t RandomBelow(std::uint32_t N);

// Sets the state to the low 32 bits of the high-resolution counter (see SetRandomSeedSource).
void SeedRandomFromClock();

// The state, and setting it: for tests and for reproducing a sequence.
std::uint32_t RandomState();
void SetRandomState(std::uint32_t x);

// Makes SeedRandomFromClock take its seeds from `source` instead of the clock, so that tests can fix
// the seeds the primality test takes; nullptr restores the clock.
using TRandomSeedSource = std::uint32_t (*)();
void SetRandomSeedSource(TRandomSeedSource source);

// Where the random material of prime candidates comes from: uniformly distributed values below n.
class TCandidateSource {
public:
    virtual ~TCandidateSource() = default;
    // A value from 0 to n - 1, for 1 <= n.
    virtual std::uint32_t Below(std::uint32_t n) = 0;
};

// Candidate material from the operating system's cryptographic random source (getrandom). A failure
// of that source raises Exception.
class TSystemCandidateSource : public TCandidateSource {
public:
    TSystemCandidateSource();
    ~TSystemCandidateSource() override;
    TSystemCandidateSource(const TSystemCandidateSource&) = delete;
    TSystemCandidateSource& operator=(const TSystemCandidateSource&) = delete;

    std::uint32_t Below(std::uint32_t n) override;

private:
    std::uint32_t NextWord();

    std::vector<std::uint8_t> m_buffer; // random bytes not yet used, consumed from the back
};

} // namespace zarn
