// Helpers of the import tests: run a dump of a built image into a temporary folder, read back what
// it wrote (pe.xml through the XML engine, like every reader of the folder), record message boxes.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/errors/errors.h"
#include "core/pe/exe_dump.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel::testing {

namespace pb = kestrel::pebuilder;

// Collects message boxes instead of printing them.
class RecordingSink : public UiSink {
  public:
    RecordingSink() { setUiSink(this); }
    ~RecordingSink() override { setUiSink(nullptr); }
    void message(std::string_view text, std::string_view caption, MessageIcon) override {
        messages.push_back(std::string(caption) + ": " + std::string(text));
    }
    Answer ask(std::string_view, std::string_view, Buttons buttons, int defaultButton, MessageIcon) override {
        return buttonAnswer(buttons, defaultButton);
    }
    int showError() override { return 1; }
    void busy(bool) override {}

    std::vector<std::string> messages;
};

inline HResult dumpInto(const pb::ByteVector& image, const std::filesystem::path& folder, bool png = true) {
    ClearErrorRecord();
    CExeDump dump;
    dump.switches().pngBitmaps = png;
    return dump.Dump(Bytes(image.data(), image.size()), folder, "pe.xml");
}

inline std::string reportText() {
    auto record = PeekErrorRecord();
    return record ? record->description : std::string();
}

// One level-3 entry of pe.xml with its file.
struct DumpedResource {
    std::string type;  // "i:6" or "n:NAME", like the oracle's keys (names in UTF-8 here)
    std::string name;
    std::uint16_t language = 0;
    std::string file;  // empty when the entry has no File
    std::int64_t size = -1;
    std::optional<int> png;
};

inline std::string keyOf(XmlElement* element) {
    if (XmlAttribute* name = XmlDocument::FindAttribute(element, "Name")) return "n:" + name->value();
    if (XmlAttribute* id = XmlDocument::FindAttribute(element, "ID")) return "i:" + id->value();
    return "?";
}

inline std::string attributeOr(XmlElement* element, std::string_view name, std::string fallback = {}) {
    XmlAttribute* attribute = XmlDocument::FindAttribute(element, name);
    return attribute ? attribute->value() : fallback;
}

// Reads pe.xml with the XML engine; nullopt when it is missing or does not parse.
inline std::optional<std::vector<DumpedResource>> readDescription(const std::filesystem::path& folder) {
    XmlDocument document;
    if (document.LoadFile(folder / "pe.xml").failed()) return std::nullopt;
    XmlElement* root = document.documentNode()->next();
    if (!root) return std::nullopt;
    std::vector<DumpedResource> result;
    auto children = [](XmlElement* element, std::string_view name) {
        std::vector<XmlElement*> out;
        for (XmlElement* child = element ? element->firstChild() : nullptr; child; child = child->next())
            if (iequalsAscii(child->name(), name)) out.push_back(child);
        return out;
    };
    for (XmlElement* typeEntry : children(root, "Entry")) {
        for (XmlElement* typeDir : children(typeEntry, "Directory")) {
            for (XmlElement* nameEntry : children(typeDir, "Entry")) {
                for (XmlElement* nameDir : children(nameEntry, "Directory")) {
                    for (XmlElement* langEntry : children(nameDir, "Entry")) {
                        DumpedResource resource;
                        resource.type = keyOf(typeEntry);
                        resource.name = keyOf(nameEntry);
                        resource.language =
                            static_cast<std::uint16_t>(std::stoi(attributeOr(langEntry, "ID", "0")));
                        auto files = children(langEntry, "File");
                        if (!files.empty()) {
                            resource.file = attributeOr(files[0], "Name");
                            resource.size = std::stoll(attributeOr(files[0], "Size", "-1"));
                            std::string png = attributeOr(files[0], "Png");
                            if (!png.empty()) resource.png = std::stoi(png);
                        }
                        result.push_back(resource);
                    }
                }
            }
        }
    }
    return result;
}

inline std::string keyOf(const pb::ResourceId& id) {
    return id.isName ? "n:" + utf16ToUtf8(id.name) : "i:" + std::to_string(id.id);
}

inline const DumpedResource* findDumped(const std::vector<DumpedResource>& all, const pb::ResourceId& type,
                                        const pb::ResourceId& name, std::uint16_t language) {
    for (const auto& resource : all)
        if (resource.type == keyOf(type) && resource.name == keyOf(name) && resource.language == language)
            return &resource;
    return nullptr;
}

// The file of a stored name (`\` separated) under the folder.
inline std::filesystem::path storedPath(const std::filesystem::path& folder, std::string name) {
    for (auto& c : name)
        if (c == '\\') c = '/';
    return folder / pathFromUtf8(name);
}

inline std::vector<std::byte> tail(const std::vector<std::byte>& bytes, std::size_t from) {
    if (from >= bytes.size()) return {};
    return {bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end()};
}

}  // namespace kestrel::testing
