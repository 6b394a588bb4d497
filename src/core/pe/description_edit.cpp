#include "core/pe/description_edit.h"

#include <algorithm>
#include <set>
#include <string>
#include <system_error>
#include <unordered_set>
#include <vector>

#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/images/png_icon_group.h"
#include "core/pe/described_file.h"
#include "core/pe/exe_dump.h"
#include "core/pe/memory_folder.h"
#include "core/pe/resource_file_names.h"
#include "core/pe/resource_types.h"
#include "core/pe/section_names.h"
#include "core/pe/string_compile.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSource = "DescriptionEdit";

constexpr std::uint64_t kHotSpotSize = 4;
constexpr std::uint64_t kPngHeaderBytes = 33;  // signature and the IHDR chunk

// --- Keys and elements ---------------------------------------------------------------------------

std::string keyText(const ResourceKey& key) {
    return key.isName ? utf16ToUtf8(key.name) : std::to_string(key.id);
}

// The case folding of the name order: ASCII and Latin-1 letters.
char16_t foldName(char16_t unit) {
    if (unit >= u'a' && unit <= u'z') return static_cast<char16_t>(unit - 0x20);
    if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return static_cast<char16_t>(unit - 0x20);
    return unit;
}

// Linkers sort named entries case-insensitively unit by unit, a shorter prefix first.
int compareNames(const std::u16string& a, const std::u16string& b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const char16_t left = foldName(a[i]), right = foldName(b[i]);
        if (left != right) return left < right ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool sameKey(const ResourceKey& a, const ResourceKey& b) {
    if (a.isName != b.isName) return false;
    return a.isName ? compareNames(a.name, b.name) == 0 : a.id == b.id;
}

bool isElement(const XmlElement* element, std::string_view name) {
    return element && iequalsAscii(element->name(), name);
}

XmlElement* childNamed(const XmlElement* parent, std::string_view name) {
    for (XmlElement* child = parent ? parent->firstChild() : nullptr; child; child = child->next())
        if (isElement(child, name)) return child;
    return nullptr;
}

std::vector<XmlElement*> entriesOf(const XmlElement* directory) {
    std::vector<XmlElement*> entries;
    for (XmlElement* child = directory ? directory->firstChild() : nullptr; child; child = child->next())
        if (isElement(child, "Entry")) entries.push_back(child);
    return entries;
}

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    std::int64_t value = 0;
    if (!attribute || !parseInt(attribute->value(), value)) return std::nullopt;
    return value;
}

std::optional<ResourceKey> entryKey(const XmlElement* entry) {
    if (const XmlAttribute* name = XmlDocument::FindAttribute(entry, "Name"))
        return ResourceKey::ofName(utf8ToUtf16(name->value()));
    auto id = integerAttribute(entry, "ID");
    if (!id || *id < 0 || *id > 0xFFFF) return std::nullopt;
    return ResourceKey::ofId(static_cast<std::uint16_t>(*id));
}

XmlElement* rootDirectory(const XmlDocument& description) {
    XmlElement* top = description.documentNode()->next();
    return isElement(top, "Directory") ? top : nullptr;
}

XmlElement* findEntry(const XmlElement* directory, const ResourceKey& key) {
    for (XmlElement* entry : entriesOf(directory)) {
        auto entryId = entryKey(entry);
        if (entryId && sameKey(*entryId, key)) return entry;
    }
    return nullptr;
}

// The Directory an entry leads to.
XmlElement* subdirectoryOf(const XmlElement* entry) {
    return entry ? childNamed(entry, "Directory") : nullptr;
}

// What a language Entry stands for: the third Entry level under the root Directory.
std::optional<DescribedResource> locate(const XmlDocument& description, const XmlElement* languageEntry) {
    const XmlElement* nameDirectory = languageEntry ? languageEntry->parent() : nullptr;
    const XmlElement* nameEntry = nameDirectory ? nameDirectory->parent() : nullptr;
    const XmlElement* typeDirectory = nameEntry ? nameEntry->parent() : nullptr;
    const XmlElement* typeEntry = typeDirectory ? typeDirectory->parent() : nullptr;
    XmlElement* root = rootDirectory(description);
    if (!root || !isElement(languageEntry, "Entry") || !isElement(nameDirectory, "Directory") ||
        !isElement(nameEntry, "Entry") || !isElement(typeDirectory, "Directory") ||
        !isElement(typeEntry, "Entry") || typeEntry->parent() != root)
        return std::nullopt;
    auto type = entryKey(typeEntry);
    auto name = entryKey(nameEntry);
    auto language = entryKey(languageEntry);
    if (!type || !name || !language || language->isName) return std::nullopt;
    return DescribedResource{*type, *name, language->id};
}

bool isNumericType(const ResourceKey& type, std::uint16_t number) {
    return !type.isName && type.id == number;
}

// The file name the import gives a resource of `type` with `name`, before the naming rules.
std::string importFileName(const ResourceKey& type, const ResourceKey& name) {
    if (name.isName) return utf16ToUtf8(name.name);
    return resourceFileNameForId(type.isName, type.id, type.isName ? utf16ToUtf8(type.name) : std::string(),
                                 name.id);
}

// --- Reports -------------------------------------------------------------------------------------

HResult refuse(int line, HResult code, std::string_view format, std::initializer_list<FormatArg> args = {}) {
    HResult reported = ReportError(true, kSource, line, code);
    ReportMessage(false, kSource, line, format, args);
    return reported;
}

std::string resourceText(const ResourceKey& type, const ResourceKey& name, std::uint16_t language) {
    return safeFormat(Localized("类型 %s、名称 %s、语言 %d"),
                      {keyText(type), keyText(name), static_cast<int>(language)});
}

// --- Source files --------------------------------------------------------------------------------

// One image of an .ico or .cur file with its directory entry.
struct SourceImage {
    IconDirectoryEntry entry;  // .cur files: the hot spot in the planes and bit-count fields
    Bytes image;
};

// What a group entry says about an image: a DIB whose height counts the colour and mask rows, or
// a PNG stream.
struct ImageFacts {
    bool png = false;
    std::uint32_t width = 0;
    std::uint32_t height = 0;  // DIB: as stored (twice the picture); PNG: the picture's
    std::uint16_t planes = 1;
    std::uint16_t bitCount = 32;
};

std::uint32_t bigEndian32(const ByteReader& reader, std::uint64_t offset) {
    std::uint32_t value = 0;
    for (std::uint64_t i = 0; i < 4; ++i)
        value = (value << 8) | reader.u8Or(offset + i, 0);
    return value;
}

// kFail with `facts` empty when the image is neither a valid icon DIB nor a PNG stream with its
// header.
HResult imageFacts(Bytes image, ImageFacts& facts) {
    facts = {};
    if (HasPngSignature(image)) {
        // IHDR follows the signature: length, "IHDR", width, height (big-endian).
        ByteReader reader(image);
        if (image.size() < kPngHeaderBytes || bigEndian32(reader, 12) != 0x49484452u) return kFail;
        facts.png = true;
        facts.width = bigEndian32(reader, 16);
        facts.height = bigEndian32(reader, 20);
        return kOk;
    }
    DibInfo info;
    if (validateDib(image, info, DibLayout::kIconImage).failed()) return kFail;
    const DibHeader header = readDibHeader(image);
    facts.width = static_cast<std::uint32_t>(header.width);
    facts.height = static_cast<std::uint32_t>(header.height);
    facts.planes = header.planes;
    facts.bitCount = header.bitCount;
    return kOk;
}

// Every image of an icon or cursor file; kFail with `images` empty when the directory or an image
// does not hold.
HResult readIconFile(Bytes file, std::uint16_t fileType, std::vector<SourceImage>& images) {
    images.clear();
    IconDirectory directory;
    if (ReadIconDirectory(file, directory).failed() || !directory.knownType() || directory.type != fileType ||
        directory.count == 0 || directory.entries.size() != directory.count)
        return kFail;
    for (const IconDirectoryEntry& entry : directory.entries) {
        auto image = ByteReader(file).span(entry.imageOffset, entry.imageBytes);
        ImageFacts facts;
        if (entry.imageBytes == 0 || entry.imageOffset < directory.entriesEnd() || !image ||
            imageFacts(*image, facts).failed()) {
            images.clear();
            return kFail;
        }
        images.push_back(SourceImage{entry, *image});
    }
    return kOk;
}

// The single-image .ICO / .CUR file the import writes for an icon or cursor resource.
std::vector<std::byte> singleImageFile(const SourceImage& source, bool cursor) {
    std::vector<std::byte> file = cursor
                                      ? MakeSingleIconFileHeader(source.image, IconGroupKind::kCursor,
                                                                 source.entry.planes, source.entry.bitCount)
                                      : MakeSingleIconFileHeader(source.image, IconGroupKind::kIcon);
    file.insert(file.end(), source.image.begin(), source.image.end());
    return file;
}

// A BMP file as the import writes it for a bitmap resource: "BM", the file size, two reserved
// words and the pixel offset the DIB header implies, then the DIB.
std::vector<std::byte> bmpFileOf(Bytes dib) {
    std::vector<std::byte> file = MakeBmpFileHeader(dib);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

// --- Planned files -------------------------------------------------------------------------------

// A file to write and the File element that will name it.
struct PlannedFile {
    std::string storedName;         // the File element's Name
    std::vector<std::byte> bytes;   // what is written at storedName (or at its PNG sibling)
    std::uint64_t size = 0;         // the File element's Size: the resource's bytes
    std::optional<bool> png;        // bitmaps: the Png attribute
    bool writePngSibling = false;   // the bytes are a PNG for the sibling of storedName
    bool convertToPng = false;      // a 32-bit BMP: convert it beside itself as the import does
    bool replacesExisting = false;  // the file of an existing entry, rewritten in place
};

// Chooses file names the import's way and keeps them clear of every file the description names and
// every file already in the folder (header and section files, the project file, files of deleted
// resources); names freed by this edit may be written again.
class NameChooser {
  public:
    NameChooser(const XmlDocument& description, const fs::path& folder,
                const std::unordered_set<const XmlElement*>& leaving, const MemoryFolder* memory = nullptr)
        : folder_(folder), memory_(memory), claimed_(folder) {
        XmlElement* root = rootDirectory(description);
        for (XmlElement* typeEntry : entriesOf(root)) {
            const bool bitmaps =
                entryKey(typeEntry) == std::optional(ResourceKey::ofId(resource_type::kBitmap));
            for (XmlElement* nameEntry : entriesOf(subdirectoryOf(typeEntry))) {
                for (XmlElement* languageEntry : entriesOf(subdirectoryOf(nameEntry))) {
                    const std::optional<std::string> name = DescribedFile(languageEntry).storedName();
                    if (!name) continue;
                    if (leaving.count(languageEntry) != 0) {
                        reusable_.insert(toLowerAscii(*name));
                        continue;
                    }
                    claimed_.claimFile(*name);
                    if (bitmaps) claimed_.claimFile(pngSiblingName(*name));
                }
            }
        }
    }

    std::string choose(std::string_view name, std::uint16_t language, bool pngSibling) {
        for (;;) {
            std::string chosen = claimed_.claimFor(name, language, pngSibling);
            if (!inFolder(chosen) && (!pngSibling || !inFolder(pngSiblingName(chosen)))) return chosen;
        }
    }

  private:
    bool inFolder(const std::string& name) const {
        if (reusable_.count(toLowerAscii(name)) != 0) return false;
        if (memory_ && memory_->contains(name)) return true;
        // A name the resolver refuses is left to the write, which reports it.
        fs::path path;
        if (resolveStored(folder_, name, path).failed()) return false;
        std::error_code error;
        return fs::exists(fs::symlink_status(path, error));
    }

    fs::path folder_;
    const MemoryFolder* memory_;
    ClaimedNames claimed_;
    std::unordered_set<std::string> reusable_;
};

// Writes the planned files; on failure the files this call created are removed again. With a
// memory folder the files go there, and 32-bit bitmaps stay BMP files as that folder's import
// keeps them.
HResult writePlannedFiles(const fs::path& folder, std::vector<PlannedFile>& files, MemoryFolder* memory) {
    if (memory) {
        for (const PlannedFile& file : files)
            memory->put(file.writePngSibling ? pngSiblingName(file.storedName) : file.storedName, file.bytes);
        return kOk;
    }
    std::vector<fs::path> created;
    auto fail = [&](int line, HResult hr, const fs::path& path) {
        for (const fs::path& done : created)
            (void)RemoveFileIfPresent(done);
        HResult reported = ReportError(true, kSource, line, hr);
        ReportMessage(false, kSource, line, "未能建立文件 %s", {pathToUtf8(path)});
        return reported;
    };
    for (PlannedFile& file : files) {
        fs::path path;
        const std::string written = file.writePngSibling ? pngSiblingName(file.storedName) : file.storedName;
        if (HResult hr = resolveStored(folder, written, path); hr.failed())
            return fail(__LINE__, hr, folder / written);
        if (HResult hr = CreateFolderPath(path.parent_path()); hr.failed()) return fail(__LINE__, hr, path);
        if (HResult hr = WriteFileAtomic(path, asBytes(file.bytes)); hr.failed())
            return fail(__LINE__, hr, path);
        if (!file.replacesExisting) created.push_back(path);
        if (!file.convertToPng) continue;

        // 32-bit bitmaps become PNG files as the import makes them; one the converter refuses stays
        // a BMP file.
        const fs::path pngPath = replaceLastThree(path, "png");
        const bool hadRecord = PeekErrorRecord().has_value();
        if (!pngPath.empty() && ConvertBmpToPng(path).succeeded()) {
            created.push_back(pngPath);
            if (HResult hr = RemoveFileIfPresent(path); hr.failed()) return fail(__LINE__, hr, path);
            file.png = true;
        } else if (!hadRecord) {
            ClearErrorRecord();
        }
    }
    return kOk;
}

// --- The description -----------------------------------------------------------------------------

// A group resource of the description with the member IDs its file lists.
struct GroupUse {
    XmlElement* languageEntry = nullptr;
    std::uint16_t language = 0;
    std::vector<std::uint16_t> members;
};

class DescriptionEditor {
  public:
    DescriptionEditor(XmlDocument& description, const fs::path& folder, MemoryFolder* memory = nullptr)
        : description_(description), folder_(folder), memory_(memory), root_(rootDirectory(description)) {}

    XmlElement* root() const { return root_; }
    XmlDocument& description() { return description_; }
    const fs::path& folder() const { return folder_; }
    MemoryFolder* memory() const { return memory_; }

    HResult requireRoot(int line) const {
        if (root_) return kOk;
        return refuse(line, kFail, "资源说明 pe.xml 中没有 Directory 元素。");
    }

    XmlElement* typeDirectory(const ResourceKey& type) const {
        return subdirectoryOf(findEntry(root_, type));
    }

    XmlElement* languageEntry(XmlElement* typeDir, const ResourceKey& name, std::uint16_t language) const {
        return findEntry(subdirectoryOf(findEntry(typeDir, name)), ResourceKey::ofId(language));
    }

    // The bytes of a resource's file; empty when it has none or it cannot be read.
    std::vector<std::byte> fileBytes(const XmlElement* languageEntry) const {
        std::vector<std::byte> bytes;
        const std::optional<std::string> name = DescribedFile(languageEntry).storedName();
        if (const HeldBytes* held = name && memory_ ? memory_->find(*name) : nullptr)
            return std::vector<std::byte>(held->bytes.begin(), held->bytes.end());
        fs::path path;
        if (!name || resolveStored(folder_, *name, path).failed() || ReadWholeFile(path, bytes).failed())
            bytes.clear();
        return bytes;
    }

    // Every group of `groupType` but `except`. A group whose file cannot be read lists nothing.
    std::vector<GroupUse> groups(std::uint16_t groupType, const XmlElement* except) const {
        std::vector<GroupUse> found;
        for (XmlElement* nameEntry : entriesOf(typeDirectory(ResourceKey::ofId(groupType)))) {
            for (XmlElement* languageEntry : entriesOf(subdirectoryOf(nameEntry))) {
                auto language = entryKey(languageEntry);
                if (languageEntry == except || !language || language->isName) continue;
                GroupUse group{languageEntry, language->id, {}};
                const std::vector<std::byte> data = fileBytes(languageEntry);
                for (const GroupEntry& entry : ParseGroupEntries(asBytes(data)))
                    group.members.push_back(entry.id);
                found.push_back(std::move(group));
            }
        }
        return found;
    }

    // Member (id, language) is used by a group that lists the ID in that language, or in a
    // language the member does not exist in (the system's lookup then takes another language).
    bool isMemberUsed(XmlElement* memberTypeDir, std::uint16_t id, std::uint16_t language,
                      const std::vector<GroupUse>& groups) const {
        for (const GroupUse& group : groups) {
            if (std::find(group.members.begin(), group.members.end(), id) == group.members.end()) continue;
            if (group.language == language ||
                !languageEntry(memberTypeDir, ResourceKey::ofId(id), group.language))
                return true;
        }
        return false;
    }

    // The member entries of a group (language, IDs) that none of `others` uses.
    std::vector<XmlElement*> unusedMembers(std::uint16_t memberType, std::uint16_t language,
                                           const std::vector<std::uint16_t>& members,
                                           const std::vector<GroupUse>& others) const {
        std::vector<XmlElement*> unused;
        XmlElement* memberTypeDir = typeDirectory(ResourceKey::ofId(memberType));
        std::set<std::uint16_t> seen;
        for (std::uint16_t id : members) {
            if (!seen.insert(id).second) continue;
            XmlElement* nameDir = subdirectoryOf(findEntry(memberTypeDir, ResourceKey::ofId(id)));
            std::vector<XmlElement*> candidates;
            if (XmlElement* own = findEntry(nameDir, ResourceKey::ofId(language))) {
                candidates.push_back(own);
            } else {
                candidates = entriesOf(nameDir);
            }
            for (XmlElement* candidate : candidates) {
                auto candidateLanguage = entryKey(candidate);
                if (candidateLanguage && !candidateLanguage->isName &&
                    !isMemberUsed(memberTypeDir, id, candidateLanguage->id, others))
                    unused.push_back(candidate);
            }
        }
        return unused;
    }

    // `count` member IDs that no member entry (other than those leaving) and no other group uses.
    std::optional<std::vector<std::uint16_t>> freeMemberIds(
        std::uint16_t memberType, std::size_t count, const std::vector<GroupUse>& others,
        const std::unordered_set<const XmlElement*>& leaving) const {
        std::set<std::uint32_t> taken;
        for (XmlElement* nameEntry : entriesOf(typeDirectory(ResourceKey::ofId(memberType)))) {
            auto id = entryKey(nameEntry);
            if (!id || id->isName) continue;
            for (XmlElement* languageEntry : entriesOf(subdirectoryOf(nameEntry)))
                if (leaving.count(languageEntry) == 0) taken.insert(id->id);
        }
        for (const GroupUse& group : others)
            taken.insert(group.members.begin(), group.members.end());
        std::vector<std::uint16_t> ids;
        for (std::uint32_t id = 1; id <= 0xFFFF && ids.size() < count; ++id)
            if (taken.count(id) == 0) ids.push_back(static_cast<std::uint16_t>(id));
        if (ids.size() < count) return std::nullopt;
        return ids;
    }

    // --- Changes to the tree ---

    HResult addLanguage(const ResourceKey& type, const ResourceKey& name, std::uint16_t language,
                        const PlannedFile* file, XmlElement*& added) {
        XmlElement* typeDir = nullptr;
        XmlElement* nameDir = nullptr;
        if (HResult hr = ensureEntry(root_, type, typeDir); hr.failed()) return hr;
        if (HResult hr = ensureEntry(typeDir, name, nameDir); hr.failed()) return hr;
        added = insertEntry(nameDir, ResourceKey::ofId(language), false);
        if (!added) return kOutOfMemory;
        if (file && !setFileAttributes(added, *file)) return kOutOfMemory;
        return recount(nameDir) ? kOk : kOutOfMemory;
    }

    // Names `file` in the File element of `languageEntry`, made when missing.
    bool setFileAttributes(XmlElement* languageEntry, const PlannedFile& file) {
        DescribedFile described(languageEntry);
        bool ok = described.ensureFileElement(description_) &&
                  described.setStoredName(description_, file.storedName) &&
                  described.setSize(description_, file.size);
        if (file.png) ok = ok && described.setPng(description_, *file.png);
        return ok;
    }

    // Removes a language entry and the name and type entries it leaves empty.
    HResult removeLanguage(XmlElement* languageEntry) {
        XmlElement* nameDir = languageEntry->parent();
        XmlElement* nameEntry = nameDir->parent();
        XmlElement* typeDir = nameEntry->parent();
        XmlElement* typeEntry = typeDir->parent();
        description_.RemoveElement(languageEntry);
        if (!entriesOf(nameDir).empty()) return recount(nameDir) ? kOk : kOutOfMemory;
        description_.RemoveElement(nameEntry);
        if (!entriesOf(typeDir).empty()) return recount(typeDir) ? kOk : kOutOfMemory;
        description_.RemoveElement(typeEntry);
        return recount(root_) ? kOk : kOutOfMemory;
    }

  private:
    bool set(XmlElement* element, std::string_view name, std::string_view value) {
        description_.SetCurrent(element);
        return description_.SetCurrentAttribute(name, value) != nullptr;
    }

    bool recount(XmlElement* directory) {
        std::size_t named = 0, ids = 0;
        for (XmlElement* entry : entriesOf(directory))
            ++(XmlDocument::FindAttribute(entry, "Name") ? named : ids);
        return set(directory, "Named_Entries", std::to_string(named)) &&
               set(directory, "ID_Entries", std::to_string(ids));
    }

    // A new Entry in the import's order: named entries before IDs, names in the linker's order,
    // IDs ascending.
    XmlElement* insertEntry(XmlElement* directory, const ResourceKey& key, bool leadsToDirectory) {
        XmlElement* before = nullptr;
        for (XmlElement* entry : entriesOf(directory)) {
            auto existing = entryKey(entry);
            if (!existing) continue;
            const bool goesFirst = key.isName
                                       ? (!existing->isName || compareNames(key.name, existing->name) < 0)
                                       : (!existing->isName && key.id < existing->id);
            if (goesFirst) {
                before = entry;
                break;
            }
        }
        XmlElement* entry = description_.InsertElement(directory, before, "Entry");
        if (!entry) return nullptr;
        const bool ok = (key.isName ? set(entry, "Name", utf16ToUtf8(key.name))
                                    : set(entry, "ID", std::to_string(key.id))) &&
                        set(entry, "Directory", leadsToDirectory ? "1" : "0");
        return ok ? entry : nullptr;
    }

    // The Directory under `key` in `directory`, made with its Entry when missing.
    HResult ensureEntry(XmlElement* directory, const ResourceKey& key, XmlElement*& subdirectory) {
        subdirectory = subdirectoryOf(findEntry(directory, key));
        if (subdirectory) return kOk;
        XmlElement* entry = insertEntry(directory, key, true);
        subdirectory = entry ? description_.InsertElement(entry, nullptr, "Directory") : nullptr;
        if (!subdirectory) return kOutOfMemory;
        bool ok = key.isName
                      ? set(subdirectory, "Type", "0") && set(subdirectory, "Name", utf16ToUtf8(key.name))
                      : set(subdirectory, "Type", std::to_string(key.id));
        ok = ok && recount(subdirectory) && recount(directory);
        return ok ? kOk : kOutOfMemory;
    }

    XmlDocument& description_;
    fs::path folder_;
    MemoryFolder* memory_;
    XmlElement* root_;
};

// --- Planning the files of an addition -----------------------------------------------------------

HResult planBitmap(const ResourceKey& name, Bytes source, const fs::path& sourcePath, NameChooser& names,
                   std::uint16_t language, PlannedFile& planned) {
    const std::string stored =
        storedResourceFileName(importFileName(ResourceKey::ofId(resource_type::kBitmap), name));
    const bool pngName = iendsWithAscii(stored, ".bmp");
    if (HasPngSignature(source)) {
        // The compile makes the bitmap from the PNG; what it makes decides how the import would
        // keep it: a 32-bit one as this PNG, anything else as a BMP file.
        std::vector<std::byte> bmp;
        PngConverter converter;
        std::vector<std::byte> packed;
        if (converter.ConvertPngToBmpBytes(source, bmp).failed() ||
            !ReadBmpFileDib(asBytes(bmp), packed).ok())
            return refuse(__LINE__, kFail, "%s 不是有效的 PNG 文件。", {pathToUtf8(sourcePath)});
        Bytes dib = asBytes(packed);
        planned.size = dib.size();
        if (pngName && readDibHeader(dib).bitCount == 32) {
            planned.storedName = names.choose(stored, language, true);
            planned.bytes.assign(source.begin(), source.end());
            planned.writePngSibling = true;
            planned.png = true;
        } else {
            planned.storedName = names.choose(stored, language, false);
            planned.bytes = bmpFileOf(dib);
            planned.png = false;
        }
        return kOk;
    }
    auto dib = std::make_optional<std::vector<std::byte>>();
    if (const BmpFileCheck check = ReadBmpFileDib(source, *dib); !check.ok())
        return refuse(__LINE__, kFail, check.format, {pathToUtf8(sourcePath), check.found});
    planned.convertToPng = pngName && readDibHeader(asBytes(*dib)).bitCount == 32;
    planned.storedName = names.choose(stored, language, planned.convertToPng);
    planned.size = dib->size();
    planned.bytes = bmpFileOf(asBytes(*dib));
    planned.png = false;
    return kOk;
}

HResult planIconOrCursor(const ResourceKey& type, const ResourceKey& name, Bytes source,
                         const fs::path& sourcePath, NameChooser& names, std::uint16_t language,
                         PlannedFile& planned) {
    const bool cursor = type.id == resource_type::kCursor;
    std::vector<SourceImage> images;
    if (readIconFile(source, cursor ? kCursorFileType : kIconFileType, images).failed())
        return refuse(__LINE__, kFail, "%s 不是有效的 %s 文件。",
                      {pathToUtf8(sourcePath), cursor ? ".cur" : ".ico"});
    if (images.size() != 1)
        return refuse(__LINE__, kInvalidArg,
                      "%s 有 %d 个图象；单个%s资源只能有一个图象，请作为%s组 (%d) 添加。",
                      {pathToUtf8(sourcePath), images.size(), Localized(cursor ? "光标" : "图标"),
                       Localized(cursor ? "光标" : "图标"),
                       cursor ? resource_type::kGroupCursor : resource_type::kGroupIcon});
    planned.storedName = names.choose(storedResourceFileName(importFileName(type, name)), language, false);
    planned.bytes = singleImageFile(images.front(), cursor);
    planned.size = images.front().image.size();
    return kOk;
}

// The group resource listing `images` under `memberIds`: a 6-byte header (reserved, type 1 or 2,
// count), then one 14-byte entry per image. Icon groups: width, height, colour count, reserved
// (bytes), planes, bit count, image bytes, member ID. Cursor groups: width and height (twice the
// picture height) as 16-bit values in place of the four bytes; their image bytes count the
// member's hot spot.
std::vector<std::byte> groupData(const std::vector<SourceImage>& images,
                                 const std::vector<std::uint16_t>& memberIds, bool cursor) {
    ByteWriter out;
    out.u16(0);
    out.u16(cursor ? kCursorFileType : kIconFileType);
    out.u16(static_cast<std::uint32_t>(images.size()));
    for (std::size_t i = 0; i < images.size(); ++i) {
        const SourceImage& image = images[i];
        // Images that do not decode were refused when the file was read; empty facts stand in.
        ImageFacts facts;
        (void)imageFacts(image.image, facts);
        if (cursor) {
            out.u16(facts.width);
            out.u16(facts.png ? 2 * facts.height : facts.height);
            out.u16(facts.planes);
            out.u16(facts.bitCount);
            out.u32(static_cast<std::uint32_t>(image.image.size() + kHotSpotSize));
        } else {
            // The .ico directory's own numbers, as resource compilers copy them; planes and bit
            // count from the image when the directory leaves them 0.
            out.u8(image.entry.width);
            out.u8(image.entry.height);
            out.u8(image.entry.colorCount);
            out.u8(0);
            out.u16(image.entry.planes != 0 ? image.entry.planes : facts.planes);
            out.u16(image.entry.bitCount != 0 ? image.entry.bitCount : facts.bitCount);
            out.u32(static_cast<std::uint32_t>(image.image.size()));
        }
        out.u16(memberIds[i]);
    }
    return std::move(out.bytes());
}

std::vector<PlannedFile> planMembers(const std::vector<SourceImage>& images,
                                     const std::vector<std::uint16_t>& ids, bool cursor,
                                     std::uint16_t language, NameChooser& names) {
    const ResourceKey memberType = ResourceKey::ofId(cursor ? resource_type::kCursor : resource_type::kIcon);
    std::vector<PlannedFile> members;
    for (std::size_t i = 0; i < images.size(); ++i) {
        PlannedFile member;
        member.storedName = names.choose(
            storedResourceFileName(importFileName(memberType, ResourceKey::ofId(ids[i]))), language, false);
        member.bytes = singleImageFile(images[i], cursor);
        member.size = images[i].image.size();
        members.push_back(std::move(member));
    }
    return members;
}

HResult readSource(const fs::path& source, std::vector<std::byte>& bytes) {
    if (HResult hr = ReadWholeFile(source, bytes); hr.failed()) {
        HResult reported = ReportError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能打开 %s", {pathToUtf8(source)});
        return reported;
    }
    return kOk;
}

// The source of an icon group may be a square PNG picture instead of an icon file: `bytes` then
// become the icon file of every size the system picks from (see MakeIconFileFromPng). Anything
// else, and every cursor group's source, stays as it is.
HResult iconFileFromPng(const fs::path& source, bool cursor, std::vector<std::byte>& bytes) {
    if (cursor || !HasPngSignature(asBytes(bytes))) return kOk;
    std::vector<std::byte> icon;
    const HResult made = MakeIconFileFromPng(asBytes(bytes), icon);
    if (made == kOutOfMemory) return ReportError(true, kSource, __LINE__, made);
    if (made.failed())
        return refuse(__LINE__, made, "图片 %s 不是正方形的 PNG 图片，无法做成图标。", {pathToUtf8(source)});
    bytes = std::move(icon);
    return kOk;
}

// Writes a group and its new members and changes the description: members leaving go, new members
// and (for an addition) the group entry come in. `groupEntry` is the existing group's language
// entry when it is replaced.
HResult commitGroup(DescriptionEditor& editor, const DescribedResource& group, XmlElement* groupEntry,
                    const std::vector<SourceImage>& images, const std::vector<XmlElement*>& leaving,
                    const std::vector<GroupUse>& others, XmlElement*& added) {
    const bool cursor = group.type.id == resource_type::kGroupCursor;
    const std::uint16_t memberType = cursor ? resource_type::kCursor : resource_type::kIcon;
    const std::unordered_set<const XmlElement*> leavingSet(leaving.begin(), leaving.end());
    auto ids = editor.freeMemberIds(memberType, images.size(), others, leavingSet);
    if (!ids) return refuse(__LINE__, kFail, "没有足够的未用 ID 给 %d 个图象。", {images.size()});

    NameChooser names(editor.description(), editor.folder(), leavingSet, editor.memory());
    std::vector<PlannedFile> files = planMembers(images, *ids, cursor, group.language, names);
    PlannedFile groupFile;
    groupFile.bytes = groupData(images, *ids, cursor);
    groupFile.size = groupFile.bytes.size();
    const std::optional<std::string> existingName = DescribedFile(groupEntry).storedName();
    if (existingName) {
        groupFile.storedName = *existingName;
        groupFile.replacesExisting = true;
    } else {
        groupFile.storedName = names.choose(storedResourceFileName(importFileName(group.type, group.name)),
                                            group.language, false);
    }
    files.push_back(groupFile);
    if (HResult hr = writePlannedFiles(editor.folder(), files, editor.memory()); hr.failed()) return hr;

    for (XmlElement* member : leaving)
        if (HResult hr = editor.removeLanguage(member); hr.failed()) return hr;
    for (std::size_t i = 0; i < images.size(); ++i) {
        XmlElement* memberEntry = nullptr;
        if (HResult hr = editor.addLanguage(ResourceKey::ofId(memberType), ResourceKey::ofId((*ids)[i]),
                                            group.language, &files[i], memberEntry);
            hr.failed())
            return hr;
    }
    if (!groupEntry) return editor.addLanguage(group.type, group.name, group.language, &files.back(), added);

    if (!editor.setFileAttributes(groupEntry, files.back())) return kOutOfMemory;
    added = groupEntry;
    return kOk;
}

bool isGroupType(const ResourceKey& type) {
    return isNumericType(type, resource_type::kGroupIcon) || isNumericType(type, resource_type::kGroupCursor);
}

}  // namespace

std::optional<DescribedResource> DescribeResourceEntry(const XmlDocument& description,
                                                       const XmlElement* languageEntry) {
    return locate(description, languageEntry);
}

XmlElement* FindResourceEntry(const XmlDocument& description, const ResourceKey& type,
                              const ResourceKey& name, std::uint16_t language) {
    XmlElement* typeEntry = findEntry(rootDirectory(description), type);
    XmlElement* nameEntry = findEntry(subdirectoryOf(typeEntry), name);
    return findEntry(subdirectoryOf(nameEntry), ResourceKey::ofId(language));
}

std::vector<XmlElement*> ListResourceEntries(const XmlDocument& description,
                                             const std::optional<ResourceKey>& type) {
    std::vector<XmlElement*> found;
    for (XmlElement* typeEntry : entriesOf(rootDirectory(description))) {
        const auto typeKey = entryKey(typeEntry);
        if (type && !(typeKey && sameKey(*typeKey, *type))) continue;
        for (XmlElement* nameEntry : entriesOf(subdirectoryOf(typeEntry))) {
            for (XmlElement* languageEntry : entriesOf(subdirectoryOf(nameEntry)))
                if (locate(description, languageEntry)) found.push_back(languageEntry);
        }
    }
    return found;
}

HResult DescribeStringBlock(XmlDocument& description, std::uint16_t block, std::uint16_t language,
                            std::uint64_t size) {
    const ResourceKey strings = ResourceKey::ofId(resource_type::kString);
    if (FindResourceEntry(description, strings, ResourceKey::ofId(block), language)) return kOk;
    DescriptionEditor editor(description, {});
    if (HResult hr = editor.requireRoot(__LINE__); hr.failed()) return hr;
    PlannedFile file;
    file.storedName = std::string(kStringsFileName);
    file.size = size;
    XmlElement* added = nullptr;
    if (HResult hr = editor.addLanguage(strings, ResourceKey::ofId(block), language, &file, added);
        hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    return kOk;
}

HResult AddResource(XmlDocument& description, const std::filesystem::path& folder, const ResourceKey& type,
                    const ResourceKey& name, std::uint16_t language, const std::filesystem::path& source,
                    XmlElement*& added, MemoryFolder* memory) {
    added = nullptr;
    DescriptionEditor editor(description, folder, memory);
    if (HResult hr = editor.requireRoot(__LINE__); hr.failed()) return hr;
    if ((type.isName && type.name.empty()) || (!type.isName && type.id == 0))
        return refuse(__LINE__, kInvalidArg, "资源类型不能是空的名称或 0。");
    if (name.isName && name.name.empty()) return refuse(__LINE__, kInvalidArg, "资源名称不能是空的。");
    if (isNumericType(type, resource_type::kString))
        return refuse(__LINE__, kInvalidArg, "字串表 (类型 6) 保存在 STRINGS.XML 中，不能作为文件添加。");
    if (FindResourceEntry(description, type, name, language))
        return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists), "资源 (%s) 已经存在。",
                      {resourceText(type, name, language)});
    if (isNumericType(type, resource_type::kBitmap)) {
        // The import keeps the first language of a bitmap only; a second one would be lost.
        XmlElement* nameEntry = findEntry(editor.typeDirectory(type), name);
        if (!entriesOf(subdirectoryOf(nameEntry)).empty())
            return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists),
                          "位图 %s 已经有一种语言；每个位图只能保存一种语言。", {keyText(name)});
    }

    std::vector<std::byte> bytes;
    if (HResult hr = readSource(source, bytes); hr.failed()) return hr;
    const DescribedResource resource{type, name, language};

    if (isGroupType(type)) {
        const bool cursor = type.id == resource_type::kGroupCursor;
        if (HResult hr = iconFileFromPng(source, cursor, bytes); hr.failed()) return hr;
        std::vector<SourceImage> images;
        if (readIconFile(asBytes(bytes), cursor ? kCursorFileType : kIconFileType, images).failed())
            return refuse(__LINE__, kFail, "%s 不是有效的 %s 文件。",
                          {pathToUtf8(source), cursor ? ".cur" : ".ico"});
        const std::vector<GroupUse> others = editor.groups(type.id, nullptr);
        if (HResult hr = commitGroup(editor, resource, nullptr, images, {}, others, added); hr.failed())
            return hr;
        description.SetCurrent(added);
        return kOk;
    }

    NameChooser names(description, folder, {}, memory);
    std::vector<PlannedFile> files(1);
    PlannedFile& planned = files.front();
    HResult hr = kOk;
    if (isNumericType(type, resource_type::kBitmap)) {
        hr = planBitmap(name, asBytes(bytes), source, names, language, planned);
    } else if (isNumericType(type, resource_type::kIcon) || isNumericType(type, resource_type::kCursor)) {
        hr = planIconOrCursor(type, name, asBytes(bytes), source, names, language, planned);
    } else if (!bytes.empty()) {
        planned.storedName =
            names.choose(storedResourceFileName(importFileName(type, name)), language, false);
        planned.size = bytes.size();
        planned.bytes = std::move(bytes);
    } else {
        // An empty resource has no file, as the import describes one.
        files.clear();
    }
    if (hr.failed()) return hr;
    if (hr = writePlannedFiles(folder, files, memory); hr.failed()) return hr;
    if (hr = editor.addLanguage(type, name, language, files.empty() ? nullptr : &files.front(), added);
        hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    description.SetCurrent(added);
    return kOk;
}

HResult ReplaceGroupFromIconFile(XmlDocument& description, const std::filesystem::path& folder,
                                 XmlElement* groupLanguageEntry, const std::filesystem::path& iconFile,
                                 MemoryFolder* memory) {
    DescriptionEditor editor(description, folder, memory);
    const auto found = locate(description, groupLanguageEntry);
    if (!found || !isGroupType(found->type))
        return refuse(__LINE__, kInvalidArg, "所选的条目不是图标组或光标组 (类型 14 或 12)。");
    const DescribedResource& group = *found;
    const bool cursor = group.type.id == resource_type::kGroupCursor;
    std::vector<std::byte> bytes;
    if (HResult hr = readSource(iconFile, bytes); hr.failed()) return hr;
    if (HResult hr = iconFileFromPng(iconFile, cursor, bytes); hr.failed()) return hr;
    std::vector<SourceImage> images;
    if (readIconFile(asBytes(bytes), cursor ? kCursorFileType : kIconFileType, images).failed())
        return refuse(__LINE__, kFail, "%s 不是有效的 %s 文件。",
                      {pathToUtf8(iconFile), cursor ? ".cur" : ".ico"});

    std::vector<std::uint16_t> oldMembers;
    const std::vector<std::byte> oldGroup = editor.fileBytes(groupLanguageEntry);
    for (const GroupEntry& entry : ParseGroupEntries(asBytes(oldGroup)))
        oldMembers.push_back(entry.id);
    const std::vector<GroupUse> others = editor.groups(group.type.id, groupLanguageEntry);
    const std::vector<XmlElement*> leaving = editor.unusedMembers(
        cursor ? resource_type::kCursor : resource_type::kIcon, group.language, oldMembers, others);

    XmlElement* replaced = nullptr;
    if (HResult hr = commitGroup(editor, group, groupLanguageEntry, images, leaving, others, replaced);
        hr.failed())
        return hr;
    description.SetCurrent(replaced);
    return kOk;
}

HResult DeleteResource(XmlDocument& description, const std::filesystem::path& folder,
                       XmlElement* languageEntry) {
    DescriptionEditor editor(description, folder);
    const auto found = locate(description, languageEntry);
    if (!found) return refuse(__LINE__, kInvalidArg, "所选的条目不是一个资源的语言条目。");
    const DescribedResource& resource = *found;
    if (isNumericType(resource.type, resource_type::kString))
        return refuse(__LINE__, kInvalidArg, "字串表 (类型 6) 由 STRINGS.XML 生成，不能在这里删除。");

    std::vector<XmlElement*> leaving{languageEntry};
    if (isGroupType(resource.type)) {
        std::vector<std::uint16_t> members;
        const std::vector<std::byte> data = editor.fileBytes(languageEntry);
        for (const GroupEntry& entry : ParseGroupEntries(asBytes(data)))
            members.push_back(entry.id);
        const bool cursor = resource.type.id == resource_type::kGroupCursor;
        const std::vector<XmlElement*> unused =
            editor.unusedMembers(cursor ? resource_type::kCursor : resource_type::kIcon, resource.language,
                                 members, editor.groups(resource.type.id, languageEntry));
        leaving.insert(leaving.end(), unused.begin(), unused.end());
    }
    for (XmlElement* entry : leaving)
        if (HResult hr = editor.removeLanguage(entry); hr.failed())
            return ReportError(true, kSource, __LINE__, hr);
    if (XmlElement* root = editor.root()) description.SetCurrent(root);
    return kOk;
}

std::vector<std::uint16_t> ListResourceLanguages(const XmlDocument& description) {
    std::set<std::uint16_t> languages;
    for (XmlElement* entry : ListResourceEntries(description))
        if (auto resource = locate(description, entry)) languages.insert(resource->language);
    return {languages.begin(), languages.end()};
}

namespace {

// STRINGS.XML with the strings of `source` copied to `target`, as lines after the existing ones.
// The lines without L are in the default language (that of the first string block described), and
// the copy may change it: a new language entry that sorts first takes its place. Then every line
// that had no L gets its language written out, so that each string keeps its language.
struct StringsCopy {
    std::string text;       // the new content of STRINGS.XML
    std::size_t lines = 0;  // lines added
};
HResult copyStrings(const fs::path& stringsXml, std::uint16_t source, std::uint16_t defaultBefore,
                    std::uint16_t defaultAfter, std::uint16_t target, StringsCopy& out) {
    out = {};
    std::vector<std::byte> bytes;
    if (HResult hr = readSource(stringsXml, bytes); hr.failed()) return hr;
    XmlDocument strings;
    if (HResult hr = strings.LoadFile(stringsXml); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能读取 %s", {pathToUtf8(stringsXml)});
        return hr;
    }
    const XmlElement* root = strings.documentNode()->next();
    if (!isElement(root, "ROOT")) return refuse(__LINE__, kFail, "STRINGS.XML 的根元素必须是 ROOT。");
    const std::string original(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    const std::size_t footer = original.rfind(kStringsXmlFooter);
    if (footer == std::string::npos)
        return refuse(__LINE__, kFail, "STRINGS.XML 没有结束标记 %s。", {std::string(kStringsXmlFooter)});

    const bool rewrite = defaultAfter != defaultBefore;
    std::string existing;
    std::string copied;
    for (const XmlElement* element = root->firstChild(); element; element = element->next()) {
        if (!isElement(element, "E")) continue;
        const auto id = integerAttribute(element, "ID");
        // Lines the compile drops stay as they are (and are dropped again) unless the file is rewritten.
        if (!id || *id < 0 || *id > 0xFFFF) continue;
        const auto language = integerAttribute(element, "L");
        const XmlAttribute* text = XmlDocument::FindAttribute(element, "S");
        const std::string value = text ? text->value() : std::string();
        const std::uint16_t lineLanguage = language && *language >= 0 && *language <= 0xFFFF
                                               ? static_cast<std::uint16_t>(*language)
                                               : defaultBefore;
        if (rewrite) appendStringsLine(existing, static_cast<std::int32_t>(*id), lineLanguage, value);
        if (lineLanguage != source) continue;
        appendStringsLine(copied, static_cast<std::int32_t>(*id), target, value);
        ++out.lines;
    }
    if (rewrite) {
        out.text = std::string(kStringsXmlHeader) + existing + copied + std::string(kStringsXmlFooter);
    } else {
        out.text = original;
        out.text.insert(footer, copied);
    }
    return kOk;
}

// The language of the first string block entry that names a file: the language of STRINGS.XML's
// lines without L.
std::optional<std::uint16_t> defaultStringLanguage(const XmlDocument& description) {
    for (XmlElement* entry : ListResourceEntries(description, ResourceKey::ofId(resource_type::kString))) {
        if (!DescribedFile(entry).fileElement()) continue;
        if (auto resource = locate(description, entry)) return resource->language;
    }
    return std::nullopt;
}

// Copies the attributes of a File element that PlannedFile does not set (Tail, CodePage and the like).
bool copyFileAttributes(XmlDocument& description, const XmlElement* from, XmlElement* to) {
    if (!from || !to) return true;
    for (XmlAttribute* attribute = from->firstAttribute(); attribute; attribute = attribute->next()) {
        if (iequalsAscii(attribute->name(), "Name") || iequalsAscii(attribute->name(), "Size")) continue;
        if (XmlDocument::FindAttribute(to, attribute->name())) continue;
        const std::string name(attribute->name());
        description.SetCurrent(to);
        if (!description.SetCurrentAttribute(name, attribute->value())) return false;
    }
    return true;
}

}  // namespace

HResult AddLanguage(XmlDocument& description, const std::filesystem::path& folder, std::uint16_t source,
                    std::uint16_t target, LanguageCopy& result) {
    result = {};
    DescriptionEditor editor(description, folder);
    if (HResult hr = editor.requireRoot(__LINE__); hr.failed()) return hr;
    if (source == target) return refuse(__LINE__, kInvalidArg, "新语言 %d 与源语言相同。", {int{target}});

    struct Copy {
        DescribedResource resource;
        XmlElement* entry = nullptr;
        std::optional<std::size_t> file;  // index into the planned files
    };
    std::vector<Copy> copies;
    std::vector<PlannedFile> files;
    NameChooser names(description, folder, {});
    bool anyOfSource = false;
    for (XmlElement* entry : ListResourceEntries(description)) {
        const auto resource = locate(description, entry);
        if (!resource) continue;
        const bool strings = isNumericType(resource->type, resource_type::kString);
        if (resource->language != source) continue;
        anyOfSource = true;
        if (isNumericType(resource->type, resource_type::kBitmap)) {
            ++result.bitmapsLeft;
            continue;
        }
        if (FindResourceEntry(description, resource->type, resource->name, target))
            return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists), "资源 (%s) 已经存在。",
                          {resourceText(resource->type, resource->name, target)});
        Copy copy{*resource, entry, std::nullopt};
        const DescribedFile file(entry);
        if (file.fileElement() && !strings) {
            const std::optional<std::string> name = file.storedName();
            fs::path path;
            std::vector<std::byte> bytes;
            if (!name || resolveStored(folder, *name, path).failed())
                return refuse(__LINE__, kFail, "资源 (%s) 的文件名无效。",
                              {resourceText(resource->type, resource->name, source)});
            if (HResult hr = readSource(path, bytes); hr.failed()) return hr;
            PlannedFile planned;
            planned.storedName = names.choose(
                storedResourceFileName(importFileName(resource->type, resource->name)), target, false);
            planned.size = bytes.size();
            planned.bytes = std::move(bytes);
            copy.file = files.size();
            files.push_back(std::move(planned));
        }
        copies.push_back(std::move(copy));
    }
    if (!anyOfSource) return refuse(__LINE__, kInvalidArg, "没有语言为 %d 的资源。", {int{source}});

    const bool copiesStrings = std::any_of(copies.begin(), copies.end(), [](const Copy& copy) {
        return isNumericType(copy.resource.type, resource_type::kString);
    });
    const std::uint16_t defaultBefore = defaultStringLanguage(description).value_or(kDefaultStringLanguage);
    fs::path stringsPath;
    StringsCopy strings;
    if (copiesStrings) {
        // Read before anything is written: a STRINGS.XML that cannot be read stops the copy while
        // the folder is untouched.
        if (HResult hr = resolveStored(folder, kStringsFileName, stringsPath); hr.failed())
            return ReportError(true, kSource, __LINE__, hr);
        if (HResult hr = copyStrings(stringsPath, source, defaultBefore, defaultBefore, target, strings);
            hr.failed())
            return hr;
    }

    if (HResult hr = writePlannedFiles(folder, files, nullptr); hr.failed()) return hr;
    std::vector<XmlElement*> added;
    // Takes the copy back: its entries leave the description and its files the folder.
    auto undo = [&](int line, HResult hr) {
        for (auto entry = added.rbegin(); entry != added.rend(); ++entry)
            (void)editor.removeLanguage(*entry);
        for (const PlannedFile& file : files) {
            fs::path path;
            if (resolveStored(folder, file.storedName, path).succeeded()) (void)RemoveFileIfPresent(path);
        }
        result = {};
        return ReportError(false, kSource, line, hr);
    };
    for (const Copy& copy : copies) {
        const XmlElement* sourceFile = DescribedFile(copy.entry).fileElement();
        PlannedFile stringsFile;
        const PlannedFile* planned = nullptr;
        if (copy.file) {
            planned = &files[*copy.file];
        } else if (sourceFile) {
            // A string block names STRINGS.XML with its lines' size, as the import describes it.
            const DescribedFile source(copy.entry);
            stringsFile.storedName = source.storedName().value_or(std::string(kStringsFileName));
            stringsFile.size = static_cast<std::uint64_t>(source.size().value_or(0));
            planned = &stringsFile;
        }
        XmlElement* entry = nullptr;
        if (HResult hr = editor.addLanguage(copy.resource.type, copy.resource.name, target, planned, entry);
            hr.failed()) {
            if (entry) added.push_back(entry);
            RecordError(true, kSource, __LINE__, hr);
            return undo(__LINE__, hr);
        }
        added.push_back(entry);
        if (!copyFileAttributes(description, sourceFile, DescribedFile(entry).fileElement())) {
            RecordError(true, kSource, __LINE__, kOutOfMemory);
            return undo(__LINE__, kOutOfMemory);
        }
        if (!result.first) result.first = entry;
        if (isNumericType(copy.resource.type, resource_type::kString)) {
            ++result.stringBlocks;
        } else {
            ++result.resources;
        }
    }

    if (copiesStrings) {
        const std::uint16_t defaultAfter =
            defaultStringLanguage(description).value_or(kDefaultStringLanguage);
        HResult hr = kOk;
        if (defaultAfter != defaultBefore)
            hr = copyStrings(stringsPath, source, defaultBefore, defaultAfter, target, strings);
        if (hr.failed()) return undo(__LINE__, hr);
        result.strings = strings.lines;
        if (hr = WriteFileAtomic(stringsPath, std::string_view(strings.text)); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能建立文件 %s", {pathToUtf8(stringsPath)});
            return undo(__LINE__, hr);
        }
    }
    if (result.first) description.SetCurrent(result.first);
    return kOk;
}

// --- Renaming and moving a resource ---------------------------------------------------------------

namespace {

// An attribute of a File element as text (empty when missing).
std::string attributeText(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    return attribute != nullptr ? attribute->value() : std::string();
}

// One language Entry that moves, with its file's old and new stored names.
struct EntryMove {
    XmlElement* entry = nullptr;
    DescribedResource to;
    std::string oldName;  // empty: the entry has no file
    std::string newName;
    bool pngSibling = false;  // a bitmap kept as PNG: the PNG beside the name moves too
};

// Renames the files of `moves` (the PNG of a bitmap kept as one); on failure the files renamed
// before get their names back.
HResult renameFiles(const fs::path& folder, const std::vector<EntryMove>& moves) {
    std::vector<std::pair<fs::path, fs::path>> done;
    auto undo = [&] {
        for (auto it = done.rbegin(); it != done.rend(); ++it) {
            std::error_code ignored;
            fs::rename(it->second, it->first, ignored);
        }
    };
    for (const EntryMove& move : moves) {
        if (move.oldName.empty() || iequalsAscii(move.oldName, move.newName)) continue;
        const std::string from = move.pngSibling ? pngSiblingName(move.oldName) : move.oldName;
        const std::string to = move.pngSibling ? pngSiblingName(move.newName) : move.newName;
        fs::path source, target;
        std::error_code error;
        if (resolveStored(folder, from, source).failed() || resolveStored(folder, to, target).failed() ||
            CreateFolderPath(target.parent_path()).failed()) {
            undo();
            return refuse(__LINE__, kFail, "未能建立文件 %s", {pathToUtf8(folder / to)});
        }
        if (!fs::exists(source, error)) continue;  // a missing file stays missing; the compile says so
        fs::rename(source, target, error);
        if (error) {
            undo();
            return refuse(__LINE__, kFail, "未能建立文件 %s", {pathToUtf8(target)});
        }
        done.emplace_back(source, target);
    }
    return kOk;
}

}  // namespace

HResult MoveResource(XmlDocument& description, const std::filesystem::path& folder, XmlElement* languageEntry,
                     const ResourceKey& name, std::uint16_t language, XmlElement*& moved) {
    moved = nullptr;
    DescriptionEditor editor(description, folder);
    if (HResult hr = editor.requireRoot(__LINE__); hr.failed()) return hr;
    const std::optional<DescribedResource> from = locate(description, languageEntry);
    if (!from) return refuse(__LINE__, kInvalidArg, "所选项不是一个资源。");
    if (isNumericType(from->type, resource_type::kString))
        return refuse(__LINE__, kInvalidArg, "字串表的编号和语言由 STRINGS.XML 决定，不能在这里更改。");
    if (name.isName && name.name.empty()) return refuse(__LINE__, kInvalidArg, "资源名称不能是空的。");
    if (sameKey(from->name, name) && from->language == language) {
        moved = languageEntry;
        return kFalse;
    }
    auto clash = [&](const ResourceKey& type, const ResourceKey& to, std::uint16_t toLanguage,
                     const XmlElement* self) {
        const XmlElement* there = FindResourceEntry(description, type, to, toLanguage);
        return there != nullptr && there != self;
    };
    if (clash(from->type, name, language, languageEntry))
        return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists), "资源 (%s) 已经存在。",
                      {resourceText(from->type, name, language)});
    if (isNumericType(from->type, resource_type::kBitmap)) {
        for (XmlElement* other :
             entriesOf(subdirectoryOf(findEntry(editor.typeDirectory(from->type), name)))) {
            if (other != languageEntry)
                return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists),
                              "位图 %s 已经有一种语言；每个位图只能保存一种语言。", {keyText(name)});
        }
    }

    std::vector<EntryMove> moves{{languageEntry, {from->type, name, language}, {}, {}, false}};
    // A group in another language finds its members in that language: those no other group uses
    // go along.
    if (isGroupType(from->type) && from->language != language) {
        const std::uint16_t memberType =
            from->type.id == resource_type::kGroupCursor ? resource_type::kCursor : resource_type::kIcon;
        std::vector<std::uint16_t> ids;
        const std::vector<std::byte> data = editor.fileBytes(languageEntry);
        for (const GroupEntry& entry : ParseGroupEntries(asBytes(data)))
            ids.push_back(entry.id);
        const std::vector<GroupUse> others = editor.groups(from->type.id, languageEntry);
        for (XmlElement* member : editor.unusedMembers(memberType, from->language, ids, others)) {
            const std::optional<DescribedResource> described = locate(description, member);
            if (!described || described->language != from->language) continue;
            if (clash(described->type, described->name, language, member))
                return refuse(__LINE__, hresultFromWin32(win32::kAlreadyExists), "资源 (%s) 已经存在。",
                              {resourceText(described->type, described->name, language)});
            moves.push_back({member, {described->type, described->name, language}, {}, {}, false});
        }
    }

    std::unordered_set<const XmlElement*> leaving;
    for (const EntryMove& move : moves)
        leaving.insert(move.entry);
    NameChooser names(description, folder, leaving);
    for (EntryMove& move : moves) {
        const XmlElement* file = childNamed(move.entry, "File");
        if (file == nullptr) continue;
        move.oldName = attributeText(file, "Name");
        if (move.oldName.empty()) continue;
        move.pngSibling =
            isNumericType(move.to.type, resource_type::kBitmap) && attributeText(file, "Png") == "1";
        move.newName = names.choose(storedResourceFileName(importFileName(move.to.type, move.to.name)),
                                    move.to.language, move.pngSibling);
    }
    if (HResult hr = renameFiles(folder, moves); hr.failed()) return hr;

    for (const EntryMove& move : moves) {
        const XmlElement* oldFile = childNamed(move.entry, "File");
        PlannedFile planned;
        planned.storedName = move.newName;
        planned.size = static_cast<std::uint64_t>(integerAttribute(oldFile, "Size").value_or(0));
        XmlElement* added = nullptr;
        HResult hr =
            editor.addLanguage(move.to.type, move.to.name, move.to.language,
                               oldFile != nullptr && !move.oldName.empty() ? &planned : nullptr, added);
        if (hr.succeeded() && !copyFileAttributes(description, oldFile, childNamed(added, "File")))
            hr = kOutOfMemory;
        if (hr.succeeded()) hr = editor.removeLanguage(move.entry);
        if (hr.failed()) return ReportError(true, kSource, __LINE__, hr);
        if (moved == nullptr) moved = added;
    }
    description.SetCurrent(moved);
    return kOk;
}

// --- Replacing a resource's file -------------------------------------------------------------------

namespace {

std::string extensionText(const fs::path& path) {
    return extensionOf(pathToUtf8(path.filename()));
}

}  // namespace

std::optional<FileReplacement> PlanFileReplacement(const XmlDocument& description,
                                                   const XmlElement* fileElement,
                                                   const std::filesystem::path& folder,
                                                   const std::filesystem::path& current,
                                                   const std::filesystem::path& chosen) {
    if (current.empty() || chosen.empty()) return std::nullopt;
    if (chosen == current || IsSameFile(chosen, current)) return std::nullopt;
    const std::optional<DescribedResource> resource =
        fileElement != nullptr ? locate(description, fileElement->parent()) : std::nullopt;
    FileReplacement plan;
    if (resource && isNumericType(resource->type, resource_type::kString)) {
        fs::path strings;
        if (resolveStored(folder, kStringsFileName, strings).failed()) {
            ClearErrorRecord();
            strings = folder / kStringsFileName;
        }
        if (IsSameFile(chosen, strings)) return std::nullopt;
        plan.questions.push_back({FileReplacement::Question::kOverwriteStrings, chosen});
        plan.written = strings;
        plan.shown = strings;
        return plan;
    }

    const std::string chosenExtension = extensionText(chosen);
    if (!iequalsAscii(chosenExtension, extensionText(current)))
        plan.questions.push_back({FileReplacement::Question::kDifferentExtension, {}});
    const fs::path target = current.parent_path() / chosen.filename();
    if (!IsSameFile(chosen, target)) {
        std::error_code error;
        if (fs::exists(target, error) && !IsSameFile(target, current))
            plan.questions.push_back({FileReplacement::Question::kOverwriteOther, target});
        plan.written = target;
    }
    plan.shown = target;
    if (fileElement != nullptr && resource) {
        // The stored name keeps the folder part of the old one ("sub\\name.ext").
        const std::string name = attributeText(fileElement, "Name");
        const std::size_t slash = name.rfind('\\');
        std::string stored = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
        const std::string chosenName = pathToUtf8(chosen.filename());
        const bool png = iequalsAscii(chosenExtension, ".png");
        const bool bitmap = isNumericType(resource->type, resource_type::kBitmap);
        // The compile turns X.png into the bitmap X.BMP: a bitmap entry keeps naming the bitmap.
        stored += chosenName.substr(0, chosenName.size() - chosenExtension.size());
        stored += png && bitmap ? std::string(".BMP") : chosenExtension;
        plan.storedName = stored;
        if (bitmap) plan.png = png;
    }
    return plan;
}

HResult ReplaceResourceFile(XmlDocument& description, XmlElement* fileElement,
                            const std::filesystem::path& chosen, const FileReplacement& plan,
                            const ReplacementQuestion& ask) {
    for (const FileReplacement::Ask& question : plan.questions) {
        if (!ask || !ask(question)) return kFalse;
    }
    if (!plan.written.empty()) {
        std::error_code error;
        // A read-only target is made writable first, as the copy over it expects.
        if (fs::exists(plan.written, error))
            fs::permissions(plan.written, fs::perms::owner_write, fs::perm_options::add, error);
        // Written beside the target and renamed over it: a failed copy leaves the target as it was.
        if (HResult hr = CopyFileAtomic(chosen, plan.written); hr.failed()) {
            return refuse(__LINE__, hr, "复制 '%s' 文件到 '%s' 的时候发生错误。",
                          {pathToUtf8(chosen), pathToUtf8(plan.written)});
        }
    }
    if (fileElement != nullptr && (plan.storedName || plan.png)) {
        XmlElement* previous = description.SetCurrent(fileElement);
        if (plan.storedName) description.SetCurrentAttribute("Name", *plan.storedName);
        if (plan.png) description.SetCurrentAttribute("Png", *plan.png ? "1" : "0");
        description.SetCurrent(previous);
    }
    return kOk;
}

}  // namespace kestrel
