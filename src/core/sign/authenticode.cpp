#include "core/sign/authenticode.h"

#include <openssl/http.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "core/pe/pe_layout.h"
#include "core/sign/openssl_support.h"

namespace kestrel {

using namespace openssl;

namespace {

// Authenticode's object identifiers.
constexpr const char* kSpcIndirectDataOid = "1.3.6.1.4.1.311.2.1.4";
constexpr const char* kSpcStatementTypeOid = "1.3.6.1.4.1.311.2.1.11";
constexpr const char* kSpcSpOpusInfoOid = "1.3.6.1.4.1.311.2.1.12";
constexpr const char* kSpcRfc3161Oid = "1.3.6.1.4.1.311.3.3.1";

// DER of OID 1.3.6.1.4.1.311.2.1.15 (SPC_PE_IMAGE_DATA).
const std::vector<std::uint8_t> kSpcPeImageDataOidDer = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                                         0x01, 0x82, 0x37, 0x02, 0x01, 0x0F};
// DER of OID 1.3.6.1.4.1.311.2.1.21 (individual code signing).
const std::vector<std::uint8_t> kIndividualCodeSigningOidDer = {0x06, 0x0A, 0x2B, 0x06, 0x01, 0x04,
                                                                0x01, 0x82, 0x37, 0x02, 0x01, 0x15};

const EVP_MD* messageDigest(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::kSha1:
            return EVP_sha1();
        case DigestAlgorithm::kSha256:
            return EVP_sha256();
        case DigestAlgorithm::kSha384:
            return EVP_sha384();
        case DigestAlgorithm::kSha512:
            return EVP_sha512();
    }
    return EVP_sha256();
}

std::optional<DigestAlgorithm> algorithmOfNid(int nid) {
    switch (nid) {
        case NID_sha1:
            return DigestAlgorithm::kSha1;
        case NID_sha256:
            return DigestAlgorithm::kSha256;
        case NID_sha384:
            return DigestAlgorithm::kSha384;
        case NID_sha512:
            return DigestAlgorithm::kSha512;
        default:
            return std::nullopt;
    }
}

// UTF-8 → big-endian UTF-16 code units for a BMPString (characters beyond the BMP as surrogates).
std::vector<std::uint8_t> bmpString(std::string_view text) {
    std::vector<std::uint8_t> out;
    auto put = [&](std::uint32_t unit) {
        out.push_back(static_cast<std::uint8_t>(unit >> 8));
        out.push_back(static_cast<std::uint8_t>(unit & 0xFF));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        std::uint32_t code = lead;
        std::size_t extra = 0;
        if (lead >= 0xF0) {
            code = lead & 0x07;
            extra = 3;
        } else if (lead >= 0xE0) {
            code = lead & 0x0F;
            extra = 2;
        } else if (lead >= 0xC0) {
            code = lead & 0x1F;
            extra = 1;
        } else if (lead >= 0x80) {
            code = 0xFFFD;
        }
        ++i;
        for (std::size_t k = 0; k < extra && i < text.size(); ++k, ++i)
            code = (code << 6) | (static_cast<std::uint8_t>(text[i]) & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            put(0xD800 | (code >> 10));
            put(0xDC00 | (code & 0x3FF));
        } else {
            put(code);
        }
    }
    return out;
}

std::vector<std::uint8_t> bytesOf(std::string_view text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// SpcIndirectDataContent ::= SEQUENCE {
//     data          SEQUENCE { type OBJECT IDENTIFIER (SPC_PE_IMAGE_DATA), value SpcPeImageData },
//     messageDigest DigestInfo }
// SpcPeImageData ::= SEQUENCE { flags BIT STRING, file [0] EXPLICIT SpcLink }, where the link is
// the customary file name "<<<Obsolete>>>" (SpcLink file [2] → SpcString unicode [0]).
std::vector<std::uint8_t> indirectDataContent(DigestAlgorithm algorithm,
                                              const std::vector<std::byte>& digest) {
    std::vector<std::uint8_t> peImageData = {0x03, 0x01, 0x00};
    appendDer(peImageData, 0xA0, der(0xA2, der(0x80, bmpString("<<<Obsolete>>>"))));
    std::vector<std::uint8_t> attribute = kSpcPeImageDataOidDer;
    appendDer(attribute, 0x30, peImageData);

    X509SigPtr digestInfo(X509_SIG_new());
    if (!digestInfo) return {};
    X509_ALGOR* digestAlgorithm = nullptr;
    ASN1_OCTET_STRING* digestValue = nullptr;
    X509_SIG_getm(digestInfo.get(), &digestAlgorithm, &digestValue);
    if (X509_ALGOR_set0(digestAlgorithm, OBJ_nid2obj(EVP_MD_get_type(messageDigest(algorithm))), V_ASN1_NULL,
                        nullptr) != 1 ||
        ASN1_OCTET_STRING_set(digestValue, reinterpret_cast<const unsigned char*>(digest.data()),
                              static_cast<int>(digest.size())) != 1)
        return {};
    const std::vector<std::uint8_t> digestInfoDer = encode<X509_SIG>(digestInfo.get(), i2d_X509_SIG);
    if (digestInfoDer.empty()) return {};

    std::vector<std::uint8_t> content;
    appendDer(content, 0x30, attribute);
    content.insert(content.end(), digestInfoDer.begin(), digestInfoDer.end());
    return der(0x30, content);
}

// SpcSpOpusInfo ::= SEQUENCE { programName [0] EXPLICIT SpcString OPTIONAL,
//                              moreInfo [1] EXPLICIT SpcLink OPTIONAL }
std::vector<std::uint8_t> opusInfo(const std::string& description, const std::string& url) {
    std::vector<std::uint8_t> content;
    if (!description.empty()) appendDer(content, 0xA0, der(0x80, bmpString(description)));
    if (!url.empty()) appendDer(content, 0xA1, der(0x80, bytesOf(url)));
    return der(0x30, content);
}

// The length of a DER element's tag and length octets.
std::optional<long> derHeaderLength(const unsigned char* data, long size, long* contentLength = nullptr) {
    const unsigned char* cursor = data;
    long length = 0;
    int tag = 0;
    int tagClass = 0;
    const int result = ASN1_get_object(&cursor, &length, &tag, &tagClass, size);
    if (result & 0x80) return std::nullopt;
    if (contentLength != nullptr) *contentLength = length;
    return static_cast<long>(cursor - data);
}

bool addSequenceAttribute(PKCS7_SIGNER_INFO* signer, int nid, const std::vector<std::uint8_t>& value,
                          bool authenticated) {
    Asn1StringPtr sequence(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    if (!sequence || ASN1_STRING_set(sequence.get(), value.data(), static_cast<int>(value.size())) != 1)
        return false;
    const int added = authenticated ? PKCS7_add_signed_attribute(signer, nid, V_ASN1_SEQUENCE, sequence.get())
                                    : PKCS7_add_attribute(signer, nid, V_ASN1_SEQUENCE, sequence.get());
    if (added != 1) return false;
    static_cast<void>(sequence.release());  // the attribute owns it now
    return true;
}

BioPtr openForReading(const std::filesystem::path& path) {
    return BioPtr(BIO_new_file(path.c_str(), "rb"));
}

bool loadCertificates(const std::filesystem::path& path, STACK_OF(X509) * into, std::string& error) {
    BioPtr bio = openForReading(path);
    if (!bio) {
        error = takeError("cannot read the certificate file '" + path.string() + "'");
        return false;
    }
    int count = 0;
    while (X509* certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        if (sk_X509_push(into, certificate) == 0) {
            X509_free(certificate);
            error = "out of memory";
            return false;
        }
        ++count;
    }
    ERR_clear_error();  // the end of the file reads as "no start line"
    if (count == 0) {
        error = "no PEM certificate in '" + path.string() + "'";
        return false;
    }
    return true;
}

struct Signer {
    KeyPtr key;
    X509Ptr certificate;
    CertificatesPtr chain{sk_X509_new_null()};
};

HResult loadSigner(const SigningCredentials& credentials, Signer& signer, std::string& error) {
    if (!signer.chain) {
        error = "out of memory";
        return kOutOfMemory;
    }
    if (!credentials.pkcs12.empty()) {
        BioPtr bio = openForReading(credentials.pkcs12);
        if (!bio) {
            error = takeError("cannot read the PKCS#12 file '" + credentials.pkcs12.string() + "'");
            return kFail;
        }
        Pkcs12Ptr pkcs12(d2i_PKCS12_bio(bio.get(), nullptr));
        if (!pkcs12) {
            error = takeError("'" + credentials.pkcs12.string() + "' is not a PKCS#12 file");
            return kFail;
        }
        EVP_PKEY* key = nullptr;
        X509* certificate = nullptr;
        STACK_OF(X509)* more = nullptr;
        if (PKCS12_parse(pkcs12.get(), credentials.password.c_str(), &key, &certificate, &more) != 1) {
            error = takeError("cannot open the PKCS#12 file '" + credentials.pkcs12.string() +
                              "' (wrong password?)");
            return kFail;
        }
        signer.key.reset(key);
        signer.certificate.reset(certificate);
        CertificatesPtr owned(more);
        while (owned && sk_X509_num(owned.get()) > 0)
            sk_X509_push(signer.chain.get(), sk_X509_shift(owned.get()));
        if (!signer.key || !signer.certificate) {
            error = "the PKCS#12 file '" + credentials.pkcs12.string() + "' holds no key and certificate";
            return kFail;
        }
    } else {
        BioPtr certificateBio = openForReading(credentials.certificate);
        if (certificateBio)
            signer.certificate.reset(PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr));
        if (!signer.certificate) {
            error =
                takeError("cannot read a PEM certificate from '" + credentials.certificate.string() + "'");
            return kFail;
        }
        BioPtr keyBio = openForReading(credentials.key);
        // The password is passed as the callback data, so OpenSSL never asks on the terminal.
        if (keyBio)
            signer.key.reset(PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr,
                                                     const_cast<char*>(credentials.password.c_str())));
        if (!signer.key) {
            error = takeError("cannot read a PEM private key from '" + credentials.key.string() +
                              "' (encrypted without --password-file?)");
            return kFail;
        }
    }
    if (X509_check_private_key(signer.certificate.get(), signer.key.get()) != 1) {
        error = takeError("the private key does not belong to the signer's certificate");
        return kFail;
    }
    if (!credentials.chain.empty() && !loadCertificates(credentials.chain, signer.chain.get(), error))
        return kFail;
    return kOk;
}

HResult postTimestampQuery(const std::string& url, const std::vector<std::uint8_t>& query,
                           std::vector<std::uint8_t>& reply, std::string& error) {
    char* host = nullptr;
    char* port = nullptr;
    char* path = nullptr;
    char* queryPart = nullptr;
    int useTls = 0;
    if (OSSL_HTTP_parse_url(url.c_str(), &useTls, nullptr, &host, &port, nullptr, &path, &queryPart,
                            nullptr) != 1) {
        error = takeError("'" + url + "' is not a time-stamping server address");
        return kFail;
    }
    DerPtr hostOwner(reinterpret_cast<unsigned char*>(host));
    DerPtr portOwner(reinterpret_cast<unsigned char*>(port));
    DerPtr pathOwner(reinterpret_cast<unsigned char*>(path));
    DerPtr queryOwner(reinterpret_cast<unsigned char*>(queryPart));
    if (useTls != 0) {
        error = "time-stamping server '" + url + "': only http:// addresses are supported";
        return kFail;
    }
    // One plain connection attempt first: OpenSSL's HTTP client retries a refused connection until
    // its timeout, which would keep a build waiting for a server that is not there.
    BioPtr probe(BIO_new_connect(host));
    if (!probe || BIO_set_conn_port(probe.get(), port) != 1 || BIO_do_connect(probe.get()) <= 0) {
        error = takeError("the time-stamping server '" + url + "' could not be reached");
        return kFail;
    }
    probe.reset();
    std::string fullPath = path != nullptr ? path : "/";
    if (queryPart != nullptr && *queryPart != '\0') fullPath += std::string("?") + queryPart;
    BioPtr request(BIO_new_mem_buf(query.data(), static_cast<int>(query.size())));
    if (!request) {
        error = "out of memory";
        return kOutOfMemory;
    }
    constexpr int kTimeoutSeconds = 15;
    constexpr std::size_t kMaxReply = 1 << 20;
    BioPtr response(OSSL_HTTP_transfer(nullptr, host, port, fullPath.c_str(), 0, nullptr, nullptr, nullptr,
                                       nullptr, nullptr, nullptr, 0, nullptr, "application/timestamp-query",
                                       request.get(), nullptr, 1, kMaxReply, kTimeoutSeconds, 0));
    if (!response) {
        error = takeError("the time-stamping server '" + url + "' could not be reached or sent no reply");
        return kFail;
    }
    std::array<unsigned char, 4096> chunk{};
    for (;;) {
        const int read = BIO_read(response.get(), chunk.data(), static_cast<int>(chunk.size()));
        if (read <= 0) break;
        reply.insert(reply.end(), chunk.begin(), chunk.begin() + read);
    }
    ERR_clear_error();
    return kOk;
}

// Asks the server for a time stamp over the signature value and attaches the token as the unsigned
// attribute Windows reads (an RFC 3161 counter-signature).
HResult addTimestamp(PKCS7_SIGNER_INFO* signer, DigestAlgorithm algorithm, const std::string& url,
                     std::string& error) {
    const EVP_MD* md = messageDigest(algorithm);
    std::array<unsigned char, EVP_MAX_MD_SIZE> hash{};
    unsigned int hashLength = 0;
    if (EVP_Digest(signer->enc_digest->data, static_cast<std::size_t>(signer->enc_digest->length),
                   hash.data(), &hashLength, md, nullptr) != 1) {
        error = takeError("cannot hash the signature");
        return kFail;
    }
    TsRequestPtr request(TS_REQ_new());
    TsMessageImprintPtr imprint(TS_MSG_IMPRINT_new());
    AlgorithmPtr hashAlgorithm(X509_ALGOR_new());
    std::array<unsigned char, 8> nonceBytes{};
    if (!request || !imprint || !hashAlgorithm || RAND_bytes(nonceBytes.data(), nonceBytes.size()) != 1) {
        error = takeError("cannot build the time-stamp request");
        return kFail;
    }
    nonceBytes[0] &= 0x7F;  // a positive INTEGER
    Owned<BIGNUM, BN_free> nonceNumber(BN_bin2bn(nonceBytes.data(), nonceBytes.size(), nullptr));
    IntegerPtr nonce(nonceNumber ? BN_to_ASN1_INTEGER(nonceNumber.get(), nullptr) : nullptr);
    if (!nonce ||
        X509_ALGOR_set0(hashAlgorithm.get(), OBJ_nid2obj(EVP_MD_get_type(md)), V_ASN1_NULL, nullptr) != 1 ||
        TS_MSG_IMPRINT_set_algo(imprint.get(), hashAlgorithm.get()) != 1 ||
        TS_MSG_IMPRINT_set_msg(imprint.get(), hash.data(), static_cast<int>(hashLength)) != 1 ||
        TS_REQ_set_version(request.get(), 1) != 1 ||
        TS_REQ_set_msg_imprint(request.get(), imprint.get()) != 1 ||
        TS_REQ_set_nonce(request.get(), nonce.get()) != 1 || TS_REQ_set_cert_req(request.get(), 1) != 1) {
        error = takeError("cannot build the time-stamp request");
        return kFail;
    }
    const std::vector<std::uint8_t> query = encode<TS_REQ>(request.get(), i2d_TS_REQ);
    std::vector<std::uint8_t> reply;
    if (HResult hr = postTimestampQuery(url, query, reply, error); hr.failed()) return hr;

    const unsigned char* cursor = reply.data();
    TsResponsePtr response(d2i_TS_RESP(nullptr, &cursor, static_cast<long>(reply.size())));
    if (!response) {
        error = takeError("the time-stamping server '" + url + "' sent no time-stamp response");
        return kFail;
    }
    // The reply must grant the request and answer this very imprint and nonce.
    TsVerifyContextPtr verify(TS_REQ_to_TS_VERIFY_CTX(request.get(), nullptr));
    if (!verify) {
        error = takeError("cannot check the time-stamp response");
        return kFail;
    }
    TS_VERIFY_CTX_set_flags(verify.get(), TS_VFY_VERSION | TS_VFY_IMPRINT | TS_VFY_NONCE);
    if (TS_RESP_verify_response(verify.get(), response.get()) != 1) {
        error =
            takeError("the time-stamping server '" + url + "' refused the request or answered another one");
        return kFail;
    }
    PKCS7* token = TS_RESP_get_token(response.get());
    const std::vector<std::uint8_t> tokenDer =
        token != nullptr ? encode<PKCS7>(token, i2d_PKCS7) : std::vector<std::uint8_t>{};
    const int nid = objectNid(kSpcRfc3161Oid, "spcRfc3161", "SPC RFC3161 timestamp");
    if (tokenDer.empty() || !addSequenceAttribute(signer, nid, tokenDer, false)) {
        error = takeError("cannot attach the time stamp");
        return kFail;
    }
    return kOk;
}

// The PKCS#7 SignedData of an image digest, DER-encoded.
HResult buildSignature(const Signer& signer, const SigningOptions& options,
                       const std::vector<std::byte>& digest, std::vector<std::uint8_t>& signature,
                       std::string& error) {
    const std::vector<std::uint8_t> content = indirectDataContent(options.digest, digest);
    long contentLength = 0;
    const auto header =
        content.empty() ? std::nullopt
                        : derHeaderLength(content.data(), static_cast<long>(content.size()), &contentLength);
    if (!header) {
        error = takeError("cannot encode the signed content");
        return kFail;
    }
    Pkcs7Ptr pkcs7(PKCS7_new());
    if (!pkcs7 || PKCS7_set_type(pkcs7.get(), NID_pkcs7_signed) != 1) {
        error = takeError("cannot create the signature");
        return kFail;
    }
    PKCS7_SIGNER_INFO* info = PKCS7_add_signature(pkcs7.get(), signer.certificate.get(), signer.key.get(),
                                                  messageDigest(options.digest));
    if (info == nullptr) {
        error = takeError("the key cannot sign with " + std::string(digestAlgorithmName(options.digest)));
        return kFail;
    }
    const int statementNid = objectNid(kSpcStatementTypeOid, "spcStatementType", "SPC statement type");
    const int opusNid = objectNid(kSpcSpOpusInfoOid, "spcSpOpusInfo", "SPC SP opus info");
    ASN1_OBJECT* contentType = OBJ_txt2obj(kSpcIndirectDataOid, 1);
    if (contentType == nullptr ||
        PKCS7_add_signed_attribute(info, NID_pkcs9_contentType, V_ASN1_OBJECT, contentType) != 1) {
        ASN1_OBJECT_free(contentType);
        error = takeError("cannot add the content type");
        return kFail;
    }
    if (!addSequenceAttribute(info, statementNid, der(0x30, kIndividualCodeSigningOidDer), true) ||
        !addSequenceAttribute(info, opusNid, opusInfo(options.description, options.url), true)) {
        error = takeError("cannot add the signed attributes");
        return kFail;
    }
    if (PKCS7_add_certificate(pkcs7.get(), signer.certificate.get()) != 1) {
        error = takeError("cannot add the certificate");
        return kFail;
    }
    for (int i = 0; i < sk_X509_num(signer.chain.get()); ++i) {
        if (PKCS7_add_certificate(pkcs7.get(), sk_X509_value(signer.chain.get(), i)) != 1) {
            error = takeError("cannot add a chain certificate");
            return kFail;
        }
    }
    // The message digest attribute covers the content's value without its SEQUENCE header.
    if (PKCS7_content_new(pkcs7.get(), NID_pkcs7_data) != 1) {
        error = takeError("cannot create the signature");
        return kFail;
    }
    {
        BioPtr stream(PKCS7_dataInit(pkcs7.get(), nullptr));
        if (!stream ||
            BIO_write(stream.get(), content.data() + *header, static_cast<int>(contentLength)) !=
                static_cast<int>(contentLength) ||
            PKCS7_dataFinal(pkcs7.get(), stream.get()) != 1) {
            error = takeError("cannot sign");
            return kFail;
        }
    }
    // Then the data is replaced by the SpcIndirectDataContent itself, typed as such.
    Pkcs7Ptr inner(PKCS7_new());
    Asn1StringPtr sequence(ASN1_STRING_type_new(V_ASN1_SEQUENCE));
    if (!inner || !sequence ||
        ASN1_STRING_set(sequence.get(), content.data(), static_cast<int>(content.size())) != 1) {
        error = takeError("cannot create the signature");
        return kFail;
    }
    ASN1_OBJECT_free(inner->type);
    inner->type = OBJ_txt2obj(kSpcIndirectDataOid, 1);
    inner->d.other = ASN1_TYPE_new();
    if (inner->type == nullptr || inner->d.other == nullptr) {
        error = takeError("cannot create the signature");
        return kFail;
    }
    ASN1_TYPE_set(inner->d.other, V_ASN1_SEQUENCE, sequence.release());
    if (PKCS7_set_content(pkcs7.get(), inner.get()) != 1) {
        error = takeError("cannot create the signature");
        return kFail;
    }
    static_cast<void>(inner.release());

    if (!options.timestampUrl.empty())
        if (HResult hr = addTimestamp(info, options.digest, options.timestampUrl, error); hr.failed())
            return hr;

    signature = encode<PKCS7>(pkcs7.get(), i2d_PKCS7);
    if (signature.empty()) {
        error = takeError("cannot encode the signature");
        return kFail;
    }
    return kOk;
}

std::string nameText(const X509_NAME* name) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    X509_NAME_print_ex(bio.get(), name, 0, (XN_FLAG_RFC2253 & ~XN_FLAG_DN_REV & ~ASN1_STRFLGS_ESC_MSB));
    char* data = nullptr;
    const long length = BIO_get_mem_data(bio.get(), &data);
    return length > 0 ? std::string(data, static_cast<std::size_t>(length)) : std::string();
}

}  // namespace

HResult computeImageDigest(Bytes file, const SignatureLayout& layout, DigestAlgorithm algorithm,
                           std::vector<std::byte>& digest) {
    // The three skipped ranges in file order: the table lies after the headers.
    struct Range {
        std::uint64_t start;
        std::uint64_t size;
    };
    std::vector<Range> skipped = {{layout.checksumOffset, 4}, {layout.directoryOffset, kDataDirectorySize}};
    if (layout.hasTable()) skipped.push_back({layout.tableOffset, layout.tableSize});
    DigestContextPtr context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), messageDigest(algorithm), nullptr) != 1) return kFail;
    std::uint64_t position = 0;
    for (const Range& range : skipped) {
        if (range.start < position || range.start > file.size() || range.size > file.size() - range.start)
            return kFail;
        if (EVP_DigestUpdate(context.get(), file.data() + position,
                             static_cast<std::size_t>(range.start - position)) != 1)
            return kFail;
        position = range.start + range.size;
    }
    if (EVP_DigestUpdate(context.get(), file.data() + position,
                         static_cast<std::size_t>(file.size() - position)) != 1)
        return kFail;
    std::array<unsigned char, EVP_MAX_MD_SIZE> value{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), value.data(), &length) != 1) return kFail;
    digest.resize(length);
    std::memcpy(digest.data(), value.data(), length);
    return kOk;
}

HResult signImage(std::vector<std::byte>& image, const SigningOptions& options, SignOutcome& outcome,
                  std::string& error) {
    outcome = {};
    Signer signer;
    if (HResult hr = loadSigner(options.credentials, signer, error); hr.failed()) return hr;

    SignatureLayout layout;
    if (readSignatureLayout(asBytes(image), layout).failed()) {
        error = "not a PE image with a certificate directory, or its certificate table lies outside the file";
        return kFail;
    }
    // The image is signed where it lies (a copy of a whole program costs as much as hashing it).
    // Until it is complete, a failure puts back what was changed: the whole image when an old table
    // had to go, otherwise the appended bytes and the header fields the signature sets.
    std::vector<std::byte> original;
    if (layout.hasTable()) original = image;
    const std::size_t originalSize = image.size();
    std::array<std::byte, 4> originalChecksum{};
    std::array<std::byte, kDataDirectorySize> originalDirectory{};
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(layout.checksumOffset), 4,
                originalChecksum.begin());
    std::copy_n(image.begin() + static_cast<std::ptrdiff_t>(layout.directoryOffset), kDataDirectorySize,
                originalDirectory.begin());
    auto restore = [&] {
        if (!original.empty()) {
            image = std::move(original);
            return;
        }
        image.resize(originalSize);
        std::copy(originalChecksum.begin(), originalChecksum.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(layout.checksumOffset));
        std::copy(originalDirectory.begin(), originalDirectory.end(),
                  image.begin() + static_cast<std::ptrdiff_t>(layout.directoryOffset));
    };

    bool zeroedInPlace = false;
    const HResult stripped = stripCertificateTable(image, zeroedInPlace);
    if (stripped.failed()) {
        restore();
        error = "the certificate table cannot be removed";
        return stripped;
    }
    outcome.replacedSignature = stripped == kOk;
    // The table starts on an 8-byte boundary; the zeros before it belong to the signed image.
    image.resize((image.size() + kCertificateAlignment - 1) / kCertificateAlignment * kCertificateAlignment);
    std::vector<std::byte> digest;
    std::vector<std::uint8_t> signature;
    HResult hr = kOk;
    if (readSignatureLayout(asBytes(image), layout).failed() ||
        computeImageDigest(asBytes(image), layout, options.digest, digest).failed()) {
        error = takeError("cannot compute the image digest");
        hr = kFail;
    } else {
        hr = buildSignature(signer, options, digest, signature, error);
    }
    const std::uint64_t entryLength =
        (kCertificateHeaderSize + signature.size() + kCertificateAlignment - 1) / kCertificateAlignment *
        kCertificateAlignment;
    const std::uint64_t tableOffset = image.size();
    if (hr.succeeded() && tableOffset + entryLength > 0xFFFFFFFFu) {
        error = "the signed file would be larger than 4 GiB";
        hr = kFail;
    }
    if (hr.failed()) {
        restore();
        return hr;
    }
    ByteWriter entry;
    entry.u32(static_cast<std::uint32_t>(entryLength));
    entry.u16(kCertificateRevision2);
    entry.u16(kCertificateTypePkcsSignedData);
    entry.append(Bytes{reinterpret_cast<const std::byte*>(signature.data()), signature.size()});
    entry.alignTo(kCertificateAlignment);
    image.insert(image.end(), entry.bytes().begin(), entry.bytes().end());
    putImageU32(image, layout.directoryOffset, static_cast<std::uint32_t>(tableOffset));
    putImageU32(image, layout.directoryOffset + 4, static_cast<std::uint32_t>(entryLength));
    if (updateImageChecksum(image).failed()) {
        restore();
        error = "cannot compute the checksum";
        return kFail;
    }
    return kOk;
}

HResult inspectSignature(Bytes file, const std::filesystem::path* caFile, SignatureReport& report,
                         std::string& error) {
    report = {};
    SignatureLayout layout;
    std::vector<CertificateEntry> entries;
    if (readSignatureLayout(file, layout).failed()) {
        error = "not a PE image with a certificate directory, or its certificate table lies outside the file";
        return kFail;
    }
    if (readCertificateTable(file, layout, entries).failed()) {
        error =
            "the certificate table is damaged (an entry is shorter than its header or runs past the table)";
        return kFail;
    }
    auto signature = std::find_if(entries.begin(), entries.end(), [](const CertificateEntry& entry) {
        return entry.type == kCertificateTypePkcsSignedData;
    });
    if (signature == entries.end()) return kOk;
    report.isSigned = true;

    const auto* der = reinterpret_cast<const unsigned char*>(signature->data.data());
    Pkcs7Ptr pkcs7(d2i_PKCS7(nullptr, &der, static_cast<long>(signature->data.size())));
    const ASN1_OBJECT* expectedType = OBJ_txt2obj(kSpcIndirectDataOid, 1);
    Owned<ASN1_OBJECT, ASN1_OBJECT_free> expected(const_cast<ASN1_OBJECT*>(expectedType));
    if (!pkcs7 || !PKCS7_type_is_signed(pkcs7.get()) || pkcs7->d.sign == nullptr ||
        pkcs7->d.sign->contents == nullptr || !expected ||
        OBJ_cmp(pkcs7->d.sign->contents->type, expected.get()) != 0 ||
        pkcs7->d.sign->contents->d.other == nullptr ||
        pkcs7->d.sign->contents->d.other->type != V_ASN1_SEQUENCE) {
        error = takeError("the signature is not an Authenticode PKCS#7 SignedData");
        return kFail;
    }
    // SpcIndirectDataContent: skip the SEQUENCE header and the data attribute, read the DigestInfo.
    const ASN1_STRING* content = pkcs7->d.sign->contents->d.other->value.sequence;
    const unsigned char* contentBytes = ASN1_STRING_get0_data(content);
    const long contentSize = ASN1_STRING_length(content);
    long innerLength = 0;
    const auto header = derHeaderLength(contentBytes, contentSize, &innerLength);
    long attributeLength = 0;
    const auto attributeHeader =
        header ? derHeaderLength(contentBytes + *header, contentSize - *header, &attributeLength)
               : std::nullopt;
    X509SigPtr digestInfo;
    if (attributeHeader && attributeLength <= contentSize - *header - *attributeHeader) {
        const unsigned char* cursor = contentBytes + *header + *attributeHeader + attributeLength;
        digestInfo.reset(d2i_X509_SIG(nullptr, &cursor, contentBytes + contentSize - cursor));
    }
    if (!digestInfo) {
        error = takeError("the signed content holds no image digest");
        return kFail;
    }
    const X509_ALGOR* algorithm = nullptr;
    const ASN1_OCTET_STRING* embedded = nullptr;
    X509_SIG_get0(digestInfo.get(), &algorithm, &embedded);
    const ASN1_OBJECT* algorithmObject = nullptr;
    X509_ALGOR_get0(&algorithmObject, nullptr, nullptr, algorithm);
    const int digestNid = OBJ_obj2nid(algorithmObject);
    report.digestAlgorithm = digestNid != NID_undef ? OBJ_nid2sn(digestNid) : "unknown";
    if (auto known = algorithmOfNid(digestNid)) {
        report.digestAlgorithm = std::string(digestAlgorithmName(*known));
        std::vector<std::byte> computed;
        if (computeImageDigest(file, layout, *known, computed).succeeded())
            report.digestMatches =
                static_cast<int>(computed.size()) == ASN1_STRING_length(embedded) &&
                std::memcmp(computed.data(), ASN1_STRING_get0_data(embedded), computed.size()) == 0;
    }

    STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(pkcs7.get());
    PKCS7_SIGNER_INFO* info = infos != nullptr && sk_PKCS7_SIGNER_INFO_num(infos) > 0
                                  ? sk_PKCS7_SIGNER_INFO_value(infos, 0)
                                  : nullptr;
    X509* signerCertificate = info != nullptr ? PKCS7_cert_from_signer_info(pkcs7.get(), info) : nullptr;
    if (signerCertificate != nullptr) {
        report.subject = nameText(X509_get_subject_name(signerCertificate));
        report.issuer = nameText(X509_get_issuer_name(signerCertificate));
    }
    if (info != nullptr) {
        const int rfc3161 = objectNid(kSpcRfc3161Oid, "spcRfc3161", "SPC RFC3161 timestamp");
        report.timestamped = PKCS7_get_attribute(info, rfc3161) != nullptr ||
                             PKCS7_get_attribute(info, NID_pkcs9_countersignature) != nullptr;
    }

    // The signature over the content (the message digest attribute and the signer's signature).
    const long valueLength = header ? contentSize - *header : 0;
    StorePtr emptyStore(X509_STORE_new());
    BioPtr contentBio(header ? BIO_new_mem_buf(contentBytes + *header, static_cast<int>(valueLength))
                             : nullptr);
    // PKCS7_verify copies a memory BIO into a temporary one, which it leaks when the signature's
    // content cannot be read; behind a buffering filter the BIO is read as it is.
    BioPtr signedData(contentBio ? BIO_new(BIO_f_buffer()) : nullptr);
    if (signedData) BIO_push(signedData.get(), contentBio.release());
    report.signatureValid =
        emptyStore && signedData &&
        PKCS7_verify(pkcs7.get(), nullptr, emptyStore.get(), signedData.get(), nullptr, PKCS7_NOVERIFY) == 1;
    ERR_clear_error();

    if (caFile != nullptr) {
        StorePtr store(X509_STORE_new());
        StoreContextPtr context(X509_STORE_CTX_new());
        if (!store || !context || X509_STORE_load_file(store.get(), caFile->c_str()) != 1) {
            error = takeError("cannot read the CA certificates '" + caFile->string() + "'");
            return kFail;
        }
        if (signerCertificate == nullptr) {
            report.chainVerified = false;
            report.chainError = "the signer's certificate is not in the signature";
        } else if (X509_STORE_CTX_init(context.get(), store.get(), signerCertificate, pkcs7->d.sign->cert) !=
                   1) {
            error = takeError("cannot verify the certificate chain");
            return kFail;
        } else {
            // Code signing has no purpose of its own in OpenSSL; the chain and validity are checked.
            X509_STORE_CTX_set_purpose(context.get(), X509_PURPOSE_ANY);
            report.chainVerified = X509_verify_cert(context.get()) == 1;
            if (!*report.chainVerified)
                report.chainError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(context.get()));
        }
        ERR_clear_error();
    }
    return kOk;
}

}  // namespace kestrel
