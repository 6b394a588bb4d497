// The iconv interface for the code page 936 conversions of text.cpp and text_file.cpp. The C
// library's iconv where there is one; on Windows, which has none, the same calls for the two
// conversions the program makes (UTF-16LE from and to CP936), on the system's own code page 936.
#pragma once

#ifdef _WIN32
#include <cstddef>

namespace kestrel {

using iconv_t = void*;

// Only "UTF-16LE" ↔ "CP936"; anything else fails with (iconv_t)-1 and errno EINVAL.
iconv_t iconv_open(const char* to, const char* from);
// As iconv(3): EILSEQ at a sequence that cannot be converted (left unread), EINVAL at an incomplete
// one at the end of the input, E2BIG when the output is full. Null input starts anew.
std::size_t iconv(iconv_t converter, char** in, std::size_t* inLeft, char** out, std::size_t* outLeft);
int iconv_close(iconv_t converter);

}  // namespace kestrel
#else
#include <iconv.h>
#endif
