#ifdef _WIN32
#include <windows.h>

#include <cerrno>
#include <cstring>

#include "core/platform/iconv_compat.h"

namespace kestrel {

namespace {

constexpr UINT kCodePage936 = 936;

struct Conversion {
    bool decode;  // CP936 → UTF-16LE; otherwise UTF-16LE → CP936
};

Conversion decoding{true};
Conversion encoding{false};

std::size_t fail(int error) {
    errno = error;
    return static_cast<std::size_t>(-1);
}

bool isLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

}  // namespace

iconv_t iconv_open(const char* to, const char* from) {
    if (std::strcmp(to, "UTF-16LE") == 0 && std::strcmp(from, "CP936") == 0) return &decoding;
    if (std::strcmp(to, "CP936") == 0 && std::strcmp(from, "UTF-16LE") == 0) return &encoding;
    errno = EINVAL;
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<iconv_t>(-1);
}

int iconv_close(iconv_t) {
    return 0;
}

std::size_t iconv(iconv_t converter, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft) {
    // The conversions keep no state between calls: starting anew has nothing to reset.
    if (in == nullptr || *in == nullptr || inLeft == nullptr) return 0;
    const bool decode = static_cast<const Conversion*>(converter)->decode;
    while (*inLeft > 0) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(*in);
        if (decode) {
            const std::size_t length = isLeadByte(bytes[0]) ? 2 : 1;
            if (length > *inLeft) return fail(EINVAL);
            wchar_t unit = 0;
            if (bytes[0] < 0x80) {
                unit = bytes[0];
            } else if (::MultiByteToWideChar(kCodePage936, MB_ERR_INVALID_CHARS, *in,
                                             static_cast<int>(length), &unit, 1) != 1) {
                return fail(EILSEQ);
            }
            if (*outLeft < 2) return fail(E2BIG);
            (*out)[0] = static_cast<char>(unit & 0xFF);
            (*out)[1] = static_cast<char>((unit >> 8) & 0xFF);
            *out += 2;
            *outLeft -= 2;
            *in += length;
            *inLeft -= length;
            continue;
        }
        if (*inLeft < 2) return fail(EINVAL);
        const wchar_t unit = static_cast<wchar_t>(bytes[0] | (bytes[1] << 8));
        // Code page 936 holds nothing beyond U+FFFF, and a lone surrogate is no character.
        if (unit >= 0xD800 && unit <= 0xDFFF) return fail(EILSEQ);
        char encoded[4] = {};
        int length = 0;
        if (unit < 0x80) {
            encoded[0] = static_cast<char>(unit);
            length = 1;
        } else {
            BOOL usedDefault = FALSE;
            length = ::WideCharToMultiByte(kCodePage936, WC_NO_BEST_FIT_CHARS, &unit, 1, encoded,
                                           sizeof encoded, nullptr, &usedDefault);
            if (length <= 0 || usedDefault) return fail(EILSEQ);
        }
        if (*outLeft < static_cast<std::size_t>(length)) return fail(E2BIG);
        std::memcpy(*out, encoded, static_cast<std::size_t>(length));
        *out += length;
        *outLeft -= static_cast<std::size_t>(length);
        *in += 2;
        *inLeft -= 2;
    }
    return 0;
}

}  // namespace kestrel
#endif
