// Showing a 256 × 256 32-bit bitmap in the image pane: reading the file, checking the DIB,
// compositing it over the checkerboard and painting the pane (without its toolbar) into an image,
// against a memcpy of the same pixels in the same run. Prints the median of both and the
// ratio; the goal is at most 5 ms per showing.
#include <QApplication>
#include <QImage>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "bench_timing.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "ui/image_wnd.h"

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::bench::medianMilliseconds;

namespace {

constexpr std::int32_t kSide = 256;

// A BMP file of kSide × kSide pixels of 32 bits with varying alpha.
std::vector<std::byte> makeBitmapFile() {
    const std::uint32_t pixelBytes = kSide * kSide * 4;
    ByteWriter out;
    out.u16(0x4D42);
    out.u32(14 + 40 + pixelBytes);
    out.u32(0);
    out.u32(14 + 40);
    out.u32(40);
    out.u32(kSide);
    out.u32(kSide);
    out.u16(1);
    out.u16(32);
    out.u32(0);
    out.u32(pixelBytes);
    out.zeros(16);
    std::uint32_t state = 0x9E3779B9u;
    for (std::uint32_t i = 0; i < kSide * kSide; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        out.u32(state);
    }
    return out.bytes();
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);

    const fs::path folder = fs::temp_directory_path() / "kestrel-bench-image-pane";
    fs::create_directories(folder);
    const fs::path file = folder / "Bitmap00001.BMP";
    const std::vector<std::byte> bytes = makeBitmapFile();
    if (WriteWholeFile(file, asBytes(bytes)).failed()) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }

    ui::ImageWnd pane(nullptr, ui::ImagePaneServices{});
    pane.resize(300, 400);
    QImage screen(pane.size(), QImage::Format_ARGB32_Premultiplied);
    auto show = [&] {
        pane.ShowImageFile(file, nullptr, nullptr, 0);
        pane.render(&screen, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    };
    show();
    if (pane.pictureSize() != QSize(kSide, kSide) || pane.zoom() != 1) {
        std::fprintf(stderr, "the pane did not show the bitmap\n");
        return 1;
    }

    const std::vector<std::byte> pixels(bytes.begin() + 54, bytes.end());
    std::vector<std::byte> copy(pixels.size());
    const int runs = 101;
    const double paneMs = medianMilliseconds(runs, show);
    const double copyMs = medianMilliseconds(runs, [&] {
        std::memcpy(copy.data(), pixels.data(), pixels.size());
        asm volatile("" : : "r"(copy.data()) : "memory");
    });

    std::printf("image pane, 256 x 256 x 32 bits (read, check, composite, paint): %8.3f ms\n", paneMs);
    std::printf("memcpy of the same %zu pixel bytes:                          %8.3f ms\n", pixels.size(),
                copyMs);
    std::printf("ratio: %.0f x   goal: at most 5 ms per showing (%s)\n", paneMs / copyMs,
                paneMs <= 5.0 ? "met" : "missed");
    fs::remove_all(folder);
    return 0;
}
