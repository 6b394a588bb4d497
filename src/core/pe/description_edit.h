// Adding and deleting resources in the description of a working folder: the loaded pe.xml (an
// XmlDocument) and the resource files beside it.
//
// Every edit keeps the import's own layout, so that the compiled file imports back into the same
// description: type, name and language levels of Entry and Directory elements, named entries first
// in the order a linker sorts them (case-insensitive, shorter prefix first), then IDs ascending,
// with Named_Entries and ID_Entries counting what a directory holds. New files are named by the
// import's rules (Icon00001.ICO, Bitmap00101.BMP, 1400001, VERSION, a named entry's name, with
// `~<language>` when the name is taken) and never replace a file that is already in the folder.
//
// Element handles the caller holds (the resource tree) must be refreshed after every edit: a
// deleted element is unlinked from the document.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/pe/resource_reader.h"
#include "core/platform/status.h"

namespace kestrel {

class MemoryFolder;
class XmlDocument;
class XmlElement;

// What a language Entry of the description stands for.
struct DescribedResource {
    ResourceKey type;
    ResourceKey name;
    std::uint16_t language = 0;
};

// The type, name and language of `languageEntry`; nullopt when it is not a language Entry (the
// third Entry level under the description's root Directory).
std::optional<DescribedResource> DescribeResourceEntry(const XmlDocument& description,
                                                       const XmlElement* languageEntry);

// The language Entry of (type, name, language), or null. Names match ignoring case, as the
// system's resource lookup does.
XmlElement* FindResourceEntry(const XmlDocument& description, const ResourceKey& type,
                              const ResourceKey& name, std::uint16_t language);

// The language Entries of every resource of `type` (of every resource without one), in the
// description's order: names as the import sorted them, then their languages.
std::vector<XmlElement*> ListResourceEntries(const XmlDocument& description,
                                             const std::optional<ResourceKey>& type = std::nullopt);

// Describes string block `block` (ID = string ID / 16 + 1) in `language` as the import does: a
// language Entry under type 6 whose File is STRINGS.XML, with `size` as its Size (the bytes of the
// block's lines there). The strings themselves are STRINGS.XML's; the compile takes the language of
// the first such entry as the one of the lines without an L attribute. An existing entry is left
// as it is.
HResult DescribeStringBlock(XmlDocument& description, std::uint16_t block, std::uint16_t language,
                            std::uint64_t size);

// Adds the resource (type, name, language) made from the file `source`, writes its file into
// `folder` and returns its new language Entry in `added` (also made the current element).
// - Bitmaps (2): a BMP or PNG file. 32-bit pictures are kept as PNG beside the name ending in .BMP
//   (Png='1'), every other one as a BMP file (Png='0'), as the import stores them. A bitmap name
//   holds one language only (the import keeps no more).
// - Icons (3) and cursors (1): an .ico or .cur file with one image.
// - Icon groups (14) and cursor groups (12): an .ico or .cur file with any number of images; every
//   image becomes a member icon (cursor) of the same language under an ID nothing in the
//   description uses yet, and the group resource lists them. An icon group is also made from a
//   square PNG picture, as the icon of every size MakeIconFileFromPng makes of it.
// - String tables (6) are refused: they live in STRINGS.XML.
// - Any other type: the file's bytes as they are.
// A resource that already exists, a source that does not suit the type and a failed write are
// refused with a report (ReportError / ReportMessage); the description is then left unchanged.
// With `memory`, the resource files are read from and written into it instead of `folder` (see
// MemoryFolder); 32-bit bitmaps then stay BMP files.
HResult AddResource(XmlDocument& description, const std::filesystem::path& folder, const ResourceKey& type,
                    const ResourceKey& name, std::uint16_t language, const std::filesystem::path& source,
                    XmlElement*& added, MemoryFolder* memory = nullptr);

// Makes the icon or cursor group of `groupLanguageEntry` hold the images of `iconFile`: the group
// file is rewritten, member resources that no group uses any more leave the description, and the
// new images become members under IDs nothing else uses. An icon group also takes a square PNG
// picture (see AddResource).
// With `memory`, as AddResource.
HResult ReplaceGroupFromIconFile(XmlDocument& description, const std::filesystem::path& folder,
                                 XmlElement* groupLanguageEntry, const std::filesystem::path& iconFile,
                                 MemoryFolder* memory = nullptr);

// Gives the resource of `languageEntry` the name (or ID) `name` and the language `language`: its
// entry moves to its place in the import's order and its file is renamed as the import names the
// file of the new resource (with `~<language>` when that name is taken); a bitmap kept as PNG has
// its PNG renamed with it. An icon or cursor group that changes language takes along the members
// no other group uses. The moved language Entry is returned in `moved` (also the current element).
// kFalse when nothing changes (the same name and language). Refused with a report, nothing
// changed: string tables (STRINGS.XML makes them), an empty name, a resource or member that
// exists already at the new place, a second language for a bitmap name, and a failed rename (the
// files renamed before it get their names back).
HResult MoveResource(XmlDocument& description, const std::filesystem::path& folder, XmlElement* languageEntry,
                     const ResourceKey& name, std::uint16_t language, XmlElement*& moved);

// What replacing the file a resource is compiled from by another file will do, known before
// anything is done.
// - String tables (6): every string entry names STRINGS.XML, from which the compile reads the
//   strings, so the chosen file is copied over STRINGS.XML and the entry keeps its name.
// - Any other resource: the chosen file is copied into the shown file's folder and the File element
//   names it. A bitmap entry chosen a PNG keeps naming the .BMP the compile makes of it and sets Png
//   (a BMP clears it).
struct FileReplacement {
    enum class Question {
        kOverwriteStrings,    // about: the chosen file (default answer No)
        kDifferentExtension,  // the chosen file's extension differs from the shown one's
        kOverwriteOther,      // about: the written file, which another resource uses (default No)
    };
    struct Ask {
        Question question;
        std::filesystem::path about;
    };
    std::vector<Ask> questions;             // asked in this order; any No cancels everything
    std::filesystem::path written;          // the file the chosen one is copied over; empty: none
    std::filesystem::path shown;            // the resource's file afterwards
    std::optional<std::string> storedName;  // the File element's new Name; nullopt: unchanged
    std::optional<bool> png;                // the bitmap entry's new Png flag; nullopt: unchanged
};

// Plans replacing `current` (the file of `fileElement`, which may be null outside a project) by
// `chosen`; `folder` is the project's working folder. Nullopt when there is nothing to do: no
// file, or the chosen file is the one the resource is compiled from already.
std::optional<FileReplacement> PlanFileReplacement(const XmlDocument& description,
                                                   const XmlElement* fileElement,
                                                   const std::filesystem::path& folder,
                                                   const std::filesystem::path& current,
                                                   const std::filesystem::path& chosen);

// Carries out `plan`: asks its questions through `ask` (true: go on), copies `chosen` over the
// written file (atomically; a read-only target is made writable first) and updates the File
// element. kFalse when a question was answered No (nothing changed); a failed copy is reported
// (ReportError / ReportMessage) and leaves the target and the description as they were.
using ReplacementQuestion = std::function<bool(const FileReplacement::Ask& ask)>;
HResult ReplaceResourceFile(XmlDocument& description, XmlElement* fileElement,
                            const std::filesystem::path& chosen, const FileReplacement& plan,
                            const ReplacementQuestion& ask);

// The languages the description's resources have, ascending, each once.
std::vector<std::uint16_t> ListResourceLanguages(const XmlDocument& description);

// What AddLanguage made.
struct LanguageCopy {
    std::size_t resources = 0;     // resources copied as files (string blocks not counted)
    std::size_t stringBlocks = 0;  // string blocks copied
    std::size_t strings = 0;       // STRINGS.XML lines added
    std::size_t bitmapsLeft = 0;   // bitmaps not copied: a bitmap name holds one language only
    XmlElement* first = nullptr;   // the first language Entry added
};

// Copies every resource of language `source` to language `target`, the way the import would have
// described it had the file held both: each copy gets a file of its own named by the import's rules
// (with `~<target>` when the name is taken) and the File attributes of the original; string blocks
// get STRINGS.XML lines in `target` after the existing ones. Bitmaps stay in their one language.
// Refused, with nothing changed: `target` equal to `source`, a source language no resource has, and
// any resource that has `target` already (the clash is named). Files written before a failed write
// are removed again.
HResult AddLanguage(XmlDocument& description, const std::filesystem::path& folder, std::uint16_t source,
                    std::uint16_t target, LanguageCopy& result);

// Removes `languageEntry` from the description, with its name entry when no language is left and
// its type entry when no name is left. For an icon or cursor group, the members no remaining group
// uses go as well. Files stay in the folder. String tables are refused (STRINGS.XML makes them).
HResult DeleteResource(XmlDocument& description, const std::filesystem::path& folder,
                       XmlElement* languageEntry);

}  // namespace kestrel
