// The dialog preview of the largest dialog of the real-file corpus (the one with the most items):
// decoding the template, creating its widgets and painting it once, beside decoding alone and
// beside painting an empty widget of the same size, in the same run. Takes the corpus root as its
// argument (default: the corpus cache). Goal: the preview in at most 20 ms.
#include <QApplication>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "core/pe/dialog_template.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "ui/panes/dialog_preview.h"
#include "ui/panes/resource_module.h"

namespace fs = std::filesystem;
using namespace kestrel;
using kestrel::bench::medianMilliseconds;

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication application(argc, argv);
    const char* home = std::getenv("HOME");
    const fs::path root = argc > 1
                              ? fs::path(argv[1])
                              : fs::path(home != nullptr ? home : "/") / ".cache/kestrel-corpus/root/usr/lib";
    fs::path bestFile;
    std::vector<std::byte> best;
    std::size_t bestItems = 0;
    std::error_code error;
    for (auto it = fs::recursive_directory_iterator(root, error);
         !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (!it->is_regular_file()) continue;
        ui::ResourceModule module;
        if (!module.load(it->path())) continue;
        const ResourceKey type = ResourceKey::ofId(resource_type::kDialog);
        for (const ResourceKey& name : module.lookup().names(type)) {
            for (std::uint16_t language : module.lookup().languages(type, name)) {
                const std::optional<Bytes> data = module.lookup().find(type, name, language);
                DialogTemplate dialog;
                if (!data || DecodeDialogTemplate(*data, dialog).failed() || dialog.items.size() <= bestItems)
                    continue;
                bestItems = dialog.items.size();
                best.assign(data->begin(), data->end());
                bestFile = it->path();
            }
        }
    }
    if (best.empty()) {
        std::fprintf(stderr, "no dialog found under %s (tests/corpus/fetch)\n", root.c_str());
        return 1;
    }
    ui::ResourceModule module;
    if (!module.load(bestFile)) return 1;

    const int runs = 21;
    DialogTemplate dialog;
    const double decodeMs = medianMilliseconds(runs, [&] { (void)DecodeDialogTemplate(best, dialog); });
    QSize size;
    const double previewMs = medianMilliseconds(runs, [&] {
        DialogTemplate decoded;
        if (DecodeDialogTemplate(best, decoded).failed()) return;
        ui::DialogPreview preview(decoded, module);
        size = preview.size();
        const QPixmap painted = preview.grab();
        (void)painted;
    });
    const double emptyMs = medianMilliseconds(runs, [&] {
        QWidget empty;
        empty.resize(size);
        const QPixmap painted = empty.grab();
        (void)painted;
    });
    std::printf("largest dialog: %zu items, %zu bytes, in %s (%d x %d pixels)\n", bestItems, best.size(),
                bestFile.filename().c_str(), size.width(), size.height());
    std::printf("decode only:                             %8.3f ms\n", decodeMs);
    std::printf("empty widget of that size, painted:      %8.3f ms\n", emptyMs);
    std::printf("preview (decode, widgets, first paint):  %8.3f ms   ratio %.1f x the empty widget\n",
                previewMs, previewMs / emptyMs);
    std::printf("goal: at most 20 ms (%s)\n", previewMs <= 20 ? "met" : "missed");
    return 0;
}
