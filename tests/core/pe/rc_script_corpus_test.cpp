// Script text of real resources: every accelerator table, menu, dialog and message table of every i386 and
// amd64 file of the corpus (tests/corpus/fetch), in every language, decoded to text and compiled
// back, must give its bytes again. The tally per type shows how many needed carried bytes.
// Skipped when the corpus has not been fetched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "core/pe/rc_script.h"
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

struct Tally {
    const char* name;
    std::uint16_t type;
    HResult (*decode)(Bytes, const ScriptOptions&, ScriptText&);
    HResult (*compile)(std::string_view, std::vector<std::byte>&, ScriptError&);
    std::size_t count = 0, equal = 0, undecodable = 0, carrying = 0, carriedBytes = 0;
};

TEST(ScriptCorpus, EveryRealAcceleratorMenuDialogAndMessageTableCompilesBackExactly) {
    const std::filesystem::path root = corpusRoot();
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch)";
    const std::vector<std::filesystem::path> files = peFiles(root);
    if (files.empty()) GTEST_SKIP() << "no i386 or amd64 files under " << root;

    Tally tallies[] = {
        {"accelerators", resource_type::kAccelerator, AcceleratorsToScript, CompileAcceleratorsScript},
        {"menus", resource_type::kMenu, MenuToScript, CompileMenuScript},
        {"dialogs", resource_type::kDialog, DialogToScript, CompileDialogScript},
        {"message tables", resource_type::kMessageTable, MessageTableToScript, CompileMessageTableScript}};
    for (const auto& file : files) {
        std::vector<std::byte> image;
        ASSERT_EQ(ReadWholeFile(file, image), kOk);
        ResourceLookup lookup;
        if (lookup.open(image).failed()) continue;
        for (Tally& tally : tallies) {
            const ResourceKey key = ResourceKey::ofId(tally.type);
            for (const ResourceKey& name : lookup.names(key)) {
                for (std::uint16_t language : lookup.languages(key, name)) {
                    const std::optional<Bytes> data = lookup.find(key, name, language);
                    if (!data) continue;
                    ++tally.count;
                    ScriptText script;
                    ScriptOptions options;
                    options.language = language;
                    if (tally.decode(*data, options, script).failed()) {
                        ++tally.undecodable;
                        ADD_FAILURE() << file << ": " << tally.name << " resource does not decode";
                        continue;
                    }
                    std::vector<std::byte> compiled;
                    ScriptError error;
                    if (tally.compile(script.text, compiled, error).failed()) {
                        ADD_FAILURE()
                            << file << ": " << error.line << ":" << error.column << " " << error.message;
                        continue;
                    }
                    const bool equal =
                        std::equal(compiled.begin(), compiled.end(), data->begin(), data->end());
                    EXPECT_TRUE(equal) << file << "\n" << script.text;
                    tally.equal += equal ? 1 : 0;
                    tally.carrying += script.carriedBytes != 0 ? 1 : 0;
                    tally.carriedBytes += script.carriedBytes;
                }
            }
        }
    }
    for (const Tally& tally : tallies) {
        std::printf("script corpus: %s: %zu, %zu equal, %zu with carried bytes (%zu bytes)\n", tally.name,
                    tally.count, tally.equal, tally.carrying, tally.carriedBytes);
        EXPECT_EQ(tally.equal, tally.count) << tally.name;
        EXPECT_GT(tally.count, 0u) << tally.name;
    }
}

}  // namespace
}  // namespace kestrel
