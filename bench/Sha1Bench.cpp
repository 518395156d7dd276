// SHA-1 throughput on 16 KiB messages: ours (with the SHA instructions when the processor has
// them, and the portable compression) next to OpenSSL's one-shot SHA1.
#include "bench/RatioReporter.h"
#include "crypto/MessageDigests.h"

#include <openssl/sha.h>

#include <random>

namespace {

const std::string& Message() {
    static const std::string message = [] {
        std::mt19937 generator(7);
        std::string bytes(16384, '\0');
        for (char& c : bytes)
            c = static_cast<char>(generator());
        return bytes;
    }();
    return message;
}

void Ours(benchmark::State& state, bool portable) {
    zarn::sha1::ForcePortable(portable);
    for (auto _ : state) {
        zarn::TSHA1 digest;
        digest.Transform(Message());
        digest.Complete();
        benchmark::DoNotOptimize(digest.GetDigest());
    }
    zarn::sha1::ForcePortable(false);
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Message().size()));
}

void OpenSsl(benchmark::State& state) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    for (auto _ : state) {
        SHA1(reinterpret_cast<const unsigned char*>(Message().data()), Message().size(), digest);
        benchmark::DoNotOptimize(digest);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * Message().size()));
}

} // namespace

int main(int argc, char** argv) {
    benchmark::RegisterBenchmark("Sha1_16KiB/baseline", OpenSsl);
    benchmark::RegisterBenchmark("Sha1_16KiB/ours", Ours, false);
    benchmark::RegisterBenchmark("Sha1_16KiB_portable/baseline", OpenSsl);
    benchmark::RegisterBenchmark("Sha1_16KiB_portable/ours", Ours, true);
    return zarn::bench::RunWithRatios(argc, argv);
}
