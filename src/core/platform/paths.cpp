#include "core/platform/paths.h"

#include <optional>
#include <system_error>
#include <vector>

#include "core/platform/text.h"

namespace kestrel {

namespace {

bool isSeparator(char c) {
    return c == '\\' || c == '/';
}

// Simple case folding for comparing names: ASCII letters, and UTF-16 letters whose lower case is a
// single unit (Latin-1, Latin Extended-A, Greek and Cyrillic: enough for names written by Windows).
char16_t foldUnit(char16_t unit) {
    if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    if ((unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) || (unit >= 0x391 && unit <= 0x3AB && unit != 0x3A2) ||
        (unit >= 0x410 && unit <= 0x42F))
        return static_cast<char16_t>(unit + 32);
    if (unit >= 0x400 && unit <= 0x40F) return static_cast<char16_t>(unit + 80);
    // Latin Extended-A pairs capitals with the next unit; the two runs differ in parity.
    if ((unit >= 0x100 && unit <= 0x137) || (unit >= 0x14A && unit <= 0x177))
        return (unit % 2 == 0) ? static_cast<char16_t>(unit + 1) : unit;
    if ((unit >= 0x139 && unit <= 0x148) || (unit >= 0x179 && unit <= 0x17E))
        return (unit % 2 == 1) ? static_cast<char16_t>(unit + 1) : unit;
    if (unit == 0x178) return 0xFF;
    return unit;
}

std::u16string foldCase(std::string_view utf8) {
    std::u16string text = utf8ToUtf16(utf8);
    for (auto& unit : text)
        unit = foldUnit(unit);
    return text;
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Compares one stored component with one directory entry ignoring case. ASCII names (nearly all
// of them) are compared byte by byte: folding maps ASCII only to ASCII and nothing else to ASCII.
class CaseInsensitiveName {
  public:
    explicit CaseInsensitiveName(std::string_view name) : name_(name), ascii_(isAscii(name)) {}

    bool matches(std::string_view entry) const {
        if (ascii_ && isAscii(entry)) return iequalsAscii(name_, entry);
        if (!folded_) folded_ = foldCase(name_);
        return foldCase(entry) == *folded_;
    }

  private:
    std::string_view name_;
    bool ascii_;
    mutable std::optional<std::u16string> folded_;
};

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

namespace {

// The components of a stored name that may be used under a folder; E_INVALIDARG for names that
// could leave it.
HResult storedParts(std::string_view storedName, std::vector<std::string>& parts) {
    if (storedName.empty() || isSeparator(storedName.front())) return kInvalidArg;
    // Drive letters ("C:") and anything with a colon would be absolute or special on Windows.
    if (storedName.find(':') != std::string_view::npos) return kInvalidArg;
    if (storedName.find('\0') != std::string_view::npos) return kInvalidArg;
    parts = splitStoredName(storedName);
    for (const auto& part : parts)
        if (part == "..") return kInvalidArg;
    return kOk;
}

}  // namespace

HResult exactStoredPath(const fs::path& folder, std::string_view storedName, fs::path& out) {
    std::vector<std::string> parts;
    if (HResult hr = storedParts(storedName, parts); hr.failed()) return hr;
    fs::path result = folder;
    bool any = false;
    for (const auto& part : parts) {
        if (part == ".") continue;
        any = true;
        result /= pathFromUtf8(part);
    }
    if (!any) return kInvalidArg;
    out = std::move(result);
    return kOk;
}

HResult resolveStored(const fs::path& folder, std::string_view storedName, fs::path& out) {
    std::vector<std::string> parts;
    if (HResult hr = storedParts(storedName, parts); hr.failed()) return hr;
    fs::path result = folder;
    bool parentExists = true;
    bool any = false;
    for (const auto& part : parts) {
        if (part == ".") continue;
        any = true;
        fs::path exact = result / pathFromUtf8(part);
        std::error_code ec;
        if (!parentExists || fs::exists(fs::symlink_status(exact, ec))) {
            result = exact;
            continue;
        }
        // Not there as written: look for case twins. When several entries differ from the name
        // only in case, the smallest name wins, so the choice does not depend on directory order.
        CaseInsensitiveName wanted(part);
        std::optional<fs::path> best;
        for (fs::directory_iterator it(result, ec), end; !ec && it != end; it.increment(ec)) {
            const fs::path& candidate = it->path();
            const std::string name = pathToUtf8(candidate.filename());
            if (!wanted.matches(name)) continue;
            if (!best || name < pathToUtf8(best->filename())) best = candidate;
        }
        if (best) {
            result = std::move(*best);
        } else {
            result = std::move(exact);
            parentExists = false;
        }
    }
    if (!any) return kInvalidArg;
    out = std::move(result);
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

#ifdef _WIN32
// Windows names are UTF-16; a lone surrogate in one travels as its WTF-8 form and comes back.
std::string pathToUtf8(const fs::path& path) {
    const std::wstring& native = path.native();
    return utf16ToUtf8(std::u16string(native.begin(), native.end()));
}

fs::path pathFromUtf8(std::string_view text) {
    const std::u16string units = utf8ToUtf16(text);
    return fs::path(std::wstring(units.begin(), units.end()));
}
#else
std::string pathToUtf8(const fs::path& path) {
    // POSIX paths are byte strings; we keep them as UTF-8 (or whatever bytes they hold).
    return path.native();
}

fs::path pathFromUtf8(std::string_view text) {
    return fs::path(std::string(text));
}
#endif

}  // namespace kestrel
