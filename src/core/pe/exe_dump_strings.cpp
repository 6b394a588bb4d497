// String tables on import: every block of type 6 becomes lines of STRINGS.XML.
#include "core/errors/errors.h"
#include "core/pe/exe_dump.h"
#include "core/pe/section_names.h"
#include "core/platform/text.h"

namespace kestrel {

namespace {

constexpr std::size_t kSlotsPerBlock = 16;

}  // namespace

// A block holds 16 counted UTF-16 strings (a 16-bit length, then the units). Slots missing at the
// end of a short block are empty. Bytes after the 16th slot (some linkers write a zero word there)
// are kept as the block's tail, in hex, for the description, so that the block compiles back as
// it was. A string that runs past the data fails the block. Strings in the language of the first block keep
// the plain line; other languages carry it in `L`.
HResult CExeDump::DumpStringBlock(Bytes data) {
    if (!switches_.strings) {
        lastWriteSize_ = 0;
        return kOk;
    }
    currentFileName_ = std::string(kStringsFileName);
    if (!defaultStringLanguage_) defaultStringLanguage_ = currentLanguage_;
    bool withLanguage = currentLanguage_ != *defaultStringLanguage_;

    ByteReader reader(data);
    std::string lines;
    HResult hr = kOk;
    std::uint64_t position = 0;
    stringTail_.clear();
    for (std::size_t slot = 0; slot < kSlotsPerBlock && position + 2 <= data.size(); ++slot) {
        std::uint16_t length = *reader.u16(position);
        position += 2;
        if (length == 0) continue;
        auto units = reader.slice(position, std::uint64_t{length} * 2);
        if (!units) {
            hr = kFail;
            break;
        }
        position += std::uint64_t{length} * 2;
        std::u16string text(length, u'\0');
        for (std::size_t i = 0; i < text.size(); ++i)
            text[i] = static_cast<char16_t>(*units->u16(i * 2));
        auto id = static_cast<std::int32_t>(stringBaseId_ + static_cast<std::uint32_t>(slot));
        appendStringsLine(lines, id, withLanguage ? std::optional(currentLanguage_) : std::nullopt,
                          utf16ToUtf8(text));
    }
    if (hr.failed()) {
        report(__LINE__, "未能写入 STRINGS.XML 错误  0x%.8x\n", {hr.value()});
        return hr;
    }
    static constexpr char kHex[] = "0123456789abcdef";
    for (std::uint64_t i = position; i < data.size(); ++i) {
        const auto byte = static_cast<unsigned>(data[static_cast<std::size_t>(i)]);
        stringTail_ += kHex[byte >> 4];
        stringTail_ += kHex[byte & 0xF];
    }
    if (!stringsStarted_) {
        strings_ = kStringsXmlHeader;
        stringsStarted_ = true;
    }
    strings_ += lines;
    lastWriteSize_ = lines.size();
    return kOk;
}

void appendStringsLine(std::string& out, std::int32_t id, std::optional<std::uint16_t> language,
                       std::string_view text) {
    if (language) {
        appendFormat(out, "  <E ID='%d' L='%d' S=\"", {id, *language});
    } else {
        appendFormat(out, "  <E ID='%d' S=\"", {id});
    }
    appendXmlEscaped(out, text);
    out += "\"/>\r\n";
}

// The file is written once, complete with its closing tag, when the walk is over.
HResult CExeDump::CloseStrings() {
    if (!switches_.strings || !stringsStarted_) return kOk;
    strings_ += kStringsXmlFooter;
    stringsStarted_ = false;
    if (memory_) {
        memory_->put(kStringsFileName, std::string_view(strings_));
        return kOk;
    }
    if (HResult hr = WriteFileAtomic(outputPath(kStringsFileName), std::string_view(strings_)); hr.failed()) {
        report(__LINE__, "未能写入 STRINGS.XML 错误  0x%.8x\n", {hr.value()});
        return hr;
    }
    return kOk;
}

}  // namespace kestrel
