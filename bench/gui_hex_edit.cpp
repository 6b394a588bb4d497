// The hex control on a 100 MB file, each figure beside a baseline of the same data in the same run:
// - load: LoadDataFile against ReadWholeFile of the file (goal: at most 2 ×);
// - repaint: one paint of a full 1920 × 1080 control rendered into an image, against a memcpy of
//   that image's pixels (goal: at most 5 ms);
// - scroll: the vertical bar moved from the top to the end and the control painted (goal: 16 ms);
// - insert: one digit typed at the start in insert mode, which inserts a byte before 100 MB,
//   against a memmove of the 100 MB by one byte (goal: at most 30 ms).
// Runs on the offscreen platform; the file lives under $TMPDIR.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <QApplication>
#include <QImage>
#include <QKeyEvent>
#include <QScrollBar>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "ui/widgets/hex_edit.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

constexpr std::size_t kFileBytes = 100u * 1024 * 1024;
constexpr int kScreenWidth = 1920;
constexpr int kScreenHeight = 1080;

const fs::path& dataFile() {
    static const fs::path file = [] {
        const fs::path path =
            fs::temp_directory_path() / ("bench_gui_hex_edit_" + std::to_string(::getpid()));
        std::vector<std::byte> bytes(kFileBytes);
        std::uint32_t state = 0x9E3779B9u;
        for (std::byte& byte : bytes) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<std::byte>(state);
        }
        if (WriteWholeFile(path, asBytes(bytes)).failed())
            std::fprintf(stderr, "cannot write %s\n", path.c_str());
        return path;
    }();
    return file;
}

// The control at full-screen size, shown, with the file loaded. main() destroys it before the
// application object goes.
std::unique_ptr<ui::HexEdit> control;

std::unique_ptr<ui::HexEdit> shownControl() {
    auto shown = std::make_unique<ui::HexEdit>();
    shown->resize(kScreenWidth, kScreenHeight);
    shown->show();
    QCoreApplication::processEvents();
    return shown;
}

ui::HexEdit& loadedControl() {
    if (!control) control = shownControl();
    if (control->data().size() < kFileBytes) {
        if (control->LoadDataFile(dataFile()).failed()) std::fprintf(stderr, "LoadDataFile failed\n");
        // The scroll area shows its bars from the event loop.
        QCoreApplication::processEvents();
    }
    return *control;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

QImage& screenImage() {
    static QImage image(kScreenWidth, kScreenHeight, QImage::Format_ARGB32_Premultiplied);
    return image;
}

// Reading into a new buffer each time, as a first load does; freeing it is not timed.
void readFile(benchmark::State& state) {
    const fs::path& file = dataFile();
    for (auto _ : state) {
        std::vector<std::byte> bytes;
        const auto start = std::chrono::steady_clock::now();
        if (ReadWholeFile(file, bytes).failed()) state.SkipWithError("ReadWholeFile failed");
        state.SetIterationTime(secondsSince(start));
    }
}

void loadDataFile(benchmark::State& state) {
    const fs::path& file = dataFile();
    for (auto _ : state) {
        std::unique_ptr<ui::HexEdit> fresh = shownControl();
        const auto start = std::chrono::steady_clock::now();
        if (fresh->LoadDataFile(file).failed()) state.SkipWithError("LoadDataFile failed");
        state.SetIterationTime(secondsSince(start));
    }
}

// Reading again into the same buffer, as loading the same file again does.
void readFileAgain(benchmark::State& state) {
    const fs::path& file = dataFile();
    std::vector<std::byte> bytes;
    for (auto _ : state) {
        if (ReadWholeFile(file, bytes).failed()) state.SkipWithError("ReadWholeFile failed");
        benchmark::DoNotOptimize(bytes.data());
    }
}

void reloadDataFile(benchmark::State& state) {
    ui::HexEdit& loaded = loadedControl();
    for (auto _ : state) {
        if (loaded.LoadDataFile(dataFile()).failed()) state.SkipWithError("LoadDataFile failed");
        benchmark::DoNotOptimize(loaded.data().data());
    }
}

void copyScreen(benchmark::State& state) {
    const QImage& source = screenImage();
    std::vector<uchar> target(static_cast<std::size_t>(source.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(target.data(), source.constBits(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
}

void repaint(benchmark::State& state) {
    ui::HexEdit& loaded = loadedControl();
    for (auto _ : state) {
        loaded.render(&screenImage());
        benchmark::ClobberMemory();
    }
}

void scrollTopToEnd(benchmark::State& state) {
    ui::HexEdit& loaded = loadedControl();
    QScrollBar* bar = loaded.verticalScrollBar();
    for (auto _ : state) {
        bar->setValue(0);
        const auto start = std::chrono::steady_clock::now();
        bar->setValue(bar->maximum());
        loaded.render(&screenImage());
        state.SetIterationTime(secondsSince(start));
    }
    if (loaded.model().top() == 0) state.SkipWithError("the control did not scroll");
}

void moveBytes(benchmark::State& state) {
    std::vector<std::byte> bytes(kFileBytes + 1);
    for (auto _ : state) {
        std::memmove(bytes.data() + 1, bytes.data(), kFileBytes);
        benchmark::DoNotOptimize(bytes.data());
        benchmark::ClobberMemory();
    }
}

void insertAtStart(benchmark::State& state) {
    ui::HexEdit& loaded = loadedControl();
    loaded.setInsertModeQuery([] { return true; });
    QKeyEvent home(QEvent::KeyPress, Qt::Key_Home, Qt::ControlModifier);
    QKeyEvent digit(QEvent::KeyPress, Qt::Key_5, Qt::NoModifier, QStringLiteral("5"));
    const std::size_t before = loaded.data().size();
    for (auto _ : state) {
        QApplication::sendEvent(&loaded, &home);
        const auto start = std::chrono::steady_clock::now();
        QApplication::sendEvent(&loaded, &digit);
        state.SetIterationTime(secondsSince(start));
    }
    if (loaded.data().size() != before + state.iterations())
        state.SkipWithError("the digit was not inserted");
    loaded.setInsertModeQuery(nullptr);
}

BENCHMARK(readFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(loadDataFile)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(readFileAgain)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(reloadDataFile)->Unit(benchmark::kMillisecond)->MinTime(1.0);
BENCHMARK(copyScreen)->Unit(benchmark::kMillisecond);
BENCHMARK(repaint)->Unit(benchmark::kMillisecond);
BENCHMARK(scrollTopToEnd)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(moveBytes)->Unit(benchmark::kMillisecond);
BENCHMARK(insertAtStart)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(30);

// Keeps the time per iteration of every run, to print each figure beside its baseline at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0) continue;
            std::string name = run.benchmark_name();
            name = name.substr(0, name.find('/'));
            milliseconds_[name] = run.GetAdjustedRealTime();
        }
    }
    void printRatios() const {
        std::printf("\nEach figure beside its baseline (ms per operation):\n");
        line("load 100 MB", "loadDataFile", "read the file", "readFile", "ratio goal <= 2", 0);
        line("load the same again", "reloadDataFile", "read it again", "readFileAgain", "ratio goal <= 2", 0);
        line("repaint 1920 x 1080", "repaint", "memcpy of the image", "copyScreen", "goal <= 5 ms", 5);
        line("scroll top to end", "scrollTopToEnd", "memcpy of the image", "copyScreen", "goal <= 16 ms", 16);
        line("insert one byte at 0", "insertAtStart", "memmove of 100 MB", "moveBytes", "goal <= 30 ms", 30);
    }

  private:
    void line(const char* what, const char* name, const char* baselineWhat, const char* baselineName,
              const char* goal, double goalMs) const {
        const auto ours = milliseconds_.find(name);
        const auto baseline = milliseconds_.find(baselineName);
        if (ours == milliseconds_.end() || baseline == milliseconds_.end()) return;
        const double ratio = ours->second / baseline->second;
        const bool met = goalMs > 0 ? ours->second <= goalMs : ratio <= 2.0;
        std::printf("  %-22s %9.3f   %-20s %9.3f   ratio %6.2f   %s (%s)\n", what, ours->second, baselineWhat,
                    baseline->second, ratio, goal, met ? "met" : "missed");
    }

    std::map<std::string, double> milliseconds_;
};

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    control.reset();
    std::error_code error;
    fs::remove(dataFile(), error);
    return 0;
}
