// Parses arbitrary bytes, walks the whole tree reading every attribute in every kind (entities
// decoded), runs a few path walks, edits the parsed elements and attributes as the input's bytes
// say, and writes the tree to memory.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

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
    std::vector<XmlElement*> elements;
    for (XmlElement* element = doc.documentNode()->next(); element;) {
        indentBytes += depth * 3;
        // Edits scan sibling chains; a thousand keep them quick.
        if (elements.size() < 1024) elements.push_back(element);
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

    // Every kind of edit on parsed records, removed ones included (they stay valid handles).
    for (std::size_t i = 0; i < elements.size(); ++i) {
        XmlElement* element = elements[i];
        const unsigned char pick = data[i % size];
        switch (pick % 5) {
            case 0:
                doc.RemoveElement(element->firstChild());
                break;
            case 1:
                (void)doc.InsertElement(element, element->firstChild(), "n");
                break;
            case 2:
                (void)doc.InsertElement(element, nullptr, "e");
                break;
            case 3:
                doc.SetCurrent(element);
                (void)doc.SetCurrentAttribute((pick & 8) ? "x" : "Name", "v&");
                break;
            default:
                doc.RemoveElement(element);
                break;
        }
    }
    for (XmlElement* element : elements) {
        (void)element->previous();
        (void)element->depth();
        for (XmlAttribute* attribute = element->firstAttribute(); attribute; attribute = attribute->next())
            (void)attribute->value();
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
