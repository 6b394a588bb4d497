// The signature interface of a build without OpenSSL (the Windows command line): the digest names
// are known, so that the command line checks its arguments as usual, but signing, checking and
// digests are refused with a message that says this build cannot do them.
#include <algorithm>

#include "core/sign/authenticode.h"

namespace kestrel {

namespace {

constexpr const char* kNoSigning = "this build of Kestrel has no signing support (built without OpenSSL)";

}  // namespace

std::string_view digestAlgorithmName(DigestAlgorithm algorithm) {
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

std::optional<DigestAlgorithm> parseDigestAlgorithm(std::string_view name) {
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

HResult computeImageDigest(Bytes, const SignatureLayout&, DigestAlgorithm, std::vector<std::byte>& digest) {
    digest.clear();
    return kFail;
}

HResult signImage(std::vector<std::byte>&, const SigningOptions&, SignOutcome& outcome, std::string& error) {
    outcome = {};
    error = kNoSigning;
    return kFail;
}

HResult inspectSignature(Bytes, const std::filesystem::path*, SignatureReport& report, std::string& error) {
    report = {};
    error = kNoSigning;
    return kFail;
}

}  // namespace kestrel
