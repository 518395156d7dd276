// Reading RSA public keys from the standard formats, through OpenSSL's store interface: the store
// finds what an object is (a key, a certificate, parameters) and decrypts it with the passphrase
// handed in, and this unit decides which object is taken and whether it is a usable RSA key.
#include "OpenSsl.h"

#include <openssl/store.h>
#include <openssl/ui.h>

#include <algorithm>
#include <cstring>
#include <ctime>

namespace zarn {

using namespace openssl;

namespace {

using TStore = TOwned<OSSL_STORE_CTX, CloseStore>;
using TStoreInfo = TOwned<OSSL_STORE_INFO, OSSL_STORE_INFO_free>;
using TUiMethod = TOwned<UI_METHOD, UI_destroy_method>;

// What the store's passphrase callback was given and whether it was asked.
struct TPassphraseUse {
    const std::optional<std::string>* Passphrase = nullptr;
    bool Asked = false;
};

// Hands the passphrase over, or fails when there is none, so that OpenSSL never falls back to
// asking on the terminal.
int PassphraseCallback(char* buffer, int size, int, void* data) {
    TPassphraseUse& use = *static_cast<TPassphraseUse*>(data);
    use.Asked = true;
    if (!use.Passphrase->has_value() || (*use.Passphrase)->size() > static_cast<std::size_t>(size))
        return -1;
    std::memcpy(buffer, (*use.Passphrase)->data(), (*use.Passphrase)->size());
    return static_cast<int>((*use.Passphrase)->size());
}

[[noreturn]] void RaisePassphraseError(const std::optional<std::string>& passphrase,
                                       const std::string& sourceName) {
    if (!passphrase.has_value())
        throw EKeyFormatError(Quoted(sourceName) +
                              " holds an encrypted key: a passphrase is needed to read it");
    throw EKeyFormatError("Wrong passphrase for the encrypted key in " + Quoted(sourceName));
}

// OpenSSL's reason for the last failure, for an error text.
std::string LastReason() {
    const unsigned long code = ERR_peek_last_error();
    const char* reason = code != 0 ? ERR_reason_error_string(code) : nullptr;
    return reason != nullptr ? reason : "not a form OpenSSL reads";
}

// The objects of `data` as the store reads them, one after another.
class TStoreReader {
public:
    TStoreReader(const std::string& data, const std::optional<std::string>& passphrase, int expected)
        : m_use{&passphrase},
          m_ui(Checked(UI_UTIL_wrap_read_pem_callback(PassphraseCallback, 0), "set up a reader")),
          m_bio(Checked(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())), "set up a reader")),
          m_store(Checked(OSSL_STORE_attach(m_bio.get(), "file", nullptr, nullptr, m_ui.get(), &m_use,
                                            nullptr, nullptr, nullptr),
                          "set up a reader")) {
        if (expected != 0 && OSSL_STORE_expect(m_store.get(), expected) != 1)
            RaiseOpenSslError("set up a reader");
    }

    bool AtEnd() { return OSSL_STORE_eof(m_store.get()) != 0; }
    // The next object, or null when it cannot be read (the error queue says why).
    TStoreInfo Next() { return TStoreInfo(OSSL_STORE_load(m_store.get())); }
    bool PassphraseAsked() const { return m_use.Asked; }

private:
    TPassphraseUse m_use;
    TUiMethod m_ui;
    TBio m_bio;
    TStore m_store;
};

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
    CheckUsableRsaKey(numbers, "The RSA key in " + Quoted(sourceName)); // refuses zero numbers too
    const auto checkLength = [&](const std::string& bytes, const char* what) {
        if (bytes.size() > MaxRecordNumberBytes)
            throw EKeyFormatError("The RSA " + std::string(what) + " in " + Quoted(sourceName) + " is " +
                                  std::to_string(bytes.size()) + " bytes long; a key record holds at most " +
                                  std::to_string(MaxRecordNumberBytes) + " bytes");
    };
    checkLength(numbers.Modulus, "modulus");
    checkLength(numbers.Exponent, "exponent");
    return numbers;
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

bool IsCandidateBlock(const std::string& name) {
    return IsCertificateBlock(name) || IsKeyBlock(name);
}

// The PEM blocks of a text, found by their BEGIN and END lines alone: what each is called and
// where its text stands. Nothing is decoded here.
struct TPemBlockText {
    std::string Name;
    std::size_t Begin = 0, End = 0; // the block's text, END line included
};

std::vector<TPemBlockText> PemBlockTexts(const std::string& data) {
    std::vector<TPemBlockText> blocks;
    const std::string begin = "-----BEGIN ", dashes = "-----";
    for (std::size_t at = data.find(begin); at != std::string::npos; at = data.find(begin, at + 1)) {
        if (at != 0 && data[at - 1] != '\n')
            continue;
        const std::size_t nameEnd = data.find(dashes, at + begin.size());
        if (nameEnd == std::string::npos)
            break;
        TPemBlockText block{data.substr(at + begin.size(), nameEnd - at - begin.size()), at,
                            std::string::npos};
        const std::size_t end = data.find("-----END " + block.Name + dashes, nameEnd);
        block.End = end == std::string::npos ? data.size() : end + block.Name.size() + 14;
        blocks.push_back(block);
        if (end == std::string::npos)
            break;
    }
    return blocks;
}

// The bytes of the one PEM block `text` holds.
std::string PemBlockData(const std::string& text) {
    TBio bio(Checked(BIO_new_mem_buf(text.data(), static_cast<int>(text.size())), "read PEM"));
    char* name = nullptr;
    char* header = nullptr;
    unsigned char* bytes = nullptr;
    long length = 0;
    std::string data;
    if (PEM_read_bio(bio.get(), &name, &header, &bytes, &length) == 1)
        data.assign(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(length));
    OPENSSL_free(name);
    OPENSSL_free(header);
    OPENSSL_free(bytes);
    return data;
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

// The first key or certificate the store reads from `reader`, past parameters and names; null with
// nothing left. `what` names the object in errors.
TStoreInfo FirstKeyOrCertificate(TStoreReader& reader, const std::optional<std::string>& passphrase,
                                 const std::string& sourceName, const std::string& what) {
    while (!reader.AtEnd()) {
        TStoreInfo info = reader.Next();
        if (info == nullptr) {
            if (reader.PassphraseAsked())
                RaisePassphraseError(passphrase, sourceName);
            throw EKeyFormatError("The " + what + " of " + Quoted(sourceName) +
                                  " cannot be read: " + LastReason());
        }
        const int type = OSSL_STORE_INFO_get_type(info.get());
        if (type == OSSL_STORE_INFO_PUBKEY || type == OSSL_STORE_INFO_PKEY || type == OSSL_STORE_INFO_CERT)
            return info;
    }
    return nullptr;
}

// The key in `info`, checked: RSA, usable, its numbers the positive INTEGERs of `raw` where the
// input holds them.
TRsaPublicKeySource TakeKey(const OSSL_STORE_INFO* info, const std::string& sourceName,
                            const std::optional<std::string>& raw) {
    const int type = OSSL_STORE_INFO_get_type(info);
    if (type == OSSL_STORE_INFO_CERT) {
        const X509* certificate = OSSL_STORE_INFO_get0_CERT(info);
        const EVP_PKEY* key = X509_get0_pubkey(certificate);
        CheckIsRsa(key, sourceName, "a certificate");
        TRsaPublicKeySource source{
            NumbersOf(key, sourceName, RsaPublicKeyOfCertificate(certificate)), "certificate", {}};
        NoteExpiry(certificate, sourceName, source.Notes);
        return source;
    }
    const bool isPrivate = type == OSSL_STORE_INFO_PKEY;
    const EVP_PKEY* key = isPrivate ? OSSL_STORE_INFO_get0_PKEY(info) : OSSL_STORE_INFO_get0_PUBKEY(info);
    CheckIsRsa(key, sourceName, "a key");
    return {NumbersOf(key, sourceName, isPrivate ? std::nullopt : raw),
            isPrivate ? "private key" : "public key",
            {}};
}

// PEM: the first key or certificate block is the one, read alone; the others are only counted.
TRsaPublicKeySource ReadPem(const std::string& data, const std::vector<TPemBlockText>& blocks,
                            const std::string& sourceName, const std::optional<std::string>& passphrase) {
    const auto first = std::find_if(blocks.begin(), blocks.end(),
                                    [](const TPemBlockText& b) { return IsCandidateBlock(b.Name); });
    if (first == blocks.end())
        throw EKeyFormatError(Quoted(sourceName) + " holds no RSA public key, private key or certificate");
    const std::string where =
        "PEM block " + std::to_string(first - blocks.begin() + 1) + " (" + first->Name + ")";
    const std::string text = data.substr(first->Begin, first->End - first->Begin);
    TStoreReader reader(text, passphrase, 0);
    const TStoreInfo info = FirstKeyOrCertificate(reader, passphrase, sourceName, where);
    if (info == nullptr)
        throw EKeyFormatError("The " + where + " of " + Quoted(sourceName) +
                              " cannot be read: " + LastReason());
    const std::optional<std::string> raw =
        first->Name == "PUBLIC KEY"       ? RsaPublicKeyOfSpki(PemBlockData(text))
        : first->Name == "RSA PUBLIC KEY" ? std::optional(PemBlockData(text))
                                          : std::nullopt;
    TRsaPublicKeySource source = TakeKey(info.get(), sourceName, raw);
    const std::size_t candidates = static_cast<std::size_t>(std::count_if(
        blocks.begin(), blocks.end(), [](const TPemBlockText& b) { return IsCandidateBlock(b.Name); }));
    if (candidates > 1)
        source.Notes.insert(source.Notes.begin(), Quoted(sourceName) + " holds " +
                                                      std::to_string(candidates) +
                                                      " keys or certificates; the first is used: the " +
                                                      source.Holder + " in " + where);
    return source;
}

// True when the object `info` that the store read from the DER `data` takes all of it. A
// certificate keeps its encoding; a key is parsed once more to see where it ends (a public key's
// encoding is compared whole where its numbers are checked).
bool IsWholeDer(const std::string& data, const OSSL_STORE_INFO* info) {
    const long length = static_cast<long>(data.size());
    switch (OSSL_STORE_INFO_get_type(info)) {
    case OSSL_STORE_INFO_CERT:
        return i2d_X509(OSSL_STORE_INFO_get0_CERT(info), nullptr) == length;
    case OSSL_STORE_INFO_PKEY: {
        const unsigned char* cursor = Bytes(data);
        EVP_PKEY* key = d2i_AutoPrivateKey(nullptr, &cursor, length);
        const bool whole = key != nullptr && cursor == Bytes(data) + data.size();
        EVP_PKEY_free(key);
        if (whole)
            return true;
        cursor = Bytes(data); // an encrypted PKCS#8 key
        X509_SIG* sealed = d2i_X509_SIG(nullptr, &cursor, length);
        const bool wholeSealed = sealed != nullptr && cursor == Bytes(data) + data.size();
        X509_SIG_free(sealed);
        ERR_clear_error();
        return wholeSealed;
    }
    default:
        return true;
    }
}

// DER: one object, nothing after it. A bare PKCS#1 RSAPublicKey carries no type, and the store reads
// its two INTEGERs as parameters; read as a public key, it is one.
TRsaPublicKeySource ReadDer(const std::string& data, const std::string& sourceName,
                            const std::optional<std::string>& passphrase) {
    const std::string none =
        Quoted(sourceName) + " holds no RSA public key, private key or certificate in PEM or DER form";
    for (const int expected : {0, OSSL_STORE_INFO_PUBKEY}) {
        TStoreReader reader(data, passphrase, expected);
        TStoreInfo info = reader.AtEnd() ? nullptr : reader.Next();
        if (info == nullptr) {
            if (reader.PassphraseAsked())
                RaisePassphraseError(passphrase, sourceName);
            throw EKeyFormatError(none);
        }
        if (OSSL_STORE_INFO_get_type(info.get()) == OSSL_STORE_INFO_PARAMS)
            continue;
        ERR_clear_error();
        if (!reader.AtEnd() && (reader.Next() != nullptr || !reader.AtEnd() || ERR_peek_error() != 0))
            throw EKeyFormatError(Quoted(sourceName) + " holds more than one key or certificate in DER form");
        if (!IsWholeDer(data, info.get()))
            throw EKeyFormatError(
                Quoted(sourceName) + " holds bytes after its " +
                (OSSL_STORE_INFO_get_type(info.get()) == OSSL_STORE_INFO_CERT ? "certificate" : "key"));
        const std::optional<std::string> raw = RsaPublicKeyOfSpki(data).value_or(data);
        return TakeKey(info.get(), sourceName, raw);
    }
    throw EKeyFormatError(none);
}

} // namespace

TRsaPublicKeySource ReadRsaPublicKey(const std::string& data, const std::string& sourceName,
                                     const std::optional<std::string>& passphrase) {
    const TErrorQueueScope errors;
    if (data.empty())
        throw EKeyFormatError(Quoted(sourceName) + " is empty");
    if (data.size() > INT_MAX)
        throw EKeyFormatError(Quoted(sourceName) + " is too large to hold a key");
    const std::vector<TPemBlockText> blocks = PemBlockTexts(data);
    return blocks.empty() ? ReadDer(data, sourceName, passphrase)
                          : ReadPem(data, blocks, sourceName, passphrase);
}

} // namespace zarn
