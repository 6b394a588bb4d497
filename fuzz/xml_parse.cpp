// Parses arbitrary bytes, walks the whole tree reading every attribute in every kind (entities
// decoded), runs a few path walks and edits, and writes the tree to memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/xml/xml_document.h"

using kestrel::XmlAttribute;
using kestrel::XmlDocument;
using kestrel::XmlElement;
using kestrel::XmlValueKind;
using kestrel::XmlValueRequest;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    XmlDocument doc;
    (void)doc.Parse(reinterpret_cast<const char*>(data), size);

    // Depth-first without recursion, as deep as the input nests.
    std::size_t indentBytes = 0;
    std::size_t depth = 0;
    for (XmlElement* element = doc.documentNode()->next(); element;) {
        indentBytes += depth * 3;
        (void)element->text();
        doc.SetCurrent(element);
        for (XmlAttribute* attribute = element->firstAttribute(); attribute; attribute = attribute->next()) {
            for (int kind = 1; kind <= 12; ++kind) {
                XmlValueRequest request;
                request.kind = static_cast<XmlValueKind>(kind);
                request.textLimit = kind == 1 ? attribute->rawValue().size() % 7 : 0;
                (void)doc.GetAttributeValue("", attribute->name(), request);
            }
        }
        if (element->firstChild()) {
            element = element->firstChild();
            ++depth;
            continue;
        }
        while (!element->next() && depth > 0) {
            element = element->parent();
            --depth;
        }
        element = element->next();
    }

    (void)doc.FindElement("\\Directory\\Entry\\Directory", 0);
    (void)doc.FindElement("Entry/File", 1);
    std::string value;
    (void)doc.GetAttribute("/ROOT/PEFILE", "FileName", value);

    // The layout indents every line, so a very deep tree makes a very large text; that is not
    // what this target is after.
    if (indentBytes < (std::size_t{1} << 22)) {
        std::string saved;
        (void)doc.SaveToString(saved);
        XmlDocument again;
        (void)again.Parse(saved);
        (void)again.SetAttribute("\\ROOT\\RESFILE", "FileName", value);
        // The tree points into `saved`: writing there must be refused, writing elsewhere works.
        if (again.SaveToString(saved) != kestrel::kInvalidArg) std::abort();
        std::string savedAgain;
        (void)again.SaveToString(savedAgain);
    }
    return 0;
}
