// Fuzzes the text-file codec. The first byte chooses; the rest is the input.
//   bit 0: the file is read as wide (an .ini file);
//   bit 1 clear: the input is a file. Decoding and writing back never fail and give the file back
//     byte for byte, whatever its line ends; an edit (a piece of the text cut out) keeps one line end
//     per line, and in UTF-16 reads back as the edited text;
//   bit 1 set: the input is UTF-16LE text, written in every encoding with the byte-order mark, line
//     end and odd byte that bits 2..5 choose. Nothing crashes; UTF-16 always succeeds; every failure
//     names a line of the text and leaves the output empty; whatever UTF-16 or UTF-8 writes reads back as the
//     same text when that text has no CR, no byte escapes and no leading U+FEFF (all of which the reader
//     takes otherwise).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/text_file.h"

namespace {

using kestrel::DecodedText;
using kestrel::DecodeTextFile;
using kestrel::EncodeTextFile;
using kestrel::LineEnd;
using kestrel::LineEndsAfterEdit;
using kestrel::TextEncoding;

void check(bool condition) {
    if (!condition) std::abort();
}

void checkFile(std::span<const std::byte> bytes, bool wide) {
    const DecodedText decoded = DecodeTextFile(bytes, wide);
    std::vector<std::byte> out;
    check(!EncodeTextFile(decoded.text, decoded, out));
    check(std::equal(out.begin(), out.end(), bytes.begin(), bytes.end()));
    check(DecodeTextFile(out, wide) == decoded);

    // The middle third cut out, as an edit would.
    const std::size_t third = decoded.text.size() / 3;
    const std::u16string edited = decoded.text.substr(0, third) + decoded.text.substr(2 * third);
    DecodedText format = decoded;
    format.lineEnds = LineEndsAfterEdit(decoded.text, decoded, edited);
    check(format.lineEnds.empty() || format.lineEnds.size() == static_cast<std::size_t>(std::count(
                                                                   edited.begin(), edited.end(), u'\n')));
    const bool written = !EncodeTextFile(edited, format, out);
    if (written && decoded.encoding == TextEncoding::kUtf16Le)
        check(DecodeTextFile(out, wide).text == edited);
}

void checkText(std::span<const std::byte> bytes, unsigned choice) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(std::to_integer<unsigned>(bytes[i]) |
                                             (std::to_integer<unsigned>(bytes[i + 1]) << 8)));
    bool readsBack = text.empty() || text.front() != u'\xFEFF';
    for (char16_t unit : text)
        readsBack = readsBack && unit != u'\r' && (unit < 0xDC80 || unit > 0xDCFF);

    DecodedText format;
    format.bom = (choice & 4) != 0;
    format.lineEnd = (choice & 8) != 0 ? LineEnd::kLf : (choice & 16) != 0 ? LineEnd::kCr : LineEnd::kCrLf;
    if ((choice & 32) != 0) format.oddTrailingByte = std::byte{0x5A};
    for (TextEncoding encoding :
         {TextEncoding::kUtf16Le, TextEncoding::kUtf8, TextEncoding::kUtf8Escaped, TextEncoding::kCp936}) {
        format.encoding = encoding;
        std::vector<std::byte> out;
        const auto failure = EncodeTextFile(text, format, out);
        const bool written = !failure;
        if (encoding == TextEncoding::kUtf16Le) check(written);
        if (failure && failure->kind != kestrel::TextEncodeError::Kind::kNoConverter) {
            const auto lines = 1 + std::count(text.begin(), text.end(), u'\n');
            check(failure->line >= 1 && failure->line <= lines && out.empty());
        }
        if (!written || !readsBack || encoding == TextEncoding::kCp936) continue;
        check(DecodeTextFile(out, encoding == TextEncoding::kUtf16Le).text == text);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::span<const std::byte> input(reinterpret_cast<const std::byte*>(data) + 1, size - 1);
    const bool wide = (data[0] & 1) != 0;
    if ((data[0] & 2) == 0) {
        checkFile(input, wide);
    } else {
        checkText(input, data[0]);
    }
    return 0;
}
