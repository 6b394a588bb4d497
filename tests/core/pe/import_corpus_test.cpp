// Imports every PE file of the real corpus (tests/corpus/fetch) and checks, against an independent
// reader (python3-pefile), that every resource comes out complete: each (type, name, language) is
// described in pe.xml with a file whose bytes give back the resource, and every string of every
// block and language is in STRINGS.XML. Skipped when the corpus has not been fetched.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <tuple>

#include "core/images/png_codec.h"
#include "import_test_support.h"
#include "pe_builder/oracle.h"

namespace kestrel::testing {
namespace {

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#elif defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

std::filesystem::path corpusRoot() {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    std::filesystem::path base = cache ? std::filesystem::path(cache)
                                       : std::filesystem::path(home ? home : "/") / ".cache/kestrel-corpus";
    return base / "root";
}

bool startsWithMz(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {};
    return in.read(magic, 2) && magic[0] == 'M' && magic[1] == 'Z';
}

// Our pe.xml key ("n:" + UTF-8) in the oracle's spelling.
std::string oracleSpelling(const std::string& key) {
    if (key.rfind("n:", 0) != 0) return key;
    return pb::oracleKey(pb::ResourceId(utf8ToUtf16(key.substr(2))));
}

using StringKey = std::tuple<std::int64_t, std::uint16_t>;  // string ID, language

// STRINGS.XML as (ID, language) → text, with the default language of the first type-6 entry.
std::map<StringKey, std::string> readStringsFile(const std::filesystem::path& folder,
                                                 std::uint16_t defaultLanguage) {
    std::map<StringKey, std::string> strings;
    XmlDocument document;
    if (document.LoadFile(folder / "STRINGS.XML").failed()) return strings;
    XmlElement* root = document.documentNode()->next();
    for (XmlElement* e = root ? root->firstChild() : nullptr; e; e = e->next()) {
        std::string language = attributeOr(e, "L");
        auto lang = language.empty() ? defaultLanguage : static_cast<std::uint16_t>(std::stoi(language));
        strings[{std::stoll(attributeOr(e, "ID", "0")), lang}] = attributeOr(e, "S");
    }
    return strings;
}

struct Totals {
    std::size_t files = 0, imported = 0, pe32Plus = 0, withoutResources = 0, oracleFailed = 0;
    std::size_t resources = 0, strings = 0, pngBitmaps = 0;
};

void checkFile(const std::filesystem::path& path, const std::filesystem::path& script, Totals& totals) {
    SCOPED_TRACE(path.string());
    std::vector<std::byte> bytes = readBytes(path);
    std::string oracleError;
    auto listing = pb::readWithOracle(script, path, &oracleError);
    TempDir dir;
    RecordingSink sink;
    HResult hr = dumpInto(bytes, dir.path());
    ++totals.files;
    if (!listing) {
        ++totals.oracleFailed;  // not a PE file pefile can read: we only must not crash
        return;
    }
    if (listing->resources.empty() && hr.failed()) {
        ++totals.withoutResources;
        return;
    }
    ASSERT_EQ(hr, kOk) << reportText();
    ++totals.imported;
    if (listing->header["magic"] == 0x20B) ++totals.pe32Plus;
    auto described = readDescription(dir.path());
    ASSERT_TRUE(described.has_value());

    std::map<std::tuple<std::string, std::string, std::uint16_t>, const DumpedResource*> byKey;
    std::optional<std::uint16_t> defaultLanguage;
    for (const auto& resource : *described) {
        byKey[{oracleSpelling(resource.type), oracleSpelling(resource.name), resource.language}] = &resource;
        if (resource.type == "i:6" && !resource.file.empty() && !defaultLanguage)
            defaultLanguage = resource.language;
    }
    auto strings = readStringsFile(dir.path(), defaultLanguage.value_or(1033));

    for (const auto& resource : listing->resources) {
        if (!resource.readable) continue;
        auto found = byKey.find({resource.type, resource.name, resource.language});
        ASSERT_NE(found, byKey.end()) << resource.type << " " << resource.name << " " << resource.language;
        const DumpedResource& dumped = *found->second;
        ++totals.resources;
        if (resource.data.empty()) {
            EXPECT_TRUE(dumped.file.empty());
            continue;
        }
        if (resource.type == "i:6") {
            std::int64_t block = std::stoll(resource.name.substr(2));
            ByteReader reader(Bytes(resource.data.data(), resource.data.size()));
            std::uint64_t at = 0;
            for (std::int64_t slot = 0; slot < 16 && at + 2 <= reader.size(); ++slot) {
                std::uint16_t length = *reader.u16(at);
                std::u16string text;
                for (std::uint16_t i = 0; i < length; ++i)
                    text += static_cast<char16_t>(reader.u16Or(at + 2 + 2 * i, 0));
                at += 2 + 2 * std::uint64_t{length};
                if (length == 0) continue;
                auto line = strings.find({(block - 1) * 16 + slot, resource.language});
                ASSERT_NE(line, strings.end())
                    << "string " << (block - 1) * 16 + slot << " " << resource.language;
                EXPECT_EQ(utf8ToUtf16(line->second), text);
                ++totals.strings;
            }
            continue;
        }
        std::filesystem::path file;
        ASSERT_EQ(resolveStored(dir.path(), dumped.file, file), kOk) << dumped.file;
        std::vector<std::byte> content = readBytes(file);
        if (resource.type == "i:2" && dumped.png == 1) {
            std::filesystem::path png;
            ASSERT_EQ(resolveStored(dir.path(), pngSiblingName(dumped.file), png), kOk);
            ImageRecord record;
            EXPECT_EQ(PngConverter().ReadPngFile(png, record), kOk) << dumped.file;
            ++totals.pngBitmaps;
        } else if (resource.type == "i:2") {
            EXPECT_EQ(tail(content, 14), resource.data) << dumped.file;
        } else if (resource.type == "i:3") {
            EXPECT_EQ(tail(content, 22), resource.data) << dumped.file;
        } else if (resource.type == "i:1") {
            EXPECT_EQ(tail(content, 22), tail(resource.data, 4)) << dumped.file;
        } else {
            EXPECT_EQ(content, resource.data) << dumped.file;
        }
    }
}

TEST(ImportCorpus, EveryResourceOfTheRealFilesComesOut) {
    std::filesystem::path root = corpusRoot();
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch)";
    if (!pb::oracleRuns()) GTEST_SKIP() << "the Python reference reader does not run on this system";
    std::filesystem::path script = std::filesystem::path(KESTREL_SOURCE_DIR) / "tools" / "pe_resources.py";
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(root))
        if (entry.is_regular_file() && !entry.is_symlink() && startsWithMz(entry.path()))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    if (files.empty()) GTEST_SKIP() << "no PE files under " << root;

    // The sanitizer build checks every eighth file and every large one (the visual-style file among
    // them); KESTREL_CORPUS_STRIDE overrides the stride (1: every file).
    std::size_t stride = kSanitized ? 8 : 1;
    if (const char* text = std::getenv("KESTREL_CORPUS_STRIDE")) stride = std::max(1, std::atoi(text));
    Totals totals;
    for (std::size_t i = 0; i < files.size(); ++i) {
        const auto& file = files[i];
        if (i % stride != 0 && std::filesystem::file_size(file) < (1u << 20)) continue;
        checkFile(file, script, totals);
        if (HasFatalFailure()) return;
    }
    std::printf(
        "corpus: %zu files, %zu imported, %zu of them PE32+, %zu without resources, %zu unreadable "
        "by the oracle; %zu resources, %zu strings, %zu bitmaps as PNG checked\n",
        totals.files, totals.imported, totals.pe32Plus, totals.withoutResources, totals.oracleFailed,
        totals.resources, totals.strings, totals.pngBitmaps);
    EXPECT_GT(totals.imported, 0u);
}

}  // namespace
}  // namespace kestrel::testing
