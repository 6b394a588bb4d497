// Writes synthetic PE32 images and resource payloads for the sample file and the tests.
//
// Everything here is test scaffolding: it trusts its caller, lays out first and writes second,
// and can deliberately produce malformed trees and headers for hostile-input tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrel::pebuilder {

using ByteVector = std::vector<std::byte>;

// Standard resource types.
inline constexpr std::uint16_t kRtCursor = 1;
inline constexpr std::uint16_t kRtBitmap = 2;
inline constexpr std::uint16_t kRtIcon = 3;
inline constexpr std::uint16_t kRtMenu = 4;
inline constexpr std::uint16_t kRtDialog = 5;
inline constexpr std::uint16_t kRtString = 6;
inline constexpr std::uint16_t kRtRcData = 10;
inline constexpr std::uint16_t kRtGroupCursor = 12;
inline constexpr std::uint16_t kRtGroupIcon = 14;
inline constexpr std::uint16_t kRtVersion = 16;
inline constexpr std::uint16_t kRtHtml = 23;
inline constexpr std::uint16_t kRtManifest = 24;

inline constexpr std::uint16_t kLangEnUs = 1033;
inline constexpr std::uint16_t kLangZhCn = 2052;
inline constexpr std::uint16_t kLangDeDe = 1031;

// A resource type, name or language key: a 16-bit ID or a UTF-16 name.
struct ResourceId {
    ResourceId() = default;
    ResourceId(std::uint16_t numeric) : id(numeric) {}  // NOLINT: implicit on purpose
    ResourceId(std::u16string text) : name(std::move(text)), isName(true) {}
    ResourceId(const char16_t* text) : name(text), isName(true) {}

    std::uint16_t id = 0;
    std::u16string name;
    bool isName = false;

    friend bool operator==(const ResourceId&, const ResourceId&) = default;
};

struct Resource {
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0;
    ByteVector data;
    std::uint32_t codePage = 0;
};

// Deliberate damage to an otherwise correct resource directory. Each applies to the first place
// where it can (in layout order); a knob that finds no place (no named entry for kNamePastEnd)
// leaves the tree intact.
enum class TreeFault {
    kNone,
    kEntryPointsAtItsOwnDirectory,  // the first entry of the first type's name directory leads to that
                                    // directory
    kEntryPointsAtRoot,             // the first entry of the first language directory leads to the root
    kDataOffsetPastSection,         // the first data entry's RVA lies beyond the section (and the image)
    kDataSizePastSection,           // the first data entry's size runs past the end of the section
    kNamePastEnd,                   // the first named entry's name offset lies beyond the section
    kCountLargerThanData,           // the root claims far more ID entries than the section holds
};

struct ResourceSectionOptions {
    // Sorted: named entries first, ordered case-insensitively by UTF-16 units, then IDs ascending,
    // as a linker writes them. keepCallerOrder keeps the caller's order at every level (first
    // appearance), even IDs before names.
    bool keepCallerOrder = false;
    // Each resource's data starts on this boundary (linkers use 8).
    std::uint32_t dataAlignment = 8;
    TreeFault fault = TreeFault::kNone;
};

// The bytes of a resource section laid out at `sectionRva`: directory tables (breadth first),
// name strings, data entries, then the data. Not padded to any file alignment.
ByteVector buildResourceSection(const std::vector<Resource>& resources, std::uint32_t sectionRva,
                                const ResourceSectionOptions& options = {});

// Section characteristics.
inline constexpr std::uint32_t kSectionCode = 0x60000020;               // code, execute, read
inline constexpr std::uint32_t kSectionInitializedData = 0x40000040;    // initialized data, read
inline constexpr std::uint32_t kSectionUninitializedData = 0xC0000080;  // bss, read, write
inline constexpr std::uint32_t kSectionRelocations = 0x42000040;        // initialized, discardable, read

struct SectionPlan {
    std::string name;               // written as up to 8 bytes, zero-padded; may be empty or repeat another
    ByteVector data;                // raw data (padded to the file alignment in the image)
    std::uint32_t virtualSize = 0;  // 0: the data size (at least 1)
    std::uint32_t characteristics = kSectionInitializedData;
    bool noRawData = false;  // SizeOfRawData 0 and PointerToRawData 0, like .bss
};

// Deliberate damage to the headers of an otherwise correct image.
enum class ImageFault {
    kNone,
    kLfanewPastEnd,          // e_lfanew points beyond the end of the file
    kSizeOfHeadersTooSmall,  // SizeOfHeaders smaller than the headers and section table
    kRawDataPastEnd,         // the resource section's PointerToRawData lies beyond the end of the file
    kRomMagic,               // optional header magic 0x107 (a ROM image)
};

// A .text section with a few bytes of code (push ebp; mov ebp, esp; mov eax, [0x10001010]; pop ebp;
// ret) and the 4-byte cell it reads; the default .reloc block fixes up that address operand.
SectionPlan defaultTextSection();

struct ImagePlan {
    std::vector<Resource> resources;
    ResourceSectionOptions resourceOptions;
    bool withResourceSection = true;  // false: no .rsrc at all (directory 2 stays empty)
    std::vector<SectionPlan> sectionsBeforeResources{defaultTextSection()};
    std::vector<SectionPlan> sectionsAfterResources;  // placed between .rsrc and .reloc
    bool withRelocations = true;                      // .reloc with one small block, last section

    // PE32+ (optional-header magic 0x20B, 64-bit image base and stack and heap sizes) instead of PE32.
    bool pe32Plus = false;
    std::uint16_t machine = 0;  // 0: i386 for PE32, x86-64 for PE32+
    std::uint32_t imageBase = 0x10000000;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint16_t characteristics = 0x2102;  // executable, 32-bit machine, DLL
    std::uint16_t subsystem = 2;             // Windows GUI

    // COFF symbol table after the last section's raw data: this many 18-byte symbols (each naming
    // a section, some with long names) and the string table; PointerToSymbolTable/NumberOfSymbols set.
    std::uint32_t symbolCount = 0;
    // Bytes after the symbol table (or after the last section); never part of any section.
    ByteVector overlay;
    // Directory 4 (certificate table, a file offset) covers the overlay, which then starts on an
    // 8-byte boundary; an empty overlay becomes a small WIN_CERTIFICATE.
    bool certificateInOverlay = false;
    bool writeChecksum = true;  // the standard PE checksum; false leaves 0

    ImageFault fault = ImageFault::kNone;
};

struct SectionLayout {
    std::string name;
    std::uint32_t virtualAddress = 0;
    std::uint32_t virtualSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t rawSize = 0;
};

struct BuiltImage {
    ByteVector bytes;
    std::vector<SectionLayout> sections;  // in section-table order
    std::uint32_t peHeaderOffset = 0;     // e_lfanew as intended (before an ImageFault)
    std::uint32_t resourceRva = 0;        // 0 without a resource section
    std::uint32_t resourceSize = 0;       // unpadded size of the resource section
    std::uint32_t symbolTableOffset = 0;  // 0 without symbols
    std::uint32_t overlayOffset = 0;      // where the overlay starts (the file size when empty)
};

BuiltImage buildImageWithLayout(const ImagePlan& plan);
ByteVector buildImage(const ImagePlan& plan);

// The standard PE checksum over `image`, treating the 4 bytes at `checksumOffset` as zero.
std::uint32_t peChecksum(std::span<const std::byte> image, std::size_t checksumOffset);

// ----- Resource payloads -----

ByteVector bytesOf(std::string_view text);
ByteVector utf16Bytes(std::u16string_view text);  // UTF-16LE, no terminator

struct DibPlan {
    std::int32_t width = 16;
    std::int32_t height = 16;
    std::uint16_t bitCount = 8;  // 1, 4, 8, 24 or 32
    bool bitfields = false;      // BI_BITFIELDS with masks (16 and 32 bits)
    bool topDown = false;        // negative height
    bool v5Header = false;       // 124-byte BITMAPV5HEADER instead of the 40-byte header
    std::uint32_t seed = 0;      // varies the palette and pixel pattern
};
// A packed DIB as stored in an RT_BITMAP resource: header, masks, palette, pixel rows (4-byte rows).
ByteVector makeDib(const DibPlan& plan);
// The same DIB as a .bmp file (14-byte file header in front).
ByteVector bmpFileFromDib(const ByteVector& dib);

// One member image of an icon or cursor group, with what its group entry reports.
struct IconImage {
    ByteVector data;           // DIB (colour + AND mask, doubled height) or PNG; cursors: hot spot + DIB
    std::uint16_t width = 0;   // 256 allowed
    std::uint16_t height = 0;  // the picture height
    std::uint16_t bitCount = 0;
    std::uint8_t colorCount = 0;  // palette entries, 0 when 8 bits or more
};
// A DIB icon image: 40-byte header with doubled height, palette, colour rows, 1-bit mask rows.
IconImage makeIconImage(std::uint16_t size, std::uint16_t bitCount, std::uint32_t seed = 0);
// A PNG-compressed 32-bit RGBA icon image (256 × 256 by default).
IconImage makePngIconImage(std::uint16_t size = 256, std::uint32_t seed = 0);
// A cursor image: 16-bit hot spot x and y, then a DIB icon image.
IconImage makeCursorImage(std::uint16_t size, std::uint16_t bitCount, std::uint16_t hotX, std::uint16_t hotY,
                          std::uint32_t seed = 0);

// RT_GROUP_ICON / RT_GROUP_CURSOR data: 6-byte header and one 14-byte entry per member, each
// naming its member's resource ID.
ByteVector makeIconGroup(const std::vector<std::pair<IconImage, std::uint16_t>>& members);
ByteVector makeCursorGroup(const std::vector<std::pair<IconImage, std::uint16_t>>& members);
// A .ICO file holding `images` (icons only): the directory, its 16-byte entries, then the images.
ByteVector makeIcoFile(const std::vector<IconImage>& images);

// Appends the member images (RT_ICON or RT_CURSOR, IDs firstMemberId, firstMemberId + 1, ...) and
// the group resource to `resources`.
void addIconGroup(std::vector<Resource>& resources, const ResourceId& groupName, std::uint16_t language,
                  std::uint16_t firstMemberId, const std::vector<IconImage>& images);
void addCursorGroup(std::vector<Resource>& resources, const ResourceId& groupName, std::uint16_t language,
                    std::uint16_t firstMemberId, const std::vector<IconImage>& images);

// One RT_STRING block: 16 length-prefixed UTF-16 slots (missing slots are empty).
ByteVector makeStringBlock(const std::vector<std::u16string>& slots);
// Appends the RT_STRING blocks holding `strings` (string ID → text): block ID = string ID / 16 + 1.
void addStrings(std::vector<Resource>& resources, std::uint16_t language,
                const std::map<std::uint16_t, std::u16string>& strings);

struct VersionPlan {
    std::uint16_t fileVersion[4] = {1, 0, 2, 0};
    std::uint16_t productVersion[4] = {1, 0, 2, 0};
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOs = 0x00040004;   // NT, 32-bit Windows
    std::uint32_t fileType = 2;          // DLL
    std::uint16_t language = kLangEnUs;  // of the string table and the translation entry
    std::uint16_t codePage = 1200;
    std::vector<std::pair<std::u16string, std::u16string>> strings;  // key → value, in this order
    // Tables after the first one in the same StringFileInfo, each also listed in Translation.
    struct Table {
        std::uint16_t language = 0;
        std::uint16_t codePage = 1200;
        std::vector<std::pair<std::u16string, std::u16string>> strings;
    };
    std::vector<Table> moreTables;
};
// VS_VERSIONINFO: fixed file info, StringFileInfo with the tables, VarFileInfo with Translation.
ByteVector makeVersionInfo(const VersionPlan& plan);
// The strings a typical DLL carries (CompanyName, FileDescription, FileVersion, ...) for `plan`.
VersionPlan defaultVersionPlan();

// DLGTEMPLATE (or DLGTEMPLATEEX) with a caption, a font and three controls (static, edit, button).
ByteVector makeDialog(std::u16string_view caption);
ByteVector makeDialogEx(std::u16string_view caption);
// A standard MENU template: a popup with two items and a separator, and a plain item.
ByteVector makeMenu();
ByteVector makeHtml(std::string_view title);
ByteVector makeManifest();

// ----- The demonstration sample -----

// The rich resource set written by make-sample: several languages, named types and entries with
// odd characters, bitmaps, icons, cursors, strings, version, dialog, menu, HTML, manifest, AVI, UIFILE.
std::vector<Resource> sampleResources();
ImagePlan sampleImagePlan();
ByteVector buildSampleImage();

}  // namespace kestrel::pebuilder
