// RSA key-pair generation: time per run at L = 64, 128 and 254 bytes, ours next to the same algorithm
// written on GMP in this file (trial division by the same table, 4 Miller-Rabin rounds with bases
// drawn the same way, the same digit-growing and byte-growing loops, the same exponent search), and
// the longest time between two event pumps during a generation.
//
// Both sides take their candidate material from the same deterministic source, seeded per run, so
// they search the same primes and do the same work; each run of the baseline checks that it ends
// with the modulus ours found for that seed.
//
//   KeyGenRun_L<L>/ours, /baseline    one run each iteration (the host asks to stop after it), L = 64,
//                                     128 and 254
//   PumpGap_L128/...                  a whole generation (runs until a valid one, at most 50)
//   PumpGap_L256/...                  one run
//   TrialDivision_512/...             the trial division of 256 random odd 512-bit numbers
//   MillerRabin4_512/...              4 Miller-Rabin rounds on a 512-bit prime
// After the usual ratio table (wall-clock time) a second one compares CPU time, which other work
// on a shared machine disturbs less. The generation cases report max_gap_ms, the longest wall-clock
// time without a pump (the stretches from the start to the first pump and from the last pump to the
// end included), max_gap_cpu_ms, the longest such stretch in the thread's CPU time (what the
// computation itself takes, without the time other processes had the processor), the status text
// under which the longest gap began, and the number of pumps.
#include "bench/RatioReporter.h"
#include "crypto/BigInt.h"
#include "crypto/BigIntPrimality.h"
#include "crypto/RandomGenerator.h"
#include "crypto/RsaKeyGeneration.h"
#include "encoding/STRStringUnit.h"
#include "encoding/UTHHexUtilities.h"
#include "tests/support/Gmp.h"

#include <gmp.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using zarn::TCandidateSource;
using TClock = std::chrono::steady_clock;

// Uniform values below n from a 64-bit Mersenne Twister with a fixed seed.
class TSeededSource : public TCandidateSource {
public:
    explicit TSeededSource(std::uint64_t seed) : m_generator(seed) {}
    std::uint32_t Below(std::uint32_t n) override {
        return static_cast<std::uint32_t>(
            std::uniform_int_distribution<std::uint64_t>(0, n - 1)(m_generator));
    }

private:
    std::mt19937_64 m_generator;
};

// CPU time of the calling thread, in milliseconds.
double ThreadCpuMs() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double WallMs() {
    return std::chrono::duration<double, std::milli>(TClock::now().time_since_epoch()).count();
}

// Keeps the last run's modulus, measures the gaps between pumps (wall-clock time and the thread's
// CPU time), remembers the status text under which the longest wall-clock gap began, and asks to stop
// after `stopAfterRuns` runs (0: never).
class TBenchHost : public zarn::TKeyGenHost {
public:
    explicit TBenchHost(int stopAfterRuns)
        : m_stopAfterRuns(stopAfterRuns), m_lastWall(WallMs()), m_lastCpu(ThreadCpuMs()) {}

    void SetStatusText(const std::string& text) override { m_status = text; }
    void SetRunsText(const std::string&) override { ++m_runs; }
    void RepaintNow() override {}
    void ShowRunResult(const std::string&, const std::string& modulusHex, const std::string&) override {
        Modulus = modulusHex;
    }
    void ProcessPendingEvents() override { Pump(); }
    bool IsStopRequested() override { return m_stopAfterRuns != 0 && m_runs >= m_stopAfterRuns; }

    void Pump() {
        const double wall = WallMs();
        const double cpu = ThreadCpuMs();
        if (wall - m_lastWall > MaxGapWallMs) {
            MaxGapWallMs = wall - m_lastWall;
            MaxGapStatus = m_statusAtLastPump;
        }
        MaxGapCpuMs = std::max(MaxGapCpuMs, cpu - m_lastCpu);
        m_lastWall = wall;
        m_lastCpu = cpu;
        m_statusAtLastPump = m_status;
        ++Pumps;
    }

    std::string Modulus;
    double MaxGapWallMs = 0;
    double MaxGapCpuMs = 0;
    std::string MaxGapStatus;
    std::int64_t Pumps = 0;

private:
    int m_stopAfterRuns;
    int m_runs = 0;
    double m_lastWall;
    double m_lastCpu;
    std::string m_status = "start";
    std::string m_statusAtLastPump = "start";
};

// ---- The same algorithm on GMP ----

using zarn::test::TGmp;

// Function forms of GMP's macros, which need a plain pointer.
bool IsEven(mpz_srcptr value) {
    return mpz_even_p(value);
}
bool IsOne(mpz_srcptr value) {
    return mpz_cmp_ui(value, 1) == 0;
}

bool GmpTrialDivision(mpz_srcptr n) {
    if (IsEven(n))
        return false;
    for (const std::int32_t prime : zarn::SmallPrimes)
        if (mpz_fdiv_ui(n, static_cast<unsigned long>(prime)) == 0)
            return false;
    return true;
}

bool GmpRoundPasses(unsigned long base, mpz_srcptr n, mpz_srcptr n1, mpz_srcptr m, long s) {
    TGmp y;
    TGmp b;
    mpz_set_ui(b, base);
    mpz_powm(y, b, m, n);
    if (IsOne(y) || mpz_cmp(y, n1) == 0)
        return true;
    for (long i = 1; i < s; ++i) {
        mpz_mul(y, y, y);
        mpz_mod(y, y, n);
        if (mpz_cmp(y, n1) == 0)
            return true;
        if (IsOne(y))
            return false;
    }
    return false;
}

bool GmpMillerRabin(mpz_srcptr n, int rounds) {
    zarn::SeedRandomFromClock();
    TGmp n1;
    TGmp m;
    mpz_sub_ui(n1, n, 1);
    mpz_set(m, n1);
    long s = 0;
    while (IsEven(m)) {
        ++s;
        mpz_fdiv_q_2exp(m, m, 1);
    }
    zarn::SeedRandomFromClock();
    for (int j = 0; j < rounds; ++j) {
        const unsigned long base = static_cast<unsigned long>(zarn::SmallPrimes[zarn::RandomBelow(1227)]);
        if (!GmpRoundPasses(base, n, n1, m, s))
            return false;
    }
    return true;
}

void GmpNextPrime(mpz_ptr n, const std::function<void()>& pump) {
    if (IsEven(n))
        mpz_add_ui(n, n, 1);
    bool found = false;
    while (!found) {
        mpz_add_ui(n, n, 2);
        found = GmpTrialDivision(n) && GmpMillerRabin(n, 4);
        pump();
    }
}

std::string GmpHex(mpz_srcptr value) {
    std::string bytes((mpz_sizeinbase(value, 2) + 7) / 8, '\0');
    std::size_t count = 0;
    mpz_export(bytes.data(), &count, 1, 1, 1, 0, value);
    bytes.resize(count);
    return zarn::RemoveBlanks(zarn::BytesToHex(bytes));
}

// One run of the generation: returns the modulus text.
std::string GmpRun(std::int32_t L, TCandidateSource& candidates, TBenchHost& host) {
    const std::function<void()> pump = [&host] { host.Pump(); };
    const std::int64_t tp = L / 2;
    const std::int64_t tq = L / 2 - 1;
    TGmp p, q, n, phi, pMinus1, qMinus1, e, g, d;

    std::string digits;
    for (std::int64_t k = 0; k < tp - 1; ++k)
        digits += static_cast<char>('0' + candidates.Below(9));
    do {
        digits += static_cast<char>('0' + candidates.Below(9));
        mpz_set_str(p, digits.c_str(), 10);
        GmpNextPrime(p, pump);
    } while (static_cast<std::int64_t>(mpz_sizeinbase(p, 2)) < 8 * tp);

    std::string bytes;
    for (std::int64_t k = 0; k < tq - 1; ++k)
        bytes += static_cast<char>(candidates.Below(255));
    do {
        bytes += static_cast<char>(candidates.Below(255));
        mpz_import(q, bytes.size(), 1, 1, 1, 0, bytes.data());
        GmpNextPrime(q, pump);
        pump();
    } while (static_cast<std::int64_t>(mpz_sizeinbase(q, 2)) < 8 * tq);

    mpz_mul(n, p, q);
    mpz_sub_ui(pMinus1, p, 1);
    mpz_sub_ui(qMinus1, q, 1);
    mpz_mul(phi, pMinus1, qMinus1);
    mpz_set_ui(e, 65537);
    mpz_gcd(g, phi, e);
    while (!IsOne(g)) {
        mpz_add_ui(e, e, 2);
        mpz_gcd(g, phi, e);
        pump();
    }
    mpz_invert(d, e, phi);
    const std::string modulusHex = GmpHex(n);
    host.ShowRunResult(GmpHex(e), modulusHex, GmpHex(d));
    return modulusHex;
}

// Runs until a valid modulus, a stop request or 50 runs, as GenerateRsaKeyPair does.
void GmpGenerate(std::int32_t L, TCandidateSource& candidates, TBenchHost& host) {
    zarn::SeedRandomFromClock();
    for (int r = 1;; ++r) {
        host.SetRunsText("");
        const std::string modulusHex = GmpRun(L, candidates, host);
        const bool valid =
            static_cast<std::int64_t>(modulusHex.size() / 2) == L && zarn::HexHasHighBit(modulusHex);
        if (valid || r >= zarn::MaxRuns || host.IsStopRequested())
            return;
    }
}

// ---- The cases ----

// The modulus each side ended with, by case and seed, so that the baseline can check it did the same work.
std::map<std::pair<std::string, std::uint64_t>, std::string> g_moduli;

void CheckSameWork(benchmark::State& state, const std::string& name, std::uint64_t seed,
                   const std::string& modulus, bool ours) {
    auto& stored = g_moduli[{name, seed}];
    if (ours)
        stored = modulus;
    else if (!stored.empty() && stored != modulus)
        state.SkipWithError(("the baseline found another modulus for seed " + std::to_string(seed)).c_str());
}

void Generate(benchmark::State& state, const std::string& name, std::int32_t L, int stopAfterRuns,
              bool ours) {
    std::uint64_t seed = 1;
    double maxGapWallMs = 0;
    double maxGapCpuMs = 0;
    std::string maxGapStatus;
    std::int64_t pumps = 0;
    for (auto _ : state) {
        TSeededSource candidates(seed);
        TBenchHost host(stopAfterRuns);
        if (ours)
            zarn::GenerateRsaKeyPair(L, host, candidates);
        else
            GmpGenerate(L, candidates, host);
        host.Pump(); // the stretch from the last pump to the end
        if (host.MaxGapWallMs > maxGapWallMs) {
            maxGapWallMs = host.MaxGapWallMs;
            maxGapStatus = host.MaxGapStatus;
        }
        maxGapCpuMs = std::max(maxGapCpuMs, host.MaxGapCpuMs);
        pumps += host.Pumps;
        CheckSameWork(state, name, seed, host.Modulus, ours);
        ++seed;
    }
    state.counters["max_gap_ms"] = maxGapWallMs;
    state.counters["max_gap_cpu_ms"] = maxGapCpuMs;
    state.counters["pumps"] = static_cast<double>(pumps) / static_cast<double>(state.iterations());
    state.SetLabel("longest gap after \"" + maxGapStatus + "\"");
}

void Register(const std::string& name, std::int32_t L, int stopAfterRuns, int iterations) {
    for (const bool ours : {true, false}) {
        benchmark::RegisterBenchmark((name + (ours ? "/ours" : "/baseline")).c_str(), Generate, name, L,
                                     stopAfterRuns, ours)
            ->Iterations(iterations)
            ->Unit(benchmark::kMillisecond);
    }
}

// ---- The two parts of a prime test, alone ----

std::string DecimalOf(mpz_srcptr value) {
    std::string text(mpz_sizeinbase(value, 10) + 2, '\0');
    mpz_get_str(text.data(), 10, value);
    text.resize(std::char_traits<char>::length(text.c_str()));
    return text;
}

// Random odd 512-bit numbers, and a 512-bit prime, as decimal texts.
std::vector<std::string> OddNumbers(int count) {
    gmp_randstate_t state;
    gmp_randinit_mt(state);
    gmp_randseed_ui(state, 512);
    std::vector<std::string> numbers;
    TGmp n;
    for (int k = 0; k < count; ++k) {
        mpz_urandomb(n, state, 512);
        mpz_setbit(n, 511);
        mpz_setbit(n, 0);
        numbers.push_back(DecimalOf(n));
    }
    gmp_randclear(state);
    return numbers;
}

std::string Prime512() {
    TGmp n;
    mpz_ui_pow_ui(n, 2, 511);
    mpz_add_ui(n, n, 0x1234567);
    mpz_nextprime(n, n);
    return DecimalOf(n);
}

void TrialDivision(benchmark::State& state, bool ours) {
    const std::vector<std::string> texts = OddNumbers(256);
    std::vector<zarn::TBigInt> numbers(texts.size());
    std::vector<TGmp> gmpNumbers(texts.size());
    for (std::size_t k = 0; k < texts.size(); ++k) {
        zarn::BigIntFromDecimal(texts[k], numbers[k]);
        mpz_set_str(gmpNumbers[k], texts[k].c_str(), 10);
    }
    int passed = 0;
    for (auto _ : state) {
        passed = 0;
        for (std::size_t k = 0; k < texts.size(); ++k)
            passed += ours ? zarn::BigIntTrialDivision(numbers[k]) : GmpTrialDivision(gmpNumbers[k]);
        benchmark::DoNotOptimize(passed);
    }
    state.counters["passed"] = passed;
}

void MillerRabin(benchmark::State& state, bool ours) {
    zarn::TBigInt prime;
    zarn::BigIntFromDecimal(Prime512(), prime);
    TGmp gmpPrime;
    mpz_set_str(gmpPrime, Prime512().c_str(), 10);
    for (auto _ : state) {
        const bool passes = ours ? zarn::BigIntMillerRabin(prime, 4) : GmpMillerRabin(gmpPrime, 4);
        benchmark::DoNotOptimize(passes);
    }
}

// The ratio reporter, plus a second table of CPU-time ratios.
class TCpuRatioReporter : public zarn::bench::TRatioReporter {
public:
    void ReportRuns(const std::vector<Run>& reports) override {
        TRatioReporter::ReportRuns(reports);
        for (const Run& run : reports) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred)
                continue;
            const std::string name = run.benchmark_name();
            const double cpu = run.GetAdjustedCPUTime() / benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [suffix, target] : {std::pair{std::string("/ours"), &m_ours},
                                                 std::pair{std::string("/baseline"), &m_baseline}}) {
                const std::size_t at = name.find(suffix);
                if (at != std::string::npos)
                    (*target)[name.substr(0, at) + name.substr(at + suffix.size())] = cpu;
            }
        }
    }
    void Finalize() override {
        TRatioReporter::Finalize();
        std::printf("\n%-48s %14s %14s %10s\n", "case (CPU time)", "ours (s)", "baseline (s)", "ours/base");
        for (const auto& [name, ours] : m_ours) {
            const auto baseline = m_baseline.find(name);
            if (baseline != m_baseline.end())
                std::printf("%-48s %14.6f %14.6f %10.2f\n", name.c_str(), ours, baseline->second,
                            ours / baseline->second);
        }
    }

private:
    std::map<std::string, double> m_ours;     // case name -> CPU seconds per iteration
    std::map<std::string, double> m_baseline; // case name -> CPU seconds per iteration
};

} // namespace

int main(int argc, char** argv) {
    Register("KeyGenRun_L64", 64, 1, 12);
    Register("KeyGenRun_L128", 128, 1, 6);
    Register("KeyGenRun_L254", 254, 1, 3);
    Register("PumpGap_L128", 128, 0, 1);
    Register("PumpGap_L256", 256, 1, 1);
    for (const bool ours : {true, false}) {
        const std::string side = ours ? "/ours" : "/baseline";
        benchmark::RegisterBenchmark(("TrialDivision_512" + side).c_str(), TrialDivision, ours)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("MillerRabin4_512" + side).c_str(), MillerRabin, ours)
            ->Unit(benchmark::kMicrosecond);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TCpuRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
