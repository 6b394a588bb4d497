#include "core/pe/pe_diff.h"

#include <algorithm>
#include <charconv>
#include <map>
#include <set>
#include <tuple>
#include <unordered_map>

#include "core/images/dib.h"
#include "core/pe/resource_types.h"
#include "core/pe/version_info.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

// ----- Reading one image's resources ------------------------------------------------------------

struct ResourceItem {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    std::optional<Bytes> data;  // nothing when the data entry points outside the image's raw data
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;
};

// IDs before names at each level, IDs ascending, names by their units.
using KeyOrder = std::tuple<bool, std::uint16_t, std::u16string>;
using ItemOrder = std::tuple<KeyOrder, KeyOrder, std::uint16_t>;

KeyOrder orderOf(const ResourceKey& key) {
    return {key.isName, key.id, key.name};
}

// Resource data outside the resource section (packed files keep it elsewhere) is looked up
// through the section it lies in.
std::optional<Bytes> dataAnywhere(const PeImage& image, const ResourceReader& reader,
                                  const ResourceDataEntry& entry) {
    if (auto inside = reader.data(entry)) return inside;
    for (const SectionHeader& section : image.sections) {
        if (entry.rva < section.virtualAddress) continue;
        const std::uint64_t offset = entry.rva - section.virtualAddress;
        if (offset >= std::max(section.virtualSize, section.sizeOfRawData)) continue;
        return ByteReader(image.availableRawData(section)).span(offset, entry.size);
    }
    return std::nullopt;
}

// Walks the three levels of the resource directory. Every directory is read at most once (a tree
// whose entries lead back or share directories is damaged, and the repeated part is skipped), so
// the work is bounded by the size of the section.
std::map<ItemOrder, ResourceItem> readResources(const PeImage& image, bool& damaged) {
    std::map<ItemOrder, ResourceItem> items;
    if (!image.resourceSection) return items;
    const ResourceReader reader = ResourceReader::forImage(image);
    std::set<std::uint32_t> visited{0};
    auto keyOf = [&](const ResourceDirectoryEntry& entry) -> std::optional<ResourceKey> {
        if (!entry.named) return ResourceKey::ofId(entry.id());
        auto text = reader.name(entry.nameOffset());
        if (!text) return std::nullopt;
        return ResourceKey::ofName(std::move(*text));
    };
    auto enter = [&](const ResourceDirectoryEntry& entry) -> std::optional<ResourceDirectory> {
        if (!entry.leadsToDirectory() || !visited.insert(entry.target()).second) return std::nullopt;
        return reader.directory(entry.target());
    };
    const auto root = reader.directory(0);
    if (!root) {
        damaged = true;
        return items;
    }
    for (const ResourceDirectoryEntry& typeEntry : root->entries) {
        const auto type = keyOf(typeEntry);
        const auto names = enter(typeEntry);
        if (!type || !names) {
            damaged = true;
            continue;
        }
        for (const ResourceDirectoryEntry& nameEntry : names->entries) {
            const auto name = keyOf(nameEntry);
            const auto languages = enter(nameEntry);
            if (!name || !languages) {
                damaged = true;
                continue;
            }
            for (const ResourceDirectoryEntry& languageEntry : languages->entries) {
                const auto dataEntry = languageEntry.leadsToDirectory() || languageEntry.named
                                           ? std::nullopt
                                           : reader.dataEntry(languageEntry.target());
                if (!dataEntry) {
                    damaged = true;
                    continue;
                }
                ResourceItem item{*type,
                                  *name,
                                  languageEntry.id(),
                                  dataAnywhere(image, reader, *dataEntry),
                                  dataEntry->size,
                                  dataEntry->codePage};
                if (!item.data) damaged = true;
                const ItemOrder order{orderOf(*type), orderOf(*name), item.language};
                if (!items.emplace(order, std::move(item)).second) damaged = true;
            }
        }
    }
    return items;
}

// ----- Strings of string tables and version blocks ----------------------------------------------

using StringPairs = std::vector<std::pair<std::u16string, std::u16string>>;

// Pairs are matched by key (the n-th occurrence of a key with the n-th); changed, removed, then
// added in the order of the new pairs.
void diffPairs(const std::u16string& table, const StringPairs& oldPairs, const StringPairs& newPairs,
               std::vector<StringDiff>& out) {
    std::map<std::u16string, std::vector<std::size_t>> newByKey;
    for (std::size_t i = newPairs.size(); i-- > 0;)
        newByKey[newPairs[i].first].push_back(i);
    std::vector<bool> matched(newPairs.size(), false);
    for (const auto& [key, text] : oldPairs) {
        auto found = newByKey.find(key);
        if (found == newByKey.end() || found->second.empty()) {
            out.push_back({DiffChange::kRemoved, table, key, text, {}});
            continue;
        }
        const std::size_t index = found->second.back();
        found->second.pop_back();
        matched[index] = true;
        if (newPairs[index].second != text)
            out.push_back({DiffChange::kChanged, table, key, text, newPairs[index].second});
    }
    for (std::size_t i = 0; i < newPairs.size(); ++i) {
        if (!matched[i])
            out.push_back({DiffChange::kAdded, table, newPairs[i].first, {}, newPairs[i].second});
    }
}

std::u16string asciiText(std::string_view text) {
    return std::u16string(text.begin(), text.end());
}

std::string hexText(std::uint64_t value, int digits = 8) {
    char buffer[32];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, 16);
    std::string hex(buffer, result.ptr);
    std::transform(hex.begin(), hex.end(), hex.begin(),
                   [](char c) { return static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c); });
    if (hex.size() < static_cast<std::size_t>(digits))
        hex.insert(0, static_cast<std::size_t>(digits) - hex.size(), '0');
    return "0x" + hex;
}

std::string versionText(const VersionNumber& version) {
    std::string text;
    for (std::uint16_t part : version)
        text += (text.empty() ? "" : ".") + std::to_string(part);
    return text;
}

// The string tables of a string-table block: the decimal string ID and the text of every
// non-empty slot.
StringPairs stringBlockPairs(const ResourceKey& name, std::optional<Bytes> block) {
    StringPairs pairs;
    std::array<std::u16string, 16> slots;
    if (!block || ReadStringBlock(*block, slots).failed()) return pairs;
    const std::uint32_t base = !name.isName && name.id > 0 ? (std::uint32_t{name.id} - 1) * 16 : 0;
    for (std::uint32_t slot = 0; slot < slots.size(); ++slot) {
        if (!slots[slot].empty()) pairs.emplace_back(asciiText(std::to_string(base + slot)), slots[slot]);
    }
    return pairs;
}

// A version block as tables of strings: the fixed file information's fields, the first
// translation, then every string table under its key.
std::vector<std::pair<std::u16string, StringPairs>> versionTables(std::optional<Bytes> resource) {
    std::vector<std::pair<std::u16string, StringPairs>> tables;
    VersionInfo info;
    if (!resource || ParseVersionInfo(*resource, info).failed()) return tables;
    if (auto fixed = GetFixedFileInfo(info)) {
        const std::uint64_t date = (std::uint64_t{fixed->fileDateMS} << 32) | fixed->fileDateLS;
        tables.push_back({u"VS_FIXEDFILEINFO",
                          {{u"FileVersion", asciiText(versionText(fixed->fileVersion()))},
                           {u"ProductVersion", asciiText(versionText(fixed->productVersion()))},
                           {u"StrucVersion", asciiText(hexText(fixed->structVersion))},
                           {u"FileFlagsMask", asciiText(hexText(fixed->fileFlagsMask))},
                           {u"FileFlags", asciiText(hexText(fixed->fileFlags))},
                           {u"FileOS", asciiText(hexText(fixed->fileOS))},
                           {u"FileType", asciiText(hexText(fixed->fileType))},
                           {u"FileSubtype", asciiText(hexText(fixed->fileSubtype))},
                           {u"FileDate", asciiText(hexText(date, 16))}}});
    }
    if (auto translation = GetVersionTranslation(info)) {
        tables.push_back({u"VarFileInfo",
                          {{u"Translation", asciiText(hexText(translation->language, 4).substr(2) + " " +
                                                      hexText(translation->codePage, 4).substr(2))}}});
    }
    for (VersionStringTable& table : GetVersionStringTables(info))
        tables.emplace_back(std::move(table.key), std::move(table.strings));
    return tables;
}

void diffVersionTables(const std::vector<std::pair<std::u16string, StringPairs>>& oldTables,
                       const std::vector<std::pair<std::u16string, StringPairs>>& newTables,
                       std::vector<StringDiff>& out) {
    std::vector<bool> matched(newTables.size(), false);
    for (const auto& [key, strings] : oldTables) {
        std::size_t index = 0;
        while (index < newTables.size() && (matched[index] || newTables[index].first != key))
            ++index;
        if (index < newTables.size()) matched[index] = true;
        diffPairs(key, strings, index < newTables.size() ? newTables[index].second : StringPairs{}, out);
    }
    for (std::size_t i = 0; i < newTables.size(); ++i) {
        if (!matched[i]) diffPairs(newTables[i].first, {}, newTables[i].second, out);
    }
}

std::vector<StringDiff> stringDifferences(const ResourceKey& type, const ResourceKey& name,
                                          std::optional<Bytes> oldData, std::optional<Bytes> newData) {
    std::vector<StringDiff> out;
    if (type.isName) return out;
    if (type.id == resource_type::kString) {
        diffPairs({}, stringBlockPairs(name, oldData), stringBlockPairs(name, newData), out);
    } else if (type.id == resource_type::kVersion) {
        diffVersionTables(versionTables(oldData), versionTables(newData), out);
    }
    return out;
}

// Whether two bitmaps show different pictures. Nothing unless both are uncompressed or bit-field
// DIBs that decode (RLE could expand a few bytes into a picture of any size).
std::optional<bool> bitmapPixelsDiffer(std::optional<Bytes> a, std::optional<Bytes> b) {
    if (!a || !b) return std::nullopt;
    for (Bytes dib : {*a, *b}) {
        const DibHeader header = readDibHeader(dib);
        if (header.compression != kBiRgb && !header.bitFields()) return std::nullopt;
    }
    RgbaImage oldPicture, newPicture;
    if (DecodeDib(*a, oldPicture).failed() || DecodeDib(*b, newPicture).failed()) return std::nullopt;
    return oldPicture.width != newPicture.width || oldPicture.height != newPicture.height ||
           oldPicture.pixels != newPicture.pixels;
}

bool sameBytes(std::optional<Bytes> a, std::optional<Bytes> b) {
    if (!a || !b) return !a && !b;
    return std::equal(a->begin(), a->end(), b->begin(), b->end());
}

void diffResources(const PeImage& oldImage, const PeImage& newImage, PeDiff& diff) {
    const auto oldItems = readResources(oldImage, diff.oldResourcesDamaged);
    const auto newItems = readResources(newImage, diff.newResourcesDamaged);
    auto record = [&](DiffChange change, const ResourceItem* before, const ResourceItem* after) {
        const ResourceItem* const known = before != nullptr ? before : after;
        if (known == nullptr) return;
        const ResourceItem& item = *known;
        ResourceDiff entry;
        entry.change = change;
        entry.type = item.type;
        entry.name = item.name;
        entry.language = item.language;
        if (before) {
            entry.oldSize = before->size;
            entry.oldCodePage = before->codePage;
        }
        if (after) {
            entry.newSize = after->size;
            entry.newCodePage = after->codePage;
        }
        entry.strings = stringDifferences(item.type, item.name, before ? before->data : std::nullopt,
                                          after ? after->data : std::nullopt);
        diff.resources.push_back(std::move(entry));
    };
    auto oldIt = oldItems.begin();
    auto newIt = newItems.begin();
    while (oldIt != oldItems.end() || newIt != newItems.end()) {
        if (newIt == newItems.end() || (oldIt != oldItems.end() && oldIt->first < newIt->first)) {
            record(DiffChange::kRemoved, &oldIt->second, nullptr);
            ++oldIt;
        } else if (oldIt == oldItems.end() || newIt->first < oldIt->first) {
            record(DiffChange::kAdded, nullptr, &newIt->second);
            ++newIt;
        } else {
            const ResourceItem& before = oldIt->second;
            const ResourceItem& after = newIt->second;
            const bool dataDiffers = before.size != after.size || !sameBytes(before.data, after.data);
            if (dataDiffers || before.codePage != after.codePage) {
                record(DiffChange::kChanged, &before, &after);
                diff.resources.back().dataDiffers = dataDiffers;
                if (dataDiffers && !before.type.isName && before.type.id == resource_type::kBitmap)
                    diff.resources.back().pixelsDiffer = bitmapPixelsDiffer(before.data, after.data);
            }
            ++oldIt;
            ++newIt;
        }
    }
}

// ----- Headers ----------------------------------------------------------------------------------

using Fields = std::vector<std::pair<std::string, std::uint64_t>>;

struct FieldPlace {
    const char* name;
    std::size_t offset;  // from the "PE\0\0" signature
    std::size_t width;
};

// The file header, then the optional header's fields up to NumberOfRvaAndSizes.
constexpr FieldPlace kFileHeaderFields[] = {
    {"Machine", 4, 2},          {"NumberOfSections", 6, 2},
    {"TimeDateStamp", 8, 4},    {"PointerToSymbolTable", 12, 4},
    {"NumberOfSymbols", 16, 4}, {"SizeOfOptionalHeader", 20, 2},
    {"Characteristics", 22, 2},
};
constexpr FieldPlace kOptionalHeaderStart[] = {
    {"Magic", 24, 2},
    {"MajorLinkerVersion", 26, 1},
    {"MinorLinkerVersion", 27, 1},
    {"SizeOfCode", 28, 4},
    {"SizeOfInitializedData", 32, 4},
    {"SizeOfUninitializedData", 36, 4},
    {"AddressOfEntryPoint", 40, 4},
    {"BaseOfCode", 44, 4},
};
constexpr FieldPlace kPe32Bases[] = {{"BaseOfData", 48, 4}, {"ImageBase", 52, 4}};
constexpr FieldPlace kPe32PlusBases[] = {{"ImageBase", 48, 8}};
constexpr FieldPlace kOptionalHeaderMiddle[] = {
    {"SectionAlignment", 56, 4},
    {"FileAlignment", 60, 4},
    {"MajorOperatingSystemVersion", 64, 2},
    {"MinorOperatingSystemVersion", 66, 2},
    {"MajorImageVersion", 68, 2},
    {"MinorImageVersion", 70, 2},
    {"MajorSubsystemVersion", 72, 2},
    {"MinorSubsystemVersion", 74, 2},
    {"Win32VersionValue", 76, 4},
    {"SizeOfImage", 80, 4},
    {"SizeOfHeaders", 84, 4},
    {"CheckSum", 88, 4},
    {"Subsystem", 92, 2},
    {"DllCharacteristics", 94, 2},
};
constexpr FieldPlace kPe32Sizes[] = {
    {"SizeOfStackReserve", 96, 4}, {"SizeOfStackCommit", 100, 4}, {"SizeOfHeapReserve", 104, 4},
    {"SizeOfHeapCommit", 108, 4},  {"LoaderFlags", 112, 4},       {"NumberOfRvaAndSizes", 116, 4},
};
constexpr FieldPlace kPe32PlusSizes[] = {
    {"SizeOfStackReserve", 96, 8}, {"SizeOfStackCommit", 104, 8}, {"SizeOfHeapReserve", 112, 8},
    {"SizeOfHeapCommit", 120, 8},  {"LoaderFlags", 128, 4},       {"NumberOfRvaAndSizes", 132, 4},
};
constexpr const char* kDirectoryNames[kMaxDataDirectories] = {
    "ExportTable",
    "ImportTable",
    "ResourceTable",
    "ExceptionTable",
    "CertificateTable",
    "BaseRelocationTable",
    "Debug",
    "Architecture",
    "GlobalPtr",
    "TLSTable",
    "LoadConfigTable",
    "BoundImport",
    "IAT",
    "DelayImportDescriptor",
    "CLRRuntimeHeader",
    "Reserved",
};

ByteReader ntReader(const PeImage& image) {
    return ByteReader(image.file).from(image.peHeaderOffset).value_or(ByteReader{});
}

std::uint64_t readField(const ByteReader& reader, std::size_t offset, std::size_t width) {
    if (width == 1) return reader.u8Or(offset, 0);
    if (width == 2) return reader.u16Or(offset, 0);
    if (width == 4) return reader.u32Or(offset, 0);
    return reader.u64(offset).value_or(0);
}

template <std::size_t N>
void addFields(Fields& out, const ByteReader& nt, const FieldPlace (&places)[N]) {
    for (const FieldPlace& place : places)
        out.emplace_back(place.name, readField(nt, place.offset, place.width));
}

Fields headerFields(const PeImage& image) {
    Fields fields{{"e_lfanew", image.peHeaderOffset}};
    const ByteReader nt = ntReader(image);
    const bool plus = image.layout.pe32Plus;
    addFields(fields, nt, kFileHeaderFields);
    addFields(fields, nt, kOptionalHeaderStart);
    plus ? addFields(fields, nt, kPe32PlusBases) : addFields(fields, nt, kPe32Bases);
    addFields(fields, nt, kOptionalHeaderMiddle);
    plus ? addFields(fields, nt, kPe32PlusSizes) : addFields(fields, nt, kPe32Sizes);
    for (std::size_t i = 0; i < image.layout.directoryCount; ++i) {
        fields.emplace_back(std::string(kDirectoryNames[i]) + ".VirtualAddress",
                            nt.u32Or(image.layout.directory(i), 0));
        fields.emplace_back(std::string(kDirectoryNames[i]) + ".Size",
                            nt.u32Or(image.layout.directory(i) + 4, 0));
    }
    return fields;
}

void diffFields(const Fields& oldFields, const Fields& newFields, std::vector<FieldDiff>& out) {
    std::unordered_map<std::string, std::uint64_t> newByName(newFields.begin(), newFields.end());
    for (const auto& [name, value] : oldFields) {
        auto found = newByName.find(name);
        if (found == newByName.end()) {
            out.push_back({name, value, std::nullopt});
        } else if (found->second != value) {
            out.push_back({name, value, found->second});
        }
    }
    std::set<std::string> oldNames;
    for (const auto& field : oldFields)
        oldNames.insert(field.first);
    for (const auto& [name, value] : newFields) {
        if (!oldNames.count(name)) out.push_back({name, std::nullopt, value});
    }
}

bool sameSpan(Bytes a, Bytes b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
}

Bytes fileRange(const PeImage& image, std::uint64_t from, std::uint64_t to) {
    if (to <= from || from >= image.file.size()) return {};
    return image.file.subspan(
        static_cast<std::size_t>(from),
        static_cast<std::size_t>(std::min<std::uint64_t>(to, image.file.size()) - from));
}

// The header bytes no field covers: the DOS header (but e_lfanew) and its stub, optional-header
// bytes after the data directories, and the bytes between the section table and SizeOfHeaders.
void diffHeaderRegions(const PeImage& a, const PeImage& b, std::vector<std::string>& out) {
    const std::uint64_t lfanewEnd = kPeHeaderOffsetField + 4;
    if (!sameSpan(fileRange(a, 0, kPeHeaderOffsetField), fileRange(b, 0, kPeHeaderOffsetField)) ||
        !sameSpan(fileRange(a, lfanewEnd, a.peHeaderOffset), fileRange(b, lfanewEnd, b.peHeaderOffset)))
        out.emplace_back("DOS header and stub");
    auto directoriesEnd = [](const PeImage& image) {
        return std::uint64_t{image.peHeaderOffset} + image.layout.directory(image.layout.directoryCount);
    };
    auto tableStart = [](const PeImage& image) {
        return std::uint64_t{image.peHeaderOffset} + image.layout.sectionTable;
    };
    auto tableEnd = [](const PeImage& image) {
        return std::uint64_t{image.peHeaderOffset} + image.layout.sectionHeader(image.layout.sectionCount);
    };
    if (!sameSpan(fileRange(a, directoriesEnd(a), tableStart(a)),
                  fileRange(b, directoriesEnd(b), tableStart(b))))
        out.emplace_back("optional header after the data directories");
    if (!sameSpan(fileRange(a, tableEnd(a), a.sizeOfHeaders), fileRange(b, tableEnd(b), b.sizeOfHeaders)))
        out.emplace_back("headers after the section table");
}

// ----- Sections ---------------------------------------------------------------------------------

constexpr FieldPlace kSectionFields[] = {
    {"VirtualSize", 8, 4},          {"VirtualAddress", 12, 4},       {"SizeOfRawData", 16, 4},
    {"PointerToRawData", 20, 4},    {"PointerToRelocations", 24, 4}, {"PointerToLinenumbers", 28, 4},
    {"NumberOfRelocations", 32, 2}, {"NumberOfLinenumbers", 34, 2},  {"Characteristics", 36, 4},
};
// What an added or removed section shows.
constexpr std::string_view kMainSectionFields[] = {"VirtualAddress", "VirtualSize", "PointerToRawData",
                                                   "SizeOfRawData", "Characteristics"};

Fields sectionFields(const PeImage& image, std::size_t index) {
    const ByteReader entry =
        ntReader(image).slice(image.layout.sectionHeader(index), kSectionHeaderSize).value_or(ByteReader{});
    Fields fields;
    addFields(fields, entry, kSectionFields);
    return fields;
}

std::u16string sectionName(const SectionHeader& section) {
    std::u16string name;
    for (std::uint8_t byte : section.name) {
        if (byte == 0) break;
        name.push_back(static_cast<char16_t>(byte));
    }
    return name;
}

void diffSections(const PeImage& oldImage, const PeImage& newImage, PeDiff& diff) {
    // The n-th section of a name in one file pairs with the n-th of that name in the other.
    std::map<SectionNameBytes, std::vector<std::size_t>> newByName;
    for (std::size_t i = newImage.sections.size(); i-- > 0;)
        newByName[newImage.sections[i].name].push_back(i);
    std::vector<bool> matched(newImage.sections.size(), false);
    auto presentOnly = [&](DiffChange change, const PeImage& image, std::size_t index) {
        SectionDiff entry{change, sectionName(image.sections[index]), index, {}, false};
        for (const auto& [field, value] : sectionFields(image, index)) {
            if (std::find(std::begin(kMainSectionFields), std::end(kMainSectionFields), field) ==
                std::end(kMainSectionFields))
                continue;
            entry.fields.push_back(change == DiffChange::kAdded ? FieldDiff{field, std::nullopt, value}
                                                                : FieldDiff{field, value, std::nullopt});
        }
        diff.sections.push_back(std::move(entry));
    };
    for (std::size_t i = 0; i < oldImage.sections.size(); ++i) {
        auto& candidates = newByName[oldImage.sections[i].name];
        if (candidates.empty()) {
            presentOnly(DiffChange::kRemoved, oldImage, i);
            continue;
        }
        const std::size_t j = candidates.back();
        candidates.pop_back();
        matched[j] = true;
        SectionDiff entry{DiffChange::kChanged, sectionName(oldImage.sections[i]), i, {}, false};
        diffFields(sectionFields(oldImage, i), sectionFields(newImage, j), entry.fields);
        entry.bytesDiffer =
            !sameSpan(oldImage.availableRawData(oldImage.sections[i]),
                      newImage.availableRawData(newImage.sections[j])) ||
            oldImage.missingRawData(oldImage.sections[i]) != newImage.missingRawData(newImage.sections[j]);
        if (!entry.fields.empty() || entry.bytesDiffer) diff.sections.push_back(std::move(entry));
    }
    for (std::size_t j = 0; j < newImage.sections.size(); ++j) {
        if (!matched[j]) presentOnly(DiffChange::kAdded, newImage, j);
    }
}

// ----- Overlay and certificate table ------------------------------------------------------------

struct FileRange {
    std::uint64_t offset = 0;
    Bytes bytes;
    std::uint64_t size = 0;  // as declared; the bytes may be fewer when it runs past the end
};

std::optional<FileRange> certificateTable(const PeImage& image) {
    if (image.layout.directoryCount <= kDirectorySecurity) return std::nullopt;
    const ByteReader nt = ntReader(image);
    const std::uint32_t offset = nt.u32Or(image.layout.directory(kDirectorySecurity), 0);
    const std::uint32_t size = nt.u32Or(image.layout.directory(kDirectorySecurity) + 4, 0);
    if (offset == 0 || size == 0) return std::nullopt;
    return FileRange{offset, fileRange(image, offset, std::uint64_t{offset} + size), size};
}

std::optional<FileRangeDiff> diffRanges(std::optional<FileRange> a, std::optional<FileRange> b) {
    if (!a && !b) return std::nullopt;
    if (a && b && a->size == b->size && sameSpan(a->bytes, b->bytes)) return std::nullopt;
    FileRangeDiff result;
    result.change = a && b ? DiffChange::kChanged : a ? DiffChange::kRemoved : DiffChange::kAdded;
    if (a) {
        result.oldOffset = a->offset;
        result.oldSize = a->size;
    }
    if (b) {
        result.newOffset = b->offset;
        result.newSize = b->size;
    }
    return result;
}

std::optional<FileRange> overlayOf(const PeImage& image) {
    Bytes bytes = image.overlay();
    if (bytes.empty()) return std::nullopt;
    return FileRange{image.overlayOffset, bytes, bytes.size()};
}

// ----- Output -----------------------------------------------------------------------------------

// JSON string syntax, used for the text lines too: quotes, backslashes and control characters
// escaped, a lone surrogate as \uXXXX, everything else as UTF-8.
void appendQuoted(std::string& out, std::u16string_view text) {
    out += '"';
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'"' || unit == u'\\') {
            out += '\\';
            out += static_cast<char>(unit);
        } else if (unit == u'\n') {
            out += "\\n";
        } else if (unit == u'\r') {
            out += "\\r";
        } else if (unit == u'\t') {
            out += "\\t";
        } else if (unit >= 0xD800 && unit < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                   text[i + 1] < 0xE000) {
            const std::uint32_t high = static_cast<std::uint32_t>(unit) - 0xD800u;
            const std::uint32_t low = static_cast<std::uint32_t>(text[i + 1]) - 0xDC00u;
            appendUtf8(out, static_cast<char32_t>(0x10000u + (high << 10) + low));
            ++i;
        } else if (unit < 0x20 || unit == 0x7F || (unit >= 0xD800 && unit < 0xE000)) {
            out += "\\u" + hexText(unit, 4).substr(2);
        } else {
            appendUtf8(out, unit);
        }
    }
    out += '"';
}

std::string quotedText(std::u16string_view text) {
    std::string out;
    appendQuoted(out, text);
    return out;
}

std::string keyText(const ResourceKey& key) {
    return key.isName ? quotedText(key.name) : std::to_string(key.id);
}

std::string keyJson(const ResourceKey& key) {
    return keyText(key);  // a number for an ID, a string for a name
}

const char* changeWord(DiffChange change) {
    switch (change) {
        case DiffChange::kAdded:
            return "added";
        case DiffChange::kRemoved:
            return "removed";
        case DiffChange::kChanged:
            break;
    }
    return "changed";
}

std::string valueText(std::optional<std::uint64_t> value) {
    return value ? hexText(*value) : "-";
}

std::string jsonValue(std::optional<std::uint64_t> value) {
    return value ? std::to_string(*value) : "null";
}

std::string resourceText(const ResourceDiff& resource) {
    return ResourceTypeLabel(resource.type) + " " + keyText(resource.name) + " language " +
           std::to_string(resource.language);
}

std::string stringKeyText(const ResourceDiff& resource, const StringDiff& string) {
    if (!resource.type.isName && resource.type.id == resource_type::kString)
        return "ID " + utf16ToUtf8(string.key);
    return quotedText(string.table) + " " + quotedText(string.key);
}

std::string fieldsText(const std::vector<FieldDiff>& fields, DiffChange change) {
    std::string text;
    for (const FieldDiff& field : fields) {
        text += (text.empty() ? "" : ", ") + field.field + " ";
        if (change == DiffChange::kChanged) {
            text += valueText(field.oldValue) + " -> " + valueText(field.newValue);
        } else {
            text += valueText(field.oldValue ? field.oldValue : field.newValue);
        }
    }
    return text;
}

std::string rangeText(const char* what, const FileRangeDiff& range) {
    auto side = [](std::uint64_t size, std::uint64_t offset) {
        return std::to_string(size) + " bytes at " + hexText(offset);
    };
    std::string line = std::string(what) + " " + changeWord(range.change) + ": ";
    if (range.change == DiffChange::kAdded) return line + side(range.newSize, range.newOffset) + "\n";
    if (range.change == DiffChange::kRemoved) return line + side(range.oldSize, range.oldOffset) + "\n";
    return line + side(range.oldSize, range.oldOffset) + " -> " + side(range.newSize, range.newOffset) + "\n";
}

std::string fieldsJson(const std::vector<FieldDiff>& fields) {
    std::string out = "[";
    for (const FieldDiff& field : fields) {
        out += (out.size() > 1 ? "," : "") + std::string("{\"field\":") + quotedText(asciiText(field.field)) +
               ",\"old\":" + jsonValue(field.oldValue) + ",\"new\":" + jsonValue(field.newValue) + "}";
    }
    return out + "]";
}

std::string rangeJson(const std::optional<FileRangeDiff>& range) {
    if (!range) return "null";
    auto side = [](bool present, std::uint64_t offset, std::uint64_t size) -> std::string {
        if (!present) return "null";
        return "{\"offset\":" + std::to_string(offset) + ",\"size\":" + std::to_string(size) + "}";
    };
    return std::string("{\"change\":\"") + changeWord(range->change) +
           "\",\"old\":" + side(range->change != DiffChange::kAdded, range->oldOffset, range->oldSize) +
           ",\"new\":" + side(range->change != DiffChange::kRemoved, range->newOffset, range->newSize) + "}";
}

}  // namespace

HResult ReadStringBlock(Bytes block, std::array<std::u16string, 16>& slots) {
    slots = {};
    ByteCursor cursor(block);
    for (std::u16string& slot : slots) {
        auto length = cursor.u16();
        if (!length) break;
        auto units = cursor.take(std::uint64_t{*length} * 2);
        if (!units) {
            slots = {};
            return kFail;
        }
        const ByteReader reader(*units);
        slot.resize(*length);
        for (std::size_t i = 0; i < slot.size(); ++i)
            slot[i] = static_cast<char16_t>(*reader.u16(i * 2));
    }
    return kOk;
}

std::string ResourceTypeLabel(const ResourceKey& type) {
    static constexpr const char* kNames[] = {
        nullptr,      "CURSOR",  "BITMAP",      "ICON",       "MENU",         "DIALOG",       "STRING",
        "FONTDIR",    "FONT",    "ACCELERATOR", "RCDATA",     "MESSAGETABLE", "GROUP_CURSOR", nullptr,
        "GROUP_ICON", nullptr,   "VERSION",     "DLGINCLUDE", nullptr,        "PLUGPLAY",     "VXD",
        "ANICURSOR",  "ANIICON", "HTML",        "MANIFEST",
    };
    if (type.isName) return quotedText(type.name);
    if (type.id < std::size(kNames) && kNames[type.id] != nullptr) return kNames[type.id];
    return std::to_string(type.id);
}

PeDiff DiffPeImages(const PeImage& oldImage, const PeImage& newImage) {
    PeDiff diff;
    diffResources(oldImage, newImage, diff);
    diffSections(oldImage, newImage, diff);
    diffFields(headerFields(oldImage), headerFields(newImage), diff.headers);
    diffHeaderRegions(oldImage, newImage, diff.headerRegions);
    diff.overlay = diffRanges(overlayOf(oldImage), overlayOf(newImage));
    diff.certificateTable = diffRanges(certificateTable(oldImage), certificateTable(newImage));
    return diff;
}

std::string FormatPeDiffText(const PeDiff& diff) {
    std::string out;
    for (const ResourceDiff& resource : diff.resources) {
        if (resource.change == DiffChange::kChanged && !resource.dataDiffers) {
            out += "resource code page changed: " + resourceText(resource) + ", " +
                   std::to_string(resource.oldCodePage) + " -> " + std::to_string(resource.newCodePage) +
                   "\n";
            continue;
        }
        out += std::string("resource ") + changeWord(resource.change) + ": " + resourceText(resource) + ", ";
        if (resource.change == DiffChange::kAdded) {
            out += std::to_string(resource.newSize) + " bytes";
        } else if (resource.change == DiffChange::kRemoved) {
            out += std::to_string(resource.oldSize) + " bytes";
        } else {
            out += std::to_string(resource.oldSize) + " -> " + std::to_string(resource.newSize) + " bytes";
            if (resource.pixelsDiffer) out += *resource.pixelsDiffer ? ", pixels differ" : ", pixels equal";
            if (resource.oldCodePage != resource.newCodePage)
                out += ", code page " + std::to_string(resource.oldCodePage) + " -> " +
                       std::to_string(resource.newCodePage);
        }
        out += "\n";
        for (const StringDiff& string : resource.strings) {
            out += std::string("string ") + changeWord(string.change) + ": " + resourceText(resource) + ", " +
                   stringKeyText(resource, string) + ": ";
            if (string.change != DiffChange::kAdded) out += quotedText(string.oldText);
            if (string.change == DiffChange::kChanged) out += " -> ";
            if (string.change != DiffChange::kRemoved) out += quotedText(string.newText);
            out += "\n";
        }
    }
    for (const SectionDiff& section : diff.sections) {
        out += std::string("section ") + changeWord(section.change) + ": " + quotedText(section.name) +
               " (#" + std::to_string(section.index + 1) + ")";
        std::string details = fieldsText(section.fields, section.change);
        if (section.bytesDiffer) details += details.empty() ? "bytes differ" : ", bytes differ";
        out += (details.empty() ? "" : ": ") + details + "\n";
    }
    for (const FieldDiff& field : diff.headers)
        out += "header changed: " + field.field + " " + valueText(field.oldValue) + " -> " +
               valueText(field.newValue) + "\n";
    for (const std::string& region : diff.headerRegions)
        out += "header bytes differ: " + region + "\n";
    if (diff.overlay) out += rangeText("overlay", *diff.overlay);
    if (diff.certificateTable) out += rangeText("certificate table", *diff.certificateTable);
    return out;
}

std::string FormatPeDiffJson(const PeDiff& diff, std::string_view oldName, std::string_view newName) {
    std::string out = "{\"old\":" + quotedText(utf8ToUtf16(oldName)) +
                      ",\"new\":" + quotedText(utf8ToUtf16(newName)) +
                      ",\"equal\":" + (diff.empty() ? "true" : "false") + ",\n\"resources\":[";
    bool first = true;
    for (const ResourceDiff& resource : diff.resources) {
        out += first ? "\n" : ",\n";
        first = false;
        out += std::string("{\"change\":\"") + changeWord(resource.change) +
               "\",\"type\":" + keyJson(resource.type) +
               ",\"typeLabel\":" + quotedText(utf8ToUtf16(ResourceTypeLabel(resource.type))) +
               ",\"name\":" + keyJson(resource.name) + ",\"language\":" + std::to_string(resource.language);
        if (resource.change != DiffChange::kAdded)
            out += ",\"oldSize\":" + std::to_string(resource.oldSize) +
                   ",\"oldCodePage\":" + std::to_string(resource.oldCodePage);
        if (resource.change != DiffChange::kRemoved)
            out += ",\"newSize\":" + std::to_string(resource.newSize) +
                   ",\"newCodePage\":" + std::to_string(resource.newCodePage);
        if (resource.change == DiffChange::kChanged)
            out += std::string(",\"dataDiffers\":") + (resource.dataDiffers ? "true" : "false");
        if (resource.pixelsDiffer)
            out += std::string(",\"pixelsDiffer\":") + (*resource.pixelsDiffer ? "true" : "false");
        out += ",\"strings\":[";
        const bool stringTable = !resource.type.isName && resource.type.id == resource_type::kString;
        for (std::size_t i = 0; i < resource.strings.size(); ++i) {
            const StringDiff& string = resource.strings[i];
            out += std::string(i ? "," : "") + "{\"change\":\"" + changeWord(string.change) + "\"";
            out += stringTable
                       ? ",\"id\":" + utf16ToUtf8(string.key)
                       : ",\"table\":" + quotedText(string.table) + ",\"key\":" + quotedText(string.key);
            out += ",\"old\":" + (string.change == DiffChange::kAdded ? "null" : quotedText(string.oldText));
            out +=
                ",\"new\":" + (string.change == DiffChange::kRemoved ? "null" : quotedText(string.newText)) +
                "}";
        }
        out += "]}";
    }
    out += "],\n\"sections\":[";
    first = true;
    for (const SectionDiff& section : diff.sections) {
        out += first ? "\n" : ",\n";
        first = false;
        out += std::string("{\"change\":\"") + changeWord(section.change) +
               "\",\"name\":" + quotedText(section.name) + ",\"index\":" + std::to_string(section.index) +
               ",\"fields\":" + fieldsJson(section.fields) +
               ",\"bytesDiffer\":" + (section.bytesDiffer ? "true" : "false") + "}";
    }
    out += "],\n\"headers\":" + fieldsJson(diff.headers) + ",\n\"headerBytes\":[";
    for (std::size_t i = 0; i < diff.headerRegions.size(); ++i)
        out += (i ? "," : "") + quotedText(asciiText(diff.headerRegions[i]));
    out += "],\n\"overlay\":" + rangeJson(diff.overlay) +
           ",\n\"certificateTable\":" + rangeJson(diff.certificateTable);
    out += std::string(",\n\"damagedResources\":{\"old\":") + (diff.oldResourcesDamaged ? "true" : "false") +
           ",\"new\":" + (diff.newResourcesDamaged ? "true" : "false") + "}}\n";
    return out;
}

}  // namespace kestrel
