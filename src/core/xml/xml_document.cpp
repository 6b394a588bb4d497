#include "core/xml/xml_document.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <limits>
#include <new>

#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

// Lengths are kept in 32 bits (31 for values and text, which share their word with a flag).
constexpr std::size_t kMaxTokenLength = 0x7FFFFFFF;
constexpr std::size_t kMaxAttributeNameLength = 0xFFFF;
constexpr std::size_t kMaxValueGap = 0xFFFF;

enum : std::uint8_t { kWhite = 1, kNameStart = 2, kNameChar = 4 };

constexpr std::array<std::uint8_t, 256> kCharClass = [] {
    std::array<std::uint8_t, 256> table{};
    table['\t'] = table['\n'] = table['\r'] = table[' '] = kWhite;
    table[':'] = table['_'] = kNameStart | kNameChar;
    for (int c = 'A'; c <= 'Z'; ++c)
        table[c] = kNameStart | kNameChar;
    for (int c = 'a'; c <= 'z'; ++c)
        table[c] = kNameStart | kNameChar;
    for (int c = '0'; c <= '9'; ++c)
        table[c] = kNameChar;
    table['-'] = table['.'] = table[0xB7] = kNameChar;
    return table;
}();

inline std::uint8_t charClass(char c) {
    return kCharClass[static_cast<unsigned char>(c)];
}
inline bool isWhite(char c) {
    return charClass(c) & kWhite;
}
inline bool isNameStart(char c) {
    return charClass(c) & kNameStart;
}
inline bool isNameChar(char c) {
    return charClass(c) & kNameChar;
}

// What each byte becomes in a program-set value: control bytes as "&#xNN;", the five markup
// characters as their named entities, everything else unchanged (empty entry).
const std::array<std::string_view, 256>& escapeTable() {
    static const std::array<std::string, 256> storage = [] {
        std::array<std::string, 256> table{};
        static constexpr char kHex[] = "0123456789abcdef";
        for (int c = 1; c < 0x20; ++c)
            table[c] = std::string("&#x") + kHex[c >> 4] + kHex[c & 15] + ';';
        table['"'] = "&quot;";
        table['&'] = "&amp;";
        table['\''] = "&apos;";
        table['<'] = "&lt;";
        table['>'] = "&gt;";
        return table;
    }();
    static const std::array<std::string_view, 256> views = [] {
        std::array<std::string_view, 256> table{};
        for (std::size_t i = 0; i < table.size(); ++i)
            table[i] = storage[i];
        return table;
    }();
    return views;
}

// A program-set value is taken up to its first zero byte, as a C string would be.
std::string_view untilZero(std::string_view value) {
    std::size_t zero = value.find('\0');
    return zero == std::string_view::npos ? value : value.substr(0, zero);
}

void appendCodePoint(std::string& out, std::uint32_t value) {
    if (value == 0 || value > 0x10FFFF) return;  // a zero would cut C strings; beyond Unicode: dropped
    if (value <= 0xFF) {
        out.push_back(static_cast<char>(value));  // single-byte text, as stored
    } else {
        appendUtf8(out, static_cast<char32_t>(value));
    }
}

// Digits of a numeric character reference up to the first non-digit; saturates above Unicode.
std::uint32_t referenceValue(std::string_view digits, bool hex) {
    std::uint32_t value = 0;
    for (char c : digits) {
        std::uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<std::uint32_t>(c - '0');
        } else if (hex && c >= 'a' && c <= 'f') {
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        } else if (hex && c >= 'A' && c <= 'F') {
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * (hex ? 16 : 10) + digit;
        if (value > 0x10FFFF) return 0x110000;
    }
    return value;
}

// Decodes entities: an entity runs from '&' to the next ';' inside the value and is recognised by
// its first letter. An '&' without a later ';' is kept literally with the rest of the value.
void decodeEntities(std::string_view raw, std::string& out) {
    out.reserve(out.size() + raw.size());
    std::size_t pos = 0;
    while (pos < raw.size()) {
        std::size_t amp = raw.find('&', pos);
        if (amp == std::string_view::npos) {
            out.append(raw.substr(pos));
            return;
        }
        out.append(raw.substr(pos, amp - pos));
        std::size_t semicolon = raw.find(';', amp + 1);
        if (semicolon == std::string_view::npos) {
            out.append(raw.substr(amp));
            return;
        }
        std::string_view entity = raw.substr(amp, semicolon + 1 - amp);  // '&' … ';'
        char first = entity.size() > 2 ? entity[1] : ';';
        switch (first) {
            case 'a':
                out.push_back(entity.size() == 5 ? '&' : '\'');  // "&amp;" is five bytes, "&apos;" six
                break;
            case 'q':
                out.push_back('"');
                break;
            case 'g':
                out.push_back('>');
                break;
            case 'l':
                out.push_back('<');
                break;
            case '#': {
                std::string_view body = entity.substr(2, entity.size() - 3);
                bool hex = !body.empty() && body[0] == 'x';
                appendCodePoint(out, referenceValue(hex ? body.substr(1) : body, hex));
                break;
            }
            default:
                break;  // unknown entities are dropped
        }
        pos = semicolon + 1;
    }
}

std::string decoded(std::string_view raw, bool needsDecoding) {
    std::string out;
    if (needsDecoding) {
        decodeEntities(raw, out);
    } else {
        out.assign(raw);
    }
    return out;
}

// Optional '-', then decimal digits up to the first non-digit; wraps like a 32-bit int.
std::int64_t parseDecimal(std::string_view text, int bits) {
    std::size_t pos = 0;
    bool negative = false;
    if (pos < text.size() && text[pos] == '-') {
        negative = true;
        ++pos;
    }
    std::uint64_t value = 0;
    for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos)
        value = (value * 10 + static_cast<std::uint64_t>(text[pos] - '0')) & 0xFFFFFFFFu;
    if (negative) value = (~value + 1) & 0xFFFFFFFFu;
    std::uint64_t mask = bits >= 32 ? 0xFFFFFFFFu : ((std::uint64_t{1} << bits) - 1);
    value &= mask;
    std::uint64_t sign = std::uint64_t{1} << (bits - 1);
    return static_cast<std::int64_t>(value ^ sign) - static_cast<std::int64_t>(sign);
}

// A "%g"-style scan: leading white space and '+' allowed; 0 when no number starts here.
template <typename Float>
double parseReal(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && isWhite(text[pos]))
        ++pos;
    if (pos < text.size() && text[pos] == '+') ++pos;
    Float value = 0;
    auto [end, error] = std::from_chars(text.data() + pos, text.data() + text.size(), value);
    (void)end;
    if (error == std::errc::invalid_argument) return 0.0;
    return static_cast<double>(value);
}

// A "%X"-style scan of a 64-bit value: leading white space, optional 0x, hexadecimal digits.
std::uint64_t parseHex64(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && isWhite(text[pos]))
        ++pos;
    if (text.size() - pos > 2 && text[pos] == '0' && (text[pos + 1] == 'x' || text[pos + 1] == 'X')) pos += 2;
    std::uint64_t value = 0;
    std::from_chars(text.data() + pos, text.data() + text.size(), value, 16);
    return value;
}

bool namesMatch(std::string_view a, std::string_view b) {
    return iequalsAscii(a, b);
}

// The position of the first `quote` from `pos` on (`end` when there is none), and whether an '&'
// comes before it. Values are short: a loop over bytes finds the end sooner than wider loads, which
// need more work to pick out the byte.
std::size_t findValueEnd(const char* data, std::size_t pos, std::size_t end, char quote, bool& ampersand) {
    for (; pos < end; ++pos) {
        if (data[pos] == quote) return pos;
        if (data[pos] == '&') {
            ampersand = true;
            const void* close = std::memchr(data + pos, quote, end - pos);
            return close ? static_cast<std::size_t>(static_cast<const char*>(close) - data) : end;
        }
    }
    return end;
}

}  // namespace

// --- Records -------------------------------------------------------------------------------------
//
// A large pe.xml has half a million elements and more than twice as many attributes; their records
// decide the memory of a load. Records live in blocks of 4 KB aligned to their size and are measured
// in 4-byte units. A block starts with a header naming the arena's block table and the text that the
// names of its parsed records are offsets into, so a record finds both by masking its own address.
// Records link to each other by numbers (block index << 10 | unit within the block; 0 for none, at
// most 31 bits) that the block table turns into addresses.
//
// What the parser writes one after the other is not linked at all: an element's attributes follow
// the element record as one run, and its first child follows the run. A record goes to the next
// block when it does not fit into the rest of the current one, and readers apply the same rule.
// Anything else (a program-made element or attribute, a long name, character data, a first child
// or first attribute that is not the next record) goes into an extension record that the short
// record names instead of its name. The short record keeps its place, so pointers stay valid.
//
// Element, 12 bytes: next sibling, parent, shape. The shape in short form: bits 0-19 the name's
// offset from the block's text, 20-27 the name's length, 28 the attribute run follows, 29 the first
// child follows the run; extended: bit 31 and the extension's link.
//
// Attribute, 8 bytes. Short form: word bits 0-19 the name's offset, 20-27 its length, 28 last of
// its run, 29 the value needs decoding; extra bits 0-2 the bytes between name and value, 3-31 the
// value's length. Long form: word bit 31 and the extension's link; extra bit 0 last of its run (an
// attribute made long keeps its place in the run).
//
// A removed element that was the adjacent first child of a short element stays the head of that
// chain: its parent link becomes kDetached and its next link goes on naming the first child. So
// removing an element never needs memory.

using namespace xml_records;

namespace {

constexpr std::size_t kMaxBlocks = std::size_t{1} << (31 - kUnitBits);
constexpr std::size_t kMaxShortName = kShortLengthMask;
constexpr std::size_t kMaxShortGap = kGapMask;
constexpr std::size_t kMaxShortValue = (std::size_t{1} << (32 - kGapBits)) - 1;

template <typename Record>
constexpr std::uint32_t unitsOf() {
    return static_cast<std::uint32_t>((sizeof(Record) + kUnitBytes - 1) / kUnitBytes);
}
template <typename Record>
constexpr std::uint32_t alignmentOf() {
    return static_cast<std::uint32_t>(std::max(std::size_t{1}, alignof(Record) / kUnitBytes));
}

inline std::uintptr_t addressOf(const void* pointer) {
    return reinterpret_cast<std::uintptr_t>(pointer);
}

}  // namespace

static_assert(sizeof(XmlElement) == 12 && alignof(XmlElement) <= kUnitBytes &&
              unitsOf<XmlElement>() == kElementUnits);
static_assert(sizeof(XmlAttribute) == 8 && alignof(XmlAttribute) <= kUnitBytes &&
              unitsOf<XmlAttribute>() == kAttributeUnits);
static_assert(kFirstUnit * kUnitBytes >= sizeof(BlockHeader));

struct XmlArena : Table {
    using Header = BlockHeader;

    struct Chunk {
        std::byte* memory;
        std::size_t bytes;
    };

    XmlArena() = default;
    XmlArena(const XmlArena&) = delete;
    XmlArena& operator=(const XmlArena&) = delete;
    ~XmlArena() {
        for (const Chunk& chunk : chunks)
            ::operator delete (chunk.memory, std::align_val_t{kBlockBytes});
    }

    static std::uint32_t linkOf(const void* record) {
        return headerOf(record).index << kUnitBits | unitOf(record);
    }
    static ElementExtension& extensionOf(const XmlElement* element) { return element->extension(); }
    static AttributeExtension& extensionOf(const XmlAttribute* attribute) { return attribute->extension(); }
    static XmlElement* adjacentChild(const XmlElement* element) { return element->adjacentChild(); }
    // True when a short record in a block whose text starts at `text` can name `name`; `begin` is
    // the start of the text being parsed (a block may still point into an earlier one).
    static bool reaches(const char* text, const char* name, const char* begin) {
        return text && addressOf(text) >= addressOf(begin) && addressOf(name) >= addressOf(text) &&
               addressOf(name) - addressOf(text) <= kOffsetMask;
    }

    Header& lastHeader() { return *reinterpret_cast<Header*>(current); }

    // The size of the next chunk in blocks. While a parse runs it follows what the parse used so
    // far against what is left of its text: half the expected rest, but at most what the parse has
    // used, so that an estimate from a short start cannot reserve much that stays unused.
    std::size_t chunkBlocks() const {
        const std::size_t made = blockList.size() - parseFirstBlock;
        if (parseEnd && made > 0 && addressOf(parsePosition) > addressOf(parseBegin)) {
            const double rest = static_cast<double>(made) * static_cast<double>(parseEnd - parsePosition) /
                                static_cast<double>(parsePosition - parseBegin);
            return std::clamp<std::size_t>(static_cast<std::size_t>(rest / 2) + 1, 1, made);
        }
        return std::clamp<std::size_t>(blockList.size() / 8, 1, 16);
    }

    // Starts a block whose text starts at `text` (null: not yet known).
    void openBlock(const char* text) {
        if (blockList.size() >= kMaxBlocks) throw std::bad_alloc();
        if (blockList.size() == blockList.capacity()) {
            blockList.reserve(blockList.size() * 2 + 16);
            blocks = blockList.data();
        }
        if (spareBlocks == 0) {
            const std::size_t count = chunkBlocks();
            chunks.reserve(chunks.size() + 1);
            auto* memory =
                static_cast<std::byte*>(::operator new (count* kBlockBytes, std::align_val_t{kBlockBytes}));
            chunks.push_back({memory, count * kBlockBytes});
            spare = memory;
            spareBlocks = count;
        }
        std::byte* block = spare;
        spare += kBlockBytes;
        --spareBlocks;
        new (block) Header{this, text, static_cast<std::uint32_t>(blockList.size())};
        blockList.push_back(block);
        current = block;
        used = kFirstUnit;
    }

    // Room for `units` units aligned to `alignment` units, in a new block when the current one is
    // full (`text` starts the new block's text).
    std::byte* take(std::uint32_t units, std::uint32_t alignment, const char* text) {
        std::size_t start = (used + alignment - 1) / alignment * alignment;
        if (start + units > kBlockUnits) {
            openBlock(text);
            start = used;
        }
        used = start + units;
        return current + start * kUnitBytes;
    }
    template <typename Record>
    Record* make(const char* text = nullptr) {
        return new (take(unitsOf<Record>(), alignmentOf<Record>(), text)) Record();
    }

    // Moves what a short element keeps by its place into an extension (same content afterwards).
    ElementExtension& extend(XmlElement* element) {
        if (element->shape_ & kExtended) return extensionOf(element);
        const std::string_view name = element->name();
        const XmlAttribute* firstAttribute = element->firstAttribute();
        const XmlElement* firstChild = element->firstChild();
        auto* extension = make<ElementExtension>();
        extension->name = name.data();
        extension->nameLength = static_cast<std::uint32_t>(name.size());
        extension->firstAttribute = firstAttribute ? linkOf(firstAttribute) : 0;
        extension->firstChild = firstChild ? linkOf(firstChild) : 0;
        element->shape_ = kExtended | linkOf(extension);
        return *extension;
    }

    // Moves a short attribute into an extension (same content and next attribute afterwards).
    AttributeExtension& lengthen(XmlAttribute* attribute) {
        if (attribute->word_ & kExtended) return extensionOf(attribute);
        const std::string_view name = attribute->name();
        const std::string_view value = attribute->rawValue();
        const XmlAttribute* next = attribute->next();
        auto* extension = make<AttributeExtension>();
        extension->name = name.data();
        extension->nameLength = static_cast<std::uint16_t>(name.size());
        extension->valueGap = static_cast<std::uint16_t>(value.data() - (name.data() + name.size()));
        extension->valueLength = static_cast<std::uint32_t>(value.size());
        extension->valueNeedsDecoding = (attribute->word_ & kDecode) != 0;
        extension->next = next ? linkOf(next) : 0;
        attribute->extra_ = (attribute->word_ & kLastOfRun) ? kLongLastOfRun : 0;
        attribute->word_ = kExtended | linkOf(extension);
        return *extension;
    }

    // A program-made attribute in long form, not linked yet.
    XmlAttribute* newAttribute() {
        auto* attribute = make<XmlAttribute>();
        auto* extension = make<AttributeExtension>();
        attribute->word_ = kExtended | linkOf(extension);
        attribute->extra_ = kLongLastOfRun;
        ++attributes;
        return attribute;
    }

    // Makes `element` (not linked yet) the first child of `parent`. When `parent` is short, it is
    // extended first unless its old head keeps the chain; on failure nothing is linked.
    void linkFirstChild(XmlElement* parent, XmlElement* element) {
        if (!(parent->shape_ & kExtended) && (parent->shape_ & kHasChild)) {
            XmlElement* head = adjacentChild(parent);
            if (head->parent_ == kDetached) {
                element->next_ = head->next_;
                head->next_ = linkOf(element);
                return;
            }
        }
        ElementExtension& extension = extend(parent);
        element->next_ = extension.firstChild;
        extension.firstChild = linkOf(element);
    }

    // Unlinks `element`, the first child of `parent`, without taking memory.
    void unlinkFirstChild(XmlElement* parent, XmlElement* element) {
        if (parent->shape_ & kExtended) {
            extensionOf(parent).firstChild = element->next_;
        } else {
            XmlElement* head = adjacentChild(parent);
            if (head == element) {
                element->parent_ = kDetached;  // its next link now holds the parent's first child
                return;
            }
            head->next_ = element->next_;
        }
        element->next_ = 0;
        element->parent_ = 0;
    }

    std::vector<std::byte*> blockList;  // Table::blocks points to its data
    std::vector<Chunk> chunks;
    std::byte* current = nullptr;  // the newest block
    std::byte* spare = nullptr;    // blocks of the newest chunk not handed out yet
    std::size_t spareBlocks = 0;
    // Units taken in the newest block. Kept wider than the records' fields, so that the compiler
    // need not reload it after each record written.
    std::size_t used = kBlockUnits;
    std::size_t elements = 0;
    std::size_t attributes = 0;
    XmlElement* documentNode = nullptr;
    // The parse under way, whose density sizes the chunks.
    const char* parseBegin = nullptr;
    const char* parseEnd = nullptr;
    const char* parsePosition = nullptr;
    std::size_t parseFirstBlock = 0;
};

struct XmlDocument::StringBlock {
    explicit StringBlock(std::size_t size) : text(new char[size]), capacity(size) {}
    std::unique_ptr<char[]> text;
    std::size_t capacity;
    std::size_t used = 0;
};

std::string XmlAttribute::value() const {
    return decoded(rawValue(), valueNeedsDecoding());
}

XmlElement* XmlElement::previous() const {
    const XmlElement* documentNode = static_cast<const XmlArena*>(headerOf(this).table)->documentNode;
    if (this == documentNode) return nullptr;
    const XmlElement* parent = this->parent();
    XmlElement* node = parent ? parent->firstChild() : const_cast<XmlElement*>(documentNode);
    for (XmlElement* previous = nullptr; node; previous = node, node = node->next())
        if (node == this) return previous;
    return nullptr;
}

std::string XmlElement::text() const {
    return decoded(rawText(), textNeedsDecoding());
}

std::uint32_t XmlElement::depth() const {
    std::uint32_t depth = 0;
    for (const XmlElement* node = parent(); node; node = node->parent())
        ++depth;
    return depth;
}

// --- Pools ---------------------------------------------------------------------------------------

XmlDocument::XmlDocument() {
    Reset();
}

XmlDocument::~XmlDocument() = default;  // an uncommitted output is discarded, the target kept

std::size_t XmlDocument::elementBlockCount() const {
    return (arena_->elements + kElementsPerBlock - 1) / kElementsPerBlock;
}

std::size_t XmlDocument::attributeBlockCount() const {
    return std::max<std::size_t>(1, (arena_->attributes + kAttributesPerBlock - 1) / kAttributesPerBlock);
}

std::size_t XmlDocument::recordBytes() const {
    std::size_t bytes = 0;
    for (const XmlArena::Chunk& chunk : arena_->chunks)
        bytes += chunk.bytes;
    return bytes;
}

XmlElement* XmlDocument::newElement(std::string_view name) {
    const char* copy = poolString(name);
    XmlElement* element = arena_->make<XmlElement>();
    auto* extension = arena_->make<ElementExtension>();
    extension->name = copy;
    extension->nameLength = static_cast<std::uint32_t>(name.size());
    element->shape_ = kExtended | XmlArena::linkOf(extension);
    ++arena_->elements;
    return element;
}

char* XmlDocument::poolAllocate(std::size_t length) {
    if (length >= kStringBlockSize - 1) {
        // Too long for any block: it gets a block of its own; the current block stays current.
        auto block = std::make_unique<StringBlock>(length + 1);
        block->used = length + 1;
        char* text = block->text.get();
        text[length] = '\0';
        stringBlocks_.push_back(std::move(block));
        return text;
    }
    if (!currentStringBlock_ || currentStringBlock_->used + length + 1 >= kStringBlockSize) {
        stringBlocks_.push_back(std::make_unique<StringBlock>(kStringBlockSize));
        currentStringBlock_ = stringBlocks_.back().get();
    }
    char* text = currentStringBlock_->text.get() + currentStringBlock_->used;
    currentStringBlock_->used += length + 1;
    text[length] = '\0';
    return text;
}

const char* XmlDocument::poolString(std::string_view text) {
    char* copy = poolAllocate(text.size());
    if (!text.empty()) std::memcpy(copy, text.data(), text.size());
    copy[text.size()] = '\0';
    return copy;
}

void XmlDocument::Reset() {
    releaseSource();
    arena_.reset();
    stringBlocks_.clear();
    currentStringBlock_ = nullptr;
    // A fresh arena holding the document node and one string block; an allocation failure here is
    // fatal like any other in a constructor, so it is left to propagate.
    arena_ = std::make_unique<XmlArena>();
    documentNode_ = arena_->make<XmlElement>();
    arena_->documentNode = documentNode_;
    arena_->elements = 1;
    stringBlocks_.push_back(std::make_unique<StringBlock>(kStringBlockSize));
    currentStringBlock_ = stringBlocks_.back().get();
    parsedTexts_.clear();
    current_ = documentNode_;
    bufferUsed_ = 0;
}

void XmlDocument::releaseSource() {
    if (source_.isOpen()) CloseMappedFile(source_);
    sourceName_.clear();
}

// The parsed tree points into the source, so it goes with it: a tree left behind would be read
// from released memory by the next walk or save.
HResult XmlDocument::CloseSource() {
    if (source_.isOpen()) Reset();
    releaseSource();
    return kOk;
}

// --- Parsing -------------------------------------------------------------------------------------

HResult XmlDocument::LoadFile(const std::filesystem::path& path) {
    releaseSource();
    if (!empty()) Reset();
    HResult hr = OpenMappedFile(path, source_);
    outputName_ = path;
    if (hr.failed()) return hr;
    sourceName_ = path;
    std::string_view text = source_.text();
    hr = Parse(text.data(), text.size());
    if (hr.failed()) {
        // The partial tree points into the released source; an empty tree is the safe state.
        Reset();
    }
    return hr;
}

// Reads one text into the tree, a scanner per construct: the markup between elements (white space
// and '<'), the prolog's declarations, comments and processing instructions, start and end tags,
// the attributes of a start tag, and character data. Each scanner returns the step that follows;
// a scanner that ends the parse records its result and returns kStop.
class XmlDocument::Parser {
  public:
    Parser(XmlDocument& document, const char* data, std::size_t length)
        : document_(document),
          arena_(*document.arena_),
          data_(data),
          end_(length),
          cursor_(document.documentNode_) {
        // One past the last byte that is not white space, and one past the last byte that is no
        // name character (0 when there is none). A scan for the end of white space or of a name
        // that starts before its stop finds a byte that ends it by that stop at the latest, so it
        // needs no check of `end_` per byte; one that starts later runs to `end_`. The scans look
        // at four bytes per round, each only after the ones before it continued the run, so none
        // reads past its stop.
        whiteStop_ = end_;
        while (whiteStop_ > 0 && isWhite(data_[whiteStop_ - 1]))
            --whiteStop_;
        nameStop_ = end_;
        while (nameStop_ > 0 && isNameChar(data_[nameStop_ - 1]))
            --nameStop_;
    }

    HResult run() {
        Step step = Step::kMarkup;
        try {
            while (step != Step::kStop) {
                switch (step) {
                    case Step::kMarkup:
                        step = scanMarkup();
                        break;
                    case Step::kAfterOpen:
                        step = scanAfterOpen();
                        break;
                    case Step::kAttributes:
                        step = scanAttributes();
                        break;
                    case Step::kContent:
                        step = scanContent();
                        break;
                    case Step::kStop:
                        break;
                }
            }
        } catch (const std::bad_alloc&) {
            // Nothing more is allocated: what waits for the end of the tag stays undone.
            waitingParent_ = nullptr;
            longName_ = {};
            longAttributes_.clear();
            finish(kOutOfMemory);
        }
        return result_;
    }

  private:
    enum class Step { kMarkup, kAfterOpen, kAttributes, kContent, kStop };

    // An attribute whose lengths do not fit its record; its extension is made at the end of the tag.
    struct LongAttribute {
        XmlAttribute* record;
        const char* name;
        std::size_t nameLength;
        std::size_t gap;
        std::size_t valueLength;
        bool needsDecoding;
    };

    // --- Scanners --------------------------------------------------------------------------------

    // Between elements: white space, then '<'.
    Step scanMarkup() {
        skipWhite();
        if (pos_ == end_) return finish(kOk);
        if (data_[pos_] != '<') return finish(kFail);
        ++pos_;
        return Step::kAfterOpen;
    }

    // After '<': a declaration or comment, a processing instruction, an end tag or a start tag.
    Step scanAfterOpen() {
        if (pos_ == end_) return finish(kFail);
        const char c = data_[pos_];
        if (c == '!') return scanDeclaration();
        if (c == '?') return scanProcessingInstruction();
        if (c == '/') return scanEndTag();
        if (isNameStart(c)) return scanStartTag();
        return finish(kFail);
    }

    // "<!...>": nested '<' and '>' are counted.
    Step scanDeclaration() {
        int open = 1;
        for (++pos_; pos_ < end_; ++pos_) {
            if (data_[pos_] == '<') {
                ++open;
            } else if (data_[pos_] == '>' && --open == 0) {
                break;
            }
        }
        if (pos_ == end_) return finish(kFail);
        ++pos_;
        return Step::kMarkup;
    }

    // "<?...>" up to the first '>'.
    Step scanProcessingInstruction() {
        const void* close = std::memchr(data_ + pos_, '>', end_ - pos_);
        if (!close) return finish(kFail);
        pos_ = static_cast<std::size_t>(static_cast<const char*>(close) - data_) + 1;
        return Step::kMarkup;
    }

    // "</name>" or "</>"; the name is not compared with the start tag's.
    Step scanEndTag() {
        ++pos_;
        const bool bare = pos_ < end_ && data_[pos_] == '>';
        if (!bare) {
            if (pos_ == end_ || !isNameStart(data_[pos_])) return finish(kFail);
            (void)readName();
        }
        // An end tag before any element has nothing to close.
        if (nesting_ < 1) return finish(kFail);
        if (cursorDepth_ > nesting_ - 1) {
            XmlElement* parent = cursor_->parent();
            if (!parent) return finish(kFail);
            cursor_ = parent;
            --cursorDepth_;
        }
        if (nesting_ == 1) return finish(kOk);  // the top-level element is closed
        if (pos_ == end_ || data_[pos_] != '>') return finish(kFail);
        ++pos_;
        --nesting_;
        return bare ? Step::kContent : Step::kMarkup;
    }

    // The name of a start tag: places the element's record and links it into the tree.
    Step scanStartTag() {
        const std::string_view name = readName();
        const bool child = nesting_ != cursorDepth_;
        XmlElement* first =
            child && (cursor_->shape_ & (kExtended | kHasChild)) ? cursor_->firstChild() : nullptr;
        // In the current block when its text reaches the name, else in a new block whose text
        // starts at the name.
        XmlArena::Header* header =
            arena_.used + kElementUnits <= kBlockUnits ? &arena_.lastHeader() : nullptr;
        if (header && !header->text) header->text = name.data();
        if (!header || !XmlArena::reaches(header->text, name.data(), data_)) {
            arena_.openBlock(name.data());
            header = &arena_.lastHeader();
        }
        arena_.parsePosition = name.data();
        auto* element = new (arena_.take(kElementUnits, 1, name.data())) XmlElement();
        ++elements_;
        element->shape_ = static_cast<std::uint32_t>(name.data() - header->text);
        if (name.size() <= kMaxShortName) {
            element->shape_ |= static_cast<std::uint32_t>(name.size()) << kLengthShift;
        } else {
            longName_ = name;
        }
        if (child) {
            element->parent_ = XmlArena::linkOf(cursor_);
            element->next_ = first ? XmlArena::linkOf(first) : 0;
            if (cursor_->shape_ & kExtended) {
                XmlArena::extensionOf(cursor_).firstChild = XmlArena::linkOf(element);
            } else if (!first && adjacentToTag(cursor_) == element) {
                cursor_->shape_ |= kHasChild;
            } else {
                waitingParent_ = cursor_;
            }
        } else {
            element->parent_ = cursor_->parent_;
            element->next_ = cursor_->next_;
            cursor_->next_ = XmlArena::linkOf(element);
        }
        cursor_ = element;
        cursorDepth_ = nesting_;
        tag_ = element;
        lastAttribute_ = nullptr;
        ++nesting_;
        return Step::kAttributes;
    }

    // The attributes of the start tag up to '>' or "/>", one after the other without going round
    // the steps.
    Step scanAttributes() {
        for (;;) {
            // White space here is a single space or nothing nearly always.
            if (pos_ < end_ && isWhite(data_[pos_])) skipWhite();
            if (pos_ == end_) return finish(kOk);
            const char c = data_[pos_];
            if (c == '>') {
                ++pos_;
                endTag();
                return Step::kContent;
            }
            if (c == '/') {
                ++pos_;
                if (pos_ < end_ && data_[pos_] == '>') {
                    ++pos_;
                    endTag();
                    if (nesting_ == 1) return finish(kOk);
                    --nesting_;
                    return Step::kContent;
                }
                continue;
            }
            if (!isNameStart(c)) return finish(kFail);
            if (!scanAttribute()) return finish(kFail);
        }
    }

    // One attribute: name, '=', quoted value. False for malformed input.
    bool scanAttribute() {
        const std::string_view name = readName();
        // Until its value is read the attribute has an empty name and value (what a failure
        // leaves).
        auto* attribute = new (arena_.take(kAttributeUnits, 1, name.data())) XmlAttribute();
        ++attributes_;
        const char* text = headerOf(attribute).text;
        // The block's text starts in this text, at the tag's name or at an earlier attribute's name
        // (a block opened for this one starts at its name).
        const bool near = addressOf(name.data()) - addressOf(text) <= kOffsetMask;
        attribute->word_ = kLastOfRun | (near ? static_cast<std::uint32_t>(name.data() - text) : 0);
        if (lastAttribute_) {
            lastAttribute_->word_ &= ~kLastOfRun;
        } else {
            tag_->shape_ |= kHasAttributes;
        }
        lastAttribute_ = attribute;
        if (pos_ < end_ && isWhite(data_[pos_])) skipWhite();
        if (pos_ == end_ || data_[pos_] != '=') return false;
        ++pos_;
        if (pos_ < end_ && isWhite(data_[pos_])) skipWhite();
        if (pos_ == end_ || (data_[pos_] != '"' && data_[pos_] != '\'')) return false;
        const char quote = data_[pos_++];
        bool needsDecoding = false;
        const std::size_t valueEnd = findValueEnd(data_, pos_, end_, quote, needsDecoding);
        if (valueEnd == end_) return false;
        // Names and the white space around '=' are short in any real file; longer ones than 16
        // bits are refused.
        const std::size_t gap = pos_ - static_cast<std::size_t>(name.data() + name.size() - data_);
        if (name.size() > kMaxAttributeNameLength || gap > kMaxValueGap) return false;
        const std::size_t valueLength = valueEnd - pos_;
        if (near && name.size() <= kMaxShortName && gap <= kMaxShortGap && valueLength <= kMaxShortValue) {
            attribute->word_ |=
                static_cast<std::uint32_t>(name.size()) << kLengthShift | (needsDecoding ? kDecode : 0u);
            attribute->extra_ = static_cast<std::uint32_t>(gap | valueLength << kGapBits);
        } else {
            longAttributes_.push_back({attribute, name.data(), name.size(), gap, valueLength, needsDecoding});
        }
        pos_ = valueEnd + 1;
        return true;
    }

    // Inside an element: white space, character data up to the next '<', then '<'.
    Step scanContent() {
        skipWhite();
        if (pos_ == end_) return finish(kOk);
        if (data_[pos_] != '<' && !scanText()) return finish(kFail);
        ++pos_;
        return Step::kAfterOpen;
    }

    // Character data up to the next '<' (trailing white space included), kept with the element it
    // belongs to. False when no '<' follows or the text does not follow the element's start tag.
    bool scanText() {
        const void* open = std::memchr(data_ + pos_, '<', end_ - pos_);
        if (!open) return false;
        const std::size_t textEnd = static_cast<std::size_t>(static_cast<const char*>(open) - data_);
        // The text follows the start tag of the element it belongs to.
        const char* name = cursor_ == document_.documentNode_ ? nullptr : cursor_->name().data();
        const auto nameAt = addressOf(name);
        const auto textAt = addressOf(data_ + pos_);
        if (nameAt < addressOf(data_) || nameAt >= textAt) return false;
        ElementExtension& extension = arena_.extend(cursor_);
        extension.textOffset = static_cast<std::uint32_t>(textAt - nameAt);
        extension.textLength = static_cast<std::uint32_t>(textEnd - pos_) & kMaxTokenLength;
        extension.textNeedsDecoding = std::memchr(data_ + pos_, '&', textEnd - pos_) != nullptr;
        pos_ = textEnd;
        return true;
    }

    // --- Helpers ---------------------------------------------------------------------------------

    void skipWhite() {
        if (pos_ >= whiteStop_) {
            pos_ = end_;
            return;
        }
        for (;; pos_ += 4) {
            if (!isWhite(data_[pos_])) break;
            if (!isWhite(data_[pos_ + 1])) {
                pos_ += 1;
                break;
            }
            if (!isWhite(data_[pos_ + 2])) {
                pos_ += 2;
                break;
            }
            if (!isWhite(data_[pos_ + 3])) {
                pos_ += 3;
                break;
            }
        }
    }

    // A name starting at `pos_` (a name-start byte).
    std::string_view readName() {
        const std::size_t start = pos_;
        ++pos_;
        if (pos_ >= nameStop_) {
            pos_ = end_;
        } else {
            for (;; pos_ += 4) {
                if (!isNameChar(data_[pos_])) break;
                if (!isNameChar(data_[pos_ + 1])) {
                    pos_ += 1;
                    break;
                }
                if (!isNameChar(data_[pos_ + 2])) {
                    pos_ += 2;
                    break;
                }
                if (!isNameChar(data_[pos_ + 3])) {
                    pos_ += 3;
                    break;
                }
            }
        }
        return std::string_view(data_ + start, pos_ - start);
    }

    // Where the adjacent first child of `element`, the element of the last start tag, lies: after
    // its attribute run, whose last record the parser still holds. Readers find the same place by
    // walking the run.
    const XmlElement* adjacentToTag(const XmlElement* element) const {
        const std::byte* place = lastAttribute_ ? following(lastAttribute_, kAttributeUnits, kElementUnits)
                                                : following(element, kElementUnits, kElementUnits);
        return reinterpret_cast<const XmlElement*>(place);
    }

    // The start tag being read ends. Until then only its element and attribute records are placed,
    // one after the other, so that the attributes and the first child land where readers expect
    // them; what needs an extension waits for the end of the tag.
    void endTag() {
        if (waitingParent_ || !longName_.empty() || !longAttributes_.empty()) {
            endLongTag();
        } else {
            tag_ = nullptr;
        }
    }

    // What waits for the end of the tag; nothing, nearly always.
    void endLongTag() {
        XmlElement* element = tag_;
        XmlElement* parent = waitingParent_;
        const std::string_view name = longName_;
        std::vector<LongAttribute> waiting;
        waiting.swap(longAttributes_);
        tag_ = nullptr;
        waitingParent_ = nullptr;
        longName_ = {};
        // Should memory run out here, what is left stays empty: an attribute without name and
        // value, an element without a name, a child missing from its parent's chain.
        for (const LongAttribute& attribute : waiting) {
            AttributeExtension& extension = arena_.lengthen(attribute.record);
            extension.name = attribute.name;
            extension.nameLength = static_cast<std::uint16_t>(attribute.nameLength);
            extension.valueGap = static_cast<std::uint16_t>(attribute.gap);
            extension.valueLength = static_cast<std::uint32_t>(attribute.valueLength) & kMaxTokenLength;
            extension.valueNeedsDecoding = attribute.needsDecoding;
        }
        if (!name.empty()) {
            ElementExtension& extension = arena_.extend(element);
            extension.name = name.data();
            extension.nameLength = static_cast<std::uint32_t>(name.size());
        }
        if (parent) arena_.extend(parent).firstChild = XmlArena::linkOf(element);
    }

    // Ends the parse with `hr`: the records made join the arena's counts, the open tag is ended
    // and the document node becomes current.
    Step finish(HResult hr) {
        arena_.elements += elements_;
        arena_.attributes += attributes_;
        elements_ = attributes_ = 0;
        endTag();
        document_.current_ = document_.documentNode_;
        result_ = hr;
        return Step::kStop;
    }

    XmlDocument& document_;
    XmlArena& arena_;
    const char* data_;
    // Every scan is bounded by `end_`; `pos_` never passes it.
    const std::size_t end_;
    std::size_t whiteStop_ = 0;
    std::size_t nameStop_ = 0;
    std::size_t pos_ = 0;
    std::int64_t nesting_ = 0;
    XmlElement* cursor_;
    std::int64_t cursorDepth_ = 0;

    XmlElement* tag_ = nullptr;  // the element of the start tag being read
    XmlAttribute* lastAttribute_ = nullptr;
    std::size_t elements_ = 0;  // records made, added to the arena's counts at the end
    std::size_t attributes_ = 0;
    std::string_view longName_;            // the tag's name when the short record cannot hold it
    XmlElement* waitingParent_ = nullptr;  // the tag's parent when the tag is not its adjacent child
    std::vector<LongAttribute> longAttributes_;
    HResult result_ = kOk;
};

HResult XmlDocument::Parse(const char* data, std::size_t length) {
    if (length > kMaxTokenLength) return kFail;
    if (length > 0 && data == nullptr) return kPointer;
    try {
        parsedTexts_.emplace_back(data, length);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }

    XmlArena& arena = *arena_;
    // While the parse runs, the arena sizes its chunks from the parse's progress.
    struct ParseScope {
        ParseScope(XmlArena& arena, const char* data, std::size_t length) : arena_(arena) {
            arena_.parseBegin = arena_.parsePosition = data;
            arena_.parseEnd = data + length;
            arena_.parseFirstBlock = arena_.blockList.size();
        }
        ~ParseScope() { arena_.parseBegin = arena_.parseEnd = arena_.parsePosition = nullptr; }
        ParseScope(const ParseScope&) = delete;
        ParseScope& operator=(const ParseScope&) = delete;
        XmlArena& arena_;
    } scope(arena, data, length);

    return Parser(*this, data, length).run();
}

// --- Path walks ----------------------------------------------------------------------------------

XmlElement* XmlDocument::SetCurrent(XmlElement* element) {
    XmlElement* previous = current_;
    current_ = element;
    return previous;
}

XmlElement* XmlDocument::walk(std::string_view path, std::size_t index, bool create) {
    std::vector<std::string_view> names;
    bool absolute = !path.empty() && (path[0] == '\\' || path[0] == '/');
    for (std::size_t pos = 0; pos <= path.size();) {
        std::size_t separator = path.find_first_of("\\/", pos);
        if (separator == std::string_view::npos) separator = path.size();
        if (separator > pos) names.push_back(path.substr(pos, separator - pos));
        pos = separator + 1;
    }
    if (names.empty()) return current_;
    if (!absolute && !current_) return nullptr;

    // The chain searched for the next name, and the element a missing name is appended after.
    XmlElement* chain = absolute ? documentNode_->next() : current_;
    XmlElement* appendAfter = absolute ? documentNode_ : nullptr;

    auto makeSibling = [&](XmlElement* after, std::string_view name) {
        XmlElement* element = newElement(name);
        // A removed element keeps no siblings: what is made after it stays on its own.
        if (after->parent_ != kDetached) {
            element->parent_ = after->parent_;
            element->next_ = after->next_;
            after->next_ = XmlArena::linkOf(element);
        }
        return element;
    };
    auto makeFirstChild = [&](XmlElement* parent, std::string_view name) {
        XmlElement* element = newElement(name);
        element->parent_ = XmlArena::linkOf(parent);
        arena_->linkFirstChild(parent, element);
        return element;
    };

    for (;;) {
        XmlElement* firstMatch = nullptr;
        XmlElement* found = nullptr;
        for (std::size_t i = 0; i < names.size(); ++i) {
            found = nullptr;
            XmlElement* last = appendAfter;
            for (XmlElement* element = chain; element; element = element->next()) {
                last = element;
                if (namesMatch(element->name(), names[i])) {
                    found = element;
                    break;
                }
            }
            if (!found) {
                if (!create || !last) return nullptr;
                found = makeSibling(last, names[i]);
            }
            if (i == 0) firstMatch = found;
            if (i + 1 == names.size()) break;
            XmlElement* firstChild = found->firstChild();
            if (!firstChild) {
                if (!create) return nullptr;
                for (++i; i < names.size(); ++i)
                    found = makeFirstChild(found, names[i]);
                break;
            }
            chain = firstChild;
            appendAfter = nullptr;
        }
        if (index == 0) {
            current_ = found;
            return found;
        }
        // Repeat the whole path from the sibling after the element that matched the first name.
        --index;
        XmlElement* next = firstMatch->next();
        if (!next) {
            if (!create) return nullptr;
            next = makeSibling(firstMatch, names[0]);
        }
        chain = next;
        appendAfter = firstMatch;
    }
}

XmlElement* XmlDocument::FindElement(std::string_view path, std::size_t index) {
    if (empty()) return nullptr;
    return walk(path, index, false);
}

XmlElement* XmlDocument::MakeElement(std::string_view path, std::size_t index) {
    try {
        return walk(path, index, true);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

// --- Editing -------------------------------------------------------------------------------------

XmlElement* XmlDocument::InsertElement(XmlElement* parent, XmlElement* before, std::string_view name) {
    if (!parent || parent == documentNode_ || (before && before->parent() != parent)) return nullptr;
    try {
        XmlElement* after = nullptr;
        if (before) {
            after = before->previous();
        } else {
            for (XmlElement* child = parent->firstChild(); child; child = child->next())
                after = child;
        }
        XmlElement* element = newElement(name);
        element->parent_ = XmlArena::linkOf(parent);
        if (after) {
            element->next_ = after->next_;
            after->next_ = XmlArena::linkOf(element);
        } else {
            arena_->linkFirstChild(parent, element);
        }
        (void)SetCurrent(element);
        return element;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void XmlDocument::RemoveElement(XmlElement* element) {
    if (!element || element == documentNode_) return;
    auto inside = [element](const XmlElement* node) {
        for (; node; node = node->parent())
            if (node == element) return true;
        return false;
    };
    XmlElement* parent = element->parent();
    if (inside(current_)) (void)SetCurrent(parent ? parent : documentNode_);

    // Top-level elements are the chain after the document node.
    XmlElement* node = parent ? parent->firstChild() : documentNode_;
    if (parent && node == element) {
        arena_->unlinkFirstChild(parent, element);
        return;
    }
    while (node && node->next() != element)
        node = node->next();
    if (!node) return;  // in no chain: removed before
    node->next_ = element->next_;
    element->next_ = 0;
    element->parent_ = 0;
}

// --- Attributes ----------------------------------------------------------------------------------

XmlAttribute* XmlDocument::FindAttribute(const XmlElement* element, std::string_view name) {
    if (!element) return nullptr;
    for (XmlAttribute* attribute = element->firstAttribute(); attribute; attribute = attribute->next())
        if (namesMatch(attribute->name(), name)) return attribute;
    return nullptr;
}

HResult XmlDocument::GetAttributeValue(std::string_view path, std::string_view name,
                                       XmlValueRequest& request) {
    XmlElement* element = path.empty() ? current_ : FindElement(path, 0);
    XmlAttribute* attribute = FindAttribute(element, name);
    if (!attribute) return kFail;
    std::string_view raw = attribute->rawValue();
    try {
        switch (request.kind) {
            case XmlValueKind::kText: {
                request.text.clear();
                if (attribute->valueNeedsDecoding()) {
                    decodeEntities(raw, request.text);
                    // The decoder stopped two bytes before the end of a caller's buffer.
                    if (request.textLimit > 0)
                        request.text.resize(
                            std::min(request.text.size(),
                                     request.textLimit - std::min<std::size_t>(request.textLimit, 2)));
                } else {
                    request.text.assign(
                        raw.substr(0, request.textLimit > 0 ? request.textLimit - 1 : raw.size()));
                }
                break;
            }
            case XmlValueKind::kInt32:
            case XmlValueKind::kInt32Alt:
                request.integer = parseDecimal(raw, 32);
                break;
            case XmlValueKind::kInt16:
            case XmlValueKind::kInt16Alt:
                request.integer = parseDecimal(raw, 16);
                break;
            case XmlValueKind::kInt8:
                request.integer = parseDecimal(raw, 8);
                break;
            case XmlValueKind::kFloat:
                request.real = parseReal<float>(raw);
                break;
            case XmlValueKind::kDouble:
                request.real = parseReal<double>(raw);
                break;
            case XmlValueKind::kHex64:
                request.unsignedValue = parseHex64(raw);
                break;
            case XmlValueKind::kBool16:
                request.integer = (!raw.empty() && raw[0] != ' ' && raw[0] != '0') ? -1 : 0;
                break;
            case XmlValueKind::kNothing:
            case XmlValueKind::kNothing10:
                break;
        }
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    return kOk;
}

HResult XmlDocument::GetAttribute(std::string_view path, std::string_view name, std::string& value) {
    XmlValueRequest request;
    request.kind = XmlValueKind::kText;
    HResult hr = GetAttributeValue(path, name, request);
    if (hr.succeeded()) value = std::move(request.text);
    return hr;
}

HResult XmlDocument::GetAttributeInt(std::string_view path, std::string_view name, std::int32_t& value) {
    XmlValueRequest request;
    request.kind = XmlValueKind::kInt32Alt;
    HResult hr = GetAttributeValue(path, name, request);
    if (hr.succeeded()) value = static_cast<std::int32_t>(request.integer);
    return hr;
}

HResult XmlDocument::SetAttribute(std::string_view path, std::string_view name, std::string_view value,
                                  std::size_t index) {
    if (!MakeElement(path, index)) return current_ ? kOutOfMemory : kFail;
    if (!SetCurrentAttribute(name, value, nullptr)) return kOutOfMemory;
    return kOk;
}

XmlAttribute* XmlDocument::SetCurrentAttribute(std::string_view name, std::string_view value,
                                               XmlAttribute* attribute) {
    if (!attribute && !current_) return nullptr;
    name = untilZero(name);
    value = untilZero(value);
    const auto& table = escapeTable();
    std::size_t escapedLength = 0;
    for (char c : value) {
        std::string_view replacement = table[static_cast<unsigned char>(c)];
        escapedLength += replacement.empty() ? 1 : replacement.size();
    }
    if (escapedLength > kMaxTokenLength || name.size() > kMaxAttributeNameLength) return nullptr;
    try {
        // New text first (name, zero byte, escaped value in one pool string); the attribute is
        // changed only once everything is allocated.
        char* text = poolAllocate(name.size() + 1 + escapedLength);
        if (!name.empty()) std::memcpy(text, name.data(), name.size());
        text[name.size()] = '\0';
        bool replaced = false;
        char* out = text + name.size() + 1;
        for (char c : value) {
            std::string_view replacement = table[static_cast<unsigned char>(c)];
            if (replacement.empty()) {
                *out++ = c;
            } else {
                std::memcpy(out, replacement.data(), replacement.size());
                out += replacement.size();
                replaced = true;
            }
        }
        if (!attribute) {
            XmlAttribute* last = nullptr;
            for (XmlAttribute* node = current_->firstAttribute(); node && !attribute; node = node->next()) {
                if (namesMatch(node->name(), name)) attribute = node;
                last = node;
            }
            if (!attribute) {
                // Appended: the last attribute, or the element when it has none, names it from its
                // extension, made first so that a failure leaves everything as it was.
                ElementExtension* element = last ? nullptr : &arena_->extend(current_);
                AttributeExtension* previous = last ? &arena_->lengthen(last) : nullptr;
                attribute = arena_->newAttribute();
                (previous ? previous->next : element->firstAttribute) = XmlArena::linkOf(attribute);
            }
        }
        AttributeExtension& extension = arena_->lengthen(attribute);
        extension.name = text;
        extension.nameLength = static_cast<std::uint16_t>(name.size());
        extension.valueGap = 1;
        extension.valueLength = static_cast<std::uint32_t>(escapedLength);
        extension.valueNeedsDecoding = replaced;
        return attribute;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

std::string XmlDocument::GetElementName(const XmlElement* element) {
    return element ? std::string(element->name()) : std::string();
}

// --- Writing -------------------------------------------------------------------------------------

HResult XmlDocument::OpenOutput(const std::filesystem::path& path) {
    outputName_ = path;
    if (outputFile_) {
        if (HResult hr = CloseOutput(); hr.failed()) return hr;
    }
    try {
        if (!buffer_) buffer_ = std::make_unique<char[]>(kOutputBufferSize);
        auto file = std::make_unique<AtomicFileWriter>();
        if (HResult hr = file->open(path); hr.failed()) return hr;
        outputFile_ = std::move(file);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    bufferUsed_ = 0;
    outputError_ = kOk;
    return kOk;
}

HResult XmlDocument::flushBuffer() {
    if (bufferUsed_ == 0) return outputError_;
    std::string_view used(buffer_.get(), bufferUsed_);
    bufferUsed_ = 0;
    return writeOut(used);
}

// Passes bytes to the output (the write callback). The first failure sticks: everything after it
// is refused, so a later close cannot commit a file with a hole in it.
HResult XmlDocument::writeOut(std::string_view piece) {
    if (outputError_.failed()) return outputError_;
    if (outputString_) {
        try {
            outputString_->append(piece);
        } catch (const std::bad_alloc&) {
            outputError_ = kOutOfMemory;
        }
    } else if (outputFile_) {
        outputError_ = outputFile_->write(piece);
    } else {
        outputError_ = kFail;
    }
    return outputError_;
}

HResult XmlDocument::FlushOutput() {
    return flushBuffer();
}

void XmlDocument::discardOutput() {
    if (outputFile_) outputFile_->discard();
    outputFile_.reset();
    bufferUsed_ = 0;
}

HResult XmlDocument::CloseOutput() {
    if (!outputFile_) {
        bufferUsed_ = 0;
        return kOk;
    }
    HResult hr = flushBuffer();
    if (hr.failed()) {
        discardOutput();
        outputError_ = kOk;
        return hr;
    }
    hr = outputFile_->commit();
    outputFile_.reset();
    bufferUsed_ = 0;
    return hr;
}

// Builds the text piece by piece in the output buffer. The buffer is written out when less than the
// reserve is free; a piece larger than the free space goes out after a flush, and one larger than
// the whole buffer is written straight through.
class XmlDocument::Writer {
  public:
    explicit Writer(XmlDocument& document) : document_(document) {}

    void put(std::string_view piece) {
        if (piece.empty() || failed()) return;
        std::size_t free = kOutputBufferSize - document_.bufferUsed_;
        if (free < kFlushReserve || piece.size() > free) {
            if (document_.flushBuffer().failed()) return;
            free = kOutputBufferSize;
        }
        if (piece.size() > free) {
            (void)document_.writeOut(piece);
            return;
        }
        std::memcpy(document_.buffer_.get() + document_.bufferUsed_, piece.data(), piece.size());
        document_.bufferUsed_ += piece.size();
    }

    void indent(std::size_t level) {
        static constexpr std::string_view kSpaces =
            "                                                                                ";
        for (std::size_t count = level * 3; count > 0 && !failed();) {
            std::size_t chunk = std::min(count, kSpaces.size());
            put(kSpaces.substr(0, chunk));
            count -= chunk;
        }
    }

    void openElement(const XmlElement* element, bool hasChildren, std::size_t level) {
        indent(level);
        put("<");
        put(element->name());
        for (const XmlAttribute* attribute = element->firstAttribute(); attribute;
             attribute = attribute->next()) {
            put(" ");
            put(attribute->name());
            put("=\"");
            putValue(attribute->rawValue());
            put("\"");
        }
        if (hasChildren) {
            put(">\r\n");
        } else if (element->hasText()) {
            put(">");
            put(element->rawText());
            closeTag(element);
        } else {
            put("/>\r\n");
        }
    }

    void closeElement(const XmlElement* element, std::size_t level) {
        indent(level);
        if (element->hasText()) put(element->rawText());
        closeTag(element);
    }

    bool failed() const { return document_.outputError_.failed(); }

  private:
    // Values are written as stored. A parsed value that stood in single quotes may hold a double
    // quote, which would end the value early on the next load; it is written as "&quot;", which
    // reads back as the same text.
    void putValue(std::string_view value) {
        for (std::size_t quote; (quote = value.find('"')) != std::string_view::npos;) {
            put(value.substr(0, quote));
            put("&quot;");
            value.remove_prefix(quote + 1);
        }
        put(value);
    }
    void closeTag(const XmlElement* element) {
        put("</");
        put(element->name());
        put(">\r\n");
    }
    XmlDocument& document_;
};

HResult XmlDocument::writeTree() {
    if (!buffer_) {
        try {
            buffer_ = std::make_unique<char[]>(kOutputBufferSize);
        } catch (const std::bad_alloc&) {
            return kOutOfMemory;
        }
    }
    Writer writer(*this);
    writer.put("<?xml version='1.0' encoding='ISO-8859-1'?>\r\n");
    // Depth-first without recursion: a deeply nested file must not exhaust the stack.
    for (const XmlElement* top = documentNode_->next(); top && !writer.failed(); top = top->next()) {
        const XmlElement* element = top;
        std::size_t level = 0;
        for (;;) {
            const XmlElement* child = element->firstChild();
            writer.openElement(element, child != nullptr, level);
            if (child) {
                element = child;
                ++level;
                continue;
            }
            const XmlElement* next = element->next();
            while (level > 0 && !next) {
                element = element->parent();
                --level;
                writer.closeElement(element, level);
                next = element->next();
            }
            if (level == 0 || writer.failed()) break;
            element = next;
        }
    }
    return outputError_;
}

HResult XmlDocument::Save() {
    if (!outputFile_) {
        if (outputName_.empty()) return kFail;
        if (HResult hr = OpenOutput(outputName_); hr.failed()) return hr;
    }
    HResult hr = writeTree();
    if (hr.failed()) {
        discardOutput();
        outputError_ = kOk;
        return hr;
    }
    return CloseOutput();
}

HResult XmlDocument::SaveFile() {
    bool overSource = source_.isOpen() && !outputName_.empty() &&
                      (outputName_ == sourceName_ || IsSameFile(outputName_, sourceName_));
    if (!overSource) return Save();
    // The text goes to a temporary file beside the loaded one, which is renamed over it only when
    // everything was written; the loaded file is never deleted first.
    HResult hr = Save();
    (void)CloseSource();  // empties the tree as well
    return hr;
}

HResult XmlDocument::SaveToString(std::string& out) {
    if (outputFile_) return kFail;
    const auto outBegin = reinterpret_cast<std::uintptr_t>(out.data());
    const auto outEnd = outBegin + out.capacity() + 1;
    for (std::string_view text : parsedTexts_) {
        const auto begin = reinterpret_cast<std::uintptr_t>(text.data());
        if (!text.empty() && begin < outEnd && outBegin < begin + text.size()) return kInvalidArg;
    }
    out.clear();
    outputString_ = &out;
    bufferUsed_ = 0;
    outputError_ = kOk;
    HResult hr = writeTree();
    if (hr.succeeded()) hr = flushBuffer();
    outputString_ = nullptr;
    outputError_ = kOk;
    bufferUsed_ = 0;
    return hr;
}

}  // namespace kestrel
