// The pieces of OpenSSL's libcrypto that the key formats share: owning handles, the error queue,
// numbers to and from BIGNUMs, RSA keys built from their numbers, and the encoder. Private to
// this library.
#pragma once

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
#include <openssl/store.h>
#include <openssl/x509.h>

#include <climits>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

namespace zarn::openssl {

// OSSL_STORE_close returns a status; an owner needs a deleter without one.
inline void CloseStore(OSSL_STORE_CTX* store) {
    OSSL_STORE_close(store);
}

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

// Raises Exception with "OpenSSL could not <action>: <reason>" from the error queue.
[[noreturn]] void RaiseOpenSslError(const std::string& action);

// `object`, or RaiseOpenSslError(action) when it is null.
template <typename T>
T* Checked(T* object, const std::string& action) {
    if (object == nullptr)
        RaiseOpenSslError(action);
    return object;
}

inline const unsigned char* Bytes(const std::string& text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

// `name` in double quotes, as error texts name a file.
std::string Quoted(const std::string& name);

// A big-endian number as a BIGNUM, and back (without leading zero bytes).
TBignum BignumOf(const std::string& bytes);
std::string BytesOf(const BIGNUM* value);

// Everything written to the memory BIO `bio`.
std::string MemoryContent(BIO* bio);

// An RSA key from named numbers (OSSL_PKEY_PARAM_RSA_*), as a public key or a key pair (`selection`).
TKey RsaKeyFrom(const std::vector<std::pair<const char*, const std::string*>>& numbers, int selection);

// `key` as an OpenSSL public key; a zero modulus or exponent raises EKeyFormatError.
TKey PublicKeyOf(const TRsaPublicKey& key);

// `key` encoded by OpenSSL's encoder as `structure` in `outputType` ("PEM" or "DER").
std::string Encode(const EVP_PKEY* key, int selection, const char* outputType, const char* structure);

} // namespace zarn::openssl
