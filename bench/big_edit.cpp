// /Edit of a big program, the kind build pipelines brand: a 150 MB PE file from our PE writer (a
// 28 MB .text, a resource section of about 3 MB with icons, version, strings and data, and a
// 120 MB overlay) given an icon, both versions and two strings, timed against `cp` of the same file
// and, when it is installed, against the JavaScript peer resedit-cli making the same icon and
// version changes. Everything runs on tmpfs (/dev/shm, also the edit's temporary folder), in
// alternating single runs whose medians count. shell32.dll is then timed as bench_cli_edit does:
// /Edit against /Decompile + /Compile.
//
//   bench_big_edit [KESTREL [RESEDIT]]   default: the kestrel program of this build and `resedit`
//                                        (from `npm install resedit-cli`) found on the PATH
// With KESTREL_BENCH_KEEP set, the scratch folder (the big file, the icon) is kept for profiling.
// Goal: /Edit <= 1.3 x cp. The processor time (user and system) of each is printed too: on a busy
// machine it varies less than the wall-clock time.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/platform/files.h"
#include "pe_builder/pe_builder.h"
#include "process_timing.h"

namespace fs = std::filesystem;
using namespace kestrel;
namespace pb = kestrel::pebuilder;

namespace {

constexpr std::size_t kMegabyte = 1000 * 1000;

pb::ByteVector filler(std::size_t size, std::uint32_t seed) {
    pb::ByteVector bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::byte& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::byte>(state >> 24);
    }
    return bytes;
}

pb::ByteVector bigProgram() {
    pb::ImagePlan plan;
    plan.characteristics = 0x0102;
    pb::SectionPlan text = pb::defaultTextSection();
    pb::ByteVector code = filler(28 * kMegabyte, 1);
    text.data.insert(text.data.end(), code.begin(), code.end());
    plan.sectionsBeforeResources = {text};
    plan.resources.push_back(
        {pb::kRtVersion, 1, pb::kLangEnUs, pb::makeVersionInfo(pb::defaultVersionPlan())});
    pb::addIconGroup(plan.resources, 1, pb::kLangEnUs, 1,
                     {pb::makeIconImage(16, 32), pb::makeIconImage(32, 32), pb::makeIconImage(48, 32),
                      pb::makePngIconImage(256)});
    std::map<std::uint16_t, std::u16string> strings;
    for (std::uint16_t id = 1; id < 2000; ++id)
        strings[id] = u"string number " + std::u16string(id % 40, u'x');
    pb::addStrings(plan.resources, pb::kLangEnUs, strings);
    for (std::uint16_t id = 1; id <= 6; ++id)
        plan.resources.push_back({pb::kRtRcData, id, pb::kLangEnUs, filler(kMegabyte / 2, id)});
    plan.overlay = filler(120 * kMegabyte, 7);
    return pb::buildImage(plan);
}

fs::path shell32() {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    fs::path root = cache ? fs::path(cache) : fs::path(home ? home : "/tmp") / ".cache/kestrel-corpus";
    return root / "root/usr/lib/i386-linux-gnu/wine/i386-windows/shell32.dll";
}

fs::path onPath(const char* name) {
    const char* path = std::getenv("PATH");
    std::string folders = path ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
        const std::size_t end = std::min(folders.find(':', start), folders.size());
        const fs::path candidate = fs::path(folders.substr(start, end - start)) / name;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Alternating single runs of each command; the medians, in the order given.
std::vector<bench::Timing> alternate(const std::vector<std::vector<std::string>>& commands, int runs) {
    std::vector<std::vector<bench::Timing>> times(commands.size());
    for (int run = 0; run < runs; ++run)
        for (std::size_t i = 0; i < commands.size(); ++i)
            times[i].push_back(bench::runTimed(commands[i]));
    std::vector<bench::Timing> medians;
    for (const auto& values : times)
        medians.push_back(bench::median(values));
    return medians;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path program = argc > 1
                                 ? fs::path(argv[1])
                                 : fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "kestrel";
    const fs::path resedit = argc > 2 ? fs::path(argv[2]) : onPath("resedit");
    std::string base =
        (fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path()) / "bench-big-";
    base += "XXXXXX";
    if (!::mkdtemp(base.data())) return 1;
    const fs::path scratch = base;
    ::setenv("TMPDIR", scratch.c_str(), 1);
    const fs::path file = scratch / "big.exe";
    const fs::path icon = scratch / "app.ico";
    if (WriteWholeFile(file, asBytes(bigProgram())).failed() ||
        WriteWholeFile(icon,
                       asBytes(pb::makeIcoFile({pb::makeIconImage(16, 32, 1), pb::makeIconImage(32, 32, 2),
                                                pb::makePngIconImage(256, 3)})))
            .failed())
        return 1;

    const std::string out = (scratch / "out.exe").string();
    const std::vector<std::string> copy{"/bin/cp", file, out};
    const std::vector<std::string> edit{program,
                                        "/Edit",
                                        file,
                                        "/Output:" + out,
                                        "--set-icon",
                                        icon,
                                        "--set-file-version",
                                        "1.2.3.4",
                                        "--set-product-version",
                                        "1.2.3.0",
                                        "--set-string",
                                        "1=one",
                                        "--set-string",
                                        "2=two"};
    std::vector<std::vector<std::string>> commands{copy, edit};
    if (!resedit.empty())
        commands.push_back({resedit, "--in", file, "--out", out, "--icon", "1," + icon.string(),
                            "--file-version", "1.2.3.4", "--product-version", "1.2.3.0", "--lang", "1033"});
    const std::vector<bench::Timing> times = alternate(commands, 5);
    const double megabytes = static_cast<double>(fs::file_size(file)) / 1e6;
    std::printf(
        "%.0f MB program: cp %.0f ms, /Edit %.0f ms (%.2f x cp, goal <= 1.3; processor time %.0f / %.0f ms, "
        "%.2f x cp)",
        megabytes, times[0].wall, times[1].wall, times[1].wall / times[0].wall, times[0].cpu, times[1].cpu,
        times[1].cpu / times[0].cpu);
    if (resedit.empty()) {
        std::printf(", resedit-cli not installed\n");
    } else {
        std::printf(", resedit-cli %.0f ms (%.2f x cp)%s\n", times[2].wall, times[2].wall / times[0].wall,
                    times[2].wall < 0 ? " [failed]" : "");
    }

    const fs::path dll = shell32();
    if (fs::exists(dll)) {
        const fs::path copied = scratch / "shell32.dll";
        const fs::path work = scratch / "work";
        fs::copy_file(dll, copied);
        const std::vector<std::string> small{program,
                                             "/Edit",
                                             copied,
                                             "/Output:" + out,
                                             "--set-icon",
                                             icon,
                                             "--set-file-version",
                                             "1.2.3.4",
                                             "--set-product-version",
                                             "1.2.3.0",
                                             "--set-string",
                                             "1=one",
                                             "--set-string",
                                             "2=two"};
        const std::vector<std::string> decompile{program, "/Decompile", "/Output:" + work.string(), copied};
        const std::vector<std::string> compile{program, "/Compile", "/Output:" + work.string(), copied};
        std::vector<double> separate;
        std::vector<bench::Timing> edits;
        for (int run = 0; run < 5; ++run) {
            edits.push_back(bench::runTimed(small));
            fs::remove_all(work);
            const bench::Timing imported = bench::runTimed(decompile);
            const bench::Timing compiled = bench::runTimed(compile);
            separate.push_back(imported.wall + compiled.wall);
        }
        std::sort(separate.begin(), separate.end());
        const double editTime = bench::median(edits).wall;
        std::printf("shell32.dll %.1f MB: /Edit %.0f ms, /Decompile + /Compile %.0f ms, ratio %.2f\n",
                    static_cast<double>(fs::file_size(dll)) / 1e6, editTime, separate[2],
                    editTime / separate[2]);
    }
    if (std::getenv("KESTREL_BENCH_KEEP"))
        std::printf("kept %s\n", scratch.c_str());
    else
        fs::remove_all(scratch);
    return times[1].wall < 0 ? 1 : 0;
}
