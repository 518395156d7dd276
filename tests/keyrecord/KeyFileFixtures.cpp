#include "tests/keyrecord/KeyFileFixtures.h"

#include "keyrecord/ZarnPublicKey.h"

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

std::string TRecord::WithHash() const {
    return HashInput() + OpenSslSha1(HashInput());
}

std::vector<std::string> RecordState(const TZarnPublicKey& key) {
    return {key.GetPublicKeyOwnerId(),
            std::to_string(key.GetPublicKeyIndex()),
            key.GetPublicKeyExpDate(),
            std::to_string(key.GetHashAlgorithmIndicator()),
            std::to_string(key.GetPublicKeyAlgorithmIndicator()),
            std::to_string(key.GetPublicKeyModulusLength()),
            std::to_string(key.GetPublicKeyExponentLength()),
            key.GetPublicKeyModulus(),
            key.GetPublicKeyExponent(),
            key.GetHashResult()};
}

void SetOldValues(TZarnPublicKey& key) {
    key.SetPublicKeyOwnerId("old owner");
    key.SetPublicKeyIndex(-7);
    key.SetPublicKeyExpDate("old date");
    key.SetHashAlgorithmIndicator(-7);
    key.SetPublicKeyAlgorithmIndicator(-7);
    key.SetPublicKeyModulusLength(-7);
    key.SetPublicKeyExponentLength(-7);
    key.SetPublicKeyModulus("old modulus");
    key.SetPublicKeyExponent("old exponent");
    key.SetHashResult("old hash");
    key.SetExpectedHashResult("old expected");
}

std::string OpenSslSha1(const std::string& bytes) {
    unsigned char digest[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    return std::string(reinterpret_cast<const char*>(digest), SHA_DIGEST_LENGTH);
}

} // namespace zarn::test
