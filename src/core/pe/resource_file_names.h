// How the import names the file of a resource: the resource's name or pattern, made safe for the
// file system, the underscore rules, and a suffix that keeps every language and every name apart.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <unordered_set>

namespace kestrel {

// The stored name (relative to the working folder, `\` between folder and file) of a resource whose
// current file name is `name`:
// - characters that cannot stand in a file name become %XX (an empty name becomes "%00");
// - when the name is longer than 4 characters and its fourth character from the end is '_', that
//   '_' becomes '.' (ABC_BMP is stored as ABC.BMP);
// - then the first remaining '_' separates a subfolder from the file (BLUE_BUTTON_BMP becomes
//   BLUE\BUTTON.BMP), unless that would leave the folder or the file part empty;
// - a folder or file part that is "." or ".." is escaped, so nothing leaves the working folder.
std::string storedResourceFileName(std::string_view name);

// The file name the import gives resource `id` of a type, before the naming rules: the type's own
// pattern for the standard types (Cursor%.5d.CUR, Bitmap%.5d.BMP, Icon%.5d.ICO, VERSION, and
// STRINGS.XML for string tables), AVI%.5d.AVI for the named type AVI, else the type's number or
// name followed by the ID in five digits.
std::string resourceFileNameForId(bool typeNamed, std::uint32_t typeNumber, std::string_view typeName,
                                  std::uint16_t id);

// The folder part of a stored name ("" when there is none) and the file part.
std::string_view storedFolderPart(std::string_view stored);
std::string_view storedFilePart(std::string_view stored);

// The name of the PNG written for a bitmap file: the last three characters replaced by "png".
std::string pngSiblingName(std::string_view bmpName);

// The names one import has used, compared ignoring ASCII case so that the working folder stays
// valid on case-insensitive file systems.
class ClaimedNames {
  public:
    // Existing folders and files under `folder` also count when deciding whether a name is free
    // (leftovers of an earlier import must not turn a file into a folder or back).
    explicit ClaimedNames(std::filesystem::path folder = {}) : folder_(std::move(folder)) {}

    void claimFile(std::string_view name);
    bool isFileClaimed(std::string_view name) const;

    // The name for a resource whose stored name is `name`: `name` itself when it is free, else
    // `~<language>` inserted before the extension (the part from the last '.' of the file part),
    // else `~<language>~<k>` for k = 2, 3, ... When the folder part is taken by a file, the suffix
    // goes on the folder instead. With `pngSibling`, the name's PNG sibling must be free as well.
    // The result (and its sibling) are claimed, and its folder is recorded.
    std::string claimFor(std::string_view name, std::uint16_t language, bool pngSibling);

  private:
    bool isFree(std::string_view name, bool pngSibling) const;
    bool isFolderTakenByFile(std::string_view folder) const;
    bool isFileTakenByFolder(std::string_view name) const;

    std::filesystem::path folder_;
    std::unordered_set<std::string> files_;
    std::unordered_set<std::string> folders_;
};

}  // namespace kestrel
