// Reading uncompressed BMP files into image records, and the BMP to PNG conversion the import runs
// on 32-bit bitmaps.
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/images/image_record.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Reasons the converter skips a file. Each is a format with one %s: the file's full path.
namespace bmp_skip {
inline constexpr std::string_view kCannotOpen = "跳过: 无着类文件或目录 - %s\n";
inline constexpr std::string_view kCannotCreate = "跳过: 无法建立 - %s\n";
inline constexpr std::string_view kOutOfMemory = "跳过: 内存溢出 - %s\n";
inline constexpr std::string_view kReadFailed = "跳过: 读取操作失败 - %s\n";
inline constexpr std::string_view kPrematureEnd = "跳过: Premature end of BMP file - %s\n";
inline constexpr std::string_view kNotBmp = "跳过: 不是 BMP 文件 - %s\n";
inline constexpr std::string_view kBadHeaderSize = "跳过: 无效头部大小位于 BMP 文件 - %s\n";
inline constexpr std::string_view kWidthBelowOne = "跳过: 无效的图象大小 (宽度小于一个) - %s\n";
inline constexpr std::string_view kHeightBelowOne = "跳过: 无效的图象大小 (高度小于一个) - %s\n";
inline constexpr std::string_view kBadImageSize = "跳过: 无效的图象大小 - %s\n";
inline constexpr std::string_view kCompressed = "跳过: 被压缩过或被分割过的 BMP - %s\n";
inline constexpr std::string_view k16Bits = "跳过: 16 或 32 位/像素 BMP - %s\n";
inline constexpr std::string_view kBadBitDepth = "跳过: 无效的位深度于 BMP 文件 - %s\n";
}  // namespace bmp_skip

// Progress lines; the %s is the file's base name.
namespace bmp_progress {
inline constexpr std::string_view kReading = "Reading %s";
inline constexpr std::string_view kReadOk = "Read OK %s";
inline constexpr std::string_view kWriting = "Writing %s";
inline constexpr std::string_view kWritten = "OK      %s";
}  // namespace bmp_progress

// The converter's log: a format (one of the texts above) and the name for its %s. The program
// installs none, so everything is discarded; tests may listen. Returns the previous hook.
using ConverterLogHook = std::function<void(std::string_view format, std::string_view name)>;
ConverterLogHook SetConverterLogHook(ConverterLogHook hook);

// Decodes a BMP file held in `data` (optionally behind one 128-byte prefix). On failure the record
// is released and `skipMessage`, when given, gets the reason (a bmp_skip text); the result is
// E_OUTOFMEMORY when the pixels could not be allocated, else E_FAIL. `displayName` is used for
// the "Read OK" line only.
HResult ReadBmp(std::string_view displayName, Bytes data, ImageRecord& record,
                std::string_view* skipMessage = nullptr);

// What a BMP file check found. `format` is empty when the file is a BMP file; otherwise it is a
// message with two %s: the file's shown name, then `found` (the format the file really has, the
// bytes it starts with, the header size or the pixel offset).
struct BmpFileCheck {
    std::string_view format;
    std::string found;
    bool ok() const { return format.empty(); }
};

// The file header of a BMP file: "BM" and room for the DIB header's size field after it. A caller
// that reads the pixels itself, as far as the file holds them, checks this much.
BmpFileCheck CheckBmpFileHeader(Bytes file);

// The one reader of BMP files for everything that turns one into a bitmap resource or works on
// its pixels: the 14-byte file header must start with "BM", the DIB after it must pass
// validateDib, and the pixels are taken from where the file header's pixel offset puts them.
// `dib` receives the packed DIB a bitmap resource holds: the bytes after the file header, with a
// gap between the colour table and the pixels closed up. `pixelOffset`, when given, receives the
// file offset of the pixels. A picture in another format (JPEG, PNG, GIF, ...) is named as such.
BmpFileCheck ReadBmpFileDib(Bytes file, std::vector<std::byte>& dib, std::uint64_t* pixelOffset = nullptr);

// ReadBmpFileDib without the copy where none is needed: `dib` views the bytes after the file
// header when the pixels follow the colour table directly, and `packed` then stays empty; with a
// gap, `packed` receives the packed DIB and `dib` views it.
BmpFileCheck ViewBmpFileDib(Bytes file, Bytes& dib, std::vector<std::byte>& packed,
                            std::uint64_t* pixelOffset = nullptr);

// Reads and decodes the file; failures are logged with the full path. kOk or E_FAIL.
HResult ReadBmpFile(const std::filesystem::path& path, ImageRecord& record);

// Encodes the record as PNG into `path` (atomically) with the progress lines, and releases the
// record in every case. kOk, or the failure; no partial file is ever left behind.
HResult WritePngFile(const std::filesystem::path& path, ImageRecord& record);

// Converts the BMP file at `path` into replaceLastThree(path, "png"). Fails (E_FAIL) when the BMP
// cannot be read or the PNG cannot be written, and with E_INVALIDARG when there is no output name
// (a path of four characters or fewer) or it names the input file itself. On failure nothing is
// created or changed at the output name.
HResult ConvertBmpToPng(const std::filesystem::path& path);

}  // namespace kestrel
