// Hand-made key records for the key record tests.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zarn {
class TZarnPublicKey;
}

namespace zarn::test {

// The fields of one record as raw bytes; the two lengths follow the modulus and exponent unless set.
struct TRecord {
    std::string OwnerId = "\x12\x34\x56\x78\x9F";
    unsigned char Index = 5;
    std::string ExpDate = "\x12\x12";
    unsigned char HashIndicator = 1;
    unsigned char AlgorithmIndicator = 1;
    std::string Modulus = "\xAB\xCD";
    std::string Exponent = "\x03";
    std::optional<unsigned char> ModulusLength;
    std::optional<unsigned char> ExponentLength;

    // The bytes before the hash result.
    std::string HashInput() const;
    // HashInput() followed by its SHA-1 (computed with OpenSSL).
    std::string WithHash() const;
};

// The record properties in layout order as texts, from the owner identifier to the hash result.
std::vector<std::string> RecordState(const TZarnPublicKey& key);

// Gives every record property and ExpectedHashResult a value no import produces ("old ..." texts
// and -7), so that every property an import changes shows.
void SetOldValues(TZarnPublicKey& key);

// The SHA-1 of `bytes` (OpenSSL), raw.
std::string OpenSslSha1(const std::string& bytes);

} // namespace zarn::test
