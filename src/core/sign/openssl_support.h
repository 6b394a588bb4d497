// Ownership of OpenSSL objects and the small DER pieces Authenticode needs that OpenSSL has no
// type for.
#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::openssl {

template <typename T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* object) const { Free(object); }
};
template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, Deleter<T, Free>>;

inline void freeBio(BIO* bio) {
    BIO_free_all(bio);
}
inline void freeCertificateStack(STACK_OF(X509) * certificates) {
    sk_X509_pop_free(certificates, X509_free);
}
inline void freeBytes(unsigned char* bytes) {
    OPENSSL_free(bytes);
}

using BioPtr = Owned<BIO, freeBio>;
using X509Ptr = Owned<X509, X509_free>;
using KeyPtr = Owned<EVP_PKEY, EVP_PKEY_free>;
using CertificatesPtr = Owned<STACK_OF(X509), freeCertificateStack>;
using Pkcs7Ptr = Owned<PKCS7, PKCS7_free>;
using Pkcs12Ptr = Owned<PKCS12, PKCS12_free>;
using DigestContextPtr = Owned<EVP_MD_CTX, EVP_MD_CTX_free>;
using StorePtr = Owned<X509_STORE, X509_STORE_free>;
using StoreContextPtr = Owned<X509_STORE_CTX, X509_STORE_CTX_free>;
using X509SigPtr = Owned<X509_SIG, X509_SIG_free>;
using TsRequestPtr = Owned<TS_REQ, TS_REQ_free>;
using TsResponsePtr = Owned<TS_RESP, TS_RESP_free>;
using TsMessageImprintPtr = Owned<TS_MSG_IMPRINT, TS_MSG_IMPRINT_free>;
using TsVerifyContextPtr = Owned<TS_VERIFY_CTX, TS_VERIFY_CTX_free>;
using AlgorithmPtr = Owned<X509_ALGOR, X509_ALGOR_free>;
using IntegerPtr = Owned<ASN1_INTEGER, ASN1_INTEGER_free>;
using Asn1StringPtr = Owned<ASN1_STRING, ASN1_STRING_free>;
using DerPtr = Owned<unsigned char, freeBytes>;

// The oldest error in OpenSSL's queue as text (the queue is emptied), or `fallback` when it is empty.
inline std::string takeError(std::string_view fallback) {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return std::string(fallback);
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return std::string(fallback) + " (" + text + ")";
}

// DER: a tag and the definite length of `content`, then the content.
inline void appendDer(std::vector<std::uint8_t>& out, std::uint8_t tag,
                      const std::vector<std::uint8_t>& content) {
    out.push_back(tag);
    const std::size_t length = content.size();
    if (length < 0x80) {
        out.push_back(static_cast<std::uint8_t>(length));
    } else {
        std::vector<std::uint8_t> lengthBytes;
        for (std::size_t rest = length; rest != 0; rest >>= 8)
            lengthBytes.insert(lengthBytes.begin(), static_cast<std::uint8_t>(rest & 0xFF));
        out.push_back(static_cast<std::uint8_t>(0x80 | lengthBytes.size()));
        out.insert(out.end(), lengthBytes.begin(), lengthBytes.end());
    }
    out.insert(out.end(), content.begin(), content.end());
}
inline std::vector<std::uint8_t> der(std::uint8_t tag, const std::vector<std::uint8_t>& content) {
    std::vector<std::uint8_t> out;
    appendDer(out, tag, content);
    return out;
}

// The DER encoding of any OpenSSL object with an i2d function; empty on failure.
template <typename T>
std::vector<std::uint8_t> encode(T* object, int (*i2d)(T*, unsigned char**)) {
    unsigned char* bytes = nullptr;
    const int length = i2d(object, &bytes);
    if (length <= 0) return {};
    DerPtr owned(bytes);
    return std::vector<std::uint8_t>(bytes, bytes + length);
}
template <typename T>
std::vector<std::uint8_t> encode(const T* object, int (*i2d)(const T*, unsigned char**)) {
    unsigned char* bytes = nullptr;
    const int length = i2d(object, &bytes);
    if (length <= 0) return {};
    DerPtr owned(bytes);
    return std::vector<std::uint8_t>(bytes, bytes + length);
}

// The numeric identifier of an object identifier OpenSSL may not know by name (created once).
inline int objectNid(const char* oid, const char* shortName, const char* longName) {
    int nid = OBJ_txt2nid(oid);
    if (nid == NID_undef) nid = OBJ_create(oid, shortName, longName);
    return nid;
}

}  // namespace kestrel::openssl
