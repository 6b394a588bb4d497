// The version resources of real files: every VERSION resource of every i386 and amd64 file of the
// corpus (tests/corpus/fetch), read through the resource lookup. Each is written back byte for byte,
// also when every node is laid out from its fields, and each field is edited in turn with exactly
// the change that edit makes. Skipped when the corpus has not been fetched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <initializer_list>
#include <utility>

#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/pe/version_info.h"
#include "core/platform/files.h"

namespace kestrel {
namespace {

using ByteVector = std::vector<std::byte>;

std::filesystem::path corpusRoot() {
    const char* cache = std::getenv("KESTREL_CORPUS_CACHE");
    const char* home = std::getenv("HOME");
    std::filesystem::path base =
        cache != nullptr && *cache != '\0'
            ? std::filesystem::path(cache)
            : std::filesystem::path(home != nullptr ? home : "/") / ".cache/kestrel-corpus";
    return base / "root";
}

// Every file of the folders called `folderName` (programs, libraries, drivers; what is not a PE
// image is passed over by the lookup).
std::vector<std::filesystem::path> peFiles(const std::filesystem::path& root, const std::string& folderName) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file() && it->path().parent_path().filename() == folderName)
            files.push_back(it->path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

::testing::AssertionResult sameBytes(const ByteVector& actual, const ByteVector& expected) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "size " << actual.size() << ", expected " << expected.size();
    auto [a, b] = std::mismatch(actual.begin(), actual.end(), expected.begin());
    if (a == actual.end()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "first difference at " << (a - actual.begin());
}

ByteVector written(const VersionInfo& info) {
    ByteVector bytes;
    EXPECT_EQ(WriteVersionInfo(info, bytes), kOk);
    return bytes;
}

// `bytes` with little-endian values put at the given offsets.
ByteVector patched(const ByteVector& bytes,
                   std::initializer_list<std::pair<std::size_t, std::uint16_t>> units) {
    ByteWriter out;
    out.append(asBytes(bytes));
    for (auto [at, value] : units)
        out.patchU16(at, value);
    return std::move(out.bytes());
}

std::size_t valueOffset(const VersionNode& node) {
    return node.originalOffset + 6 + 2 * (node.key.size() + 1) + node.keyPadding.bytes.size();
}

struct Counts {
    std::size_t resources = 0, fieldEdits = 0, stringEdits = 0, translationEdits = 0, oddStrings = 0;
};

void checkResource(const ByteVector& bytes, Counts& counts) {
    VersionInfo info;
    ASSERT_EQ(ParseVersionInfo(bytes, info), kOk);
    ++counts.resources;
    EXPECT_TRUE(sameBytes(written(info), bytes));
    VersionInfo laidOut = info;
    DropOriginalBytes(laidOut.root);
    EXPECT_TRUE(sameBytes(written(laidOut), bytes));

    // Each field of the fixed block from the file version on: its four bytes and nothing else.
    if (std::optional<FixedFileInfo> fixed = GetFixedFileInfo(info)) {
        std::uint32_t FixedFileInfo::*fields[] = {
            &FixedFileInfo::fileVersionMS,    &FixedFileInfo::fileVersionLS, &FixedFileInfo::productVersionMS,
            &FixedFileInfo::productVersionLS, &FixedFileInfo::fileFlagsMask, &FixedFileInfo::fileFlags,
            &FixedFileInfo::fileOS,           &FixedFileInfo::fileType,      &FixedFileInfo::fileSubtype};
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            VersionInfo edited = info;
            FixedFileInfo changed = *fixed;
            changed.*fields[i] ^= 0x00A50001;
            SetFixedFileInfo(edited, changed);
            const std::size_t at = valueOffset(info.root) + 4 * (i + 2);
            const std::uint32_t value = changed.*fields[i];
            EXPECT_TRUE(
                sameBytes(written(edited), patched(bytes, {{at, value & 0xFFFF}, {at + 2, value >> 16}})))
                << "field " << i;
            ++counts.fieldEdits;
        }
    }

    // Each string of the first table grows by two units: the String is written anew, its table,
    // StringFileInfo and the root grow by four bytes, every other byte stays.
    const VersionNode* stringFileInfo = nullptr;
    for (const VersionNode& child : info.root.children) {
        if (child.key == u"StringFileInfo" && !child.children.empty()) {
            stringFileInfo = &child;
            break;
        }
    }
    const auto strings = GetVersionStrings(info);
    for (std::size_t i = 0; stringFileInfo != nullptr && i < strings.size(); ++i) {
        const VersionNode& table = stringFileInfo->children.front();
        const VersionNode& string = table.children[i];
        const auto& [key, text] = strings[i];
        if (string.type != 1 || string.value.size() != 2 * (text.size() + 1) ||
            GetVersionString(info, key) != text) {
            ++counts.oddStrings;  // a duplicate key, or a value with more than its text and terminator
            continue;
        }
        VersionInfo edited = info;
        const std::u16string longer = text + u"+1";
        SetVersionString(edited, key, longer);
        const std::size_t start = string.originalOffset;
        const std::size_t valueStart = valueOffset(string);
        ByteVector expected(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(valueStart));
        for (char16_t unit : longer + u'\0') {
            expected.push_back(static_cast<std::byte>(unit & 0xFF));
            expected.push_back(static_cast<std::byte>(unit >> 8));
        }
        expected.insert(expected.end(),
                        bytes.begin() + static_cast<std::ptrdiff_t>(start + string.original.size()),
                        bytes.end());
        expected = patched(expected, {{start, string.length + 4},
                                      {start + 2, longer.size() + 1},
                                      {0, info.root.length + 4},
                                      {stringFileInfo->originalOffset, stringFileInfo->length + 4},
                                      {table.originalOffset, table.length + 4}});
        EXPECT_TRUE(sameBytes(written(edited), expected)) << "string " << i;
        ++counts.stringEdits;
    }

    if (std::optional<VersionTranslation> translation = GetVersionTranslation(info)) {
        const VersionNode* var = nullptr;
        for (const VersionNode& child : info.root.children) {
            if (child.key == u"VarFileInfo" && !child.children.empty()) var = &child.children.front();
        }
        ASSERT_NE(var, nullptr);
        const VersionTranslation other{static_cast<std::uint16_t>(translation->language ^ 0x0C00), 1252};
        VersionInfo edited = info;
        SetVersionTranslation(edited, other);
        const std::size_t at = valueOffset(*var);
        EXPECT_TRUE(
            sameBytes(written(edited), patched(bytes, {{at, other.language}, {at + 2, other.codePage}})));
        ++counts.translationEdits;
    }
}

TEST(VersionCorpus, RealVersionResourcesWriteBackAndTakeEachEditExactly) {
    const std::filesystem::path root = corpusRoot();
    if (!std::filesystem::is_directory(root)) GTEST_SKIP() << "corpus not fetched (tests/corpus/fetch)";
    std::vector<std::filesystem::path> files = peFiles(root, "i386-windows");
    for (const auto& file : peFiles(root, "x86_64-windows"))
        files.push_back(file);
    if (files.empty()) GTEST_SKIP() << "no i386 or amd64 files under " << root;

    Counts counts;
    const ResourceKey versionType = ResourceKey::ofId(resource_type::kVersion);
    for (const auto& file : files) {
        SCOPED_TRACE(file.string());
        ByteVector image;
        ASSERT_EQ(ReadWholeFile(file, image), kOk);
        ResourceLookup lookup;
        if (lookup.open(image).failed()) continue;
        for (const ResourceKey& name : lookup.names(versionType)) {
            for (std::uint16_t language : lookup.languages(versionType, name)) {
                std::optional<Bytes> data = lookup.find(versionType, name, language);
                if (!data) continue;
                checkResource(ByteVector(data->begin(), data->end()), counts);
                if (HasFatalFailure()) return;
            }
        }
    }
    std::printf(
        "version corpus: %zu files, %zu resources; %zu field, %zu string, %zu translation edits; "
        "%zu odd strings left unedited\n",
        files.size(), counts.resources, counts.fieldEdits, counts.stringEdits, counts.translationEdits,
        counts.oddStrings);
    EXPECT_GT(counts.resources, 0u);
}

}  // namespace
}  // namespace kestrel
