// Path helpers and the one door for names that come from stored files.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

namespace fs = std::filesystem;

// Maps a stored relative name (`BLUE\ARROW.BMP`, `pe.xml`) to a path under `folder`:
// - `\` and `/` both separate components;
// - absolute names, drive letters, and `..` components are refused (E_INVALIDARG);
// - `.` and empty components are skipped; an empty name is refused;
// - each component that does not exist exactly is matched case-insensitively (ASCII, and the
//   simple case folding of Latin, Greek and Cyrillic letters) among the folder's entries; an
//   exact match wins, and among several twins the byte-wise smallest name;
// - entries named in CP936 (folders written on Windows) match their UTF-8 spelling.
// Components that exist in no spelling are appended as written, so the result also names a file
// that is about to be created. The result always lies lexically inside `folder`.
HResult resolveStored(const fs::path& folder, std::string_view storedName, fs::path& out);

// The same name joined under `folder` exactly as written, with the same refusals and without
// looking at the file system. A file that opens under this path is the one resolveStored names
// (every component exists as written), so readers try it first and resolve only when it is missing.
HResult exactStoredPath(const fs::path& folder, std::string_view storedName, fs::path& out);

// Splits a stored name into components on `\` and `/` (empty components dropped).
std::vector<std::string> splitStoredName(std::string_view storedName);

// ASCII case-insensitive comparisons, used for extensions, element names and file names.
char asciiLower(char c);
char asciiUpper(char c);
bool iequalsAscii(std::string_view a, std::string_view b);
bool istartsWithAscii(std::string_view text, std::string_view prefix);
bool iendsWithAscii(std::string_view text, std::string_view suffix);
std::string toUpperAscii(std::string_view text);
std::string toLowerAscii(std::string_view text);

// String path helpers for names that use either separator.
// "a/b/c.txt" → "a/b/" (with the trailing separator; "" when there is no folder part).
std::string folderOf(std::string_view path);
// "a/b/c.txt" → "c.txt"
std::string fileNameOf(std::string_view path);
// "a/b/c.txt" → ".txt" (with the dot; "" when the file name has no dot).
std::string extensionOf(std::string_view path);
// "a/b/c.txt" → "c"
std::string baseNameOf(std::string_view path);

// The UTF-8 text of a path, and a path from UTF-8 text.
std::string pathToUtf8(const fs::path& path);
fs::path pathFromUtf8(std::string_view text);

}  // namespace kestrel
