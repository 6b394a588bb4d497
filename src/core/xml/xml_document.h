// The XML engine of the project file, pe.xml and STRINGS.XML.
//
// A loaded file is kept in memory (MappedFile) and parsed in place: names, values and text of a
// parsed document point into that copy and are not terminated. Names and values set by the program
// live in the document's string pool. Elements and attributes are small records in the document's
// arena; they are released only by Reset and destruction and never move, so element and attribute
// pointers stay valid until then (and, for parsed strings, only while the source stays loaded),
// whatever is inserted or removed elsewhere.
//
// Strings are bytes: UTF-8 in practice; the written declaration still says ISO-8859-1 and bytes
// 0x80-0xFF pass through unchanged.
//
// The parser is lenient on purpose (stored files rely on it): end tags are not compared with start
// tags, only the first top-level element is read, an unclosed document is accepted as far as it
// goes, duplicate attributes all stay, and names match case-insensitively (ASCII).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/files.h"
#include "core/platform/status.h"

namespace kestrel {

class XmlDocument;
class XmlElement;
class XmlAttribute;

// How element and attribute records lie in a document's arena. The accessors of XmlElement and
// XmlAttribute read it inline, since tree walks call them for every node; xml_document.cpp describes
// the layout and is the only code that writes it.
namespace xml_records {

inline constexpr std::size_t kBlockBytes = 4096;  // blocks are aligned to their size
inline constexpr std::size_t kUnitBytes = 4;
inline constexpr unsigned kUnitBits = 10;
inline constexpr std::uint32_t kBlockUnits = kBlockBytes / kUnitBytes;
inline constexpr std::uint32_t kUnitMask = kBlockUnits - 1;
inline constexpr std::uint32_t kDetached = 0xFFFFFFFF;

inline constexpr std::uint32_t kExtended = 0x80000000;  // element shape and attribute word alike
inline constexpr std::uint32_t kLinkMask = 0x7FFFFFFF;
inline constexpr unsigned kLengthShift = 20;
inline constexpr std::uint32_t kOffsetMask = (1u << kLengthShift) - 1;
inline constexpr std::uint32_t kShortLengthMask = 0xFF;
inline constexpr std::uint32_t kHasAttributes = 1u << 28;
inline constexpr std::uint32_t kHasChild = 1u << 29;
inline constexpr std::uint32_t kLastOfRun = 1u << 28;
inline constexpr std::uint32_t kDecode = 1u << 29;
inline constexpr unsigned kGapBits = 3;
inline constexpr std::uint32_t kGapMask = (1u << kGapBits) - 1;
inline constexpr std::uint32_t kLongLastOfRun = 1;
inline constexpr std::uint32_t kElementUnits = 3;
inline constexpr std::uint32_t kAttributeUnits = 2;

// The arena's block table: link >> kUnitBits indexes it.
struct Table {
    std::byte* const* blocks = nullptr;
};

// The start of every block.
struct BlockHeader {
    const Table* table;
    // Names of the block's short records are offsets from here (null until a parse uses it).
    const char* text;
    std::uint32_t index;
};

// Records start after the header, at a multiple of 8 bytes so that records holding pointers can.
inline constexpr std::uint32_t kFirstUnit =
    static_cast<std::uint32_t>((sizeof(BlockHeader) + 7) / 8 * 8 / kUnitBytes);

struct ElementExtension {
    const char* name = nullptr;
    std::uint32_t nameLength = 0;
    // Character data comes only from a parsed file, after the element's name: it is kept as its
    // distance from the name (0: no text).
    std::uint32_t textOffset = 0;
    std::uint32_t textLength : 31 = 0;
    std::uint32_t textNeedsDecoding : 1 = 0;
    std::uint32_t firstAttribute = 0;
    std::uint32_t firstChild = 0;
};

// The value lies `valueGap` bytes after the name's end: in the parsed file, or in one pool string
// holding the name, a zero byte and the value.
struct AttributeExtension {
    const char* name = nullptr;
    std::uint32_t valueLength : 31 = 0;
    std::uint32_t valueNeedsDecoding : 1 = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t valueGap = 0;
    std::uint32_t next = 0;
};

inline std::size_t offsetInBlock(const void* record) {
    return reinterpret_cast<std::uintptr_t>(record) & (kBlockBytes - 1);
}

inline BlockHeader& headerOf(const void* record) {
    const auto* address = static_cast<const std::byte*>(record);
    return *reinterpret_cast<BlockHeader*>(const_cast<std::byte*>(address - offsetInBlock(record)));
}

inline std::uint32_t unitOf(const void* record) {
    return static_cast<std::uint32_t>(offsetInBlock(record) / kUnitBytes);
}

// The record `link` names, seen from a record of the same arena.
inline std::byte* resolve(const void* from, std::uint32_t link) {
    BlockHeader& header = headerOf(from);
    const std::uint32_t index = link >> kUnitBits;
    std::byte* block =
        index == header.index ? reinterpret_cast<std::byte*>(&header) : header.table->blocks[index];
    const std::size_t offset = (link & kUnitMask) * kUnitBytes;
    return block + offset;
}

template <typename Record>
Record* at(const void* from, std::uint32_t link) {
    return link ? reinterpret_cast<Record*>(resolve(from, link)) : nullptr;
}

// Where the parser put the record after `record` (of `size` units) when that one is `nextSize`
// units long. Asked only when there is such a record.
inline std::byte* following(const void* record, std::uint32_t size, std::uint32_t nextSize) {
    if (unitOf(record) + size + nextSize <= kBlockUnits) {
        const std::size_t offset = size * kUnitBytes;
        return static_cast<std::byte*>(const_cast<void*>(record)) + offset;
    }
    const BlockHeader& header = headerOf(record);
    const std::size_t offset = kFirstUnit * kUnitBytes;
    return header.table->blocks[header.index + 1] + offset;
}

}  // namespace xml_records

// One attribute of an element. The value is kept as stored: a parsed value keeps the escapes it had
// in the file, a program-set value holds its escaped form.
class XmlAttribute {
  public:
    XmlAttribute* next() const;
    std::string_view name() const;
    // The value as stored, escapes included.
    std::string_view rawValue() const;
    // True when the stored value contains `&` (reading it as text decodes entities).
    bool valueNeedsDecoding() const;
    // The value with entities decoded (what GetAttribute returns).
    std::string value() const;

  private:
    friend class XmlDocument;
    friend class XmlElement;
    friend struct XmlArena;
    bool isLong() const { return word_ & xml_records::kExtended; }
    xml_records::AttributeExtension& extension() const {
        return *reinterpret_cast<xml_records::AttributeExtension*>(
            xml_records::resolve(this, word_ & xml_records::kLinkMask));
    }
    const char* shortName() const {
        return xml_records::headerOf(this).text + (word_ & xml_records::kOffsetMask);
    }
    std::size_t shortNameLength() const {
        return (word_ >> xml_records::kLengthShift) & xml_records::kShortLengthMask;
    }

    // Eight bytes: where the name lies in the parsed text and the lengths, or a link to a larger
    // record for what does not fit.
    std::uint32_t word_ = 0;
    std::uint32_t extra_ = 0;
};

// One element. Callers walk the links directly: firstChild(), next(), previous(), parent().
// Top-level elements have no parent; they are the next-sibling chain of the document node.
// previous() and depth() are found by walking (the siblings before, the ancestors).
class XmlElement {
  public:
    XmlElement* next() const;
    XmlElement* previous() const;
    XmlElement* firstChild() const;
    XmlElement* parent() const;
    XmlAttribute* firstAttribute() const;
    // Empty for the document node.
    std::string_view name() const;
    // The character data as stored (escapes included), empty when there is none.
    std::string_view rawText() const;
    bool hasText() const;
    bool textNeedsDecoding() const;
    // The character data with entities decoded.
    std::string text() const;
    // Nesting level: 0 for top-level elements (and the document node).
    std::uint32_t depth() const;

  private:
    friend class XmlDocument;
    friend struct XmlArena;
    bool isExtended() const { return shape_ & xml_records::kExtended; }
    xml_records::ElementExtension& extension() const {
        return *reinterpret_cast<xml_records::ElementExtension*>(
            xml_records::resolve(this, shape_ & xml_records::kLinkMask));
    }
    // Where the parser put the first child of a short element: after its attribute run.
    XmlElement* adjacentChild() const;

    // Twelve bytes: links to the next sibling and the parent, and the name's place in the parsed
    // text with the shape of what follows, or a link to a larger record.
    std::uint32_t next_ = 0;
    std::uint32_t parent_ = 0;
    std::uint32_t shape_ = 0;
};

inline XmlAttribute* XmlAttribute::next() const {
    using namespace xml_records;
    if (isLong()) return at<XmlAttribute>(this, extension().next);
    if (word_ & kLastOfRun) return nullptr;
    return reinterpret_cast<XmlAttribute*>(following(this, kAttributeUnits, kAttributeUnits));
}

inline std::string_view XmlAttribute::name() const {
    if (isLong()) return {extension().name, extension().nameLength};
    return {shortName(), shortNameLength()};
}

inline std::string_view XmlAttribute::rawValue() const {
    if (isLong()) {
        const xml_records::AttributeExtension& long_ = extension();
        return {long_.name + long_.nameLength + long_.valueGap, long_.valueLength};
    }
    return {shortName() + shortNameLength() + (extra_ & xml_records::kGapMask),
            extra_ >> xml_records::kGapBits};
}

inline bool XmlAttribute::valueNeedsDecoding() const {
    return isLong() ? extension().valueNeedsDecoding != 0 : (word_ & xml_records::kDecode) != 0;
}

inline XmlElement* XmlElement::next() const {
    return parent_ == xml_records::kDetached ? nullptr : xml_records::at<XmlElement>(this, next_);
}

inline XmlElement* XmlElement::parent() const {
    return parent_ == xml_records::kDetached ? nullptr : xml_records::at<XmlElement>(this, parent_);
}

inline XmlAttribute* XmlElement::firstAttribute() const {
    using namespace xml_records;
    if (isExtended()) return at<XmlAttribute>(this, extension().firstAttribute);
    if (!(shape_ & kHasAttributes)) return nullptr;
    return reinterpret_cast<XmlAttribute*>(following(this, kElementUnits, kAttributeUnits));
}

inline XmlElement* XmlElement::adjacentChild() const {
    using namespace xml_records;
    const void* record = this;
    std::uint32_t size = kElementUnits;
    if (shape_ & kHasAttributes) {
        auto* attribute =
            reinterpret_cast<const XmlAttribute*>(following(this, kElementUnits, kAttributeUnits));
        while (
            !(attribute->isLong() ? (attribute->extra_ & kLongLastOfRun) : (attribute->word_ & kLastOfRun)))
            attribute =
                reinterpret_cast<const XmlAttribute*>(following(attribute, kAttributeUnits, kAttributeUnits));
        record = attribute;
        size = kAttributeUnits;
    }
    return reinterpret_cast<XmlElement*>(following(record, size, kElementUnits));
}

inline XmlElement* XmlElement::firstChild() const {
    using namespace xml_records;
    if (isExtended()) return at<XmlElement>(this, extension().firstChild);
    if (!(shape_ & kHasChild)) return nullptr;
    // A removed head of the chain keeps its place and names the first child.
    XmlElement* head = adjacentChild();
    return head->parent_ == kDetached ? at<XmlElement>(head, head->next_) : head;
}

inline std::string_view XmlElement::name() const {
    using namespace xml_records;
    if (isExtended()) return {extension().name, extension().nameLength};
    const std::size_t length = (shape_ >> kLengthShift) & kShortLengthMask;
    if (length == 0) return {};  // the document node, whose block may have no text
    return {headerOf(this).text + (shape_ & kOffsetMask), length};
}

inline bool XmlElement::hasText() const {
    return isExtended() && extension().textOffset != 0;
}

inline std::string_view XmlElement::rawText() const {
    if (!hasText()) return {};
    const xml_records::ElementExtension& extended = extension();
    return {extended.name + extended.textOffset, extended.textLength};
}

inline bool XmlElement::textNeedsDecoding() const {
    return isExtended() && extension().textNeedsDecoding;
}

// What GetAttributeValue reads. The kind numbers are those of the stored request kinds.
enum class XmlValueKind : int {
    kText = 1,      // text, entities decoded, into `text` (cut when `textLimit` is set)
    kNothing = 2,   // nothing is written
    kInt32 = 3,     // optional '-', decimal digits up to the first non-digit, into `integer`
    kInt32Alt = 4,  // same as kInt32
    kInt16 = 5,     // same syntax, kept to 16 bits (signed), into `integer`
    kInt16Alt = 6,
    kFloat = 7,   // "%g"-style number, float precision, into `real` (0 when not a number)
    kDouble = 8,  // "%g"-style number, double precision, into `real` (0 when not a number)
    kHex64 = 9,   // hexadecimal 64-bit unsigned (optional 0x), into `unsignedValue`
    kNothing10 = 10,
    kBool16 = 11,  // -1 when the value is non-empty and starts with neither ' ' nor '0', else 0
    kInt8 = 12,    // decimal as kInt32, kept to 8 bits (signed), into `integer`
};

struct XmlValueRequest {
    XmlValueKind kind = XmlValueKind::kText;
    // For kText: 0 means no limit; otherwise the size of the caller's destination, and the text is
    // cut as a buffer of that size (terminator included) would cut it.
    std::size_t textLimit = 0;

    // Results; only the field of the requested kind is written.
    std::string text;
    std::int64_t integer = 0;
    double real = 0.0;
    std::uint64_t unsignedValue = 0;
};

// The record store of a document (defined with the engine).
struct XmlArena;

class XmlDocument {
  public:
    // The block counts below are given in these units.
    static constexpr std::size_t kElementsPerBlock = 100;
    static constexpr std::size_t kAttributesPerBlock = 100;
    static constexpr std::size_t kStringBlockSize = 16000;
    static constexpr std::size_t kOutputBufferSize = 32000;
    static constexpr std::size_t kFlushReserve = 1000;

    XmlDocument();
    ~XmlDocument();
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;

    // --- Loading ---------------------------------------------------------------------------------

    // Loads and parses `path`: closes any source, resets a non-empty tree, reads the file, makes it
    // the output name (also when reading fails) and the source name, and parses it. A failed parse
    // releases the source and leaves an empty tree (nothing points into released memory).
    // Sources of 2 GB or more are refused (E_FAIL): lengths are kept in 31 bits.
    HResult LoadFile(const std::filesystem::path& path);

    // Parses `data` in place into the tree; the data must outlive the tree (LoadFile's source does).
    // Afterwards the current element is the document node. E_FAIL for malformed input; the elements
    // built up to the fault stay in the tree.
    HResult Parse(const char* data, std::size_t length);
    HResult Parse(std::string_view data) { return Parse(data.data(), data.size()); }

    // Releases the source, the records and the string pool, and starts an empty tree whose document
    // node is the current element. The output name is kept.
    void Reset();

    // Releases the loaded source. A tree parsed from it would point into released memory, so it is
    // Reset as well.
    HResult CloseSource();

    // --- Paths -----------------------------------------------------------------------------------
    //
    // A path is a list of names separated by `\` or `/` (mixed too), compared case-insensitively:
    // "\ROOT\PEFILE", "/Root/E", "Entry\Directory". A leading separator starts at the top level;
    // without one the walk starts at the current element (its own name is matched first, then its
    // following siblings). The empty path means the current element. Index n > 0 repeats the walk
    // from the next sibling of the element that matched the first name, n times.

    // The element at `path`, or null; the current element moves to the result when found.
    XmlElement* FindElement(std::string_view path, std::size_t index = 0);

    // As FindElement, but creates every missing element (names copied into the string pool); never
    // null for a non-empty path (null only when memory runs out). The result becomes current.
    XmlElement* MakeElement(std::string_view path, std::size_t index = 0);

    // Creates an element named `name` as a child of `parent`: in front of `before` (a child of
    // `parent`), or after the last child when `before` is null. The new element becomes current.
    // Null when `parent` is null or the document node, when `before` is not a child of `parent`,
    // or when memory runs out.
    XmlElement* InsertElement(XmlElement* parent, XmlElement* before, std::string_view name);

    // Unlinks `element` and everything below it from the tree (the records stay in the arena until
    // Reset). When the current element was inside the removed part, its parent becomes current
    // (the document node for a top-level element).
    void RemoveElement(XmlElement* element);

    // Makes `element` current (and the start of the next relative walk); returns the previous one.
    XmlElement* SetCurrent(XmlElement* element);
    XmlElement* GetCurrent() const { return current_; }
    // The document node: its next() chain holds the top-level elements.
    XmlElement* documentNode() const { return documentNode_; }

    // --- Attributes ------------------------------------------------------------------------------

    // Reads attribute `name` of the element at `path` (empty path: the current element) as the
    // request's kind says. E_FAIL when the element or the attribute does not exist.
    HResult GetAttributeValue(std::string_view path, std::string_view name, XmlValueRequest& request);

    // The attribute as text, entities decoded (kind 1, no limit).
    HResult GetAttribute(std::string_view path, std::string_view name, std::string& value);
    // The attribute as a 32-bit signed decimal (kind 4).
    HResult GetAttributeInt(std::string_view path, std::string_view name, std::int32_t& value);

    // The first attribute of `element` whose name matches case-insensitively, or null.
    static XmlAttribute* FindAttribute(const XmlElement* element, std::string_view name);

    // MakeElement(path, index), then SetCurrentAttribute(name, value). kOk, or E_OUTOFMEMORY.
    HResult SetAttribute(std::string_view path, std::string_view name, std::string_view value,
                         std::size_t index = 0);

    // Sets an attribute of the current element: overwrites `attribute` when given, else the first
    // attribute of that name, else appends a new one. The name and the escaped value are copied into
    // the string pool. Returns the attribute, or null when there is no current element.
    XmlAttribute* SetCurrentAttribute(std::string_view name, std::string_view value,
                                      XmlAttribute* attribute = nullptr);

    // The element's name as a string (empty for null).
    static std::string GetElementName(const XmlElement* element);

    // --- Writing ---------------------------------------------------------------------------------
    //
    // Layout: "<?xml version='1.0' encoding='ISO-8859-1'?>" CR LF, then every top-level element,
    // indented 3 spaces per level, attributes in double quotes as stored, CR LF after each element.

    // Makes `path` the output name and opens it for writing (an open output is flushed and closed
    // first). The file is replaced atomically when the output is closed after a successful write.
    HResult OpenOutput(const std::filesystem::path& path);

    // Writes the tree to the open output, opening the output name first when nothing is open, and
    // closes it. With no output name (a document never loaded nor opened for output) nothing is
    // written and the result is E_FAIL. On a write error the output is discarded and the file left
    // as it was.
    HResult Save();

    // The project's save: when the tree was loaded from the file it is about to be written to, the
    // text goes to "<name>.tmp", the source is released, and the .tmp file is renamed over the
    // loaded file; on any failure the loaded file stays and the .tmp file is removed. The tree is
    // Reset afterwards in that case (it pointed into the released source). Otherwise as Save().
    HResult SaveFile();

    // Writes the tree in the same layout into `out` (no file involved); E_FAIL while a file output
    // is open, E_INVALIDARG when `out` holds text the tree was parsed from (writing would move or
    // overwrite what the tree points into).
    HResult SaveToString(std::string& out);

    // Writes the used part of the output buffer and rewinds it.
    HResult FlushOutput();
    // Flushes and closes an open output (committing the file); rewinds the buffer.
    HResult CloseOutput();

    // --- State -----------------------------------------------------------------------------------

    const std::filesystem::path& outputName() const { return outputName_; }
    const std::filesystem::path& sourceName() const { return sourceName_; }
    bool hasSource() const { return source_.isOpen(); }
    // True when the document node has no top-level element.
    bool empty() const { return documentNode_->next_ == 0; }

    // The element and attribute records made since the last Reset (the document node included),
    // in blocks of kElementsPerBlock and kAttributesPerBlock records, at least one each; and the
    // blocks of the string pool.
    std::size_t elementBlockCount() const;
    std::size_t attributeBlockCount() const;
    std::size_t stringBlockCount() const { return stringBlocks_.size(); }
    // The bytes the element and attribute records take (allocated, used or not).
    std::size_t recordBytes() const;

  private:
    struct StringBlock;
    class Writer;
    class Parser;

    void releaseSource();
    // A program-made element named `name` (copied into the string pool), not linked yet.
    XmlElement* newElement(std::string_view name);
    // Copies `text` into the string pool (zero-terminated); null when memory runs out.
    const char* poolString(std::string_view text);
    char* poolAllocate(std::size_t length);
    XmlElement* walk(std::string_view path, std::size_t index, bool create);
    HResult writeTree();
    HResult writeOut(std::string_view piece);
    HResult flushBuffer();
    void discardOutput();

    std::unique_ptr<XmlArena> arena_;
    std::vector<std::unique_ptr<StringBlock>> stringBlocks_;
    StringBlock* currentStringBlock_ = nullptr;

    XmlElement* documentNode_ = nullptr;
    XmlElement* current_ = nullptr;

    MappedFile source_;
    // Every text parsed in place since the last Reset: the tree points into them.
    std::vector<std::string_view> parsedTexts_;
    std::filesystem::path sourceName_;
    std::filesystem::path outputName_;

    // Output: a file replaced atomically, or a string (SaveToString).
    std::unique_ptr<AtomicFileWriter> outputFile_;
    std::string* outputString_ = nullptr;
    HResult outputError_ = kOk;
    std::unique_ptr<char[]> buffer_;
    std::size_t bufferUsed_ = 0;
};

}  // namespace kestrel
