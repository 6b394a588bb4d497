#include "core/images/avi_reader.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <new>
#include <optional>

#include "core/images/image_record.h"

namespace kestrel {

namespace {

constexpr std::uint32_t fourcc(const char (&text)[5]) {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[0])) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[1])) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[2])) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(text[3])) << 24);
}

constexpr std::uint32_t kRiffId = fourcc("RIFF");
constexpr std::uint32_t kListId = fourcc("LIST");
constexpr std::uint32_t kAviForm = fourcc("AVI ");
constexpr std::uint32_t kHeaderList = fourcc("hdrl");
constexpr std::uint32_t kMainHeader = fourcc("avih");
constexpr std::uint32_t kStreamList = fourcc("strl");
constexpr std::uint32_t kStreamHeader = fourcc("strh");
constexpr std::uint32_t kStreamFormat = fourcc("strf");
constexpr std::uint32_t kMovieList = fourcc("movi");
constexpr std::uint32_t kRecordList = fourcc("rec ");
constexpr std::uint32_t kVideoStream = fourcc("vids");

// RIFF → movi → rec → rec: deeper lists are refused, so that hostile nesting cannot exhaust the
// stack.
constexpr int kMaxListDepth = 4;
// Chunks visited in one file; every chunk takes at least 8 bytes, this only bounds the work of
// a file made of nothing but empty chunks.
constexpr std::size_t kMaxChunks = std::size_t{1} << 20;
// Frame chunk IDs carry the stream number in two decimal digits.
constexpr std::uint32_t kMaxStreams = 100;
constexpr std::uint32_t kMovieBlack = 0xFF000000u;

struct Chunk {
    std::uint32_t id = 0;
    ByteReader data;

    bool isList(std::uint32_t form) const { return id == kListId && data.u32(0) == form; }
    // The chunks of a list, after its form type (only for a chunk that isList).
    ByteReader listBody() const { return *data.from(4); }
};

// Calls visit(chunk) for each chunk of a list body, in order, until one fails. A chunk is a fourcc
// ID, a 32-bit size and that many bytes, then a pad byte when the size is odd (the pad of the last
// chunk may be missing). A chunk header or data cut off by the end of the list fails the walk.
template <typename Visit>
HResult forEachChunk(ByteReader body, std::size_t& chunkBudget, Visit&& visit) {
    std::uint64_t offset = 0;
    while (offset < body.size()) {
        const auto id = body.u32(offset);
        const auto size = body.u32(offset + 4);
        if (!id || !size) return kFail;
        const auto data = body.slice(offset + 8, *size);
        if (!data || chunkBudget == 0) return kFail;
        --chunkBudget;
        if (HResult hr = visit(Chunk{*id, *data}); hr.failed()) return hr;
        offset += 8 + std::uint64_t{*size} + (*size & 1);
    }
    return kOk;
}

struct VideoFormat {
    std::int32_t width = 0;
    std::int32_t height = 0;
    bool topDown = false;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = kBiRgb;
    std::array<std::uint32_t, 256> palette{};  // 0xAARRGGBB; black beyond the stored entries
    std::uint32_t frameId = 0;                 // "##db": uncompressed frames of the stream
    std::uint32_t compressedFrameId = 0;       // "##dc"
};

bool isUncompressedBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// The stream format of a video stream is a bitmap information header (read by the one DIB header
// reader) followed by the colour table (blue, green, red, reserved) for 8 bits and fewer. A table
// cut short by the end of the chunk keeps the entries that are there.
HResult readVideoFormat(const ByteReader& strf, VideoFormat& format) {
    const DibHeader header = readDibHeader(strf.bytes());
    if (header.headerSize < kDibInfoHeaderSize || header.headerSize > kDibMaxHeaderSize ||
        !strf.contains(0, header.headerSize))
        return kFail;
    const std::int64_t width = header.width;
    std::int64_t height = header.height;
    format.bitCount = header.bitCount;
    format.compression = header.compression;
    const std::uint32_t colorsUsed = header.colorsUsed;

    if (format.compression == kBiRgb) {
        if (!isUncompressedBitCount(format.bitCount)) return kInvalidArg;
    } else if (format.compression == kBiRle8) {
        if (format.bitCount != 8 || height < 0) return kInvalidArg;
    } else {
        return kFail;  // another codec
    }
    if (height < 0) {
        height = -height;
        format.topDown = true;
    }
    if (width <= 0 || width > kMaxAviDimension || height == 0 || height > kMaxAviDimension)
        return kInvalidArg;
    format.width = static_cast<std::int32_t>(width);
    format.height = static_cast<std::int32_t>(height);

    format.palette.fill(kMovieBlack);
    if (format.bitCount <= 8) {
        const std::uint64_t addressable = std::uint64_t{1} << format.bitCount;
        const std::uint64_t declared = colorsUsed != 0 ? colorsUsed : addressable;
        const std::uint64_t stored = (strf.size() - header.headerSize) / 4;
        const auto entries = static_cast<std::size_t>(std::min({declared, addressable, stored}));
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint64_t at = header.headerSize + 4 * std::uint64_t{i};
            format.palette[i] = kMovieBlack | (std::uint32_t{*strf.u8(at + 2)} << 16) |
                                (std::uint32_t{*strf.u8(at + 1)} << 8) | *strf.u8(at);
        }
    }
    return kOk;
}

std::uint32_t frameChunkId(std::uint32_t stream, char first, char second) {
    return static_cast<std::uint32_t>('0' + stream / 10) |
           (static_cast<std::uint32_t>('0' + stream % 10) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(first)) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(second)) << 24);
}

// A stream list holds the stream header ('strh', its type first) and the stream format ('strf').
// Sets `isVideo` for a video stream and reads its format; a video stream whose format we cannot
// read fails.
HResult readStreamList(ByteReader strl, std::size_t& chunkBudget, VideoFormat& format, bool& isVideo) {
    std::optional<ByteReader> header;
    std::optional<ByteReader> streamFormat;
    HResult hr = forEachChunk(strl, chunkBudget, [&](const Chunk& chunk) {
        if (chunk.id == kStreamHeader && !header) header = chunk.data;
        if (chunk.id == kStreamFormat && !streamFormat) streamFormat = chunk.data;
        return kOk;
    });
    if (hr.failed()) return hr;
    isVideo = header && header->u32(0) == kVideoStream;
    if (!isVideo) return kOk;
    if (!streamFormat) return kFail;
    return readVideoFormat(*streamFormat, format);
}

// The header list: the main header ('avih', the time per frame in microseconds first) and one
// stream list per stream, numbered in order. The first video stream is the one we play.
HResult readHeaderList(ByteReader hdrl, std::size_t& chunkBudget, AviMovie& movie, VideoFormat& format) {
    std::uint32_t streamCount = 0;
    bool found = false;
    HResult hr = forEachChunk(hdrl, chunkBudget, [&](const Chunk& chunk) -> HResult {
        if (chunk.id == kMainHeader) {
            movie.frameMicroseconds = chunk.data.u32Or(0, 0);
            return kOk;
        }
        if (!chunk.isList(kStreamList)) return kOk;
        const std::uint32_t stream = streamCount++;
        if (found || stream >= kMaxStreams) return kOk;
        if (HResult streamHr = readStreamList(chunk.listBody(), chunkBudget, format, found);
            streamHr.failed())
            return streamHr;
        if (found) {
            format.frameId = frameChunkId(stream, 'd', 'b');
            format.compressedFrameId = frameChunkId(stream, 'd', 'c');
        }
        return kOk;
    });
    if (hr.failed()) return hr;
    return found ? kOk : kFail;
}

// Paints a whole uncompressed frame. Rows are stored bottom-up unless the format says top-down,
// each padded to four bytes.
HResult decodeUncompressedFrame(const VideoFormat& format, const ByteReader& frame,
                                std::vector<std::uint32_t>& canvas) {
    const auto width = static_cast<std::size_t>(format.width);
    const auto height = static_cast<std::size_t>(format.height);
    const std::uint64_t rowBytes = storedRowBytes(width, format.bitCount);
    if (height > frame.size() / rowBytes) return kFail;
    const std::uint32_t bits = format.bitCount;
    // 5-5-5 pixels: each 5-bit value spread over 8 bits.
    const auto expand = [](std::uint32_t five) { return (five << 3) | (five >> 2); };
    for (std::size_t y = 0; y < height; ++y) {
        const std::size_t storedRow = format.topDown ? y : height - 1 - y;
        const Bytes row = *frame.span(storedRow * rowBytes, rowBytes);
        const auto byteAt = [&row](std::size_t i) { return std::to_integer<std::uint32_t>(row[i]); };
        const std::size_t out = y * width;
        for (std::size_t x = 0; x < width; ++x) {
            if (bits <= 8) {
                const std::size_t bitOffset = x * bits;
                const std::uint32_t shift = 8 - bits - static_cast<std::uint32_t>(bitOffset % 8);
                canvas[out + x] = format.palette[(byteAt(bitOffset / 8) >> shift) & ((1u << bits) - 1)];
            } else if (bits == 16) {
                const std::uint32_t value = byteAt(2 * x) | (byteAt(2 * x + 1) << 8);
                canvas[out + x] = kMovieBlack | (expand((value >> 10) & 31) << 16) |
                                  (expand((value >> 5) & 31) << 8) | expand(value & 31);
            } else {
                const std::size_t at = x * (bits / 8);
                canvas[out + x] = kMovieBlack | (byteAt(at + 2) << 16) | (byteAt(at + 1) << 8) | byteAt(at);
            }
        }
    }
    return kOk;
}

// RLE8, rows bottom-up, in pairs of bytes: (n > 0, index) paints n pixels; (0, 0) ends the row;
// (0, 1) ends the picture; (0, 2) is followed by dx, dy and moves right and up; (0, n ≥ 3) is
// followed by n indices, padded to an even count. Pixels that the frame does not name keep their
// colour from the previous frame: that is how AVI files store only what changed. Runs are clipped
// at the right edge; data that ends early ends the frame.
void decodeRle8Frame(const VideoFormat& format, const ByteReader& frame, std::vector<std::uint32_t>& canvas) {
    const auto width = static_cast<std::uint64_t>(format.width);
    const auto height = static_cast<std::uint64_t>(format.height);
    std::uint64_t x = 0;
    std::uint64_t y = 0;  // from the bottom
    std::uint64_t at = 0;
    const auto rowStart = [&] { return static_cast<std::size_t>((height - 1 - y) * width); };
    while (y < height) {
        const auto count = frame.u8(at);
        const auto value = frame.u8(at + 1);
        if (!count || !value) return;
        at += 2;
        if (*count > 0) {
            const std::uint64_t end = std::min(x + *count, width);
            if (x < end) {
                std::fill(canvas.begin() + static_cast<std::ptrdiff_t>(rowStart() + x),
                          canvas.begin() + static_cast<std::ptrdiff_t>(rowStart() + end),
                          format.palette[*value]);
            }
            x += *count;
        } else if (*value == 0) {
            x = 0;
            ++y;
        } else if (*value == 1) {
            return;
        } else if (*value == 2) {
            const auto dx = frame.u8(at);
            const auto dy = frame.u8(at + 1);
            if (!dx || !dy) return;
            at += 2;
            x += *dx;
            y += *dy;
        } else {
            const std::uint64_t literals = *value;
            for (std::uint64_t i = 0; i < literals; ++i, ++x) {
                const auto index = frame.u8(at + i);
                if (!index) return;
                if (x < width) canvas[rowStart() + static_cast<std::size_t>(x)] = format.palette[*index];
            }
            at += literals + (literals & 1);
        }
    }
}

class FrameDecoder {
  public:
    FrameDecoder(const VideoFormat& format, std::vector<RgbaImage>& frames)
        : format_(format),
          frames_(frames),
          frameBytes_(std::uint64_t{4} * static_cast<std::uint64_t>(format.width) *
                      static_cast<std::uint64_t>(format.height)) {}

    bool isFrame(std::uint32_t id) const { return id == format_.frameId || id == format_.compressedFrameId; }

    // Decodes one frame chunk over the previous frame and keeps the result.
    HResult add(const ByteReader& data) {
        if (frames_.size() >= kMaxAviFrames || frameBytes_ > kMaxImageBytes - decodedBytes_)
            return kOutOfMemory;
        if (canvas_.empty()) canvas_.assign(static_cast<std::size_t>(frameBytes_ / 4), kMovieBlack);
        if (!data.empty()) {
            if (format_.compression == kBiRle8) {
                decodeRle8Frame(format_, data, canvas_);
            } else if (HResult hr = decodeUncompressedFrame(format_, data, canvas_); hr.failed()) {
                return hr;
            }
        }
        frames_.push_back(RgbaImage{format_.width, format_.height, canvas_});
        decodedBytes_ += frameBytes_;
        return kOk;
    }

  private:
    const VideoFormat& format_;
    std::vector<RgbaImage>& frames_;
    const std::uint64_t frameBytes_;
    std::uint64_t decodedBytes_ = 0;
    std::vector<std::uint32_t> canvas_;  // the frame being painted, top row first
};

// The movie list holds the frame chunks of every stream, possibly grouped in 'rec ' lists.
HResult readMovieList(ByteReader body, int depth, std::size_t& chunkBudget, FrameDecoder& decoder) {
    return forEachChunk(body, chunkBudget, [&](const Chunk& chunk) -> HResult {
        if (chunk.isList(kRecordList)) {
            if (depth >= kMaxListDepth) return kFail;
            return readMovieList(chunk.listBody(), depth + 1, chunkBudget, decoder);
        }
        return decoder.isFrame(chunk.id) ? decoder.add(chunk.data) : kOk;
    });
}

// RIFF 'AVI ': the header list, then the movie list; the index ('idx1'), 'JUNK' and anything
// else are skipped.
HResult readAvi(Bytes file, AviMovie& movie) {
    const ByteReader reader(file);
    const auto riffSize = reader.u32(4);
    if (reader.u32(0) != kRiffId || !riffSize || reader.u32(8) != kAviForm || *riffSize < 4) return kFail;
    const auto riff = reader.slice(12, *riffSize - 4);
    if (!riff) return kFail;

    std::size_t chunkBudget = kMaxChunks;
    std::optional<ByteReader> headerList;
    std::optional<ByteReader> movieList;
    HResult hr = forEachChunk(*riff, chunkBudget, [&](const Chunk& chunk) {
        if (chunk.isList(kHeaderList) && !headerList) headerList = chunk.listBody();
        if (chunk.isList(kMovieList) && !movieList) movieList = chunk.listBody();
        return kOk;
    });
    if (hr.failed()) return hr;
    if (!headerList || !movieList) return kFail;

    VideoFormat format;
    if (hr = readHeaderList(*headerList, chunkBudget, movie, format); hr.failed()) return hr;
    FrameDecoder decoder(format, movie.frames);
    constexpr int kMovieListDepth = 2;  // inside the RIFF chunk
    if (hr = readMovieList(*movieList, kMovieListDepth, chunkBudget, decoder); hr.failed()) return hr;
    if (movie.frames.empty()) return kFail;
    movie.width = format.width;
    movie.height = format.height;
    return kOk;
}

}  // namespace

HResult ReadAvi(Bytes file, AviMovie& movie) {
    movie = AviMovie{};
    HResult hr = kOk;
    try {
        hr = readAvi(file, movie);
    } catch (const std::bad_alloc&) {
        hr = kOutOfMemory;
    }
    if (hr.failed()) movie = AviMovie{};
    return hr;
}

}  // namespace kestrel
