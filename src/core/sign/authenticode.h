// Authenticode signatures of PE images, built on OpenSSL: the image digest, signing (a PKCS#7
// SignedData over SpcIndirectDataContent, optionally counter-signed by an RFC 3161 time-stamping
// server) and checking a signature against the file.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/certificate_table.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

enum class DigestAlgorithm { kSha1, kSha256, kSha384, kSha512 };

// "sha1", "sha256", "sha384", "sha512". Defined here so that a build without OpenSSL knows them too.
inline std::string_view digestAlgorithmName(DigestAlgorithm algorithm) {
    switch (algorithm) {
        case DigestAlgorithm::kSha1:
            return "sha1";
        case DigestAlgorithm::kSha256:
            return "sha256";
        case DigestAlgorithm::kSha384:
            return "sha384";
        case DigestAlgorithm::kSha512:
            return "sha512";
    }
    return "sha256";
}

// The algorithm of a name, in any case ("SHA256").
inline std::optional<DigestAlgorithm> parseDigestAlgorithm(std::string_view name) {
    for (DigestAlgorithm algorithm : {DigestAlgorithm::kSha1, DigestAlgorithm::kSha256,
                                      DigestAlgorithm::kSha384, DigestAlgorithm::kSha512}) {
        const std::string_view known = digestAlgorithmName(algorithm);
        if (name.size() == known.size() &&
            std::equal(name.begin(), name.end(), known.begin(),
                       [](char a, char b) { return (a >= 'A' && a <= 'Z' ? a + 32 : a) == b; }))
            return algorithm;
    }
    return std::nullopt;
}

// The Authenticode digest of an image: every byte in file order except the CheckSum field, the
// certificate table's directory entry and the certificate table itself. E_FAIL when the digest
// cannot be computed.
HResult computeImageDigest(Bytes file, const SignatureLayout& layout, DigestAlgorithm algorithm,
                           std::vector<std::byte>& digest);

// Where the signer's key and certificates come from. The password (of the PKCS#12 file, or of an
// encrypted PEM key) is passed in; the command line reads it from a file or standard input.
struct SigningCredentials {
    std::filesystem::path pkcs12;       // either this,
    std::filesystem::path certificate;  // or these two
    std::filesystem::path key;
    std::filesystem::path chain;  // more certificates to embed (PEM), optional
    std::string password;
};

struct SigningOptions {
    SigningCredentials credentials;
    DigestAlgorithm digest = DigestAlgorithm::kSha256;
    std::string description;   // SpcSpOpusInfo programName
    std::string url;           // SpcSpOpusInfo moreInfo
    std::string timestampUrl;  // an RFC 3161 server (http://); empty for none
};

// Room to reserve after an image for the padding and a typical certificate table.
inline constexpr std::size_t kSignatureRoom = 256 * 1024;

struct SignOutcome {
    bool replacedSignature = false;  // the image had a certificate table, which was removed first
};

// Signs `image` in memory: an existing certificate table is removed, the image padded with zeros to
// an 8-byte boundary, its digest signed, and the new table appended; directory entry 4 and the
// checksum are set. On failure `image` is unchanged and `error` says why (the time-stamping server
// included). The image grows in place: a caller that reserves room for the table (kSignatureRoom)
// saves a copy of the whole image.
HResult signImage(std::vector<std::byte>& image, const SigningOptions& options, SignOutcome& outcome,
                  std::string& error);

struct SignatureReport {
    bool isSigned = false;
    std::string subject;  // of the signer's certificate, one line
    std::string issuer;
    std::string digestAlgorithm;        // of the embedded image digest
    bool digestMatches = false;         // the embedded image digest equals the file's
    bool signatureValid = false;        // the PKCS#7 signature over the content verifies
    bool timestamped = false;           // an RFC 3161 or Authenticode counter-signature is attached
    std::optional<bool> chainVerified;  // only when a CA file was given
    std::string chainError;
};

// Reads and checks the signature of `file`. E_FAIL with `error` set when the file is no PE image or
// its certificate table or signature cannot be read; an unsigned file is kOk with isSigned false.
// With `caFile`, the signer's chain is verified against the certificates in it.
HResult inspectSignature(Bytes file, const std::filesystem::path* caFile, SignatureReport& report,
                         std::string& error);

}  // namespace kestrel
