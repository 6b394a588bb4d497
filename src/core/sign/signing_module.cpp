// The signing module's one exported symbol (see signing_module.h).
#include "core/sign/signing_module.h"

#include <cstring>

extern "C" __attribute__((visibility("default"))) const kestrel::SigningModuleTable* kestrel_signing_module(
    const char* build) {
    static const kestrel::SigningModuleTable table{&kestrel::computeImageDigest, &kestrel::signImage,
                                                   &kestrel::inspectSignature};
    if (build == nullptr || std::strcmp(build, KESTREL_SIGNING_BUILD) != 0) return nullptr;
    return &table;
}
