#include "core/errors/errors.h"
#include "core/pe/project_files.h"

namespace kestrel {

HResult DecompileFile(const std::filesystem::path&, const std::filesystem::path&, std::filesystem::path&) {
    ReportMessage(true, "KsDoc", 1, "import is not available yet");
    return kFail;
}

}  // namespace kestrel
