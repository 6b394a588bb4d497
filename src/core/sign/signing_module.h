// The boundary between the programs and the signing module. The signing code and OpenSSL's
// libcrypto live in a module of their own (libkestrel-signing.so), which a program loads the first
// time it signs, checks a signature or computes an image digest; every other run starts without
// them. Both sides are built from the same tree, so C++ types may cross: the module refuses to
// hand its table to a program of another build.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/sign/authenticode.h"

namespace kestrel {

struct SigningModuleTable {
    HResult (*computeImageDigest)(Bytes file, const SignatureLayout& layout, DigestAlgorithm algorithm,
                                  std::vector<std::byte>& digest);
    HResult (*signImage)(std::vector<std::byte>& image, const SigningOptions& options, SignOutcome& outcome,
                         std::string& error);
    HResult (*inspectSignature)(Bytes file, const std::filesystem::path* caFile, SignatureReport& report,
                                std::string& error);
};

// The module's file name, and the one symbol it exports: it returns its table when `build` is the
// build it was made by (KESTREL_SIGNING_BUILD), and null otherwise.
inline constexpr const char* kSigningModuleFile = "libkestrel-signing.so";
inline constexpr const char* kSigningModuleEntry = "kestrel_signing_module";
using SigningModuleEntry = const SigningModuleTable* (*)(const char* build);

}  // namespace kestrel
