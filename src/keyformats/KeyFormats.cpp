#include "keyformats/KeyFormats.h"

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/decoder.h>
#include <openssl/encoder.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace zarn {

namespace {

template <typename T, void (*Free)(T*)>
struct TFree {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using TOwned = std::unique_ptr<T, TFree<T, Free>>;

using TBio = TOwned<BIO, BIO_free_all>;
using TKey = TOwned<EVP_PKEY, EVP_PKEY_free>;
using TKeyContext = TOwned<EVP_PKEY_CTX, EVP_PKEY_CTX_free>;
using TBignum = TOwned<BIGNUM, BN_clear_free>;
using TParamBuilder = TOwned<OSSL_PARAM_BLD, OSSL_PARAM_BLD_free>;
using TParams = TOwned<OSSL_PARAM, OSSL_PARAM_free>;
using TEncoder = TOwned<OSSL_ENCODER_CTX, OSSL_ENCODER_CTX_free>;
using TDecoder = TOwned<OSSL_DECODER_CTX, OSSL_DECODER_CTX_free>;
using TCertificate = TOwned<X509, X509_free>;
using TPrivateKeyInfo = TOwned<PKCS8_PRIV_KEY_INFO, PKCS8_PRIV_KEY_INFO_free>;
using TEncryptedKeyInfo = TOwned<X509_SIG, X509_SIG_free>;
using TAlgorithm = TOwned<X509_ALGOR, X509_ALGOR_free>;

// Leaves OpenSSL's error queue empty when a call of this unit ends, however it ends: the errors a
// failed attempt leaves behind (a decoder that did not match) must not show up in later reports.
class TErrorQueueScope {
public:
    TErrorQueueScope() { ERR_clear_error(); }
    ~TErrorQueueScope() { ERR_clear_error(); }
    TErrorQueueScope(const TErrorQueueScope&) = delete;
    TErrorQueueScope& operator=(const TErrorQueueScope&) = delete;
};

[[noreturn]] void RaiseOpenSslError(const std::string& action) {
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error(); code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    throw Exception("OpenSSL could not " + action + ": " + reason);
}

template <typename T>
T* Checked(T* object, const std::string& action) {
    if (object == nullptr)
        RaiseOpenSslError(action);
    return object;
}

const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

TBignum BignumOf(const std::string& bytes) {
    if (bytes.size() > INT_MAX)
        throw EKeyFormatError("A key number is too long");
    return TBignum(
        Checked(BN_bin2bn(Bytes(bytes), static_cast<int>(bytes.size()), nullptr), "convert a number"));
}

std::string BytesOf(const BIGNUM* value) {
    std::string bytes(static_cast<std::size_t>(BN_num_bytes(value)), '\0');
    BN_bn2bin(value, reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

std::string MemoryContent(BIO* bio) {
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

// An RSA key from named numbers (OSSL_PKEY_PARAM_RSA_*), as a public key or a key pair.
TKey RsaKeyFrom(const std::vector<std::pair<const char*, const std::string*>>& numbers, int selection) {
    TParamBuilder builder(Checked(OSSL_PARAM_BLD_new(), "build a key"));
    std::vector<TBignum> values;
    for (const auto& [name, bytes] : numbers) {
        values.push_back(BignumOf(*bytes));
        if (OSSL_PARAM_BLD_push_BN(builder.get(), name, values.back().get()) != 1)
            RaiseOpenSslError("build a key");
    }
    TParams params(Checked(OSSL_PARAM_BLD_to_param(builder.get()), "build a key"));
    TKeyContext context(Checked(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr), "build a key"));
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata_init(context.get()) != 1 ||
        EVP_PKEY_fromdata(context.get(), &key, selection, params.get()) != 1)
        RaiseOpenSslError("build a key");
    return TKey(key);
}

TKey PublicKeyOf(const TRsaPublicKey& key) {
    if (BN_is_zero(BignumOf(key.Modulus).get()))
        throw EKeyFormatError("The RSA modulus is zero");
    if (BN_is_zero(BignumOf(key.Exponent).get()))
        throw EKeyFormatError("The RSA exponent is zero");
    return RsaKeyFrom({{OSSL_PKEY_PARAM_RSA_N, &key.Modulus}, {OSSL_PKEY_PARAM_RSA_E, &key.Exponent}},
                      EVP_PKEY_PUBLIC_KEY);
}

std::string Encode(const EVP_PKEY* key, int selection, const char* outputType, const char* structure) {
    TEncoder encoder(Checked(OSSL_ENCODER_CTX_new_for_pkey(key, selection, outputType, structure, nullptr),
                             "encode a key"));
    if (OSSL_ENCODER_CTX_get_num_encoders(encoder.get()) == 0)
        RaiseOpenSslError(std::string("encode a key as ") + structure + " " + outputType);
    unsigned char* data = nullptr;
    std::size_t length = 0;
    if (OSSL_ENCODER_to_data(encoder.get(), &data, &length) != 1)
        RaiseOpenSslError("encode a key");
    std::string encoded(reinterpret_cast<const char*>(data), length);
    OPENSSL_clear_free(data, length);
    return encoded;
}

// ---- Reading ----

// What the decoder's passphrase callback was given and what it was asked.
struct TPassphraseUse {
    const std::optional<std::string>* Passphrase = nullptr;
    bool Asked = false;
};

// Hands the passphrase to OpenSSL, or fails when there is none, so that OpenSSL never falls back to
// asking on the terminal.
int PassphraseCallback(char* pass, std::size_t size, std::size_t* length, const OSSL_PARAM[], void* arg) {
    TPassphraseUse& use = *static_cast<TPassphraseUse*>(arg);
    use.Asked = true;
    if (!use.Passphrase->has_value() || (*use.Passphrase)->size() > size)
        return 0;
    std::memcpy(pass, (*use.Passphrase)->data(), (*use.Passphrase)->size());
    *length = (*use.Passphrase)->size();
    return 1;
}

// The key in `data` ("PEM" or "DER" by `inputType`) of `keyType` (null: any type OpenSSL knows), or
// null when it holds none, holds more than that key, or cannot be decrypted (`use.Asked` then tells
// whether it was encrypted).
TKey DecodeKey(const std::string& data, const char* inputType, const char* keyType, TPassphraseUse& use) {
    EVP_PKEY* key = nullptr;
    TDecoder decoder(
        Checked(OSSL_DECODER_CTX_new_for_pkey(&key, inputType, nullptr, keyType, 0, nullptr, nullptr),
                "set up a key decoder"));
    if (OSSL_DECODER_CTX_set_passphrase_cb(decoder.get(), PassphraseCallback, &use) != 1)
        RaiseOpenSslError("set up a key decoder");
    const unsigned char* cursor = Bytes(data);
    std::size_t left = data.size();
    if (OSSL_DECODER_from_data(decoder.get(), &cursor, &left) != 1 || left != 0) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return TKey(key);
}

[[noreturn]] void RaisePassphraseError(const std::optional<std::string>& passphrase,
                                       const std::string& sourceName) {
    if (!passphrase.has_value())
        throw EKeyFormatError(Quoted(sourceName) +
                              " holds an encrypted key: a passphrase is needed to read it");
    throw EKeyFormatError("Wrong passphrase for the encrypted key in " + Quoted(sourceName));
}

// The key in `data`, or null when it holds none. RSA is tried first: a PKCS#1 RSAPublicKey in DER
// carries no type, and another type's decoder (DH parameters) would take its two integers too.
// Raises when the key is encrypted and the passphrase is missing or does not decrypt it.
TKey DecodeAnyKey(const std::string& data, const char* inputType,
                  const std::optional<std::string>& passphrase, const std::string& sourceName) {
    TPassphraseUse rsa{&passphrase};
    if (TKey key = DecodeKey(data, inputType, "RSA", rsa))
        return key;
    if (rsa.Asked && !passphrase.has_value())
        RaisePassphraseError(passphrase, sourceName);
    TPassphraseUse any{&passphrase};
    TKey key = DecodeKey(data, inputType, nullptr, any);
    if (key == nullptr && (rsa.Asked || any.Asked))
        RaisePassphraseError(passphrase, sourceName);
    return key;
}

bool IsRsa(const EVP_PKEY* key) {
    return EVP_PKEY_is_a(key, "RSA") || EVP_PKEY_is_a(key, "RSA-PSS");
}

std::string TypeName(const EVP_PKEY* key) {
    const char* name = key != nullptr ? EVP_PKEY_get0_type_name(key) : nullptr;
    return name != nullptr ? name : "unknown";
}

bool HasPrivatePart(const EVP_PKEY* key) {
    BIGNUM* d = nullptr;
    const bool found = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_D, &d) == 1;
    BN_clear_free(d);
    return found;
}

TRsaPublicKey NumbersOf(const EVP_PKEY* key, const std::string& sourceName) {
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool found = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                       EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
    const TBignum modulus(n), exponent(e);
    if (!found)
        throw EKeyFormatError("The RSA key in " + Quoted(sourceName) + " has no modulus or exponent");
    TRsaPublicKey numbers{BytesOf(modulus.get()), BytesOf(exponent.get())};
    const auto checkLength = [&](const std::string& bytes, const char* what) {
        if (bytes.empty())
            throw EKeyFormatError("The RSA " + std::string(what) + " in " + Quoted(sourceName) + " is zero");
        if (bytes.size() > MaxRecordNumberBytes)
            throw EKeyFormatError("The RSA " + std::string(what) + " in " + Quoted(sourceName) + " is " +
                                  std::to_string(bytes.size()) + " bytes long; a key record holds at most " +
                                  std::to_string(MaxRecordNumberBytes) + " bytes");
    };
    checkLength(numbers.Modulus, "modulus");
    checkLength(numbers.Exponent, "exponent");
    return numbers;
}

struct TPemBlock {
    std::string Name;
    std::string Header;
    std::string Data;
};

// Every PEM block of `data` in order; none when it holds no "-----BEGIN" line.
std::vector<TPemBlock> PemBlocks(const std::string& data, const std::string& sourceName) {
    if (data.size() > INT_MAX)
        throw EKeyFormatError(Quoted(sourceName) + " is too large to hold a key");
    TBio bio(Checked(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())), "read PEM"));
    std::vector<TPemBlock> blocks;
    for (;;) {
        char* name = nullptr;
        char* header = nullptr;
        unsigned char* bytes = nullptr;
        long length = 0;
        if (PEM_read_bio(bio.get(), &name, &header, &bytes, &length) != 1) {
            const unsigned long error = ERR_peek_last_error();
            if (ERR_GET_LIB(error) == ERR_LIB_PEM && ERR_GET_REASON(error) == PEM_R_NO_START_LINE)
                break;
            throw EKeyFormatError(Quoted(sourceName) + " holds a damaged PEM block");
        }
        blocks.push_back(
            {name, header,
             std::string(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length))});
        OPENSSL_free(name);
        OPENSSL_free(header);
        OPENSSL_clear_free(bytes, static_cast<std::size_t>(length));
    }
    ERR_clear_error();
    return blocks;
}

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool IsCertificateBlock(const std::string& name) {
    return name == "CERTIFICATE" || name == "X509 CERTIFICATE" || name == "TRUSTED CERTIFICATE";
}

bool IsKeyBlock(const std::string& name) {
    return EndsWith(name, "PUBLIC KEY") || EndsWith(name, "PRIVATE KEY");
}

// The block as PEM text again, header lines (a legacy encryption's DEK-Info) included, for the decoder.
std::string PemText(const TPemBlock& block) {
    TBio bio(Checked(BIO_new(BIO_s_secmem()), "write PEM"));
    if (PEM_write_bio(bio.get(), block.Name.c_str(), block.Header.c_str(), Bytes(block.Data),
                      static_cast<long>(block.Data.size())) <= 0)
        RaiseOpenSslError("write PEM");
    return MemoryContent(bio.get());
}

TCertificate DecodeCertificate(const std::string& der, bool trusted) {
    const unsigned char* cursor = Bytes(der);
    const long length = static_cast<long>(der.size());
    X509* certificate = trusted ? d2i_X509_AUX(nullptr, &cursor, length) : d2i_X509(nullptr, &cursor, length);
    if (certificate != nullptr && cursor != Bytes(der) + der.size()) {
        X509_free(certificate);
        return nullptr;
    }
    return TCertificate(certificate);
}

std::string NotRsaText(const std::string& sourceName, const std::string& holder, const std::string& type) {
    return Quoted(sourceName) + " holds " + holder + " of type " + type + ": not an RSA key";
}

TRsaPublicKeySource ReadPem(const std::vector<TPemBlock>& blocks, const std::string& sourceName,
                            const std::optional<std::string>& passphrase) {
    std::size_t candidates = 0;
    for (const TPemBlock& block : blocks)
        candidates += IsCertificateBlock(block.Name) || IsKeyBlock(block.Name) ? 1 : 0;
    if (candidates == 0)
        throw EKeyFormatError(Quoted(sourceName) + " holds no RSA public key, private key or certificate");

    std::string firstOther; // the text for the first key or certificate that is not RSA
    for (std::size_t index = 0; index < blocks.size(); ++index) {
        const TPemBlock& block = blocks[index];
        const std::string where = "PEM block " + std::to_string(index + 1) + " (" + block.Name + ")";
        TCertificate certificate;
        TKey decoded;
        const EVP_PKEY* key = nullptr;
        std::string holder;
        if (IsCertificateBlock(block.Name)) {
            certificate = DecodeCertificate(block.Data, block.Name == "TRUSTED CERTIFICATE");
            if (certificate == nullptr)
                throw EKeyFormatError("The certificate in " + where + " of " + Quoted(sourceName) +
                                      " cannot be read");
            key = X509_get0_pubkey(certificate.get());
            holder = "certificate";
        } else if (IsKeyBlock(block.Name)) {
            decoded = DecodeAnyKey(PemText(block), "PEM", passphrase, sourceName);
            if (decoded == nullptr)
                throw EKeyFormatError("The key in " + where + " of " + Quoted(sourceName) +
                                      " cannot be read");
            key = decoded.get();
            holder = EndsWith(block.Name, "PRIVATE KEY") ? "private key" : "public key";
        } else {
            continue;
        }
        if (key == nullptr || !IsRsa(key)) {
            if (firstOther.empty())
                firstOther = NotRsaText(sourceName, holder == "certificate" ? "a certificate" : "a key",
                                        TypeName(key));
            continue;
        }
        TRsaPublicKeySource source{NumbersOf(key, sourceName), holder, {}};
        if (candidates > 1)
            source.Note = Quoted(sourceName) + " holds " + std::to_string(candidates) +
                          " keys or certificates; the first RSA one is used: the " + holder + " in " + where;
        return source;
    }
    throw EKeyFormatError(firstOther);
}

TRsaPublicKeySource ReadDer(const std::string& data, const std::string& sourceName,
                            const std::optional<std::string>& passphrase) {
    const TKey key = DecodeAnyKey(data, "DER", passphrase, sourceName);
    if (key != nullptr) {
        const std::string holder = HasPrivatePart(key.get()) ? "private key" : "public key";
        if (!IsRsa(key.get()))
            throw EKeyFormatError(NotRsaText(sourceName, "a key", TypeName(key.get())));
        return {NumbersOf(key.get(), sourceName), holder, {}};
    }
    const TCertificate certificate = DecodeCertificate(data, false);
    if (certificate == nullptr)
        throw EKeyFormatError(Quoted(sourceName) +
                              " holds no RSA public key, private key or certificate in PEM or DER form");
    const EVP_PKEY* certificateKey = X509_get0_pubkey(certificate.get());
    if (certificateKey == nullptr || !IsRsa(certificateKey))
        throw EKeyFormatError(NotRsaText(sourceName, "a certificate", TypeName(certificateKey)));
    return {NumbersOf(certificateKey, sourceName), "certificate", {}};
}

// ---- Completing a private key ----

TBigInt Small(std::uint32_t value) {
    TBigInt result;
    BigIntFromDecimal(std::to_string(value), result);
    return result;
}

bool IsZero(const TBigInt& value) {
    return value.Digits[0] == 1 && value.Digits[1] == 0;
}

bool IsOdd(const TBigInt& value) {
    return (value.Digits[1] & 1) != 0;
}

bool Equal(const TBigInt& a, const TBigInt& b) {
    return BigIntCompareAbs(a, b) == boEqual;
}

TBigInt Minus(const TBigInt& a, const TBigInt& b) {
    TBigInt result;
    BigIntSubtract(a, b, result);
    return result;
}

const char* const kMismatch = "The private exponent does not belong to this modulus and public exponent";

// Each base finds the primes with a probability of at least one half when d belongs to n and e.
constexpr std::uint32_t kBases = 100;

// A prime factor of n, found from k = e d - 1 = 2^t r (r odd); n odd, k a multiple of the order of
// every unit modulo n. Raises EKeyFormatError when k is not such a multiple or no base splits n.
TBigInt FindFactor(const TBigInt& n, const TBigInt& r, int t) {
    const TBigInt one = Small(1);
    const TBigInt nMinusOne = Minus(n, one);
    for (std::uint32_t g = 2; g < 2 + kBases; ++g) {
        const TBigInt base = Small(g);
        if (BigIntCompareAbs(base, nMinusOne) != boSmaller)
            break;
        TBigInt factor;
        BigIntGcd(n, base, factor);
        if (!Equal(factor, one))
            return factor;
        TBigInt y;
        BigIntPowerMod(base, r, n, y);
        if (Equal(y, one) || Equal(y, nMinusOne))
            continue;
        // y runs through g^(2^i r); a square of 1 from a y other than +-1 splits n. Reaching i = t
        // without a 1 means g^k != 1, so k is not a multiple of the order of g.
        for (int i = 1;; ++i) {
            TBigInt square;
            BigIntSquareMod(y, n, square);
            if (Equal(square, one)) {
                BigIntGcd(n, Minus(y, one), factor);
                return factor;
            }
            if (i == t)
                throw EKeyFormatError(kMismatch);
            if (Equal(square, nMinusOne))
                break;
            y = std::move(square);
        }
    }
    throw EKeyFormatError("The primes of the RSA modulus could not be found");
}

} // namespace

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

TRsaPublicKeySource ReadRsaPublicKey(const std::string& data, const std::string& sourceName,
                                     const std::optional<std::string>& passphrase) {
    const TErrorQueueScope errors;
    if (data.empty())
        throw EKeyFormatError(Quoted(sourceName) + " is empty");
    const std::vector<TPemBlock> blocks = PemBlocks(data, sourceName);
    return blocks.empty() ? ReadDer(data, sourceName, passphrase) : ReadPem(blocks, sourceName, passphrase);
}

TRsaPrivateKey CompleteRsaPrivateKey(const TBigInt& n, const TBigInt& e, const TBigInt& d) {
    const TBigInt one = Small(1);
    if (IsZero(e) || IsZero(d))
        throw EKeyFormatError("An RSA exponent is zero");
    if (!IsOdd(n) || BigIntCompareAbs(n, Small(15)) == boSmaller)
        throw EKeyFormatError("The RSA modulus is not the product of two odd primes");

    TBigInt k;
    BigIntMultiply(e, d, k);
    k = Minus(k, one);
    if (IsZero(k) || IsOdd(k))
        throw EKeyFormatError(kMismatch);
    TBigInt r;
    BigIntCopy(k, r);
    int t = 0;
    for (; !IsOdd(r); ++t)
        BigIntHalve(r);

    TBigInt p = FindFactor(n, r, t);
    TBigInt q, remainder;
    BigIntDivMod(n, p, q, remainder);
    TBigInt product;
    BigIntMultiply(p, q, product);
    if (!IsZero(remainder) || !Equal(product, n) || Equal(p, one) || Equal(q, one))
        throw EKeyFormatError("The primes of the RSA modulus could not be found");
    if (BigIntCompareAbs(p, q) == boSmaller)
        std::swap(p, q);

    const TBigInt pMinusOne = Minus(p, one);
    const TBigInt qMinusOne = Minus(q, one);
    TBigInt dP, dQ, check;
    BigIntMod(d, pMinusOne, dP);
    BigIntMod(d, qMinusOne, dQ);
    BigIntMultiplyMod(e, dP, pMinusOne, check);
    if (!Equal(check, one))
        throw EKeyFormatError(kMismatch);
    BigIntMultiplyMod(e, dQ, qMinusOne, check);
    if (!Equal(check, one))
        throw EKeyFormatError(kMismatch);
    TBigInt qInv = Small(0);
    BigIntModInverse(q, p, qInv);
    if (IsZero(qInv))
        throw EKeyFormatError("The RSA modulus is not the product of two distinct primes");

    return {BigIntToBytes(n), BigIntToBytes(e),  BigIntToBytes(d),  BigIntToBytes(p),
            BigIntToBytes(q), BigIntToBytes(dP), BigIntToBytes(dQ), BigIntToBytes(qInv)};
}

TRsaPrivateKey CompleteRsaPrivateKey(const std::string& n, const std::string& e, const std::string& d) {
    const auto value = [](const std::string& bytes) {
        TBigInt result;
        BigIntFromBytes(bytes.empty() ? std::string(1, '\0') : bytes, result);
        return result;
    };
    return CompleteRsaPrivateKey(value(n), value(e), value(d));
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
