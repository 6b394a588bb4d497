#include "core/pe/res_compiler.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <limits>
#include <system_error>
#include <thread>

#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/errors/message_codes.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/pe/described_file.h"
#include "core/pe/memory_folder.h"
#include "core/pe/resource_reader.h"
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

constexpr std::string_view kSource = "compile";
constexpr std::string_view kDuplicateStrings = "这个资源包含双重字串资源 IDs 。一些字串将丢失。";

// Deepest Directory: the root (level 0), types (1) and names (2); language entries lead to data.
constexpr int kMaxDirectoryLevel = 2;

std::uint64_t alignUp8(std::uint64_t value) {
    return (value + 7) & ~std::uint64_t{7};
}

// The start tag of an element as stored, for messages.
std::string describe(const XmlElement* element) {
    std::string text = "<" + std::string(element->name());
    for (const XmlAttribute* attribute = element->firstAttribute(); attribute;
         attribute = attribute->next()) {
        text += ' ';
        text += attribute->name();
        text += "='";
        text += attribute->rawValue();
        text += '\'';
    }
    return text + ">";
}

// Hex digits, two per byte ("00ff"); false for anything else.
bool parseHexBytes(std::string_view text, std::vector<std::byte>& out) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    out.clear();
    if (text.size() % 2 != 0) return false;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]), low = digit(text[i + 1]);
        if (high < 0 || low < 0) return false;
        out.push_back(static_cast<std::byte>(high * 16 + low));
    }
    return true;
}

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    if (!attribute) return std::nullopt;
    std::int64_t value = 0;
    // Numbers hold no entities as a rule: the stored text is read in place, without a decoded copy.
    const bool parsed = attribute->valueNeedsDecoding() ? parseInt(attribute->value(), value)
                                                        : parseInt(attribute->rawValue(), value);
    if (!parsed) return std::nullopt;
    return value;
}

// Reading pe.xml into the checked tree. Every failure names the element; its start tag is spelled
// out only then, as a description has thousands of elements and no failure as a rule.
class DescriptionReader {
  public:
    explicit DescriptionReader(std::string shownPath) : shownPath_(std::move(shownPath)) {}

    HResult readDirectory(const XmlElement* element, int level, CompileDirectoryNode& out) {
        auto type = integerAttribute(element, "Type");
        auto named = integerAttribute(element, "Named_Entries");
        auto ids = integerAttribute(element, "ID_Entries");
        if (!named || !ids || *named < 0 || *ids < 0 || *named > 0xFFFF || *ids > 0xFFFF)
            return fail(element, "Named_Entries 和 ID_Entries 必须是 0 到 65535 之间的数字");
        out.type = type ? static_cast<std::uint32_t>(*type) : 0;

        std::vector<const XmlElement*> children;
        for (const XmlElement* child = element->firstChild(); child; child = child->next())
            if (iequalsAscii(child->name(), "Entry")) children.push_back(child);
        auto expected = static_cast<std::size_t>(*named + *ids);
        if (children.size() != expected)
            return fail(element, safeFormat(Localized("目录说明有 %d 个条目，但是有 %d 个 Entry 元素"),
                                            {static_cast<long long>(expected), children.size()}));

        out.namedCount = static_cast<std::size_t>(*named);
        out.entries.resize(children.size());
        for (std::size_t i = 0; i < children.size(); ++i) {
            if (HResult hr = readEntry(children[i], level + 1, i < out.namedCount, out.entries[i]);
                hr.failed())
                return hr;
        }
        return kOk;
    }

  private:
    HResult readEntry(const XmlElement* element, int level, bool named, CompileEntryNode& out) {
        const XmlAttribute* name = XmlDocument::FindAttribute(element, "Name");
        if (named) {
            if (!name) return fail(element, "命名条目必须有 Name 属性（命名条目在 ID 条目之前）");
            out.named = true;
            out.name = utf8ToUtf16(name->value());
            if (out.name.size() > 0xFFFF) return fail(element, "名称太长");
        } else {
            if (name) return fail(element, "ID 条目不能有 Name 属性（命名条目在 ID 条目之前）");
            auto id = integerAttribute(element, "ID");
            if (!id || *id < 0 || *id > 0xFFFF) return fail(element, "ID 必须是 0 到 65535 之间的数字");
            out.id = static_cast<std::uint16_t>(*id);
        }

        auto isDirectory = integerAttribute(element, "Directory");
        if (!isDirectory || (*isDirectory != 0 && *isDirectory != 1))
            return fail(element, "Directory 属性必须是 0 或 1");

        const XmlElement* directory = nullptr;
        const XmlElement* file = nullptr;
        for (const XmlElement* child = element->firstChild(); child; child = child->next()) {
            if (iequalsAscii(child->name(), "Directory")) {
                if (directory) return fail(element, "条目有多个 Directory 元素");
                directory = child;
            } else if (iequalsAscii(child->name(), "File")) {
                if (file) return fail(element, "条目有多个 File 元素");
                file = child;
            }
        }

        if (*isDirectory == 1) {
            if (!directory) return fail(element, "Directory='1' 的条目没有 Directory 元素");
            if (file) return fail(element, "Directory='1' 的条目不能有 File 元素");
            if (level > kMaxDirectoryLevel) return fail(element, "资源目录最多有三层");
            out.directory = std::make_unique<CompileDirectoryNode>();
            return readDirectory(directory, level, *out.directory);
        }
        if (directory) return fail(element, "Directory='0' 的条目不能有 Directory 元素");
        if (file) {
            const DescribedFile described = DescribedFile::ofFileElement(file);
            std::optional<std::string> fileName = described.storedName();
            if (!fileName || fileName->empty()) return fail(file, "File 元素没有 Name 属性");
            out.hasFile = true;
            out.fileName = std::move(*fileName);
            // Only a size of zero means anything: no data. The file's own size is what counts.
            out.sizeIsZero = described.size() == 0;
            out.png = described.png();
            if (auto tail = described.tail()) {
                if (!parseHexBytes(*tail, out.tail)) return fail(file, "Tail 必须是成对的十六进制数字");
            }
            if (described.hasCodePage()) {
                auto codePage = described.codePage();
                if (!codePage) return fail(file, "CodePage 必须是 0 到 4294967295 之间的数字");
                out.codePage = *codePage;
            }
        }
        return kOk;
    }

    HResult fail(const XmlElement* element, std::string_view reason) {
        ReportMessage(false, kSource, __LINE__, "pe.xml 中的 %s 无效：%s。",
                      {describe(element), Localized(reason)});
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {shownPath_});
    }

    std::string shownPath_;
};

}  // namespace

void SpanWriter::u16(std::uint32_t value) {
    std::span<std::byte> field = take(2);
    if (field.empty()) return;
    field[0] = static_cast<std::byte>(value & 0xFF);
    field[1] = static_cast<std::byte>((value >> 8) & 0xFF);
}

void SpanWriter::append(Bytes data, const std::shared_ptr<const void>& owner) {
    // Below this a piece of its own costs more than the copy.
    constexpr std::size_t kShortestPiece = 256;
    if (gathered_ && owner && data.size() >= kShortestPiece) {
        ranges_.push_back({data.data(), 0, data.size()});
        gathered_->owners.push_back(owner);
        used_ += data.size();
        return;
    }
    std::span<std::byte> place = take(data.size());
    if (!place.empty()) std::memcpy(place.data(), data.data(), data.size());
}

HResult SpanWriter::appendFile(const std::filesystem::path& path, std::uint64_t size) {
    if (gathered_) {
        gathered_->files.push_back({ranges_.size(), path, size});
        // An empty range keeps the file's place among the pieces.
        ranges_.push_back({nullptr, gathered_->tables.size(), 0});
        used_ += static_cast<std::size_t>(size);
        return kOk;
    }
    if (size > buffer_.size() - used_) {
        overflowed_ = true;
        return kOk;
    }
    return ReadFileInto(path, take(static_cast<std::size_t>(size)));
}

void SpanWriter::alignTo(std::size_t alignment) {
    if (alignment <= 1 || used_ % alignment == 0) return;
    std::span<std::byte> padding = take(alignment - used_ % alignment);
    if (!padding.empty()) std::memset(padding.data(), 0, padding.size());
}

std::span<std::byte> SpanWriter::take(std::size_t count) {
    if (gathered_) {
        std::vector<std::byte>& tables = gathered_->tables;
        const std::size_t at = tables.size();
        tables.resize(at + count);
        if (!ranges_.empty() && !ranges_.back().external && ranges_.back().at + ranges_.back().size == at)
            ranges_.back().size += count;
        else
            ranges_.push_back({nullptr, at, count});
        used_ += count;
        return std::span<std::byte>(tables).subspan(at, count);
    }
    if (count > buffer_.size() - used_) {
        overflowed_ = true;
        return {};
    }
    std::span<std::byte> place = buffer_.subspan(used_, count);
    used_ += count;
    return place;
}

void SpanWriter::finishGathering() {
    if (!gathered_) return;
    gathered_->pieces.clear();
    gathered_->pieces.reserve(ranges_.size());
    for (const Range& range : ranges_)
        gathered_->pieces.push_back(range.external ? Bytes{range.external, range.size}
                                                   : Bytes{gathered_->tables.data() + range.at, range.size});
    gathered_->size = used_;
}

CResCompiler::CResCompiler() = default;
CResCompiler::~CResCompiler() = default;

void CResCompiler::trace(std::string_view text) const {
    if (trace_) {
        trace_(text);
        return;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
}

HResult CResCompiler::ProcessXML(const std::filesystem::path& peXmlPath) {
    root_.reset();
    std::string shownPath = pathToUtf8(peXmlPath);
    if (description_) return ProcessDescription(*description_, shownPath);
    XmlDocument document;
    if (HResult hr = document.LoadFile(peXmlPath); hr.failed()) {
        RecordError(false, kSource, __LINE__, hr);
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {shownPath});
    }
    return ProcessDescription(document, shownPath);
}

HResult CResCompiler::ProcessDescription(const XmlDocument& document, const std::string& shownPath) {
    root_.reset();
    const XmlElement* top = document.documentNode()->next();
    if (!top || !iequalsAscii(top->name(), "Directory")) {
        ReportMessage(false, kSource, __LINE__, "pe.xml 的根元素必须是 Directory。");
        return ReportError(false, kSource, __LINE__, msg::kProcessFileError, {shownPath});
    }
    auto root = std::make_unique<CompileDirectoryNode>();
    DescriptionReader reader(shownPath);
    if (HResult hr = reader.readDirectory(top, 0, *root); hr.failed()) return hr;
    root_ = std::move(root);
    return kOk;
}

HResult CResCompiler::CompileRoot(std::uint32_t sectionRva, std::vector<std::byte>& section) {
    section.clear();
    std::uint64_t size = 0;
    if (HResult hr = MeasureRoot(sectionRva, size); hr.failed()) return hr;
    section.resize(static_cast<std::size_t>(size));
    return WriteRoot(section);
}

HResult CResCompiler::MeasureRoot(std::uint32_t sectionRva, std::uint64_t& size) {
    size = 0;
    if (!root_) return ReportError(false, kSource, __LINE__, kFail);
    trace(safeFormat(Localized("类型 %d   命名  %d  ID %d\n"),
                     {root_->type, root_->namedCount, root_->entries.size() - root_->namedCount}));
    sectionRva_ = sectionRva;
    kept_.clear();
    strings_.reset();

    decodePngBitmaps();
    HResult hr = CompileDirectoryTable(*root_, 0, 0, false, true);
    // Files are kept by the entries now; the lookup tables are only needed while measuring.
    kept_.clear();
    decodedPngs_.clear();
    storedFiles_ = {};
    if (hr.failed()) return hr;
    if (root_->measuredSize > std::uint64_t{0xFFFFFFFF} - sectionRva) {
        ReportMessage(false, kSource, __LINE__, "资源部分太大（%u 字节）。", {root_->measuredSize});
        return ReportError(false, kSource, __LINE__, kFail);
    }
    size = root_->measuredSize;
    return kOk;
}

HResult CResCompiler::WriteRoot(std::span<std::byte> section) {
    SpanWriter out(section);
    return writeRootInto(out, section.size());
}

HResult CResCompiler::GatherRoot(GatheredSection& section) {
    section = {};
    SpanWriter out(section);
    return writeRootInto(out, std::nullopt);
}

// The writing pass over the measured tree into `out`, which must then hold exactly the measured
// size (and `expected` bytes, when the place was given beforehand).
HResult CResCompiler::writeRootInto(SpanWriter& out, std::optional<std::size_t> expected) {
    if (!root_) return ReportError(false, kSource, __LINE__, kFail);
    out_ = &out;
    HResult hr = CompileDirectoryTable(*root_, 0, 0, true, true);
    out_ = nullptr;
    if (hr.failed()) return hr;
    out.finishGathering();
    if (out.overflowed() || out.size() != root_->measuredSize || (expected && out.size() != *expected)) {
        ReportMessage(false, kSource, __LINE__, "资源部分的大小与测量的不一致。");
        return ReportError(false, kSource, __LINE__, kFail);
    }
    return kOk;
}

// Layout of one directory at section offset `offset` (8-byte aligned): the header, its entries,
// the name strings of its named entries (padded to 8 bytes), then each entry's subtree in order.
HResult CResCompiler::CompileDirectoryTable(CompileDirectoryNode& directory, std::uint32_t type,
                                            std::uint64_t offset, bool write, bool isRoot) {
    std::uint64_t count = directory.entries.size();
    std::uint64_t namesOffset = offset + kResourceDirectoryHeaderSize + kResourceEntrySize * count;
    std::uint64_t namesSize = 0;
    for (std::size_t i = 0; i < directory.namedCount; ++i)
        namesSize += 2 + 2 * static_cast<std::uint64_t>(directory.entries[i].name.size());
    std::uint64_t firstChild = alignUp8(namesOffset + namesSize);

    auto childType = [&](const CompileEntryNode& entry) -> std::uint32_t {
        if (!isRoot) return type;
        return entry.named ? 0 : entry.id;
    };
    auto isStrings = [&](const CompileEntryNode& entry) {
        return isRoot && !entry.named && entry.id == resource_type::kString;
    };
    auto compileChild = [&](CompileEntryNode& entry, std::uint64_t childOffset) -> HResult {
        if (isStrings(entry)) return CompileStrings(entry, childOffset, write);
        if (entry.directory) return CompileDirectory(entry, childType(entry), childOffset, write);
        return CompileData(entry, childType(entry), childOffset, write);
    };

    if (!write) {
        std::uint64_t childOffset = firstChild;
        for (CompileEntryNode& entry : directory.entries) {
            if (HResult hr = compileChild(entry, childOffset); hr.failed()) return hr;
            childOffset += entry.measuredSize;
        }
        directory.measuredSize = childOffset - offset;
        return kOk;
    }

    SpanWriter& out = *out_;
    out.u32(0);  // characteristics
    out.u32(0);  // time stamp
    out.u32(0);  // major and minor version
    out.u16(static_cast<std::uint32_t>(directory.namedCount));
    out.u16(static_cast<std::uint32_t>(count - directory.namedCount));
    std::uint64_t nameOffset = namesOffset;
    std::uint64_t childOffset = firstChild;
    for (const CompileEntryNode& entry : directory.entries) {
        if (entry.named) {
            out.u32(static_cast<std::uint32_t>(nameOffset) | 0x80000000u);
            nameOffset += 2 + 2 * static_cast<std::uint64_t>(entry.name.size());
        } else {
            out.u32(entry.id);
        }
        bool subdirectory = entry.directory || isStrings(entry);
        out.u32(static_cast<std::uint32_t>(childOffset) | (subdirectory ? 0x80000000u : 0u));
        childOffset += entry.measuredSize;
    }
    for (std::size_t i = 0; i < directory.namedCount; ++i) {
        const std::u16string& name = directory.entries[i].name;
        out.u16(static_cast<std::uint32_t>(name.size()));
        for (char16_t unit : name)
            out.u16(unit);
    }
    out.alignTo(8);
    for (CompileEntryNode& entry : directory.entries) {
        if (HResult hr = compileChild(entry, out.size()); hr.failed()) return hr;
    }
    return kOk;
}

HResult CResCompiler::CompileDirectory(CompileEntryNode& entry, std::uint32_t type, std::uint64_t offset,
                                       bool write) {
    if (HResult hr = CompileDirectoryTable(*entry.directory, type, offset, write, false); hr.failed())
        return hr;
    entry.measuredSize = entry.directory->measuredSize;
    return kOk;
}

// A data entry followed directly by its data, which starts on an 8-byte boundary because the entry
// does; the data is padded to 8 bytes for whatever follows.
HResult CResCompiler::CompileData(CompileEntryNode& entry, std::uint32_t type, std::uint64_t offset,
                                  bool write) {
    auto dataSize = [&] { return entry.data.size() + entry.laterSize + (entry.hasPrefix ? 4 : 0); };
    if (!write) {
        if (HResult hr = loadData(entry, type); hr.failed()) return hr;
        entry.measuredSize = kResourceDataEntrySize + alignUp8(dataSize());
        return kOk;
    }
    SpanWriter& out = *out_;
    out.u32(static_cast<std::uint32_t>(sectionRva_ + offset + kResourceDataEntrySize));
    out.u32(static_cast<std::uint32_t>(dataSize()));
    out.u32(entry.codePage);
    out.u32(0);  // reserved
    if (entry.hasPrefix) out.append(Bytes{entry.prefix.data(), entry.prefix.size()});
    if (!entry.laterPath.empty()) {
        if (HResult hr = out.appendFile(entry.laterPath, entry.laterSize); hr.failed()) {
            ReportMessage(false, kSource, __LINE__, "未能打开 %s", {pathToUtf8(entry.laterPath)});
            return ReportError(false, kSource, __LINE__, hr);
        }
    } else {
        out.append(entry.data, entry.dataOwner);
    }
    out.alignTo(8);
    // The bytes are in the section now, or held by it.
    entry.data = {};
    entry.dataOwner.reset();
    return kOk;
}

HResult CResCompiler::CompileStrings(CompileEntryNode& entry, std::uint64_t offset, bool write) {
    if (!write) {
        strings_ = std::make_unique<StringTableBuilder>(defaultStringLanguage(entry));
        const HeldBytes* held = memory_ ? memory_->find(kStringsFileName) : nullptr;
        std::filesystem::path path;
        if (HResult hr = held ? exactStoredPath(folder_, kStringsFileName, path)
                              : resolveStored(folder_, kStringsFileName, path);
            hr.failed())
            return hr;
        if (HResult hr = held ? readStringsXml(held->bytes, pathToUtf8(path), *strings_)
                              : readStringsXml(path, *strings_);
            hr.failed())
            return hr;
        // Bytes a block held after its strings and its code page, kept by the import in the block's
        // language entry.
        if (entry.directory) {
            for (const CompileEntryNode& block : entry.directory->entries) {
                if (block.named || !block.directory) continue;
                for (const CompileEntryNode& language : block.directory->entries) {
                    if (language.named) continue;
                    if (!language.tail.empty()) strings_->setTail(block.id, language.id, language.tail);
                    if (language.codePage != 0)
                        strings_->setCodePage(block.id, language.id, language.codePage);
                }
            }
        }
        if (strings_->droppedAny())
            uiSink().message(Localized(kDuplicateStrings), kAppName, MessageIcon::kInformation);
        entry.measuredSize = strings_->size();
        return kOk;
    }
    // The string table is small beside the section: built on its own, then copied into place.
    ByteWriter table;
    table.bytes().reserve(static_cast<std::size_t>(entry.measuredSize));
    strings_->write(table, static_cast<std::uint32_t>(offset), sectionRva_);
    auto held = std::make_shared<const std::vector<std::byte>>(std::move(table.bytes()));
    out_->append(Bytes{held->data(), held->size()}, held);
    return kOk;
}

// The language of the first data entry with a file under the string type: the import wrote the
// strings of that language without an L attribute.
std::uint16_t CResCompiler::defaultStringLanguage(const CompileEntryNode& stringType) const {
    if (!stringType.directory) return kDefaultStringLanguage;
    for (const CompileEntryNode& block : stringType.directory->entries) {
        if (!block.directory) continue;
        for (const CompileEntryNode& language : block.directory->entries)
            if (!language.named && !language.directory && language.hasFile) return language.id;
    }
    return kDefaultStringLanguage;
}

namespace {

// A PNG decoded to a BMP file.
HResult decodeHeld(const PngConverter& converter, Bytes png, HeldBytes& bmp) {
    auto converted = std::make_shared<std::vector<std::byte>>();
    if (HResult hr = converter.ConvertPngToBmpBytes(png, *converted); hr.failed()) return hr;
    bmp.bytes = Bytes{converted->data(), converted->size()};
    bmp.owner = std::move(converted);
    return kOk;
}

}  // namespace

HResult CResCompiler::readKept(std::string_view storedName, const std::filesystem::path& path,
                               HeldBytes& out) {
    if (const HeldBytes* held = memory_ ? memory_->find(storedName) : nullptr) {
        out = *held;
        return kOk;
    }
    if (auto found = kept_.find(path.native()); found != kept_.end()) {
        out = found->second;
        return kOk;
    }
    if (HResult hr = storedFiles_.read(path, out); hr.failed()) return hr;
    kept_.emplace(path.native(), out);
    return kOk;
}

HResult CResCompiler::loadData(CompileEntryNode& entry, std::uint32_t type) {
    entry.data = {};
    entry.dataOwner.reset();
    entry.laterPath.clear();
    entry.laterSize = 0;
    entry.hasPrefix = false;
    if (!entry.hasFile || entry.sizeIsZero) return kOk;

    std::filesystem::path path;
    const HeldBytes* held = memory_ ? memory_->find(entry.fileName) : nullptr;
    if (type == resource_type::kBitmap) {
        // A BMP file that opens under its name as written needs no look-up of the name's folders;
        // it is kept, so that the conversion below reads it from memory.
        if (!entry.png) {
            HeldBytes file;
            if (exactStoredPath(folder_, entry.fileName, path).succeeded() &&
                readKept(entry.fileName, path, file).succeeded())
                return readBitmap(entry, path);
        }
        // A bitmap stored as PNG has no file under its own name as a rule: that name is looked up
        // (a listing of the folder when it is missing) only if the PNG cannot be used. One held in
        // memory needs no look-up.
        if (HResult hr = entry.png || held ? exactStoredPath(folder_, entry.fileName, path)
                                           : resolveStored(folder_, entry.fileName, path);
            hr.failed()) {
            RecordError(false, kSource, __LINE__, msg::kInvalidPath, {entry.fileName});
            return hr;
        }
        return readBitmap(entry, path);
    }

    // Every other type is its file, read once here with one read call; an icon's or cursor's
    // directory is taken from the bytes read.
    // The file is there under its name as written: no look-up of the name's folders needed.
    if (held) {
        if (HResult hr = exactStoredPath(folder_, entry.fileName, path); hr.failed()) {
            RecordError(false, kSource, __LINE__, msg::kInvalidPath, {entry.fileName});
            return hr;
        }
        entry.data = held->bytes;
        entry.dataOwner = held->owner;
    } else if (const bool mayWait = type != resource_type::kCursor && type != resource_type::kIcon;
               exactStoredPath(folder_, entry.fileName, path).failed() ||
               readStored(entry, path, mayWait).failed()) {
        if (HResult hr = resolveStored(folder_, entry.fileName, path); hr.failed()) {
            RecordError(false, kSource, __LINE__, msg::kInvalidPath, {entry.fileName});
            return hr;
        }
        if (HResult hr = readStored(entry, path, mayWait); hr.failed()) {
            hr = ReportError(false, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能打开 %s", {pathToUtf8(path)});
            return hr;
        }
    }
    if (type != resource_type::kCursor && type != resource_type::kIcon) return kOk;
    return readIconImage(entry, type == resource_type::kCursor, path);
}

// With `mayWait`, a large file is only sized here: it goes into the section unchanged and is read
// when the section is written, a part at a time through one reused buffer, instead of being held
// in fresh memory (which the system must clear first) until then.
HResult CResCompiler::readStored(CompileEntryNode& entry, const std::filesystem::path& path, bool mayWait) {
    constexpr std::uint64_t kReadWhenWritten = 256 * 1024;
    FileReader reader;
    if (HResult hr = reader.open(path); hr.failed()) return hr;
    if (mayWait && reader.size() >= kReadWhenWritten) {
        entry.laterPath = path;
        entry.laterSize = reader.size();
        return kOk;
    }
    HeldBytes file;
    if (HResult hr = storedFiles_.read(reader, file); hr.failed()) return hr;
    entry.data = file.bytes;
    entry.dataOwner = std::move(file.owner);
    return kOk;
}

// Icons and cursors are stored as .ICO / .CUR files: the resource is the first image (a cursor's
// prefixed by its hot spot). A file that has no such header is taken whole, unless its name says
// it is one.
HResult CResCompiler::readIconImage(CompileEntryNode& entry, bool cursor, const std::filesystem::path& path) {
    const Bytes file = entry.data;
    const std::uint64_t fileSize = file.size();
    bool namedAsFile = entry.fileName.size() > 3 && iendsWithAscii(entry.fileName, cursor ? "cur" : "ico");
    IconFileImage image;
    bool found = FirstIconFileImage(file, image).succeeded();
    if (!found && namedAsFile) {
        IconDirectoryEntry onlyEntry;
        if (fileSize < kSingleIconImageOffset || ReadIconDirectoryEntry(file, 0, onlyEntry).failed()) {
            ReportMessage(false, kSource, __LINE__, "文件 %s 太短（%u 字节），不是有效的 %s 文件。",
                          {pathToUtf8(path), fileSize, cursor ? ".CUR" : ".ICO"});
            entry.data = {};
            entry.dataOwner.reset();
            return ReportError(false, kSource, __LINE__, kFail);
        }
        // The layout the import writes, whatever the directory says: one entry, the image right
        // after it.
        image = IconFileImage{kSingleIconImageOffset, fileSize - kSingleIconImageOffset, onlyEntry};
        found = true;
    }
    if (!found) return kOk;
    entry.data = file.subspan(static_cast<std::size_t>(image.offset), static_cast<std::size_t>(image.size));
    if (cursor) {
        // A cursor file keeps the hot spot in the entry's planes and bit-count fields.
        const std::uint16_t hotSpotX = image.entry.planes, hotSpotY = image.entry.bitCount;
        entry.prefix = {std::byte(hotSpotX & 0xFF), std::byte(hotSpotX >> 8), std::byte(hotSpotY & 0xFF),
                        std::byte(hotSpotY >> 8)};
        entry.hasPrefix = true;
    }
    return kOk;
}

// Decoding the bitmaps stored as PNG is most of a compile's CPU where there are many: it is done
// before the layout, on every core, each PNG once. One that cannot be read or decoded here is left
// to the layout, which tries again in order and reports what is wrong with it.
void CResCompiler::decodePngBitmaps() {
    decodedPngs_.clear();
    std::vector<std::filesystem::path> paths;
    auto collect = [&](auto& self, const CompileDirectoryNode& directory) -> void {
        for (const CompileEntryNode& entry : directory.entries) {
            if (entry.directory) {
                self(self, *entry.directory);
                continue;
            }
            if (!entry.hasFile || entry.sizeIsZero || !entry.png) continue;
            // The name as written: a PNG that does not open there is left to the layout, which
            // looks its name up.
            std::string pngName = pathToUtf8(replaceLastThree(pathFromUtf8(entry.fileName), "png"));
            std::filesystem::path path;
            // A PNG held in memory is decoded by the layout.
            if (pngName.empty() || (memory_ && memory_->contains(pngName))) continue;
            if (exactStoredPath(folder_, pngName, path).succeeded()) paths.push_back(path);
        }
    };
    for (const CompileEntryNode& type : root_->entries)
        if (!type.named && type.id == resource_type::kBitmap && type.directory)
            collect(collect, *type.directory);
    std::sort(paths.begin(), paths.end());
    paths.erase(std::unique(paths.begin(), paths.end()), paths.end());
    if (paths.size() < 2) return;  // one PNG is no work to share

    std::vector<HeldBytes> results(paths.size());
    std::atomic<std::size_t> next{0};
    auto work = [&] {
        const PngConverter converter;
        for (std::size_t i = next++; i < paths.size(); i = next++) {
            try {
                HeldBytes png;
                if (ReadWholeFileHeld(paths[i], png).failed()) continue;
                HeldBytes bmp;
                if (decodeHeld(converter, png.bytes, bmp).succeeded()) results[i] = std::move(bmp);
            } catch (const std::bad_alloc&) {
                // Left to the layout, which reports it.
            }
        }
    };
    std::vector<std::thread> helpers;
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    try {
        for (unsigned i = 1; i < cores && i < paths.size(); ++i)
            helpers.emplace_back(work);
    } catch (const std::system_error&) {
        // No more threads to be had: this one does the rest.
    }
    work();
    for (std::thread& helper : helpers)
        helper.join();
    for (std::size_t i = 0; i < paths.size(); ++i)
        if (results[i]) decodedPngs_.emplace(paths[i].native(), std::move(results[i]));
}

// Bitmaps are .BMP files (the resource is the file without its 14-byte header). A bitmap stored as
// PNG (Png='1': the file named like the BMP with "png" as its last three characters) is converted
// in memory; the working folder is never written. When the PNG cannot be used, a file under the
// entry's own name is taken instead, as the user may have put a BMP there.
HResult CResCompiler::readBitmap(CompileEntryNode& entry, std::filesystem::path path) {
    PngConverter converter;
    HeldBytes bmp;
    HResult pngError = kOk;
    std::filesystem::path pngPath;
    if (entry.png) {
        std::string pngName = pathToUtf8(replaceLastThree(pathFromUtf8(entry.fileName), "png"));
        const bool pngHeld = memory_ && memory_->contains(pngName);
        std::filesystem::path exactPng;
        if (pngName.empty()) {
            pngError = kInvalidArg;
        } else if (auto decoded = !pngHeld && exactStoredPath(folder_, pngName, exactPng).succeeded()
                                      ? decodedPngs_.find(exactPng.native())
                                      : decodedPngs_.end();
                   decoded != decodedPngs_.end()) {
            pngPath = std::move(exactPng);
            bmp = decoded->second;
        } else if (pngError = pngHeld ? exactStoredPath(folder_, pngName, pngPath)
                                      : resolveStored(folder_, pngName, pngPath);
                   pngError.succeeded()) {
            if (auto decoded = decodedPngs_.find(pngPath.native()); decoded != decodedPngs_.end()) {
                bmp = decoded->second;
            } else {
                HeldBytes png;
                pngError = readKept(pngName, pngPath, png);
                if (pngError.succeeded()) pngError = decodeHeld(converter, png.bytes, bmp);
            }
        }
    }
    if (!bmp) {
        HeldBytes file;
        const bool held = memory_ && memory_->contains(entry.fileName);
        HResult hr = entry.png && !held ? resolveStored(folder_, entry.fileName, path) : kOk;
        if (hr.succeeded()) hr = readKept(entry.fileName, path, file);
        if (hr.succeeded() && HasPngSignature(file.bytes))
            hr = decodeHeld(converter, file.bytes, bmp);
        else if (hr.succeeded())
            bmp = file;
        if (hr.failed()) {
            // Report what went wrong with the file the entry points at first: the PNG when it has one.
            bool blamePng = pngError.failed() && !pngPath.empty();
            hr = ReportError(false, kSource, __LINE__, blamePng ? pngError : hr);
            ReportMessage(false, kSource, __LINE__, "未能打开 %s", {pathToUtf8(blamePng ? pngPath : path)});
            return hr;
        }
    }
    const Bytes file = bmp.bytes;
    // The DIB is checked where it lies; it is copied only to close a gap before the pixels.
    auto packed = std::make_shared<std::vector<std::byte>>();
    Bytes dib;
    const BmpFileCheck check = ViewBmpFileDib(file, dib, *packed);
    if (check.ok() && !packed->empty()) {
        // The pixels lay after a gap: the resource holds the DIB packed.
        entry.dataOwner = packed;
        entry.data = dib;
        return kOk;
    }
    // A bitmap file as the import writes it keeps its bytes, however odd the DIB in the resource
    // it came from.
    const bool asImported = file.size() > kBmpFileHeaderSize &&
                            std::ranges::equal(MakeBmpFileHeader(file.subspan(kBmpFileHeaderSize)),
                                               file.first(kBmpFileHeaderSize));
    if (!check.ok() && !asImported) {
        ReportMessage(false, kSource, __LINE__, check.format, {pathToUtf8(path), check.found});
        return ReportError(false, kSource, __LINE__, kFail);
    }
    entry.dataOwner = std::move(bmp.owner);
    entry.data = file.subspan(kBmpFileHeaderSize);
    return kOk;
}

}  // namespace kestrel
