// RecolorDib with a hue, brightness and saturation setting on 4096 × 4096 DIBs of 32 and 24 bits
// (random pixels also limited to the AVX2 path, the widest on processors without AVX-512),
// against memcpy of the same buffer (the floor) and ImageMagick's `convert -modulate` on the same
// pixels, in the same run. Prints the times and the ratios; goals: at least 5 × ImageMagick's
// throughput and within 6 × of memcpy.
//
// ImageMagick is timed as a whole process twice, once with -modulate and once converting the raw
// pixels without a change; the difference is its recolouring alone. It runs with one thread, like
// RecolorDib.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/images/colorize_engine.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"

namespace fs = std::filesystem;
using namespace kestrel;

namespace {

constexpr std::int32_t kSide = 4096;

enum class Content {
    kNoise,      // every pixel a new pseudo-random colour: the worst case
    kInterface,  // runs of 12 equal pixels in varying colours, like the bitmaps of visual styles
};

// A packed DIB with a 40-byte header.
std::vector<std::byte> makeDib(std::uint16_t bitCount, Content content = Content::kNoise) {
    ByteWriter out;
    const std::uint64_t rowBytes = (std::uint64_t{kSide} * bitCount + 31) / 32 * 4;
    out.u32(40);
    out.u32(kSide);
    out.u32(kSide);
    out.u16(1);
    out.u16(bitCount);
    out.u32(0);
    out.u32(static_cast<std::uint32_t>(rowBytes * kSide));
    out.u32(3780);
    out.u32(3780);
    out.u32(0);
    out.u32(0);
    std::vector<std::byte> dib = std::move(out.bytes());
    dib.resize(40 + rowBytes * kSide);
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    auto next = [&state] {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        return static_cast<std::byte>(state >> 24);
    };
    const std::size_t pixelBytes = bitCount / 8;
    const std::size_t run = content == Content::kNoise ? 1 : 12;
    std::vector<std::byte> colour(pixelBytes);
    for (std::size_t i = 40, pixel = 0; i + pixelBytes <= dib.size(); i += pixelBytes, ++pixel) {
        if (pixel % run == 0)
            for (auto& byte : colour)
                byte = next();
        std::copy(colour.begin(), colour.end(), dib.begin() + static_cast<std::ptrdiff_t>(i));
    }
    return dib;
}

ColorizeEngine configuredEngine() {
    ColorizeEngine engine;
    engine.BuildHueTables(200, 30, -10, 20, true, false);
    engine.BuildSaturationTable(0, -100.0 / 256, false);
    engine.setSaturationOn(true);
    return engine;
}

void recolorDib(benchmark::State& state, std::uint16_t bitCount, Content content,
                ColorizeEngine::VectorPath limit = ColorizeEngine::VectorPath::kAvx512Vbmi) {
    ColorizeEngine engine = configuredEngine();
    engine.setVectorLimit(limit);
    std::vector<std::byte> dib = makeDib(bitCount, content);
    for (auto _ : state) {
        if (engine.RecolorDib(dib) != kOk) state.SkipWithError("RecolorDib failed");
        benchmark::DoNotOptimize(dib.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(dib.size() - 40));
}

void copyDib(benchmark::State& state, std::uint16_t bitCount) {
    const std::vector<std::byte> source = makeDib(bitCount);
    std::vector<std::byte> target(source.size());
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), source.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(source.size() - 40));
}

// One ImageMagick run over the raw pixels of a DIB (bottom-up rows; the order does not matter here).
double imageMagickSeconds(const fs::path& folder, std::uint16_t bitCount, bool modulate) {
    const std::string format = bitCount == 32 ? "bgra" : "bgr";
    const std::string command =
        "MAGICK_THREAD_LIMIT=1 convert -size " + std::to_string(kSide) + "x" + std::to_string(kSide) +
        " -depth 8 " + format + ":'" + (folder / "in.raw").string() + "'" +
        (modulate ? " -modulate 112,140,111 " : " ") + format + ":'" + (folder / "out.raw").string() + "'";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(command.c_str());
    const auto end = std::chrono::steady_clock::now();
    if (status != 0) return -1;
    return std::chrono::duration<double>(end - start).count();
}

void imageMagick(benchmark::State& state, std::uint16_t bitCount, bool modulate) {
    const fs::path folder =
        fs::temp_directory_path() / ("kestrel-bench-colorize-" + std::to_string(getpid()));
    fs::create_directories(folder);
    const std::vector<std::byte> dib = makeDib(bitCount);
    if (WriteWholeFile(folder / "in.raw", Bytes(dib.data() + 40, dib.size() - 40)).failed()) {
        state.SkipWithError("cannot write the input");
        return;
    }
    for (auto _ : state) {
        const double seconds = imageMagickSeconds(folder, bitCount, modulate);
        if (seconds < 0) {
            state.SkipWithError("convert failed (is ImageMagick installed?)");
            break;
        }
        state.SetIterationTime(seconds);
    }
    std::error_code error;
    fs::remove_all(folder, error);
}

BENCHMARK_CAPTURE(recolorDib, 32bit, 32, Content::kNoise)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recolorDib, 32bit_interface, 32, Content::kInterface)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recolorDib, 32bit_avx2, 32, Content::kNoise, ColorizeEngine::VectorPath::kAvx2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copyDib, 32bit, 32)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(imageMagick, 32bit_modulate, 32, true)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(imageMagick, 32bit_plain, 32, false)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recolorDib, 24bit, 24, Content::kNoise)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recolorDib, 24bit_interface, 24, Content::kInterface)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(recolorDib, 24bit_avx2, 24, Content::kNoise, ColorizeEngine::VectorPath::kAvx2)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(copyDib, 24bit, 24)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(imageMagick, 24bit_modulate, 24, true)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(imageMagick, 24bit_plain, 24, false)
    ->UseManualTime()
    ->Iterations(3)
    ->Unit(benchmark::kMillisecond);

// Keeps the time per iteration (seconds) of every run, to print the ratios at the end.
class RatioReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (!run.error_occurred && run.iterations > 0) {
                // In ms. ImageMagick runs as a child process: only its wall time means anything.
                seconds_[run.benchmark_name()] = run.GetAdjustedRealTime() / 1e3;
                cpuSeconds_[run.benchmark_name()] = run.GetAdjustedCPUTime() / 1e3;
            }
    }
    void printRatios() const {
        std::printf("\nWidest image path of this processor: %s (the _avx2 runs are limited to AVX2)\n",
                    pathName(ColorizeEngine::BestVectorPath()));
        std::printf(
            "\nRatios by wall time, and [by CPU time] (our CPU time is steadier on a busy machine):\n");
        for (const char* bits : {"32bit", "24bit"}) {
            const std::string modulateName =
                "imageMagick/" + std::string(bits) + "_modulate/iterations:3/manual_time";
            const std::string plainName =
                "imageMagick/" + std::string(bits) + "_plain/iterations:3/manual_time";
            const double modulate = find(seconds_, modulateName), plain = find(seconds_, plainName);
            const double copy = find(seconds_, "copyDib/" + std::string(bits));
            const double copyCpu = find(cpuSeconds_, "copyDib/" + std::string(bits));
            std::printf("\n%s: memcpy %.1f ms [%.1f], ImageMagick %.0f ms, %.0f ms of it without -modulate\n",
                        bits, copy * 1e3, copyCpu * 1e3, modulate * 1e3, plain * 1e3);
            for (const char* content : {"", "_interface", "_avx2"}) {
                const std::string name = "recolorDib/" + std::string(bits) + content;
                const double ours = find(seconds_, name), oursCpu = find(cpuSeconds_, name);
                if (ours <= 0) continue;
                std::printf("  %-26s %.1f ms [%.1f]\n", name.c_str(), ours * 1e3, oursCpu * 1e3);
                if (copy > 0)
                    std::printf("    time / memcpy:                     %.2f [%.2f] (goal <= 6)\n",
                                ours / copy, oursCpu / copyCpu);
                if (modulate > 0)
                    std::printf("    ImageMagick process / ours:        %.1f x [%.1f x] (goal >= 5)\n",
                                modulate / ours, modulate / oursCpu);
                if (modulate > 0 && plain > 0)
                    std::printf("    ImageMagick -modulate alone / ours: %.1f x [%.1f x] (goal >= 5)\n",
                                (modulate - plain) / ours, (modulate - plain) / oursCpu);
            }
        }
    }

  private:
    static const char* pathName(ColorizeEngine::VectorPath path) {
        switch (path) {
            case ColorizeEngine::VectorPath::kScalar:
                return "scalar";
            case ColorizeEngine::VectorPath::kAvx2:
                return "AVX2";
            case ColorizeEngine::VectorPath::kAvx512Vbmi:
                return "AVX-512 (byte permutes)";
        }
        return "?";
    }
    static double find(const std::map<std::string, double>& seconds, const std::string& name) {
        auto it = seconds.find(name);
        return it == seconds.end() ? -1 : it->second;
    }
    std::map<std::string, double> seconds_, cpuSeconds_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.printRatios();
    benchmark::Shutdown();
    return 0;
}
