#include "crypto/RsaKeyGeneration.h"
#include "crypto/RandomGenerator.h"
#include "platform/Errors.h"
#include "tests/crypto/GmpOracle.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <random>
#include <set>

namespace zarn {
namespace {

using test::TGmp;
using test::bigint::RecordOf;
using test::bigint::ValueOf;

// Digits (bound 9) and bytes (bound 255) from their own scripts first, then from a seeded generator.
// Records the bounds asked for.
class TScriptedSource : public TCandidateSource {
public:
    explicit TScriptedSource(std::uint64_t seed, std::vector<std::uint32_t> digits = {},
                             std::vector<std::uint32_t> bytes = {})
        : m_generator(seed) {
        m_scripts[9] = std::move(digits);
        m_scripts[255] = std::move(bytes);
    }

    std::uint32_t Below(std::uint32_t n) override {
        Bounds.insert(n);
        std::vector<std::uint32_t>& script = m_scripts[n];
        std::size_t& next = m_next[n];
        if (next < script.size())
            return script[next++];
        return static_cast<std::uint32_t>(
            std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_generator));
    }

    std::set<std::uint32_t> Bounds;

private:
    std::mt19937_64 m_generator;
    std::map<std::uint32_t, std::vector<std::uint32_t>> m_scripts;
    std::map<std::uint32_t, std::size_t> m_next;
};

struct TShownRun {
    std::string E, N, D;
};

// When the host's stop flag is set: after `shown` runs have been shown, or at the first pump.
struct TStopPolicy {
    std::size_t AfterShownRuns = 0; // 0: never
    bool AtFirstPump = false;
};

// Records every call in order; consecutive pumps are counted in one entry.
class TRecordingHost : public TKeyGenHost {
public:
    explicit TRecordingHost(TStopPolicy policy = {}) : m_policy(policy) {}

    void SetStatusText(const std::string& Text) override { Log.push_back("status:" + Text); }
    void SetRunsText(const std::string& Text) override { Log.push_back("runs:" + Text); }
    void RepaintNow() override { Log.push_back("repaint"); }
    void ShowRunResult(const std::string& ExponentHex, const std::string& ModulusHex,
                       const std::string& PrivateExponentHex) override {
        Log.push_back("show:" + ExponentHex + "|" + ModulusHex + "|" + PrivateExponentHex);
        Shown.push_back({ExponentHex, ModulusHex, PrivateExponentHex});
    }
    void ProcessPendingEvents() override {
        if (!Log.empty() && Log.back().rfind("pump x", 0) == 0)
            Log.back() = "pump x" + std::to_string(std::stoll(Log.back().substr(6)) + 1);
        else
            Log.push_back("pump x1");
        m_pumped = true;
    }
    bool IsStopRequested() override {
        Log.push_back("stop?");
        return (m_policy.AtFirstPump && m_pumped) ||
               (m_policy.AfterShownRuns != 0 && Shown.size() >= m_policy.AfterShownRuns);
    }

    std::vector<std::string> Log;
    std::vector<TShownRun> Shown;

private:
    TStopPolicy m_policy;
    bool m_pumped = false;
};

// ---- The generation replayed on GMP ----

std::string HexText(const TGmp& value) {
    std::string hex = value.Hex();
    if (hex.size() % 2 != 0)
        hex.insert(0, "0");
    return hex;
}

struct TOracleRun {
    TGmp P, Q, N, Phi, E, D;
    int PPasses = 0;
};

struct TOracle {
    std::vector<TOracleRun> Runs;
    std::vector<std::string> Log;
    TKeyGenOutcome Outcome = kgMaxRunsReached;
    std::int32_t R = 0;
};

void AddPumps(std::vector<std::string>& log, long count) {
    if (count > 0)
        log.push_back("pump x" + std::to_string(count));
}

// The next probable prime above `start` as the prime search finds it, and the candidates it tests.
TGmp SearchAbove(TGmp start, long& candidates) {
    if (mpz_even_p(start.get()))
        mpz_add_ui(start.get(), start.get(), 1);
    const TGmp prime = test::NextPrimeAbove(start);
    TGmp steps;
    mpz_sub(steps.get(), prime.get(), start.get());
    candidates = static_cast<long>(mpz_get_ui(steps.get()) / 2);
    return prime;
}

TOracleRun ReplayRun(std::int32_t L, TCandidateSource& source, std::vector<std::string>& log) {
    const long tp = L / 2;
    const long tq = L / 2 - 1;
    TOracleRun run;
    long pumps = 0;
    long candidates = 0;
    std::string digits;
    for (long k = 0; k < tp - 1; ++k)
        digits += static_cast<char>('0' + source.Below(9));
    do {
        digits += static_cast<char>('0' + source.Below(9));
        run.P = SearchAbove(TGmp(digits), candidates);
        pumps += candidates;
        ++run.PPasses;
    } while (static_cast<long>(run.P.Bits()) < 8 * tp);
    AddPumps(log, pumps);
    log.insert(log.end(), {"status:prime p found", "repaint"});

    pumps = 0;
    std::string bytes;
    for (long k = 0; k < tq - 1; ++k)
        bytes += static_cast<char>(source.Below(255));
    do {
        bytes += static_cast<char>(source.Below(255));
        TGmp start;
        mpz_import(start.get(), bytes.size(), 1, 1, 1, 0, bytes.data());
        run.Q = SearchAbove(start, candidates);
        pumps += candidates + 1;
    } while (static_cast<long>(run.Q.Bits()) < 8 * tq);
    AddPumps(log, pumps);
    log.insert(log.end(), {"status:prime q found", "repaint", "status:modulus computed", "repaint"});

    mpz_mul(run.N.get(), run.P.get(), run.Q.get());
    TGmp pMinus1, qMinus1, g;
    mpz_sub_ui(pMinus1.get(), run.P.get(), 1);
    mpz_sub_ui(qMinus1.get(), run.Q.get(), 1);
    mpz_mul(run.Phi.get(), pMinus1.get(), qMinus1.get());
    mpz_set_ui(run.E.get(), 65537);
    long steps = 0;
    for (mpz_gcd(g.get(), run.Phi.get(), run.E.get()); mpz_cmp_ui(g.get(), 1) != 0;
         mpz_gcd(g.get(), run.Phi.get(), run.E.get())) {
        mpz_add_ui(run.E.get(), run.E.get(), 2);
        ++steps;
    }
    AddPumps(log, steps);
    mpz_invert(run.D.get(), run.E.get(), run.Phi.get());
    log.insert(log.end(), {"status:secret key computed", "repaint",
                           "show:" + HexText(run.E) + "|" + HexText(run.N) + "|" + HexText(run.D)});
    return run;
}

TOracle Replay(std::int32_t L, TCandidateSource& source, TStopPolicy policy) {
    TOracle oracle;
    bool valid = false;
    std::string previous;
    bool pumped = false;
    const auto stopRequested = [&] {
        oracle.Log.push_back("stop?");
        return (policy.AtFirstPump && pumped) ||
               (policy.AfterShownRuns != 0 && oracle.Runs.size() >= policy.AfterShownRuns);
    };
    for (;;) {
        ++oracle.R;
        std::string runs = "Runs: " + std::to_string(oracle.R);
        if (oracle.R > 1 && !(previous[0] >= '8'))
            runs += " (first bit of modulus is zero)";
        oracle.Log.insert(oracle.Log.end(), {"status:running, please wait ", "runs:" + runs, "repaint"});
        oracle.Runs.push_back(ReplayRun(L, source, oracle.Log));
        pumped = true;
        previous = HexText(oracle.Runs.back().N);
        valid = oracle.Runs.back().N.Bits() == 8 * static_cast<std::size_t>(L);
        if (valid || oracle.R >= MaxRuns || stopRequested())
            break;
    }
    oracle.Outcome = stopRequested() ? kgStopped : valid ? kgValid : kgMaxRunsReached;
    return oracle;
}

// What the generation did, and its replay on the same candidate material.
struct TComparedGeneration {
    TKeyGenResult Result;
    std::vector<TShownRun> Shown;
    TOracle Oracle;
};

// Runs the generation and its replay on the same candidate material and compares everything the
// host saw.
TComparedGeneration GenerateAndCompare(std::int32_t L, std::uint64_t seed, TStopPolicy policy = {},
                                       const std::vector<std::uint32_t>& digits = {},
                                       const std::vector<std::uint32_t>& bytes = {}) {
    SCOPED_TRACE("L = " + std::to_string(L) + ", seed " + std::to_string(seed));
    TScriptedSource ours(seed, digits, bytes);
    TRecordingHost host(policy);
    TComparedGeneration compared;
    compared.Result = GenerateRsaKeyPair(L, host, ours);
    compared.Shown = host.Shown;
    TScriptedSource theirs(seed, digits, bytes);
    compared.Oracle = Replay(L, theirs, policy);
    EXPECT_EQ(host.Log, compared.Oracle.Log);
    EXPECT_EQ(compared.Result.Outcome, compared.Oracle.Outcome);
    EXPECT_EQ(compared.Result.Runs, compared.Oracle.R);
    // The result carries the last run's primes, the replay's.
    if (!compared.Oracle.Runs.empty()) {
        EXPECT_EQ(test::MpzFromHex(compared.Result.PrimePHex), compared.Oracle.Runs.back().P);
        EXPECT_EQ(test::MpzFromHex(compared.Result.PrimeQHex), compared.Oracle.Runs.back().Q);
    }
    EXPECT_EQ(ours.Bounds, (std::set<std::uint32_t>{9, 255}));
    return compared;
}

// On the shown texts, with p and q of the replay: n = p q, gcd(e, phi) = 1, e d = 1 mod phi, and
// m^(e d) = m mod n for random m.
void ExpectRsaKeyPair(const TShownRun& shown, const TOracleRun& run, gmp_randstate_t state) {
    const std::string context = "p = " + run.P.Decimal() + ", q = " + run.Q.Decimal();
    const TGmp n = test::MpzFromHex(shown.N);
    const TGmp e = test::MpzFromHex(shown.E);
    const TGmp d = test::MpzFromHex(shown.D);
    TGmp product, g, ed;
    mpz_mul(product.get(), run.P.get(), run.Q.get());
    EXPECT_EQ(n, product) << context;
    mpz_gcd(g.get(), e.get(), run.Phi.get());
    EXPECT_EQ(mpz_cmp_ui(g.get(), 1), 0) << context;
    mpz_mul(ed.get(), e.get(), d.get());
    mpz_mod(ed.get(), ed.get(), run.Phi.get());
    EXPECT_EQ(mpz_cmp_ui(ed.get(), 1), 0) << context;
    EXPECT_LT(mpz_cmp(d.get(), run.Phi.get()), 0) << context;
    for (int k = 0; k < 5; ++k) {
        TGmp m, c, back;
        mpz_urandomm(m.get(), state, n.get());
        mpz_powm(c.get(), m.get(), e.get(), n.get());
        mpz_powm(back.get(), c.get(), d.get(), n.get());
        EXPECT_EQ(back, m) << context;
    }
}

class KeyGeneration : public ::testing::Test {
protected:
    void SetUp() override {
        gmp_randinit_mt(m_state);
        gmp_randseed_ui(m_state, static_cast<unsigned long>(test::TestSeed()));
    }
    void TearDown() override {
        gmp_randclear(m_state);
        SetRandomSeedSource(nullptr);
    }
    gmp_randstate_t m_state;
};

TEST_F(KeyGeneration, HostSeesEveryStepInOrder) {
    SCOPED_TRACE(test::SeedTrace());
    for (const std::int32_t L : {4, 6, 8, 10, 16})
        for (std::uint64_t seed = 1; seed <= 3; ++seed)
            GenerateAndCompare(L, test::TestSeed() + seed);
}

TEST_F(KeyGeneration, LengthsBelowFourNeverReachTheirSize) {
    // Both searches climb to 10007, the first number the trial division lets through, so n = 10007^2
    // (4 bytes, first byte 05) in every run.
    for (const std::int32_t L : {1, 2, 3}) {
        const TComparedGeneration generation = GenerateAndCompare(L, 5, {.AfterShownRuns = 2});
        EXPECT_EQ(generation.Result.Outcome, kgStopped);
        EXPECT_EQ(generation.Result.Runs, 2);
        for (const TShownRun& shown : generation.Shown)
            EXPECT_EQ(shown.N, "05F80411") << L; // 100140049
        const TOracle& oracle = generation.Oracle;
        for (const TOracleRun& run : oracle.Runs) {
            EXPECT_EQ(run.P.Decimal(), "10007");
            EXPECT_EQ(run.Q.Decimal(), "10007");
        }
        const std::vector<std::string>& log = oracle.Log;
        EXPECT_NE(std::find(log.begin(), log.end(), "runs:Runs: 2 (first bit of modulus is zero)"),
                  log.end());
    }
}

TEST_F(KeyGeneration, OddLengthsRunOutOfRuns) {
    // The primes aim at 8 (L - 1) bits of n in all, so n falls short of 8 L bits.
    const TComparedGeneration generation = GenerateAndCompare(11, 6);
    EXPECT_EQ(generation.Result.Outcome, kgMaxRunsReached);
    EXPECT_EQ(generation.Result.Runs, 50);
    EXPECT_EQ(generation.Shown.size(), 50u);
}

TEST_F(KeyGeneration, LeadingZeroDigitsAndBytesNeedMorePasses) {
    // L = 16: p from 7 + k digits, q from 6 + k bytes. All-zero prefixes leave the values far short.
    const TComparedGeneration generation = GenerateAndCompare(
        16, 7, {.AfterShownRuns = 1}, std::vector<std::uint32_t>(8, 0), std::vector<std::uint32_t>(7, 0));
    ASSERT_EQ(generation.Shown.size(), 1u);
    EXPECT_GT(generation.Oracle.Runs[0].PPasses, 8);
    ExpectRsaKeyPair(generation.Shown[0], generation.Oracle.Runs[0], m_state);
}

TEST_F(KeyGeneration, StopDuringAValidRunEndsStopped) {
    std::uint64_t seed = 100;
    for (;; ++seed) { // the first seed whose first run is valid
        TScriptedSource source(seed);
        if (Replay(16, source, {}).R == 1)
            break;
    }
    const TComparedGeneration generation = GenerateAndCompare(16, seed, {.AtFirstPump = true});
    EXPECT_EQ(generation.Result.Outcome, kgStopped);
    EXPECT_EQ(generation.Result.Runs, 1);
    ASSERT_EQ(generation.Shown.size(), 1u);
    EXPECT_EQ(test::MpzFromHex(generation.Shown[0].N).Bits(), 128u);
}

TEST_F(KeyGeneration, GeneratedPairsAreRsaKeys) {
    SCOPED_TRACE(test::SeedTrace());
    int valid = 0;
    for (const std::int32_t L : {4, 8, 16, 32, 64}) {
        for (std::uint64_t seed = 1; seed <= 2; ++seed) {
            const TComparedGeneration generation = GenerateAndCompare(L, test::TestSeed() * 31 + seed);
            ASSERT_EQ(generation.Shown.size(), generation.Oracle.Runs.size());
            for (std::size_t k = 0; k < generation.Shown.size(); ++k)
                ExpectRsaKeyPair(generation.Shown[k], generation.Oracle.Runs[k], m_state);
            if (generation.Result.Outcome == kgValid) {
                ++valid;
                const std::string& modulus = generation.Shown.back().N;
                EXPECT_EQ(modulus.size(), 2 * static_cast<std::size_t>(L));
                EXPECT_EQ(test::MpzFromHex(modulus).Bits(), 8 * static_cast<std::size_t>(L)) << modulus;
            }
        }
    }
    EXPECT_GE(valid, 8);
}

TEST_F(KeyGeneration, PublicExponentSkipsDivisorsOfPhi) {
    // L = 6: q comes from 3 bytes b1 b2 b3 when b1 b2 gives a prime below 2^15. Pick b1 b2 b3 = q - 2
    // for a prime q = 65537 k + 1, so that 65537 divides phi.
    std::vector<std::uint32_t> bytes;
    for (unsigned long k = 2; bytes.empty(); k += 2) {
        TGmp q(65537 * k + 1);
        const unsigned long start = 65537 * k - 1;
        const std::uint32_t b1 = start >> 16, b2 = (start >> 8) & 0xFF, b3 = start & 0xFF;
        if (mpz_probab_prime_p(q.get(), 30) != 0 && b1 <= 126 && b2 <= 254 && b3 <= 254)
            bytes = {b1, b2, b3};
    }
    const TComparedGeneration generation = GenerateAndCompare(6, 8, {.AfterShownRuns = 1}, {}, bytes);
    ASSERT_EQ(generation.Shown.size(), 1u);
    EXPECT_NE(generation.Shown[0].E, "010001");
    ExpectRsaKeyPair(generation.Shown[0], generation.Oracle.Runs[0], m_state);
}

std::uint32_t ConstantSeed() {
    return 0x5EED5EED;
}

// Candidate material drawn from the program's pseudo-random generator.
class TGeneratorSource : public TCandidateSource {
public:
    std::uint32_t Below(std::uint32_t n) override { return RandomBelow(n); }
};

TEST_F(KeyGeneration, SameGeneratorStateGivesDifferentPrimes) {
    SetRandomSeedSource(ConstantSeed);
    const auto modulus = [](TCandidateSource* source) {
        TRecordingHost host({.AfterShownRuns = 1});
        if (source != nullptr)
            GenerateRsaKeyPair(16, host, *source);
        else
            GenerateRsaKeyPair(16, host);
        return host.Shown.at(0).N;
    };
    // With the key material from the operating system, equal generator states give different keys.
    EXPECT_NE(modulus(nullptr), modulus(nullptr));
    // Drawn from the clock-seeded generator itself, the key would follow from the seed.
    TGeneratorSource first, second;
    EXPECT_EQ(modulus(&first), modulus(&second));
}

TEST_F(KeyGeneration, AGenerationStartedFromThePumpLeavesTheOuterOneIntact) {
    // What a second click on Generate during a generation does in a window.
    class TNestingHost : public TRecordingHost {
    public:
        void ProcessPendingEvents() override {
            TRecordingHost::ProcessPendingEvents();
            if (m_nested)
                return;
            m_nested = true;
            TScriptedSource source(99);
            TRecordingHost inner({.AfterShownRuns = 1});
            InnerResult = GenerateRsaKeyPair(8, inner, source);
            InnerShown = inner.Shown;
        }
        TKeyGenResult InnerResult;
        std::vector<TShownRun> InnerShown;

    private:
        bool m_nested = false;
    } host;
    TScriptedSource source(12);
    const TKeyGenResult result = GenerateRsaKeyPair(16, host, source);
    TScriptedSource again(12);
    const TOracle oracle = Replay(16, again, {});
    EXPECT_EQ(result.Outcome, oracle.Outcome);
    ASSERT_EQ(host.Shown.size(), oracle.Runs.size());
    for (std::size_t k = 0; k < host.Shown.size(); ++k)
        ExpectRsaKeyPair(host.Shown[k], oracle.Runs[k], m_state);
    EXPECT_EQ(host.InnerResult.Runs, 1);
    TScriptedSource innerAgain(99);
    const TOracle innerOracle = Replay(8, innerAgain, {.AfterShownRuns = 1});
    ASSERT_EQ(host.InnerShown.size(), 1u);
    ExpectRsaKeyPair(host.InnerShown[0], innerOracle.Runs[0], m_state);
}

TEST_F(KeyGeneration, RejectsLengthsBelowOneByte) {
    for (const std::int32_t L : {0, -5}) {
        TRecordingHost host;
        TScriptedSource source(1);
        EXPECT_THROW(GenerateRsaKeyPair(L, host, source), EAssertionFailed);
        EXPECT_TRUE(host.Log.empty());
    }
}

TEST_F(KeyGeneration, CandidateSourceErrorsPassThrough) {
    class TFailingSource : public TCandidateSource {
    public:
        std::uint32_t Below(std::uint32_t) override {
            if (++m_draws > 5)
                throw Exception("no more randomness");
            return 4;
        }

    private:
        int m_draws = 0;
    } source;
    TRecordingHost host;
    EXPECT_THROW(GenerateRsaKeyPair(32, host, source), Exception);
}

} // namespace
} // namespace zarn
