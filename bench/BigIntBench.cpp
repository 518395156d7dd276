// The big integers next to GMP, each case measured in the same run: multiplication and squaring at 512
// and 1024 bits, division of 1024 by 512 bits, the remainder by a small prime at 512 bits, and the
// modular exponentiation with full-size exponents at 256 to 2048 bits in the best form the processor
// offers and in each other form of the engine (the generic word loop, the unrolled word loops, IFMA). The
// exponentiation cases count the memory allocations per call, which must not grow with the exponent.
//
// Times are the thread's CPU time per operation, taken over batches of operations (a fixed number of
// batches per case), so that time spent waiting for a processor shared with other work counts for
// neither side.
#include "bench/RatioReporter.h"
#include "crypto/BigInt.h"

#include <gmp.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <new>
#include <string>
#include <utility>
#include <vector>

// GCC takes the counting operator new below for a mismatch with free().
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

std::atomic<long> g_allocations{0};

} // namespace

void* operator new(std::size_t size) {
    g_allocations.fetch_add(1, std::memory_order_relaxed);
    if (void* block = std::malloc(size == 0 ? 1 : size))
        return block;
    throw std::bad_alloc();
}

void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}

namespace {

using zarn::TBigInt;
using zarn::detail::TPowerModForm;

double ThreadSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Runs `operation` in batches of `batch` and reports the CPU time per operation.
template <typename Operation>
void Measure(benchmark::State& state, int batch, Operation operation) {
    for (auto _ : state) {
        const double start = ThreadSeconds();
        for (int i = 0; i < batch; ++i)
            operation();
        state.SetIterationTime((ThreadSeconds() - start) / batch);
    }
}

// A GMP value and the same value as a TBigInt.
struct TOperand {
    TOperand() { mpz_init(gmp); }
    ~TOperand() { mpz_clear(gmp); }
    TOperand(const TOperand&) = delete;
    TOperand& operator=(const TOperand&) = delete;
    mpz_t gmp;
    TBigInt ours;
};

// The same seed gives ours and the baseline the same operands.
class TOperands {
public:
    explicit TOperands(unsigned long seed) {
        gmp_randinit_mt(m_state);
        gmp_randseed_ui(m_state, seed);
    }
    ~TOperands() { gmp_randclear(m_state); }
    TOperands(const TOperands&) = delete;
    TOperands& operator=(const TOperands&) = delete;

    // A random value of exactly `bits` bits, odd when asked.
    void Make(TOperand& operand, unsigned long bits, bool odd = false) {
        mpz_urandomb(operand.gmp, m_state, bits);
        mpz_setbit(operand.gmp, bits - 1);
        if (odd)
            mpz_setbit(operand.gmp, 0);
        std::vector<char> text(mpz_sizeinbase(operand.gmp, 10) + 2);
        mpz_get_str(text.data(), 10, operand.gmp);
        zarn::BigIntFromDecimal(text.data(), operand.ours);
    }

private:
    gmp_randstate_t m_state;
};

// An mpz result that is cleared at the end of the case.
struct TResult {
    TResult() { mpz_init(value); }
    ~TResult() { mpz_clear(value); }
    mpz_t value;
};

void Multiply(benchmark::State& state, unsigned long bits, bool ours) {
    TOperands operands(bits);
    TOperand a, b;
    operands.Make(a, bits);
    operands.Make(b, bits);
    TBigInt r;
    TResult result;
    Measure(state, 1000, [&] {
        if (ours)
            zarn::BigIntMultiply(a.ours, b.ours, r);
        else
            mpz_mul(result.value, a.gmp, b.gmp);
        benchmark::ClobberMemory();
    });
}

void Square(benchmark::State& state, unsigned long bits, bool ours) {
    TOperands operands(bits);
    TOperand a;
    operands.Make(a, bits);
    TBigInt r;
    TResult result;
    Measure(state, 1000, [&] {
        if (ours)
            zarn::BigIntSquare(a.ours, r);
        else
            mpz_mul(result.value, a.gmp, a.gmp);
        benchmark::ClobberMemory();
    });
}

void DivMod(benchmark::State& state, bool ours) {
    TOperands operands(1024);
    TOperand a, b;
    operands.Make(a, 1024);
    operands.Make(b, 512);
    TBigInt q, r;
    TResult quotient, remainder;
    Measure(state, 100, [&] {
        if (ours)
            zarn::BigIntDivMod(a.ours, b.ours, q, r);
        else
            mpz_fdiv_qr(quotient.value, remainder.value, a.gmp, b.gmp);
        benchmark::ClobberMemory();
    });
}

void ModSmall(benchmark::State& state, bool ours) {
    TOperands operands(512);
    TOperand a;
    operands.Make(a, 512);
    std::int64_t sum = 0;
    Measure(state, 1000, [&] {
        if (ours)
            sum += zarn::BigIntModSmall(a.ours, 9973);
        else
            sum += static_cast<std::int64_t>(mpz_fdiv_ui(a.gmp, 9973));
        benchmark::DoNotOptimize(sum);
    });
}

// The operands of an exponentiation at a size, the same for every form: an odd modulus, a base one bit
// shorter and a full-size exponent.
struct TPowerOperands {
    explicit TPowerOperands(unsigned long bits) : Operands(bits) {
        Operands.Make(Modulus, bits, true);
        Operands.Make(Base, bits - 1);
        Operands.Make(Exponent, bits);
    }
    TOperands Operands;
    TOperand Base, Exponent, Modulus;
};

void PowerMod(benchmark::State& state, unsigned long bits, bool ours) {
    const TPowerOperands operands(bits);
    const TOperand &base = operands.Base, &exponent = operands.Exponent, &modulus = operands.Modulus;
    TBigInt p;
    TResult result;
    long allocations = 0;
    long calls = 0;
    // The first call at a size may check and measure the forms; that is not the exponentiation's time.
    if (ours)
        zarn::BigIntPowerMod(base.ours, exponent.ours, modulus.ours, p);
    Measure(state, bits <= 512 ? 10 : 1, [&] {
        const long before = g_allocations.load(std::memory_order_relaxed);
        if (ours)
            zarn::BigIntPowerMod(base.ours, exponent.ours, modulus.ours, p);
        else
            mpz_powm(result.value, base.gmp, exponent.gmp, modulus.gmp);
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        ++calls;
        benchmark::ClobberMemory();
    });
    if (ours)
        state.counters["allocs/call"] = static_cast<double>(allocations) / static_cast<double>(calls);
}

void PowerModIn(benchmark::State& state, unsigned long bits, TPowerModForm form) {
    if (!zarn::detail::PowerModFormAvailable(form)) {
        state.SkipWithError("not offered by this processor");
        return;
    }
    const TPowerOperands operands(bits);
    const TOperand &base = operands.Base, &exponent = operands.Exponent, &modulus = operands.Modulus;
    TBigInt p;
    Measure(state, bits <= 512 ? 10 : 1, [&] {
        zarn::detail::PowerModWith(form, base.ours, exponent.ours, modulus.ours, p);
        benchmark::ClobberMemory();
    });
}

// Each case runs `batches` batches on both sides.
void Register(const std::string& name, void (*run)(benchmark::State&, bool), long batches) {
    benchmark::RegisterBenchmark((name + "/ours").c_str(), run, true)->UseManualTime()->Iterations(batches);
    benchmark::RegisterBenchmark((name + "/baseline").c_str(), run, false)
        ->UseManualTime()
        ->Iterations(batches);
}

void Register(const std::string& name, void (*run)(benchmark::State&, unsigned long, bool),
              unsigned long bits, long batches) {
    benchmark::RegisterBenchmark((name + "/ours").c_str(), run, bits, true)
        ->UseManualTime()
        ->Iterations(batches);
    benchmark::RegisterBenchmark((name + "/baseline").c_str(), run, bits, false)
        ->UseManualTime()
        ->Iterations(batches);
}

void RegisterWithForm(unsigned long bits, TPowerModForm form, long batches) {
    const std::string prefix =
        "PowerMod_" + std::to_string(bits) + "_" + zarn::detail::PowerModFormName(form);
    benchmark::RegisterBenchmark((prefix + "/ours").c_str(), PowerModIn, bits, form)
        ->UseManualTime()
        ->Iterations(batches);
    benchmark::RegisterBenchmark((prefix + "/baseline").c_str(), PowerMod, bits, false)
        ->UseManualTime()
        ->Iterations(batches);
}

const TPowerModForm kEngineForms[] = {TPowerModForm::Words, TPowerModForm::WordsUnrolled,
                                      TPowerModForm::Ifma};

// At each size: the default form against each form of the engine and GMP, one call of each in turn per
// round, so that all see the same state of the machine; the best call of each is compared.
void CompareDefaultWithForms(const std::vector<unsigned long>& sizes) {
    std::printf("\nBest of interleaved calls, as ratios to GMP:\n%-6s %-14s %6s %-14s %6s %16s\n", "bits",
                "default form", "/GMP", "fastest form", "/GMP", "default/fastest");
    for (const unsigned long bits : sizes) {
        const TPowerOperands operands(bits);
        const TOperand &base = operands.Base, &exponent = operands.Exponent, &modulus = operands.Modulus;
        TBigInt p;
        TResult result;
        const TPowerModForm chosen = zarn::detail::DefaultPowerModForm(bits);
        zarn::BigIntPowerMod(base.ours, exponent.ours, modulus.ours, p);
        std::vector<std::function<void()>> calls = {
            [&] { mpz_powm(result.value, base.gmp, exponent.gmp, modulus.gmp); },
            [&] { zarn::BigIntPowerMod(base.ours, exponent.ours, modulus.ours, p); }};
        std::vector<TPowerModForm> forms;
        for (const TPowerModForm form : kEngineForms) {
            if (!zarn::detail::PowerModFormAvailable(form))
                continue;
            forms.push_back(form);
            calls.push_back(
                [&, form] { zarn::detail::PowerModWith(form, base.ours, exponent.ours, modulus.ours, p); });
        }
        std::vector<double> best(calls.size(), 1e300);
        const int rounds = static_cast<int>(std::max(5ul, 40'000'000ul / (bits * bits)));
        for (int round = 0; round < rounds; ++round) {
            for (std::size_t i = 0; i < calls.size(); ++i) {
                const double start = ThreadSeconds();
                calls[i]();
                best[i] = std::min(best[i], ThreadSeconds() - start);
            }
        }
        std::size_t fastest = 2;
        for (std::size_t i = 2; i < calls.size(); ++i) {
            if (best[i] < best[fastest])
                fastest = i;
        }
        std::printf("%-6lu %-14s %6.2f %-14s %6.2f %16.3f\n", bits, zarn::detail::PowerModFormName(chosen),
                    best[1] / best[0], zarn::detail::PowerModFormName(forms[fastest - 2]),
                    best[fastest] / best[0], best[1] / best[fastest]);
    }
    // The form can change where the IFMA range or a word count begins.
    std::printf("\nDefault form by modulus size (measured once per word count):\n");
    std::vector<std::size_t> starts = {2, zarn::detail::kIfmaMinBits};
    for (std::size_t bits = zarn::detail::kIfmaMinBits / 64 * 64 + 65; bits <= 4160; bits += 64)
        starts.push_back(bits);
    TPowerModForm last = TPowerModForm::Reference;
    for (const std::size_t from : starts) {
        const TPowerModForm form = zarn::detail::DefaultPowerModForm(from);
        if (form != last)
            std::printf("  from %5zu bits: %s\n", from, zarn::detail::PowerModFormName(form));
        last = form;
    }
}

} // namespace

int main(int argc, char** argv) {
    for (const unsigned long bits : {512ul, 1024ul}) {
        Register("Multiply_" + std::to_string(bits), Multiply, bits, 300);
        Register("Square_" + std::to_string(bits), Square, bits, 300);
    }
    Register("DivMod_1024_by_512", DivMod, 300);
    Register("ModSmall_512_by_9973", ModSmall, 300);
    // The exponentiation in its default form and in each form of the engine, at each size. Batches of 10
    // calls up to 512 bits, single calls above.
    const std::pair<unsigned long, long> sizes[] = {{256, 300},  {512, 100}, {768, 300}, {1024, 200},
                                                    {1088, 150}, {1536, 60}, {2048, 30}, {4096, 8}};
    std::vector<unsigned long> bitsList;
    for (const auto& [bits, batches] : sizes) {
        Register("PowerMod_" + std::to_string(bits), PowerMod, bits, batches);
        for (const TPowerModForm form : kEngineForms)
            RegisterWithForm(bits, form, batches);
        bitsList.push_back(bits);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    zarn::bench::TRatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    CompareDefaultWithForms(bitsList);
    return 0;
}
