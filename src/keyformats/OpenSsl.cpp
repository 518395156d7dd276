#include "OpenSsl.h"

namespace zarn::openssl {

[[noreturn]] void RaiseOpenSslError(const std::string& action) {
    char reason[256] = "no reason given";
    if (const unsigned long code = ERR_get_error(); code != 0)
        ERR_error_string_n(code, reason, sizeof reason);
    ERR_clear_error();
    throw Exception("OpenSSL could not " + action + ": " + reason);
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

} // namespace zarn::openssl
