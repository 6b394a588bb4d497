// The dialog and menu templates of real files: every DIALOG and MENU resource of every i386 and
// amd64 file of the corpus (tests/corpus/fetch), read through the resource lookup, must decode.
// Skipped when the corpus has not been fetched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>

#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"

namespace kestrel {
namespace {

std::filesystem::path corpusRoot() {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    std::filesystem::path base =
        cache != nullptr && *cache != '\0'
            ? std::filesystem::path(cache)
            : std::filesystem::path(home != nullptr ? home : "/") / ".cache/kestrel-corpus";
    return base / "root";
}

std::vector<std::filesystem::path> peFiles(const std::filesystem::path& root) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        const auto folder = it->path().parent_path().filename();
        if (it->is_regular_file() && (folder == "i386-windows" || folder == "x86_64-windows"))
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// Calls `visit` with every resource of `type` in `lookup`, in every language.
void forEachResource(const ResourceLookup& lookup, std::uint16_t type,
                     const std::function<void(Bytes)>& visit) {
    const ResourceKey key = ResourceKey::ofId(type);
    for (const ResourceKey& name : lookup.names(key)) {
        for (std::uint16_t language : lookup.languages(key, name)) {
            if (std::optional<Bytes> data = lookup.find(key, name, language)) visit(*data);
        }
    }
}

struct Counts {
    std::size_t files = 0, dialogs = 0, extendedDialogs = 0, items = 0, menus = 0, extendedMenus = 0;
};

void checkDialog(Bytes data, Counts& counts) {
    DialogTemplate dialog;
    ASSERT_EQ(DecodeDialogTemplate(data, dialog), kOk) << "dialog " << counts.dialogs;
    ++counts.dialogs;
    counts.extendedDialogs += dialog.extended ? 1 : 0;
    counts.items += dialog.items.size();
    EXPECT_EQ(dialog.items.size(), ByteReader(data).u16(dialog.extended ? 16 : 8));
    for (const DialogItem& item : dialog.items)
        EXPECT_FALSE(item.windowClass.isNone());
}

void checkMenu(Bytes data, Counts& counts) {
    MenuTemplate menu;
    ASSERT_EQ(DecodeMenuTemplate(data, menu), kOk) << "menu " << counts.menus;
    ++counts.menus;
    counts.extendedMenus += menu.extended ? 1 : 0;
    EXPECT_FALSE(menu.items.empty());
}

TEST(TemplateCorpus, EveryRealDialogAndMenuDecodes) {
    const std::filesystem::path root = corpusRoot();
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch)";
    const std::vector<std::filesystem::path> files = peFiles(root);
    if (files.empty()) GTEST_SKIP() << "no i386 or amd64 files under " << root;

    Counts counts;
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        std::vector<std::byte> image;
        ASSERT_EQ(ReadWholeFile(file, image), kOk);
        ResourceLookup lookup;
        if (lookup.open(image).failed()) continue;
        ++counts.files;
        forEachResource(lookup, resource_type::kDialog, [&](Bytes data) { checkDialog(data, counts); });
        forEachResource(lookup, resource_type::kMenu, [&](Bytes data) { checkMenu(data, counts); });
        if (HasFatalFailure()) return;
    }
    std::printf(
        "template corpus: %zu files; %zu dialogs (%zu extended) with %zu items; %zu menus (%zu extended)\n",
        counts.files, counts.dialogs, counts.extendedDialogs, counts.items, counts.menus,
        counts.extendedMenus);
    EXPECT_GT(counts.extendedDialogs, 0u);
    EXPECT_GT(counts.extendedMenus, 0u);
}

}  // namespace
}  // namespace kestrel
