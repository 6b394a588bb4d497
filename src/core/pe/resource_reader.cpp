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
    indexDirectories();
    return kOk;
}

void ResourceLookup::openSection(Bytes section, std::uint32_t sectionRva) {
    image_ = PeImage{};
    reader_ = ResourceReader(section, sectionRva);
    open_ = true;
    indexDirectories();
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

std::u16string looseName(const std::u16string& name) {
    std::u16string upper = name;
    for (char16_t& unit : upper)
        if (unit < 0x80) unit = static_cast<char16_t>(asciiUpper(static_cast<char>(unit)));
    return upper;
}

}  // namespace

// Reads the three levels once. As in the import, a directory is followed from the first entry that
// leads to it only: a crafted file whose entries share directories (or point back up) does not
// multiply into millions of resources, and every lookup afterwards is a hash look-up instead of a
// walk that decodes each name of a directory with thousands of them.
void ResourceLookup::indexDirectories() {
    index_.clear();
    index_[0];
    std::vector<std::uint32_t> pending{0};
    for (int level = 0; level < 2; ++level) {
        std::vector<std::uint32_t> next;
        for (std::uint32_t offset : pending) {
            auto dir = reader_.directory(offset);
            if (!dir) continue;
            for (const auto& entry : dir->entries) {
                if (!entry.leadsToDirectory()) continue;
                const std::uint32_t target = entry.target();
                if (!index_.try_emplace(target).second) continue;
                next.push_back(target);
                DirectoryIndex& index = index_.at(offset);
                if (!entry.named) {
                    index.ids.emplace(entry.id(), target);
                } else if (auto text = reader_.name(entry.nameOffset())) {
                    index.looseNames.emplace(looseName(*text), target);
                    index.names.emplace(std::move(*text), target);
                }
            }
        }
        pending = std::move(next);
    }
    for (std::uint32_t offset : pending) {  // the name directories: their languages
        auto dir = reader_.directory(offset);
        if (!dir) continue;
        DirectoryIndex& index = index_.at(offset);
        for (const auto& entry : dir->entries) {
            if (entry.named || entry.leadsToDirectory()) continue;
            index.languageOrder.push_back(entry.id());
            index.languageEntries.emplace(entry.id(), entry.target());
        }
    }
}

// The subdirectory a key leads to. Names match exactly first, then ignoring ASCII case, as the
// system's own lookup ignores case.
std::optional<std::uint32_t> ResourceLookup::subdirectory(std::uint32_t directoryOffset,
                                                          const ResourceKey& key) const {
    auto indexed = index_.find(directoryOffset);
    if (indexed == index_.end()) return std::nullopt;
    const DirectoryIndex& index = indexed->second;
    if (!key.isName) {
        auto found = index.ids.find(key.id);
        return found == index.ids.end() ? std::nullopt : std::optional<std::uint32_t>(found->second);
    }
    if (auto found = index.names.find(key.name); found != index.names.end()) return found->second;
    auto found = index.looseNames.find(looseName(key.name));
    return found == index.looseNames.end() ? std::nullopt : std::optional<std::uint32_t>(found->second);
}

const ResourceLookup::DirectoryIndex* ResourceLookup::nameDirectory(const ResourceKey& type,
                                                                    const ResourceKey& name) const {
    if (!open_) return nullptr;
    auto typeDir = subdirectory(0, type);
    auto nameDir = typeDir ? subdirectory(*typeDir, name) : std::nullopt;
    if (!nameDir) return nullptr;
    auto indexed = index_.find(*nameDir);
    return indexed == index_.end() ? nullptr : &indexed->second;
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
    const DirectoryIndex* index = nameDirectory(type, name);
    return index ? index->languageOrder : std::vector<std::uint16_t>{};
}

std::optional<Bytes> ResourceLookup::find(const ResourceKey& type, const ResourceKey& name,
                                          std::optional<std::uint16_t> language) const {
    const DirectoryIndex* index = nameDirectory(type, name);
    if (!index || index->languageOrder.empty()) return std::nullopt;
    auto found = index->languageEntries.find(language ? *language : index->languageOrder.front());
    if (found == index->languageEntries.end()) return std::nullopt;
    auto data = reader_.dataEntry(found->second);
    if (!data) return std::nullopt;
    return reader_.data(*data);
}

}  // namespace kestrel
