// Reads the small silent movies that programs keep as AVI resources (the animations of file-copy
// dialogs and the like) into decoded frames for the image pane to play.
#pragma once

#include <cstdint>
#include <vector>

#include "core/images/dib.h"
#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Largest frame width or height accepted.
inline constexpr std::int32_t kMaxAviDimension = 16384;
// Most frames one movie may hold, whatever their size.
inline constexpr std::size_t kMaxAviFrames = std::size_t{1} << 16;

struct AviMovie {
    std::uint32_t frameMicroseconds = 0;  // the main header's time per frame; 0 when it gives none
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::vector<RgbaImage> frames;  // every frame width × height, opaque
};

// Decodes the first video stream of a RIFF 'AVI ' file. Frames are uncompressed (1, 4 and 8 bits
// through the format's colour table, 16 bits 5-5-5, 24 and 32 bits; the fourth byte of a 32-bit
// pixel is ignored) or RLE8. Every frame starts from the one before it: an RLE8 frame paints only
// the pixels it encodes, and a frame chunk of size 0 repeats the previous frame; the first frame
// starts from black. Data after the RIFF chunk is ignored (resources are padded).
//
// Fails, leaving `movie` empty, with E_INVALIDARG when the video format's header is out of range
// (width or height not in 1..kMaxAviDimension, an impossible bit count), E_OUTOFMEMORY when the
// decoded frames together would exceed kMaxImageBytes or number more than kMaxAviFrames (the movie
// is refused rather than cut short), and E_FAIL when the file is not an AVI file, a chunk runs past
// its list or a frame is shorter than its format needs, lists nest too deep, there is no video
// stream or no frame, or the video uses another codec.
HResult ReadAvi(Bytes file, AviMovie& movie);

}  // namespace kestrel
