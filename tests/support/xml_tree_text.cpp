#include "support/xml_tree_text.h"

#include <string_view>

namespace kestrel::testing {

namespace {

void describeChain(const XmlElement* element, std::size_t longValue, std::string& out) {
    for (bool first = true; element; element = element->next(), first = false) {
        if (!first) out += ',';
        out += element->name();
        if (element->firstAttribute()) {
            out += '(';
            for (const XmlAttribute* a = element->firstAttribute(); a; a = a->next()) {
                out += a->name();
                out += '=';
                const std::string_view value = a->rawValue();
                out += value.size() > longValue ? "<" + std::to_string(value.size()) + " bytes>"
                                                : std::string(value);
                if (a->next()) out += ',';
            }
            out += ')';
        }
        if (element->hasText()) out += "{" + std::string(element->rawText()) + "}";
        if (element->firstChild()) {
            out += '[';
            describeChain(element->firstChild(), longValue, out);
            out += ']';
        }
    }
}

}  // namespace

std::string xmlTreeText(const XmlDocument& doc, std::size_t longValue) {
    std::string out;
    describeChain(doc.documentNode()->next(), longValue, out);
    return out;
}

}  // namespace kestrel::testing
