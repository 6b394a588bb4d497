// Saving resources as files a user can open elsewhere: an icon or cursor group becomes one .ico or
// .cur file holding its member images, a bitmap a .bmp file, dialogs, menus and accelerator tables
// resource-script text, and everything else its bytes under an extension that suits its content.
//
// The resources come from a ResourceLookup: over a PE file for the command line, over a resource
// section compiled in memory from a working folder for the window, so both write the same files.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/resource_reader.h"
#include "core/platform/status.h"

namespace kestrel {

class XmlDocument;

// One resource as a file: the name proposed for it (the resource's name or ID and an extension,
// safe for a file system) and its contents.
struct ExportedResource {
    std::string fileName;
    std::vector<std::byte> bytes;
    // Group members the group lists but the resources do not hold: they are left out of the file.
    std::vector<std::uint16_t> missingMembers;
};

// The resource (type, name, language) of `lookup` as a file; kFail when it does not exist, and for
// a group none of whose members exists.
HResult ExportResource(const ResourceLookup& lookup, const ResourceKey& type, const ResourceKey& name,
                       std::uint16_t language, ExportedResource& out);

// The usual name of a numbered type (GROUP_ICON, BITMAP, ...), the number for any other, a named
// type's own name.
std::string ResourceTypeName(const ResourceKey& type);

// A type as the user types it: a number (14), a usual name with or without "RT_" in any case
// (GROUP_ICON, rt_bitmap, STRINGTABLE), or otherwise a type name as given (AVI). nullopt for an
// empty text or a number above 65535.
std::optional<ResourceKey> ParseResourceType(std::string_view text);
// A name as the user types it: a number 0..65535 is an ID, anything else a name.
std::optional<ResourceKey> ParseResourceName(std::string_view text);

// What an export of several resources takes; an unset part takes every value.
struct ExportSelection {
    std::optional<ResourceKey> type;
    std::optional<ResourceKey> name;
    std::optional<std::uint16_t> language;
};

struct ExportSummary {
    std::vector<std::filesystem::path> written;
    // "<type> <name> <language>: why" for each selected resource that gave no file or a partial one.
    std::vector<std::string> problems;
};

// Writes every selected resource into `folder` (created when missing) as
// "<type>_<name>_<language><extension>", e.g. GROUP_ICON_1_1033.ico. Member icons and cursors of
// groups that are exported too are not written a second time when every type is selected. A file
// already there is replaced; two resources whose names differ only in case or in characters a file
// name cannot hold get "~2", "~3" ... Fails when the folder cannot be made or a file cannot be
// written (reported); a resource that cannot be exported only adds a problem.
HResult ExportResources(const ResourceLookup& lookup, const ExportSelection& selection,
                        const std::filesystem::path& folder, ExportSummary& summary);

// The resources of a PE file, for the command line: the file's bytes and a lookup over them.
struct LoadedResources {
    std::vector<std::byte> bytes;
    ResourceLookup lookup;
};
HResult LoadPeResources(const std::filesystem::path& peFile, LoadedResources& out);

// The resources a working folder describes, compiled in memory exactly as a compile would lay them
// out, for the window. Failures are reported.
HResult LoadDescribedResources(const XmlDocument& description, const std::filesystem::path& folder,
                               LoadedResources& out);

}  // namespace kestrel
