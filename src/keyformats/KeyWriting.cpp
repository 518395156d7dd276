// Writing RSA keys in the standard formats: public keys in four forms, the fingerprint, and PKCS#8
// private keys, plain or encrypted.
#include "OpenSsl.h"

namespace zarn {

using namespace openssl;

std::string EncodeRsaPublicKey(const TRsaPublicKey& key, TPublicKeyFormat format) {
    const TErrorQueueScope errors;
    const TKey pkey = PublicKeyOf(key);
    switch (format) {
    case TPublicKeyFormat::SpkiPem:
        return Encode(pkey.get(), EVP_PKEY_PUBLIC_KEY, "PEM", "SubjectPublicKeyInfo");
    case TPublicKeyFormat::SpkiDer:
        return Encode(pkey.get(), EVP_PKEY_PUBLIC_KEY, "DER", "SubjectPublicKeyInfo");
    case TPublicKeyFormat::Pkcs1Pem:
        return Encode(pkey.get(), EVP_PKEY_PUBLIC_KEY, "PEM", "type-specific");
    case TPublicKeyFormat::Pkcs1Der:
        return Encode(pkey.get(), EVP_PKEY_PUBLIC_KEY, "DER", "type-specific");
    }
    throw Exception("Unknown public key format");
}

std::int32_t RsaKeyBits(const TRsaPublicKey& key) {
    const std::size_t first = key.Modulus.find_first_not_of('\0');
    if (first == std::string::npos)
        return 0;
    std::int32_t bits = static_cast<std::int32_t>(8 * (key.Modulus.size() - first - 1));
    for (unsigned top = static_cast<unsigned char>(key.Modulus[first]); top != 0; top >>= 1)
        ++bits;
    return bits;
}

std::string RsaKeyFingerprint(const TRsaPublicKey& key) {
    const std::string der = EncodeRsaPublicKey(key, TPublicKeyFormat::SpkiDer);
    const TErrorQueueScope errors;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(der.data(), der.size(), digest, &length, EVP_sha256(), nullptr) != 1)
        RaiseOpenSslError("compute SHA-256");
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < length; ++i) {
        hex.push_back(digits[digest[i] >> 4]);
        hex.push_back(digits[digest[i] & 15]);
    }
    return hex;
}

std::string EncodeRsaPrivateKeyPem(const TRsaPrivateKey& key, const std::optional<std::string>& passphrase) {
    const TErrorQueueScope errors;
    if (passphrase.has_value() && passphrase->empty())
        throw EKeyFormatError("The passphrase is empty");
    if (passphrase.has_value() && passphrase->size() > INT_MAX)
        throw EKeyFormatError("The passphrase is too long");
    const TKey pkey = RsaKeyFrom({{OSSL_PKEY_PARAM_RSA_N, &key.Modulus},
                                  {OSSL_PKEY_PARAM_RSA_E, &key.PublicExponent},
                                  {OSSL_PKEY_PARAM_RSA_D, &key.PrivateExponent},
                                  {OSSL_PKEY_PARAM_RSA_FACTOR1, &key.Prime1},
                                  {OSSL_PKEY_PARAM_RSA_FACTOR2, &key.Prime2},
                                  {OSSL_PKEY_PARAM_RSA_EXPONENT1, &key.Exponent1},
                                  {OSSL_PKEY_PARAM_RSA_EXPONENT2, &key.Exponent2},
                                  {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &key.Coefficient}},
                                 EVP_PKEY_KEYPAIR);
    const TPrivateKeyInfo info(Checked(EVP_PKEY2PKCS8(pkey.get()), "encode the private key"));
    // A secure-memory BIO wipes its buffer when it is freed.
    const TBio bio(Checked(BIO_new(BIO_s_secmem()), "encode the private key"));
    if (!passphrase.has_value()) {
        if (PEM_write_bio_PKCS8_PRIV_KEY_INFO(bio.get(), info.get()) != 1)
            RaiseOpenSslError("encode the private key");
        return MemoryContent(bio.get());
    }
    // A null salt asks for a fresh random one of the given length.
    TAlgorithm algorithm(Checked(PKCS5_pbe2_set_iv(EVP_aes_256_cbc(), PrivateKeyKdfIterations, nullptr, 16,
                                                   nullptr, NID_hmacWithSHA256),
                                 "set up the key encryption"));
    X509_SIG* sealed =
        PKCS8_set0_pbe(passphrase->data(), static_cast<int>(passphrase->size()), info.get(), algorithm.get());
    if (sealed == nullptr)
        RaiseOpenSslError("encrypt the private key");
    algorithm.release(); // now owned by the encrypted key
    const TEncryptedKeyInfo encrypted(sealed);
    if (PEM_write_bio_PKCS8(bio.get(), encrypted.get()) != 1)
        RaiseOpenSslError("encode the private key");
    return MemoryContent(bio.get());
}

} // namespace zarn
