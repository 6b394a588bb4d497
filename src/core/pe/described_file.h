// The typed view of one resource of the description (pe.xml): its language Entry and the File
// element under it, which names the resource's file in the working folder and says how the compile
// takes it.
//
//   <Entry ID='1033' Directory='0'>
//      <File Name='Bitmap00101.BMP' Size='1080' Png='1' CodePage='1252'/>
//   </Entry>
//
// The compile, the edits, the panes and the command line read and write these attributes through
// this view only, so that what each attribute means is decided in one place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "core/pe/description_edit.h"

namespace kestrel {

class XmlDocument;
class XmlElement;

class DescribedFile {
  public:
    DescribedFile() = default;
    // The view of `languageEntry` and its first File child (none when null). Like the tree's own
    // links, the view does not carry the constness of the element it was made from.
    explicit DescribedFile(const XmlElement* languageEntry);
    // The view of the language Entry that holds `fileElement`.
    static DescribedFile ofFileElement(const XmlElement* fileElement);

    XmlElement* entry() const { return entry_; }
    // Null when the entry names no file.
    XmlElement* fileElement() const { return file_; }

    // --- The resource ----------------------------------------------------------------------------

    // Type, name and language (see DescribeResourceEntry).
    std::optional<DescribedResource> resource(const XmlDocument& description) const;
    // The language Entry's ID, when it is a number up to 0xFFFF.
    std::optional<std::uint16_t> language() const;
    // The Type the import writes on the Directory of the type's names: the type number, 0 for a
    // named type; 0 when the entry is not that deep or the value is not a number.
    std::int64_t directoryType() const;

    // --- The file --------------------------------------------------------------------------------

    // The stored name (UTF-8, `\` separators) as written; nullopt without a File or a Name.
    std::optional<std::string> storedName() const;
    std::optional<std::int64_t> size() const;
    // A nonzero Png: the picture is kept as a PNG file beside the stored .BMP name.
    bool png() const;
    bool hasCodePage() const;
    // The data entry's code page; nullopt when absent or not a number from 0 to 0xFFFFFFFF.
    std::optional<std::uint32_t> codePage() const;
    // A string block's bytes after its 16th string, as hex digits; nullopt when absent.
    std::optional<std::string> tail() const;

    // --- Writing ---------------------------------------------------------------------------------
    //
    // Values are copied into the description's string pool; the element written becomes its
    // current element. The setters change an existing File only and return false without one or
    // when memory runs out.

    // The File element, created as the entry's last child when missing (null when memory runs out
    // or there is no entry).
    XmlElement* ensureFileElement(XmlDocument& description);
    bool setStoredName(XmlDocument& description, std::string_view storedName);
    bool setSize(XmlDocument& description, std::uint64_t size);
    bool setPng(XmlDocument& description, bool png);
    bool setCodePage(XmlDocument& description, std::uint32_t codePage);

  private:
    bool setAttribute(XmlDocument& description, std::string_view name, std::string_view value);

    XmlElement* entry_ = nullptr;
    XmlElement* file_ = nullptr;
};

}  // namespace kestrel
