// The XML engine of the project file, pe.xml and STRINGS.XML.
//
// A loaded file is kept in memory (MappedFile) and parsed in place: names, values and text of a
// parsed document point into that copy and are not terminated. Names and values set by the program
// live in the document's string pool. Elements and attributes come from pools of 100 entries per
// block and are released only by Reset and destruction, so element and attribute pointers stay valid
// until then (and, for parsed strings, only while the source stays loaded).
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

// One attribute of an element. The value is kept as stored: a parsed value keeps the escapes it had
// in the file, a program-set value holds its escaped form.
class XmlAttribute {
  public:
    XmlAttribute* next() const { return next_; }
    std::string_view name() const { return {name_, nameLength_}; }
    // The value as stored, escapes included.
    std::string_view rawValue() const { return {name_ + nameLength_ + valueGap_, valueLength_}; }
    // True when the stored value contains `&` (reading it as text decodes entities).
    bool valueNeedsDecoding() const { return valueNeedsDecoding_; }
    // The value with entities decoded (what GetAttribute returns).
    std::string value() const;

  private:
    friend class XmlDocument;
    // The value lies in the same text as the name, `valueGap_` bytes after the name's end: in the
    // parsed file, or in one pool string holding the name, a zero byte and the value. Keeping one
    // pointer keeps the record at 24 bytes; pe.xml has about three attributes per element.
    XmlAttribute* next_ = nullptr;
    const char* name_ = nullptr;
    std::uint32_t valueLength_ : 31 = 0;
    std::uint32_t valueNeedsDecoding_ : 1 = 0;
    std::uint16_t nameLength_ = 0;
    std::uint16_t valueGap_ = 0;
};

// One element. Callers walk the links directly: firstChild(), next(), previous(), parent().
// Top-level elements have no parent; they are the next-sibling chain of the document node.
class XmlElement {
  public:
    XmlElement* next() const { return next_; }
    XmlElement* previous() const { return previous_; }
    XmlElement* firstChild() const { return firstChild_; }
    XmlElement* parent() const { return parent_; }
    XmlAttribute* firstAttribute() const { return firstAttribute_; }
    // Empty for the document node.
    std::string_view name() const { return {name_, nameLength_}; }
    // The character data as stored (escapes included), empty when there is none.
    std::string_view rawText() const {
        return textOffset_ ? std::string_view(name_ + textOffset_, textLength_) : std::string_view();
    }
    bool hasText() const { return textOffset_ != 0; }
    bool textNeedsDecoding() const { return textNeedsDecoding_; }
    // The character data with entities decoded.
    std::string text() const;
    // Nesting level: 0 for top-level elements (and the document node).
    std::uint32_t depth() const { return depth_; }

  private:
    friend class XmlDocument;
    XmlElement* next_ = nullptr;
    XmlElement* previous_ = nullptr;
    XmlElement* firstChild_ = nullptr;
    XmlElement* parent_ = nullptr;
    XmlAttribute* firstAttribute_ = nullptr;
    const char* name_ = nullptr;
    std::uint32_t nameLength_ = 0;
    // Character data comes only from a parsed file, after the element's name: it is kept as its
    // distance from the name (0: no text), which keeps the record at 64 bytes.
    std::uint32_t textOffset_ = 0;
    std::uint32_t textLength_ : 31 = 0;
    std::uint32_t textNeedsDecoding_ : 1 = 0;
    std::uint32_t depth_ = 0;
};

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

class XmlDocument {
  public:
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

    // Releases the source and every pool block, and starts an empty tree whose document node is the
    // current element. The output name is kept.
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

    // Unlinks `element` and everything below it from the tree (the records stay in the pools until
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
    bool empty() const { return documentNode_->next_ == nullptr; }

    std::size_t elementBlockCount() const { return elementBlocks_.size(); }
    std::size_t attributeBlockCount() const { return attributeBlocks_.size(); }
    std::size_t stringBlockCount() const { return stringBlocks_.size(); }

  private:
    struct ElementBlock;
    struct AttributeBlock;
    struct StringBlock;
    class Parser;
    class Writer;

    void releaseSource();
    XmlElement* newElement();
    XmlAttribute* newAttribute();
    // Copies `text` into the string pool (zero-terminated); null when memory runs out.
    const char* poolString(std::string_view text);
    char* poolAllocate(std::size_t length);
    XmlElement* walk(std::string_view path, std::size_t index, bool create);
    HResult writeTree();
    HResult writeOut(std::string_view piece);
    HResult flushBuffer();
    void discardOutput();

    std::vector<std::unique_ptr<ElementBlock>> elementBlocks_;
    std::vector<std::unique_ptr<AttributeBlock>> attributeBlocks_;
    std::vector<std::unique_ptr<StringBlock>> stringBlocks_;
    StringBlock* currentStringBlock_ = nullptr;

    XmlElement* documentNode_ = nullptr;
    XmlElement* current_ = nullptr;
    XmlElement* siblingCursor_ = nullptr;
    std::uint32_t walkDepth_ = 0;

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
