// File names of the pieces an import writes besides the resources, shared by the import and the
// compile so that both sides always agree on which file holds which section.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

inline constexpr std::string_view kDosHeaderFileName = "DOSHEADER.BIN";
inline constexpr std::string_view kNtHeaderFileName = "NTHEADER.BIN";
inline constexpr std::string_view kOverlayFileName = "PEOVERLAY.BIN";
inline constexpr std::string_view kDescriptionFileName = "pe.xml";
inline constexpr std::string_view kStringsFileName = "STRINGS.XML";

// The 8 name bytes of a section header, zero-padded (no terminator when all 8 are used).
using SectionNameBytes = std::array<std::uint8_t, 8>;

// The name as text: the bytes up to the first zero.
std::string sectionNameText(const SectionNameBytes& name);

// True for the resource section: the name is ".rsrc", compared without regard to case.
bool isResourceSectionName(const SectionNameBytes& name);

// One file name per section, in section-table order; "" for resource sections, which are not
// written. The name is the section name without one leading '.', followed by ".BIN" (".text" gives
// "text.BIN"). To keep every file inside the working folder and every section in a file of its own:
// - leading '\' and '/' are dropped ("/4", a long-name section of unstripped images, gives "4.BIN");
// - remaining separators, characters Windows refuses in file names and control characters become
//   %XX;
// - a name that collides, ignoring ASCII case, with an earlier section's file or with one of the
//   fixed files above gets "~2", "~3", ... before ".BIN".
// Images whose sections have distinct ordinary names get exactly "<name>.BIN".
std::vector<std::string> sectionFileNames(std::span<const SectionNameBytes> names);

// Replaces characters that cannot stand in a file name component ('\', '/', ':', '*', '?', '"',
// '<', '>', '|' and control characters) with '%' and two upper-case hexadecimal digits.
std::string escapeFileNameCharacters(std::string_view name);

}  // namespace kestrel
