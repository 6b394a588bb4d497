#include "core/pe/resource_export.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <set>
#include <utility>

#include "core/errors/errors.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/pe/rc_script.h"
#include "core/pe/res_compiler.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "ResourceExport";
// Where the in-memory section of a working folder is laid out; any address serves, the lookup
// resolves its data with the same one.
constexpr std::uint32_t kDescribedSectionRva = 0x1000;
// Names longer than this (in UTF-8 bytes) are cut, so that the type, language and extension still
// fit a file name.
constexpr std::size_t kMaxNamePart = 120;
constexpr std::uint64_t kGroupHeaderSize = 6;
constexpr std::uint64_t kGroupEntrySize = 14;
constexpr std::uint64_t kCursorHotSpotSize = 4;

struct TypeName {
    std::uint16_t id;
    std::string_view name;
};
// The first name of each type is the one files are named with; the others are accepted as well.
constexpr TypeName kTypeNames[] = {
    {resource_type::kCursor, "CURSOR"},
    {resource_type::kBitmap, "BITMAP"},
    {resource_type::kIcon, "ICON"},
    {resource_type::kMenu, "MENU"},
    {resource_type::kDialog, "DIALOG"},
    {resource_type::kString, "STRING"},
    {resource_type::kString, "STRINGTABLE"},
    {resource_type::kFontDirectory, "FONTDIR"},
    {resource_type::kFont, "FONT"},
    {resource_type::kAccelerator, "ACCELERATOR"},
    {resource_type::kAccelerator, "ACCELERATORS"},
    {resource_type::kRcData, "RCDATA"},
    {resource_type::kMessageTable, "MESSAGETABLE"},
    {resource_type::kGroupCursor, "GROUP_CURSOR"},
    {resource_type::kGroupIcon, "GROUP_ICON"},
    {resource_type::kVersion, "VERSION"},
    {resource_type::kVersion, "VERSIONINFO"},
    {resource_type::kDialogInclude, "DLGINCLUDE"},
    {resource_type::kPlugPlay, "PLUGPLAY"},
    {resource_type::kVxd, "VXD"},
    {resource_type::kAnimatedCursor, "ANICURSOR"},
    {resource_type::kAnimatedIcon, "ANIICON"},
    {resource_type::kHtml, "HTML"},
    {resource_type::kManifest, "MANIFEST"},
};

bool startsWith(Bytes data, std::string_view prefix, std::size_t at = 0) {
    if (data.size() < at || data.size() - at < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i)
        if (static_cast<char>(data[at + i]) != prefix[i]) return false;
    return true;
}

bool isId(const ResourceKey& key, std::uint16_t id) {
    return !key.isName && key.id == id;
}

// Characters no file name can hold on the common file systems become '_'.
std::string fileNameSafe(std::string text) {
    for (char& c : text) {
        const auto unit = static_cast<unsigned char>(c);
        if (unit < 0x20 || std::string_view("/\\:*?\"<>|").find(c) != std::string_view::npos) c = '_';
    }
    if (text.size() > kMaxNamePart) {
        std::size_t cut = kMaxNamePart;
        while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
            --cut;  // not inside a UTF-8 sequence
        text.resize(cut);
    }
    if (text.empty() || text == "." || text == "..") text = "_";
    return text;
}

std::string keyText(const ResourceKey& key) {
    return key.isName ? utf16ToUtf8(key.name) : std::to_string(key.id);
}

void append(std::vector<std::byte>& out, Bytes data) {
    out.insert(out.end(), data.begin(), data.end());
}

void putU16(std::vector<std::byte>& out, std::uint32_t value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
    out.push_back(static_cast<std::byte>((value >> 8) & 0xFF));
}

void putU32(std::vector<std::byte>& out, std::uint32_t value) {
    putU16(out, value & 0xFFFF);
    putU16(out, value >> 16);
}

// A member of a group: in the group's language, else in the first language it has.
std::optional<Bytes> findMember(const ResourceLookup& lookup, std::uint16_t memberType, std::uint16_t id,
                                std::uint16_t language) {
    const ResourceKey type = ResourceKey::ofId(memberType);
    const ResourceKey name = ResourceKey::ofId(id);
    if (auto member = lookup.find(type, name, language)) return member;
    return lookup.find(type, name);
}

// An icon or cursor file with one directory entry per member the group lists and finds.
HResult exportGroup(const ResourceLookup& lookup, Bytes group, IconGroupKind kind, std::uint16_t language,
                    ExportedResource& out) {
    const bool cursor = kind == IconGroupKind::kCursor;
    const std::uint16_t memberType = cursor ? resource_type::kCursor : resource_type::kIcon;
    const ByteReader groupReader(group);
    struct Image {
        std::array<std::byte, kIconDirectoryEntrySize> entry{};
        Bytes bytes;
    };
    std::vector<Image> images;
    const std::vector<GroupEntry> entries = ParseGroupEntries(group);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const GroupEntry& entry = entries[i];
        std::optional<Bytes> member = findMember(lookup, memberType, entry.id, language);
        if (!member || (cursor && member->size() <= kCursorHotSpotSize)) {
            out.missingMembers.push_back(entry.id);
            continue;
        }
        Image image;
        std::vector<std::byte> fields;
        const std::uint64_t at = kGroupHeaderSize + kGroupEntrySize * i;
        if (cursor) {
            // A cursor group's 16-bit sizes are not to be trusted (some linkers store the height
            // without the mask rows): the file's entry takes the size from the image itself, as a
            // single-image cursor file does, and the hot spot that starts the member resource.
            const ByteReader memberReader(*member);
            image.bytes = member->subspan(kCursorHotSpotSize);
            fields = MakeSingleIconFileHeader(image.bytes, IconGroupKind::kCursor, memberReader.u16Or(0, 0),
                                              memberReader.u16Or(2, 0));
            fields.erase(fields.begin(), fields.begin() + kIconDirectoryHeaderSize);
            fields.resize(8);
        } else {
            for (std::uint64_t field = 0; field < 4; ++field)
                fields.push_back(static_cast<std::byte>(groupReader.u8Or(at + field, 0)));
            fields[3] = std::byte{0};
            putU16(fields, groupReader.u16Or(at + 4, 0));
            putU16(fields, groupReader.u16Or(at + 6, 0));
            image.bytes = *member;
        }
        std::copy(fields.begin(), fields.end(), image.entry.begin());
        images.push_back(image);
    }
    if (images.empty()) return kFail;

    std::uint64_t offset = kIconDirectoryHeaderSize + kIconDirectoryEntrySize * images.size();
    std::uint64_t total = offset;
    for (const Image& image : images)
        total += image.bytes.size();
    if (total > 0xFFFFFFFFu) return kFail;
    out.bytes.clear();
    out.bytes.reserve(static_cast<std::size_t>(total));
    putU16(out.bytes, 0);
    putU16(out.bytes, cursor ? kCursorFileType : kIconFileType);
    putU16(out.bytes, static_cast<std::uint32_t>(images.size()));
    for (const Image& image : images) {
        out.bytes.insert(out.bytes.end(), image.entry.begin(), image.entry.begin() + 8);
        putU32(out.bytes, static_cast<std::uint32_t>(image.bytes.size()));
        putU32(out.bytes, static_cast<std::uint32_t>(offset));
        offset += image.bytes.size();
    }
    for (const Image& image : images)
        append(out.bytes, image.bytes);
    return kOk;
}

// A script decoder's text in `out`; kFail with `out` empty when the bytes do not decode.
using ScriptDecoder = HResult (*)(Bytes, const ScriptOptions&, ScriptText&);
HResult exportScript(ScriptDecoder decode, Bytes data, const ResourceKey& name, std::uint16_t language,
                     std::vector<std::byte>& out) {
    out.clear();
    ScriptOptions options;
    options.name = name.isName ? utf16ToUtf8(name.name) : std::to_string(name.id);
    options.language = language;
    ScriptText script;
    if (decode(data, options, script).failed()) return kFail;
    const Bytes text = asBytes(script.text);
    out.assign(text.begin(), text.end());
    return kOk;
}

// The extension content of an unknown type has, from its first bytes.
std::string_view sniffExtension(Bytes data) {
    if (startsWith(data, "\x89PNG\r\n\x1a\n")) return ".png";
    if (startsWith(data, "GIF87a") || startsWith(data, "GIF89a")) return ".gif";
    if (startsWith(data, "RIFF") && startsWith(data, "AVI ", 8)) return ".avi";
    if (startsWith(data, "RIFF") && startsWith(data, "WAVE", 8)) return ".wav";
    if (startsWith(data, "RIFF") && startsWith(data, "ACON", 8)) return ".ani";
    if (startsWith(data, "\xFF\xD8\xFF")) return ".jpg";
    if (startsWith(data, "BM")) return ".bmp";
    if (startsWith(data, "<?xml") || startsWith(data, "\xEF\xBB\xBF<?xml")) return ".xml";
    return ".bin";
}

}  // namespace

std::string ResourceTypeName(const ResourceKey& type) {
    if (type.isName) return utf16ToUtf8(type.name);
    for (const TypeName& known : kTypeNames)
        if (known.id == type.id) return std::string(known.name);
    return std::to_string(type.id);
}

std::optional<ResourceKey> ParseResourceType(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::uint32_t value = 0;
        auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error != std::errc() || end != text.data() + text.size() || value > 0xFFFF) return std::nullopt;
        return ResourceKey::ofId(static_cast<std::uint16_t>(value));
    }
    std::string_view bare = text;
    if (bare.size() > 3 && iequalsAscii(bare.substr(0, 3), "RT_")) bare = bare.substr(3);
    for (const TypeName& known : kTypeNames)
        if (iequalsAscii(bare, known.name)) return ResourceKey::ofId(known.id);
    return ResourceKey::ofName(utf8ToUtf16(text));
}

std::optional<ResourceKey> ParseResourceName(std::string_view text) {
    if (text.empty()) return std::nullopt;
    if (text.size() <= 5 &&
        std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        std::uint32_t value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        if (value <= 0xFFFF) return ResourceKey::ofId(static_cast<std::uint16_t>(value));
    }
    return ResourceKey::ofName(utf8ToUtf16(text));
}

HResult ExportResource(const ResourceLookup& lookup, const ResourceKey& type, const ResourceKey& name,
                       std::uint16_t language, ExportedResource& out) {
    out = ExportedResource{};
    std::optional<Bytes> found = lookup.find(type, name, language);
    if (!found) return kFail;
    const Bytes data = *found;
    std::string extension;
    if (isId(type, resource_type::kGroupIcon) || isId(type, resource_type::kGroupCursor)) {
        const bool cursor = isId(type, resource_type::kGroupCursor);
        if (HResult hr = exportGroup(lookup, data, cursor ? IconGroupKind::kCursor : IconGroupKind::kIcon,
                                     language, out);
            hr.failed())
            return hr;
        extension = cursor ? ".cur" : ".ico";
    } else if (isId(type, resource_type::kIcon)) {
        out.bytes = MakeSingleIconFileHeader(data, IconGroupKind::kIcon);
        append(out.bytes, data);
        extension = ".ico";
    } else if (isId(type, resource_type::kCursor) && data.size() > kCursorHotSpotSize) {
        const ByteReader reader(data);
        const Bytes image = data.subspan(kCursorHotSpotSize);
        out.bytes =
            MakeSingleIconFileHeader(image, IconGroupKind::kCursor, reader.u16Or(0, 0), reader.u16Or(2, 0));
        append(out.bytes, image);
        extension = ".cur";
    } else if (isId(type, resource_type::kBitmap) && !startsWith(data, "\x89PNG")) {
        out.bytes = MakeBmpFileHeader(data);
        append(out.bytes, data);
        extension = ".bmp";
    } else if (isId(type, resource_type::kDialog) &&
               exportScript(DialogToScript, data, name, language, out.bytes).succeeded()) {
        extension = ".rc";
    } else if (isId(type, resource_type::kMenu) &&
               exportScript(MenuToScript, data, name, language, out.bytes).succeeded()) {
        extension = ".rc";
    } else if (isId(type, resource_type::kAccelerator) &&
               exportScript(AcceleratorsToScript, data, name, language, out.bytes).succeeded()) {
        extension = ".rc";
    } else if (isId(type, resource_type::kMessageTable) &&
               exportScript(MessageTableToScript, data, name, language, out.bytes).succeeded()) {
        extension = ".mc";
    } else {
        out.bytes.assign(data.begin(), data.end());
        if (isId(type, resource_type::kManifest)) {
            extension = ".manifest";
        } else if (isId(type, resource_type::kHtml)) {
            extension = ".html";
        } else if (isId(type, resource_type::kAnimatedCursor) || isId(type, resource_type::kAnimatedIcon)) {
            extension = ".ani";
        } else {
            extension = sniffExtension(data);
        }
    }
    out.fileName = fileNameSafe(keyText(name)) + extension;
    return kOk;
}

HResult ExportResources(const ResourceLookup& lookup, const ExportSelection& selection,
                        const std::filesystem::path& folder, ExportSummary& summary) {
    summary = ExportSummary{};
    if (HResult hr = CreateFolderPath(folder); hr.failed())
        return ReportError(true, kSource, __LINE__, hr, {pathToUtf8(folder)});

    // With every type selected, the members of groups go out inside their groups' files only.
    std::set<std::pair<std::uint16_t, std::uint16_t>> groupMembers;
    if (!selection.type) {
        for (const auto& [groupType, memberType] :
             {std::pair{resource_type::kGroupIcon, resource_type::kIcon},
              std::pair{resource_type::kGroupCursor, resource_type::kCursor}}) {
            const ResourceKey group = ResourceKey::ofId(groupType);
            for (const ResourceKey& name : lookup.names(group))
                for (std::uint16_t language : lookup.languages(group, name))
                    if (auto data = lookup.find(group, name, language))
                        for (const GroupEntry& entry : ParseGroupEntries(*data))
                            groupMembers.emplace(memberType, entry.id);
        }
    }

    std::set<std::string> taken;  // lower-case names written so far
    const std::vector<ResourceKey> types =
        selection.type ? std::vector<ResourceKey>{*selection.type} : lookup.types();
    for (const ResourceKey& type : types) {
        std::vector<ResourceKey> names = lookup.names(type);
        if (selection.name) {
            const ResourceKey& wanted = *selection.name;
            names.erase(std::remove_if(names.begin(), names.end(),
                                       [&](const ResourceKey& name) {
                                           return name.isName != wanted.isName ||
                                                  (name.isName ? toLowerAscii(utf16ToUtf8(name.name)) !=
                                                                     toLowerAscii(utf16ToUtf8(wanted.name))
                                                               : name.id != wanted.id);
                                       }),
                        names.end());
        }
        for (const ResourceKey& name : names) {
            if (!type.isName && !name.isName && groupMembers.count({type.id, name.id})) continue;
            for (std::uint16_t language : lookup.languages(type, name)) {
                if (selection.language && *selection.language != language) continue;
                ExportedResource exported;
                const std::string label =
                    ResourceTypeName(type) + " " + keyText(name) + " " + std::to_string(language);
                if (ExportResource(lookup, type, name, language, exported).failed()) {
                    summary.problems.push_back(label + ": cannot be exported (no member found)");
                    continue;
                }
                if (!exported.missingMembers.empty()) {
                    std::string ids;
                    for (std::uint16_t id : exported.missingMembers) {
                        if (!ids.empty()) ids += ", ";
                        ids += std::to_string(id);
                    }
                    std::string problem = label;
                    problem += ": members missing, left out: ";
                    problem += ids;
                    summary.problems.push_back(std::move(problem));
                }
                const std::size_t dot = exported.fileName.rfind('.');
                const std::string stem = fileNameSafe(ResourceTypeName(type)) + "_" +
                                         exported.fileName.substr(0, dot) + "_" + std::to_string(language);
                const std::string extension = exported.fileName.substr(dot);
                std::string fileName = stem + extension;
                for (int k = 2; taken.count(toLowerAscii(fileName)); ++k) {
                    fileName = stem;
                    fileName += '~';
                    fileName += std::to_string(k);
                    fileName += extension;
                }
                taken.insert(toLowerAscii(fileName));
                const std::filesystem::path target = folder / pathFromUtf8(fileName);
                if (HResult hr = WriteFileAtomic(target, asBytes(exported.bytes)); hr.failed())
                    return ReportError(true, kSource, __LINE__, hr, {pathToUtf8(target)});
                summary.written.push_back(target);
            }
        }
    }
    return kOk;
}

HResult LoadPeResources(const std::filesystem::path& peFile, LoadedResources& out) {
    if (HResult hr = ReadWholeFile(peFile, out.bytes); hr.failed()) return hr;
    return out.lookup.open(asBytes(out.bytes));
}

HResult LoadDescribedResources(const XmlDocument& description, const std::filesystem::path& folder,
                               LoadedResources& out) {
    CResCompiler compiler;
    compiler.setWorkingFolder(folder);
    compiler.setTrace([](std::string_view) {});
    if (HResult hr = compiler.ProcessDescription(description, pathToUtf8(folder / "pe.xml")); hr.failed())
        return hr;
    if (HResult hr = compiler.CompileRoot(kDescribedSectionRva, out.bytes); hr.failed()) return hr;
    out.lookup.openSection(asBytes(out.bytes), kDescribedSectionRva);
    return kOk;
}

}  // namespace kestrel
