// The version resource (VS_VERSIONINFO) as a tree of nodes: a bounds-checked reader that accepts
// what real files contain, a writer that gives back the bytes it read for every node nobody edited,
// and the edits the version pane and the command line make (fixed file information, the strings of
// the string tables, the first translation).
//
// Each node on disk:
//   wLength (u16)       the whole node, children included
//   wValueLength (u16)  in UTF-16 units for text values (wType 1), in bytes for binary ones (wType 0)
//   wType (u16)
//   szKey               UTF-16, zero-terminated
//   padding             to a 32-bit boundary, counted from the start of the resource
//   value               VS_FIXEDFILEINFO (52 bytes) for the root, text for a String, language and
//                       code-page pairs for Translation
//   padding, children   each child on a 32-bit boundary
// Root "VS_VERSION_INFO"; children "StringFileInfo" (string tables keyed like "040904B0", holding
// String nodes) and "VarFileInfo" (holding "Translation").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;
// dwFileType of the fixed file information: an application (VFT_APP) or a library (VFT_DLL).
inline constexpr std::uint32_t kVersionFileTypeApp = 1;
inline constexpr std::uint32_t kVersionFileTypeDll = 2;
inline constexpr std::size_t kFixedFileInfoSize = 52;

// Four 16-bit parts, most significant first: 6.1.7601.17514 is {6, 1, 7601, 17514}.
using VersionNumber = std::array<std::uint16_t, 4>;

// VS_FIXEDFILEINFO, the value of the root node.
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;

    VersionNumber fileVersion() const;
    void setFileVersion(const VersionNumber& version);
    VersionNumber productVersion() const;
    void setProductVersion(const VersionNumber& version);
    friend bool operator==(const FixedFileInfo&, const FixedFileInfo&) = default;
};

// Bytes that lay between two parts of a node, and where the part after them started, modulo 4.
// The writer puts the same bytes back when they bring it to that place on the 32-bit grid again
// (always, unless an edit before them moved things by other than a multiple of 4), and otherwise
// zeros up to the next boundary, where readers look first.
struct VersionPadding {
    std::vector<std::byte> bytes;
    std::uint8_t alignment = 0;
    friend bool operator==(const VersionPadding&, const VersionPadding&) = default;
};

struct VersionNode {
    std::uint16_t length = 0;  // wLength as read; the writer computes it for nodes it lays out
    // wLength reached past the end of the parent or of the resource. Laid out again, such a node
    // keeps its wLength while it is the last child of its parent (and so is cut at the same place).
    bool cutOff = false;
    std::uint16_t valueLength = 0;  // wValueLength
    std::uint16_t type = 0;         // wType
    std::u16string key;
    bool keyTerminated = true;  // false when the node ends inside its key
    VersionPadding keyPadding;  // between the key's terminator and the value
    // The value. Under a string table and under VarFileInfo a node has no children, and its value
    // runs to the end of the node whatever wValueLength says (some files count text in bytes); other
    // nodes take wValueLength as far as the node reaches.
    std::vector<std::byte> value;
    std::vector<VersionNode> children;
    VersionPadding padding;            // before this node: after the previous sibling or the parent's value
    VersionPadding endPadding;         // after the last child (or the value), up to a 32-bit boundary
    std::vector<std::byte> trailing;   // the rest of wLength after that: bytes no node could be read from
    std::vector<std::byte> original;   // the node's bytes as read; empty for new and edited nodes
    std::uint32_t originalOffset = 0;  // where they were, from the start of the resource
};

struct VersionInfo {
    VersionNode root;
    std::vector<std::byte> trailing;  // bytes after the root's wLength
};

// Reads a version resource. Fails (kFail) only when there is no root node to read: fewer than 6
// bytes, or a wLength below 6. Everything else is read as far as it can be: every node is bounded
// by the resource and by its parent, a node that claims more than that is cut there, a child that
// cannot be read ends its parent's children (its bytes are kept as the parent's trailing bytes),
// missing and extra padding between children are recognised, and nesting stops after a few levels.
HResult ParseVersionInfo(Bytes resource, VersionInfo& info);

// Writes the tree. A node with its original bytes is written as those bytes (so an unchanged tree
// gives back exactly what was read), unless an edit before it moved it off its place on the 32-bit
// grid or it was cut off and now has a sibling after it; any other node is laid out from its
// fields, with wLength computed and padding as described at VersionPadding. Fails (kInvalidArg)
// when a node grows past 65535 bytes.
HResult WriteVersionInfo(const VersionInfo& info, std::vector<std::byte>& resource);

// Forgets the original bytes of `node` and of every node below it, so that the writer lays them all
// out from their fields.
void DropOriginalBytes(VersionNode& node);

// The fixed file information: the first 52 bytes of the root's value, when they are there and
// start with the signature.
std::optional<FixedFileInfo> GetFixedFileInfo(const VersionInfo& info);
// Stores all thirteen fields into the root's value (which grows to 52 bytes when it is shorter).
// Nothing changes when the bytes are already the same.
void SetFixedFileInfo(VersionInfo& info, const FixedFileInfo& fixed);

// The strings of the first string table (the first child of the first StringFileInfo that has
// one), in table order, as (key, value); a value ends at its first zero unit or at the end of the
// node.
std::vector<std::pair<std::u16string, std::u16string>> GetVersionStrings(const VersionInfo& info);
// The value of `key` in the first string table (keys compare without regard to ASCII case).
std::optional<std::u16string> GetVersionString(const VersionInfo& info, std::u16string_view key);
// Sets the value of `key` in the first string table; an empty value keeps the key with an empty
// text. A missing key is added at the end of the table; a missing table is added under
// StringFileInfo (keyed by the first translation, else 040904B0), and a missing StringFileInfo
// before VarFileInfo. Nothing changes when the value is already the same.
void SetVersionString(VersionInfo& info, std::u16string_view key, std::u16string_view value);

// Every string table (the children of every StringFileInfo), in file order, with its key
// ("040904B0") and its strings as GetVersionStrings gives them.
struct VersionStringTable {
    std::u16string key;
    std::vector<std::pair<std::u16string, std::u16string>> strings;
    friend bool operator==(const VersionStringTable&, const VersionStringTable&) = default;
};
std::vector<VersionStringTable> GetVersionStringTables(const VersionInfo& info);

// Sets `key` in every string table, so that a viewer shows the value whichever language it picks.
// kAdd adds the key at the end of a table that lacks it and, when there is no table at all, adds
// one as SetVersionString does; kSkip sets the value only where the key already is.
enum class MissingVersionString { kAdd, kSkip };
void SetVersionStringInEveryTable(VersionInfo& info, std::u16string_view key, std::u16string_view value,
                                  MissingVersionString missing = MissingVersionString::kAdd);

struct VersionTranslation {
    std::uint16_t language = 0;
    std::uint16_t codePage = 0;
    friend bool operator==(VersionTranslation, VersionTranslation) = default;
};
// The first language and code-page pair of the first Translation under VarFileInfo.
std::optional<VersionTranslation> GetVersionTranslation(const VersionInfo& info);
// Replaces that pair; adds VarFileInfo and Translation when they are missing.
void SetVersionTranslation(VersionInfo& info, VersionTranslation translation);

// A version resource for a file that has none: fixed file information with the signature and
// nothing else set but the structure version, flags mask and OS, one empty string table for
// (language, codePage), and that pair as the translation.
VersionInfo MakeMinimalVersionInfo(std::uint16_t language, std::uint16_t codePage = 1200);

// "a.b.c.d": one to four decimal numbers of 0 to 65535 separated by dots, missing parts 0. Anything
// else (empty parts, signs, spaces, a fifth part) is refused.
std::optional<VersionNumber> ParseVersionText(std::string_view text);

// The version resource of a PE image: name ID 1, else the first name, in its first language. The
// span points into `image`. 0x80070714 when the image cannot be read or has no resource section,
// 0x80070715 when it has no version resource.
HResult FindVersionResource(Bytes image, Bytes& resource);

}  // namespace kestrel
