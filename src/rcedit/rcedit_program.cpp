#include "rcedit/rcedit_program.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string_view>

#include "cli/settings_file.h"
#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/pe/certificate_table.h"
#include "core/pe/manifest_edit.h"
#include "core/pe/one_shot_edit.h"
#include "core/pe/pe_image.h"
#include "core/pe/resource_queries.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/xml/xml_document.h"

namespace kestrel {

namespace {

namespace fs = std::filesystem;

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int fatal(std::string_view message) {
    std::fprintf(stderr, "Fatal error: %.*s\n", static_cast<int>(message.size()), message.data());
    return kFailure;
}

void warning(std::string_view message) {
    std::fprintf(stderr, "Warning: %.*s\n", static_cast<int>(message.size()), message.data());
}

// Whether the file carries a certificate table (an Authenticode signature).
bool hasSignature(const fs::path& file) {
    std::vector<std::byte> image;
    if (ReadWholeFile(file, image).failed()) {
        ClearErrorRecord();
        return false;
    }
    SignatureLayout layout;
    return readSignatureLayout(asBytes(image), layout).succeeded() && layout.hasTable();
}

void printHelp() {
    std::fputs(
        "kestrel-rcedit: edit the resources of a Windows program or library in place.\n\n"
        "Usage: kestrel-rcedit <filename> [options...]\n\n"
        "Options:\n"
        "  -h, --help                                 Show this message\n"
        "  --set-version-string <key> <value>         Set a version string\n"
        "  --get-version-string <key>                 Print a version string\n"
        "  --set-file-version <version>               Set the file version (and FileVersion)\n"
        "  --set-product-version <version>            Set the product version (and ProductVersion)\n"
        "  --set-icon <path-to-icon>                  Set the main icon (.ico, or a square .png)\n"
        "  --set-requested-execution-level <level>    asInvoker, highestAvailable or "
        "requireAdministrator\n"
        "  --application-manifest <path-to-file>      Set the application manifest\n"
        "  --set-resource-string <key> <value>        Set a string-table entry\n"
        "  --get-resource-string <key>                Print a string-table entry\n"
        "  --set-rcdata <key> <path-to-file>          Set RCDATA by integer id\n\n"
        "Versions with fewer than four parts are completed with zeros (1.2 -> 1.2.0.0).\n"
        "Exit status: 0 success, 1 failure.\n",
        stdout);
}

// A version as the classic command line reads it: one to four numbers from 0 to 65535 separated by
// dots at the start of the text (what follows them is ignored). `text` becomes the version string:
// the four-part number, unless the text carries more than the numbers ("1.2.3-beta"), which is kept.
struct ParsedVersion {
    VersionNumber number{};
    std::string text;
};

std::optional<ParsedVersion> parseVersion(std::string_view typed) {
    ParsedVersion parsed;
    std::size_t at = 0;
    int parts = 0;
    while (parts < 4) {
        if (at >= typed.size() || typed[at] < '0' || typed[at] > '9') break;
        std::uint32_t value = 0;
        while (at < typed.size() && typed[at] >= '0' && typed[at] <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(typed[at++] - '0');
            if (value > 0xFFFF) return std::nullopt;
        }
        parsed.number[static_cast<std::size_t>(parts++)] = static_cast<std::uint16_t>(value);
        if (parts == 4 || at + 1 >= typed.size() || typed[at] != '.' || typed[at + 1] < '0' ||
            typed[at + 1] > '9')
            break;
        ++at;
    }
    if (parts == 0) return std::nullopt;
    if (at == typed.size()) {
        parsed.text = std::to_string(parsed.number[0]);
        for (std::size_t i = 1; i < 4; ++i)
            parsed.text += "." + std::to_string(parsed.number[i]);
    } else {
        parsed.text = std::string(typed);
    }
    return parsed;
}

// An integer ID as "%d" reads one: optional spaces, digits; nullopt when there are none.
std::optional<std::uint64_t> parseId(std::string_view typed) {
    std::size_t at = 0;
    while (at < typed.size() && (typed[at] == ' ' || typed[at] == '\t'))
        ++at;
    if (at < typed.size() && typed[at] == '+') ++at;
    std::uint64_t value = 0;
    std::size_t digits = 0;
    for (; at < typed.size() && typed[at] >= '0' && typed[at] <= '9'; ++at, ++digits)
        value = std::min<std::uint64_t>(value * 10 + static_cast<std::uint64_t>(typed[at] - '0'), 1u << 31);
    if (digits == 0) return std::nullopt;
    return value;
}

bool readable(const fs::path& path, std::vector<std::byte>& bytes) {
    std::error_code error;
    return fs::is_regular_file(path, error) && ReadWholeFile(path, bytes).succeeded();
}

// An .ico file with at least one image inside it, or a PNG (checked again when it is converted).
bool usableIcon(const fs::path& path) {
    std::vector<std::byte> bytes;
    if (!readable(path, bytes)) return false;
    if (HasPngSignature(asBytes(bytes))) return true;
    IconDirectory directory;
    IconFileImage first;
    return ReadIconDirectory(asBytes(bytes), directory).succeeded() && directory.type == kIconFileType &&
           FirstIconFileImage(asBytes(bytes), first).succeeded();
}

bool wellFormedXml(const fs::path& path) {
    std::vector<std::byte> bytes;
    if (!readable(path, bytes) || bytes.empty()) return false;
    std::string text(bytes.size(), '\0');
    std::transform(bytes.begin(), bytes.end(), text.begin(),
                   [](std::byte b) { return static_cast<char>(b); });
    XmlDocument document;
    return document.LoadFile(path).succeeded() && document.documentNode()->next() != nullptr &&
           HasWellFormedMarkup(text);
}

bool loadable(const fs::path& path) {
    MappedFile file;
    PeImage image;
    return OpenMappedFile(path, file).succeeded() && parsePeImage(file.bytes(), image).succeeded();
}

class Run {
  public:
    explicit Run(const std::vector<std::string>& arguments) : arguments_(arguments) {}

    int operator()() {
        for (index_ = 0; index_ < arguments_.size(); ++index_) {
            const std::string& argument = arguments_[index_];
            std::optional<int> result;
            if (argument == "--set-version-string" || argument == "-svs") {
                result = setVersionString();
            } else if (argument == "--get-version-string" || argument == "-gvs") {
                result = getVersionString();
            } else if (argument == "--set-file-version" || argument == "-sfv") {
                result = setVersion(edits_.fileVersion, "FileVersion", "file");
            } else if (argument == "--set-product-version" || argument == "-spv") {
                result = setVersion(edits_.productVersion, "ProductVersion", "product");
            } else if (argument == "--set-icon" || argument == "-si") {
                result = setIcon();
            } else if (argument == "--set-requested-execution-level" || argument == "-srel") {
                result = setExecutionLevel();
            } else if (argument == "--application-manifest" || argument == "-am") {
                result = setManifest();
            } else if (argument == "--set-resource-string" || argument == "--srs") {
                result = setResourceString();
            } else if (argument == "--set-rcdata") {
                result = setRcData();
            } else if (argument == "--get-resource-string" || argument == "-grs") {
                result = getResourceString();
            } else if (file_) {
                std::fprintf(stderr, "Unrecognized argument: \"%s\"\n", argument.c_str());
                return kFailure;
            } else if (!loadable(pathFromUtf8(argument))) {
                std::fprintf(stderr, "Unable to load file: \"%s\"\n", argument.c_str());
                return kFailure;
            } else {
                file_ = pathFromUtf8(argument);
            }
            if (result) return *result;
        }
        if (!file_) return fatal("You should specify a exe/dll file");
        // The level goes into the manifest only when no whole manifest is given.
        if (edits_.manifestFile) edits_.executionLevel.reset();
        if (edits_.empty()) return kSuccess;
        const bool wasSigned = hasSignature(*file_);
        if (EditResources(*file_, {}, edits_).failed()) return fatal("Unable to commit changes");
        // The edit keeps the old certificate table, as the classic tool does; its digest no longer
        // matches, which must not go unsaid.
        if (wasSigned)
            warning(
                "the file was signed and its signature no longer matches; sign it again, or remove the "
                "signature with kestrel /Edit --strip-signature");
        return kSuccess;
    }

  private:
    // Whether `count` arguments follow the option.
    bool take(std::size_t count) const { return arguments_.size() - index_ - 1 >= count; }
    const std::string& next() { return arguments_[++index_]; }

    std::optional<int> setVersionString() {
        if (!take(2)) return fatal("--set-version-string requires 'Key' and 'Value'");
        const std::string& key = next();
        const std::string& value = next();
        if (!file_ || key.empty()) return fatal("Unable to change version string");
        edits_.versionStrings.emplace_back(utf8ToUtf16(key), utf8ToUtf16(value));
        return std::nullopt;
    }

    std::optional<int> setVersion(std::optional<VersionEdit>& edit, std::string_view stringName,
                                  std::string_view kind) {
        if (!take(1)) return fatal("--set-" + std::string(kind) + "-version requires a version string");
        auto parsed = parseVersion(next());
        if (!parsed) return fatal("Unable to parse version string for " + std::string(stringName));
        if (!file_) return fatal("Unable to change " + std::string(kind) + " version");
        edit = VersionEdit{parsed->number, parsed->text};
        return std::nullopt;
    }

    std::optional<int> setIcon() {
        if (!take(1)) return fatal("--set-icon requires path to the icon");
        const fs::path icon = pathFromUtf8(next());
        if (!file_ || !usableIcon(icon)) return fatal("Unable to set icon");
        edits_.iconFile = icon;
        return std::nullopt;
    }

    std::optional<int> setExecutionLevel() {
        if (!take(1))
            return fatal(
                "--set-requested-execution-level requires asInvoker, highestAvailable or "
                "requireAdministrator");
        if (edits_.manifestFile)
            warning("--set-requested-execution-level is ignored if --application-manifest is set");
        const std::string& level = next();
        if (!IsExecutionLevel(level)) return fatal("Unable to set execution level");
        edits_.executionLevel = level;
        return std::nullopt;
    }

    std::optional<int> setManifest() {
        if (!take(1)) return fatal("--application-manifest requires local path");
        if (edits_.executionLevel)
            warning("--set-requested-execution-level is ignored if --application-manifest is set");
        const fs::path manifest = pathFromUtf8(next());
        if (!wellFormedXml(manifest)) return fatal("Unable to set application manifest");
        edits_.manifestFile = manifest;
        return std::nullopt;
    }

    std::optional<int> setResourceString() {
        if (!take(2)) return fatal("--set-resource-string requires int 'Key' and string 'Value'");
        const auto id = parseId(next());
        const std::string& value = next();
        if (!id) return fatal("Unable to parse id");
        if (*id > 0xFFFF) return fatal("Unable to change string");
        edits_.strings.emplace_back(static_cast<std::uint16_t>(*id), utf8ToUtf16(value));
        return std::nullopt;
    }

    std::optional<int> setRcData() {
        if (!take(2)) return fatal("--set-rcdata requires int 'Key' and path to resource 'Value'");
        const auto id = parseId(next());
        const std::string& source = next();
        if (!id) return fatal("Unable to parse id");
        if (*id > 0xFFFF) {
            std::fprintf(stderr, "Cannot find RCDATA with id '%llu'\n", static_cast<unsigned long long>(*id));
            return fatal("Unable to change RCDATA");
        }
        std::error_code error;
        const fs::path path = pathFromUtf8(source);
        if (!fs::is_regular_file(path, error) || !std::ifstream(path, std::ios::binary).good()) {
            const fs::path absolute = fs::absolute(path, error);
            std::fprintf(stderr, "Cannot open new data file '%s'\n",
                         pathToUtf8(error ? path : absolute).c_str());
            return fatal("Unable to change RCDATA");
        }
        if (!file_) return fatal("Unable to change RCDATA");
        edits_.rcData.emplace_back(static_cast<std::uint16_t>(*id), path);
        return std::nullopt;
    }

    // Questions are answered from the file as it is and end the run: nothing is written.
    std::optional<int> getVersionString() {
        if (!take(1)) return fatal("--get-version-string requires 'Key'");
        const std::string& key = next();
        std::optional<std::u16string> value;
        if (!file_ || QueryVersionString(*file_, utf8ToUtf16(key), value).failed() || !value)
            return fatal("Unable to get version string");
        std::fputs(utf16ToUtf8(*value).c_str(), stdout);
        return kSuccess;
    }

    std::optional<int> getResourceString() {
        if (!take(1)) return fatal("--get-resource-string requires int 'Key'");
        const auto id = parseId(next());
        if (!id) return fatal("Unable to parse id");
        std::optional<std::u16string> value;
        if (!file_ || *id > 0xFFFF ||
            QueryResourceString(*file_, static_cast<std::uint16_t>(*id), value).failed() || !value)
            return fatal("Unable to get resource string");
        std::fputs(utf16ToUtf8(*value).c_str(), stdout);
        return kSuccess;
    }

    const std::vector<std::string>& arguments_;
    std::size_t index_ = 0;
    std::optional<fs::path> file_;
    ResourceEdits edits_;
};

}  // namespace

int runRceditProgram(const std::vector<std::string>& arguments) {
    if (arguments.empty() || (arguments.size() == 1 && (arguments[0] == "-h" || arguments[0] == "--help"))) {
        printHelp();
        return kSuccess;
    }
    SetLanguage(programLanguage());
    const int status = Run(arguments)();
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

}  // namespace kestrel
