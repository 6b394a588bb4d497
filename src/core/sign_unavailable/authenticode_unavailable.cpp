// The signature interface of a build without OpenSSL (the Windows command line): the digest names
// are known, so that the command line checks its arguments as usual, but signing, checking and
// digests are refused with a message that says this build cannot do them.
#include <algorithm>

#include "core/sign/authenticode.h"

namespace kestrel {

namespace {

constexpr const char* kNoSigning = "this build of Kestrel has no signing support (built without OpenSSL)";

}  // namespace

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
