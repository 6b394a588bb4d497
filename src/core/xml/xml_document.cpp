#include "core/xml/xml_document.h"

namespace kestrel {

struct XmlDocument::ElementBlock {};
struct XmlDocument::AttributeBlock {};
struct XmlDocument::StringBlock {};

std::string XmlAttribute::value() const {
    return std::string(rawValue());
}
std::string XmlElement::text() const {
    return std::string(rawText());
}

XmlDocument::XmlDocument() {}
XmlDocument::~XmlDocument() = default;
HResult XmlDocument::LoadFile(const std::filesystem::path&) {
    return kFail;
}
HResult XmlDocument::Parse(const char*, std::size_t) {
    return kFail;
}
void XmlDocument::Reset() {}
HResult XmlDocument::CloseSource() {
    return kOk;
}
XmlElement* XmlDocument::FindElement(std::string_view, std::size_t) {
    return nullptr;
}
XmlElement* XmlDocument::MakeElement(std::string_view, std::size_t) {
    return nullptr;
}
XmlElement* XmlDocument::SetCurrent(XmlElement* element) {
    XmlElement* previous = current_;
    current_ = element;
    return previous;
}
HResult XmlDocument::GetAttributeValue(std::string_view, std::string_view, XmlValueRequest&) {
    return kFail;
}
HResult XmlDocument::GetAttribute(std::string_view, std::string_view, std::string&) {
    return kFail;
}
HResult XmlDocument::GetAttributeInt(std::string_view, std::string_view, std::int32_t&) {
    return kFail;
}
XmlAttribute* XmlDocument::FindAttribute(const XmlElement*, std::string_view) {
    return nullptr;
}
HResult XmlDocument::SetAttribute(std::string_view, std::string_view, std::string_view, std::size_t) {
    return kFail;
}
XmlAttribute* XmlDocument::SetCurrentAttribute(std::string_view, std::string_view, XmlAttribute*) {
    return nullptr;
}
std::string XmlDocument::GetElementName(const XmlElement* element) {
    return element ? std::string(element->name()) : std::string();
}
HResult XmlDocument::OpenOutput(const std::filesystem::path&) {
    return kFail;
}
HResult XmlDocument::Save() {
    return kFail;
}
HResult XmlDocument::SaveFile() {
    return kFail;
}
HResult XmlDocument::SaveToString(std::string&) {
    return kFail;
}
HResult XmlDocument::FlushOutput() {
    return kFail;
}
HResult XmlDocument::CloseOutput() {
    return kFail;
}

}  // namespace kestrel
