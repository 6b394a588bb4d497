// The colorize panel at work.
//  1. Live preview: one move of the hue slider under a 256 × 256 32-bit bitmap in the image pane —
//     the panel rebuilds the tables, the coalesced preview recolours a copy of the picture, the
//     compositor puts it over the checkerboard and the pane is painted into an image — against a
//     memcpy of the same pixels. Goal: at most 8 ms per move.
//  2. Apply to all images of a real theme file (light.msstyles, about 480 bitmaps, imported with
//     the program's own decompiler), through the pane's apply with its progress window, against
//     copying the same files. Goal: at most 1 s.
// Prints the medians of both and the ratios.
#include <QApplication>
#include <QImage>
#include <QSlider>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/ks_doc.h"
#include "bench_timing.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/panes/colorize_wnd.h"
#include "ui/panes/image_wnd.h"

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::bench::medianMilliseconds;

namespace {

constexpr std::int32_t kSide = 256;

// Answers every question with Yes and keeps the last message.
class AgreeingSink : public UiSink {
  public:
    void message(std::string_view text, std::string_view, MessageIcon) override { last = text; }
    Answer ask(std::string_view, std::string_view, Buttons, int, MessageIcon) override {
        return Answer::kYes;
    }
    int showError() override { return 1; }
    void busy(bool) override {}
    std::string last;
};

void copyTree(const fs::path& from, const fs::path& to) {
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive);
}

// The files the engine recolours, anywhere under `folder`.
std::vector<fs::path> imageFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string extension = extensionOf(entry.path().filename().string());
        if (entry.is_regular_file() && (iequalsAscii(extension, ".bmp") || iequalsAscii(extension, ".png") ||
                                        iequalsAscii(extension, ".ico") || iequalsAscii(extension, ".cur")))
            files.push_back(entry.path());
    }
    return files;
}

int benchPreview(const fs::path& folder) {
    const fs::path file = folder / "Bitmap00001.BMP";
    const std::vector<std::byte> bytes = kestrel::bench::makeNoiseBitmap32(kSide);
    if (WriteWholeFile(file, asBytes(bytes)).failed()) {
        std::fprintf(stderr, "cannot write %s\n", file.c_str());
        return 1;
    }
    ui::ImageWnd pane(nullptr, ui::ImagePaneServices{});
    pane.resize(900, 400);
    pane.ShowImageFile(file, nullptr, nullptr, 0);
    if (pane.pictureSize() != QSize(kSide, kSide) || pane.zoom() != 1) {
        std::fprintf(stderr, "the pane did not show the bitmap\n");
        return 1;
    }
    QSlider* hue = pane.colorizePanel()->hueSlider();
    QImage screen(pane.size(), QImage::Format_ARGB32_Premultiplied);
    int step = 0;
    // One slider move as a drag delivers it, then the pass of the event loop that runs the
    // coalesced preview, then the pane's paint (picture, band and lines; the panel's own controls
    // repaint only where they changed and are left out).
    auto move = [&] {
        step = (step + 1) % 64;
        hue->setValue(-768 + step * 24);
        QCoreApplication::processEvents();
        pane.render(&screen, QPoint(), QRegion(), QWidget::DrawWindowBackground);
    };
    move();
    if (!pane.isPreviewing()) {
        std::fprintf(stderr, "the slider did not bring a preview\n");
        return 1;
    }

    const std::vector<std::byte> pixels(bytes.begin() + 54, bytes.end());
    const int runs = 201;
    const double moveMs = medianMilliseconds(runs, move);
    const double copyMs = kestrel::bench::memcpyMilliseconds(pixels, runs);
    std::printf("hue slider move with live preview, 256 x 256 x 32 bits:       %8.3f ms\n", moveMs);
    std::printf("memcpy of the same %zu pixel bytes:                          %8.3f ms\n", pixels.size(),
                copyMs);
    std::printf("ratio: %.0f x   goal: at most 8 ms per move (%s)\n\n", moveMs / copyMs,
                moveMs <= 8.0 ? "met" : "missed");
    return 0;
}

int benchApplyAll(const fs::path& folder) {
    const char* home = std::getenv("HOME");
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const fs::path corpus = cache != nullptr && *cache != '\0'
                                ? fs::path(cache)
                                : fs::path(home != nullptr ? home : "/") / ".cache" / "kestrel-corpus";
    const fs::path theme = corpus / "root/usr/lib/i386-linux-gnu/wine/i386-windows/light.msstyles";
    const fs::path imported = folder / "light";
    fs::path project;
    if (!fs::exists(theme) || DecompileProject(theme, imported, project).failed()) {
        std::printf("apply to all images: light.msstyles not available (tests/corpus/fetch); skipped\n");
        return 0;
    }
    const std::vector<fs::path> images = imageFiles(imported);
    fs::create_directories(folder / "Temp");

    AgreeingSink sink;
    setUiSink(&sink);
    const fs::path work = folder / "work";
    const fs::path copies = folder / "copies";
    const int runs = 5;
    std::vector<double> applyTimes;
    for (int run = 0; run < runs; ++run) {
        copyTree(imported, work);
        fs::path workProject = work / project.filename();
        CKsDoc document(folder / "Temp");
        if (!document.OpenProject(workProject)) {
            std::fprintf(stderr, "cannot open the imported project\n");
            return 1;
        }
        const fs::path shown = imageFiles(work).front();
        ui::ImageWnd pane(nullptr, ui::ImagePaneServices{});
        pane.resize(900, 400);
        pane.ShowImageFile(shown, nullptr, &document, 0);
        pane.colorizeEngine().BuildHueTables(384, 10, 10, 10, true, false);
        applyTimes.push_back(medianMilliseconds(1, [&] { (void)pane.ApplyColorize(false, true); }));
    }
    setUiSink(nullptr);
    std::sort(applyTimes.begin(), applyTimes.end());
    const double applyMs = applyTimes[applyTimes.size() / 2];

    // The baseline reads and writes every image once.
    const double copyMs = medianMilliseconds(runs, [&] {
        fs::remove_all(copies);
        fs::create_directories(copies);
        std::size_t index = 0;
        for (const fs::path& file : images)
            fs::copy_file(file, copies / std::to_string(index++));
    });
    std::printf("apply to all %zu images of light.msstyles (with progress window): %8.1f ms\n", images.size(),
                applyMs);
    std::printf("copying the same %zu files:                                        %8.1f ms\n",
                images.size(), copyMs);
    std::printf("ratio: %.1f x   goal: at most 1 s (%s)\n", applyMs / copyMs,
                applyMs <= 1000.0 ? "met" : "missed");
    std::printf("the pane said: %s\n", sink.last.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const fs::path folder = fs::temp_directory_path() / "kestrel-bench-colorize";
    fs::remove_all(folder);
    fs::create_directories(folder);
    int status = benchPreview(folder);
    if (status == 0) status = benchApplyAll(folder);
    fs::remove_all(folder);
    return status;
}
