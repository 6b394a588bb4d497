// version-edit FILE FIELD=VALUE: makes one edit of a version resource file (the VERSION file of a
// working folder) with the same core calls the version pane makes, and writes the file back. Used by
// tests/corpus/version_fields_check.py, which compiles the folder and reads the result with another
// PE reader.
//
// Fields: file-version / product-version (a.b.c.d), flags-mask, flags, os, type, subtype (numbers,
// decimal or 0x-hex), translation (LANGUAGE,CODEPAGE), string:KEY (the value may be empty).
// Exit status 0 when written, 1 when the file cannot be read, parsed or written, 2 for a bad edit.
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/pe/version_info.h"
#include "core/platform/files.h"
#include "core/platform/text.h"

namespace {

using namespace kestrel;

std::optional<std::uint32_t> number(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (*end != '\0' || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

// Applies `field`=`value` to `info`; false when the edit is not understood.
bool applyEdit(VersionInfo& info, const std::string& field, const std::string& value) {
    if (field.rfind("string:", 0) == 0) {
        SetVersionString(info, utf8ToUtf16(field.substr(7)), utf8ToUtf16(value));
        return true;
    }
    if (field == "translation") {
        const std::size_t comma = value.find(',');
        if (comma == std::string::npos) return false;
        const auto language = number(value.substr(0, comma));
        const auto codePage = number(value.substr(comma + 1));
        if (!language || !codePage || *language > 0xFFFF || *codePage > 0xFFFF) return false;
        SetVersionTranslation(info,
                              {static_cast<std::uint16_t>(*language), static_cast<std::uint16_t>(*codePage)});
        return true;
    }
    std::optional<FixedFileInfo> fixed = GetFixedFileInfo(info);
    if (!fixed) return false;
    if (field == "file-version" || field == "product-version") {
        const std::optional<VersionNumber> version = ParseVersionText(value);
        if (!version) return false;
        if (field == "file-version") {
            fixed->setFileVersion(*version);
        } else {
            fixed->setProductVersion(*version);
        }
    } else {
        const std::optional<std::uint32_t> parsed = number(value);
        if (!parsed) return false;
        if (field == "flags-mask") {
            fixed->fileFlagsMask = *parsed;
        } else if (field == "flags") {
            fixed->fileFlags = *parsed;
        } else if (field == "os") {
            fixed->fileOS = *parsed;
        } else if (field == "type") {
            fixed->fileType = *parsed;
        } else if (field == "subtype") {
            fixed->fileSubtype = *parsed;
        } else {
            return false;
        }
    }
    SetFixedFileInfo(info, *fixed);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: version-edit FILE FIELD=VALUE\n");
        return 2;
    }
    const std::filesystem::path file = argv[1];
    const std::string edit = argv[2];
    const std::size_t equals = edit.find('=', edit.rfind("string:", 0) == 0 ? 7 : 0);
    if (equals == std::string::npos) {
        std::fprintf(stderr, "version-edit: no '=' in %s\n", edit.c_str());
        return 2;
    }
    std::vector<std::byte> bytes;
    VersionInfo info;
    if (ReadWholeFile(file, bytes).failed() || ParseVersionInfo(bytes, info).failed()) {
        std::fprintf(stderr, "version-edit: cannot read a version block from %s\n", argv[1]);
        return 1;
    }
    if (!applyEdit(info, edit.substr(0, equals), edit.substr(equals + 1))) {
        std::fprintf(stderr, "version-edit: cannot apply %s\n", edit.c_str());
        return 2;
    }
    std::vector<std::byte> written;
    if (WriteVersionInfo(info, written).failed() || WriteFileAtomic(file, written).failed()) {
        std::fprintf(stderr, "version-edit: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
