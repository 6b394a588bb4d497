// PNG-compressed icon images, written with libpng into memory.
#include <png.h>

#include <csetjmp>

#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {
namespace {

void appendToVector(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<ByteVector*>(png_get_io_ptr(png));
    const auto* bytes = reinterpret_cast<const std::byte*>(data);
    out->insert(out->end(), bytes, bytes + length);
}

void flushNothing(png_structp) {}

// The setjmp region owns nothing with a destructor: the rows and the output live in the caller.
bool writeRgbaPng(png_structp png, png_infop info, std::uint32_t size, png_bytepp rows, ByteVector* out) {
    if (setjmp(png_jmpbuf(png))) return false;
    png_set_write_fn(png, out, appendToVector, flushNothing);
    png_set_IHDR(png, info, size, size, 8, PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_rows(png, info, rows);
    png_write_png(png, info, PNG_TRANSFORM_IDENTITY, nullptr);
    return true;
}

}  // namespace

IconImage makePngIconImage(std::uint16_t size, std::uint32_t seed) {
    std::vector<std::vector<png_byte>> pixels(size, std::vector<png_byte>(4u * size));
    for (std::uint32_t y = 0; y < size; ++y) {
        for (std::uint32_t x = 0; x < size; ++x) {
            png_byte* pixel = &pixels[y][4 * x];
            pixel[0] = static_cast<png_byte>(x + seed);
            pixel[1] = static_cast<png_byte>(y);
            pixel[2] = static_cast<png_byte>((x ^ y) + seed * 7);
            // A disc on a transparent background, so the alpha channel matters.
            std::int64_t dx = 2 * static_cast<std::int64_t>(x) - size,
                         dy = 2 * static_cast<std::int64_t>(y) - size;
            pixel[3] = dx * dx + dy * dy < static_cast<std::int64_t>(size) * size ? 255 : 0;
        }
    }
    std::vector<png_bytep> rows;
    for (auto& row : pixels)
        rows.push_back(row.data());

    IconImage image;
    image.width = size;
    image.height = size;
    image.bitCount = 32;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    bool written = png && info && writeRgbaPng(png, info, size, rows.data(), &image.data);
    png_destroy_write_struct(&png, &info);
    if (!written) image.data.clear();
    return image;
}

}  // namespace kestrel::pebuilder
