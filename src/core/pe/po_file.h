// gettext PO and POT files: writing a catalog of texts, and reading one back.
//
// The writer puts out a header entry (UTF-8, 8bit) and one entry per text: translator comments
// ("#."), references ("#:"), flags ("#,"), msgctxt, msgid and msgstr, each string in C escapes
// (\n \t \r \" \\ and octal for other control characters) and wrapped after each "\n" so that a
// message of several lines reads as several lines.
//
// The reader takes any bytes: comments of every kind, msgctxt, msgid, msgid_plural, msgstr and
// msgstr[n] with continuation strings, obsolete entries ("#~", left out), and the header's charset
// (UTF-8, or ASCII). A fault gives an error with its line and column (1-based), never a crash:
// a keyword out of place, a string without its closing quote, an unknown escape, text that is not
// UTF-8, a duplicate (msgctxt, msgid) pair.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

struct PoEntry {
    std::vector<std::string> comments;    // "#." lines, without the marker
    std::vector<std::string> references;  // "#:" items
    bool fuzzy = false;                   // "#, fuzzy"
    bool hasContext = false;
    std::string context;  // msgctxt
    std::string id;       // msgid
    bool plural = false;  // has msgid_plural; its msgstr is msgstr[0]
    std::string translation;
    friend bool operator==(const PoEntry&, const PoEntry&) = default;
};

struct PoHeader {
    std::string project = "PACKAGE";
    std::string language;      // empty in a template
    std::string creationDate;  // "2026-12-09 17:30+0000"
};

struct PoError {
    int line = 0;
    int column = 0;
    std::string message;  // English, without the position
};

// The catalog as PO text (`entries` with empty translations make a template).
std::string WritePo(const PoHeader& header, const std::vector<PoEntry>& entries);

// Reads PO text. kOk with every entry but the header and obsolete ones, in file order; kFail with
// `error` set and `entries` empty.
HResult ParsePo(std::string_view text, std::vector<PoEntry>& entries, PoError& error);

// The largest PO file ParsePo is given by the callers that read files (64 MiB).
inline constexpr std::size_t kMaxPoFileSize = std::size_t{64} << 20;

}  // namespace kestrel
