// `kestrel /Decompile` and `kestrel /Compile` as processes on tmpfs, side by side with the floors:
// - write floor: write-floor.c reads the input once and writes the files the import wrote (same
//   names, same sizes), nothing else;
// - read floor: a process that reads every file of the working folder once and writes one output
//   of the compiled file's size.
// The runs take turns (import, floor, import, ...) so that a busy machine weighs on both alike;
// the medians of wall time and of CPU time (user + system of the child) and their ratios are
// printed. `--cli PATH` times another build of kestrel instead of this one; `--before PATH` times an
// older build as well, in the same turns, for a before/after figure.
//
//   bench_cli_import_compile [--runs N] [--cli PATH] [--before PATH] [FILE...]
//   default: shell32.dll, light.msstyles and kernelbase.dll from the corpus cache (tests/corpus/fetch)
// Goals: import <= 1.3 x write floor, compile <= 1.3 x read floor.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "process_timing.h"

namespace fs = std::filesystem;

using kestrel::bench::median;
using kestrel::bench::runTimed;
using kestrel::bench::Timing;

namespace {

// The read floor's process: every file of LIST (relative names, one a line) under FOLDER read
// once with one read call into one buffer, then OUT written with SIZE bytes in one call.
int readFloor(const char* list, const char* folder, const char* out, const char* size) {
    std::ifstream names(list);
    std::vector<char> buffer;
    std::string name;
    std::size_t total = 0;
    while (std::getline(names, name)) {
        int fd = ::open((std::string(folder) + "/" + name).c_str(), O_RDONLY);
        if (fd < 0) return 1;
        struct stat info {};
        ::fstat(fd, &info);
        buffer.resize(static_cast<std::size_t>(info.st_size));
        if (::read(fd, buffer.data(), buffer.size()) != static_cast<ssize_t>(buffer.size())) return 1;
        total += buffer.size();
        ::close(fd);
    }
    std::vector<char> output(std::strtoull(size, nullptr, 10));
    int fd = ::open(out, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0 || ::write(fd, output.data(), output.size()) != static_cast<ssize_t>(output.size())) return 1;
    ::close(fd);
    return total > 0 ? 0 : 1;
}

// One program under test: a label for the output and the path of its kestrel.
struct Cli {
    std::string label;
    std::string path;
};

void measure(const fs::path& input, const fs::path& scratch, int runs, const std::string& self,
             const std::vector<Cli>& clis) {
    const fs::path probe = scratch / "probe";
    fs::remove_all(scratch);
    fs::create_directories(scratch);
    if (runTimed({clis.front().path, "/Decompile", input.string(), "/Output:" + probe.string()}).wall < 0) {
        std::printf("%-16s import refused\n", input.filename().c_str());
        return;
    }
    // The file lists: every file with its size for the write floor, the names for the read floor.
    std::ofstream sized(scratch / "list");
    std::ofstream names(scratch / "names");
    std::size_t files = 0;
    for (const auto& entry : fs::recursive_directory_iterator(probe)) {
        if (!entry.is_regular_file()) continue;
        const std::string relative = entry.path().lexically_relative(probe).string();
        sized << relative << '\t' << entry.file_size() << '\n';
        names << relative << '\n';
        ++files;
    }
    sized.close();
    names.close();

    std::vector<std::vector<Timing>> imports(clis.size()), compiles(clis.size());
    std::vector<Timing> writeFloors, readFloors;
    const fs::path compiled = probe / input.filename();
    for (int i = 0; i < runs; ++i) {
        for (std::size_t c = 0; c < clis.size(); ++c) {
            fs::remove_all(scratch / "a");
            imports[c].push_back(runTimed(
                {clis[c].path, "/Decompile", input.string(), "/Output:" + (scratch / "a").string()}));
        }
        fs::remove_all(scratch / "b");
        writeFloors.push_back(runTimed(
            {KESTREL_WRITE_FLOOR, input.string(), (scratch / "list").string(), (scratch / "b").string()}));
        for (std::size_t c = 0; c < clis.size(); ++c)
            compiles[c].push_back(
                runTimed({clis[c].path, "/Compile", "/Output:" + probe.string(), input.string()}));
        std::error_code error;
        const std::uintmax_t size = fs::file_size(compiled, error);
        readFloors.push_back(
            error ? Timing{}
                  : runTimed({self, "--read-floor", (scratch / "names").string(), probe.string(),
                              (scratch / "floor-output").string(), std::to_string(size)}));
    }
    const Timing writeFloor = median(writeFloors), read = median(readFloors);
    for (std::size_t c = 0; c < clis.size(); ++c) {
        const Timing import = median(imports[c]), compile = median(compiles[c]);
        std::printf(
            "%-16s %-7s %5zu files | import %7.1f ms  write floor %7.1f ms  ratio %5.2f (CPU %6.1f / %6.1f "
            "ms, "
            "%5.2f) | compile %7.1f ms  read floor %7.1f ms  ratio %5.2f (CPU %6.1f / %6.1f ms, %5.2f)\n",
            input.filename().c_str(), clis[c].label.c_str(), files, import.wall, writeFloor.wall,
            import.wall / writeFloor.wall, import.cpu, writeFloor.cpu, import.cpu / writeFloor.cpu,
            compile.wall, read.wall, compile.wall / read.wall, compile.cpu, read.cpu, compile.cpu / read.cpu);
    }
    fs::remove_all(scratch);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 6 && std::string(argv[1]) == "--read-floor")
        return readFloor(argv[2], argv[3], argv[4], argv[5]);
    int runs = 9;
    std::vector<Cli> clis{{"", KESTREL_CLI}};
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::string(argv[i]) == "--cli" && i + 1 < argc)
            clis.front().path = argv[++i];
        else if (std::string(argv[i]) == "--before" && i + 1 < argc)
            clis.push_back({"before", argv[++i]});
        else
            inputs.emplace_back(argv[i]);
    }
    if (inputs.empty()) {
        const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
        const char* home = std::getenv("HOME");
        fs::path root = cache ? fs::path(cache) : fs::path(home ? home : "/tmp") / ".cache/kestrel-corpus";
        fs::path wine = root / "root/usr/lib/i386-linux-gnu/wine/i386-windows";
        for (const char* name : {"shell32.dll", "light.msstyles", "kernelbase.dll"})
            if (fs::exists(wine / name)) inputs.push_back(wine / name);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no input files (run tests/corpus/fetch or name files)\n");
        return 1;
    }
    const fs::path shm = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    const fs::path scratch = shm / ("bench_cli_" + std::to_string(::getpid()));
    const std::string self = fs::read_symlink("/proc/self/exe").string();
    for (const fs::path& input : inputs)
        measure(input, scratch, runs, self, clis);
    return 0;
}
