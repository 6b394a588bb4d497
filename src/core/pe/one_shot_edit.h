// One-shot edits of a PE file's resources for build pipelines (the command line's /Edit): the main
// icon, the version numbers and strings, and entries of the string table, applied together in one
// import → edit → compile run that holds the resources in memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/pe/version_info.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

struct VersionEdit {
    VersionNumber number{};
    std::string text;  // as given ("1.2.3"); written into the FileVersion or ProductVersion string
};

struct ResourceEdits {
    std::optional<std::filesystem::path> iconFile;
    std::optional<VersionEdit> fileVersion;
    std::optional<VersionEdit> productVersion;
    // Strings of every string table of the version resource, set in this order (a later one wins).
    std::vector<std::pair<std::u16string, std::u16string>> versionStrings;
    // String-table entries, set in this order; an empty text removes the string.
    std::vector<std::pair<std::uint16_t, std::u16string>> strings;
    // The language of `strings`; without it, the language described at EditResources.
    std::optional<std::uint16_t> stringLanguage;
    // asInvoker, highestAvailable or requireAdministrator, set in the application manifest.
    std::optional<std::string> executionLevel;
    // A whole manifest (checked to be well-formed XML by the caller), taken as it is.
    std::optional<std::filesystem::path> manifestFile;
    // RCDATA resources by ID and the files whose bytes they take, in this order.
    std::vector<std::pair<std::uint16_t, std::filesystem::path>> rcData;

    bool empty() const {
        return !iconFile && !fileVersion && !productVersion && versionStrings.empty() && strings.empty() &&
               !executionLevel && !manifestFile && rcData.empty();
    }
};

// Applies `edits` to `peFile` and writes the result to `output`, or over `peFile` when `output` is
// empty; an existing folder as `output` receives the file under its own name. The target is
// replaced atomically, so a failure leaves it (and the original) as it was. The resource files are
// held in memory; the headers go to a folder under the system's temporary folder that is removed
// afterwards, whatever the outcome.
//
// - Icon: every language of the first icon group (type 14) gets the .ico file's images (a PNG
//   picture is first made into an icon file of every size, see MakeIconFileFromPng); a file
//   without icon groups gets group ID 1 in the file's language.
// - Version: the version resource (ID 1, else the first name), in every language it has, gets the
//   numbers in its fixed file information, the dotted text in the FileVersion / ProductVersion
//   string of every string table that has that string, then the version strings, in every string
//   table (added where missing). A file without a version resource gets one (ID 1, the file's
//   language, code page 1200, file type application or library from the PE header) holding the
//   FileVersion / ProductVersion strings of the numbers set.
// - Strings go into STRINGS.XML in `stringLanguage` when given, else in the language of the file's
//   first string block, or the file's language when it has no string table. A language without
//   string blocks gets new ones.
// - Manifest: the manifest file's bytes replace manifest ID 1 in every language it has; a file
//   without one gets ID 1 in the file's language. Then the execution level is set in the
//   application manifest (ID 1, else the first name) in every language, changing nothing else in
//   its text (see SetRequestedExecutionLevel); a file without a manifest gets a minimal one.
// - RCDATA: each ID takes its file's bytes in every language it has; a missing ID is added in the
//   file's language.
// The file's language is that of its version resource, else that of its first resource, else
// 0x409 (U.S. English).
// Failures are reported (ReportError / ReportMessage) and returned.
HResult EditResources(const std::filesystem::path& peFile, const std::filesystem::path& output,
                      const ResourceEdits& edits);

// How EditResources reaches the resources. kResourcesOnly (what it uses) reads the headers and the
// resource section, decodes the resources into memory (every resource the edit does not change
// keeps its bytes, 32-bit bitmaps included) and copies the other sections and the overlay from
// the file; kWholeImport imports the whole file into the working folder and compiles it back, the
// slower route, kept to check the other against. Both give the same file, except that the whole
// import keeps 32-bit bitmaps as PNG pictures, which do not hold every header a bitmap can have.
enum class EditRoute { kResourcesOnly, kWholeImport };
// The same for a caller that has read the file already: `original` holds the bytes of `peFile`
// and is not read again (it must stay valid until the call returns).
HResult EditResources(const std::filesystem::path& peFile, Bytes original,
                      const std::filesystem::path& output, const ResourceEdits& edits);
HResult EditResources(const std::filesystem::path& peFile, const std::filesystem::path& output,
                      const ResourceEdits& edits, EditRoute route);

// Where an edit of `peFile` is written: `output`, a file of the same name inside `output` when that
// is a folder, or `peFile` itself without one; absolute where it can be made so.
std::filesystem::path EditDestination(const std::filesystem::path& peFile,
                                      const std::filesystem::path& output);

}  // namespace kestrel
