#include "core/xml/xml_document.h"

#include <array>
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

}  // namespace

// The records stay small: a large pe.xml has half a million elements and three times as many
// attributes, and their size decides the memory of a load.
static_assert(sizeof(void*) != 8 || sizeof(XmlElement) == 64);
static_assert(sizeof(void*) != 8 || sizeof(XmlAttribute) == 24);

struct XmlDocument::ElementBlock {
    std::array<XmlElement, kElementsPerBlock> entries{};
    std::size_t count = 0;
};

struct XmlDocument::AttributeBlock {
    std::array<XmlAttribute, kAttributesPerBlock> entries{};
    std::size_t count = 0;
};

struct XmlDocument::StringBlock {
    explicit StringBlock(std::size_t size) : text(new char[size]), capacity(size) {}
    std::unique_ptr<char[]> text;
    std::size_t capacity;
    std::size_t used = 0;
};

std::string XmlAttribute::value() const {
    return decoded(rawValue(), valueNeedsDecoding_);
}

std::string XmlElement::text() const {
    return decoded(rawText(), textNeedsDecoding_);
}

// --- Pools ---------------------------------------------------------------------------------------

XmlDocument::XmlDocument() {
    Reset();
}

XmlDocument::~XmlDocument() = default;  // an uncommitted output is discarded, the target kept

XmlElement* XmlDocument::newElement() {
    if (elementBlocks_.empty() || elementBlocks_.back()->count == kElementsPerBlock)
        elementBlocks_.push_back(std::make_unique<ElementBlock>());
    ElementBlock& block = *elementBlocks_.back();
    return &block.entries[block.count++];
}

XmlAttribute* XmlDocument::newAttribute() {
    if (attributeBlocks_.empty() || attributeBlocks_.back()->count == kAttributesPerBlock)
        attributeBlocks_.push_back(std::make_unique<AttributeBlock>());
    AttributeBlock& block = *attributeBlocks_.back();
    return &block.entries[block.count++];
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
    elementBlocks_.clear();
    attributeBlocks_.clear();
    stringBlocks_.clear();
    currentStringBlock_ = nullptr;
    // One fresh block of each pool; an allocation failure here is fatal like any other in a
    // constructor, so it is left to propagate.
    elementBlocks_.push_back(std::make_unique<ElementBlock>());
    attributeBlocks_.push_back(std::make_unique<AttributeBlock>());
    stringBlocks_.push_back(std::make_unique<StringBlock>(kStringBlockSize));
    currentStringBlock_ = stringBlocks_.back().get();
    parsedTexts_.clear();
    documentNode_ = newElement();
    current_ = documentNode_;
    siblingCursor_ = nullptr;
    walkDepth_ = 0;
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

HResult XmlDocument::Parse(const char* data, std::size_t length) {
    if (length > kMaxTokenLength) return kFail;
    if (length > 0 && data == nullptr) return kPointer;
    try {
        parsedTexts_.emplace_back(data, length);
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }

    // Every scan below is bounded by `end`; `pos` never passes it.
    const std::size_t end = length;
    std::size_t pos = 0;
    std::int64_t nesting = 0;
    XmlElement* cursor = documentNode_;
    XmlAttribute** appendPoint = &documentNode_->firstAttribute_;

    auto skipWhite = [&] {
        while (pos < end && isWhite(data[pos]))
            ++pos;
    };
    auto readName = [&] {
        std::size_t start = pos;
        ++pos;  // the name-start byte
        while (pos < end && isNameChar(data[pos]))
            ++pos;
        return std::string_view(data + start, pos - start);
    };
    auto finish = [&](HResult hr) {
        current_ = documentNode_;
        siblingCursor_ = documentNode_->next_;
        walkDepth_ = 0;
        return hr;
    };

    enum class Step { kMarkup, kAfterOpen, kAttributes, kContent };
    Step step = Step::kMarkup;
    try {
        for (;;) {
            switch (step) {
                case Step::kMarkup:
                    skipWhite();
                    if (pos == end) return finish(kOk);
                    if (data[pos] != '<') return finish(kFail);
                    ++pos;
                    step = Step::kAfterOpen;
                    break;

                case Step::kAfterOpen: {
                    if (pos == end) return finish(kFail);
                    char c = data[pos];
                    if (c == '!') {
                        // Declaration or comment: nested '<' and '>' are counted.
                        int open = 1;
                        for (++pos; pos < end; ++pos) {
                            if (data[pos] == '<') {
                                ++open;
                            } else if (data[pos] == '>' && --open == 0) {
                                break;
                            }
                        }
                        if (pos == end) return finish(kFail);
                        ++pos;
                        step = Step::kMarkup;
                    } else if (c == '?') {
                        const void* close = std::memchr(data + pos, '>', end - pos);
                        if (!close) return finish(kFail);
                        pos = static_cast<std::size_t>(static_cast<const char*>(close) - data) + 1;
                        step = Step::kMarkup;
                    } else if (c == '/') {
                        ++pos;
                        bool bare = pos < end && data[pos] == '>';  // "</>"
                        if (!bare) {
                            if (pos == end || !isNameStart(data[pos])) return finish(kFail);
                            (void)readName();  // end-tag names are not compared
                        }
                        // An end tag before any element has nothing to close.
                        if (nesting < 1) return finish(kFail);
                        if (static_cast<std::int64_t>(cursor->depth_) > nesting - 1) {
                            if (!cursor->parent_) return finish(kFail);
                            cursor = cursor->parent_;
                        }
                        if (nesting == 1) return finish(kOk);  // the top-level element is closed
                        if (pos == end || data[pos] != '>') return finish(kFail);
                        ++pos;
                        --nesting;
                        step = bare ? Step::kContent : Step::kMarkup;
                    } else if (isNameStart(c)) {
                        std::string_view name = readName();
                        XmlElement* element = newElement();
                        element->name_ = name.data();
                        element->nameLength_ = static_cast<std::uint32_t>(name.size());
                        if (nesting != static_cast<std::int64_t>(cursor->depth_)) {
                            element->parent_ = cursor;
                            element->next_ = cursor->firstChild_;
                            if (cursor->firstChild_) cursor->firstChild_->previous_ = element;
                            cursor->firstChild_ = element;
                        } else {
                            element->parent_ = cursor->parent_;
                            element->previous_ = cursor;
                            element->next_ = cursor->next_;
                            if (cursor->next_) cursor->next_->previous_ = element;
                            cursor->next_ = element;
                        }
                        element->depth_ = static_cast<std::uint32_t>(nesting);
                        cursor = element;
                        appendPoint = &element->firstAttribute_;
                        ++nesting;
                        step = Step::kAttributes;
                    } else {
                        return finish(kFail);
                    }
                    break;
                }

                case Step::kAttributes: {
                    skipWhite();
                    if (pos == end) return finish(kOk);
                    char c = data[pos];
                    if (c == '>') {
                        ++pos;
                        step = Step::kContent;
                    } else if (c == '/') {
                        ++pos;
                        if (pos < end && data[pos] == '>') {
                            ++pos;
                            if (nesting == 1) return finish(kOk);
                            --nesting;
                            step = Step::kContent;
                        }
                    } else if (isNameStart(c)) {
                        std::string_view name = readName();
                        XmlAttribute* attribute = newAttribute();
                        attribute->name_ = name.data();
                        *appendPoint = attribute;
                        appendPoint = &attribute->next_;
                        skipWhite();
                        if (pos == end || data[pos] != '=') return finish(kFail);
                        ++pos;
                        skipWhite();
                        if (pos == end || (data[pos] != '"' && data[pos] != '\'')) return finish(kFail);
                        char quote = data[pos++];
                        const void* close = std::memchr(data + pos, quote, end - pos);
                        if (!close) return finish(kFail);
                        std::size_t valueEnd =
                            static_cast<std::size_t>(static_cast<const char*>(close) - data);
                        // Names and the white space around '=' are short in any real file; the
                        // record keeps both in 16 bits.
                        std::size_t gap = pos - static_cast<std::size_t>(name.data() + name.size() - data);
                        if (name.size() > kMaxAttributeNameLength || gap > kMaxValueGap) return finish(kFail);
                        attribute->nameLength_ = static_cast<std::uint16_t>(name.size());
                        attribute->valueGap_ = static_cast<std::uint16_t>(gap);
                        attribute->valueLength_ =
                            static_cast<std::uint32_t>(valueEnd - pos) & kMaxTokenLength;
                        attribute->valueNeedsDecoding_ =
                            std::memchr(data + pos, '&', valueEnd - pos) != nullptr;
                        pos = valueEnd + 1;
                    } else {
                        return finish(kFail);
                    }
                    break;
                }

                case Step::kContent: {
                    skipWhite();
                    if (pos == end) return finish(kOk);
                    if (data[pos] != '<') {
                        // Character data up to the next '<' (trailing white space included).
                        const void* open = std::memchr(data + pos, '<', end - pos);
                        if (!open) return finish(kFail);
                        std::size_t textEnd = static_cast<std::size_t>(static_cast<const char*>(open) - data);
                        // The text follows the start tag of the element it belongs to.
                        auto nameAt = reinterpret_cast<std::uintptr_t>(cursor->name_);
                        auto textAt = reinterpret_cast<std::uintptr_t>(data + pos);
                        auto dataAt = reinterpret_cast<std::uintptr_t>(data);
                        if (nameAt < dataAt || nameAt >= textAt) return finish(kFail);
                        cursor->textOffset_ = static_cast<std::uint32_t>(textAt - nameAt);
                        cursor->textLength_ = static_cast<std::uint32_t>(textEnd - pos) & kMaxTokenLength;
                        cursor->textNeedsDecoding_ = std::memchr(data + pos, '&', textEnd - pos) != nullptr;
                        pos = textEnd;
                    }
                    ++pos;
                    step = Step::kAfterOpen;
                    break;
                }
            }
        }
    } catch (const std::bad_alloc&) {
        return finish(kOutOfMemory);
    }
}

// --- Path walks ----------------------------------------------------------------------------------

XmlElement* XmlDocument::SetCurrent(XmlElement* element) {
    XmlElement* previous = current_;
    current_ = element;
    siblingCursor_ = element;
    walkDepth_ = element ? element->depth_ : 0;
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
    XmlElement* chain = absolute ? documentNode_->next_ : current_;
    XmlElement* appendAfter = absolute ? documentNode_ : nullptr;

    auto makeSibling = [&](XmlElement* after, std::string_view name) {
        const char* copy = poolString(name);
        XmlElement* element = newElement();
        element->name_ = copy;
        element->nameLength_ = static_cast<std::uint32_t>(name.size());
        element->parent_ = after->parent_;
        element->depth_ = after->depth_;
        element->previous_ = after;
        element->next_ = after->next_;
        if (after->next_) after->next_->previous_ = element;
        after->next_ = element;
        return element;
    };
    auto makeFirstChild = [&](XmlElement* parent, std::string_view name) {
        const char* copy = poolString(name);
        XmlElement* element = newElement();
        element->name_ = copy;
        element->nameLength_ = static_cast<std::uint32_t>(name.size());
        element->parent_ = parent;
        element->depth_ = parent->depth_ + 1;
        element->next_ = parent->firstChild_;
        if (parent->firstChild_) parent->firstChild_->previous_ = element;
        parent->firstChild_ = element;
        return element;
    };

    for (;;) {
        XmlElement* firstMatch = nullptr;
        XmlElement* found = nullptr;
        for (std::size_t i = 0; i < names.size(); ++i) {
            found = nullptr;
            XmlElement* last = appendAfter;
            for (XmlElement* element = chain; element; element = element->next_) {
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
            if (!found->firstChild_) {
                if (!create) return nullptr;
                for (++i; i < names.size(); ++i)
                    found = makeFirstChild(found, names[i]);
                break;
            }
            chain = found->firstChild_;
            appendAfter = nullptr;
        }
        if (index == 0) {
            current_ = found;
            siblingCursor_ = found;
            walkDepth_ = found->depth_;
            return found;
        }
        // Repeat the whole path from the sibling after the element that matched the first name.
        --index;
        if (!firstMatch->next_) {
            if (!create) return nullptr;
            (void)makeSibling(firstMatch, names[0]);
        }
        chain = firstMatch->next_;
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
    if (!parent || parent == documentNode_ || (before && before->parent_ != parent)) return nullptr;
    try {
        const char* copy = poolString(name);
        XmlElement* element = newElement();
        element->name_ = copy;
        element->nameLength_ = static_cast<std::uint32_t>(name.size());
        element->parent_ = parent;
        element->depth_ = parent->depth_ + 1;
        XmlElement* after = nullptr;
        if (before) {
            after = before->previous_;
        } else {
            for (XmlElement* child = parent->firstChild_; child; child = child->next_)
                after = child;
        }
        element->previous_ = after;
        element->next_ = after ? after->next_ : parent->firstChild_;
        if (element->next_) element->next_->previous_ = element;
        if (after) {
            after->next_ = element;
        } else {
            parent->firstChild_ = element;
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
        for (; node; node = node->parent_)
            if (node == element) return true;
        return false;
    };
    XmlElement* replacement = element->parent_ ? element->parent_ : documentNode_;
    if (inside(current_)) (void)SetCurrent(replacement);
    if (inside(siblingCursor_)) siblingCursor_ = replacement;

    // A top-level element's previous element is the document node or another top-level element.
    if (element->previous_) {
        element->previous_->next_ = element->next_;
    } else if (element->parent_) {
        element->parent_->firstChild_ = element->next_;
    }
    if (element->next_) element->next_->previous_ = element->previous_;
    element->next_ = nullptr;
    element->previous_ = nullptr;
    element->parent_ = nullptr;
}

// --- Attributes ----------------------------------------------------------------------------------

XmlAttribute* XmlDocument::FindAttribute(const XmlElement* element, std::string_view name) {
    if (!element) return nullptr;
    for (XmlAttribute* attribute = element->firstAttribute_; attribute; attribute = attribute->next_)
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
                if (attribute->valueNeedsDecoding_) {
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
            XmlAttribute** link = &current_->firstAttribute_;
            for (; *link; link = &(*link)->next_) {
                if (namesMatch((*link)->name(), name)) break;
            }
            attribute = *link ? *link : (*link = newAttribute());
        }
        attribute->name_ = text;
        attribute->nameLength_ = static_cast<std::uint16_t>(name.size());
        attribute->valueGap_ = 1;
        attribute->valueLength_ = static_cast<std::uint32_t>(escapedLength);
        attribute->valueNeedsDecoding_ = replaced;
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

    void openElement(const XmlElement* element, std::size_t level) {
        indent(level);
        put("<");
        put(element->name());
        for (const XmlAttribute* attribute = element->firstAttribute_; attribute;
             attribute = attribute->next_) {
            put(" ");
            put(attribute->name());
            put("=\"");
            putValue(attribute->rawValue());
            put("\"");
        }
        if (element->firstChild_) {
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
    for (const XmlElement* top = documentNode_->next_; top && !writer.failed(); top = top->next_) {
        const XmlElement* element = top;
        std::size_t level = 0;
        for (;;) {
            writer.openElement(element, level);
            if (element->firstChild_) {
                element = element->firstChild_;
                ++level;
                continue;
            }
            while (level > 0 && !element->next_) {
                element = element->parent_;
                --level;
                writer.closeElement(element, level);
            }
            if (level == 0 || writer.failed()) break;
            element = element->next_;
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
