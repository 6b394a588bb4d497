#include "core/pe/manifest_edit.h"

#include <vector>

namespace kestrel {

namespace {

constexpr std::string_view kTrustInfoNamespace = "urn:schemas-microsoft-com:asm.v3";

struct Attribute {
    std::string_view name;
    std::size_t valueBegin = 0;  // inside the quotes
    std::size_t valueEnd = 0;
};

// One element of the manifest as its text places it.
struct Element {
    std::string_view name;  // as written, with its prefix
    std::size_t nameEnd = 0;
    std::size_t tagEnd = 0;  // just after the start tag's '>'
    bool selfClosing = false;
    std::size_t closeBegin = std::string_view::npos;  // the '<' of the end tag
    int parent = -1;
    std::vector<Attribute> attributes;

    std::string_view localName() const {
        const std::size_t colon = name.rfind(':');
        return colon == std::string_view::npos ? name : name.substr(colon + 1);
    }
    std::string_view prefix() const {  // with its colon; empty without one
        const std::size_t colon = name.rfind(':');
        return colon == std::string_view::npos ? std::string_view() : name.substr(0, colon + 1);
    }
};

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::size_t skipSpace(std::string_view text, std::size_t at) {
    while (at < text.size() && isSpace(text[at]))
        ++at;
    return at;
}

std::size_t nameEnd(std::string_view text, std::size_t at) {
    while (at < text.size() && !isSpace(text[at]) && text[at] != '>' && text[at] != '/' && text[at] != '=')
        ++at;
    return at;
}

// Reads a start tag from its '<' at `begin`; nullopt when it is malformed.
std::optional<Element> readStartTag(std::string_view text, std::size_t begin) {
    Element element;
    element.nameEnd = nameEnd(text, begin + 1);
    element.name = text.substr(begin + 1, element.nameEnd - begin - 1);
    if (element.name.empty()) return std::nullopt;
    std::size_t at = element.nameEnd;
    for (;;) {
        const std::size_t next = skipSpace(text, at);
        if (next >= text.size()) return std::nullopt;
        if (text[next] == '>') {
            element.tagEnd = next + 1;
            return element;
        }
        if (text.substr(next, 2) == "/>") {
            element.selfClosing = true;
            element.tagEnd = next + 2;
            return element;
        }
        // An attribute must be separated from what comes before it.
        if (next == at) return std::nullopt;
        Attribute attribute;
        const std::size_t attributeNameEnd = nameEnd(text, next);
        attribute.name = text.substr(next, attributeNameEnd - next);
        std::size_t equals = skipSpace(text, attributeNameEnd);
        if (attribute.name.empty() || equals >= text.size() || text[equals] != '=') return std::nullopt;
        const std::size_t quote = skipSpace(text, equals + 1);
        if (quote >= text.size() || (text[quote] != '"' && text[quote] != '\'')) return std::nullopt;
        const std::size_t closing = text.find(text[quote], quote + 1);
        if (closing == std::string_view::npos) return std::nullopt;
        if (text.substr(quote + 1, closing - quote - 1).find('<') != std::string_view::npos)
            return std::nullopt;
        attribute.valueBegin = quote + 1;
        attribute.valueEnd = closing;
        element.attributes.push_back(attribute);
        at = closing + 1;
    }
}

// Every element of the text in document order with its parent, or nullopt when the markup does not
// nest: unclosed or mismatched tags, unterminated comments, sections or instructions, more than one
// root element, or none.
std::optional<std::vector<Element>> scanElements(std::string_view text) {
    std::vector<Element> elements;
    std::vector<int> open;
    int roots = 0;
    std::size_t at = 0;
    while ((at = text.find('<', at)) != std::string_view::npos) {
        const std::string_view rest = text.substr(at);
        auto skipTo = [&](std::string_view terminator, std::size_t from) {
            const std::size_t end = text.find(terminator, at + from);
            return end == std::string_view::npos ? end : end + terminator.size();
        };
        std::size_t next = 0;
        if (rest.starts_with("<!--")) {
            next = skipTo("-->", 4);
        } else if (rest.starts_with("<![CDATA[")) {
            if (open.empty()) return std::nullopt;
            next = skipTo("]]>", 9);
        } else if (rest.starts_with("<?")) {
            next = skipTo("?>", 2);
        } else if (rest.starts_with("<!")) {
            if (rest.find('[') < rest.find('>')) return std::nullopt;  // an internal subset: not a manifest
            next = skipTo(">", 2);
        } else if (rest.starts_with("</")) {
            const std::size_t end = nameEnd(text, at + 2);
            const std::size_t close = skipSpace(text, end);
            if (open.empty() || close >= text.size() || text[close] != '>') return std::nullopt;
            Element& element = elements[static_cast<std::size_t>(open.back())];
            if (text.substr(at + 2, end - at - 2) != element.name) return std::nullopt;
            element.closeBegin = at;
            open.pop_back();
            next = close + 1;
        } else {
            std::optional<Element> element = readStartTag(text, at);
            if (!element) return std::nullopt;
            if (open.empty() && ++roots > 1) return std::nullopt;
            element->parent = open.empty() ? -1 : open.back();
            next = element->tagEnd;
            elements.push_back(std::move(*element));
            if (!elements.back().selfClosing) open.push_back(static_cast<int>(elements.size() - 1));
        }
        if (next == std::string_view::npos) return std::nullopt;
        at = next;
    }
    if (!open.empty() || elements.empty()) return std::nullopt;
    return elements;
}

// The spaces and tabs in front of `at` when nothing else stands between it and the line's start.
std::optional<std::string_view> indentBefore(std::string_view text, std::size_t at) {
    std::size_t start = at;
    while (start > 0 && (text[start - 1] == ' ' || text[start - 1] == '\t'))
        --start;
    if (start > 0 && text[start - 1] != '\n') return std::nullopt;
    return text.substr(start, at - start);
}

std::optional<std::string_view> elementIndent(std::string_view text, const Element& element) {
    return indentBefore(text, element.nameEnd - element.name.size() - 1);
}

// What `outer` indents by beyond `inner`, when both stand at the start of their lines.
std::optional<std::string> deeperBy(std::optional<std::string_view> outer,
                                    std::optional<std::string_view> inner) {
    if (!outer || !inner || inner->size() <= outer->size() || !inner->starts_with(*outer))
        return std::nullopt;
    return std::string(inner->substr(outer->size()));
}

// The step one nesting level adds in this manifest: what the first child of the element is
// indented by beyond it, else what the element is indented by beyond its parent, else two spaces.
std::string indentStep(std::string_view text, const std::vector<Element>& elements, std::size_t index) {
    const Element& element = elements[index];
    const auto own = elementIndent(text, element);
    for (std::size_t child = index + 1; child < elements.size(); ++child) {
        if (elements[child].parent != static_cast<int>(index)) continue;
        if (auto step = deeperBy(own, elementIndent(text, elements[child]))) return *step;
        break;
    }
    if (element.parent >= 0) {
        const auto parentIndent = elementIndent(text, elements[static_cast<std::size_t>(element.parent)]);
        if (auto step = deeperBy(parentIndent, own)) return *step;
    }
    return "  ";
}

// The elements from `chain` down to requestedExecutionLevel, each inside the one before, with
// `prefix` on every name; the first one declares the asm.v3 namespace when `declareNamespace`.
// Pretty (each element on a line of its own, `indent` deeper per level, starting at `base`,
// without a line end after the last line) when `newline` is not empty, compact otherwise.
std::string nestedElements(const std::vector<std::string_view>& chain, std::string_view prefix,
                           bool declareNamespace, std::string_view level, std::string_view newline,
                           std::string_view base, std::string_view indent) {
    std::string text;
    // Every line but the first (which the caller has indented) starts with the line end and `base`.
    auto lineStart = [&](std::size_t depth) {
        if (newline.empty()) return;
        if (!text.empty()) {
            text += newline;
            text += base;
        }
        for (std::size_t i = 0; i < depth && !text.empty(); ++i)
            text += indent;
    };
    for (std::size_t depth = 0; depth < chain.size(); ++depth) {
        lineStart(depth);
        text += '<';
        text += prefix;
        text += chain[depth];
        if (depth == 0 && declareNamespace) {
            text += " xmlns=\"";
            text += kTrustInfoNamespace;
            text += '"';
        }
        text += '>';
    }
    lineStart(chain.size());
    text += '<';
    text += prefix;
    text += "requestedExecutionLevel level=\"";
    text += level;
    text += "\" uiAccess=\"false\"/>";
    for (std::size_t depth = chain.size(); depth-- > 0;) {
        lineStart(depth);
        text += "</";
        text += prefix;
        text += chain[depth];
        text += '>';
    }
    return text;
}

// Inserts the chain as the last child of elements[index].
std::string insertInto(std::string_view text, const std::vector<Element>& elements, std::size_t index,
                       const std::vector<std::string_view>& chain, bool declareNamespace,
                       std::string_view level) {
    const Element& parent = elements[index];
    const std::string_view prefix = declareNamespace ? std::string_view() : parent.prefix();
    std::string result;
    if (parent.selfClosing) {
        // <x .../> becomes <x ...>children</x>; the '/' goes, with the spaces in front of it.
        std::size_t slash = parent.tagEnd - 2;
        while (slash > parent.nameEnd && isSpace(text[slash - 1]))
            --slash;
        result.append(text.substr(0, slash));
        result += '>';
        result += nestedElements(chain, prefix, declareNamespace, level, {}, {}, {});
        result += "</";
        result += parent.name;
        result += '>';
        result.append(text.substr(parent.tagEnd));
        return result;
    }
    const std::size_t at = parent.closeBegin;
    const auto closeIndent = indentBefore(text, at);
    std::string inserted;
    if (closeIndent) {
        const std::string_view newline = text.find("\r\n") != std::string_view::npos ? "\r\n" : "\n";
        const std::string step = indentStep(text, elements, index);
        const std::string base = std::string(*closeIndent) + step;
        inserted = step + nestedElements(chain, prefix, declareNamespace, level, newline, base, step) +
                   std::string(newline) + std::string(*closeIndent);
    } else {
        inserted = nestedElements(chain, prefix, declareNamespace, level, {}, {}, {});
    }
    result.append(text.substr(0, at));
    result += inserted;
    result.append(text.substr(at));
    return result;
}

std::optional<std::size_t> findElement(const std::vector<Element>& elements, std::string_view localName,
                                       std::string_view parentLocalName = {}) {
    for (std::size_t i = 0; i < elements.size(); ++i) {
        if (elements[i].localName() != localName) continue;
        if (parentLocalName.empty()) return i;
        const int parent = elements[i].parent;
        if (parent >= 0 && elements[static_cast<std::size_t>(parent)].localName() == parentLocalName)
            return i;
    }
    return std::nullopt;
}

}  // namespace

bool HasWellFormedMarkup(std::string_view text) {
    return scanElements(text).has_value();
}

bool IsExecutionLevel(std::string_view level) {
    return level == "asInvoker" || level == "highestAvailable" || level == "requireAdministrator";
}

std::optional<std::string> SetRequestedExecutionLevel(std::string_view manifest, std::string_view level) {
    // UTF-16 text (a byte-order mark or NULs) would need converting, which changes every byte.
    if (manifest.starts_with("\xFF\xFE") || manifest.starts_with("\xFE\xFF") ||
        manifest.find('\0') != std::string_view::npos)
        return std::nullopt;
    const auto elements = scanElements(manifest);
    if (!elements) return std::nullopt;

    if (auto index = findElement(*elements, "requestedExecutionLevel")) {
        const Element& element = (*elements)[*index];
        for (const Attribute& attribute : element.attributes) {
            if (attribute.name != "level") continue;
            std::string result(manifest.substr(0, attribute.valueBegin));
            result += level;
            result.append(manifest.substr(attribute.valueEnd));
            return result;
        }
        std::string result(manifest.substr(0, element.nameEnd));
        result += " level=\"";
        result += level;
        result += '"';
        result.append(manifest.substr(element.nameEnd));
        return result;
    }
    if (auto index = findElement(*elements, "requestedPrivileges", "security"))
        return insertInto(manifest, *elements, *index, {}, false, level);
    if (auto index = findElement(*elements, "security", "trustInfo"))
        return insertInto(manifest, *elements, *index, {"requestedPrivileges"}, false, level);
    if (auto index = findElement(*elements, "trustInfo"))
        return insertInto(manifest, *elements, *index, {"security", "requestedPrivileges"}, false, level);
    return insertInto(manifest, *elements, 0, {"trustInfo", "security", "requestedPrivileges"}, true, level);
}

std::string MakeMinimalManifest(std::string_view level) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
        "<assembly xmlns=\"urn:schemas-microsoft-com:asm.v1\" manifestVersion=\"1.0\">\r\n"
        "</assembly>\r\n";
    return *SetRequestedExecutionLevel(text, level);
}

}  // namespace kestrel
