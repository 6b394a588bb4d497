// The signature interface of the programs: each call is handed to the signing module, which is
// loaded on the first call and kept for the life of the process. A run that never signs or checks a
// signature never maps libcrypto, whose loading and relocation cost more than a small compile.
//
// The module is looked for next to the program (the build tree), in the modules folder beside it
// (the installed window, in lib/kestrel), in lib/kestrel/modules beside the program's bin folder
// (the installed command line), and then by name, through the library search path.
#include <dlfcn.h>

#include "core/platform/system.h"
#include "core/sign/signing_module.h"

namespace kestrel {

namespace {

struct LoadedModule {
    const SigningModuleTable* table = nullptr;
    std::string error;  // why there is no table
};

LoadedModule loadModule() {
    std::vector<std::string> candidates;
    if (const std::filesystem::path self = CurrentProgramPath(); !self.empty()) {
        const std::filesystem::path folder = self.parent_path();
        candidates.push_back((folder / kSigningModuleFile).string());
        candidates.push_back((folder / "modules" / kSigningModuleFile).string());
        candidates.push_back(
            (folder.parent_path() / "lib" / "kestrel" / "modules" / kSigningModuleFile).string());
    }
    candidates.emplace_back(kSigningModuleFile);

    for (const std::string& candidate : candidates) {
        const bool byName = candidate == kSigningModuleFile;
        std::error_code missing;
        if (!byName && !std::filesystem::exists(candidate, missing)) continue;
        void* handle = ::dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle == nullptr) {
            const char* why = ::dlerror();
            return {nullptr, "this installation of Kestrel has no signing support: " + candidate +
                                 " cannot be loaded (" + (why != nullptr ? why : "unknown error") + ")"};
        }
        // POSIX guarantees that a function's address survives the round trip through void*.
        const auto entry = reinterpret_cast<SigningModuleEntry>(::dlsym(handle, kSigningModuleEntry));
        const SigningModuleTable* table = entry != nullptr ? entry(KESTREL_SIGNING_BUILD) : nullptr;
        if (table == nullptr) {
            ::dlclose(handle);
            return {nullptr, "the signing module " + candidate + " belongs to another build of Kestrel"};
        }
        return {table, {}};
    }
    return {nullptr, "this installation of Kestrel has no signing support"};
}

const LoadedModule& signingModule() {
    static const LoadedModule module = loadModule();
    return module;
}

}  // namespace

HResult computeImageDigest(Bytes file, const SignatureLayout& layout, DigestAlgorithm algorithm,
                           std::vector<std::byte>& digest) {
    const LoadedModule& module = signingModule();
    if (module.table == nullptr) {
        digest.clear();
        return kFail;
    }
    return module.table->computeImageDigest(file, layout, algorithm, digest);
}

HResult signImage(std::vector<std::byte>& image, const SigningOptions& options, SignOutcome& outcome,
                  std::string& error) {
    const LoadedModule& module = signingModule();
    if (module.table == nullptr) {
        outcome = {};
        error = module.error;
        return kFail;
    }
    return module.table->signImage(image, options, outcome, error);
}

HResult inspectSignature(Bytes file, const std::filesystem::path* caFile, SignatureReport& report,
                         std::string& error) {
    const LoadedModule& module = signingModule();
    if (module.table == nullptr) {
        report = {};
        error = module.error;
        return kFail;
    }
    return module.table->inspectSignature(file, caFile, report, error);
}

}  // namespace kestrel
