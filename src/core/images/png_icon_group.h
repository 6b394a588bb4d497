// An icon file made from one square PNG picture: the sizes the system picks from for its views
// (256, 64, 48, 40, 32, 24, 20 and 16 pixels), resampled with a proper filter.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Largest first, the order the system expects in a group.
inline constexpr std::array<std::int32_t, 8> kPngIconSizes{256, 64, 48, 40, 32, 24, 20, 16};

// The .ico file of `png`, a square PNG of any size: one image per kPngIconSizes entry, in that
// order. The 256-pixel image is PNG (the given bytes themselves when the picture is 256 pixels
// square, else the resampled picture encoded anew); every other size is a 32-bit DIB (alpha in
// the fourth byte) followed by its AND mask, set where the picture is fully transparent. Resampling
// is alpha-weighted in sRGB space (Mitchell filter down, Catmull-Rom up).
// E_INVALIDARG when the PNG cannot be decoded or is not square; E_OUTOFMEMORY. Nothing is reported.
HResult MakeIconFileFromPng(Bytes png, std::vector<std::byte>& iconFile);

}  // namespace kestrel
