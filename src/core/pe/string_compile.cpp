#include "core/pe/string_compile.h"

#include <system_error>

#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

std::uint64_t alignUp8(std::uint64_t value) {
    return (value + 7) & ~std::uint64_t{7};
}

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    if (!attribute) return std::nullopt;
    std::int64_t value = 0;
    if (!parseInt(attribute->value(), value)) return std::nullopt;
    return value;
}

}  // namespace

bool StringTableBuilder::add(std::optional<std::int64_t> id, std::optional<std::int64_t> language,
                             std::u16string text) {
    if (!id || *id < 0 || *id > 0xFFFF) {
        droppedAny_ = true;
        return false;
    }
    std::uint16_t lang = defaultLanguage_;
    if (language && *language >= 0 && *language <= 0xFFFF) lang = static_cast<std::uint16_t>(*language);

    auto stringId = static_cast<std::uint32_t>(*id);
    auto [next, inserted] = nextExpected_.try_emplace(lang, 0);
    if (stringId < next->second) {
        droppedAny_ = true;
        return false;
    }
    next->second = stringId + 1;

    std::uint32_t blockNumber = stringId / 16 + 1;
    blocks_[(blockNumber << 16) | lang][stringId % 16] = std::move(text);
    return true;
}

std::size_t StringTableBuilder::blockCount() const {
    std::size_t count = 0;
    std::uint32_t previous = 0;
    for (const auto& [key, block] : blocks_) {
        if (count == 0 || (key >> 16) != previous) ++count;
        previous = key >> 16;
    }
    return count;
}

const std::vector<std::byte>* StringTableBuilder::tailOf(std::uint32_t key) const {
    auto found = tails_.find(key);
    return found == tails_.end() ? nullptr : &found->second;
}

std::uint64_t StringTableBuilder::dataSize(std::uint32_t key, const Block& block) const {
    const std::vector<std::byte>* tail = tailOf(key);
    std::uint64_t size = tail ? tail->size() : 0;
    for (const std::u16string& text : block)
        size += 2 + 2 * static_cast<std::uint64_t>(text.size());
    return size;
}

std::uint64_t StringTableBuilder::size() const {
    std::uint64_t blocks = blockCount();
    std::uint64_t total = 16 + 8 * blocks;
    for (const auto& [key, block] : blocks_)
        total += 24 + alignUp8(dataSize(key, block));
    return total + 16 * blocks;  // one language-directory header per block
}

void StringTableBuilder::write(ByteWriter& out, std::uint32_t sectionOffset, std::uint32_t sectionRva) const {
    // Group the (block, language) pairs by block; the map is already in that order.
    struct Group {
        std::uint32_t blockNumber;
        std::vector<std::map<std::uint32_t, Block>::const_iterator> languages;
    };
    std::vector<Group> groups;
    for (auto it = blocks_.begin(); it != blocks_.end(); ++it) {
        std::uint32_t blockNumber = it->first >> 16;
        if (groups.empty() || groups.back().blockNumber != blockNumber) groups.push_back({blockNumber, {}});
        groups.back().languages.push_back(it);
    }

    // Name directory: one ID entry per block, pointing at its language directory.
    out.u32(0);
    out.u32(0);
    out.u32(0);
    out.u16(0);
    out.u16(static_cast<std::uint32_t>(groups.size()));
    std::uint64_t groupOffset = sectionOffset + 16 + 8 * static_cast<std::uint64_t>(groups.size());
    for (const Group& group : groups) {
        out.u32(group.blockNumber);
        out.u32(static_cast<std::uint32_t>(groupOffset) | 0x80000000u);
        groupOffset += 16 + 24 * static_cast<std::uint64_t>(group.languages.size());
    }

    // Language directories: header, the language entries, then their data entries. String data of
    // all (block, language) pairs follows in the same order, each on an 8-byte boundary.
    std::uint64_t dataOffset = groupOffset;
    std::uint64_t groupStart = sectionOffset + 16 + 8 * static_cast<std::uint64_t>(groups.size());
    for (const Group& group : groups) {
        std::uint64_t count = group.languages.size();
        out.u32(0);
        out.u32(0);
        out.u32(0);
        out.u16(0);
        out.u16(static_cast<std::uint32_t>(count));
        for (std::uint64_t k = 0; k < count; ++k) {
            out.u32(group.languages[k]->first & 0xFFFF);
            out.u32(static_cast<std::uint32_t>(groupStart + 16 + 8 * count + 16 * k));
        }
        for (const auto& language : group.languages) {
            std::uint64_t size = dataSize(language->first, language->second);
            out.u32(static_cast<std::uint32_t>(sectionRva + dataOffset));
            out.u32(static_cast<std::uint32_t>(size));
            auto codePage = codePages_.find(language->first);
            out.u32(codePage == codePages_.end() ? 0 : codePage->second);
            out.u32(0);  // reserved
            dataOffset += alignUp8(size);
        }
        groupStart += 16 + 24 * count;
    }
    for (const Group& group : groups) {
        for (const auto& language : group.languages) {
            for (const std::u16string& text : language->second) {
                out.u16(static_cast<std::uint32_t>(text.size()));
                for (char16_t unit : text)
                    out.u16(unit);
            }
            if (const std::vector<std::byte>* tail = tailOf(language->first))
                out.append(Bytes{tail->data(), tail->size()});
            out.alignTo(8);
        }
    }
}

namespace {

HResult readStringsDocument(const XmlDocument& document, const std::string& shownPath,
                            StringTableBuilder& table);

}  // namespace

HResult readStringsXml(const std::filesystem::path& stringsXml, StringTableBuilder& table) {
    std::error_code ec;
    auto status = std::filesystem::status(stringsXml, ec);
    if (status.type() == std::filesystem::file_type::not_found) return kFalse;

    std::string shownPath = pathToUtf8(stringsXml);
    XmlDocument document;
    if (HResult hr = document.LoadFile(stringsXml); hr.failed()) {
        RecordError(false, "compile", __LINE__, hr);
        return ReportError(false, "compile", __LINE__, msg::kProcessFileError, {shownPath});
    }
    return readStringsDocument(document, shownPath, table);
}

HResult readStringsXml(Bytes text, const std::string& shownPath, StringTableBuilder& table) {
    XmlDocument document;
    // An empty file cannot be read, as on disk.
    HResult hr =
        text.empty() ? kFail : document.Parse(reinterpret_cast<const char*>(text.data()), text.size());
    if (hr.failed()) {
        RecordError(false, "compile", __LINE__, hr);
        return ReportError(false, "compile", __LINE__, msg::kProcessFileError, {shownPath});
    }
    return readStringsDocument(document, shownPath, table);
}

namespace {

HResult readStringsDocument(const XmlDocument& document, const std::string& shownPath,
                            StringTableBuilder& table) {
    const XmlElement* root = document.documentNode()->next();
    if (!root || !iequalsAscii(root->name(), "ROOT")) {
        ReportMessage(false, "compile", __LINE__, "STRINGS.XML 的根元素必须是 ROOT。");
        return ReportError(false, "compile", __LINE__, msg::kProcessFileError, {shownPath});
    }
    for (const XmlElement* element = root->firstChild(); element; element = element->next()) {
        if (!iequalsAscii(element->name(), "E")) {
            table.addForeign();
            continue;
        }
        std::u16string text;
        if (const XmlAttribute* value = XmlDocument::FindAttribute(element, "S"))
            text = utf8ToUtf16(value->value());
        if (text.size() > 0xFFFF) {
            std::int64_t id = integerAttribute(element, "ID").value_or(-1);
            ReportMessage(false, "compile", __LINE__, "字串 %d 超过 65535 个字符。",
                          {static_cast<long long>(id)});
            return ReportError(false, "compile", __LINE__, msg::kProcessFileError, {shownPath});
        }
        table.add(integerAttribute(element, "ID"), integerAttribute(element, "L"), std::move(text));
    }
    return kOk;
}

}  // namespace

}  // namespace kestrel
