#include "core/pe/described_file.h"

#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

std::optional<std::int64_t> integerAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = element ? XmlDocument::FindAttribute(element, name) : nullptr;
    std::int64_t value = 0;
    if (!attribute || !parseInt(attribute->value(), value)) return std::nullopt;
    return value;
}

std::optional<std::string> textAttribute(const XmlElement* element, std::string_view name) {
    const XmlAttribute* attribute = element ? XmlDocument::FindAttribute(element, name) : nullptr;
    if (!attribute) return std::nullopt;
    return attribute->value();
}

}  // namespace

DescribedFile::DescribedFile(const XmlElement* languageEntry)
    : entry_(const_cast<XmlElement*>(languageEntry)) {
    for (XmlElement* child = entry_ ? entry_->firstChild() : nullptr; child; child = child->next()) {
        if (iequalsAscii(child->name(), "File")) {
            file_ = child;
            break;
        }
    }
}

DescribedFile DescribedFile::ofFileElement(const XmlElement* fileElement) {
    DescribedFile view;
    view.entry_ = fileElement ? fileElement->parent() : nullptr;
    view.file_ = const_cast<XmlElement*>(fileElement);
    return view;
}

std::optional<DescribedResource> DescribedFile::resource(const XmlDocument& description) const {
    return DescribeResourceEntry(description, entry_);
}

std::optional<std::uint16_t> DescribedFile::language() const {
    auto id = integerAttribute(entry_, "ID");
    if (!id || *id < 0 || *id > 0xFFFF) return std::nullopt;
    return static_cast<std::uint16_t>(*id);
}

std::int64_t DescribedFile::directoryType() const {
    // Language Entry → Directory of the name → name Entry → Directory of the type's names.
    const XmlElement* ancestor = entry_;
    for (int level = 0; level < 3 && ancestor; ++level)
        ancestor = ancestor->parent();
    return integerAttribute(ancestor, "Type").value_or(0);
}

std::optional<std::string> DescribedFile::storedName() const {
    return textAttribute(file_, "Name");
}

std::optional<std::int64_t> DescribedFile::size() const {
    return integerAttribute(file_, "Size");
}

bool DescribedFile::png() const {
    return integerAttribute(file_, "Png").value_or(0) != 0;
}

bool DescribedFile::hasCodePage() const {
    return file_ && XmlDocument::FindAttribute(file_, "CodePage");
}

std::optional<std::uint32_t> DescribedFile::codePage() const {
    auto codePage = integerAttribute(file_, "CodePage");
    if (!codePage || *codePage < 0 || *codePage > 0xFFFFFFFF) return std::nullopt;
    return static_cast<std::uint32_t>(*codePage);
}

std::optional<std::string> DescribedFile::tail() const {
    return textAttribute(file_, "Tail");
}

XmlElement* DescribedFile::ensureFileElement(XmlDocument& description) {
    if (!file_ && entry_) file_ = description.InsertElement(entry_, nullptr, "File");
    return file_;
}

bool DescribedFile::setStoredName(XmlDocument& description, std::string_view storedName) {
    return setAttribute(description, "Name", storedName);
}

bool DescribedFile::setSize(XmlDocument& description, std::uint64_t size) {
    return setAttribute(description, "Size", std::to_string(size));
}

bool DescribedFile::setPng(XmlDocument& description, bool png) {
    return setAttribute(description, "Png", png ? "1" : "0");
}

bool DescribedFile::setCodePage(XmlDocument& description, std::uint32_t codePage) {
    return setAttribute(description, "CodePage", std::to_string(codePage));
}

bool DescribedFile::setAttribute(XmlDocument& description, std::string_view name, std::string_view value) {
    if (!file_) return false;
    description.SetCurrent(file_);
    return description.SetCurrentAttribute(name, value) != nullptr;
}

}  // namespace kestrel
