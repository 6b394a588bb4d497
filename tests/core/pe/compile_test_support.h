// Helpers of the compile tests: import a built image into a temporary working folder, compile it
// back, and compare the result with the original resource by resource.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/errors.h"
#include "core/pe/decompile_file.h"
#include "core/pe/res_compiler.h"
#include "core/pe/resource_reader.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

namespace pb = kestrel::pebuilder;

// Records message boxes and answers every question with `answer`.
class CompileSink : public UiSink {
  public:
    explicit CompileSink(Answer answer = Answer::kNo) : answer(answer) { setUiSink(this); }
    ~CompileSink() override { setUiSink(nullptr); }
    void message(std::string_view text, std::string_view caption, MessageIcon) override {
        messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    Answer ask(std::string_view text, std::string_view, Buttons, int, MessageIcon) override {
        questions.emplace_back(text);
        return answer;
    }
    int showError() override { return 1; }
    void busy(bool) override {}

    std::vector<std::string> messages;
    std::vector<std::string> questions;
    Answer answer;
};

inline std::string errorText() {
    auto record = PeekErrorRecord();
    return record ? record->description : std::string();
}

// A built image imported into <temp>/work; the original file is <temp>/original/<name>.
struct WorkingFolder {
    TempDir temp;
    std::filesystem::path original;
    std::filesystem::path folder;
    pb::ByteVector image;

    explicit WorkingFolder(pb::ByteVector bytes, std::string name = "test.dll") : image(std::move(bytes)) {
        original = temp.write("original/" + name,
                              std::string_view(reinterpret_cast<const char*>(image.data()), image.size()));
        folder = temp / "work";
        std::filesystem::path project;
        HResult hr = DecompileFile(original, folder, project);
        EXPECT_TRUE(hr.succeeded()) << std::hex << hr.value() << "\n" << errorText();
    }

    std::filesystem::path file(std::string_view stored) const {
        std::filesystem::path out;
        EXPECT_TRUE(resolveStored(folder, stored, out).succeeded());
        return out;
    }
    std::filesystem::path output() const { return folder / original.filename(); }

    // Compiles with the trace collected; the result of Compile.
    HResult compile(std::string* trace = nullptr) const {
        CResCompiler compiler;
        compiler.setWorkingFolder(folder);
        compiler.setOutputName(original.filename());
        std::string collected;
        compiler.setTrace([&](std::string_view text) { collected += text; });
        HResult hr = compiler.Compile(folder / "pe.xml");
        if (trace) *trace = collected;
        return hr;
    }
};

// Replaces a file of the working folder with `content`.
inline void overwrite(const std::filesystem::path& path, std::string_view content) {
    std::filesystem::remove(path);
    std::ofstream out(path, std::ios::binary);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
}
inline void overwrite(const std::filesystem::path& path, const std::vector<std::byte>& content) {
    overwrite(path, std::string_view(reinterpret_cast<const char*>(content.data()), content.size()));
}

// Replaces the first occurrence of `from` in a text file.
inline void replaceInFile(const std::filesystem::path& path, std::string_view from, std::string_view to) {
    std::string text = readText(path);
    auto at = text.find(from);
    ASSERT_NE(at, std::string::npos) << from;
    text.replace(at, from.size(), to);
    overwrite(path, text);
}

// Little-endian field access for assertions on built files.
inline std::uint32_t u32At(const std::vector<std::byte>& bytes, std::size_t offset) {
    return ByteReader(Bytes(bytes.data(), bytes.size())).u32Or(offset, 0xDEADBEEF);
}
inline std::uint16_t u16At(const std::vector<std::byte>& bytes, std::size_t offset) {
    return ByteReader(Bytes(bytes.data(), bytes.size())).u16Or(offset, 0xDEAD);
}
inline void putU32At(std::vector<std::byte>& bytes, std::size_t offset, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes.at(offset + i) = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

// Header fields of a PE32 image.
struct PeFields {
    std::uint32_t lfanew = 0;
    std::vector<std::byte> bytes;
    explicit PeFields(std::vector<std::byte> data) : bytes(std::move(data)) { lfanew = u32At(bytes, 0x3C); }
    std::uint32_t optional(std::size_t offset) const { return u32At(bytes, lfanew + 24 + offset); }
    std::uint32_t checksum() const { return optional(64); }
    std::uint32_t sizeOfImage() const { return optional(56); }
    std::uint32_t directoryRva(std::size_t index) const { return optional(96 + 8 * index); }
    std::uint32_t directorySize(std::size_t index) const { return optional(100 + 8 * index); }
    std::uint32_t symbolTable() const { return u32At(bytes, lfanew + 12); }
    std::size_t sectionCount() const { return u16At(bytes, lfanew + 6); }
    std::size_t sectionHeader(std::size_t index) const { return lfanew + 248 + 40 * index; }
    std::string sectionName(std::size_t index) const {
        std::string name;
        for (std::size_t i = 0; i < 8; ++i) {
            auto c = static_cast<char>(bytes.at(sectionHeader(index) + i));
            if (c == 0) break;
            name += c;
        }
        return name;
    }
    std::uint32_t virtualSize(std::size_t i) const { return u32At(bytes, sectionHeader(i) + 8); }
    std::uint32_t virtualAddress(std::size_t i) const { return u32At(bytes, sectionHeader(i) + 12); }
    std::uint32_t rawSize(std::size_t i) const { return u32At(bytes, sectionHeader(i) + 16); }
    std::uint32_t rawPointer(std::size_t i) const { return u32At(bytes, sectionHeader(i) + 20); }
    std::optional<std::size_t> section(std::string_view name) const {
        for (std::size_t i = 0; i < sectionCount(); ++i)
            if (sectionName(i) == name) return i;
        return std::nullopt;
    }
    std::vector<std::byte> rawData(std::size_t i) const {
        std::size_t start = rawPointer(i), size = rawSize(i);
        if (start > bytes.size() || size > bytes.size() - start) return {};
        return {bytes.begin() + static_cast<std::ptrdiff_t>(start),
                bytes.begin() + static_cast<std::ptrdiff_t>(start + size)};
    }
};

// Every resource of an image: key "type/name/language" → bytes.
inline std::map<std::string, std::vector<std::byte>> resourcesOf(const std::vector<std::byte>& image) {
    std::map<std::string, std::vector<std::byte>> out;
    ResourceLookup lookup;
    if (lookup.open(Bytes(image.data(), image.size())).failed()) return out;
    auto text = [](const ResourceKey& key) {
        return key.isName ? "n:" + utf16ToUtf8(key.name) : "i:" + std::to_string(key.id);
    };
    for (const ResourceKey& type : lookup.types())
        for (const ResourceKey& name : lookup.names(type))
            for (std::uint16_t language : lookup.languages(type, name)) {
                auto data = lookup.find(type, name, language);
                std::string key = text(type) + "/" + text(name) + "/" + std::to_string(language);
                out[key] =
                    data ? std::vector<std::byte>(data->begin(), data->end()) : std::vector<std::byte>{};
            }
    return out;
}

inline std::vector<std::byte> resourceOf(const std::vector<std::byte>& image, const std::string& key) {
    auto all = resourcesOf(image);
    auto found = all.find(key);
    return found == all.end() ? std::vector<std::byte>{} : found->second;
}

// The files of a folder (relative names) with their sizes and modification times.
inline std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> folderListing(
    const std::filesystem::path& folder) {
    std::map<std::string, std::pair<std::uintmax_t, std::int64_t>> out;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder))
        if (entry.is_regular_file())
            out[entry.path().lexically_relative(folder).string()] = {entry.file_size(),
                                                                     FileModificationTime(entry.path())};
    return out;
}

}  // namespace kestrel::testing
