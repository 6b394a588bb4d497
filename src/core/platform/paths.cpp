#include "core/platform/paths.h"

#include <system_error>
#include <vector>

#include "core/platform/text.h"

namespace kestrel {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Simple case folding for comparing names: ASCII letters, and UTF-16 letters whose lower case is a
// single unit (enough for Latin, Greek and Cyrillic names written by Windows).
std::u16string foldCase(std::string_view utf8) {
    std::u16string text = utf8ToUtf16(utf8);
    for (auto& unit : text) {
        if (unit >= u'A' && unit <= u'Z') {
            unit = static_cast<char16_t>(unit + 32);
        } else if ((unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) || (unit >= 0x391 && unit <= 0x3AB) ||
                   (unit >= 0x410 && unit <= 0x42F)) {
            unit = static_cast<char16_t>(unit + 32);
        } else if (unit >= 0x400 && unit <= 0x40F) {
            unit = static_cast<char16_t>(unit + 80);
        }
    }
    return text;
}

}  // namespace

std::vector<std::string> splitStoredName(std::string_view storedName) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= storedName.size(); ++i) {
        if (i == storedName.size() || isSeparator(storedName[i])) {
            if (i > start) parts.emplace_back(storedName.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

HResult resolveStored(const fs::path& folder, std::string_view storedName, fs::path& out) {
    if (storedName.empty() || isSeparator(storedName.front())) return kInvalidArg;
    // Drive letters ("C:") and anything with a colon would be absolute or special on Windows.
    if (storedName.find(':') != std::string_view::npos) return kInvalidArg;
    if (storedName.find('\0') != std::string_view::npos) return kInvalidArg;
    auto parts = splitStoredName(storedName);
    fs::path result = folder;
    bool parentExists = true;
    bool any = false;
    for (const auto& part : parts) {
        if (part == ".") continue;
        if (part == "..") return kInvalidArg;
        any = true;
        fs::path exact = result / pathFromUtf8(part);
        std::error_code ec;
        if (!parentExists || fs::exists(fs::symlink_status(exact, ec))) {
            result = exact;
            continue;
        }
        // Not there as written: take the first entry that matches ignoring case.
        bool found = false;
        auto wanted = foldCase(part);
        for (fs::directory_iterator it(result, ec), end; !ec && it != end; it.increment(ec)) {
            if (foldCase(pathToUtf8(it->path().filename())) == wanted) {
                result = it->path();
                found = true;
                break;
            }
        }
        if (!found) {
            result = exact;
            parentExists = false;
        }
    }
    if (!any) return kInvalidArg;
    out = result;
    return kOk;
}

char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c;
}
char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
}

bool iequalsAscii(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (asciiLower(a[i]) != asciiLower(b[i])) return false;
    return true;
}

bool istartsWithAscii(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && iequalsAscii(text.substr(0, prefix.size()), prefix);
}

bool iendsWithAscii(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && iequalsAscii(text.substr(text.size() - suffix.size()), suffix);
}

std::string toUpperAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = asciiUpper(c);
    return out;
}

std::string toLowerAscii(std::string_view text) {
    std::string out(text);
    for (auto& c : out)
        c = asciiLower(c);
    return out;
}

std::string folderOf(std::string_view path) {
    auto pos = path.find_last_of("\\/");
    if (pos == std::string_view::npos) return {};
    return std::string(path.substr(0, pos + 1));
}

std::string fileNameOf(std::string_view path) {
    auto pos = path.find_last_of("\\/");
    return std::string(pos == std::string_view::npos ? path : path.substr(pos + 1));
}

std::string extensionOf(std::string_view path) {
    std::string name = fileNameOf(path);
    auto dot = name.rfind('.');
    if (dot == std::string::npos) return {};
    return name.substr(dot);
}

std::string baseNameOf(std::string_view path) {
    std::string name = fileNameOf(path);
    auto dot = name.rfind('.');
    return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string pathToUtf8(const fs::path& path) {
    // POSIX paths are byte strings; we keep them as UTF-8 (or whatever bytes they hold).
    return path.native();
}

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(std::string(text));
}

}  // namespace kestrel
