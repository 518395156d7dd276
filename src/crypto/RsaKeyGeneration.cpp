#include "crypto/RsaKeyGeneration.h"

#include "crypto/BigInt.h"
#include "crypto/BigIntPrimeGeneration.h"
#include "encoding/STRStringUnit.h"
#include "encoding/UTHHexUtilities.h"
#include "platform/Errors.h"

#include <functional>

namespace zarn {

namespace {

const char* const kSourceName = "Common\\RsaKeyGeneration";

std::int64_t BitLength(const TBigInt& A) {
    return static_cast<std::int64_t>(BigIntToBinary(A).size());
}

std::string HexText(const TBigInt& A) {
    return RemoveBlanks(BytesToHex(BigIntToBytes(A)));
}

char RandomDigit(TCandidateSource& Candidates) {
    return static_cast<char>('0' + Candidates.Below(9));
}

char RandomByte(TCandidateSource& Candidates) {
    return static_cast<char>(Candidates.Below(255));
}

std::string RunsText(std::int32_t r, const std::string& previousModulus) {
    std::string text = "Runs: " + std::to_string(r);
    if (r > 1 && !HexHasHighBit(previousModulus))
        text += " (first bit of modulus is zero)";
    return text;
}

// p: a decimal text that grows by one random digit per pass, each pass a full prime search on the
// whole text, until the prime has at least 8 tp bits. Leading '0' digits only make the value shorter.
void SearchPrimeP(std::int64_t tp, TCandidateSource& Candidates, TKeyGenHost& Host, TBigInt& p) {
    const std::function<void()> pump = [&Host] { Host.ProcessPendingEvents(); };
    std::string digits;
    for (std::int64_t k = 0; k < tp - 1; ++k)
        digits += RandomDigit(Candidates);
    do {
        digits += RandomDigit(Candidates);
        BigIntFromDecimal(digits, p);
        BigIntNextPrime(p, pump);
    } while (BitLength(p) < 8 * tp);
}

// q: the same with a big-endian byte string, and the event pump after every pass as well.
void SearchPrimeQ(std::int64_t tq, TCandidateSource& Candidates, TKeyGenHost& Host, TBigInt& q) {
    const std::function<void()> pump = [&Host] { Host.ProcessPendingEvents(); };
    std::string bytes;
    for (std::int64_t k = 0; k < tq - 1; ++k)
        bytes += RandomByte(Candidates);
    do {
        bytes += RandomByte(Candidates);
        BigIntFromBytes(bytes, q);
        BigIntNextPrime(q, pump);
        Host.ProcessPendingEvents();
    } while (BitLength(q) < 8 * tq);
}

// e = 65537, raised by 2 until it is coprime to phi.
void PublicExponent(const TBigInt& phi, TKeyGenHost& Host, TBigInt& e) {
    TBigInt one, two, g, sum;
    BigIntFromDecimal("65537", e);
    BigIntFromDecimal("1", one);
    BigIntFromDecimal("2", two);
    BigIntGcd(phi, e, g);
    while (BigIntCompareAbs(g, one) != boEqual) {
        BigIntAdd(e, two, sum);
        BigIntCopy(sum, e);
        BigIntGcd(phi, e, g);
        Host.ProcessPendingEvents();
    }
}

// phi = (p - 1)(q - 1); both primes are odd.
void Totient(const TBigInt& p, const TBigInt& q, TBigInt& phi) {
    TBigInt one, pMinus1, qMinus1;
    BigIntFromDecimal("1", one);
    BigIntSubtract(p, one, pMinus1);
    BigIntSubtract(q, one, qMinus1);
    BigIntMultiply(pMinus1, qMinus1, phi);
}

// What a run leaves for its caller: the modulus and the primes, as hex texts.
struct TRunTexts {
    std::string Modulus, P, Q;
};

// One complete run: the primes, n, phi, e and d, shown through the host. Every big integer of the run
// is a local of this function and released when it returns.
TRunTexts RunOnce(std::int32_t L, TKeyGenHost& Host, TCandidateSource& Candidates) {
    // The primes' targets in bytes; 64-bit, so that 8 times them cannot overflow.
    const std::int64_t tp = L / 2;
    const std::int64_t tq = L / 2 - 1;
    TBigInt p, q, n, phi, e, d;

    SearchPrimeP(tp, Candidates, Host, p);
    Host.SetStatusText("prime p found");
    Host.RepaintNow();

    SearchPrimeQ(tq, Candidates, Host, q);
    Host.SetStatusText("prime q found");
    Host.RepaintNow();

    BigIntMultiply(p, q, n);
    Host.SetStatusText("modulus computed");
    Host.RepaintNow();

    Totient(p, q, phi);
    PublicExponent(phi, Host, e);
    BigIntModInverse(e, phi, d);
    Host.SetStatusText("secret key computed");
    Host.RepaintNow();

    const std::string modulusHex = HexText(n);
    Host.ShowRunResult(HexText(e), modulusHex, HexText(d));
    return {modulusHex, HexText(p), HexText(q)};
}

// n has exactly 8 L bits: L bytes, the top bit of the first one set.
bool IsValidModulus(const std::string& modulusHex, std::int32_t L) {
    return static_cast<std::int64_t>(modulusHex.size() / 2) == L && HexHasHighBit(modulusHex);
}

} // namespace

TKeyGenResult GenerateRsaKeyPair(std::int32_t L, TKeyGenHost& Host, TCandidateSource& Candidates) {
    ZARN_ASSERT(L >= 1, "GenerateRsaKeyPair: the length must be at least 1 byte.", kSourceName);
    SeedRandomFromClock();
    std::int32_t r = 0;
    std::string previousModulus;
    TRunTexts last;
    bool valid = false;
    for (;;) {
        Host.SetStatusText("running, please wait ");
        ++r;
        Host.SetRunsText(RunsText(r, previousModulus));
        Host.RepaintNow();
        last = RunOnce(L, Host, Candidates);
        previousModulus = last.Modulus;
        valid = IsValidModulus(previousModulus, L);
        if (valid || r >= MaxRuns || Host.IsStopRequested())
            break;
    }
    if (Host.IsStopRequested())
        return {kgStopped, r, last.P, last.Q};
    return {valid ? kgValid : kgMaxRunsReached, r, last.P, last.Q};
}

TKeyGenResult GenerateRsaKeyPair(std::int32_t L, TKeyGenHost& Host) {
    TSystemCandidateSource candidates;
    return GenerateRsaKeyPair(L, Host, candidates);
}

} // namespace zarn
