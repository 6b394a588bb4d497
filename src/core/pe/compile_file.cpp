#include "core/errors/errors.h"
#include "core/pe/project_files.h"

namespace kestrel {

HResult CompileFile(const std::optional<std::filesystem::path>&, const std::filesystem::path&,
                    const std::filesystem::path&, bool) {
    ReportMessage(true, "KsDoc", 1, "compile is not available yet");
    return kFail;
}

}  // namespace kestrel
