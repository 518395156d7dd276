#include "tests/keyrecord/KeyFileFixtures.h"

#include <openssl/sha.h>

namespace zarn::test {

std::string TRecord::HashInput() const {
    std::string bytes = OwnerId;
    bytes.push_back(static_cast<char>(Index));
    bytes += ExpDate;
    bytes.push_back(static_cast<char>(HashIndicator));
    bytes.push_back(static_cast<char>(AlgorithmIndicator));
    bytes.push_back(static_cast<char>(ModulusLength.value_or(static_cast<unsigned char>(Modulus.size()))));
    bytes.push_back(static_cast<char>(ExponentLength.value_or(static_cast<unsigned char>(Exponent.size()))));
    return bytes + Modulus + Exponent;
}

std::string TRecord::WithHash() const { return HashInput() + OpenSslSha1(HashInput()); }

std::string OpenSslSha1(const std::string& bytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH);
}

} // namespace zarn::test
