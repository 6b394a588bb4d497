// Start-up of the command line: `kestrel --version` against a tiny C program that prints one line
// (print-line.c, built by this benchmark's own CMake), both as processes. The runs take turns so
// that a busy machine weighs on both alike; the medians of wall and CPU time and their ratios are
// printed.
//
//   bench_cli_startup [--runs N] [--cli PATH]
// Goal: kestrel --version <= 3 x the one-line program.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "process_timing.h"

using kestrel::bench::median;
using kestrel::bench::runTimed;
using kestrel::bench::Timing;

int main(int argc, char** argv) {
    int runs = 51;
    std::string cli = KESTREL_CLI;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--runs" && i + 1 < argc)
            runs = std::max(1, std::atoi(argv[++i]));
        else if (std::string(argv[i]) == "--cli" && i + 1 < argc)
            cli = argv[++i];
    }
    // One run of each first, so that both programs and their libraries are in the page cache.
    if (runTimed({cli, "--version"}).wall < 0 || runTimed({KESTREL_PRINT_LINE}).wall < 0) {
        std::fprintf(stderr, "%s --version or %s failed\n", cli.c_str(), KESTREL_PRINT_LINE);
        return 1;
    }
    std::vector<Timing> versions, floors;
    for (int i = 0; i < runs; ++i) {
        versions.push_back(runTimed({cli, "--version"}));
        floors.push_back(runTimed({KESTREL_PRINT_LINE}));
    }
    const Timing version = median(versions), floor = median(floors);
    std::printf(
        "start-up %d runs | kestrel --version %6.2f ms  one-line program %6.2f ms  ratio %5.2f "
        "(CPU %6.2f / %6.2f ms, %5.2f)\n",
        runs, version.wall, floor.wall, version.wall / floor.wall, version.cpu, floor.cpu,
        floor.cpu > 0 ? version.cpu / floor.cpu : 0.0);
    return 0;
}
