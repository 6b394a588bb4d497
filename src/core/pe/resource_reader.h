// Bounds-checked reading of a resource section (directories, entries, counted names, data
// entries and data), shared by the import's walk and the read-only resource lookup.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/pe/pe_image.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

inline constexpr std::uint32_t kResourceDirectoryHeaderSize = 16;
inline constexpr std::uint32_t kResourceEntrySize = 8;
inline constexpr std::uint32_t kResourceDataEntrySize = 16;
inline constexpr std::uint32_t kResourceHighBit = 0x80000000u;

struct ResourceDirectoryEntry {
    bool named = false;             // from the directory's named part (the first NumberOfNamedEntries)
    std::uint32_t nameField = 0;    // the name offset with the high bit, or the ID
    std::uint32_t offsetField = 0;  // high bit: a subdirectory

    std::uint16_t id() const { return static_cast<std::uint16_t>(nameField & 0xFFFF); }
    std::uint32_t nameOffset() const { return nameField & ~kResourceHighBit; }
    bool leadsToDirectory() const { return (offsetField & kResourceHighBit) != 0; }
    std::uint32_t target() const { return offsetField & ~kResourceHighBit; }
};

struct ResourceDirectory {
    std::uint16_t namedCount = 0;
    std::uint16_t idCount = 0;
    std::vector<ResourceDirectoryEntry> entries;  // named entries first, then ID entries
};

struct ResourceDataEntry {
    std::uint32_t rva = 0;
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;
};

// Reads the structures of one resource section. `section` holds the section's raw data as far as
// it is in the file; offsets are relative to its start, data RVAs are resolved with `sectionRva`.
// Every read fails (nullopt) when any byte of it lies outside the section.
class ResourceReader {
  public:
    ResourceReader() = default;
    ResourceReader(Bytes section, std::uint32_t sectionRva) : section_(section), sectionRva_(sectionRva) {}
    // The resource section of a parsed image (empty when it has none).
    static ResourceReader forImage(const PeImage& image);

    std::optional<ResourceDirectory> directory(std::uint32_t offset) const;
    // A counted UTF-16 name: a 16-bit length, then that many units.
    std::optional<std::u16string> name(std::uint32_t offset) const;
    std::optional<ResourceDataEntry> dataEntry(std::uint32_t offset) const;
    // The bytes of a data entry; the whole range must lie inside the section.
    std::optional<Bytes> data(const ResourceDataEntry& entry) const;

    std::size_t sectionSize() const { return section_.size(); }

  private:
    ByteReader section_;
    std::uint32_t sectionRva_ = 0;
};

// A resource type, name or language: a 16-bit ID or a UTF-16 name.
struct ResourceKey {
    bool isName = false;
    std::uint16_t id = 0;
    std::u16string name;

    static ResourceKey ofId(std::uint16_t value) { return ResourceKey{false, value, {}}; }
    static ResourceKey ofName(std::u16string value) { return ResourceKey{true, 0, std::move(value)}; }
    friend bool operator==(const ResourceKey&, const ResourceKey&) = default;
};

// Read-only lookup of resources in a loaded image, for the compile, the previews and the tests.
// The three levels are read directly (no recursion); malformed parts are skipped, never followed.
class ResourceLookup {
  public:
    // Parses the image (it must stay alive while the lookup is used). E_FAIL when the image is not
    // a valid PE32 image or has no resource section.
    HResult open(Bytes file);
    // Looks up the resources of a bare resource section (it must stay alive) laid out for `sectionRva`.
    void openSection(Bytes section, std::uint32_t sectionRva);
    bool isOpen() const { return open_; }

    std::vector<ResourceKey> types() const;
    std::vector<ResourceKey> names(const ResourceKey& type) const;
    std::vector<std::uint16_t> languages(const ResourceKey& type, const ResourceKey& name) const;
    // The bytes of one resource; without a language, the first one in the directory.
    std::optional<Bytes> find(const ResourceKey& type, const ResourceKey& name,
                              std::optional<std::uint16_t> language = std::nullopt) const;

    const PeImage& image() const { return image_; }
    const ResourceReader& reader() const { return reader_; }

  private:
    // The subdirectories of one directory by key, first entry kept, so that a lookup does not decode
    // and compare every name of a directory with thousands of them.
    struct DirectoryIndex {
        std::unordered_map<std::uint16_t, std::uint32_t> ids;
        std::unordered_map<std::u16string, std::uint32_t> names;
        std::unordered_map<std::u16string, std::uint32_t> looseNames;      // ASCII letters upper-cased
        std::vector<std::uint16_t> languageOrder;                          // a name directory's languages
        std::unordered_map<std::uint16_t, std::uint32_t> languageEntries;  // language -> its data entry
    };

    std::vector<ResourceKey> keysOf(std::uint32_t directoryOffset) const;
    std::optional<std::uint32_t> subdirectory(std::uint32_t directoryOffset, const ResourceKey& key) const;
    const DirectoryIndex* nameDirectory(const ResourceKey& type, const ResourceKey& name) const;
    void indexDirectories();

    PeImage image_;
    ResourceReader reader_;
    bool open_ = false;
    std::unordered_map<std::uint32_t, DirectoryIndex> index_;  // every directory, by offset
};

}  // namespace kestrel
