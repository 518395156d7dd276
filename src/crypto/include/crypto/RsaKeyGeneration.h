// RSA key-pair generation: a modulus of exactly a requested number of bytes with the top bit of its
// first byte set, the public exponent 65537 (or the first odd number above it coprime to phi), and
// the private exponent, delivered as hexadecimal texts through a host.
//
// The generation works in runs. Each run takes fresh random candidate material, searches a prime p
// above a random decimal text of growing length and a prime q above a random byte string of growing
// length, computes n = p q, phi = (p - 1)(q - 1), e and d = e^(-1) mod phi, and shows e, n and d. A
// run whose n has the wrong bit length is followed by another, up to MaxRuns runs. For a length L the
// primes aim at 8 (L div 2) and 8 (L div 2 - 1) bits; an odd L therefore makes almost every run miss.
//
// Everything runs on the caller's thread. The host's event pump runs after every prime candidate,
// after every pass of q's loop and after every step of the search for e; the stop request is read
// only after a run, so a run always completes. Hex texts are upper case, two digits per byte of the
// shortest big-endian byte string (65537 gives 010001).
#pragma once

#include "crypto/RandomGenerator.h"

#include <cstdint>
#include <string>

namespace zarn {

enum TKeyGenOutcome { kgValid, kgStopped, kgMaxRunsReached };

constexpr std::int32_t MaxRuns = 50;

// What the generation reports to and asks of its caller (the key generation window, the command line).
class TKeyGenHost {
public:
    virtual ~TKeyGenHost() = default;
    // Puts Text into the status line.
    virtual void SetStatusText(const std::string& Text) = 0;
    // Puts Text into the runs line.
    virtual void SetRunsText(const std::string& Text) = 0;
    // Repaints at once, without running other pending events.
    virtual void RepaintNow() = 0;
    // Shows the three hex texts of a finished run.
    virtual void ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                               const std::string& PrivateExponentHex) = 0;
    // Lets pending events run (repaints, a click on Stop). The generation keeps no shared state but
    // the pseudo-random generator, so a generation started from here runs to its end and this one
    // then goes on.
    virtual void ProcessPendingEvents() = 0;
    // True once the user has asked to stop this generation; the caller clears it before generating.
    virtual bool IsStopRequested() = 0;
};

// How a generation ended, how many runs it made (1 .. MaxRuns), and the last run's primes as hex
// texts like the host's (n = p q), for a caller that writes the private key with its CRT values.
struct TKeyGenResult {
    TKeyGenOutcome Outcome = kgMaxRunsReached;
    std::int32_t Runs = 0;
    std::string PrimePHex, PrimeQHex;
};

// Generates a key pair of L bytes (L >= 1; less raises EAssertionFailed), taking the digits and bytes
// of the prime candidates from `Candidates` (Below(9) per digit, so '0' .. '8'; Below(255) per byte,
// so 0 .. 254). Seeds the pseudo-random generator from the clock at the start; the primality test
// reseeds it and draws its bases from it. The outcome: kgStopped when the host asks to stop at the
// end (also after a valid run), else kgValid when the last run was valid, else kgMaxRunsReached.
// Errors of the candidate source or the big-integer layer pass through unchanged.
TKeyGenResult GenerateRsaKeyPair(std::int32_t L, TKeyGenHost& Host, TCandidateSource& Candidates);

// The same with candidate material from the operating system's cryptographic random source.
TKeyGenResult GenerateRsaKeyPair(std::int32_t L, TKeyGenHost& Host);

} // namespace zarn
