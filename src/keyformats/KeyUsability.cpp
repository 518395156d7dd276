// Whether an RSA public key is one a key record may carry and a signature may trust.
#include "keyformats/KeyFormats.h"

#include "encoding/UTHHexUtilities.h"

#include <algorithm>
#include <cstdint>

namespace zarn {

namespace {

// A big-endian number for a message: decimal up to 64 bits, else hexadecimal.
std::string NumberText(const std::string& bytes) {
    const std::size_t first = std::min(bytes.find_first_not_of('\0'), bytes.size());
    if (bytes.size() - first > 8)
        return "0x" + BytesToHex(bytes.substr(first));
    std::uint64_t value = 0;
    for (std::size_t i = first; i < bytes.size(); ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[i]);
    return std::to_string(value);
}

} // namespace

void CheckUsableRsaKey(const TRsaPublicKey& key, const std::string& what) {
    const auto refuse = [&](const std::string& reason) {
        throw EKeyFormatError(what + " is not a usable RSA key: " + reason);
    };
    const std::size_t first = key.Exponent.find_first_not_of('\0');
    const bool exponentBelow3 =
        first == std::string::npos ||
        (first + 1 == key.Exponent.size() && static_cast<unsigned char>(key.Exponent.back()) < 3);
    if (exponentBelow3 || (static_cast<unsigned char>(key.Exponent.back()) & 1) == 0)
        refuse("its public exponent is " + NumberText(key.Exponent) + "; it must be odd and at least 3");
    if (key.Modulus.empty() || (static_cast<unsigned char>(key.Modulus.back()) & 1) == 0)
        refuse("its modulus is even");
    if (RsaKeyBits(key) < MinRsaKeyBits)
        refuse("its modulus has " + std::to_string(RsaKeyBits(key)) + " bits, fewer than " +
               std::to_string(MinRsaKeyBits));
}

} // namespace zarn
