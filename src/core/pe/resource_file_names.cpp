#include "core/pe/resource_file_names.h"

#include <optional>
#include <system_error>

#include "core/pe/resource_types.h"
#include "core/pe/section_names.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

// Characters (code points, not bytes) of a UTF-8 text.
std::size_t characterCount(std::string_view text) {
    std::size_t count = 0;
    for (char c : text)
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    return count;
}

// The byte offset of the fourth character from the end, when there is one.
std::optional<std::size_t> fourthFromEnd(std::string_view text) {
    std::size_t seen = 0;
    for (std::size_t i = text.size(); i-- > 0;) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++seen == 4) return i;
    }
    return std::nullopt;
}

std::string escapeDotComponent(std::string_view part) {
    if (part == ".") return "%2E";
    if (part == "..") return "%2E%2E";
    return std::string(part);
}

std::string joinStored(std::string_view folder, std::string_view file) {
    return folder.empty() ? std::string(file) : std::string(folder) + "\\" + std::string(file);
}

// Inserts `suffix` before the extension of the file part (at the end when it has none).
std::string withFileSuffix(std::string_view stored, std::string_view suffix) {
    std::string_view folder = storedFolderPart(stored);
    std::string file(storedFilePart(stored));
    std::size_t dot = file.rfind('.');
    if (dot == std::string::npos) dot = file.size();
    file.insert(dot, suffix);
    return joinStored(folder, file);
}

std::string withFolderSuffix(std::string_view stored, std::string_view suffix) {
    return joinStored(std::string(storedFolderPart(stored)) + std::string(suffix), storedFilePart(stored));
}

}  // namespace

std::string storedResourceFileName(std::string_view name) {
    std::string shown = escapeFileNameCharacters(name);
    if (shown.empty()) return "%00";
    if (characterCount(shown) > 4) {
        if (auto at = fourthFromEnd(shown); at && shown[*at] == '_') shown[*at] = '.';
    }
    std::size_t underscore = shown.find('_');
    if (underscore != std::string::npos && underscore > 0 && underscore + 1 < shown.size()) {
        return joinStored(escapeDotComponent(std::string_view(shown).substr(0, underscore)),
                          escapeDotComponent(std::string_view(shown).substr(underscore + 1)));
    }
    return escapeDotComponent(shown);
}

std::string_view storedFolderPart(std::string_view stored) {
    std::size_t separator = stored.rfind('\\');
    return separator == std::string_view::npos ? std::string_view{} : stored.substr(0, separator);
}

std::string_view storedFilePart(std::string_view stored) {
    std::size_t separator = stored.rfind('\\');
    return separator == std::string_view::npos ? stored : stored.substr(separator + 1);
}

std::string pngSiblingName(std::string_view bmpName) {
    std::string png(bmpName.substr(0, bmpName.size() >= 3 ? bmpName.size() - 3 : 0));
    return png + "png";
}

void ClaimedNames::claimFile(std::string_view name) {
    files_.insert(toLowerAscii(name));
}

bool ClaimedNames::isFileClaimed(std::string_view name) const {
    return files_.count(toLowerAscii(name)) != 0;
}

bool ClaimedNames::isFolderTakenByFile(std::string_view folder) const {
    if (folder.empty()) return false;
    if (isFileClaimed(folder)) return true;
    if (folder_.empty()) return false;
    std::error_code error;
    auto status = std::filesystem::status(folder_ / pathFromUtf8(folder), error);
    return !error && std::filesystem::exists(status) && !std::filesystem::is_directory(status);
}

bool ClaimedNames::isFileTakenByFolder(std::string_view name) const {
    if (folders_.count(toLowerAscii(name)) != 0) return true;
    if (folder_.empty()) return false;
    std::string native(name);
    for (auto& c : native)
        if (c == '\\') c = '/';
    std::error_code error;
    return std::filesystem::is_directory(folder_ / pathFromUtf8(native), error);
}

bool ClaimedNames::isFree(std::string_view name, bool pngSibling) const {
    if (isFileClaimed(name) || isFileTakenByFolder(name) || isFolderTakenByFile(storedFolderPart(name)))
        return false;
    if (pngSibling) {
        std::string sibling = pngSiblingName(name);
        if (isFileClaimed(sibling) || isFileTakenByFolder(sibling)) return false;
    }
    return true;
}

std::string ClaimedNames::claimFor(std::string_view name, std::uint16_t language, bool pngSibling) {
    std::string chosen(name);
    if (!isFree(chosen, pngSibling)) {
        bool onFolder = isFolderTakenByFile(storedFolderPart(name));
        auto candidate = [&](const std::string& suffix) {
            return onFolder ? withFolderSuffix(name, suffix) : withFileSuffix(name, suffix);
        };
        std::string suffix = "~" + std::to_string(language);
        chosen = candidate(suffix);
        for (int k = 2; !isFree(chosen, pngSibling); ++k)
            chosen = candidate(suffix + "~" + std::to_string(k));
    }
    claimFile(chosen);
    if (pngSibling) claimFile(pngSiblingName(chosen));
    if (auto folder = storedFolderPart(chosen); !folder.empty()) folders_.insert(toLowerAscii(folder));
    return chosen;
}

std::string resourceFileNameForId(bool typeNamed, std::uint32_t typeNumber, std::string_view typeName,
                                  std::uint16_t id) {
    if (typeNamed) {
        if (iequalsAscii(typeName, "AVI")) return safeFormat("AVI%.5d.AVI", {id});
        return safeFormat("%s%.5d", {typeName, id});
    }
    switch (typeNumber) {
        case resource_type::kCursor:
            return safeFormat("Cursor%.5d.CUR", {id});
        case resource_type::kBitmap:
            return safeFormat("Bitmap%.5d.BMP", {id});
        case resource_type::kIcon:
            return safeFormat("Icon%.5d.ICO", {id});
        case resource_type::kString:
            return std::string(kStringsFileName);
        case resource_type::kVersion:
            return "VERSION";
        default:
            return safeFormat("%u%.5d", {typeNumber, id});
    }
}

}  // namespace kestrel
