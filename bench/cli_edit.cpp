// The command line's /Edit against what it replaces: one run of `kestrel /Edit` making all four
// kinds of change (icon, file and product version, version strings, a string-table entry) compared
// with one `kestrel /Decompile` plus one `kestrel /Compile` of the same file, all on tmpfs
// (/dev/shm, also as the edit's temporary folder) so that the disk of a shared machine does not
// decide the result.
//
//   bench_cli_edit [KESTREL [FILE]]   default: the kestrel program of this build and shell32.dll
//                                     from the corpus cache (tests/corpus/fetch)
// Goal: edit <= 1.5 x (import + compile).
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "core/platform/files.h"
#include "pe_builder/pe_builder.h"

extern char** environ;

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

// Runs the program with its output thrown away (the compile traces) and no terminal on standard
// input (the compile's copy question takes its default); true when it exits with 0.
bool runQuietly(const std::vector<std::string>& arguments) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    int status = -1;
    if (posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), environ) == 0)
        ::waitpid(child, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

fs::path defaultInput() {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    fs::path root = cache ? fs::path(cache) : fs::path(home ? home : "/tmp") / ".cache/kestrel-corpus";
    return root / "root/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll";
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path program = argc > 1
                                 ? fs::path(argv[1])
                                 : fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "kestrel";
    const fs::path input = argc > 2 ? fs::path(argv[2]) : defaultInput();
    if (!fs::exists(program) || !fs::exists(input)) {
        std::fprintf(stderr, "missing %s or %s (build kestrel, run tests/corpus/fetch)\n", program.c_str(),
                     input.c_str());
        return 1;
    }
    std::string base =
        (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) / "bench-edit-";
    base += "XXXXXX";
    if (!::mkdtemp(base.data())) return 1;
    const fs::path scratch = base;
    ::setenv("TMPDIR", scratch.c_str(), 1);
    const fs::path file = scratch / input.filename();
    const fs::path work = scratch / "work";
    const fs::path icon = scratch / "app.ico";
    fs::copy_file(input, file);
    fs::create_directories(scratch / "out");
    const std::vector<pebuilder::IconImage> images{pebuilder::makeIconImage(16, 8, 1),
                                                   pebuilder::makeIconImage(32, 32, 2),
                                                   pebuilder::makePngIconImage(256, 3)};
    if (WriteWholeFile(icon, asBytes(pebuilder::makeIcoFile(images))).failed()) return 1;

    const std::vector<std::string> edit{program,
                                        "/Edit",
                                        file,
                                        "/Output:" + (scratch / "out").string(),
                                        "--set-icon",
                                        icon,
                                        "--set-file-version",
                                        "1.2.3.4",
                                        "--set-product-version",
                                        "1.2.3",
                                        "--set-version-string",
                                        "Comments=bench",
                                        "--set-version-string",
                                        "CompanyName=Kestrel bench",
                                        "--set-string",
                                        "4242=bench"};
    const std::vector<std::string> decompile{program, "/Decompile", "/Output:" + work.string(), file};
    const std::vector<std::string> compile{program, "/Compile", "/Output:" + work.string(), file};
    bool ok = runQuietly(edit) && runQuietly(decompile) && runQuietly(compile);
    if (!ok) {
        std::fprintf(stderr, "a run of kestrel failed on %s\n", input.c_str());
        fs::remove_all(scratch);
        return 1;
    }

    // Alternating single runs, so that the machine's load falls on both alike; the medians count.
    const int runs = 7;
    std::vector<double> edits, separates;
    for (int i = 0; i < runs; ++i) {
        edits.push_back(bench::medianMilliseconds(1, [&] { ok = runQuietly(edit) && ok; }));
        fs::remove_all(work);
        separates.push_back(
            bench::medianMilliseconds(1, [&] { ok = runQuietly(decompile) && runQuietly(compile) && ok; }));
    }
    std::sort(edits.begin(), edits.end());
    std::sort(separates.begin(), separates.end());
    const double editTime = edits[runs / 2];
    const double separateTime = separates[runs / 2];
    std::printf(
        "%s %.1f MB: /Edit (4 kinds) %.0f ms, /Decompile + /Compile %.0f ms, ratio %.2f (goal <= 1.5)%s\n",
        input.filename().c_str(), fs::file_size(input) / 1e6, editTime, separateTime, editTime / separateTime,
        ok ? "" : "  [a run failed]");
    fs::remove_all(scratch);
    return ok ? 0 : 1;
}
