// PNG reading and writing (libpng 1.6), BMP files and packed DIBs made from image records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

#include "core/images/image_record.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// The eight bytes every PNG stream starts with.
inline constexpr std::size_t kPngSignatureSize = 8;
// Some picture files (PNG and BMP alike) carry a 128-byte prefix before their signature; the
// readers skip one, never two.
inline constexpr std::size_t kPictureFilePrefixSize = 128;

// True when `bytes` starts with the PNG signature. Every check for PNG data (PNG icon images, PNG
// files given as bitmaps) asks here.
bool HasPngSignature(Bytes bytes);

struct PngWriteSettings {
    int compressionLevel = 6;
    int interlace = 0;   // 0: none, 1: Adam7
    int filterMask = 0;  // 0 leaves the choice to libpng; otherwise passed to png_set_filter
};

// Encodes `record` as PNG into `out`: 24 bits as RGB, 32 bits as RGBA (the fourth byte becomes the
// alpha sample unchanged), 1/4/8 bits as a palette image of that bit depth. Failure (libpng error,
// a record it cannot express) gives E_FAIL or E_OUTOFMEMORY and leaves `out` empty.
HResult WritePng(const ImageRecord& record, std::vector<std::byte>& out,
                 const PngWriteSettings& settings = {});

// The file name of the other form of an image: `path` with its last three characters replaced by
// `extension` ("Bitmap00001.BMP" → "Bitmap00001.png"). Empty when the path is four characters or
// shorter or its last three characters are not ASCII.
std::filesystem::path replaceLastThree(const std::filesystem::path& path, std::string_view extension);

// The PNG and DIB codec. Files are written atomically: a failed write leaves no partial file and
// an existing file unchanged.
class PngConverter {
  public:
    PngConverter() = default;
    virtual ~PngConverter() = default;

    const PngWriteSettings& settings() const { return settings_; }

    // Decodes a PNG (optionally behind one 128-byte prefix). The record always comes out
    // bottom-up (topDown false):
    // - RGBA → 32 bits; RGB → 24 bits; both in blue, green, red[, alpha] order;
    // - grey+alpha, and any image with a tRNS chunk → 32 bits with the transparency as alpha;
    // - palette and grey images otherwise keep their bit depth (2 becomes 4, 16 becomes 8) with a
    //   palette of 2^bitDepth entries (grey images get an evenly spread grey ramp);
    // - 16-bit samples are stripped to 8; interlaced images are de-interlaced.
    // On failure (E_FAIL for bad data, E_OUTOFMEMORY, E_INVALIDARG for sizes beyond what the data
    // or kMaxImageBytes allows) the record is released.
    HResult ReadPng(Bytes png, ImageRecord& record) const;
    HResult ReadPngFile(const std::filesystem::path& path, ImageRecord& record) const;

    // A BMP file: the 54-byte header, the palette as (blue, green, red, 0), the rows bottom-up.
    HResult WriteBmp(const ImageRecord& record, std::vector<std::byte>& out) const;
    // Writes the file and releases the record in every case.
    HResult WriteBmpFile(const std::filesystem::path& path, ImageRecord& record) const;

    HResult WritePng(const ImageRecord& record, std::vector<std::byte>& out) const;
    // Writes the file and releases the record in every case.
    HResult WritePngFile(const std::filesystem::path& path, ImageRecord& record) const;

    // Reads replaceLastThree(bmpPath, "png") (bmpPath itself when it is four characters or
    // shorter) and writes it as a BMP file at bmpPath. Refused with E_INVALIDARG when both names
    // denote the same file, which would replace the PNG.
    HResult ConvertPngToBmp(const std::filesystem::path& bmpPath) const;

    // The BMP file bytes of a PNG, in memory; nothing is written.
    HResult ConvertPngToBmpBytes(Bytes png, std::vector<std::byte>& bmp) const;
    HResult ConvertPngFileToBmpBytes(const std::filesystem::path& pngPath, std::vector<std::byte>& bmp) const;

    // Reads the PNG named as for ConvertPngToBmp and makes a packed DIB of it.
    HResult LoadPngAsDib(const std::filesystem::path& path, std::vector<std::byte>& dib) const;

    // A packed DIB: 40-byte header (height positive, 3780 pixels per metre, colours used =
    // paletteCount), the palette as (blue, green, red, 0), the rows bottom-up.
    HResult ImageRecordToDib(const ImageRecord& record, std::vector<std::byte>& dib) const;

  private:
    PngWriteSettings settings_;
};

}  // namespace kestrel
