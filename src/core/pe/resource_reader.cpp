#include "core/pe/resource_reader.h"

#include "core/platform/paths.h"

namespace kestrel {

ResourceReader ResourceReader::forImage(const PeImage& image) {
    if (!image.resourceSection) return {};
    const SectionHeader& section = image.sections[*image.resourceSection];
    return ResourceReader(image.availableRawData(section), section.virtualAddress);
}

// IMAGE_RESOURCE_DIRECTORY: characteristics, time stamp, major and minor version (12 bytes), then
// the named and the ID entry counts; the entries (8 bytes each) follow directly.
std::optional<ResourceDirectory> ResourceReader::directory(std::uint32_t offset) const {
    auto header = section_.slice(offset, kResourceDirectoryHeaderSize);
    if (!header) return std::nullopt;
    ResourceDirectory result;
    result.namedCount = *header->u16(12);
    result.idCount = *header->u16(14);
    std::uint64_t count = std::uint64_t{result.namedCount} + result.idCount;
    auto entries =
        section_.slice(std::uint64_t{offset} + kResourceDirectoryHeaderSize, count * kResourceEntrySize);
    if (!entries) return std::nullopt;
    result.entries.reserve(static_cast<std::size_t>(count));
    for (std::uint64_t i = 0; i < count; ++i) {
        ResourceDirectoryEntry entry;
        entry.named = i < result.namedCount;
        entry.nameField = *entries->u32(i * kResourceEntrySize);
        entry.offsetField = *entries->u32(i * kResourceEntrySize + 4);
        result.entries.push_back(entry);
    }
    return result;
}

std::optional<std::u16string> ResourceReader::name(std::uint32_t offset) const {
    auto length = section_.u16(offset);
    if (!length) return std::nullopt;
    auto units = section_.slice(std::uint64_t{offset} + 2, std::uint64_t{*length} * 2);
    if (!units) return std::nullopt;
    std::u16string text(*length, u'\0');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(*units->u16(i * 2));
    return text;
}

// IMAGE_RESOURCE_DATA_ENTRY: OffsetToData (an RVA), Size, CodePage, Reserved.
std::optional<ResourceDataEntry> ResourceReader::dataEntry(std::uint32_t offset) const {
    auto entry = section_.slice(offset, kResourceDataEntrySize);
    if (!entry) return std::nullopt;
    return ResourceDataEntry{*entry->u32(0), *entry->u32(4), *entry->u32(8)};
}

std::optional<Bytes> ResourceReader::data(const ResourceDataEntry& entry) const {
    if (entry.rva < sectionRva_) return std::nullopt;
    return section_.span(entry.rva - sectionRva_, entry.size);
}

HResult ResourceLookup::open(Bytes file) {
    open_ = false;
    if (HResult hr = parsePeImage(file, image_); hr.failed()) return hr;
    if (!image_.resourceSection) return kFail;
    reader_ = ResourceReader::forImage(image_);
    open_ = true;
    return kOk;
}

void ResourceLookup::openSection(Bytes section, std::uint32_t sectionRva) {
    image_ = PeImage{};
    reader_ = ResourceReader(section, sectionRva);
    open_ = true;
}

std::vector<ResourceKey> ResourceLookup::keysOf(std::uint32_t directoryOffset) const {
    std::vector<ResourceKey> keys;
    auto dir = reader_.directory(directoryOffset);
    if (!dir) return keys;
    for (const auto& entry : dir->entries) {
        if (!entry.named) {
            keys.push_back(ResourceKey::ofId(entry.id()));
        } else if (auto text = reader_.name(entry.nameOffset())) {
            keys.push_back(ResourceKey::ofName(std::move(*text)));
        }
    }
    return keys;
}

namespace {

bool sameName(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i] < 0x80 ? static_cast<char16_t>(asciiUpper(static_cast<char>(a[i]))) : a[i];
        char16_t y = b[i] < 0x80 ? static_cast<char16_t>(asciiUpper(static_cast<char>(b[i]))) : b[i];
        if (x != y) return false;
    }
    return true;
}

}  // namespace

// The subdirectory a key leads to. Names match exactly first, then ignoring ASCII case, as the
// system's own lookup ignores case.
std::optional<std::uint32_t> ResourceLookup::subdirectory(std::uint32_t directoryOffset,
                                                          const ResourceKey& key) const {
    auto dir = reader_.directory(directoryOffset);
    if (!dir) return std::nullopt;
    std::optional<std::uint32_t> loose;
    for (const auto& entry : dir->entries) {
        if (!entry.leadsToDirectory() || entry.named != key.isName) continue;
        if (!key.isName) {
            if (entry.id() == key.id) return entry.target();
            continue;
        }
        auto text = reader_.name(entry.nameOffset());
        if (!text) continue;
        if (*text == key.name) return entry.target();
        if (!loose && sameName(*text, key.name)) loose = entry.target();
    }
    return loose;
}

std::vector<ResourceKey> ResourceLookup::types() const {
    if (!open_) return {};
    return keysOf(0);
}

std::vector<ResourceKey> ResourceLookup::names(const ResourceKey& type) const {
    if (!open_) return {};
    auto typeDir = subdirectory(0, type);
    return typeDir ? keysOf(*typeDir) : std::vector<ResourceKey>{};
}

std::vector<std::uint16_t> ResourceLookup::languages(const ResourceKey& type, const ResourceKey& name) const {
    std::vector<std::uint16_t> result;
    if (!open_) return result;
    auto typeDir = subdirectory(0, type);
    auto nameDir = typeDir ? subdirectory(*typeDir, name) : std::nullopt;
    auto dir = nameDir ? reader_.directory(*nameDir) : std::nullopt;
    if (!dir) return result;
    for (const auto& entry : dir->entries)
        if (!entry.named && !entry.leadsToDirectory()) result.push_back(entry.id());
    return result;
}

std::optional<Bytes> ResourceLookup::find(const ResourceKey& type, const ResourceKey& name,
                                          std::optional<std::uint16_t> language) const {
    if (!open_) return std::nullopt;
    auto typeDir = subdirectory(0, type);
    auto nameDir = typeDir ? subdirectory(*typeDir, name) : std::nullopt;
    auto dir = nameDir ? reader_.directory(*nameDir) : std::nullopt;
    if (!dir) return std::nullopt;
    for (const auto& entry : dir->entries) {
        if (entry.named || entry.leadsToDirectory()) continue;
        if (language && entry.id() != *language) continue;
        auto data = reader_.dataEntry(entry.target());
        if (!data) return std::nullopt;
        return reader_.data(*data);
    }
    return std::nullopt;
}

}  // namespace kestrel
