// The big integers next to GMP, each case measured in the same run: multiplication and squaring at 512
// and 1024 bits, division of 1024 by 512 bits, the remainder by a small prime at 512 bits, and the
// modular exponentiation with full-size exponents at 256 to 2048 bits. The exponentiation cases also
// count the memory allocations per call, which must not grow with the exponent.
#include "bench/RatioReporter.h"
#include "crypto/BigInt.h"

#include <gmp.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <string>
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

// A GMP value and the same value as a TBigInt.
struct TOperand {
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

    // A random value of exactly `bits` bits, odd when asked.
    void Make(TOperand& operand, unsigned long bits, bool odd = false) {
        mpz_init(operand.gmp);
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

void Multiply(benchmark::State& state, unsigned long bits, bool ours) {
    TOperands operands(bits);
    TOperand a, b;
    operands.Make(a, bits);
    operands.Make(b, bits);
    TBigInt r;
    mpz_t result;
    mpz_init(result);
    for (auto _ : state) {
        if (ours)
            zarn::BigIntMultiply(a.ours, b.ours, r);
        else
            mpz_mul(result, a.gmp, b.gmp);
        benchmark::ClobberMemory();
    }
    mpz_clears(result, a.gmp, b.gmp, nullptr);
}

void Square(benchmark::State& state, unsigned long bits, bool ours) {
    TOperands operands(bits);
    TOperand a;
    operands.Make(a, bits);
    TBigInt r;
    mpz_t result;
    mpz_init(result);
    for (auto _ : state) {
        if (ours)
            zarn::BigIntSquare(a.ours, r);
        else
            mpz_mul(result, a.gmp, a.gmp);
        benchmark::ClobberMemory();
    }
    mpz_clears(result, a.gmp, nullptr);
}

void DivMod(benchmark::State& state, bool ours) {
    TOperands operands(1024);
    TOperand a, b;
    operands.Make(a, 1024);
    operands.Make(b, 512);
    TBigInt q, r;
    mpz_t quotient, remainder;
    mpz_inits(quotient, remainder, nullptr);
    for (auto _ : state) {
        if (ours)
            zarn::BigIntDivMod(a.ours, b.ours, q, r);
        else
            mpz_fdiv_qr(quotient, remainder, a.gmp, b.gmp);
        benchmark::ClobberMemory();
    }
    mpz_clears(quotient, remainder, a.gmp, b.gmp, nullptr);
}

void ModSmall(benchmark::State& state, bool ours) {
    TOperands operands(512);
    TOperand a;
    operands.Make(a, 512);
    std::int64_t sum = 0;
    for (auto _ : state) {
        if (ours)
            sum += zarn::BigIntModSmall(a.ours, 9973);
        else
            sum += static_cast<std::int64_t>(mpz_fdiv_ui(a.gmp, 9973));
        benchmark::DoNotOptimize(sum);
    }
    mpz_clear(a.gmp);
}

void PowerMod(benchmark::State& state, unsigned long bits, bool ours) {
    TOperands operands(bits);
    TOperand base, exponent, modulus;
    operands.Make(modulus, bits, true);
    operands.Make(base, bits - 1);
    operands.Make(exponent, bits);
    TBigInt p;
    mpz_t result;
    mpz_init(result);
    long allocations = 0;
    for (auto _ : state) {
        const long before = g_allocations.load(std::memory_order_relaxed);
        if (ours)
            zarn::BigIntPowerMod(base.ours, exponent.ours, modulus.ours, p);
        else
            mpz_powm(result, base.gmp, exponent.gmp, modulus.gmp);
        allocations += g_allocations.load(std::memory_order_relaxed) - before;
        benchmark::ClobberMemory();
    }
    if (ours)
        state.counters["allocs/call"] =
            static_cast<double>(allocations) / static_cast<double>(state.iterations());
    mpz_clears(result, base.gmp, exponent.gmp, modulus.gmp, nullptr);
}

void PowerModWith(benchmark::State& state, unsigned long bits, zarn::detail::TDigitKernels kernels) {
    if (!zarn::detail::DigitKernelsAvailable(kernels)) {
        state.SkipWithError("not offered by this processor");
        return;
    }
    zarn::detail::UseDigitKernels(kernels);
    PowerMod(state, bits, true);
    zarn::detail::UseDigitKernels(zarn::detail::BestDigitKernels());
}

void Register(const std::string& name, void (*run)(benchmark::State&, bool)) {
    benchmark::RegisterBenchmark((name + "/ours").c_str(), run, true);
    benchmark::RegisterBenchmark((name + "/baseline").c_str(), run, false);
}

void Register(const std::string& name, void (*run)(benchmark::State&, unsigned long, bool),
              unsigned long bits) {
    benchmark::RegisterBenchmark((name + "/ours").c_str(), run, bits, true);
    benchmark::RegisterBenchmark((name + "/baseline").c_str(), run, bits, false);
}

} // namespace

int main(int argc, char** argv) {
    for (const unsigned long bits : {512ul, 1024ul}) {
        Register("Multiply_" + std::to_string(bits), Multiply, bits);
        Register("Square_" + std::to_string(bits), Square, bits);
    }
    Register("DivMod_1024_by_512", DivMod);
    Register("ModSmall_512_by_9973", ModSmall);
    for (const unsigned long bits : {256ul, 512ul, 1024ul, 2048ul})
        Register("PowerMod_" + std::to_string(bits), PowerMod, bits);
    // The exponentiation with the portable and the AVX2 digit kernels, next to the same baseline.
    for (const unsigned long bits : {512ul, 1024ul}) {
        const std::string size = std::to_string(bits);
        benchmark::RegisterBenchmark(("PowerMod_" + size + "_portable_kernels/ours").c_str(), PowerModWith,
                                     bits, zarn::detail::TDigitKernels::Portable);
        benchmark::RegisterBenchmark(("PowerMod_" + size + "_portable_kernels/baseline").c_str(), PowerMod,
                                     bits, false);
        benchmark::RegisterBenchmark(("PowerMod_" + size + "_avx2_kernels/ours").c_str(), PowerModWith, bits,
                                     zarn::detail::TDigitKernels::Avx2);
        benchmark::RegisterBenchmark(("PowerMod_" + size + "_avx2_kernels/baseline").c_str(), PowerMod, bits,
                                     false);
    }
    return zarn::bench::RunWithRatios(argc, argv);
}
