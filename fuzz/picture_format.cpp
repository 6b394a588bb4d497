// Tells the format of arbitrary bytes taken as the start of a file. The first eight bytes are the
// file's size (little-endian); the rest is its start. A BMP must say "BM" and have its pixels after
// its headers and within the file; the answer must not depend on bytes after the first 64.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/images/picture_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 8) return 0;
    std::uint64_t fileSize = 0;
    for (int i = 0; i < 8; ++i)
        fileSize |= std::uint64_t{data[i]} << (8 * i);
    const kestrel::Bytes head(reinterpret_cast<const std::byte*>(data) + 8, size - 8);
    const kestrel::PictureFormat format = kestrel::pictureFormatOf(head, fileSize);
    if (format == kestrel::PictureFormat::kBmp) {
        const kestrel::ByteReader reader(head);
        if (head.size() < 18 || head[0] != std::byte{'B'} || head[1] != std::byte{'M'}) std::abort();
        if (reader.u32Or(10, 0) > fileSize || reader.u32Or(10, 0) < 14u + reader.u32Or(14, 0)) std::abort();
    }
    if (head.size() > 64 && kestrel::pictureFormatOf(head.first(64), fileSize) != format) std::abort();
    return 0;
}
