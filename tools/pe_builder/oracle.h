// Runs tools/pe_resources.py (python3-pefile, an independent PE reader) on a file and parses its
// line listing, so that C++ tests can compare what we wrote or read with a second implementation.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {

struct OracleSection {
    std::string name;  // printable ASCII; other bytes as \xHH
    std::uint32_t virtualAddress = 0, virtualSize = 0, rawSize = 0, rawOffset = 0, characteristics = 0;
    std::string sha256;
};

struct OracleResource {
    std::string type;  // "i:16" or "n:TEXT" (see oracleKey); "x:OFFSET" when the name lies outside the image
    std::string name;
    std::uint16_t language = 0;
    std::uint32_t codePage = 0;
    std::uint32_t size = 0;  // as the data entry says
    bool readable = true;    // false when the data lies outside the image
    ByteVector data;         // what could be read (short when the size runs past the file)
};

struct OracleListing {
    std::map<std::string, std::uint64_t> header;                       // e.g. "magic", "checksum"
    std::vector<std::pair<std::uint32_t, std::uint32_t>> directories;  // (address, size) by index
    std::uint64_t fileSize = 0;
    std::vector<OracleSection> sections;
    std::vector<OracleResource> resources;  // in directory order
    bool checksumValid = false;
    std::int64_t overlayOffset = -1;  // -1: no overlay
    std::uint64_t overlaySize = 0;
    std::vector<std::string> warnings;
};

// The key as the oracle writes it: "i:<id>", or "n:" + the name with printable ASCII except '\'
// kept and every other UTF-16 unit written as \uXXXX.
std::string oracleKey(const ResourceId& id);

// Whether the oracle can run here: it is a Python program started through the POSIX shell, which
// a Windows build (run under Wine) does not have.
bool oracleRuns();

// The interpreter that has pefile: $KESTREL_PYTHON, else /usr/bin/python3 when present, else python3.
std::string oraclePython();

// Runs `script` on `file`. nullopt when the script fails (then `error` holds its message, e.g. a
// pefile format error).
std::optional<OracleListing> readWithOracle(const std::filesystem::path& script,
                                            const std::filesystem::path& file, std::string* error = nullptr);

}  // namespace kestrel::pebuilder
