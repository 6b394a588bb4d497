// pe-imports [--check] <file>...: prints each file's imported libraries, one a line. With --check
// the exit status is 1 when a file imports a library outside the system's own (the programs of the
// Windows zip must run on a bare system) and 2 when a file cannot be read.
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/import_names.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace {

// Libraries that every Windows 10 has: the system's own DLLs, the C runtime it ships and the
// runtime's API sets.
bool isSystemLibrary(std::string_view name) {
    static constexpr std::string_view kSystem[] = {"kernel32.dll", "user32.dll", "advapi32.dll",
                                                   "shell32.dll",  "ole32.dll",  "msvcrt.dll",
                                                   "ucrtbase.dll"};
    const std::string lower = kestrel::toLowerAscii(name);
    for (std::string_view known : kSystem)
        if (lower == known) return true;
    return lower.starts_with("api-ms-win-crt-") || lower.starts_with("api-ms-win-core-");
}

}  // namespace

int main(int argc, char** argv) {
    bool check = false;
    int status = 0;
    int files = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--check") {
            check = true;
            continue;
        }
        ++files;
        std::vector<std::byte> data;
        std::vector<std::string> names;
        if (kestrel::ReadWholeFile(kestrel::pathFromUtf8(argument), data).failed() ||
            kestrel::readImportedLibraries(kestrel::Bytes(data.data(), data.size()), names).failed()) {
            std::fprintf(stderr, "pe-imports: cannot read the imports of %s\n", argv[i]);
            status = 2;
            continue;
        }
        for (const std::string& name : names) {
            const bool allowed = isSystemLibrary(name);
            std::printf("%s: %s%s\n", argv[i], name.c_str(),
                        check && !allowed ? "  (not a system library)" : "");
            if (check && !allowed && status == 0) status = 1;
        }
    }
    if (files == 0) {
        std::fputs("usage: pe-imports [--check] <file>...\n", stderr);
        return 2;
    }
    return status;
}
