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
#include "ui/panes/image_wnd.h"

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::bench::medianMilliseconds;

namespace {

constexpr std::int32_t kSide = 256;

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);

    const fs::path folder = fs::temp_directory_path() / "kestrel-bench-image-pane";
    fs::create_directories(folder);
    const fs::path file = folder / "Bitmap00001.BMP";
    const std::vector<std::byte> bytes = kestrel::bench::makeNoiseBitmap32(kSide);
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
    const int runs = 101;
    const double paneMs = medianMilliseconds(runs, show);
    const double copyMs = kestrel::bench::memcpyMilliseconds(pixels, runs);

    std::printf("image pane, 256 x 256 x 32 bits (read, check, composite, paint): %8.3f ms\n", paneMs);
    std::printf("memcpy of the same %zu pixel bytes:                          %8.3f ms\n", pixels.size(),
                copyMs);
    std::printf("ratio: %.0f x   goal: at most 5 ms per showing (%s)\n", paneMs / copyMs,
                paneMs <= 5.0 ? "met" : "missed");
    fs::remove_all(folder);
    return 0;
}
