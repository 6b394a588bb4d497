// Text files of resources (INI, XML, HTML, CSS, manifests, STRINGS.XML ...) as UTF-16 text with '\n'
// line ends, and back in the encoding, byte-order mark and line ends they were read with (each line
// its own: CR LF, LF or lone CR), so that a file that is only viewed, or edited and saved, keeps every
// byte the edit did not touch.
//
// Detection: .ini files and files starting with FF FE are UTF-16LE; EF BB BF starts UTF-8; otherwise
// valid UTF-8, then text that round-trips exactly through code page 936 (GBK), then UTF-8 in which
// every byte of an invalid sequence is carried as the lone surrogate U+DC00 + byte.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

enum class TextEncoding {
    kUtf16Le,
    kUtf8,
    kCp936,
    kUtf8Escaped,  // UTF-8 with invalid bytes carried as U+DC80..U+DCFF
};

enum class LineEnd { kCrLf, kLf, kCr };

struct DecodedText {
    std::u16string text;  // line ends normalised to u'\n'
    TextEncoding encoding = TextEncoding::kUtf8;
    bool bom = false;  // the file began with a byte-order mark (FF FE, or EF BB BF), kept on write
    LineEnd lineEnd = LineEnd::kCrLf;          // the dominant line end (most frequent; ties and none: CR LF)
    std::vector<LineEnd> lineEnds;             // each line's own end, in order, when they are not all
                                               // `lineEnd`; empty when they are
    std::optional<std::byte> oddTrailingByte;  // UTF-16 file of odd length: its last byte, kept on write
    // Not text in any of these encodings: a NUL character, or more than a few bytes no encoding
    // accepts, unpaired surrogates or control characters. Such a file is shown, never edited.
    bool binary = false;

    friend bool operator==(const DecodedText&, const DecodedText&) = default;
};

// True for the files read as UTF-16LE whatever their first bytes are: .ini (any letter case).
bool prefersUtf16(const std::filesystem::path& path);

// Decodes a text file; `wide` (see prefersUtf16) reads it as UTF-16LE. Never fails: bytes that no
// encoding accepts are carried as escapes. CR LF, LF and lone CR all become '\n'.
DecodedText DecodeTextFile(std::span<const std::byte> bytes, bool wide);

// Why a text cannot be written in its file's encoding; the caller turns it into its message.
struct TextEncodeError {
    enum class Kind {
        kNoConverter,        // the system has no conversion to the encoding
        kUnpairedSurrogate,  // a lone surrogate that carries no byte
        kUnencodable,        // a character the encoding cannot hold
    };
    Kind kind = Kind::kUnencodable;
    std::string_view encodingName;  // "UTF-8" or "GBK/CP936"; a literal, never owned
    int line = 0;                   // 1-based line of the character (not for kNoConverter)
    char32_t codePoint = 0;
    std::string character = {};  // the character in UTF-8 (kUnencodable only)

    friend bool operator==(const TextEncodeError&, const TextEncodeError&) = default;
};

// Encodes `text` ('\n' line ends) the way `format` was read: its encoding, its byte-order mark, the
// n-th '\n' as format.lineEnds[n] (the dominant line end past its end), and a UTF-16 file's odd last
// byte. Lone surrogates are written as they are in UTF-16; in UTF-8, U+DC80..U+DCFF write the byte
// they carry. A character the encoding cannot hold (another lone surrogate in UTF-8; anything outside
// GBK in code page 936) fails with the first such character and its line; nothing is ever replaced by
// a substitute. Returns nothing on success. `out` is replaced on success and left as it was on failure.
[[nodiscard]] std::optional<TextEncodeError> EncodeTextFile(std::u16string_view text,
                                                            const DecodedText& format,
                                                            std::vector<std::byte>& out);

// The line ends for `after`, an edit of `before` whose lines ended as `format` says: every line of
// `after` that is a line of `before` the edit left in place (found by a line diff) keeps that line's
// end; a line the edit changed takes the end of the line it replaced; a new line, and a line that had
// no end as the last line, takes the dominant one. Empty when they all are the dominant one.
std::vector<LineEnd> LineEndsAfterEdit(std::u16string_view before, const DecodedText& format,
                                       std::u16string_view after);

}  // namespace kestrel
