// The text pane on a big string table: showing the file (read, decode, colour, lay out) and
// replacing a text found 10,000 times, each beside reading the same file in the same run. Takes the
// STRINGS.XML of an imported program as its argument (import one with kestrel /Decompile); without
// one it makes a table of 3,600 strings of its own. Goals: shown in at most 0.3 s, replace all in
// at most 1 s.
#include <QApplication>
#include <QTextDocument>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "core/platform/files.h"
#include "ui/panes/text_wnd.h"
#include "ui/widgets/code_editor.h"

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::bench::medianMilliseconds;

namespace {

std::string stringTable(int strings, int needles) {
    std::string text = "<?xml version='1.0' encoding='ISO-8859-1'?><ROOT>\r\n";
    for (int i = 0; i < strings; ++i) {
        text += "  <E ID='" + std::to_string(i) + "' S=\"Shows the properties of the selected item";
        text += i < needles ? " needle" : "";
        text += "\"/>\r\n";
    }
    return text + "</ROOT>\r\n";
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);

    const fs::path folder = fs::temp_directory_path() / "kestrel-bench-text-pane";
    fs::create_directories(folder);
    fs::path strings = folder / "STRINGS.XML";
    if (argc > 1) {
        strings = argv[1];
    } else if (WriteWholeFile(strings, asBytes(std::string_view(stringTable(3600, 0)))).failed()) {
        std::fprintf(stderr, "cannot write %s\n", strings.c_str());
        return 1;
    }
    // 10,000 lines holding the text to replace, in a file of the same kind.
    const fs::path needles = folder / "NEEDLES.XML";
    if (WriteWholeFile(needles, asBytes(std::string_view(stringTable(10000, 10000)))).failed()) return 1;

    ui::TextPaneState state;
    ui::TextWnd pane(nullptr, ui::PaneServices{}, state);
    pane.resize(800, 600);
    pane.show();
    std::vector<std::byte> bytes;
    const int runs = 7;
    const double readMs = medianMilliseconds(runs, [&] { (void)ReadWholeFile(strings, bytes); });
    const double showMs = medianMilliseconds(runs, [&] {
        pane.ShowTextFile(strings, nullptr, nullptr);
        QApplication::processEvents();
    });
    const std::size_t size = bytes.size();

    double replaceMs = 0;
    int found = 0;
    {
        replaceMs = medianMilliseconds(3, [&] {
            pane.ShowTextFile(needles, nullptr, nullptr);
            const auto before = pane.editor()->document()->characterCount();
            pane.FindStep(ui::FindResult::kReplaceAll,
                          {QStringLiteral("needle"), QStringLiteral("pin"), false, true});
            found = static_cast<int>((before - pane.editor()->document()->characterCount()) / 3);
            QApplication::processEvents();
        });
    }
    const double needleReadMs = medianMilliseconds(runs, [&] { (void)ReadWholeFile(needles, bytes); });

    std::printf("show %s (%zu bytes, read, decode, colour, lay out): %8.2f ms\n", strings.filename().c_str(),
                size, showMs);
    std::printf("reading the same file:                                   %8.3f ms   ratio %.0f x\n", readMs,
                showMs / readMs);
    std::printf("goal: shown in at most 300 ms (%s)\n\n", showMs <= 300 ? "met" : "missed");
    std::printf("replace all, %d matches (one undo step):                %8.2f ms\n", found, replaceMs);
    std::printf("reading the file of %zu bytes:                          %8.3f ms   ratio %.0f x\n",
                bytes.size(), needleReadMs, replaceMs / needleReadMs);
    std::printf("goal: at most 1000 ms (%s)\n", replaceMs <= 1000 ? "met" : "missed");
    fs::remove_all(folder);
    return 0;
}
