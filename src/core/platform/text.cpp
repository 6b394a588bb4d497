#include "core/platform/text.h"

#include <cerrno>
#include <cstdint>

#include "core/platform/iconv_compat.h"

namespace kestrel {

void appendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string utf16ToUtf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            char32_t low = text[++i];
            appendUtf8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
        } else {
            appendUtf8(out, unit);  // lone surrogates become WTF-8
        }
    }
    return out;
}

namespace {

// Decodes one WTF-8 sequence at `i`; returns false on malformed input. A high surrogate directly
// followed by a low surrogate is rejected: WTF-8 spells such a pair as one four-byte sequence.
bool decodeOne(std::string_view text, std::size_t& i, char32_t& cp) {
    auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
    std::uint8_t lead = byte(i);
    int length;
    if (lead < 0x80) {
        cp = lead;
        ++i;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
    } else {
        return false;
    }
    if (text.size() - i < static_cast<std::size_t>(length)) return false;
    for (int k = 1; k < length; ++k) {
        std::uint8_t next = byte(i + k);
        if ((next & 0xC0) != 0x80) return false;
        cp = (cp << 6) | (next & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return false;
    i += length;
    return true;
}

bool decodeWtf8(std::string_view text, std::u16string* out) {
    bool previousHigh = false;
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp;
        if (!decodeOne(text, i, cp)) return false;
        bool isHigh = cp >= 0xD800 && cp <= 0xDBFF;
        bool isLow = cp >= 0xDC00 && cp <= 0xDFFF;
        if (previousHigh && isLow) return false;
        previousHigh = isHigh;
        if (out == nullptr) continue;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out->push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out->push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out->push_back(static_cast<char16_t>(cp));
        }
    }
    return true;
}

class IconvHandle {
  public:
    IconvHandle(const char* to, const char* from) : handle_(iconv_open(to, from)) {}
    ~IconvHandle() {
        if (valid()) iconv_close(handle_);
    }
    IconvHandle(const IconvHandle&) = delete;
    IconvHandle& operator=(const IconvHandle&) = delete;
    // iconv_open reports failure as (iconv_t)-1.
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    bool valid() const { return handle_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return handle_; }

  private:
    iconv_t handle_;
};

}  // namespace

bool isWtf8(std::string_view text) {
    return decodeWtf8(text, nullptr);
}

std::u16string cp936ToUtf16(std::string_view text) {
    std::u16string out;
    // Opening a converter costs more than converting a name; each thread keeps one.
    thread_local IconvHandle converter("UTF-16LE", "CP936");
    if (converter.valid()) iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    if (!converter.valid()) {
        for (char c : text)
            out.push_back(static_cast<unsigned char>(c) < 0x80 ? static_cast<char16_t>(c) : u'\uFFFD');
        return out;
    }
    std::string input(text);
    char* in = input.data();
    std::size_t inLeft = input.size();
    std::string buffer(input.size() * 4 + 16, '\0');
    while (inLeft > 0) {
        char* outPtr = buffer.data();
        std::size_t outLeft = buffer.size();
        std::size_t result = iconv(converter.get(), &in, &inLeft, &outPtr, &outLeft);
        std::size_t produced = buffer.size() - outLeft;
        for (std::size_t k = 0; k + 1 < produced; k += 2)
            out.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[k]) |
                                                (static_cast<unsigned char>(buffer[k + 1]) << 8)));
        if (result == static_cast<std::size_t>(-1)) {
            if (errno == E2BIG) continue;
            // Invalid or incomplete sequence: replace one byte and go on. Windows' code page 936
            // has the euro sign at 0x80, which iconv's GBK tables lack.
            out.push_back(static_cast<unsigned char>(*in) == 0x80 ? u'\u20AC' : u'\uFFFD');
            ++in;
            --inLeft;
            iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
        }
    }
    return out;
}

std::u16string utf8ToUtf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    if (decodeWtf8(text, &out)) return out;
    return cp936ToUtf16(text);
}

std::string storedTextToUtf8(std::string_view text) {
    if (isWtf8(text)) return std::string(text);
    return utf16ToUtf8(cp936ToUtf16(text));
}

}  // namespace kestrel
