#include "core/pe/section_names.h"

#include <unordered_set>

#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

bool isRefusedInFileName(unsigned char c) {
    switch (c) {
        case '\\':
        case '/':
        case ':':
        case '*':
        case '?':
        case '"':
        case '<':
        case '>':
        case '|':
            return true;
        default:
            return c < 0x20 || c == 0x7F;
    }
}

std::string escapeHighBytes(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (byte >= 0x80) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

std::string escapeFileNameCharacters(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        auto byte = static_cast<unsigned char>(c);
        if (isRefusedInFileName(byte)) {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0xF];
        } else {
            out += c;
        }
    }
    return out;
}

std::string sectionNameText(const SectionNameBytes& name) {
    std::string text;
    for (std::uint8_t byte : name) {
        if (byte == 0) break;
        text += static_cast<char>(byte);
    }
    return text;
}

bool isResourceSectionName(const SectionNameBytes& name) {
    return iequalsAscii(sectionNameText(name), ".rsrc");
}

std::vector<std::string> sectionFileNames(std::span<const SectionNameBytes> names) {
    std::unordered_set<std::string> claimed;
    for (std::string_view fixed :
         {kDosHeaderFileName, kNtHeaderFileName, kOverlayFileName, kDescriptionFileName, kStringsFileName})
        claimed.insert(toLowerAscii(fixed));

    std::vector<std::string> files;
    files.reserve(names.size());
    for (const auto& raw : names) {
        if (isResourceSectionName(raw)) {
            files.emplace_back();
            continue;
        }
        std::string name = sectionNameText(raw);
        if (!name.empty() && name.front() == '.') name.erase(0, 1);
        std::size_t separators = 0;
        while (separators < name.size() && (name[separators] == '\\' || name[separators] == '/'))
            ++separators;
        name = escapeFileNameCharacters(name.substr(separators));
        // Section names are meant to be UTF-8; other bytes are escaped too so the file name is text.
        if (!isWtf8(name)) name = escapeHighBytes(name);

        std::string file = name + ".BIN";
        for (int k = 2; !claimed.insert(toLowerAscii(file)).second; ++k)
            file = name + "~" + std::to_string(k) + ".BIN";
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace kestrel
