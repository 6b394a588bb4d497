#include "pe_builder/oracle.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace kestrel::pebuilder {
namespace {

std::vector<std::string> splitTabs(const std::string& line) {
    std::vector<std::string> fields;
    std::size_t start = 0;
    while (true) {
        std::size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

std::uint64_t number(const std::string& text) {
    return std::strtoull(text.c_str(), nullptr, 10);
}

ByteVector fromHex(const std::string& hex) {
    ByteVector bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        bytes.push_back(static_cast<std::byte>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return bytes;
}

// Single quotes for the shell; a quote inside becomes '\''.
std::string shellQuote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

}  // namespace

std::string oracleKey(const ResourceId& id) {
    if (!id.isName) return "i:" + std::to_string(id.id);
    std::string text = "n:";
    for (char16_t unit : id.name) {
        if (unit >= 0x20 && unit < 0x7F && unit != u'\\') {
            text += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            text += escaped;
        }
    }
    return text;
}

bool oracleRuns() {
#ifdef _WIN32
    return false;
#else
    return true;
#endif
}

std::string oraclePython() {
    if (const char* configured = std::getenv("KESTREL_PYTHON"); configured && *configured) return configured;
    std::error_code error;
    if (std::filesystem::exists("/usr/bin/python3", error)) return "/usr/bin/python3";
    return "python3";
}

std::optional<OracleListing> readWithOracle(const std::filesystem::path& script,
                                            const std::filesystem::path& file, std::string* error) {
    std::string command = shellQuote(oraclePython()) + " " + shellQuote(script.string()) + " " +
                          shellQuote(file.string()) + " --lines";
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        if (error) *error = "cannot start " + command;
        return std::nullopt;
    }
    std::string output;
    char chunk[4096];
    while (std::size_t count = std::fread(chunk, 1, sizeof chunk, pipe.get()))
        output.append(chunk, count);
    int status = pclose(pipe.release());

    OracleListing listing;
    std::istringstream lines(output);
    std::string line;
    std::string failure;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields = splitTabs(line);
        const std::string& kind = fields[0];
        if (kind == "error") {
            failure = fields.size() > 1 ? fields[1] : "error";
        } else if (kind == "header" && fields.size() == 3) {
            listing.header[fields[1]] = number(fields[2]);
        } else if (kind == "directory" && fields.size() == 4) {
            listing.directories.emplace_back(static_cast<std::uint32_t>(number(fields[2])),
                                             static_cast<std::uint32_t>(number(fields[3])));
        } else if (kind == "file_size" && fields.size() == 2) {
            listing.fileSize = number(fields[1]);
        } else if (kind == "section" && fields.size() == 8) {
            listing.sections.push_back({fields[1], static_cast<std::uint32_t>(number(fields[2])),
                                        static_cast<std::uint32_t>(number(fields[3])),
                                        static_cast<std::uint32_t>(number(fields[4])),
                                        static_cast<std::uint32_t>(number(fields[5])),
                                        static_cast<std::uint32_t>(number(fields[6])), fields[7]});
        } else if (kind == "resource" && fields.size() == 7) {
            const bool readable = fields[6] != "unreadable";
            listing.resources.push_back({fields[1], fields[2], static_cast<std::uint16_t>(number(fields[3])),
                                         static_cast<std::uint32_t>(number(fields[4])),
                                         static_cast<std::uint32_t>(number(fields[5])), readable,
                                         readable ? fromHex(fields[6]) : ByteVector{}});
        } else if (kind == "checksum_valid" && fields.size() == 2) {
            listing.checksumValid = fields[1] == "1";
        } else if (kind == "overlay" && fields.size() == 3) {
            listing.overlayOffset = std::strtoll(fields[1].c_str(), nullptr, 10);
            listing.overlaySize = number(fields[2]);
        } else if (kind == "warning" && fields.size() >= 2) {
            listing.warnings.push_back(fields[1]);
        }
    }
    if (status != 0 || !failure.empty()) {
        if (error) *error = failure.empty() ? "oracle exited with status " + std::to_string(status) : failure;
        return std::nullopt;
    }
    return listing;
}

}  // namespace kestrel::pebuilder
