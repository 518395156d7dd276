// Reading RSA public keys from the standard formats.
#include "OpenSsl.h"
#include "encoding/UTHHexUtilities.h"

#include <algorithm>

#include <cstring>
#include <ctime>

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
    return EVP_PKEY_is_a(key, "RSA");
}

bool IsRsaPss(const EVP_PKEY* key) {
    return EVP_PKEY_is_a(key, "RSA-PSS");
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

// The RSAPublicKey (PKCS#1) DER that a SubjectPublicKeyInfo in DER carries, as it stands there;
// nothing when `der` is not one.
std::optional<std::string> RsaPublicKeyOfSpki(const std::string& der) {
    const unsigned char* cursor = Bytes(der);
    X509_PUBKEY* spki = d2i_X509_PUBKEY(nullptr, &cursor, static_cast<long>(der.size()));
    std::optional<std::string> raw;
    const unsigned char* bits = nullptr;
    int length = 0;
    if (spki != nullptr && cursor == Bytes(der) + der.size() &&
        X509_PUBKEY_get0_param(nullptr, &bits, &length, nullptr, spki) == 1)
        raw = std::string(reinterpret_cast<const char*>(bits), static_cast<std::size_t>(length));
    X509_PUBKEY_free(spki);
    ERR_clear_error();
    return raw;
}

// The RSAPublicKey DER a certificate carries, as it stands there.
std::optional<std::string> RsaPublicKeyOfCertificate(const X509* certificate) {
    const unsigned char* bits = nullptr;
    int length = 0;
    if (X509_PUBKEY_get0_param(nullptr, &bits, &length, nullptr, X509_get_X509_PUBKEY(certificate)) != 1)
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(bits), static_cast<std::size_t>(length));
}

// `key`'s modulus and exponent, checked. `raw`, where the input holds the key's RSAPublicKey DER
// itself, must be exactly the DER of those numbers: OpenSSL reads an INTEGER's bytes without its
// sign, so a negative modulus would otherwise pass as a positive one.
TRsaPublicKey NumbersOf(const EVP_PKEY* key, const std::string& sourceName,
                        const std::optional<std::string>& raw = std::nullopt) {
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    const bool found = EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_N, &n) == 1 &&
                       EVP_PKEY_get_bn_param(key, OSSL_PKEY_PARAM_RSA_E, &e) == 1;
    const TBignum modulus(n), exponent(e);
    if (!found)
        throw EKeyFormatError("The RSA key in " + Quoted(sourceName) + " has no modulus or exponent");
    if (BN_is_negative(modulus.get()) || BN_is_negative(exponent.get()))
        throw EKeyFormatError(
            "The RSA key in " + Quoted(sourceName) +
            " has a negative modulus or exponent: its numbers are not the positive INTEGERs "
            "of the format");
    TRsaPublicKey numbers{BytesOf(modulus.get()), BytesOf(exponent.get())};
    if (raw && !BN_is_zero(modulus.get()) && !BN_is_zero(exponent.get()) &&
        *raw != EncodeRsaPublicKey(numbers, TPublicKeyFormat::Pkcs1Der))
        throw EKeyFormatError(
            "The RSA key in " + Quoted(sourceName) +
            " is not encoded as the format asks: its numbers are not the positive INTEGERs of "
            "the format");
    CheckUsableRsaKey(numbers, "The RSA key in " + Quoted(sourceName));
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

// Raises unless `key`, which `holder` ("a key", "a certificate") holds, is a plain RSA key.
void CheckIsRsa(const EVP_PKEY* key, const std::string& sourceName, const std::string& holder) {
    if (key != nullptr && IsRsaPss(key))
        throw EKeyFormatError(
            Quoted(sourceName) + " holds " + holder +
            " of type RSA-PSS: a key record cannot carry its restriction to PSS signatures, "
            "so it is not converted");
    if (key == nullptr || !IsRsa(key))
        throw EKeyFormatError(NotRsaText(sourceName, holder, TypeName(key)));
}

// A note when the certificate's validity has ended: the key is taken, but the custodian should know.
void NoteExpiry(const X509* certificate, const std::string& sourceName, std::vector<std::string>& notes) {
    const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
    if (notAfter == nullptr || X509_cmp_current_time(notAfter) > 0)
        return;
    std::tm end{};
    char text[32] = "an unknown time";
    if (ASN1_TIME_to_tm(notAfter, &end) == 1)
        std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", &end);
    notes.push_back("the certificate in " + Quoted(sourceName) + " expired: its validity ended on " + text);
}

TRsaPublicKeySource ReadPem(const std::vector<TPemBlock>& blocks, const std::string& sourceName,
                            const std::optional<std::string>& passphrase) {
    std::size_t candidates = 0;
    for (const TPemBlock& block : blocks)
        candidates += IsCertificateBlock(block.Name) || IsKeyBlock(block.Name) ? 1 : 0;
    if (candidates == 0)
        throw EKeyFormatError(Quoted(sourceName) + " holds no RSA public key, private key or certificate");

    // The first key or certificate is the one: a file is not searched for an RSA key behind another.
    std::size_t index = 0;
    while (!IsCertificateBlock(blocks[index].Name) && !IsKeyBlock(blocks[index].Name))
        ++index;
    const TPemBlock& block = blocks[index];
    const std::string where = "PEM block " + std::to_string(index + 1) + " (" + block.Name + ")";
    TRsaPublicKeySource source;
    if (IsCertificateBlock(block.Name)) {
        const TCertificate certificate = DecodeCertificate(block.Data, block.Name == "TRUSTED CERTIFICATE");
        if (certificate == nullptr)
            throw EKeyFormatError("The certificate in " + where + " of " + Quoted(sourceName) +
                                  " cannot be read");
        const EVP_PKEY* key = X509_get0_pubkey(certificate.get());
        CheckIsRsa(key, sourceName, "a certificate");
        source = {
            NumbersOf(key, sourceName, RsaPublicKeyOfCertificate(certificate.get())), "certificate", {}};
        NoteExpiry(certificate.get(), sourceName, source.Notes);
    } else {
        const TKey decoded = DecodeAnyKey(PemText(block), "PEM", passphrase, sourceName);
        if (decoded == nullptr)
            throw EKeyFormatError("The key in " + where + " of " + Quoted(sourceName) + " cannot be read");
        CheckIsRsa(decoded.get(), sourceName, "a key");
        const std::optional<std::string> raw = block.Name == "PUBLIC KEY" ? RsaPublicKeyOfSpki(block.Data)
                                               : block.Name == "RSA PUBLIC KEY" ? std::optional(block.Data)
                                                                                : std::nullopt;
        source = {NumbersOf(decoded.get(), sourceName, raw),
                  EndsWith(block.Name, "PRIVATE KEY") ? "private key" : "public key",
                  {}};
    }
    if (candidates > 1)
        source.Notes.insert(source.Notes.begin(), Quoted(sourceName) + " holds " +
                                                      std::to_string(candidates) +
                                                      " keys or certificates; the first is used: the " +
                                                      source.Holder + " in " + where);
    return source;
}

TRsaPublicKeySource ReadDer(const std::string& data, const std::string& sourceName,
                            const std::optional<std::string>& passphrase) {
    const TKey key = DecodeAnyKey(data, "DER", passphrase, sourceName);
    if (key != nullptr) {
        const std::string holder = HasPrivatePart(key.get()) ? "private key" : "public key";
        CheckIsRsa(key.get(), sourceName, "a key");
        // A public key in DER is a SubjectPublicKeyInfo or the RSAPublicKey itself.
        std::optional<std::string> raw;
        if (holder == "public key")
            raw = RsaPublicKeyOfSpki(data).value_or(data);
        return {NumbersOf(key.get(), sourceName, raw), holder, {}};
    }
    const TCertificate certificate = DecodeCertificate(data, false);
    if (certificate == nullptr)
        throw EKeyFormatError(Quoted(sourceName) +
                              " holds no RSA public key, private key or certificate in PEM or DER form");
    const EVP_PKEY* certificateKey = X509_get0_pubkey(certificate.get());
    CheckIsRsa(certificateKey, sourceName, "a certificate");
    TRsaPublicKeySource source{
        NumbersOf(certificateKey, sourceName, RsaPublicKeyOfCertificate(certificate.get())),
        "certificate",
        {}};
    NoteExpiry(certificate.get(), sourceName, source.Notes);
    return source;
}

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

TRsaPublicKeySource ReadRsaPublicKey(const std::string& data, const std::string& sourceName,
                                     const std::optional<std::string>& passphrase) {
    const TErrorQueueScope errors;
    if (data.empty())
        throw EKeyFormatError(Quoted(sourceName) + " is empty");
    const std::vector<TPemBlock> blocks = PemBlocks(data, sourceName);
    return blocks.empty() ? ReadDer(data, sourceName, passphrase) : ReadPem(blocks, sourceName, passphrase);
}

} // namespace zarn
