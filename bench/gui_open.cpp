// Opening a real PE file in the window against the command-line import of the same file, measured
// side by side in one run:
// - window: File > Open of the PE file in a shown main window, from the start of the document open
//   (the previous import moved out of Temp, the file imported into it, project and
//   pe.xml loaded, the tree filled) until the window with its tree has been painted;
// - command line: the import the /Decompile flag runs (DecompileProject), into the folder of its
//   own previous import, which is the like-for-like baseline (both write over an earlier import of
//   the same file), and into a new empty folder.
// Prints the mean times and the ratios window / command line. Goal: ratio <= 1.5. Also the CPU of
// the process from the start of the open until the window has been quiet for a while, less the CPU
// an idle window takes in the same time, against the CPU of the command-line import; goal <= 1.2.
// The previous import, which the open moves aside and deletes later in the background, is deleted
// after each measured open and its CPU shown on its own line, so that it never falls into another
// measurement.
//
//   bench_gui_open [--benchmark_...] [FILE...]   default: shell32.dll and light.msstyles from the
//                                                 corpus cache (tests/corpus/fetch)
// Runs on the offscreen platform with settings and data in temporary folders under $TMPDIR. On a
// busy disk the times of writing thousands of small files vary from run to run by more than the
// window adds; TMPDIR=/dev/shm measures the program rather than the disk.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <time.h>

#include <QApplication>
#include <QEventLoop>
#include <QIcon>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/document_controller.h"
#include "app/ks_doc.h"
#include "app/recent_files.h"
#include "app/settings_store.h"
#include "bench_timing.h"
#include "core/errors/errors.h"
#include "core/platform/ui_sink.h"
#include "ui/frame/ks_frame.h"
#include "ui/frame/resource_tree.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

constexpr int kIterations = 6;  // each of the three orders twice

using bench::QuietSink;

fs::path scratchFolder() {
    return fs::temp_directory_path() / ("bench_gui_open_" + std::to_string(::getpid()));
}

// CPU time of the whole process (every thread), in seconds.
double processCpuSeconds() {
    timespec now{};
    ::clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

// Runs the event loop for `milliseconds`: whatever the open left queued (timers, deferred panes,
// file watches) runs in this time.
void runEventsFor(int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

constexpr int kQuietMs = 400;

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The main window as the program builds it, shown, with nothing open.
struct Window {
    explicit Window(SettingsStore& settings, const fs::path& dataFolder)
        : document(dataFolder / "Temp"), recent(&settings), controller(document, nullptr) {
        fs::create_directories(dataFolder / "Temp");
        document.setRecentFileList(&recent);
        ui::FrameContext context{&document, &controller, &settings, &recent, dataFolder, "bench"};
        frame = std::make_unique<ui::CKsFrame>(context);
        document.setView(frame->view());
        frame->view()->OnInitialUpdate();
        frame->resize(1000, 700);
        frame->show();
        QApplication::processEvents();
    }
    ~Window() {
        document.OnCloseDocument();
        document.setView(nullptr);
    }

    CKsDoc document;
    RecentFileList recent;
    DocumentController controller;
    std::unique_ptr<ui::CKsFrame> frame;
};

// Each iteration measures the three opens in a rotating order, so that all meet the same state of
// the machine and its file system. Reports the mean of each and the ratios as counters.
void openSideBySide(benchmark::State& state, const fs::path& input, const fs::path& dataFolder,
                    const fs::path& scratch) {
    SettingsStore settings;
    Window window(settings, dataFolder);
    const fs::path reusedFolder = scratch / "import-again";
    const fs::path newFolder = scratch / "import-new";
    double windowSeconds = 0, commandLineSeconds = 0, newFolderSeconds = 0;
    // CPU: the open until the window is quiet, less what an idle window takes in the same time,
    // against the CPU of the command-line import over its last import.
    double windowCpu = 0, idleCpu = 0, commandLineCpu = 0, discardCpu = 0;

    auto openInWindow = [&] {
        // Start from an empty document, as a second File > Open would from another project.
        window.controller.newDocument();
        QApplication::processEvents();
        runEventsFor(kQuietMs);
        const double idleStart = processCpuSeconds();
        runEventsFor(kQuietMs);
        idleCpu += processCpuSeconds() - idleStart;
        const double cpuStart = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        const bool opened = window.controller.openDocument(input);
        window.frame->refreshTitle();
        // Paints the whole window, tree included, before the clock stops.
        window.frame->repaint();
        windowSeconds += secondsSince(start);
        runEventsFor(kQuietMs);
        windowCpu += processCpuSeconds() - cpuStart;
        const double discardStart = processCpuSeconds();
        window.document.discarder().finish();
        discardCpu += processCpuSeconds() - discardStart;
        ClearErrorRecord();
        return opened && window.frame->view()->tree()->topLevelItemCount() > 0;
    };
    auto importInto = [&](const fs::path& folder, double& seconds, double* cpu = nullptr) {
        const double cpuStart = processCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        fs::path project;
        const bool imported = DecompileProject(input, folder, project).succeeded();
        seconds += secondsSince(start);
        if (cpu) *cpu += processCpuSeconds() - cpuStart;
        ClearErrorRecord();
        return imported;
    };
    auto importAgain = [&] { return importInto(reusedFolder, commandLineSeconds, &commandLineCpu); };
    auto importIntoNewFolder = [&] {
        fs::remove_all(newFolder);
        return importInto(newFolder, newFolderSeconds);
    };

    // Untimed: the window's Temp and the reused folder each hold an import of the file.
    double unused = 0;
    if (!openInWindow() || !importInto(reusedFolder, unused)) {
        state.SkipWithError("the window did not open the file, or the import failed");
        return;
    }
    windowSeconds = windowCpu = idleCpu = discardCpu = 0;
    int order = 0;
    for (auto _ : state) {
        bool done = false;
        switch (order++ % 3) {
            case 0:
                done = openInWindow() && importAgain() && importIntoNewFolder();
                break;
            case 1:
                done = importAgain() && importIntoNewFolder() && openInWindow();
                break;
            default:
                done = importIntoNewFolder() && openInWindow() && importAgain();
                break;
        }
        if (!done) {
            state.SkipWithError("the window did not open the file, or the import failed");
            break;
        }
    }
    fs::remove_all(reusedFolder);
    fs::remove_all(newFolder);
    const double runs = static_cast<double>(state.iterations());
    state.counters["window_ms"] = 1e3 * windowSeconds / runs;
    state.counters["command_line_ms"] = 1e3 * commandLineSeconds / runs;
    state.counters["new_folder_ms"] = 1e3 * newFolderSeconds / runs;
    state.counters["ratio"] = commandLineSeconds > 0 ? windowSeconds / commandLineSeconds : 0;
    state.counters["window_cpu_ms"] = 1e3 * (windowCpu - idleCpu) / runs;
    state.counters["command_line_cpu_ms"] = 1e3 * commandLineCpu / runs;
    state.counters["cpu_ratio"] = commandLineCpu > 0 ? (windowCpu - idleCpu) / commandLineCpu : 0;
    state.counters["deferred_delete_cpu_ms"] = 1e3 * discardCpu / runs;
}

// Prints window / command line per file at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0) runs_.push_back(run);
    }
    void printRatios() const {
        std::printf("\nWindow open / command-line import, mean per open (goal <= 1.5):\n");
        for (const Run& run : runs_) {
            auto counter = [&](const char* name) {
                auto it = run.counters.find(name);
                return it == run.counters.end() ? 0.0 : it->second.value / 1e3;
            };
            const double window = counter("window_ms"), again = counter("command_line_ms"),
                         fresh = counter("new_folder_ms");
            std::printf(
                "  %-16s window %7.3f s | command line over its last import %7.3f s  ratio %5.2f | "
                "into a new folder %7.3f s  ratio %5.2f\n",
                run.run_name.function_name.c_str(), window, again, again > 0 ? window / again : 0.0, fresh,
                fresh > 0 ? window / fresh : 0.0);
            const double windowCpu = counter("window_cpu_ms"),
                         commandLineCpu = counter("command_line_cpu_ms");
            std::printf(
                "  %-16s CPU: window until quiet, less an idle window %7.3f s | command line %7.3f s  "
                "ratio %5.2f (goal <= 1.2)\n",
                "", windowCpu, commandLineCpu, commandLineCpu > 0 ? windowCpu / commandLineCpu : 0.0);
            const double deferred = counter("deferred_delete_cpu_ms");
            std::printf(
                "  %-16s CPU of deleting the previous import later in the background %7.3f s | with it, "
                "ratio %5.2f\n",
                "", deferred, commandLineCpu > 0 ? (windowCpu + deferred) / commandLineCpu : 0.0);
        }
    }

  private:
    std::vector<Run> runs_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i)
        inputs.emplace_back(argv[i]);
    if (inputs.empty()) {
        const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
        const char* home = std::getenv("HOME");
        fs::path root = cache ? fs::path(cache) : fs::path(home ? home : "/tmp") / ".cache/kestrel-corpus";
        fs::path wine = root / "root/usr/lib/i386-linux-gnu/wine/i386-windows";
        for (const char* name : {"shell32.dll", "light.msstyles"})
            if (fs::exists(wine / name)) inputs.push_back(wine / name);
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "no input files (run tests/corpus/fetch or name files)\n");
        return 1;
    }

    // Settings and the data folder go to temporary folders; the window needs no display.
    const fs::path scratch = scratchFolder();
    fs::create_directories(scratch);
    ::setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (scratch / "data").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    int qtArgc = 1;
    char* qtArgv[] = {argv[0], nullptr};
    QApplication application(qtArgc, qtArgv);
    // The offscreen platform names no icon theme, so the style would never look one up. A desktop
    // session names one; hicolor, the theme every desktop falls back to, stands in for it.
    if (QIcon::themeName().isEmpty()) QIcon::setThemeName(QStringLiteral("hicolor"));
    QuietSink sink;
    setUiSink(&sink);

    const fs::path dataFolder = scratch / "data" / "Quillon" / "Kestrel";
    for (const fs::path& input : inputs) {
        benchmark::RegisterBenchmark(input.filename().c_str(), openSideBySide, input, dataFolder, scratch)
            ->Iterations(kIterations)
            ->Unit(benchmark::kMillisecond);
    }
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    setUiSink(nullptr);
    std::error_code error;
    fs::remove_all(scratch, error);
    return 0;
}
