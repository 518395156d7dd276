// Reading RSA public keys from the standard formats.
#include "OpenSsl.h"

#include <cstring>

namespace zarn {

using namespace openssl;

namespace {

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

} // namespace

TRsaPublicKeySource ReadRsaPublicKey(const std::string& data, const std::string& sourceName,
                                     const std::optional<std::string>& passphrase) {
    const TErrorQueueScope errors;
    if (data.empty())
        throw EKeyFormatError(Quoted(sourceName) + " is empty");
    const std::vector<TPemBlock> blocks = PemBlocks(data, sourceName);
    return blocks.empty() ? ReadDer(data, sourceName, passphrase) : ReadPem(blocks, sourceName, passphrase);
}

} // namespace zarn
