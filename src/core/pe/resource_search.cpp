#include "core/pe/resource_search.h"

#include <algorithm>
#include <charconv>

#include "core/pe/description_edit.h"
#include "core/pe/dialog_template.h"
#include "core/pe/menu_template.h"
#include "core/pe/resource_script.h"
#include "core/pe/resource_types.h"
#include "core/pe/version_info.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/text_file.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

// A text of several lines or a long one (a manifest, a script) shows the line of its match without
// its indentation, cut to this many units, with at most kExcerptLead units before the match.
constexpr std::size_t kExcerptLimit = 160;
constexpr std::size_t kExcerptLead = 40;
// Files larger than this are not looked at for text: no text resource comes near it.
constexpr std::size_t kTextFileLimit = 16u << 20;

std::u16string decimal(std::uint32_t value) {
    char digits[16];
    auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    return std::u16string(digits, end);
}

bool isHexDigit(char16_t unit) {
    return (unit >= u'0' && unit <= u'9') || (unit >= u'a' && unit <= u'f') || (unit >= u'A' && unit <= u'F');
}

int hexValue(char16_t unit) {
    if (unit <= u'9') return unit - u'0';
    return (unit | 0x20) - u'a' + 10;
}

void collectMenuTexts(const std::vector<MenuItem>& items,
                      std::vector<std::pair<std::uint32_t, std::u16string>>& out) {
    for (const MenuItem& item : items) {
        if (!item.text.empty()) out.emplace_back(item.id, item.text);
        collectMenuTexts(item.children, out);
    }
}

// --- STRINGS.XML ----------------------------------------------------------------------------------
// Lines of the form <E ID='7' L='2' S="text"/>; the text pane shows the file decoded, so offsets are
// taken in the decoded text. Anything that does not look like an E element is passed over.

struct XmlValue {
    std::u16string text;
    std::size_t rawStart = 0;
    std::vector<std::uint32_t> escapedOffsets;  // empty when the value has no escapes
};

bool isXmlSpace(char16_t unit) {
    return unit == u' ' || unit == u'\t' || unit == u'\n' || unit == u'\r';
}

// Decodes the entity at text[at] ('&' ... ';'); the number of units it spans, 0 when it is none.
std::size_t decodeEntity(std::u16string_view text, std::size_t at, std::u16string& out) {
    const std::size_t semicolon = text.find(u';', at);
    if (semicolon == std::u16string_view::npos || semicolon - at > 10) return 0;
    const std::u16string_view name = text.substr(at + 1, semicolon - at - 1);
    char32_t value = 0;
    if (name == u"amp")
        value = u'&';
    else if (name == u"lt")
        value = u'<';
    else if (name == u"gt")
        value = u'>';
    else if (name == u"quot")
        value = u'"';
    else if (name == u"apos")
        value = u'\'';
    else if (name.size() >= 2 && name[0] == u'#') {
        const bool hex = name[1] == u'x' || name[1] == u'X';
        const std::u16string_view digits = name.substr(hex ? 2 : 1);
        if (digits.empty()) return 0;
        for (char16_t unit : digits) {
            if (hex ? !isHexDigit(unit) : (unit < u'0' || unit > u'9')) return 0;
            value = value * (hex ? 16 : 10) + static_cast<char32_t>(hex ? hexValue(unit) : unit - u'0');
            if (value > 0x10FFFF) return 0;
        }
    } else {
        return 0;
    }
    if (value >= 0x10000) {
        value -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 + (value >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + (value & 0x3FF)));
    } else {
        out.push_back(static_cast<char16_t>(value));
    }
    return semicolon - at + 1;
}

XmlValue decodeXmlValue(std::u16string_view text, std::size_t start, std::size_t end) {
    XmlValue value;
    value.rawStart = start;
    std::vector<std::uint32_t> offsets;
    bool escaped = false;
    for (std::size_t at = start; at < end;) {
        const std::size_t before = value.text.size();
        std::size_t span = text[at] == u'&' ? decodeEntity(text.substr(0, end), at, value.text) : 0;
        if (span == 0) {
            value.text.push_back(text[at]);
            span = 1;
        } else {
            escaped = true;
        }
        for (std::size_t unit = before; unit < value.text.size(); ++unit)
            offsets.push_back(static_cast<std::uint32_t>(at - start));
        at += span;
    }
    offsets.push_back(static_cast<std::uint32_t>(end - start));
    if (escaped) value.escapedOffsets = std::move(offsets);
    return value;
}

std::optional<std::uint32_t> parseDecimal(std::u16string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    std::uint32_t value = 0;
    for (char16_t unit : text) {
        if (unit < u'0' || unit > u'9') return std::nullopt;
        value = value * 10 + (unit - u'0');
    }
    return value;
}

struct StringLine {
    std::optional<std::uint32_t> id;
    std::optional<std::uint32_t> language;
    std::optional<XmlValue> text;
};

// Reads the attributes of the element whose name ends at `at`; `at` moves past the element's end.
StringLine readStringLine(std::u16string_view text, std::size_t& at) {
    StringLine line;
    while (at < text.size()) {
        while (at < text.size() && isXmlSpace(text[at]))
            ++at;
        if (at >= text.size() || text[at] == u'>' || text[at] == u'/' || text[at] == u'<') break;
        const std::size_t nameStart = at;
        while (at < text.size() && text[at] != u'=' && !isXmlSpace(text[at]) && text[at] != u'>')
            ++at;
        const std::u16string_view name = text.substr(nameStart, at - nameStart);
        while (at < text.size() && isXmlSpace(text[at]))
            ++at;
        if (at >= text.size() || text[at] != u'=') break;
        ++at;
        while (at < text.size() && isXmlSpace(text[at]))
            ++at;
        if (at >= text.size() || (text[at] != u'"' && text[at] != u'\'')) break;
        const char16_t quote = text[at++];
        const std::size_t close = text.find(quote, at);
        if (close == std::u16string_view::npos) {
            at = text.size();
            break;
        }
        if (name == u"ID")
            line.id = parseDecimal(text.substr(at, close - at));
        else if (name == u"L")
            line.language = parseDecimal(text.substr(at, close - at));
        else if (name == u"S")
            line.text = decodeXmlValue(text, at, close);
        at = close + 1;
    }
    return line;
}

}  // namespace

char16_t FoldCase(char16_t unit) {
    if (unit < 0x80) return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
    // Latin-1 capitals, but not the multiplication sign.
    if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return static_cast<char16_t>(unit + 32);
    if (unit >= 0x100 && unit <= 0x17F) {
        if (unit == 0x130) return u'i';  // capital I with dot
        if (unit == 0x178) return 0xFF;  // capital Y with diaeresis
        // Pairs capital, small: even capitals up to 0x137 and from 0x14A, odd ones in between and
        // from 0x179.
        const bool evenCapitals = (unit <= 0x137) || (unit >= 0x14A && unit <= 0x177);
        if (unit == 0x138 || unit == 0x149 || unit == 0x17F) return unit;
        if (evenCapitals) return (unit % 2 == 0) ? static_cast<char16_t>(unit + 1) : unit;
        return (unit % 2 == 1) ? static_cast<char16_t>(unit + 1) : unit;
    }
    // Greek.
    if (unit >= 0x391 && unit <= 0x3AB && unit != 0x3A2) return static_cast<char16_t>(unit + 32);
    if (unit == 0x386) return 0x3AC;
    if (unit >= 0x388 && unit <= 0x38A) return static_cast<char16_t>(unit + 37);
    if (unit == 0x38C) return 0x3CC;
    if (unit == 0x38E || unit == 0x38F) return static_cast<char16_t>(unit + 63);
    if (unit == 0x3C2) return 0x3C3;  // final sigma matches sigma
    // Cyrillic.
    if (unit >= 0x410 && unit <= 0x42F) return static_cast<char16_t>(unit + 32);
    if (unit >= 0x400 && unit <= 0x40F) return static_cast<char16_t>(unit + 80);
    if ((unit >= 0x460 && unit <= 0x481) || (unit >= 0x48A && unit <= 0x4BF) ||
        (unit >= 0x4D0 && unit <= 0x52F))
        return (unit % 2 == 0) ? static_cast<char16_t>(unit + 1) : unit;
    if (unit == 0x4C0) return 0x4CF;
    if (unit >= 0x4C1 && unit <= 0x4CE) return (unit % 2 == 1) ? static_cast<char16_t>(unit + 1) : unit;
    return unit;
}

std::u16string FoldCase(std::u16string_view text) {
    std::u16string folded(text);
    for (char16_t& unit : folded)
        unit = FoldCase(unit);
    return folded;
}

std::optional<SearchQuery> MakeSearchQuery(std::u16string_view typed, SearchOptions options) {
    SearchQuery query;
    query.options = options;
    if (options.hexBytes) {
        std::u16string digits;
        for (char16_t unit : typed) {
            if (isXmlSpace(unit)) continue;
            if (!isHexDigit(unit)) return std::nullopt;
            digits.push_back(unit);
        }
        if (digits.empty() || digits.size() % 2 != 0) return std::nullopt;
        for (std::size_t i = 0; i < digits.size(); i += 2)
            query.bytes.push_back(static_cast<std::byte>(hexValue(digits[i]) * 16 + hexValue(digits[i + 1])));
        return query;
    }
    if (typed.empty()) return std::nullopt;
    query.text = options.caseSensitive ? std::u16string(typed) : FoldCase(typed);
    return query;
}

bool HoldsNoText(const ResourceKey& type) {
    if (type.isName) return false;
    switch (type.id) {
        case resource_type::kCursor:
        case resource_type::kBitmap:
        case resource_type::kIcon:
        case resource_type::kFontDirectory:
        case resource_type::kFont:
        case resource_type::kGroupCursor:
        case resource_type::kGroupIcon:
        case resource_type::kAnimatedCursor:
        case resource_type::kAnimatedIcon:
            return true;
        default:
            return false;
    }
}

std::uint32_t ResourceSearchIndex::addResource(const SearchResource& resource) {
    const auto index = static_cast<std::uint32_t>(resources_.size());
    resources_.push_back(resource);
    SearchText name;
    name.resource = index;
    name.place = SearchPlace::kName;
    name.text = resource.name.isName ? resource.name.name : decimal(resource.name.id);
    addText(std::move(name));
    return index;
}

void ResourceSearchIndex::addText(SearchText text) {
    if (text.text.empty()) return;
    text.folded = FoldCase(text.text);
    texts_.push_back(std::move(text));
}

std::uint32_t ResourceSearchIndex::resourceOf(const SearchResource& resource) {
    for (std::size_t i = resources_.size(); i-- > 0;)
        if (resources_[i] == resource) return static_cast<std::uint32_t>(i);
    resources_.push_back(resource);
    return static_cast<std::uint32_t>(resources_.size() - 1);
}

void ResourceSearchIndex::setFile(std::uint32_t resource, std::filesystem::path file) {
    if (resource >= resources_.size()) return;
    if (files_.size() <= resource) files_.resize(resource + 1);
    files_[resource] = std::move(file);
}

const std::filesystem::path& ResourceSearchIndex::fileOf(std::uint32_t resource) const {
    static const std::filesystem::path kNone;
    return resource < files_.size() ? files_[resource] : kNone;
}

bool ResourceSearchIndex::addResourceData(std::uint32_t resource, Bytes data, bool wideText) {
    if (resource >= resources_.size()) return false;
    const SearchResource& owner = resources_[resource];
    if (HoldsNoText(owner.type)) return false;
    auto add = [&](SearchPlace place, std::uint32_t detail, std::u16string label, std::u16string text,
                   std::int64_t paneOffset = -1) {
        SearchText entry;
        entry.resource = resource;
        entry.place = place;
        entry.detail = detail;
        entry.label = std::move(label);
        entry.text = std::move(text);
        entry.paneOffset = paneOffset;
        addText(std::move(entry));
    };
    const std::uint16_t type = owner.type.isName ? 0 : owner.type.id;
    if (type == resource_type::kDialog) {
        DialogTemplate dialog;
        if (DecodeDialogTemplate(data, dialog).failed()) return false;
        add(SearchPlace::kDialogCaption, 0, {}, dialog.title);
        for (std::size_t i = 0; i < dialog.items.size(); ++i) {
            const DialogItem& item = dialog.items[i];
            if (item.title.isText())
                add(SearchPlace::kDialogControl, static_cast<std::uint32_t>(i), decimal(item.id),
                    item.title.text);
        }
        return true;
    }
    if (type == resource_type::kMenu) {
        MenuTemplate menu;
        if (DecodeMenuTemplate(data, menu).failed()) return false;
        std::vector<std::pair<std::uint32_t, std::u16string>> texts;
        collectMenuTexts(menu.items, texts);
        for (auto& [id, text] : texts)
            add(SearchPlace::kMenuItem, id, {}, std::move(text));
        return true;
    }
    if (type == resource_type::kVersion) {
        VersionInfo info;
        if (ParseVersionInfo(data, info).failed()) return false;
        for (VersionStringTable& table : GetVersionStringTables(info))
            for (auto& [key, value] : table.strings)
                add(SearchPlace::kVersionString, 0, key, std::move(value));
        return true;
    }
    if (type == resource_type::kAccelerator || type == resource_type::kMessageTable) {
        // Shown in the text pane as script text; the same options give the same text.
        ScriptOptions options;
        options.name = ScriptResourceName(owner.name);
        options.language = owner.language;
        ScriptText script;
        if (ResourceToScript(owner.type, data, options, script).failed()) return false;
        add(SearchPlace::kText, 0, {}, utf8ToUtf16(script.text), 0);
        return true;
    }
    if (data.size() > kTextFileLimit) return false;
    DecodedText decoded = DecodeTextFile(data, wideText);
    if (decoded.binary) return false;
    add(SearchPlace::kText, 0, {}, std::move(decoded.text), 0);
    return true;
}

void ResourceSearchIndex::addStringsXml(Bytes data, std::uint16_t defaultLanguage) {
    const DecodedText decoded = DecodeTextFile(data, false);
    if (decoded.binary) return;
    const std::u16string_view text = decoded.text;
    for (std::size_t at = text.find(u"<E"); at != std::u16string_view::npos; at = text.find(u"<E", at)) {
        at += 2;
        if (at < text.size() && !isXmlSpace(text[at])) continue;
        StringLine line = readStringLine(text, at);
        if (!line.id || *line.id > 0xFFFF || !line.text || line.text->text.empty()) continue;
        if (line.language && *line.language > 0xFFFF) continue;
        const auto language = static_cast<std::uint16_t>(line.language.value_or(defaultLanguage));
        SearchResource resource{ResourceKey::ofId(resource_type::kString),
                                ResourceKey::ofId(static_cast<std::uint16_t>(*line.id / 16 + 1)), language};
        SearchText entry;
        entry.resource = resourceOf(resource);
        entry.place = SearchPlace::kString;
        entry.detail = *line.id;
        entry.text = std::move(line.text->text);
        entry.paneOffset = static_cast<std::int64_t>(line.text->rawStart);
        entry.escapedOffsets = std::move(line.text->escapedOffsets);
        addText(std::move(entry));
    }
}

void ResourceSearchIndex::search(const SearchQuery& query, std::size_t begin, std::size_t end,
                                 std::vector<SearchHit>& hits) const {
    if (query.options.hexBytes || query.text.empty()) return;
    const std::u16string_view needle = query.text;
    end = std::min(end, texts_.size());
    for (std::size_t i = begin; i < end; ++i) {
        const SearchText& entry = texts_[i];
        const std::u16string_view haystack = query.options.caseSensitive ? entry.text : entry.folded;
        for (std::size_t at = haystack.find(needle); at != std::u16string_view::npos;
             at = haystack.find(needle, at + needle.size())) {
            SearchHit hit;
            hit.resource = entry.resource;
            hit.place = entry.place;
            hit.detail = entry.detail;
            hit.label = entry.label;
            const std::u16string_view text = entry.text;
            std::size_t lineStart = 0;
            std::size_t lineEnd = text.size();
            if (text.size() > kExcerptLimit || text.find(u'\n') != std::u16string_view::npos) {
                const std::size_t newline = at == 0 ? std::u16string_view::npos : text.rfind(u'\n', at - 1);
                lineStart = newline == std::u16string_view::npos ? 0 : newline + 1;
                while (lineStart < at && (text[lineStart] == u' ' || text[lineStart] == u'\t'))
                    ++lineStart;
                lineEnd = std::min(text.find(u'\n', at + needle.size()), text.size());
                // A match far into its line keeps some text before it in view.
                if (at - lineStart > kExcerptLead) lineStart = at - kExcerptLead;
                lineEnd = std::min(lineEnd, std::max(at + needle.size(), lineStart + kExcerptLimit));
            }
            hit.excerpt = std::u16string(text.substr(lineStart, lineEnd - lineStart));
            hit.matchStart = at - lineStart;
            hit.matchLength = needle.size();
            if (entry.paneOffset >= 0) {
                const bool escaped = !entry.escapedOffsets.empty();
                hit.paneStart = entry.paneOffset + (escaped ? entry.escapedOffsets[at] : at);
                hit.paneEnd = entry.paneOffset +
                              (escaped ? entry.escapedOffsets[at + needle.size()] : at + needle.size());
            }
            hits.push_back(std::move(hit));
        }
    }
}

void SearchBytes(Bytes data, std::uint32_t resource, const std::vector<std::byte>& needle,
                 std::vector<SearchHit>& hits) {
    if (needle.empty()) return;
    static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
    for (auto found = std::search(data.begin(), data.end(), needle.begin(), needle.end());
         found != data.end(); found = std::search(found + 1, data.end(), needle.begin(), needle.end())) {
        SearchHit hit;
        hit.resource = resource;
        hit.place = SearchPlace::kBytes;
        const auto offset = static_cast<std::size_t>(found - data.begin());
        hit.detail = static_cast<std::uint32_t>(std::min<std::size_t>(offset, UINT32_MAX));
        // The excerpt: up to 8 bytes either side, the match in the middle.
        const std::size_t first = offset >= 8 ? offset - 8 : 0;
        const std::size_t last = std::min(data.size(), offset + needle.size() + 8);
        for (std::size_t i = first; i < last; ++i) {
            if (i == offset) hit.matchStart = hit.excerpt.size();
            const auto value = static_cast<std::uint8_t>(data[i]);
            hit.excerpt.push_back(kDigits[value >> 4]);
            hit.excerpt.push_back(kDigits[value & 15]);
            if (i + 1 < last) hit.excerpt.push_back(u' ');
        }
        hit.matchLength = needle.size() * 3 - 1;
        hit.paneStart = static_cast<std::int64_t>(offset);
        hit.paneEnd = static_cast<std::int64_t>(offset + needle.size());
        hits.push_back(std::move(hit));
    }
}

namespace {

std::optional<std::string> fileNameOf(const XmlElement* languageEntry) {
    for (XmlElement* child = languageEntry->firstChild(); child != nullptr; child = child->next()) {
        if (!iequalsAscii(child->name(), "File")) continue;
        for (XmlAttribute* attribute = child->firstAttribute(); attribute != nullptr;
             attribute = attribute->next())
            if (iequalsAscii(attribute->name(), "Name")) return attribute->value();
    }
    return std::nullopt;
}

}  // namespace

std::vector<SearchSource> ListSearchSources(const XmlDocument& description,
                                            const std::filesystem::path& folder) {
    std::vector<SearchSource> sources;
    std::optional<SearchSource> strings;
    for (XmlElement* entry : ListResourceEntries(description)) {
        const std::optional<DescribedResource> described = DescribeResourceEntry(description, entry);
        if (!described) continue;
        SearchSource source;
        source.resource = {described->type, described->name, described->language};
        const std::optional<std::string> name = fileNameOf(entry);
        const bool stringBlock = !described->type.isName && described->type.id == resource_type::kString;
        if (stringBlock) {
            // Every block names STRINGS.XML; the first one's language is that of lines without one.
            if (!strings && name && resolveStored(folder, *name, source.file).succeeded()) {
                source.stringsXml = true;
                strings = std::move(source);
            }
            continue;
        }
        if (name) {
            if (resolveStored(folder, *name, source.file).failed()) source.file.clear();
            source.wideText = prefersUtf16(source.file);
        }
        sources.push_back(std::move(source));
    }
    if (strings) sources.push_back(std::move(*strings));
    return sources;
}

bool BuildSearchIndex(const std::vector<SearchSource>& sources, ResourceSearchIndex& index,
                      const std::atomic<bool>* cancel) {
    std::vector<std::byte> bytes;
    for (const SearchSource& source : sources) {
        if (cancel != nullptr && cancel->load(std::memory_order_relaxed)) return false;
        if (source.stringsXml) {
            if (ReadWholeFile(source.file, bytes).failed()) continue;
            const std::size_t first = index.resources().size();
            index.addStringsXml(asBytes(bytes), source.resource.language);
            for (std::size_t resource = first; resource < index.resources().size(); ++resource)
                index.setFile(static_cast<std::uint32_t>(resource), source.file);
            continue;
        }
        const std::uint32_t resource = index.addResource(source.resource);
        if (source.file.empty()) continue;
        index.setFile(resource, source.file);
        if (HoldsNoText(source.resource.type)) continue;
        if (ReadWholeFile(source.file, bytes).succeeded())
            (void)index.addResourceData(resource, asBytes(bytes), source.wideText);
    }
    return true;
}

}  // namespace kestrel
