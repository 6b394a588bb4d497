#include "core/platform/text_file.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

#include "core/platform/byte_reader.h"
#include "core/platform/iconv_compat.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"

namespace kestrel {
namespace {

constexpr std::size_t kNone = std::u16string_view::npos;

// Windows' code page 936 puts the euro sign at the single byte 0x80.
constexpr char16_t kEuroSign = u'\u20AC';
constexpr std::uint8_t kEuroByte = 0x80;

constexpr bool isHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool isLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}
constexpr bool isSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDFFF;
}
// A byte of an invalid UTF-8 sequence, carried in the text as U+DC00 + byte.
constexpr bool isByteEscape(char32_t unit) {
    return unit >= 0xDC80 && unit <= 0xDCFF;
}
constexpr char32_t combineSurrogates(char32_t high, char32_t low) {
    return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00);
}

std::u16string_view lineEndUnits(LineEnd lineEnd) {
    switch (lineEnd) {
        case LineEnd::kLf:
            return u"\n";
        case LineEnd::kCr:
            return u"\r";
        case LineEnd::kCrLf:
            break;
    }
    return u"\r\n";
}

// The line end each '\n' of a text is written as: the n-th one's own, or the dominant one.
struct LineEndPlan {
    std::u16string_view dominant;
    std::span<const LineEnd> each;

    std::u16string_view at(std::size_t line) const {
        return line < each.size() ? lineEndUnits(each[line]) : dominant;
    }
    // The end of `line`, whose '\n' is text[index]. A lone CR right before an empty line that ends
    // with LF would read back as one CR LF, one line less: it is written CR LF then.
    std::u16string_view at(std::size_t line, std::u16string_view text, std::size_t index) const {
        const std::u16string_view end = at(line);
        if (end == u"\r" && index + 1 < text.size() && text[index + 1] == u'\n' && at(line + 1) == u"\n")
            return u"\r\n";
        return end;
    }
};

// Turns CR LF and lone CR into '\n' in place, records each line's end in `ends`, and returns the most
// frequent of the three (CR LF when there is none or the most frequent ones tie). `ends` is left
// empty when every line ends with that one.
LineEnd normaliseLineEnds(std::u16string& text, std::vector<LineEnd>& ends) {
    std::size_t crLf = 0;
    std::size_t lf = 0;
    std::size_t cr = 0;
    std::size_t kept = 0;
    ends.clear();
    for (std::size_t i = 0; i < text.size(); ++i) {
        char16_t unit = text[i];
        if (unit == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                ++crLf;
                ++i;
                ends.push_back(LineEnd::kCrLf);
            } else {
                ++cr;
                ends.push_back(LineEnd::kCr);
            }
            unit = u'\n';
        } else if (unit == u'\n') {
            ++lf;
            ends.push_back(LineEnd::kLf);
        }
        text[kept++] = unit;
    }
    text.resize(kept);
    LineEnd dominant = LineEnd::kCrLf;
    if (lf > crLf && lf > cr) dominant = LineEnd::kLf;
    if (cr > crLf && cr > lf) dominant = LineEnd::kCr;
    if (std::all_of(ends.begin(), ends.end(), [dominant](LineEnd end) { return end == dominant; })) {
        ends.clear();
        ends.shrink_to_fit();
    }
    return dominant;
}

// How many stray units (bytes no encoding accepts, unpaired surrogates, control characters) text may
// hold and still be text: a few come with hand-edited files, more mean data.
constexpr std::size_t kMaxStrayUnits = 8;

bool isStrayControl(char16_t unit) {
    // Tab, line and form feed, carriage return, and the end-of-file and escape characters of old
    // text files are text.
    return unit < 0x20 && unit != u'\t' && unit != u'\n' && unit != u'\v' && unit != u'\f' && unit != u'\r' &&
           unit != 0x1A && unit != 0x1B;
}

// True when decoded text is not text: a NUL, or more than a few stray units.
bool looksBinary(std::u16string_view text) {
    std::size_t stray = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == 0) return true;
        if (isStrayControl(unit)) {
            ++stray;
        } else if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            ++i;
        } else if (isSurrogate(unit)) {
            // In escaped UTF-8 these carry the bytes that were not UTF-8.
            ++stray;
        }
        if (stray > kMaxStrayUnits) return true;
    }
    return false;
}

void decodeUtf16(const ByteReader& reader, std::u16string& text, std::optional<std::byte>& oddByte) {
    const std::size_t units = reader.size() / 2;
    text.resize(units);
    for (std::size_t i = 0; i < units; ++i)
        text[i] = static_cast<char16_t>(reader.u16Or(i * 2, 0));
    if (reader.size() % 2 != 0) oddByte = std::byte{reader.u8Or(reader.size() - 1, 0)};
}

// The length of the well-formed UTF-8 sequence at `offset` (0 when the bytes there are not one) and
// its code point. Overlong forms, encoded surrogates and values above U+10FFFF are not well formed.
std::size_t utf8Sequence(const ByteReader& reader, std::size_t offset, char32_t& codePoint) {
    const std::uint8_t lead = reader.u8Or(offset, 0);
    std::size_t length = 0;
    char32_t smallest = 0;
    if (lead < 0x80) {
        codePoint = lead;
        return 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        smallest = 0x80;
        codePoint = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        smallest = 0x800;
        codePoint = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        smallest = 0x10000;
        codePoint = lead & 0x07;
    } else {
        return 0;
    }
    if (!reader.contains(offset, length)) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const std::uint8_t next = reader.u8Or(offset + k, 0);
        if ((next & 0xC0) != 0x80) return 0;
        codePoint = (codePoint << 6) | (next & 0x3F);
    }
    if (codePoint < smallest || codePoint > 0x10FFFF || isSurrogate(codePoint)) return 0;
    return length;
}

// Appends the UTF-16 form of the UTF-8 bytes from `offset` on. With `escape`, each byte that does
// not start a well-formed sequence becomes U+DC00 + byte and decoding resumes at the next byte;
// without, decoding stops there. Returns the offset where it stopped (the size when it did not).
std::size_t decodeUtf8(const ByteReader& reader, std::size_t offset, bool escape, std::u16string& text) {
    // No byte gives more than one unit (a four-byte sequence gives two).
    std::size_t length = text.size();
    text.resize(length + (reader.size() - offset));
    while (offset < reader.size()) {
        char32_t codePoint = 0;
        const std::size_t sequence = utf8Sequence(reader, offset, codePoint);
        if (sequence == 0) {
            if (!escape) break;
            text[length++] = static_cast<char16_t>(0xDC00 + reader.u8Or(offset, 0));
            ++offset;
            continue;
        }
        if (codePoint >= 0x10000) {
            text[length++] = static_cast<char16_t>(0xD800 + ((codePoint - 0x10000) >> 10));
            text[length++] = static_cast<char16_t>(0xDC00 + ((codePoint - 0x10000) & 0x3FF));
        } else {
            text[length++] = static_cast<char16_t>(codePoint);
        }
        offset += sequence;
    }
    text.resize(length);
    return offset;
}

// --- Code page 936 through iconv -----------------------------------------------------------------

class Converter {
  public:
    Converter(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~Converter() {
        if (valid()) iconv_close(handle_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // iconv_open reports failure as (iconv_t)-1.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    // Starts a new conversion.
    void reset() const { iconv(handle_, nullptr, nullptr, nullptr, nullptr); }
    // One iconv call; returns its result and leaves errno's value in `error` on failure.
    std::size_t convert(char*& in, std::size_t& inLeft, char*& out, std::size_t& outLeft, int& error) const {
        const std::size_t result = iconv(handle_, &in, &inLeft, &out, &outLeft);
        error = result == static_cast<std::size_t>(-1) ? errno : 0;
        return result;
    }

  private:
    iconv_t handle_;
};

constexpr std::size_t kFailed = static_cast<std::size_t>(-1);

// Opening a converter costs more than a short conversion; each thread keeps one per direction.
const Converter& cp936Decoder() {
    thread_local const Converter converter("UTF-16LE", "CP936");
    return converter;
}
const Converter& cp936Encoder() {
    thread_local const Converter converter("CP936", "UTF-16LE");
    return converter;
}

// Converts the UTF-16LE units in `units` (`count` of them) and appends the bytes to `out`. Returns
// the index of the first unit that cannot be converted exactly, or kNone.
std::size_t convertToCp936(const Converter& converter, char* units, std::size_t count,
                           std::vector<std::byte>& out) {
    char* in = units;
    std::size_t inLeft = count * 2;
    while (inLeft > 0) {
        // Code page 936 spends at most two bytes on a UTF-16 unit.
        const std::size_t start = out.size();
        out.resize(start + inLeft);
        char* target = reinterpret_cast<char*>(out.data() + start);
        std::size_t outLeft = inLeft;
        const std::size_t capacity = outLeft;
        int error = 0;
        const std::size_t result = converter.convert(in, inLeft, target, outLeft, error);
        out.resize(start + capacity - outLeft);
        if (result == kFailed && error != E2BIG) return static_cast<std::size_t>(in - units) / 2;
        if (result != kFailed && result != 0) {
            // Some of these units were replaced by an approximation: find the first, one at a time.
            for (std::size_t i = 0; i < count; ++i) {
                std::array<char, 8> scratch{};
                char* one = units + i * 2;
                std::size_t oneLeft = 2;
                char* scratchOut = scratch.data();
                std::size_t scratchLeft = scratch.size();
                converter.reset();
                if (converter.convert(one, oneLeft, scratchOut, scratchLeft, error) != 0) return i;
            }
            return 0;
        }
    }
    return kNone;
}

// Encodes `text` in code page 936 and appends it to `out`, each '\n' written as `lineEnds` says.
// Returns the index of the first character the code page cannot hold, or kNone. Surrogates
// (characters beyond U+FFFF, which GBK has none of, and lone ones) always fail; the euro sign is
// written 0x80.
std::size_t encodeCp936(std::u16string_view text, const LineEndPlan& lineEnds, std::vector<std::byte>& out) {
    const Converter& converter = cp936Encoder();
    if (!converter.valid()) return 0;
    converter.reset();
    out.reserve(out.size() + text.size() + text.size() / 2);
    std::array<char, 16384> chunk{};
    std::size_t chunkUnits = 0;
    std::size_t chunkStart = 0;  // index in `text` of the first character in `chunk`
    std::size_t chunkLine = 0;   // how many '\n' come before it
    std::size_t line = 0;        // how many '\n' were put
    // Converts the chunk; on failure returns the index in `text` of the character that failed.
    auto flush = [&](std::size_t next) {
        const std::size_t failedUnit = convertToCp936(converter, chunk.data(), chunkUnits, out);
        std::size_t failed = kNone;
        if (failedUnit != kNone) {
            // Line ends are ASCII and never fail, so the failing unit maps to one character.
            std::size_t unit = 0;
            std::size_t lineHere = chunkLine;
            for (std::size_t i = chunkStart; i < next; ++i) {
                const std::size_t width = text[i] == u'\n' ? lineEnds.at(lineHere++, text, i).size() : 1;
                if (unit + width > failedUnit) {
                    failed = i;
                    break;
                }
                unit += width;
            }
        }
        chunkUnits = 0;
        chunkStart = next;
        chunkLine = line;
        return failed;
    };
    auto put = [&](char16_t unit) {
        chunk[chunkUnits * 2] = static_cast<char>(unit & 0xFF);
        chunk[chunkUnits * 2 + 1] = static_cast<char>(unit >> 8);
        ++chunkUnits;
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == kEuroSign || isSurrogate(unit)) {
            if (const std::size_t failed = flush(i); failed != kNone) return failed;
            if (isSurrogate(unit)) return i;
            out.push_back(std::byte{kEuroByte});
            chunkStart = i + 1;
            continue;
        }
        if (unit == u'\n') {
            for (char16_t lineEndUnit : lineEnds.at(line++, text, i))
                put(lineEndUnit);
        } else {
            put(unit);
        }
        if ((chunkUnits + 2) * 2 > chunk.size()) {
            if (const std::size_t failed = flush(i + 1); failed != kNone) return failed;
        }
    }
    return flush(text.size());
}

// Decodes `bytes` as code page 936 into `text`. False at the first invalid or incomplete sequence,
// and for any text that does not encode back to the very bytes it was read from (checked piece by
// piece as it is decoded, so that nothing the size of the file is built for the check).
bool readsAsCp936(Bytes bytes, std::u16string& text) {
    const Converter& converter = cp936Decoder();
    if (!converter.valid()) return false;
    converter.reset();
    text.reserve(bytes.size());
    // iconv's input pointer is not const-qualified, but iconv only reads through it.
    char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes.data()));
    std::size_t inLeft = bytes.size();
    std::array<char, 16384> buffer{};
    std::vector<std::byte> again;
    while (inLeft > 0) {
        const std::size_t consumedBefore = bytes.size() - inLeft;
        const std::size_t unitsBefore = text.size();
        char* out = buffer.data();
        std::size_t outLeft = buffer.size();
        int error = 0;
        const std::size_t result = converter.convert(in, inLeft, out, outLeft, error);
        const std::size_t produced = (buffer.size() - outLeft) / 2;
        text.resize(unitsBefore + produced);
        for (std::size_t k = 0; k < produced; ++k)
            text[unitsBefore + k] =
                static_cast<char16_t>(static_cast<std::uint8_t>(buffer[2 * k]) |
                                      (static_cast<std::uint8_t>(buffer[2 * k + 1]) << 8));
        again.clear();
        const Bytes read = bytes.subspan(consumedBefore, bytes.size() - inLeft - consumedBefore);
        if (encodeCp936(std::u16string_view(text).substr(unitsBefore), LineEndPlan{u"\n", {}}, again) !=
                kNone ||
            !std::equal(again.begin(), again.end(), read.begin(), read.end()))
            return false;
        if (result == kFailed) {
            if (error == E2BIG) continue;
            // Converters whose tables lack the euro sign at 0x80 get it here.
            if (error == EILSEQ && static_cast<std::uint8_t>(*in) == kEuroByte) {
                text.push_back(kEuroSign);
                ++in;
                --inLeft;
                converter.reset();
                continue;
            }
            return false;
        }
        if (result != 0) return false;
    }
    return true;
}

// --- UTF-8 and UTF-16 writing --------------------------------------------------------------------

void putUtf8(ByteWriter& writer, char32_t codePoint) {
    if (codePoint < 0x80) {
        writer.u8(codePoint);
    } else if (codePoint < 0x800) {
        writer.u8(0xC0 | (codePoint >> 6));
        writer.u8(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        writer.u8(0xE0 | (codePoint >> 12));
        writer.u8(0x80 | ((codePoint >> 6) & 0x3F));
        writer.u8(0x80 | (codePoint & 0x3F));
    } else {
        writer.u8(0xF0 | (codePoint >> 18));
        writer.u8(0x80 | ((codePoint >> 12) & 0x3F));
        writer.u8(0x80 | ((codePoint >> 6) & 0x3F));
        writer.u8(0x80 | (codePoint & 0x3F));
    }
}

// Writes `text` as UTF-8; U+DC80..U+DCFF write the byte they carry. Returns the index of the first
// other lone surrogate, or kNone.
std::size_t encodeUtf8(std::u16string_view text, const LineEndPlan& lineEnds, ByteWriter& writer) {
    writer.bytes().reserve(writer.size() + text.size() + text.size() / 2);
    std::size_t line = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit == u'\n') {
            for (char16_t lineEndUnit : lineEnds.at(line++, text, i))
                writer.u8(lineEndUnit);
        } else if (!isSurrogate(unit)) {
            putUtf8(writer, unit);
        } else if (isHighSurrogate(unit) && i + 1 < text.size() && isLowSurrogate(text[i + 1])) {
            putUtf8(writer, combineSurrogates(unit, text[i + 1]));
            ++i;
        } else if (isByteEscape(unit)) {
            writer.u8(unit - 0xDC00);
        } else {
            return i;
        }
    }
    return kNone;
}

void encodeUtf16(std::u16string_view text, const LineEndPlan& lineEnds, ByteWriter& writer) {
    writer.bytes().reserve(writer.size() + text.size() * 2 + 2);
    std::size_t line = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (unit == u'\n') {
            for (char16_t lineEndUnit : lineEnds.at(line++, text, i))
                writer.u16(lineEndUnit);
        } else {
            writer.u16(unit);
        }
    }
}

// Why the character at `index` of `text` cannot be written in `encodingName`.
TextEncodeError unencodable(std::u16string_view text, std::size_t index, std::string_view encodingName) {
    TextEncodeError error;
    error.encodingName = encodingName;
    error.line = 1 + static_cast<int>(std::count(text.begin(), text.begin() + index, u'\n'));
    error.codePoint = text[index];
    std::size_t length = 1;
    if (isHighSurrogate(error.codePoint) && index + 1 < text.size() && isLowSurrogate(text[index + 1])) {
        error.codePoint = combineSurrogates(error.codePoint, text[index + 1]);
        length = 2;
    }
    if (isSurrogate(error.codePoint)) {
        error.kind = TextEncodeError::Kind::kUnpairedSurrogate;
    } else {
        error.kind = TextEncodeError::Kind::kUnencodable;
        error.character = utf16ToUtf8(text.substr(index, length));
    }
    return error;
}

}  // namespace

bool prefersUtf16(const std::filesystem::path& path) {
    const std::string extension = pathToUtf8(path.extension());
    constexpr std::string_view kIni = ".ini";
    return std::equal(extension.begin(), extension.end(), kIni.begin(), kIni.end(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

DecodedText DecodeTextFile(std::span<const std::byte> bytes, bool wide) {
    const ByteReader reader(bytes);
    DecodedText result;
    if (wide || reader.u16Or(0, 0) == 0xFEFF) {
        result.encoding = TextEncoding::kUtf16Le;
        result.bom = reader.u16Or(0, 0) == 0xFEFF;
        decodeUtf16(reader.from(result.bom ? 2 : 0).value_or(ByteReader{}), result.text,
                    result.oddTrailingByte);
    } else {
        result.bom = reader.u8Or(0, 0) == 0xEF && reader.u8Or(1, 0) == 0xBB && reader.u8Or(2, 0) == 0xBF;
        const std::size_t stop = decodeUtf8(reader, result.bom ? 3 : 0, false, result.text);
        if (stop < reader.size()) {
            // Not UTF-8. Without a byte-order mark, text that round-trips through code page 936 is
            // read as such; anything else stays UTF-8 with its invalid bytes carried as escapes.
            std::u16string cp936Text;
            if (!result.bom && readsAsCp936(bytes, cp936Text)) {
                result.text = std::move(cp936Text);
                result.encoding = TextEncoding::kCp936;
            } else {
                decodeUtf8(reader, stop, true, result.text);
                result.encoding = TextEncoding::kUtf8Escaped;
            }
        }
    }
    result.binary = looksBinary(result.text);
    result.lineEnd = normaliseLineEnds(result.text, result.lineEnds);
    return result;
}

std::optional<TextEncodeError> EncodeTextFile(std::u16string_view text, const DecodedText& format,
                                              std::vector<std::byte>& out) {
    const LineEndPlan lineEnd{lineEndUnits(format.lineEnd), format.lineEnds};
    ByteWriter writer;
    std::size_t failed = kNone;
    std::string_view encodingName = "UTF-8";
    switch (format.encoding) {
        case TextEncoding::kUtf16Le:
            if (format.bom) writer.u16(0xFEFF);
            encodeUtf16(text, lineEnd, writer);
            if (format.oddTrailingByte) writer.u8(std::to_integer<std::uint32_t>(*format.oddTrailingByte));
            break;
        case TextEncoding::kCp936:
            encodingName = "GBK/CP936";
            if (!cp936Encoder().valid())
                return TextEncodeError{.kind = TextEncodeError::Kind::kNoConverter,
                                       .encodingName = encodingName};
            failed = encodeCp936(text, lineEnd, writer.bytes());
            break;
        case TextEncoding::kUtf8:
        case TextEncoding::kUtf8Escaped:
            if (format.bom) {
                writer.u8(0xEF);
                writer.u8(0xBB);
                writer.u8(0xBF);
            }
            failed = encodeUtf8(text, lineEnd, writer);
            break;
    }
    if (failed != kNone) return unencodable(text, failed, encodingName);
    out = std::move(writer.bytes());
    return std::nullopt;
}

namespace {

using Lines = std::vector<std::u16string_view>;

Lines splitLines(std::u16string_view text) {
    Lines lines;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(u'\n', start);
        if (end == kNone) {
            lines.push_back(text.substr(start));
            return lines;
        }
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
}

// Beyond this many inserted and deleted lines between the common start and end of two texts, the
// changed lines are paired by position instead of by a diff (whose trace grows with its square).
constexpr int kMaxDiffEdits = 1000;

// A shortest edit script between a[0, n) and b[0, m) (Myers' algorithm): sets matchOf[j] to the line
// of `a` that line j of `b` is, for every line the script keeps. False when it needs more than
// kMaxDiffEdits edits.
bool diffLines(std::span<const std::u16string_view> a, std::span<const std::u16string_view> b,
               std::span<std::ptrdiff_t> matchOf) {
    const int n = static_cast<int>(a.size());
    const int m = static_cast<int>(b.size());
    const int limit = std::min(n + m, kMaxDiffEdits);
    // v[offset + k]: the furthest x reached on diagonal k = x - y; trace[d] keeps v[-d..d] after step d.
    const int offset = limit + 1;
    std::vector<int> v(static_cast<std::size_t>(2 * limit + 3), 0);
    std::vector<std::vector<int>> trace;
    auto at = [&](int k) -> int& {
        const int index = offset + k;  // never negative: |k| <= limit < offset
        return v[static_cast<std::size_t>(index)];
    };
    int found = -1;
    for (int d = 0; d <= limit && found < 0; ++d) {
        for (int k = -d; k <= d; k += 2) {
            int x = (k == -d || (k != d && at(k - 1) < at(k + 1))) ? at(k + 1) : at(k - 1) + 1;
            int y = x - k;
            while (x < n && y < m && a[static_cast<std::size_t>(x)] == b[static_cast<std::size_t>(y)]) {
                ++x;
                ++y;
            }
            at(k) = x;
            if (x >= n && y >= m) {
                found = d;
                break;
            }
        }
        trace.emplace_back(v.begin() + (offset - d), v.begin() + (offset + d + 1));
    }
    if (found < 0) return false;
    int x = n;
    int y = m;
    auto keepDiagonal = [&](int stopX, int stopY) {
        while (x > stopX && y > stopY) {
            --x;
            --y;
            matchOf[static_cast<std::size_t>(y)] = x;
        }
    };
    for (int d = found; d > 0; --d) {
        const std::vector<int>& previous = trace[static_cast<std::size_t>(d - 1)];
        auto before = [&](int k) { return previous[static_cast<std::size_t>(k + d - 1)]; };
        const int k = x - y;
        const int previousK = (k == -d || (k != d && before(k - 1) < before(k + 1))) ? k + 1 : k - 1;
        const int previousX = before(previousK);
        const int previousY = previousX - previousK;
        keepDiagonal(previousX, previousY);
        x = previousX;
        y = previousY;
    }
    keepDiagonal(0, 0);
    return true;
}

}  // namespace

std::vector<LineEnd> LineEndsAfterEdit(std::u16string_view before, const DecodedText& format,
                                       std::u16string_view after) {
    std::vector<LineEnd> ends;
    if (format.lineEnds.empty()) return ends;
    const Lines a = splitLines(before);
    const Lines b = splitLines(after);
    // The end of line i of `before`; its last line has none, and a line placed after it gets the
    // dominant one.
    auto endOf = [&](std::size_t i) {
        return i < format.lineEnds.size() ? format.lineEnds[i] : format.lineEnd;
    };

    // Lines the edit left in place: the common start and end, and a diff of what lies between.
    std::vector<std::ptrdiff_t> matchOf(b.size(), -1);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head]) {
        matchOf[head] = static_cast<std::ptrdiff_t>(head);
        ++head;
    }
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head &&
           a[a.size() - 1 - tail] == b[b.size() - 1 - tail]) {
        matchOf[b.size() - 1 - tail] = static_cast<std::ptrdiff_t>(a.size() - 1 - tail);
        ++tail;
    }
    const std::span<const std::u16string_view> middleA(a.data() + head, a.size() - head - tail);
    const std::span<const std::u16string_view> middleB(b.data() + head, b.size() - head - tail);
    std::vector<std::ptrdiff_t> middleMatch(middleB.size(), -1);
    if (diffLines(middleA, middleB, middleMatch)) {
        for (std::size_t j = 0; j < middleMatch.size(); ++j) {
            if (middleMatch[j] >= 0) matchOf[head + j] = static_cast<std::ptrdiff_t>(head) + middleMatch[j];
        }
    }

    // Every line but the last has an end. Changed lines between two kept ones take the ends of the
    // lines they replaced in order, except that the last of them takes the last one's: a line split
    // in two keeps its end after the second half, and the new break is the dominant one.
    ends.assign(b.size() - 1, format.lineEnd);
    std::size_t j = 0;
    std::size_t nextA = 0;  // the first line of `before` after the last kept one
    while (j + 1 < b.size()) {
        if (matchOf[j] >= 0) {
            ends[j] = endOf(static_cast<std::size_t>(matchOf[j]));
            nextA = static_cast<std::size_t>(matchOf[j]) + 1;
            ++j;
            continue;
        }
        std::size_t stop = j;
        while (stop < b.size() && matchOf[stop] < 0)
            ++stop;
        const std::size_t stopA = stop < b.size() ? static_cast<std::size_t>(matchOf[stop]) : a.size();
        const std::size_t replaced = stopA - nextA;
        const std::size_t changed = stop - j;
        for (std::size_t t = 0; t < changed && j + t + 1 < b.size(); ++t) {
            if (replaced > 0 && t + 1 == changed) {
                ends[j + t] = endOf(nextA + replaced - 1);
            } else if (t + 1 < replaced) {
                ends[j + t] = endOf(nextA + t);
            }
        }
        j = stop;
        nextA = stopA;
    }
    if (std::all_of(ends.begin(), ends.end(), [&](LineEnd end) { return end == format.lineEnd; }))
        ends.clear();
    return ends;
}

}  // namespace kestrel
