#include "core/pe/one_shot_edit.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <system_error>

#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/pe/decompile_file.h"
#include "core/pe/described_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/exe_dump.h"
#include "core/pe/manifest_edit.h"
#include "core/pe/memory_folder.h"
#include "core/pe/pe_image.h"
#include "core/pe/pe_layout.h"
#include "core/pe/res_compiler.h"
#include "core/pe/resource_types.h"
#include "core/pe/section_names.h"
#include "core/pe/string_compile.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kSource = "Edit";
constexpr std::uint16_t kUnicodeCodePage = 1200;
constexpr std::uint16_t kNewResourceId = 1;

// The resource files of the working folder: held in memory by the resources-only route (the
// folder on disk then has the headers only), in the folder itself for the whole import.
struct WorkFiles {
    fs::path folder;
    MemoryFolder* memory = nullptr;

    // The file `stored`; `path` names it in messages.
    HResult read(std::string_view stored, fs::path& path, std::vector<std::byte>& bytes) const {
        if (HResult hr = memory ? exactStoredPath(folder, stored, path) : resolveStored(folder, stored, path);
            hr.failed())
            return hr;
        if (!memory) return ReadWholeFile(path, bytes);
        const HeldBytes* held = memory->find(stored);
        if (!held) return hresultFromWin32(win32::kFileNotFound);
        bytes.assign(held->bytes.begin(), held->bytes.end());
        return kOk;
    }
    bool exists(std::string_view stored) const {
        if (memory) return memory->contains(stored);
        fs::path path;
        std::error_code error;
        return resolveStored(folder, stored, path).succeeded() && fs::exists(path, error);
    }
    // Reports a failure to write.
    HResult write(std::string_view stored, Bytes bytes) const {
        if (memory) {
            memory->put(stored, std::vector<std::byte>(bytes.begin(), bytes.end()));
            return kOk;
        }
        fs::path path;
        HResult hr = resolveStored(folder, stored, path);
        if (hr.succeeded()) hr = WriteFileAtomic(path, bytes);
        if (hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能写入文件 %s",
                          {pathToUtf8(folder / std::string(stored))});
        }
        return hr;
    }
};

// The stored name of a language entry's file; empty when it has none.
std::string storedFileName(const XmlElement* languageEntry) {
    return DescribedFile(languageEntry).storedName().value_or(std::string());
}

std::uint16_t languageOf(const XmlDocument& description, const XmlElement* languageEntry) {
    auto described = DescribeResourceEntry(description, languageEntry);
    return described ? described->language : resource_language::kUsEnglish;
}

// The version resource as FindVersionResource picks it in an image: name ID 1, else the first name,
// in its first language (whose language is the file's; the edits go to every language of the name).
XmlElement* versionEntry(const XmlDocument& description) {
    const std::vector<XmlElement*> entries =
        ListResourceEntries(description, ResourceKey::ofId(resource_type::kVersion));
    for (XmlElement* entry : entries) {
        auto described = DescribeResourceEntry(description, entry);
        if (described && described->name == ResourceKey::ofId(1)) return entry;
    }
    return entries.empty() ? nullptr : entries.front();
}

// The language new resources get: the version resource's, else the first resource's.
std::uint16_t fileLanguage(const XmlDocument& description) {
    if (XmlElement* version = versionEntry(description)) return languageOf(description, version);
    const std::vector<XmlElement*> all = ListResourceEntries(description);
    return all.empty() ? resource_language::kUsEnglish : languageOf(description, all.front());
}

HResult isLibrary(const fs::path& folder, bool& library) {
    fs::path path;
    std::vector<std::byte> header;
    if (HResult hr = resolveStored(folder, kNtHeaderFileName, path); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    if (HResult hr = ReadWholeFile(path, header); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    auto characteristics = ByteReader(asBytes(header)).u16(nt_field::kCharacteristics);
    if (!characteristics) return ReportError(true, kSource, __LINE__, kFail);
    library = (*characteristics & kCharacteristicsDll) != 0;
    return kOk;
}

// --- Icon ------------------------------------------------------------------------------------------

// Every language of the first icon group takes the icon file's images, so that the file shows the
// new icon whatever the user's language.
HResult setMainIcon(XmlDocument& description, const WorkFiles& files, const fs::path& iconFile,
                    std::uint16_t language) {
    const ResourceKey groupType = ResourceKey::ofId(resource_type::kGroupIcon);
    const std::vector<XmlElement*> groups = ListResourceEntries(description, groupType);
    if (groups.empty()) {
        XmlElement* added = nullptr;
        return AddResource(description, files.folder, groupType, ResourceKey::ofId(kNewResourceId), language,
                           iconFile, added, files.memory);
    }
    const ResourceKey mainName = DescribeResourceEntry(description, groups.front())->name;
    std::vector<std::uint16_t> languages;
    for (XmlElement* group : groups) {
        auto described = DescribeResourceEntry(description, group);
        if (described->name == mainName) languages.push_back(described->language);
    }
    // Each replacement edits the tree, so every entry is looked up afresh.
    for (std::uint16_t groupLanguage : languages) {
        XmlElement* entry = FindResourceEntry(description, groupType, mainName, groupLanguage);
        if (HResult hr = ReplaceGroupFromIconFile(description, files.folder, entry, iconFile, files.memory);
            hr.failed())
            return hr;
    }
    return kOk;
}

// --- Version ---------------------------------------------------------------------------------------

bool touchesVersion(const ResourceEdits& edits) {
    return edits.fileVersion || edits.productVersion || !edits.versionStrings.empty();
}

HResult readVersion(const WorkFiles& files, const XmlElement* entry, VersionInfo& info) {
    const std::string stored = storedFileName(entry);
    std::vector<std::byte> bytes;
    fs::path path;
    HResult hr = stored.empty() ? kFail : files.read(stored, path, bytes);
    if (hr.succeeded()) hr = ParseVersionInfo(asBytes(bytes), info);
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "版本资源 (文件 '%s') 是空的或无法读取。", {stored});
    }
    return hr;
}

void applyVersionEdits(VersionInfo& info, const ResourceEdits& edits, bool created, std::uint32_t fileType) {
    if (edits.fileVersion || edits.productVersion) {
        std::optional<FixedFileInfo> fixed = GetFixedFileInfo(info);
        if (!fixed) {
            fixed = GetFixedFileInfo(MakeMinimalVersionInfo(resource_language::kUsEnglish));
            fixed->fileType = fileType;
        }
        if (edits.fileVersion) fixed->setFileVersion(edits.fileVersion->number);
        if (edits.productVersion) fixed->setProductVersion(edits.productVersion->number);
        SetFixedFileInfo(info, *fixed);
    }
    // The text beside the numbers follows them in every table that shows it; a table that had no
    // such string is not given one, except in a resource made here.
    const MissingVersionString missing = created ? MissingVersionString::kAdd : MissingVersionString::kSkip;
    auto setText = [&](const std::optional<VersionEdit>& edit, std::u16string_view key) {
        if (edit) SetVersionStringInEveryTable(info, key, utf8ToUtf16(edit->text), missing);
    };
    setText(edits.fileVersion, u"FileVersion");
    setText(edits.productVersion, u"ProductVersion");
    for (const auto& [key, value] : edits.versionStrings)
        SetVersionStringInEveryTable(info, key, value);
}

// The version resource of `entry` takes `info`; without an entry, `info` is written to `source` on
// disk, from which a new resource is added.
HResult writeVersion(XmlDocument& description, const WorkFiles& files, XmlElement* entry,
                     const fs::path& source, const VersionInfo& info) {
    std::vector<std::byte> bytes;
    if (HResult hr = WriteVersionInfo(info, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "版本资源超过 65535 字节。");
        return hr;
    }
    if (!entry) {
        if (HResult hr = WriteFileAtomic(source, asBytes(bytes)); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能写入文件 %s", {pathToUtf8(source)});
            return hr;
        }
        return kOk;
    }
    if (HResult hr = files.write(storedFileName(entry), asBytes(bytes)); hr.failed()) return hr;
    if (!DescribedFile(entry).setSize(description, bytes.size()))
        return ReportError(true, kSource, __LINE__, kOutOfMemory);
    return kOk;
}

// Every language of the version resource gets the same edits: a viewer shows the one that
// matches the user's language, and all of them must show the new version.
HResult setVersion(XmlDocument& description, const WorkFiles& files, const fs::path& scratch,
                   const ResourceEdits& edits, std::uint16_t language) {
    bool library = false;
    if (HResult hr = isLibrary(files.folder, library); hr.failed()) return hr;
    const std::uint32_t fileType = library ? kVersionFileTypeDll : kVersionFileTypeApp;
    const ResourceKey versionType = ResourceKey::ofId(resource_type::kVersion);

    if (XmlElement* chosen = versionEntry(description)) {
        const ResourceKey name = DescribeResourceEntry(description, chosen)->name;
        std::vector<std::uint16_t> languages;
        for (XmlElement* entry : ListResourceEntries(description, versionType)) {
            auto described = DescribeResourceEntry(description, entry);
            if (described && described->name == name) languages.push_back(described->language);
        }
        for (std::uint16_t versionLanguage : languages) {
            XmlElement* entry = FindResourceEntry(description, versionType, name, versionLanguage);
            VersionInfo info;
            if (HResult hr = readVersion(files, entry, info); hr.failed()) return hr;
            applyVersionEdits(info, edits, false, fileType);
            if (HResult hr = writeVersion(description, files, entry, {}, info); hr.failed()) return hr;
        }
        return kOk;
    }

    VersionInfo info = MakeMinimalVersionInfo(language, kUnicodeCodePage);
    FixedFileInfo fixed = *GetFixedFileInfo(info);
    fixed.fileType = fileType;
    SetFixedFileInfo(info, fixed);
    applyVersionEdits(info, edits, true, fileType);
    // The new resource is added from a file of its own, under the import's name for it.
    const fs::path source = scratch / "VERSION";
    if (HResult hr = writeVersion(description, files, nullptr, source, info); hr.failed()) return hr;
    XmlElement* added = nullptr;
    return AddResource(description, files.folder, versionType, ResourceKey::ofId(kNewResourceId), language,
                       source, added, files.memory);
}

// --- String table ------------------------------------------------------------------------------------

struct StringLine {
    std::int64_t id = 0;
    std::optional<std::uint16_t> language;  // the L attribute
    std::string text;                       // UTF-8, unescaped
};

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    std::int64_t value = 0;
    if (!attribute || !parseInt(attribute->value(), value)) return std::nullopt;
    return value;
}

// The E elements of STRINGS.XML. Elements the compile drops (no usable ID, another name) are left
// out, which changes nothing in the compiled table.
HResult readStringLines(const WorkFiles& files, std::vector<StringLine>& lines) {
    fs::path path;
    std::vector<std::byte> bytes;
    XmlDocument document;
    HResult hr = files.read(kStringsFileName, path, bytes);
    // An empty file cannot be read, as on disk.
    if (hr.succeeded())
        hr =
            bytes.empty() ? kFail : document.Parse(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(path)});
    }
    const XmlElement* root = document.documentNode()->next();
    for (const XmlElement* element = root ? root->firstChild() : nullptr; element;
         element = element->next()) {
        auto id = integerAttribute(element, "ID");
        if (!iequalsAscii(element->name(), "E") || !id || *id < 0 || *id > 0xFFFF) continue;
        StringLine line;
        line.id = *id;
        if (auto language = integerAttribute(element, "L"); language && *language >= 0 && *language <= 0xFFFF)
            line.language = static_cast<std::uint16_t>(*language);
        if (const XmlAttribute* text = XmlDocument::FindAttribute(element, "S")) line.text = text->value();
        lines.push_back(std::move(line));
    }
    return kOk;
}

// Sets string `id` of the lines whose language is `language` (nullopt: the lines without L); the
// compile keeps the IDs of a language only in ascending order, so a new line goes before the
// first greater ID of that language.
void setStringLine(std::vector<StringLine>& lines, std::optional<std::uint16_t> language, std::uint16_t id,
                   std::string text) {
    auto sameLanguage = [&](const StringLine& line) { return line.language == language; };
    auto same = std::find_if(lines.begin(), lines.end(),
                             [&](const StringLine& line) { return sameLanguage(line) && line.id == id; });
    if (same != lines.end()) {
        if (text.empty()) {
            lines.erase(same);
        } else {
            same->text = std::move(text);
        }
        return;
    }
    if (text.empty()) return;
    auto after = std::find_if(lines.begin(), lines.end(),
                              [&](const StringLine& line) { return sameLanguage(line) && line.id > id; });
    lines.insert(after, StringLine{id, language, std::move(text)});
}

HResult setStrings(XmlDocument& description, const WorkFiles& files, const ResourceEdits& edits,
                   std::uint16_t fileLanguage) {
    // The compile gives lines without L the language of the first block the description names
    // with a file (without one, the default string language).
    const std::vector<XmlElement*> blocks =
        ListResourceEntries(description, ResourceKey::ofId(resource_type::kString));
    auto firstWithFile = std::find_if(blocks.begin(), blocks.end(), [](const XmlElement* entry) {
        return DescribedFile(entry).fileElement() != nullptr;
    });
    std::optional<std::uint16_t> plainLanguage;
    if (firstWithFile != blocks.end()) plainLanguage = languageOf(description, *firstWithFile);
    // Without a choice, strings go where the file's own strings are: the first block's language,
    // the one the compile has given the plain lines so far, or for a file without string tables
    // the file's language.
    const std::uint16_t language = edits.stringLanguage.value_or(plainLanguage    ? *plainLanguage
                                                                 : blocks.empty() ? fileLanguage
                                                                                  : kDefaultStringLanguage);
    // A block described below in another language can come first (its block number or its
    // language sorts lower) and so would take the plain lines: then every line carries its language.
    const bool allLinesWithLanguage = plainLanguage != language;
    const std::optional<std::uint16_t> lineLanguage =
        allLinesWithLanguage ? std::optional(language) : std::nullopt;

    std::vector<StringLine> lines;
    if (files.exists(kStringsFileName))
        if (HResult hr = readStringLines(files, lines); hr.failed()) return hr;
    if (allLinesWithLanguage) {
        for (StringLine& line : lines)
            if (!line.language) line.language = plainLanguage.value_or(kDefaultStringLanguage);
    }
    for (const auto& [id, text] : edits.strings)
        setStringLine(lines, lineLanguage, id, utf16ToUtf8(text));

    std::string file(kStringsXmlHeader);
    std::map<std::uint16_t, std::uint64_t> blockSizes;  // of the lines of `language`
    for (const StringLine& line : lines) {
        const std::size_t before = file.size();
        appendStringsLine(file, static_cast<std::int32_t>(line.id), line.language, line.text);
        if (line.language == lineLanguage)
            blockSizes[static_cast<std::uint16_t>(line.id / 16 + 1)] += file.size() - before;
    }
    file += kStringsXmlFooter;
    if (HResult hr = files.write(kStringsFileName, asBytes(std::string_view(file))); hr.failed()) return hr;
    // The compile only writes a string table when the description has the type; blocks are named
    // as the import would name them in the compiled file.
    for (const auto& [id, text] : edits.strings) {
        const auto block = static_cast<std::uint16_t>(id / 16 + 1);
        if (text.empty() || !blockSizes.count(block)) continue;
        if (HResult hr = DescribeStringBlock(description, block, language, blockSizes[block]); hr.failed())
            return hr;
    }
    return kOk;
}

// --- Resources taken as bytes: manifests and RCDATA ----------------------------------------------

// The language entries of (type, name) in the description's order.
std::vector<std::uint16_t> languagesOf(const XmlDocument& description, const ResourceKey& type,
                                       const ResourceKey& name) {
    std::vector<std::uint16_t> languages;
    for (XmlElement* entry : ListResourceEntries(description, type)) {
        auto described = DescribeResourceEntry(description, entry);
        if (described && described->name == name) languages.push_back(described->language);
    }
    return languages;
}

HResult readStoredBytes(const WorkFiles& files, const XmlElement* entry, std::vector<std::byte>& bytes) {
    const std::string stored = storedFileName(entry);
    fs::path path;
    HResult hr = stored.empty() ? kFail : files.read(stored, path, bytes);
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {stored});
    }
    return kOk;
}

// The resource of `entry` takes `bytes`: its file in the folder is rewritten and its size noted.
HResult replaceStoredBytes(XmlDocument& description, const WorkFiles& files, XmlElement* entry, Bytes bytes) {
    const std::string stored = storedFileName(entry);
    if (stored.empty()) return ReportError(true, kSource, __LINE__, kFail);
    if (HResult hr = files.write(stored, bytes); hr.failed()) return hr;
    if (!DescribedFile(entry).setSize(description, bytes.size()))
        return ReportError(true, kSource, __LINE__, kOutOfMemory);
    return kOk;
}

// Every language of (type, name) takes the bytes of `source`; without any, the resource is added
// in `language` from `source`.
HResult setBytesResource(XmlDocument& description, const WorkFiles& files, const ResourceKey& type,
                         const ResourceKey& name, std::uint16_t language, const fs::path& source) {
    const std::vector<std::uint16_t> languages = languagesOf(description, type, name);
    if (languages.empty()) {
        XmlElement* added = nullptr;
        return AddResource(description, files.folder, type, name, language, source, added, files.memory);
    }
    std::vector<std::byte> bytes;
    if (HResult hr = ReadWholeFile(source, bytes); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(source)});
    }
    for (std::uint16_t existing : languages) {
        XmlElement* entry = FindResourceEntry(description, type, name, existing);
        if (HResult hr = replaceStoredBytes(description, files, entry, asBytes(bytes)); hr.failed())
            return hr;
    }
    return kOk;
}

// The application manifest as the loader picks it: ID 1, else the first name.
std::optional<ResourceKey> applicationManifestName(const XmlDocument& description) {
    const ResourceKey manifestType = ResourceKey::ofId(resource_type::kManifest);
    const std::vector<XmlElement*> entries = ListResourceEntries(description, manifestType);
    if (entries.empty()) return std::nullopt;
    if (!languagesOf(description, manifestType, ResourceKey::ofId(1)).empty()) return ResourceKey::ofId(1);
    return DescribeResourceEntry(description, entries.front())->name;
}

HResult setExecutionLevel(XmlDocument& description, const WorkFiles& files, const fs::path& scratch,
                          const std::string& level, std::uint16_t language) {
    const ResourceKey manifestType = ResourceKey::ofId(resource_type::kManifest);
    const std::optional<ResourceKey> name = applicationManifestName(description);
    if (!name) {
        const fs::path source = scratch / "MANIFEST";
        if (HResult hr = WriteFileAtomic(source, std::string_view(MakeMinimalManifest(level))); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能写入文件 %s", {pathToUtf8(source)});
            return hr;
        }
        XmlElement* added = nullptr;
        return AddResource(description, files.folder, manifestType, ResourceKey::ofId(kNewResourceId),
                           language, source, added, files.memory);
    }
    for (std::uint16_t manifestLanguage : languagesOf(description, manifestType, *name)) {
        XmlElement* entry = FindResourceEntry(description, manifestType, *name, manifestLanguage);
        std::vector<std::byte> bytes;
        if (HResult hr = readStoredBytes(files, entry, bytes); hr.failed()) return hr;
        std::string text(bytes.size(), '\0');
        std::memcpy(text.data(), bytes.data(), bytes.size());
        const std::optional<std::string> edited = SetRequestedExecutionLevel(text, level);
        if (!edited) {
            RecordError(true, kSource, __LINE__, kFail);
            ReportMessage(false, kSource, __LINE__, "清单 (文件 '%s') 不是格式正确的 XML，无法设置执行级别。",
                          {storedFileName(entry)});
            return kFail;
        }
        if (HResult hr = replaceStoredBytes(description, files, entry, asBytes(std::string_view(*edited)));
            hr.failed())
            return hr;
    }
    return kOk;
}

// --- The whole run ---------------------------------------------------------------------------------

// The resources of `image` (the bytes of `peFile`) into `folder` with the headers: the sections and
// the overlay stay in `image`, from which the compile copies them. The resource files are named as
// the whole import names them, so both routes describe the resources alike.
HResult importResources(const fs::path& peFile, Bytes image, const fs::path& folder, MemoryFolder& files,
                        std::string& description) {
    if (HResult hr = CreateFolderPath(folder); hr.failed()) {
        hr = ReportError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能建立目录 %s", {pathToUtf8(folder)});
        return hr;
    }
    if (image.size() < 2 || image[0] != std::byte{'M'} || image[1] != std::byte{'Z'}) {
        ReportMessage(true, kSource, __LINE__, "文件 %s 的格式无法被识别。", {pathToUtf8(peFile)});
        return kFail;
    }
    auto dump = std::make_unique<CExeDump>();
    dump->switches().sectionData = false;
    dump->switches().peXml = false;
    dump->setMemoryFolder(&files);
    dump->reserveFileName(pathToUtf8(peFile.stem()) + ".kestrel");
    if (HResult hr = dump->Dump(image, folder, kDescriptionFileName); hr.failed())
        return ReportError(false, kSource, __LINE__, hr);
    description = dump->xmlText();
    return kOk;
}

HResult editInTemporaryFolder(const fs::path& peFile, const fs::path& destination, const ResourceEdits& edits,
                              EditRoute route, std::optional<Bytes> given) {
    TemporaryFolder temporary;
    if (HResult hr = temporary.create("kestrel-edit-"); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能建立临时目录。");
        return hr;
    }
    const fs::path folder = temporary.path() / "work";
    fs::path projectPath;
    PartialFileImage read;
    std::vector<std::byte> whole;
    if (route == EditRoute::kResourcesOnly && !given && !CanReplaceOpenFile() &&
        IsSameFile(peFile, destination)) {
        // The edit replaces its own input, and this system cannot rename over a file that is still
        // open: read it whole and close it, instead of copying its sections from the open file.
        if (HResult hr = ReadWholeFile(peFile, whole); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(peFile)});
        }
        given = Bytes(whole.data(), whole.size());
    }
    if (route == EditRoute::kResourcesOnly && !given) {
        if (HResult hr = readHeadersAndResources(peFile, read); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(peFile)});
        }
    }
    const Bytes original = given ? *given : read.bytes();
    // The resources-only route keeps the resource files and the description in memory: the
    // folder gets the header files only.
    MemoryFolder memory;
    std::string descriptionText;
    const WorkFiles files{folder, route == EditRoute::kResourcesOnly ? &memory : nullptr};
    {
        NotesDropped quiet;
        HResult hr = route == EditRoute::kResourcesOnly
                         ? importResources(peFile, original, folder, memory, descriptionText)
                         : DecompileFile(peFile, folder, projectPath);
        if (hr.failed()) return hr;
    }

    const fs::path descriptionPath = folder / std::string(kDescriptionFileName);
    XmlDocument description;
    if (HResult hr =
            files.memory ? description.Parse(descriptionText) : description.LoadFile(descriptionPath);
        hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(descriptionPath)});
    }
    const std::uint16_t language = fileLanguage(description);
    if (edits.iconFile) {
        if (HResult hr = setMainIcon(description, files, *edits.iconFile, language); hr.failed()) return hr;
    }
    if (touchesVersion(edits))
        if (HResult hr = setVersion(description, files, temporary.path(), edits, language); hr.failed())
            return hr;
    if (!edits.strings.empty())
        if (HResult hr = setStrings(description, files, edits, language); hr.failed()) return hr;
    if (edits.manifestFile)
        if (HResult hr = setBytesResource(description, files, ResourceKey::ofId(resource_type::kManifest),
                                          ResourceKey::ofId(kNewResourceId), language, *edits.manifestFile);
            hr.failed())
            return hr;
    if (edits.executionLevel)
        if (HResult hr =
                setExecutionLevel(description, files, temporary.path(), *edits.executionLevel, language);
            hr.failed())
            return hr;
    for (const auto& [id, source] : edits.rcData)
        if (HResult hr = setBytesResource(description, files, ResourceKey::ofId(resource_type::kRcData),
                                          ResourceKey::ofId(id), language, source);
            hr.failed())
            return hr;
    if (HResult hr = files.memory ? kOk : description.SaveFile(); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {pathToUtf8(descriptionPath)});
    }

    // The compile writes the target itself: under a temporary name in the target's folder, renamed
    // over it only when complete.
    CResCompiler compiler;
    compiler.setWorkingFolder(folder);
    compiler.setOutputName(destination);
    compiler.setTrace([](std::string_view) {});
    if (route == EditRoute::kResourcesOnly) {
        compiler.setMemoryFolder(&memory);
        compiler.setDescription(&description);
        if (given) {
            compiler.setSourceImage(original);
        } else {
            compiler.setSourceImage(original, read.file());
        }
    }
    if (HResult hr = compiler.Compile(descriptionPath); hr.failed()) {
        RecordError(false, kSource, __LINE__, msg::kCompileFailed, {pathToUtf8(destination)});
        return hr;
    }
    return kOk;
}

}  // namespace

HResult EditResources(const std::filesystem::path& peFile, const std::filesystem::path& output,
                      const ResourceEdits& edits) {
    return EditResources(peFile, output, edits, EditRoute::kResourcesOnly);
}

namespace {

HResult edit(const fs::path& peFile, const fs::path& output, const ResourceEdits& edits, EditRoute route,
             std::optional<Bytes> original) {
    const fs::path destination = EditDestination(peFile, output);
    HResult hr = editInTemporaryFolder(peFile, destination, edits, route, original);
    if (hr.failed())
        ReportMessage(false, kSource, __LINE__, "未能编辑文件 %s；%s 没有改变。",
                      {pathToUtf8(peFile), pathToUtf8(destination)});
    return hr;
}

}  // namespace

HResult EditResources(const std::filesystem::path& peFile, const std::filesystem::path& output,
                      const ResourceEdits& edits, EditRoute route) {
    return edit(peFile, output, edits, route, std::nullopt);
}

HResult EditResources(const std::filesystem::path& peFile, Bytes original,
                      const std::filesystem::path& output, const ResourceEdits& edits) {
    return edit(peFile, output, edits, EditRoute::kResourcesOnly, original);
}

fs::path EditDestination(const fs::path& peFile, const fs::path& output) {
    std::error_code error;
    fs::path destination = output.empty() ? peFile : output;
    if (!output.empty() && fs::is_directory(output, error)) destination /= peFile.filename();
    fs::path absolute = fs::absolute(destination, error);
    return error ? destination : absolute;
}

}  // namespace kestrel
