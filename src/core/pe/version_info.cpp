#include "core/pe/version_info.h"

#include <algorithm>

#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"

namespace kestrel {

namespace {

constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::size_t kMaxNodeLength = 0xFFFF;
// Real resources nest four levels (root, StringFileInfo, table, String); deeper nodes are kept as
// bytes of their parent.
constexpr int kMaxDepth = 6;
constexpr std::size_t kMaxProbedKeyUnits = 256;
constexpr std::uint16_t kTextType = 1;
constexpr std::uint16_t kBinaryType = 0;
constexpr std::uint32_t kResourceDataNotFound = 1812;
constexpr std::uint32_t kResourceTypeNotFound = 1813;

constexpr std::u16string_view kRootKey = u"VS_VERSION_INFO";
constexpr std::u16string_view kStringFileInfoKey = u"StringFileInfo";
constexpr std::u16string_view kVarFileInfoKey = u"VarFileInfo";
constexpr std::u16string_view kTranslationKey = u"Translation";

// What a node is, from its place in the tree and its key. It decides how its value is measured and
// whether it has children.
enum class Role { kDocument, kRoot, kStringFileInfo, kStringTable, kString, kVarFileInfo, kVar, kOther };

std::size_t alignUp4(std::size_t offset) {
    return offset + (4 - offset % 4) % 4;
}

char16_t foldAscii(char16_t unit) {
    return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit - u'A' + u'a') : unit;
}

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    }
    return true;
}

Role childRole(Role parent, std::u16string_view key) {
    switch (parent) {
        case Role::kDocument:
            return Role::kRoot;
        case Role::kRoot:
            if (equalsIgnoringAsciiCase(key, kStringFileInfoKey)) return Role::kStringFileInfo;
            if (equalsIgnoringAsciiCase(key, kVarFileInfoKey)) return Role::kVarFileInfo;
            return Role::kOther;
        case Role::kStringFileInfo:
            return Role::kStringTable;
        case Role::kStringTable:
            return Role::kString;
        case Role::kVarFileInfo:
            return Role::kVar;
        default:
            return Role::kOther;
    }
}

bool isLeaf(Role role) {
    return role == Role::kString || role == Role::kVar;
}

class VersionParser {
  public:
    explicit VersionParser(Bytes resource) : reader_(resource) {}

    std::vector<std::byte> copy(std::size_t from, std::size_t to) const {
        Bytes bytes = *reader_.span(from, to - from);
        return {bytes.begin(), bytes.end()};
    }

    // The node in [start, end): the caller has checked that the header fits and cut `end` to the
    // node's wLength, its parent and the resource.
    VersionNode node(std::size_t start, std::size_t end, int depth, Role parentRole) const {
        VersionNode node;
        node.originalOffset = static_cast<std::uint32_t>(start);
        node.length = *reader_.u16(start);
        node.valueLength = *reader_.u16(start + 2);
        node.type = *reader_.u16(start + 4);
        node.original = copy(start, end);
        node.cutOff = node.length > end - start;

        std::size_t at = start + kNodeHeaderSize;
        node.keyTerminated = false;
        while (end - at >= 2) {
            const std::uint16_t unit = *reader_.u16(at);
            at += 2;
            if (unit == 0) {
                node.keyTerminated = true;
                break;
            }
            node.key.push_back(static_cast<char16_t>(unit));
        }
        const Role role = childRole(parentRole, node.key);
        if (!node.keyTerminated) {
            finish(node, at, end);
            return node;
        }

        std::size_t valueStart = std::min(alignUp4(at), end);
        // Some writers put the fixed block right after the key, without padding.
        if (role == Role::kRoot && valueStart != at && !hasSignature(valueStart) && hasSignature(at))
            valueStart = at;
        node.keyPadding = padding(at, valueStart);
        // A node that ends before its value's boundary has no value; one that gets a value later
        // puts it on the boundary.
        if (alignUp4(at) > end) node.keyPadding.alignment = 0;
        if (isLeaf(role)) {
            node.value = copy(valueStart, end);
            node.endPadding = padding(end, end);
            return node;
        }
        // The root's value is the binary fixed block, whatever its wType says.
        const std::size_t declared = node.type == kTextType && role != Role::kRoot
                                         ? 2 * std::size_t{node.valueLength}
                                         : node.valueLength;
        const std::size_t valueEnd = valueStart + std::min(declared, end - valueStart);
        node.value = copy(valueStart, valueEnd);

        std::size_t cursor = valueEnd;
        if (depth < kMaxDepth) {
            while (std::optional<std::size_t> childStart = nextChild(cursor, end)) {
                const std::size_t childEnd =
                    *childStart + std::min<std::size_t>(*reader_.u16(*childStart), end - *childStart);
                VersionNode child = this->node(*childStart, childEnd, depth + 1, role);
                child.padding = padding(cursor, *childStart);
                node.children.push_back(std::move(child));
                cursor = childEnd;
            }
        }
        finish(node, cursor, end);
        return node;
    }

  private:
    bool hasSignature(std::size_t offset) const { return reader_.u32(offset) == kFixedFileInfoSignature; }

    VersionPadding padding(std::size_t from, std::size_t to) const {
        return VersionPadding{copy(from, to), static_cast<std::uint8_t>(to % 4)};
    }

    // What follows the last child: padding to a 32-bit boundary, then bytes no child was read from.
    void finish(VersionNode& node, std::size_t cursor, std::size_t end) const {
        const std::size_t paddingEnd = std::min(alignUp4(cursor), end);
        node.endPadding = padding(cursor, paddingEnd);
        node.trailing = copy(paddingEnd, end);
    }

    // A node whose header, key and terminator lie inside its wLength, which lies inside `end`. Keys
    // of real nodes are short; the search for the terminator stops early so that probing every
    // position of a hostile block stays cheap.
    bool wellFormedAt(std::size_t at, std::size_t end) const {
        if (at > end || end - at < kNodeHeaderSize) return false;
        const std::size_t length = *reader_.u16(at);
        if (length < kNodeHeaderSize || length > end - at) return false;
        const std::size_t keyEnd = at + std::min(length, kNodeHeaderSize + 2 * kMaxProbedKeyUnits);
        for (std::size_t unit = at + kNodeHeaderSize; keyEnd - unit >= 2; unit += 2) {
            if (*reader_.u16(unit) == 0) return true;
        }
        return false;
    }

    // Where the child after `cursor` starts, or nullopt when no child can be read there. Children
    // normally start on the next 32-bit boundary; some files leave out that padding, others put
    // whole zero words before a child.
    std::optional<std::size_t> nextChild(std::size_t cursor, std::size_t end) const {
        const std::size_t aligned = alignUp4(cursor);
        const bool unpadded = aligned != cursor && wellFormedAt(cursor, end);
        if (aligned <= end && end - aligned >= kNodeHeaderSize && *reader_.u16(aligned) >= kNodeHeaderSize) {
            if (wellFormedAt(aligned, end) || !unpadded) return aligned;
            return cursor;
        }
        std::size_t next = aligned;
        while (next < end && end - next >= 4 && reader_.u32(next) == 0u)
            next += 4;
        if (next != aligned && wellFormedAt(next, end)) return next;
        if (unpadded) return cursor;
        return std::nullopt;
    }

    ByteReader reader_;
};

void appendPadding(ByteWriter& out, const VersionPadding& padding) {
    if ((out.size() + padding.bytes.size()) % 4 == padding.alignment) {
        out.append(asBytes(padding.bytes));
        return;
    }
    out.alignTo(4);
}

// The padding at the end of a node that changed: a node that was padded to a 32-bit boundary is
// padded to one again; any other gets none (a String's wLength normally leaves its padding out).
void appendEndPadding(ByteWriter& out, const VersionPadding& padding) {
    if ((out.size() + padding.bytes.size()) % 4 == padding.alignment) {
        out.append(asBytes(padding.bytes));
        return;
    }
    if (padding.alignment == 0 && !padding.bytes.empty()) out.alignTo(4);
}

// `followed`: a sibling comes after the node.
HResult writeNode(ByteWriter& out, const VersionNode& node, bool followed) {
    const std::size_t start = out.size();
    // Padding inside a node is counted from the start of the resource, so its bytes mean the same
    // only where the node keeps its place relative to the 32-bit grid. A node that was cut off at
    // the end of its parent would swallow a sibling added after it.
    if (!node.original.empty() && start % 4 == node.originalOffset % 4 && !(node.cutOff && followed)) {
        out.append(asBytes(node.original));
        return kOk;
    }
    out.u16(0);
    out.u16(node.valueLength);
    out.u16(node.type);
    for (char16_t unit : node.key)
        out.u16(unit);
    if (node.keyTerminated) {
        out.u16(0);
        if (node.value.empty() && node.children.empty()) {
            out.append(asBytes(node.keyPadding.bytes));
        } else {
            appendPadding(out, node.keyPadding);
        }
    }
    out.append(asBytes(node.value));
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        appendPadding(out, node.children[i].padding);
        if (HResult hr = writeNode(out, node.children[i], i + 1 < node.children.size()); hr.failed())
            return hr;
    }
    appendEndPadding(out, node.endPadding);
    out.append(asBytes(node.trailing));
    std::size_t length = out.size() - start;
    if (length > kMaxNodeLength) return kInvalidArg;
    // Still the last thing in its parent, a node that was cut off keeps the wLength it had: it is
    // cut at the same place again.
    if (node.cutOff && !followed && length <= node.length) length = node.length;
    out.patchU16(start, static_cast<std::uint32_t>(length));
    return kOk;
}

std::u16string textOf(const std::vector<std::byte>& value) {
    std::u16string text;
    ByteReader reader{asBytes(value)};
    for (std::size_t at = 0; reader.size() - at >= 2; at += 2) {
        const std::uint16_t unit = *reader.u16(at);
        if (unit == 0) break;
        text.push_back(static_cast<char16_t>(unit));
    }
    return text;
}

std::vector<std::byte> terminatedText(std::u16string_view text) {
    ByteWriter out;
    for (char16_t unit : text)
        out.u16(unit);
    out.u16(0);
    return std::move(out.bytes());
}

// A node that is about to get a value or children needs a terminated key (a node cut off inside its
// key has nothing after it).
void prepareForContent(VersionNode& node) {
    if (node.keyTerminated) return;
    node.keyTerminated = true;
    node.endPadding = {};
    node.trailing.clear();
}

// A node that is about to get a child must not claim a longer value than it has: read back, the
// value would swallow the child.
void prepareForChildren(VersionNode& node, Role role) {
    prepareForContent(node);
    const bool inUnits = node.type == kTextType && role != Role::kRoot;
    if (inUnits && node.value.size() % 2 != 0) node.value.pop_back();
    const std::size_t valueLength = inUnits ? node.value.size() / 2 : node.value.size();
    if (valueLength < node.valueLength) node.valueLength = static_cast<std::uint16_t>(valueLength);
}

// The writer lays an edited node out again; so it does for every node above it.
void markEdited(std::initializer_list<VersionNode*> path) {
    for (VersionNode* node : path)
        node->original.clear();
}

VersionNode newNode(std::u16string_view key, std::uint16_t type) {
    VersionNode node;
    node.key = key;
    node.type = type;
    return node;
}

// Node is VersionNode or const VersionNode.
template <typename Node>
Node* findChild(Node& parent, std::u16string_view key) {
    for (Node& child : parent.children) {
        if (equalsIgnoringAsciiCase(child.key, key)) return &child;
    }
    return nullptr;
}

// The first string table: the first child of the first StringFileInfo that has one.
template <typename Node>
Node* firstStringTable(Node& root, Node** stringFileInfo) {
    for (Node& child : root.children) {
        if (!child.keyTerminated || !equalsIgnoringAsciiCase(child.key, kStringFileInfoKey)) continue;
        if (child.children.empty()) continue;
        *stringFileInfo = &child;
        return &child.children.front();
    }
    return nullptr;
}

// Sets `key` in one string table, adding it at the end when missing; nothing changes when the
// value is already the same.
void setInTable(VersionNode& root, VersionNode& stringFileInfo, VersionNode& table, std::u16string_view key,
                std::u16string_view value) {
    VersionNode* string = findChild(table, key);
    if (string != nullptr && string->keyTerminated && textOf(string->value) == value) return;
    if (string == nullptr) {
        prepareForChildren(table, Role::kStringTable);
        table.children.push_back(newNode(key, kTextType));
        string = &table.children.back();
    }
    prepareForContent(*string);
    string->value = terminatedText(value);
    string->valueLength = static_cast<std::uint16_t>(
        std::min(string->type == kBinaryType ? string->value.size() : value.size() + 1, kMaxNodeLength));
    markEdited({&root, &stringFileInfo, &table, string});
}

std::u16string tableKey(std::uint16_t language, std::uint16_t codePage) {
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    std::u16string key;
    for (std::uint16_t value : {language, codePage}) {
        for (int shift = 12; shift >= 0; shift -= 4)
            key.push_back(kDigits[(value >> shift) & 0xF]);
    }
    return key;
}

std::vector<std::byte> fixedFileInfoBytes(const FixedFileInfo& fixed) {
    ByteWriter out;
    for (std::uint32_t field :
         {fixed.signature, fixed.structVersion, fixed.fileVersionMS, fixed.fileVersionLS,
          fixed.productVersionMS, fixed.productVersionLS, fixed.fileFlagsMask, fixed.fileFlags, fixed.fileOS,
          fixed.fileType, fixed.fileSubtype, fixed.fileDateMS, fixed.fileDateLS})
        out.u32(field);
    return std::move(out.bytes());
}

VersionNumber splitVersion(std::uint32_t mostSignificant, std::uint32_t leastSignificant) {
    return {static_cast<std::uint16_t>(mostSignificant >> 16), static_cast<std::uint16_t>(mostSignificant),
            static_cast<std::uint16_t>(leastSignificant >> 16), static_cast<std::uint16_t>(leastSignificant)};
}

std::uint32_t joinVersion(std::uint16_t high, std::uint16_t low) {
    return (static_cast<std::uint32_t>(high) << 16) | low;
}

}  // namespace

VersionNumber FixedFileInfo::fileVersion() const {
    return splitVersion(fileVersionMS, fileVersionLS);
}

void FixedFileInfo::setFileVersion(const VersionNumber& version) {
    fileVersionMS = joinVersion(version[0], version[1]);
    fileVersionLS = joinVersion(version[2], version[3]);
}

VersionNumber FixedFileInfo::productVersion() const {
    return splitVersion(productVersionMS, productVersionLS);
}

void FixedFileInfo::setProductVersion(const VersionNumber& version) {
    productVersionMS = joinVersion(version[0], version[1]);
    productVersionLS = joinVersion(version[2], version[3]);
}

HResult ParseVersionInfo(Bytes resource, VersionInfo& info) {
    const ByteReader reader(resource);
    const std::optional<std::uint16_t> length = reader.u16(0);
    if (reader.size() < kNodeHeaderSize || !length || *length < kNodeHeaderSize) return kFail;
    const std::size_t end = std::min<std::size_t>(*length, reader.size());
    const VersionParser parser(resource);
    VersionInfo parsed;
    parsed.root = parser.node(0, end, 0, Role::kDocument);
    parsed.trailing = parser.copy(end, reader.size());
    info = std::move(parsed);
    return kOk;
}

HResult WriteVersionInfo(const VersionInfo& info, std::vector<std::byte>& resource) {
    ByteWriter out;
    if (HResult hr = writeNode(out, info.root, false); hr.failed()) return hr;
    out.append(asBytes(info.trailing));
    resource = std::move(out.bytes());
    return kOk;
}

void DropOriginalBytes(VersionNode& node) {
    node.original.clear();
    for (VersionNode& child : node.children)
        DropOriginalBytes(child);
}

std::optional<FixedFileInfo> GetFixedFileInfo(const VersionInfo& info) {
    const ByteReader value{asBytes(info.root.value)};
    if (value.size() < kFixedFileInfoSize || value.u32(0) != kFixedFileInfoSignature) return std::nullopt;
    FixedFileInfo fixed;
    std::uint32_t* fields[] = {&fixed.signature,     &fixed.structVersion,    &fixed.fileVersionMS,
                               &fixed.fileVersionLS, &fixed.productVersionMS, &fixed.productVersionLS,
                               &fixed.fileFlagsMask, &fixed.fileFlags,        &fixed.fileOS,
                               &fixed.fileType,      &fixed.fileSubtype,      &fixed.fileDateMS,
                               &fixed.fileDateLS};
    for (std::size_t i = 0; i < std::size(fields); ++i)
        *fields[i] = *value.u32(4 * i);
    return fixed;
}

void SetFixedFileInfo(VersionInfo& info, const FixedFileInfo& fixed) {
    VersionNode& root = info.root;
    std::vector<std::byte> value = root.value;
    if (value.size() < kFixedFileInfoSize) value.resize(kFixedFileInfoSize);
    const std::vector<std::byte> fields = fixedFileInfoBytes(fixed);
    std::copy(fields.begin(), fields.end(), value.begin());
    if (value == root.value) return;
    prepareForContent(root);
    root.valueLength = std::max(root.valueLength, static_cast<std::uint16_t>(kFixedFileInfoSize));
    root.value = std::move(value);
    markEdited({&root});
}

std::vector<std::pair<std::u16string, std::u16string>> GetVersionStrings(const VersionInfo& info) {
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    const VersionNode* stringFileInfo = nullptr;
    if (const VersionNode* table = firstStringTable(info.root, &stringFileInfo)) {
        for (const VersionNode& string : table->children)
            strings.emplace_back(string.key, textOf(string.value));
    }
    return strings;
}

std::vector<VersionStringTable> GetVersionStringTables(const VersionInfo& info) {
    std::vector<VersionStringTable> tables;
    for (const VersionNode& stringFileInfo : info.root.children) {
        if (!stringFileInfo.keyTerminated || !equalsIgnoringAsciiCase(stringFileInfo.key, kStringFileInfoKey))
            continue;
        for (const VersionNode& table : stringFileInfo.children) {
            VersionStringTable& entry = tables.emplace_back();
            entry.key = table.key;
            for (const VersionNode& string : table.children)
                entry.strings.emplace_back(string.key, textOf(string.value));
        }
    }
    return tables;
}

std::optional<std::u16string> GetVersionString(const VersionInfo& info, std::u16string_view key) {
    const VersionNode* stringFileInfo = nullptr;
    const VersionNode* table = firstStringTable(info.root, &stringFileInfo);
    if (table == nullptr) return std::nullopt;
    const VersionNode* string = findChild(*table, key);
    if (string == nullptr) return std::nullopt;
    return textOf(string->value);
}

void SetVersionString(VersionInfo& info, std::u16string_view key, std::u16string_view value) {
    VersionNode& root = info.root;
    VersionNode* stringFileInfo = nullptr;
    VersionNode* table = firstStringTable(root, &stringFileInfo);
    if (table == nullptr) {
        stringFileInfo = findChild(root, kStringFileInfoKey);
        if (stringFileInfo == nullptr) {
            auto before = std::find_if(
                root.children.begin(), root.children.end(),
                [](const VersionNode& child) { return equalsIgnoringAsciiCase(child.key, kVarFileInfoKey); });
            prepareForChildren(root, Role::kRoot);
            stringFileInfo = &*root.children.insert(before, newNode(kStringFileInfoKey, kTextType));
        }
        const VersionTranslation translation =
            GetVersionTranslation(info).value_or(VersionTranslation{resource_language::kUsEnglish, 1200});
        prepareForChildren(*stringFileInfo, Role::kStringFileInfo);
        stringFileInfo->children.push_back(
            newNode(tableKey(translation.language, translation.codePage), kTextType));
        table = &stringFileInfo->children.back();
    }

    setInTable(root, *stringFileInfo, *table, key, value);
}

void SetVersionStringInEveryTable(VersionInfo& info, std::u16string_view key, std::u16string_view value,
                                  MissingVersionString missing) {
    bool anyTable = false;
    for (VersionNode& stringFileInfo : info.root.children) {
        if (!stringFileInfo.keyTerminated || !equalsIgnoringAsciiCase(stringFileInfo.key, kStringFileInfoKey))
            continue;
        for (VersionNode& table : stringFileInfo.children) {
            anyTable = true;
            if (missing == MissingVersionString::kSkip && findChild(table, key) == nullptr) continue;
            setInTable(info.root, stringFileInfo, table, key, value);
        }
    }
    if (!anyTable && missing == MissingVersionString::kAdd) SetVersionString(info, key, value);
}

std::optional<VersionTranslation> GetVersionTranslation(const VersionInfo& info) {
    const VersionNode* varFileInfo = findChild(info.root, kVarFileInfoKey);
    if (varFileInfo == nullptr) return std::nullopt;
    const VersionNode* translation = findChild(*varFileInfo, kTranslationKey);
    if (translation == nullptr) return std::nullopt;
    const ByteReader value{asBytes(translation->value)};
    if (value.size() < 4) return std::nullopt;
    return VersionTranslation{*value.u16(0), *value.u16(2)};
}

void SetVersionTranslation(VersionInfo& info, VersionTranslation translation) {
    VersionNode& root = info.root;
    VersionNode* varFileInfo = findChild(root, kVarFileInfoKey);
    if (varFileInfo == nullptr) {
        prepareForChildren(root, Role::kRoot);
        root.children.push_back(newNode(kVarFileInfoKey, kTextType));
        varFileInfo = &root.children.back();
    }
    VersionNode* var = findChild(*varFileInfo, kTranslationKey);
    if (var == nullptr) {
        prepareForChildren(*varFileInfo, Role::kVarFileInfo);
        varFileInfo->children.push_back(newNode(kTranslationKey, kBinaryType));
        var = &varFileInfo->children.back();
    }
    std::vector<std::byte> value = var->value;
    if (value.size() < 4) value.resize(4);
    ByteWriter pair;
    pair.u16(translation.language);
    pair.u16(translation.codePage);
    std::copy(pair.bytes().begin(), pair.bytes().end(), value.begin());
    if (value == var->value && var->keyTerminated) return;
    prepareForContent(*var);
    var->valueLength = std::max(var->valueLength, std::uint16_t{4});
    var->value = std::move(value);
    markEdited({&root, varFileInfo, var});
}

VersionInfo MakeMinimalVersionInfo(std::uint16_t language, std::uint16_t codePage) {
    FixedFileInfo fixed;
    fixed.signature = kFixedFileInfoSignature;
    fixed.structVersion = 0x00010000;
    fixed.fileFlagsMask = 0x3F;
    fixed.fileOS = 0x00040004;  // 32-bit Windows on NT

    VersionInfo info;
    info.root = newNode(kRootKey, kBinaryType);
    info.root.value = fixedFileInfoBytes(fixed);
    info.root.valueLength = kFixedFileInfoSize;
    VersionNode stringFileInfo = newNode(kStringFileInfoKey, kTextType);
    stringFileInfo.children.push_back(newNode(tableKey(language, codePage), kTextType));
    info.root.children.push_back(std::move(stringFileInfo));
    SetVersionTranslation(info, VersionTranslation{language, codePage});

    // Read back what was written, so that the tree looks like one read from a file.
    std::vector<std::byte> bytes;
    VersionInfo parsed;
    if (WriteVersionInfo(info, bytes).failed() || ParseVersionInfo(asBytes(bytes), parsed).failed())
        return info;
    return parsed;
}

std::optional<VersionNumber> ParseVersionText(std::string_view text) {
    VersionNumber version{};
    std::size_t parts = 0;
    std::size_t at = 0;
    for (;;) {
        if (parts == version.size()) return std::nullopt;
        std::uint32_t number = 0;
        const std::size_t digitsStart = at;
        for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
            number = number * 10 + static_cast<std::uint32_t>(text[at] - '0');
            if (number > 0xFFFF) return std::nullopt;
        }
        if (at == digitsStart) return std::nullopt;
        version[parts++] = static_cast<std::uint16_t>(number);
        if (at == text.size()) return version;
        if (text[at] != '.') return std::nullopt;
        ++at;
    }
}

HResult FindVersionResource(Bytes image, Bytes& resource) {
    ResourceLookup lookup;
    if (lookup.open(image).failed()) return hresultFromWin32(kResourceDataNotFound);
    // The version resource is normally ID 1; any other name is taken when there is no ID 1.
    const ResourceKey versionType = ResourceKey::ofId(resource_type::kVersion);
    const std::vector<ResourceKey> names = lookup.names(versionType);
    if (names.empty()) return hresultFromWin32(kResourceTypeNotFound);
    ResourceKey name = names.front();
    for (const ResourceKey& candidate : names) {
        if (candidate == ResourceKey::ofId(1)) name = candidate;
    }
    const std::optional<Bytes> data = lookup.find(versionType, name);
    if (!data) return hresultFromWin32(kResourceTypeNotFound);
    resource = *data;
    return kOk;
}

}  // namespace kestrel
