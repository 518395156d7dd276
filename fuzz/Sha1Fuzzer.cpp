// SHA-1 fed in pieces chosen by the input against OpenSSL's one-shot SHA-1, with both
// compression functions, and after Initialize on a used object.
#include "crypto/MessageDigests.h"

#include <openssl/sha.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

void Check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

} // namespace

// Input: a byte of piece lengths' seed, then the message.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    std::uint32_t seed = data[0];
    const std::string message(reinterpret_cast<const char*>(data + 1), size - 1);
    unsigned char expected[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(message.data()), message.size(), expected);
    const std::string expectedDigest(reinterpret_cast<const char*>(expected), SHA_DIGEST_LENGTH);

    for (const bool portable : {false, true}) {
        zarn::sha1::ForcePortable(portable);
        zarn::TSHA1 digest;
        digest.Transform(std::string(size % 131, 'u')); // a used object, started afresh
        digest.Initialize();
        for (std::size_t done = 0; done < message.size();) {
            seed = seed * 1103515245u + 12345u;
            const std::size_t piece = std::min<std::size_t>((seed >> 16) % 200, message.size() - done);
            digest.Transform(message.data() + done, static_cast<std::int32_t>(piece));
            done += piece;
        }
        digest.Complete();
        Check(digest.GetDigest() == expectedDigest, "digest equals OpenSSL's");
    }
    zarn::sha1::ForcePortable(false);
    return 0;
}
