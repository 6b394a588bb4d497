// Import and compile of real PE files against floors measured in the same run:
// - write floor: read the input once and write the files the import writes (same relative names,
//   same sizes), nothing else;
// - read floor: read those files back and write one output of the compiled size.
// Also reports the share of the import spent encoding 32-bit bitmaps as PNG (the import run again
// without the PNG step) and the peak memory of an import plus compile against the input size.
//
//   bench_compile_roundtrip [FILE...]   default: shell32.dll, kernelbase.dll and light.msstyles from
//                                        the corpus cache (tests/corpus/fetch)
// Goals: import <= 1.3 x write floor (PNG aside), compile <= 1.3 x read floor, peak < 3 x input.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "core/errors/errors.h"
#include "core/pe/exe_dump.h"
#include "core/pe/res_compiler.h"
#include "core/platform/files.h"
#include "core/platform/ui_sink.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

using bench::QuietSink;

double bestOf(int runs, const std::function<bool()>& body) {
    double best = 1e300;
    for (int i = 0; i < runs; ++i) {
        auto start = std::chrono::steady_clock::now();
        if (!body()) return -1;
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

struct FileInfo {
    fs::path relative;
    std::uintmax_t size;
};

std::vector<FileInfo> filesOf(const fs::path& folder, const fs::path& skip) {
    std::vector<FileInfo> out;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file() && entry.path().filename() != skip)
            out.push_back({entry.path().lexically_relative(folder), entry.file_size()});
    return out;
}

bool importInto(const fs::path& input, const fs::path& folder, bool png) {
    fs::remove_all(folder);
    fs::create_directories(folder);
    MappedFile file;
    if (OpenMappedFile(input, file).failed()) return false;
    CExeDump dump;
    dump.switches().pngBitmaps = png;
    bool ok = dump.Dump(file.bytes(), folder, "pe.xml").succeeded();
    ClearErrorRecord();
    return ok;
}

bool compileFolder(const fs::path& folder, const fs::path& name) {
    CResCompiler compiler;
    compiler.setWorkingFolder(folder);
    compiler.setOutputName(name);
    compiler.setTrace([](std::string_view) {});
    bool ok = compiler.Compile(folder / "pe.xml").succeeded();
    ClearErrorRecord();
    return ok;
}

// Peak resident memory of an import plus compile of `input`, measured in a fresh process of this
// program (`--memory FILE FOLDER`), less the program's own resident size before the work.
double peakOverInput(const fs::path& input, const fs::path& folder) {
    std::string command = "'" + fs::read_symlink("/proc/self/exe").string() + "' --memory '" +
                          input.string() + "' '" + folder.string() + "'";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return -1;
    long before = 0, after = 0;
    int read = std::fscanf(pipe, "%ld %ld", &before, &after);
    ::pclose(pipe);
    if (read != 2) return -1;
    return (after - before) * 1024.0 / static_cast<double>(fs::file_size(input));
}

int memoryChild(const fs::path& input, const fs::path& folder) {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    long before = usage.ru_maxrss;
    bool ok = importInto(input, folder, true) && compileFolder(folder, input.filename());
    ::getrusage(RUSAGE_SELF, &usage);
    std::printf("%ld %ld\n", before, usage.ru_maxrss);
    fs::remove_all(folder);
    return ok ? 0 : 1;
}

void measure(const fs::path& input, const fs::path& scratch) {
    const int runs = 3;
    fs::path work = scratch / "import";
    fs::path floorFolder = scratch / "floor";
    std::uintmax_t inputSize = fs::file_size(input);

    double importTime = bestOf(runs, [&] { return importInto(input, work, true); });
    double importNoPng = bestOf(runs, [&] { return importInto(input, work, false); });
    if (importTime < 0 || importNoPng < 0) {
        std::printf("%-18s import refused\n", input.filename().c_str());
        return;
    }
    importInto(input, work, true);
    std::vector<FileInfo> files = filesOf(work, "");

    double writeFloor = bestOf(runs, [&] {
        fs::remove_all(floorFolder);
        std::vector<std::byte> data;
        if (ReadWholeFile(input, data).failed()) return false;
        for (const FileInfo& file : files) {
            fs::path path = floorFolder / file.relative;
            (void)CreateFolderPath(path.parent_path());
            std::size_t size = static_cast<std::size_t>(std::min<std::uintmax_t>(file.size, data.size()));
            if (WriteWholeFile(path, Bytes(data.data(), size)).failed()) return false;
        }
        return true;
    });

    double compileTime = bestOf(runs, [&] { return compileFolder(work, input.filename()); });
    std::uintmax_t compiledSize = fs::file_size(work / input.filename());
    double readFloor = bestOf(runs, [&] {
        std::uintmax_t total = 0;
        for (const FileInfo& file : files) {
            std::vector<std::byte> data;
            if (ReadWholeFile(work / file.relative, data).failed()) return false;
            total += data.size();
        }
        std::vector<std::byte> output(static_cast<std::size_t>(compiledSize));
        return total > 0 &&
               WriteFileAtomic(scratch / "floor-output", Bytes(output.data(), output.size())).succeeded();
    });
    double peak = peakOverInput(input, scratch / "memory");

    std::printf(
        "%-18s %6.1f MB %5zu files | import %7.3f s  write floor %7.3f s  ratio %5.2f  without PNG %5.2f  "
        "(PNG %4.1f%%) | compile %7.3f s  read floor %7.3f s  ratio %5.2f | peak %5.2f x input\n",
        input.filename().c_str(), inputSize / 1e6, files.size(), importTime, writeFloor,
        importTime / writeFloor, importNoPng / writeFloor,
        100.0 * std::max(0.0, importTime - importNoPng) / importTime, compileTime, readFloor,
        compileTime / readFloor, peak);
    fs::remove_all(work);
    fs::remove_all(floorFolder);
    fs::remove_all(scratch / "memory");
}

}  // namespace

int main(int argc, char** argv) {
    QuietSink sink;
    setUiSink(&sink);
    if (argc == 4 && std::string(argv[1]) == "--memory") return memoryChild(argv[2], argv[3]);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        inputs.emplace_back(argv[i]);
    if (inputs.empty()) {
        const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
        const char* home = std::getenv("HOME");
        fs::path root = cache ? fs::path(cache) : fs::path(home ? home : "/tmp") / ".cache/kestrel-corpus";
        fs::path wine = root / "root/usr/lib/i386-linux-gnu/wine/i386-windows";
        for (const char* name : {"shell32.dll", "kernelbase.dll", "light.msstyles"})
            if (fs::exists(wine / name)) inputs.push_back(wine / name);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no input files (run tests/corpus/fetch or name files)\n");
        return 1;
    }
    fs::path scratch = fs::temp_directory_path() / ("bench_compile_" + std::to_string(::getpid()));
    for (const fs::path& input : inputs)
        measure(input, scratch);
    fs::remove_all(scratch);
    setUiSink(nullptr);
    return 0;
}
