// What differs between two PE images, read straight from their bytes (no working folder): the
// resources (and, for string tables and version blocks, the strings), the sections' headers and
// bytes, the header fields, the overlay and the certificate table. For reviewers and pipelines that
// ask what an edit changed.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/pe_image.h"
#include "core/pe/resource_reader.h"

namespace kestrel {

enum class DiffChange { kAdded, kRemoved, kChanged };

// A numeric field of the headers or of a section header; a side is missing when that file's
// headers do not have the field (a PE32 image has BaseOfData, a PE32+ image does not).
struct FieldDiff {
    std::string field;
    std::optional<std::uint64_t> oldValue;
    std::optional<std::uint64_t> newValue;
};

// One string of a string table (table empty, key the decimal string ID) or of a version block
// (table "040904B0"-like with the string's key, or "VS_FIXEDFILEINFO" / "VarFileInfo" with a field).
struct StringDiff {
    DiffChange change = DiffChange::kChanged;
    std::u16string table;
    std::u16string key;
    std::u16string oldText;  // empty when added
    std::u16string newText;  // empty when removed
};

struct ResourceDiff {
    DiffChange change = DiffChange::kChanged;
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t newSize = 0;
    std::uint32_t oldCodePage = 0;
    std::uint32_t newCodePage = 0;
    // For a changed resource: false when only the data entry's code page differs.
    bool dataDiffers = true;
    // For a changed bitmap of uncompressed or bit-field pixels: whether the picture (its size and
    // decoded pixels) differs, or only the bytes that describe it.
    std::optional<bool> pixelsDiffer;
    std::vector<StringDiff> strings;
};

struct SectionDiff {
    DiffChange change = DiffChange::kChanged;
    std::u16string name;            // the 8 name bytes up to the first zero, one unit per byte
    std::size_t index = 0;          // in the section table of the file it is in (the old one unless added)
    std::vector<FieldDiff> fields;  // the fields that differ; every main field when added or removed
    bool bytesDiffer = false;       // the raw data (as far as the file holds it)
};

// A range of the file outside every section: the overlay, or the certificate table.
struct FileRangeDiff {
    DiffChange change = DiffChange::kChanged;
    std::uint64_t oldOffset = 0;
    std::uint64_t oldSize = 0;
    std::uint64_t newOffset = 0;
    std::uint64_t newSize = 0;
};

struct PeDiff {
    std::vector<ResourceDiff> resources;
    std::vector<SectionDiff> sections;
    std::vector<FieldDiff> headers;
    std::vector<std::string> headerRegions;  // header bytes that no field names ("DOS header and stub")
    std::optional<FileRangeDiff> overlay;
    std::optional<FileRangeDiff> certificateTable;
    // Parts of a resource directory that could not be read (outside the section, shared or
    // repeated entries); what could be read is compared.
    bool oldResourcesDamaged = false;
    bool newResourcesDamaged = false;

    bool empty() const {
        return resources.empty() && sections.empty() && headers.empty() && headerRegions.empty() &&
               !overlay && !certificateTable;
    }
};

// Compares two parsed images (parsePeImage); their files must stay alive during the call.
PeDiff DiffPeImages(const PeImage& oldImage, const PeImage& newImage);

// One line per difference, in the order resources, sections, header fields, overlay, certificate
// table; nothing when the diff is empty.
std::string FormatPeDiffText(const PeDiff& diff);
// The same as one JSON document (an object; "equal" says whether anything differs). The file names
// are given as UTF-8 (WTF-8).
std::string FormatPeDiffJson(const PeDiff& diff, std::string_view oldName, std::string_view newName);

// The 16 strings of a string-table block: each a 16-bit length and that many UTF-16 units; slots
// missing at the end of a short block are empty, bytes after the 16th are ignored. E_FAIL, with
// every slot empty, when a string runs past the end of the block.
HResult ReadStringBlock(Bytes block, std::array<std::u16string, 16>& slots);

// A resource type as people know it: "ICON", "VERSION", ... for the standard numbers, else the
// number; a named type in double quotes.
std::string ResourceTypeLabel(const ResourceKey& type);

}  // namespace kestrel
