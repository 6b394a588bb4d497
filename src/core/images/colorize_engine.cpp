#include "core/images/colorize_engine.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <deque>
#include <future>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "ColorizeEngine";
// Commits of a folder run that may wait for the disk at the same time.
constexpr std::size_t kCommitsInFlight = 16;

struct PendingCommit {
    fs::path path;
    std::future<HResult> result;
};
// Table entries are limited so that three of them plus the rounding term cannot overflow 32 bits.
// Real weights (a few hundred percent at most) stay far below; beyond the limit every output is
// clamped to 0 or 255 anyway.
constexpr double kMixLimit = 1 << 28;
// Saturation amounts beyond ±511 push any channel out of 0 … 255 whatever their exact value.
constexpr double kSaturationLimit = 1 << 16;

std::int32_t truncateLimited(double value, double limit) {
    if (!(value == value)) return 0;  // NaN
    value = std::clamp(value, -limit, limit);
    return static_cast<std::int32_t>(value);
}

int clampByte(int value) {
    return value < 0 ? 0 : (value > 255 ? 255 : value);
}

// ----- Where the palette and the pixels of a DIB lie -----

enum class LayoutResult { kOk, kInvalid, kUnsupported };

struct PixelRegions {
    std::uint16_t bitCount = 0;
    std::uint64_t width = 0;
    std::uint64_t height = 0;          // rows of the colour image (|height|, halved for icons)
    std::uint64_t paletteOffset = 0;   // after the header and any bit masks
    std::uint64_t paletteEntries = 0;  // entries to recolour: at most 256, all inside the data
    unsigned paletteEntrySize = 4;     // 3 for the 12-byte core header
    std::uint64_t pixelOffset = 0;
    bool rgb565 = false;
};

// Reads the information header at `base`. `filePixelOffset` is a BMP file's pixel offset (relative
// to the same start as `base`); without it the pixels follow the palette directly, as in a packed DIB
// or an icon image. `icon`: the stored height counts the colour image and the mask.
LayoutResult locateDib(const ByteReader& reader, std::uint64_t base, bool icon,
                       std::optional<std::uint32_t> filePixelOffset, PixelRegions& out) {
    const auto dib = reader.from(base);
    if (!dib || !dib->contains(0, 4)) return LayoutResult::kInvalid;
    const DibHeader header = readDibHeader(dib->bytes());
    if (!header.core() && (header.headerSize < kDibInfoHeaderSize || header.headerSize > kDibMaxHeaderSize))
        return LayoutResult::kInvalid;
    if (!dib->contains(0, header.headerSize)) return LayoutResult::kInvalid;

    const std::int64_t width = header.width;
    std::int64_t height = header.height;
    if (width <= 0 || height == 0) return LayoutResult::kInvalid;
    if (height < 0) height = -height;  // top-down rows: same count
    if (icon) height /= 2;
    // JPEG or PNG data inside a BMP: the bytes are not pixels.
    if (header.compression == kBiJpeg || header.compression == kBiPng) return LayoutResult::kUnsupported;
    switch (header.bitCount) {
        case 0:
        case 1:
        case 2:
        case 4:
        case 8:
        case 16:
        case 24:
        case 32:
            break;
        default:
            return LayoutResult::kUnsupported;
    }

    // Palette images that claim bit fields have no masks: their colour table follows the header.
    const bool masked = header.bitCount == 16 || header.bitCount == 32;
    const std::uint64_t paletteOffset = base + header.headerSize + (masked ? header.maskBytes() : 0);
    if (paletteOffset > reader.size()) return LayoutResult::kInvalid;
    const unsigned entrySize = header.paletteEntrySize();
    const std::uint64_t tableEntries = header.paletteEntries();

    std::uint64_t pixelOffset = paletteOffset + tableEntries * entrySize;
    std::uint64_t paletteEntries = std::min<std::uint64_t>(tableEntries, 256);
    if (filePixelOffset) {
        if (*filePixelOffset < paletteOffset) return LayoutResult::kInvalid;  // pixels inside the header
        pixelOffset = *filePixelOffset;
        paletteEntries = std::min<std::uint64_t>(paletteEntries, (pixelOffset - paletteOffset) / entrySize);
    }
    paletteEntries = std::min<std::uint64_t>(paletteEntries, (reader.size() - paletteOffset) / entrySize);

    out.bitCount = header.bitCount;
    out.width = static_cast<std::uint64_t>(width);
    out.height = static_cast<std::uint64_t>(height);
    out.paletteOffset = paletteOffset;
    out.paletteEntries = paletteEntries;
    out.paletteEntrySize = entrySize;
    out.pixelOffset = pixelOffset;
    out.rgb565 = header.bitCount == 16 && header.compression == kBiBitfields && header.masks[1] == 0x07E0;
    return LayoutResult::kOk;
}

// Records the cause, then the file that could not be recoloured; the result is the cause.
HResult reportFailure(bool startNew, int line, HResult code, const fs::path& path) {
    const HResult cause = ReportError(startNew, kSource, line, code);
    const HResult named = ReportError(false, kSource, line, msg::kCannotEditImage, {pathToUtf8(path)});
    return named == kOutOfMemory ? named : cause;
}

// ----- Table forms shared by the kernel and the vector loops -----

// Packed lanes: for each input channel one 64-bit word holds its contributions to the three output
// channels in 21-bit lanes, each entry biased to be non-negative and the rounding term 50 folded in.
constexpr int kLaneBits = 21;
constexpr std::uint64_t kLaneMask = (std::uint64_t{1} << kLaneBits) - 1;
// Three biased entries stay below 3 · 2^19 < 2^21.
constexpr std::int32_t kLaneEntryLimit = 1 << 18;
constexpr std::int32_t kLaneBias = 3 * kLaneEntryLimit;

// The loops copy it into a local, so that the pixel stores (which may alias anything) do not make the
// compiler load the pointers again for every eight pixels.
struct LaneTables {
    const std::uint64_t* red;  // by input channel
    const std::uint64_t* green;
    const std::uint64_t* blue;
    const std::int32_t* saturation;  // indexed −255 … 255
    bool saturationOn;
};

// Sliced tables for the 64-pixel path: an output channel's three entries plus the rounding term 50
// are summed in 16 bits without changing any result.
// - Each table is shifted by its minimum, so that no entry is negative. The three minima plus 50 make
//   one constant per output: when positive it is added to the first input's entries; when negative
//   (the deficit) it is subtracted from the sum, saturating at 0 (a sum below 0 ends at 0 anyway).
// - An entry of 25500 + deficit or more makes the result 255 on its own, whatever the other two add,
//   so entries are limited to that, and the sums saturate at 65535: a saturated sum less the deficit
//   still reaches 25500 (255) while the deficit is at most 65535 − 25500.
// Every 16-bit entry is kept as two byte tables (low and high byte) of 256 entries.
//
// The saturation amounts are kept for distances 0 … 255, limited to ±256 (beyond, the channel ends
// at 0 or 255 anyway); a negative distance takes the negated amount of the positive one, as the
// engine's table always has it (checked).
constexpr std::int64_t kSlicedSumLimit = 25500;
constexpr std::int64_t kSlicedDeficitLimit = 65535 - kSlicedSumLimit;
constexpr std::int32_t kSlicedAmountLimit = 256;

struct SlicedTables {
    using ByteTable = std::array<std::uint8_t, 256>;
    alignas(64) std::array<std::array<ByteTable, 2>, ColorizeEngine::kMixTableCount> mix;  // low, high
    alignas(64) std::array<ByteTable, 2> saturation;  // by distance 0 … 255; low, high byte
    std::array<std::uint16_t, 3> deficit{};           // by output channel
    bool saturationOn = false;
};

// Fills `out` from the engine's tables; false when they do not fit the 16-bit form.
bool sliceTables(const std::array<ColorizeEngine::MixTable, ColorizeEngine::kMixTableCount>& mix,
                 const std::int32_t* saturation, bool saturationOn, SlicedTables& out) {
    for (std::size_t output = 0; output < 3; ++output) {
        std::int64_t minima[3];
        std::int64_t constant = 50;
        for (std::size_t input = 0; input < 3; ++input) {
            const auto& table = mix[3 * output + input];
            minima[input] = *std::min_element(table.begin(), table.end());
            constant += minima[input];
        }
        const std::int64_t deficit = constant < 0 ? -constant : 0;
        if (deficit > kSlicedDeficitLimit) return false;
        const std::int64_t limit = kSlicedSumLimit + deficit;
        for (std::size_t input = 0; input < 3; ++input) {
            const auto& table = mix[3 * output + input];
            auto& bytes = out.mix[3 * output + input];
            const std::int64_t added = input == 0 && constant > 0 ? constant : 0;
            for (std::size_t x = 0; x < 256; ++x) {
                const auto entry =
                    static_cast<std::uint16_t>(std::min(table[x] - minima[input] + added, limit));
                bytes[0][x] = static_cast<std::uint8_t>(entry & 0xFF);
                bytes[1][x] = static_cast<std::uint8_t>(entry >> 8);
            }
        }
        out.deficit[output] = static_cast<std::uint16_t>(deficit);
    }
    out.saturationOn = saturationOn;
    for (int distance = 0; distance < 256; ++distance) {
        if (saturationOn && distance > 0 && saturation[-distance] != -saturation[distance]) return false;
        const auto amount = static_cast<std::uint16_t>(
            std::clamp(saturation[distance], -kSlicedAmountLimit, kSlicedAmountLimit));
        out.saturation[0][static_cast<std::size_t>(distance)] = static_cast<std::uint8_t>(amount & 0xFF);
        out.saturation[1][static_cast<std::size_t>(distance)] = static_cast<std::uint8_t>(amount >> 8);
    }
    return true;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define KESTREL_COLORIZE_X86 1

#define KESTREL_AVX2 __attribute__((target("avx2")))
#define KESTREL_AVX512 __attribute__((target("avx2,avx512f,avx512bw,avx512vbmi")))

// ----- Eight pixels at a time (AVX2) -----

KESTREL_AVX2 __m256i gatherLanes(const std::uint64_t* table, __m128i index) {
    return _mm256_i32gather_epi64(reinterpret_cast<const long long*>(table), index, 8);
}

// The low 32 bits of the four 64-bit values of each argument, in pixel order.
KESTREL_AVX2 __m256i narrowLanes(__m256i low, __m256i high) {
    const __m256i lowDwords = _mm256_setr_epi32(0, 2, 4, 6, 1, 3, 5, 7);
    return _mm256_permute2x128_si256(_mm256_permutevar8x32_epi32(low, lowDwords),
                                     _mm256_permutevar8x32_epi32(high, lowDwords), 0x20);
}

// clampByte(n / 100) of the unbiased sums, as quotientByte in the kernel.
KESTREL_AVX2 __m256i quotientBytes(__m256i biasedSums) {
    const __m256i sums = _mm256_min_epi32(
        _mm256_max_epi32(_mm256_sub_epi32(biasedSums, _mm256_set1_epi32(kLaneBias)), _mm256_setzero_si256()),
        _mm256_set1_epi32(25599));
    return _mm256_srli_epi32(_mm256_mullo_epi32(sums, _mm256_set1_epi32(5243)), 19);
}

KESTREL_AVX2 __m256i moveFromLuminance(__m256i channel, __m256i luminance, const std::int32_t* saturation) {
    const __m256i amount = _mm256_i32gather_epi32(reinterpret_cast<const int*>(saturation),
                                                  _mm256_sub_epi32(channel, luminance), 4);
    return _mm256_min_epi32(_mm256_max_epi32(_mm256_sub_epi32(channel, amount), _mm256_setzero_si256()),
                            _mm256_set1_epi32(255));
}

// Eight colours 0x00RRGGBB to their results: the same packed lanes, limits and multiplications as
// the kernel's packed path, so the bytes are the same.
KESTREL_AVX2 __m256i mapEight(const LaneTables& tables, __m256i colours) {
    const __m256i byteMask = _mm256_set1_epi32(0xFF);
    const __m256i laneMask = _mm256_set1_epi64x(static_cast<std::int64_t>(kLaneMask));
    const __m256i blue = _mm256_and_si256(colours, byteMask);
    const __m256i green = _mm256_and_si256(_mm256_srli_epi32(colours, 8), byteMask);
    const __m256i red = _mm256_srli_epi32(colours, 16);
    const __m256i sumsLow =
        _mm256_add_epi64(_mm256_add_epi64(gatherLanes(tables.red, _mm256_castsi256_si128(red)),
                                          gatherLanes(tables.green, _mm256_castsi256_si128(green))),
                         gatherLanes(tables.blue, _mm256_castsi256_si128(blue)));
    const __m256i sumsHigh =
        _mm256_add_epi64(_mm256_add_epi64(gatherLanes(tables.red, _mm256_extracti128_si256(red, 1)),
                                          gatherLanes(tables.green, _mm256_extracti128_si256(green, 1))),
                         gatherLanes(tables.blue, _mm256_extracti128_si256(blue, 1)));
    __m256i r =
        quotientBytes(narrowLanes(_mm256_and_si256(sumsLow, laneMask), _mm256_and_si256(sumsHigh, laneMask)));
    __m256i g =
        quotientBytes(narrowLanes(_mm256_and_si256(_mm256_srli_epi64(sumsLow, kLaneBits), laneMask),
                                  _mm256_and_si256(_mm256_srli_epi64(sumsHigh, kLaneBits), laneMask)));
    __m256i b = quotientBytes(
        narrowLanes(_mm256_srli_epi64(sumsLow, 2 * kLaneBits), _mm256_srli_epi64(sumsHigh, 2 * kLaneBits)));
    if (tables.saturationOn) {
        const __m256i weighted = _mm256_add_epi32(
            _mm256_add_epi32(_mm256_mullo_epi32(r, _mm256_set1_epi32(25)),
                             _mm256_mullo_epi32(g, _mm256_set1_epi32(55))),
            _mm256_add_epi32(_mm256_mullo_epi32(b, _mm256_set1_epi32(20)), _mm256_set1_epi32(50)));
        const __m256i luminance =
            _mm256_srli_epi32(_mm256_mullo_epi32(weighted, _mm256_set1_epi32(5243)), 19);
        r = moveFromLuminance(r, luminance, tables.saturation);
        g = moveFromLuminance(g, luminance, tables.saturation);
        b = moveFromLuminance(b, luminance, tables.saturation);
    }
    return _mm256_or_si256(_mm256_slli_epi32(r, 16), _mm256_or_si256(_mm256_slli_epi32(g, 8), b));
}

// The last colour mapped and its result, in all eight lanes: eight pixels of that colour (flat areas
// of interface bitmaps) only take the result.
struct LastEight {
    __m256i colour, result;
};

KESTREL_AVX2 __m256i mapEightOrLast(const LaneTables& tables, __m256i colours, LastEight& last) {
    if (_mm256_movemask_epi8(_mm256_cmpeq_epi32(colours, last.colour)) == -1) return last.result;
    const __m256i results = mapEight(tables, colours);
    const __m256i lastLane = _mm256_set1_epi32(7);
    last.colour = _mm256_permutevar8x32_epi32(colours, lastLane);
    last.result = _mm256_permutevar8x32_epi32(results, lastLane);
    return results;
}

// 32-bit pixels, eight at a time; alpha is kept. Returns how many pixels it did (a multiple of 8);
// the caller does the rest.
KESTREL_AVX2 std::uint64_t recolor32Avx2(std::byte* pixels, std::uint64_t count, const LaneTables& shared) {
    const LaneTables tables = shared;
    const __m256i alphaMask = _mm256_set1_epi32(static_cast<int>(0xFF000000u));
    const __m256i colourMask = _mm256_set1_epi32(0xFFFFFF);
    LastEight last{_mm256_set1_epi32(-1), _mm256_setzero_si256()};  // no 24-bit colour is all ones
    std::uint64_t done = 0;
    for (; count - done >= 8; done += 8) {
        std::byte* at = pixels + done * 4;
        const __m256i px = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
        const __m256i results = mapEightOrLast(tables, _mm256_and_si256(px, colourMask), last);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(at),
                            _mm256_or_si256(_mm256_and_si256(px, alphaMask), results));
    }
    return done;
}

// 24-bit pixels (blue, green, red), eight at a time: exactly their 24 bytes are read and written.
// Pixels of the key colour keep it when `keyColourOn`. Returns how many pixels it did.
KESTREL_AVX2 std::uint64_t recolor24Avx2(std::byte* pixels, std::uint64_t count, const LaneTables& shared,
                                         bool keyColourOn, std::uint32_t keyColour) {
    const LaneTables tables = shared;
    // Bytes 0–11 to the low half, 12–23 to the high half, then each 3-byte pixel to a 32-bit lane;
    // and back.
    const __m256i spread = _mm256_setr_epi32(0, 1, 2, 2, 3, 4, 5, 5);
    const __m256i toLanes = _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                                             0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1);
    const __m256i fromLanes = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                                               0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i gather = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    const __m256i key = _mm256_set1_epi32(static_cast<int>(keyColour));
    LastEight last{_mm256_set1_epi32(-1), _mm256_setzero_si256()};
    std::uint64_t done = 0;
    for (; count - done >= 8; done += 8) {
        std::byte* at = pixels + done * 3;
        const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
        const __m128i high = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(at + 16));
        const __m256i bytes = _mm256_inserti128_si256(_mm256_castsi128_si256(low), high, 1);
        const __m256i colours = _mm256_shuffle_epi8(_mm256_permutevar8x32_epi32(bytes, spread), toLanes);
        __m256i results = mapEightOrLast(tables, colours, last);
        if (keyColourOn) results = _mm256_blendv_epi8(results, colours, _mm256_cmpeq_epi32(colours, key));
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(results, fromLanes), gather);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(at), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(at + 16), _mm256_extracti128_si256(packed, 1));
    }
    return done;
}

// ----- 64 pixels at a time (AVX-512 with byte permutes) -----

using ByteIndex = std::array<std::uint8_t, 64>;

template <typename F>
constexpr ByteIndex makeIndex(F byteAt) {
    ByteIndex index{};
    for (unsigned i = 0; i < 64; ++i)
        index[i] = static_cast<std::uint8_t>(byteAt(i));
    return index;
}

template <typename F>
constexpr std::uint64_t makeMask(F set) {
    std::uint64_t mask = 0;
    for (unsigned i = 0; i < 64; ++i)
        if (set(i)) mask |= std::uint64_t{1} << i;
    return mask;
}

// 24 bits: channel c of pixel k is byte 3k + c of three registers. Gathering a channel takes one
// two-register permute (bytes 0–127, index bit 6 picks the second register) and one masked permute
// from the third (bytes 128–191: the same index modulo 64).
template <unsigned kChannel>
constexpr ByteIndex kSplit24 = makeIndex([](unsigned k) { return (3 * k + kChannel) & 127; });
template <unsigned kChannel>
constexpr std::uint64_t kSplit24Third = makeMask([](unsigned k) { return 3 * k + kChannel >= 128; });
// Back: byte o of register r is channel (64r + o) % 3 of pixel (64r + o) / 3; blue and green by a
// two-register permute, red by a masked one.
template <unsigned kRegister>
constexpr ByteIndex kJoin24 = makeIndex([](unsigned o) {
    const unsigned at = 64 * kRegister + o;
    return at / 3 + (at % 3 == 1 ? 64 : 0);
});
template <unsigned kRegister>
constexpr std::uint64_t kJoin24Red = makeMask([](unsigned o) { return (64 * kRegister + o) % 3 == 2; });

// 32 bits: blue of pixels 0–31 and green of pixels 0–31 from a pair of registers, red of 0–31 in
// the low half.
constexpr ByteIndex kSplit32BlueGreen =
    makeIndex([](unsigned k) { return k < 32 ? 4 * k : 4 * (k - 32) + 1; });
constexpr ByteIndex kSplit32Red = makeIndex([](unsigned k) { return 4 * (k % 32) + 2; });
// Back: register r takes pixels 16r … 16r + 15; blue and green from their channels, red from its
// channel and alpha from the original register.
template <unsigned kRegister>
constexpr ByteIndex kJoin32BlueGreen = makeIndex([](unsigned o) {
    return 16 * kRegister + o / 4 + (o % 4 == 1 ? 64 : 0);
});
template <unsigned kRegister>
constexpr ByteIndex kJoin32RedAlpha = makeIndex([](unsigned o) {
    return o % 4 == 3 ? 64 + o : 16 * kRegister + o / 4;
});
constexpr std::uint64_t kJoin32RedAlphaBytes = 0xCCCCCCCCCCCCCCCCull;

KESTREL_AVX512 __m512i loadIndex(const ByteIndex& index) {
    return _mm512_loadu_si512(index.data());
}

// A table of 256 bytes at 64 byte indices: two two-register permutes, one per half, chosen by bit 7.
KESTREL_AVX512 __m512i lookupBytes(const SlicedTables::ByteTable& table, __m512i index, __mmask64 upperHalf) {
    const std::uint8_t* at = table.data();
    const __m512i lower = _mm512_permutex2var_epi8(_mm512_load_si512(at), index, _mm512_load_si512(at + 64));
    const __m512i upper =
        _mm512_permutex2var_epi8(_mm512_load_si512(at + 128), index, _mm512_load_si512(at + 192));
    return _mm512_mask_blend_epi8(upperHalf, lower, upper);
}

// A 16-bit table at 64 byte indices, as two registers of 32 words. Words come in the order byte
// unpacking leaves them (pixels 0–7, 16–23, 32–39, 48–55, then the others); every channel uses the
// same order and saturated packing restores the pixel order.
struct Words {
    __m512i first, second;
};

KESTREL_AVX512 Words lookupWords(const std::array<SlicedTables::ByteTable, 2>& table, __m512i index) {
    const __mmask64 upperHalf = _mm512_movepi8_mask(index);
    const __m512i low = lookupBytes(table[0], index, upperHalf),
                  high = lookupBytes(table[1], index, upperHalf);
    return {_mm512_unpacklo_epi8(low, high), _mm512_unpackhi_epi8(low, high)};
}

KESTREL_AVX512 __m512i wordsOf(int value) {
    return _mm512_set1_epi16(static_cast<short>(value));
}

// clampByte((sum − deficit) / 100) for sums of at most 65535: the multiplication and shift of the
// scalar path, on 16-bit lanes.
KESTREL_AVX512 __m512i quotientWords(__m512i sum, __m512i deficit) {
    const __m512i limited = _mm512_min_epu16(_mm512_subs_epu16(sum, deficit), wordsOf(25599));
    return _mm512_srli_epi16(_mm512_mulhi_epu16(limited, wordsOf(5243)), 3);
}

// channel − amount[channel − luminance], as words (−256 … 511; the packing clamps).
KESTREL_AVX512 Words saturateWords(const SlicedTables& tables, Words channel, Words luminance) {
    const __m512i first = _mm512_sub_epi16(channel.first, luminance.first);
    const __m512i second = _mm512_sub_epi16(channel.second, luminance.second);
    const __m512i distance = _mm512_packus_epi16(_mm512_abs_epi16(first), _mm512_abs_epi16(second));
    const Words amount = lookupWords(tables.saturation, distance);
    // Negative distances take the negated amount.
    return {_mm512_mask_add_epi16(_mm512_sub_epi16(channel.first, amount.first), _mm512_movepi16_mask(first),
                                  channel.first, amount.first),
            _mm512_mask_add_epi16(_mm512_sub_epi16(channel.second, amount.second),
                                  _mm512_movepi16_mask(second), channel.second, amount.second)};
}

KESTREL_AVX512 __m512i luminanceWords(__m512i r, __m512i g, __m512i b) {
    const __m512i weighted = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_mullo_epi16(r, wordsOf(25)), _mm512_mullo_epi16(g, wordsOf(55))),
        _mm512_add_epi16(_mm512_mullo_epi16(b, wordsOf(20)), wordsOf(50)));
    return _mm512_srli_epi16(_mm512_mulhi_epu16(weighted, wordsOf(5243)), 3);
}

// 64 colours, one byte per pixel and channel, to their results.
KESTREL_AVX512 void mapSixtyFour(const SlicedTables& tables, __m512i& red, __m512i& green, __m512i& blue) {
    const __m512i inputs[3] = {red, green, blue};
    Words out[3];
    for (std::size_t output = 0; output < 3; ++output) {
        Words sum = lookupWords(tables.mix[3 * output], inputs[0]);
        for (std::size_t input = 1; input < 3; ++input) {
            const Words part = lookupWords(tables.mix[3 * output + input], inputs[input]);
            sum.first = _mm512_adds_epu16(sum.first, part.first);
            sum.second = _mm512_adds_epu16(sum.second, part.second);
        }
        const __m512i deficit = wordsOf(tables.deficit[output]);
        out[output] = {quotientWords(sum.first, deficit), quotientWords(sum.second, deficit)};
    }
    if (tables.saturationOn) {
        const Words luminance = {luminanceWords(out[0].first, out[1].first, out[2].first),
                                 luminanceWords(out[0].second, out[1].second, out[2].second)};
        for (Words& channel : out)
            channel = saturateWords(tables, channel, luminance);
    }
    red = _mm512_packus_epi16(out[0].first, out[0].second);
    green = _mm512_packus_epi16(out[1].first, out[1].second);
    blue = _mm512_packus_epi16(out[2].first, out[2].second);
}

KESTREL_AVX512 __m512i split24(__m512i first, __m512i second, __m512i third, __m512i index,
                               std::uint64_t fromThird) {
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(first, index, second), fromThird, index,
                                        third);
}

KESTREL_AVX512 __m512i join24(__m512i blue, __m512i green, __m512i red, __m512i index, std::uint64_t red24) {
    return _mm512_mask_permutexvar_epi8(_mm512_permutex2var_epi8(blue, index, green), red24, index, red);
}

// 24-bit pixels, 64 at a time (192 bytes, read and written whole). Returns how many it did.
KESTREL_AVX512 std::uint64_t recolor24Avx512(std::byte* pixels, std::uint64_t count,
                                             const SlicedTables& tables, bool keyColourOn) {
    const __m512i splitBlue = loadIndex(kSplit24<0>), splitGreen = loadIndex(kSplit24<1>),
                  splitRed = loadIndex(kSplit24<2>);
    const __m512i join0 = loadIndex(kJoin24<0>), join1 = loadIndex(kJoin24<1>), join2 = loadIndex(kJoin24<2>);
    const __m512i keyBlue = _mm512_set1_epi8(static_cast<char>(ColorizeEngine::kKeyBlue));
    const __m512i keyGreen = _mm512_set1_epi8(static_cast<char>(ColorizeEngine::kKeyGreen));
    const __m512i keyRed = _mm512_set1_epi8(static_cast<char>(ColorizeEngine::kKeyRed));
    std::uint64_t done = 0;
    for (; count - done >= 64; done += 64) {
        std::byte* at = pixels + done * 3;
        const __m512i a = _mm512_loadu_si512(at), b = _mm512_loadu_si512(at + 64),
                      c = _mm512_loadu_si512(at + 128);
        const __m512i blue = split24(a, b, c, splitBlue, kSplit24Third<0>);
        const __m512i green = split24(a, b, c, splitGreen, kSplit24Third<1>);
        const __m512i red = split24(a, b, c, splitRed, kSplit24Third<2>);
        __m512i newRed = red, newGreen = green, newBlue = blue;
        mapSixtyFour(tables, newRed, newGreen, newBlue);
        if (keyColourOn) {
            const __mmask64 key = _mm512_cmpeq_epi8_mask(blue, keyBlue) &
                                  _mm512_cmpeq_epi8_mask(green, keyGreen) &
                                  _mm512_cmpeq_epi8_mask(red, keyRed);
            newBlue = _mm512_mask_mov_epi8(newBlue, key, blue);
            newGreen = _mm512_mask_mov_epi8(newGreen, key, green);
            newRed = _mm512_mask_mov_epi8(newRed, key, red);
        }
        _mm512_storeu_si512(at, join24(newBlue, newGreen, newRed, join0, kJoin24Red<0>));
        _mm512_storeu_si512(at + 64, join24(newBlue, newGreen, newRed, join1, kJoin24Red<1>));
        _mm512_storeu_si512(at + 128, join24(newBlue, newGreen, newRed, join2, kJoin24Red<2>));
    }
    return done;
}

KESTREL_AVX512 __m512i join32(__m512i blue, __m512i green, __m512i red, __m512i original,
                              const ByteIndex& blueGreen, const ByteIndex& redAlpha) {
    return _mm512_mask_blend_epi8(kJoin32RedAlphaBytes,
                                  _mm512_permutex2var_epi8(blue, loadIndex(blueGreen), green),
                                  _mm512_permutex2var_epi8(red, loadIndex(redAlpha), original));
}

// The low 256 bits of `first`, then those of `second`; and the same of the high 256 bits. (The
// masked form with every lane set: the plain one leaves g++ 12 warning about its undefined source.)
KESTREL_AVX512 __m512i lowHalves(__m512i first, __m512i second) {
    return _mm512_mask_shuffle_i64x2(first, 0xFF, first, second, _MM_SHUFFLE(1, 0, 1, 0));
}

KESTREL_AVX512 __m512i highHalves(__m512i first, __m512i second) {
    return _mm512_mask_shuffle_i64x2(first, 0xFF, first, second, _MM_SHUFFLE(3, 2, 3, 2));
}

// 32-bit pixels, 64 at a time; alpha is kept. Returns how many it did.
KESTREL_AVX512 std::uint64_t recolor32Avx512(std::byte* pixels, std::uint64_t count,
                                             const SlicedTables& tables) {
    const __m512i splitBlueGreen = loadIndex(kSplit32BlueGreen), splitRed = loadIndex(kSplit32Red);
    std::uint64_t done = 0;
    for (; count - done >= 64; done += 64) {
        std::byte* at = pixels + done * 4;
        const __m512i p0 = _mm512_loadu_si512(at), p1 = _mm512_loadu_si512(at + 64),
                      p2 = _mm512_loadu_si512(at + 128), p3 = _mm512_loadu_si512(at + 192);
        const __m512i blueGreenLow = _mm512_permutex2var_epi8(p0, splitBlueGreen, p1);
        const __m512i blueGreenHigh = _mm512_permutex2var_epi8(p2, splitBlueGreen, p3);
        __m512i blue = lowHalves(blueGreenLow, blueGreenHigh);
        __m512i green = highHalves(blueGreenLow, blueGreenHigh);
        __m512i red =
            lowHalves(_mm512_permutex2var_epi8(p0, splitRed, p1), _mm512_permutex2var_epi8(p2, splitRed, p3));
        mapSixtyFour(tables, red, green, blue);
        _mm512_storeu_si512(at, join32(blue, green, red, p0, kJoin32BlueGreen<0>, kJoin32RedAlpha<0>));
        _mm512_storeu_si512(at + 64, join32(blue, green, red, p1, kJoin32BlueGreen<1>, kJoin32RedAlpha<1>));
        _mm512_storeu_si512(at + 128, join32(blue, green, red, p2, kJoin32BlueGreen<2>, kJoin32RedAlpha<2>));
        _mm512_storeu_si512(at + 192, join32(blue, green, red, p3, kJoin32BlueGreen<3>, kJoin32RedAlpha<3>));
    }
    return done;
}

ColorizeEngine::VectorPath detectVectorPath() {
    if (!__builtin_cpu_supports("avx2")) return ColorizeEngine::VectorPath::kScalar;
    if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
        __builtin_cpu_supports("avx512vbmi"))
        return ColorizeEngine::VectorPath::kAvx512Vbmi;
    return ColorizeEngine::VectorPath::kAvx2;
}
#else
ColorizeEngine::VectorPath detectVectorPath() {
    return ColorizeEngine::VectorPath::kScalar;
}
#endif

}  // namespace

// ----- The per-pixel work -----

// The tables of one engine, prepared for the pixel loops. Every loop below works on a range that has
// been checked against the buffer before it starts.
//
// Fast path: for each input channel one 64-bit word holds its contributions to the three output
// channels in 21-bit lanes, each entry biased to be non-negative and the rounding term 50 folded in,
// so one load and two additions give all three sums (no lane can carry into the next while every
// entry lies within ±kLaneEntryLimit; any realistic setting does). The quotient by 100 is then taken
// on the sum limited to 0 … 25599 (every sum outside ends at 0 or 255 after the division and the
// clamp) as a multiplication and a shift, exact in that range. Settings with larger table entries
// take the plain path, which follows the pixel rule literally. Both give the same bytes.
//
// Vector paths: with AVX2 the packed lanes serve eight pixels at a time through gathers; with
// AVX-512 (byte permutes) the sliced tables serve 64 pixels at a time from registers. Whatever width
// a vector path leaves at the end of a row is done by the next narrower path.
class ColorizeKernel {
    static_assert(std::endian::native == std::endian::little,
                  "32-bit pixels are read as little-endian words");

  public:
    // `manyPixels`: prepare the fast path, which pays off for images, not for a palette or one colour.
    ColorizeKernel(const ColorizeEngine& engine, bool manyPixels)
        : mix_(engine.mix_),
          saturation_(engine.saturation_.data() + 255),
          saturationOn_(engine.saturationOn_),
          keyColourOn_(engine.keyColourOn_) {
        if (!manyPixels) return;
        using Path = ColorizeEngine::VectorPath;
        const Path path = std::min(engine.vectorLimit_, ColorizeEngine::BestVectorPath());
        sliced_ = path >= Path::kAvx512Vbmi && sliceTables(mix_, saturation_, saturationOn_, slicedTables_);
        for (const auto& table : mix_)
            for (std::int32_t entry : table)
                if (entry < -kLaneEntryLimit || entry >= kLaneEntryLimit - 50) return;
        packed_ = true;
        avx2_ = path >= Path::kAvx2;
        for (std::size_t input = 0; input < 3; ++input)
            for (std::size_t x = 0; x < 256; ++x) {
                std::uint64_t word = 0;
                for (std::size_t output = 0; output < 3; ++output) {
                    const std::int64_t entry =
                        mix_[3 * output + input][x] + kLaneEntryLimit + (input == 0 ? 50 : 0);
                    word |= static_cast<std::uint64_t>(entry) << (kLaneBits * output);
                }
                lanes_[input][x] = word;
            }
    }

    // The widest path the image loops take.
    ColorizeEngine::VectorPath path() const {
        if (sliced_) return ColorizeEngine::VectorPath::kAvx512Vbmi;
        return avx2_ ? ColorizeEngine::VectorPath::kAvx2 : ColorizeEngine::VectorPath::kScalar;
    }

    void mapColour(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) const {
        int r, g, b;
        if (packed_) {
            if (saturationOn_)
                mapPacked<true>(red, green, blue, r, g, b);
            else
                mapPacked<false>(red, green, blue, r, g, b);
        } else {
            if (saturationOn_)
                mapPlain<true>(red, green, blue, r, g, b);
            else
                mapPlain<false>(red, green, blue, r, g, b);
        }
        red = static_cast<std::uint8_t>(r);
        green = static_cast<std::uint8_t>(g);
        blue = static_cast<std::uint8_t>(b);
    }

    static bool isKeyColour(unsigned red, unsigned green, unsigned blue) {
        return blue == ColorizeEngine::kKeyBlue && green == ColorizeEngine::kKeyGreen &&
               red == ColorizeEngine::kKeyRed;
    }

    // Palette entries (blue, green, red[, reserved]). `zeroReserved`: recoloured entries of a file's
    // palette get a reserved byte of 0.
    void palette(std::span<std::byte> data, const PixelRegions& layout, bool zeroReserved) const {
        for (std::uint64_t i = 0; i < layout.paletteEntries; ++i) {
            std::byte* entry = data.data() + layout.paletteOffset + i * layout.paletteEntrySize;
            std::uint8_t blue = u8(entry[0]), green = u8(entry[1]), red = u8(entry[2]);
            if (keyColourOn_ && isKeyColour(red, green, blue)) continue;
            mapColour(red, green, blue);
            entry[0] = std::byte{blue};
            entry[1] = std::byte{green};
            entry[2] = std::byte{red};
            if (zeroReserved && layout.paletteEntrySize == 4) entry[3] = std::byte{0};
        }
    }

    // 16-bit pixels: rows of `width` pixels plus one padding pixel when the width is odd; the padding
    // pixel is left alone. The expanded channels never reach 255, so the key colour cannot match.
    void pixels16(std::span<std::byte> data, const PixelRegions& layout) const {
        const std::uint64_t rowBytes = (layout.width + (layout.width & 1)) * 2;
        for (std::uint64_t row = 0; row < layout.height; ++row) {
            const std::uint64_t rowStart = layout.pixelOffset + row * rowBytes;
            if (rowStart >= data.size()) break;
            const std::uint64_t count = std::min(layout.width, (data.size() - rowStart) / 2);
            std::byte* pixel = data.data() + rowStart;
            for (std::uint64_t i = 0; i < count; ++i, pixel += 2) {
                const unsigned value = u8(pixel[0]) | (u8(pixel[1]) << 8);
                std::uint8_t blue = static_cast<std::uint8_t>((value & 0x1F) * 8), green, red;
                if (layout.rgb565) {
                    green = static_cast<std::uint8_t>(((value >> 5) & 0x3F) * 4);
                    red = static_cast<std::uint8_t>((value >> 11) * 8);
                } else {
                    green = static_cast<std::uint8_t>(((value >> 5) & 0x1F) * 8);
                    red = static_cast<std::uint8_t>(((value >> 10) & 0x1F) * 8);
                }
                mapColour(red, green, blue);
                unsigned packed = layout.rgb565 ? ((red / 8u) << 11) | ((green / 4u) << 5) | (blue / 8u)
                                                : ((red / 8u) << 10) | ((green / 8u) << 5) | (blue / 8u);
                pixel[0] = std::byte(packed & 0xFF);
                pixel[1] = std::byte(packed >> 8);
            }
        }
    }

    // 24-bit pixels (blue, green, red), rows padded to 4 bytes; the padding is left alone.
    void pixels24(std::span<std::byte> data, const PixelRegions& layout) const {
        const std::uint64_t rowBytes = (layout.width * 24 + 31) / 32 * 4;
        // Runs of one colour are common in interface bitmaps: the last result is reused.
        std::uint32_t lastIn = kNoColour, lastOut = 0;
        for (std::uint64_t row = 0; row < layout.height; ++row) {
            const std::uint64_t rowStart = layout.pixelOffset + row * rowBytes;
            if (rowStart >= data.size()) break;
            const std::uint64_t count = std::min(layout.width, (data.size() - rowStart) / 3);
            std::byte* pixel = data.data() + rowStart;
            const std::uint64_t done = vectorRow24(pixel, count);
            row24(pixel + 3 * done, count - done, lastIn, lastOut);
        }
    }

    // `count` 4-byte pixels (blue, green, red, alpha) from `offset`; alpha and the key colour are not
    // looked at.
    void pixels32(std::span<std::byte> data, std::uint64_t offset, std::uint64_t count) const {
        if (offset >= data.size()) return;
        count = std::min(count, (data.size() - offset) / 4);
        std::byte* pixels = data.data() + offset;
#ifdef KESTREL_COLORIZE_X86
        if (sliced_) {
            const std::uint64_t done = recolor32Avx512(pixels, count, slicedTables_);
            pixels += done * 4;
            count -= done;
        }
        if (avx2_) {
            const std::uint64_t done = recolor32Avx2(pixels, count, laneTables());
            pixels += done * 4;
            count -= done;
        }
#endif
        if (packed_) {
            if (saturationOn_) return pixels32With<true, true>(pixels, count);
            return pixels32With<false, true>(pixels, count);
        }
        if (saturationOn_) return pixels32With<true, false>(pixels, count);
        pixels32With<false, false>(pixels, count);
    }

  private:
    LaneTables laneTables() const {
        return {lanes_[0].data(), lanes_[1].data(), lanes_[2].data(), saturation_, saturationOn_};
    }

    // The pixels at the start of a 24-bit row that a vector path does; returns how many.
    std::uint64_t vectorRow24([[maybe_unused]] std::byte* pixel, [[maybe_unused]] std::uint64_t count) const {
        std::uint64_t done = 0;
#ifdef KESTREL_COLORIZE_X86
        if (sliced_) done = recolor24Avx512(pixel, count, slicedTables_, keyColourOn_);
        if (avx2_)
            done += recolor24Avx2(pixel + 3 * done, count - done, laneTables(), keyColourOn_, kKeyColourWord);
#endif
        return done;
    }

    static unsigned u8(std::byte value) {
        return static_cast<unsigned>(value);
    }

    // clampByte(n / 100) for the rounded sum n: 0 for every n ≤ 99 (the quotient truncates toward
    // zero and the result is limited to 0), 255 from 25500 on; (n · 5243) >> 19 equals n / 100 for
    // 0 ≤ n < 43699.
    static int quotientByte(int sum) {
        sum = sum < 0 ? 0 : (sum > 25599 ? 25599 : sum);
        return static_cast<int>((static_cast<unsigned>(sum) * 5243u) >> 19);
    }

    template <bool kSaturation>
    void saturate(int& r, int& g, int& b) const {
        if constexpr (kSaturation) {
            // r, g, b are already within 0 … 255 here.
            const int luminance =
                static_cast<int>((static_cast<unsigned>(25 * r + 55 * g + 20 * b + 50) * 5243u) >> 19);
            r = clampByte(r - saturation_[r - luminance]);
            g = clampByte(g - saturation_[g - luminance]);
            b = clampByte(b - saturation_[b - luminance]);
        }
    }

    template <bool kSaturation>
    void mapPacked(unsigned red, unsigned green, unsigned blue, int& outRed, int& outGreen,
                   int& outBlue) const {
        const std::uint64_t sums = lanes_[0][red] + lanes_[1][green] + lanes_[2][blue];
        outRed = quotientByte(static_cast<int>(sums & kLaneMask) - kLaneBias);
        outGreen = quotientByte(static_cast<int>((sums >> kLaneBits) & kLaneMask) - kLaneBias);
        outBlue = quotientByte(static_cast<int>(sums >> (2 * kLaneBits)) - kLaneBias);
        saturate<kSaturation>(outRed, outGreen, outBlue);
    }

    // The pixel rule as written: mix, divide by 100 with rounding (the division truncates toward
    // zero), optionally move each channel relative to the luminance, clamp.
    template <bool kSaturation>
    void mapPlain(unsigned red, unsigned green, unsigned blue, int& outRed, int& outGreen,
                  int& outBlue) const {
        int r = (mix_[0][red] + mix_[1][green] + mix_[2][blue] + 50) / 100;
        int g = (mix_[3][red] + mix_[4][green] + mix_[5][blue] + 50) / 100;
        int b = (mix_[6][red] + mix_[7][green] + mix_[8][blue] + 50) / 100;
        if constexpr (kSaturation) {
            r = clampByte(r);
            g = clampByte(g);
            b = clampByte(b);
            const int luminance = (25 * r + 55 * g + 20 * b + 50) / 100;
            r -= saturation_[r - luminance];
            g -= saturation_[g - luminance];
            b -= saturation_[b - luminance];
        }
        outRed = clampByte(r);
        outGreen = clampByte(g);
        outBlue = clampByte(b);
    }

    template <bool kSaturation, bool kPacked>
    void map(unsigned red, unsigned green, unsigned blue, int& r, int& g, int& b) const {
        if constexpr (kPacked)
            mapPacked<kSaturation>(red, green, blue, r, g, b);
        else
            mapPlain<kSaturation>(red, green, blue, r, g, b);
    }

    // `count` 24-bit pixels one at a time; lastIn and lastOut carry the last colour and its result.
    void row24(std::byte* pixel, std::uint64_t count, std::uint32_t& lastIn, std::uint32_t& lastOut) const {
        if (packed_) {
            if (saturationOn_) {
                if (keyColourOn_) return row24With<true, true, true>(pixel, count, lastIn, lastOut);
                return row24With<true, false, true>(pixel, count, lastIn, lastOut);
            }
            if (keyColourOn_) return row24With<false, true, true>(pixel, count, lastIn, lastOut);
            return row24With<false, false, true>(pixel, count, lastIn, lastOut);
        }
        if (saturationOn_) {
            if (keyColourOn_) return row24With<true, true, false>(pixel, count, lastIn, lastOut);
            return row24With<true, false, false>(pixel, count, lastIn, lastOut);
        }
        if (keyColourOn_) return row24With<false, true, false>(pixel, count, lastIn, lastOut);
        row24With<false, false, false>(pixel, count, lastIn, lastOut);
    }

    template <bool kSaturation, bool kKey, bool kPacked>
    void row24With(std::byte* pixel, std::uint64_t count, std::uint32_t& lastIn,
                   std::uint32_t& lastOut) const {
        for (std::uint64_t i = 0; i < count; ++i, pixel += 3) {
            const std::uint32_t colour = u8(pixel[0]) | u8(pixel[1]) << 8 | u8(pixel[2]) << 16;
            if (colour != lastIn) {
                lastIn = colour;
                lastOut = mapWord<kSaturation, kPacked>(colour);
            }
            if (kKey && colour == kKeyColourWord) continue;
            pixel[0] = std::byte(lastOut & 0xFF);
            pixel[1] = std::byte((lastOut >> 8) & 0xFF);
            pixel[2] = std::byte(lastOut >> 16);
        }
    }

    template <bool kSaturation, bool kPacked>
    void pixels32With(std::byte* pixel, std::uint64_t count) const {
        std::uint32_t lastIn = kNoColour, lastOut = 0;
        for (std::uint64_t i = 0; i < count; ++i, pixel += 4) {
            std::uint32_t value;
            std::memcpy(&value, pixel, 4);  // blue, green, red, alpha in memory order
            const std::uint32_t colour = value & 0xFFFFFF;
            if (colour != lastIn) {
                lastIn = colour;
                lastOut = mapWord<kSaturation, kPacked>(colour);
            }
            value = (value & 0xFF000000u) | lastOut;
            std::memcpy(pixel, &value, 4);
        }
    }

    // A colour as 0x00RRGGBB (blue in the low byte, as the pixels are stored) to its result.
    template <bool kSaturation, bool kPacked>
    std::uint32_t mapWord(std::uint32_t colour) const {
        int r, g, b;
        map<kSaturation, kPacked>((colour >> 16) & 0xFF, (colour >> 8) & 0xFF, colour & 0xFF, r, g, b);
        return static_cast<std::uint32_t>(r) << 16 | static_cast<std::uint32_t>(g) << 8 |
               static_cast<std::uint32_t>(b);
    }

    static constexpr std::uint32_t kNoColour = 0xFFFFFFFFu;  // no 24-bit colour has it
    static constexpr std::uint32_t kKeyColourWord = std::uint32_t{ColorizeEngine::kKeyRed} << 16 |
                                                    std::uint32_t{ColorizeEngine::kKeyGreen} << 8 |
                                                    ColorizeEngine::kKeyBlue;

    const std::array<ColorizeEngine::MixTable, ColorizeEngine::kMixTableCount>& mix_;
    const std::int32_t* saturation_;  // indexed −255 … 255
    bool saturationOn_;
    bool keyColourOn_;
    bool packed_ = false;
    bool avx2_ = false;    // packed lanes, and the processor and the limit allow AVX2
    bool sliced_ = false;  // sliced tables, and the processor and the limit allow AVX-512
    std::array<std::array<std::uint64_t, 256>, 3> lanes_;  // by input channel red, green, blue
    SlicedTables slicedTables_;
};

namespace {

// Recolours the image described by `layout` inside `data`. Palette images: the palette only.
void recolorLayout(const ColorizeKernel& kernel, std::span<std::byte> data, const PixelRegions& layout,
                   bool zeroPaletteReserved) {
    switch (layout.bitCount) {
        case 16:
            kernel.pixels16(data, layout);
            break;
        case 24:
            kernel.pixels24(data, layout);
            break;
        case 32:
            kernel.pixels32(data, layout.pixelOffset, layout.width * layout.height);
            break;
        default:
            kernel.palette(data, layout, zeroPaletteReserved);
            break;
    }
}

}  // namespace

// ----- Tables -----

ColorizeEngine::ColorizeEngine() {
    applyMixWeights({100, 0, 0, 0, 100, 0, 0, 0, 100}, 0, 0, 0, false, false);
    BuildHueTables(0, 0, 0, 0, false, false);
    BuildSaturationTable(0, 0, false);
}

void ColorizeEngine::BuildChannelTable(MixTable& table, double offset, double weight, bool linear) {
    for (int x = 0; x < 256; ++x) {
        double f;
        if (linear) {
            f = x + offset;
        } else {
            const double g = (x - 127) * 0.0078125;
            f = x + offset * (1.0 - g * g);
        }
        if (!(f >= 0)) f = 0;
        if (f > 255) f = 255;
        table[static_cast<std::size_t>(x)] = truncateLimited(weight * f + 0.5, kMixLimit);
    }
}

void ColorizeEngine::BuildHueTables(int hue, int offset0, int offset1, int offset2, bool lightSource,
                                    bool linear) {
    // Any hue maps onto one turn of 1536 steps: six segments of 256 between the primaries.
    int h = hue % 1536;
    if (h < 0) h += 1536;
    unsigned red, green, blue;
    if (h < 256) {
        red = 255, green = h, blue = 0;
    } else if (h < 512) {
        red = 511 - h, green = 255, blue = 0;
    } else if (h < 768) {
        red = 0, green = 255, blue = h - 512;
    } else if (h < 1024) {
        red = 0, green = 1023 - h, blue = 255;
    } else if (h < 1280) {
        red = h - 1024, green = 0, blue = 255;
    } else {
        red = 255, green = 0, blue = 1535 - h;
    }
    const unsigned sum = red + green + blue;  // at least 255
    // Whole, rounded percentages: the weights are integers on purpose.
    // NOLINTBEGIN(bugprone-integer-division)
    const double wR = (100 * red + sum / 2) / sum;
    const double wG = (100 * green + sum / 2) / sum;
    const double wB = (100 * blue + sum / 2) / sum;
    // NOLINTEND(bugprone-integer-division)
    applyMixWeights({wR, wG, wB, wB, wR, wG, wG, wB, wR}, offset0, offset1, offset2, lightSource, linear);
}

void ColorizeEngine::BuildMatrixTables(const std::array<double, kMixTableCount>& weights, int offset0,
                                       int offset1, int offset2, bool lightSource, bool linear) {
    applyMixWeights(weights, offset0, offset1, offset2, lightSource, linear);
}

void ColorizeEngine::applyMixWeights(const std::array<double, kMixTableCount>& weights, int offset0,
                                     int offset1, int offset2, bool lightSource, bool linear) {
    const int offsets[3] = {offset0, offset1, offset2};
    for (int k = 0; k < kMixTableCount; ++k) {
        // Light source: brightness belongs to the input channel (the table's column), otherwise to
        // the output channel (its row).
        const int offset = lightSource ? offsets[k % 3] : offsets[k / 3];
        BuildChannelTable(mix_[static_cast<std::size_t>(k)], offset, weights[static_cast<std::size_t>(k)],
                          linear);
    }
}

void ColorizeEngine::BuildSaturationTable(double curveOffset, double factor, bool linear) {
    for (int i = 0; i < 256; ++i) {
        double c;
        if (linear) {
            c = curveOffset + i;
        } else {
            const int d = (i - 128) / 128;  // NOLINT(bugprone-integer-division): whole steps on purpose
            c = curveOffset * (1 - d * d) + i;
        }
        if (!(c >= 0)) c = 0;
        if (c > 255) c = 255;
        const std::int32_t amount = truncateLimited(factor * c, kSaturationLimit);
        saturation_[static_cast<std::size_t>(i) + 255] = amount;
        // Written second, so entry 0 takes this value.
        saturation_[static_cast<std::size_t>(255 - i)] = -amount;
    }
}

void ColorizeEngine::recolorColour(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) const {
    ColorizeKernel(*this, false).mapColour(red, green, blue);
}

ColorizeEngine::VectorPath ColorizeEngine::BestVectorPath() {
    static const VectorPath best = detectVectorPath();
    return best;
}

ColorizeEngine::VectorPath ColorizeEngine::imagePath() const {
    return ColorizeKernel(*this, true).path();
}

// ----- Images -----

HResult ColorizeEngine::RecolorDib(std::span<std::byte> dib) const {
    DibInfo info;
    if (validateDib(Bytes(dib.data(), dib.size()), info).failed()) return kFail;
    if (info.compression == kBiJpeg || info.compression == kBiPng) return kFalse;
    PixelRegions regions;
    regions.bitCount = info.bitCount;
    regions.width = static_cast<std::uint64_t>(info.width);
    regions.height = static_cast<std::uint64_t>(info.height);
    regions.paletteOffset = info.paletteOffset;
    regions.paletteEntries = std::min<std::uint64_t>(info.paletteEntries, 256);
    regions.paletteEntrySize = info.paletteEntrySize;
    regions.pixelOffset = info.pixelOffset;
    regions.rgb565 = info.bitCount == 16 && info.compression == kBiBitfields && info.masks[1] == 0x07E0;
    recolorLayout(ColorizeKernel(*this, regions.bitCount > 8), dib, regions, false);
    return kOk;
}

HResult ColorizeEngine::RecolorFile(const fs::path& path) const {
    return recolorFile(path, true);
}

namespace {

enum class ImageFileKind { kNone, kPng, kBitmap, kIcon };

// The last three characters of the name, in any case, choose the kind.
ImageFileKind imageFileKind(const fs::path& path) {
    const std::string name = pathToUtf8(path);
    const std::string_view kind = name.size() >= 3 ? std::string_view(name).substr(name.size() - 3) : "";
    if (iequalsAscii(kind, "PNG")) return ImageFileKind::kPng;
    if (iequalsAscii(kind, "BMP")) return ImageFileKind::kBitmap;
    if (iequalsAscii(kind, "ICO") || iequalsAscii(kind, "CUR")) return ImageFileKind::kIcon;
    return ImageFileKind::kNone;
}

}  // namespace

HResult ColorizeEngine::recolorFile(const fs::path& path, bool startNewReport) const {
    std::vector<std::byte> recoloured;
    if (HResult hr = recolouredBytes(path, startNewReport, recoloured); hr.failed() || recoloured.empty())
        return hr;
    if (HResult hr = WriteFileAtomic(path, asBytes(recoloured)); hr.failed())
        return reportFailure(startNewReport, __LINE__, hr, path);
    return kOk;
}

HResult ColorizeEngine::recolouredBytes(const fs::path& path, bool startNewReport,
                                        std::vector<std::byte>& out) const {
    out.clear();
    try {
        switch (imageFileKind(path)) {
            case ImageFileKind::kPng:
                return recolorPng(path, startNewReport, out);
            case ImageFileKind::kBitmap:
                return recolorDibFile(path, false, startNewReport, out);
            case ImageFileKind::kIcon:
                return recolorDibFile(path, true, startNewReport, out);
            case ImageFileKind::kNone:
                break;
        }
    } catch (const std::bad_alloc&) {
        out.clear();
        return reportFailure(startNewReport, __LINE__, kOutOfMemory, path);
    }
    return kOk;
}

HResult ColorizeEngine::recolorDibFile(const fs::path& path, bool icon, bool startNewReport,
                                       std::vector<std::byte>& out) const {
    MappedFile file;
    if (HResult hr = OpenMappedFile(path, file); hr.failed())
        return reportFailure(startNewReport, __LINE__, hr, path);
    std::vector<std::byte> data = std::move(file.data);
    CloseMappedFile(file);
    const ByteReader reader(asBytes(data));

    std::uint64_t base;
    std::optional<std::uint32_t> filePixelOffset;
    if (icon) {
        IconDirectory directory;
        if (ReadIconDirectory(reader.bytes(), directory).failed() || !directory.knownType())
            return reportFailure(startNewReport, __LINE__, kFail, path);
        base = IconImageOffset(reader.bytes());
        if (auto image = reader.from(base); image && HasPngSignature(image->bytes()))
            return recolorIconPng(data, base, path, startNewReport, out);
    } else {
        // The pixels are recoloured in place as far as the file holds them (see locateDib).
        if (!CheckBmpFileHeader(reader.bytes()).ok())
            return reportFailure(startNewReport, __LINE__, kFail, path);
        base = 14;
        filePixelOffset = reader.u32(10);
    }

    PixelRegions layout;
    switch (locateDib(reader, base, icon, filePixelOffset, layout)) {
        case LayoutResult::kInvalid:
            return reportFailure(startNewReport, __LINE__, kFail, path);
        case LayoutResult::kUnsupported:
            return kOk;
        case LayoutResult::kOk:
            break;
    }
    recolorLayout(ColorizeKernel(*this, layout.bitCount > 8), data, layout, true);
    out = std::move(data);
    return kOk;
}

HResult ColorizeEngine::recolorPngBytes(Bytes png, std::vector<std::byte>& out) const {
    // Recoloured the way the image pane previews it: the PNG made into a DIB, the DIB recoloured,
    // and its palette and rows taken back, so that the bit depth and the alpha stay.
    const PngConverter codec;
    ImageRecord record;
    if (HResult hr = codec.ReadPng(png, record); hr.failed()) return hr;
    std::vector<std::byte> dib;
    if (HResult hr = codec.ImageRecordToDib(record, dib); hr.failed()) return hr;
    if (HResult hr = RecolorDib(std::span<std::byte>(dib)); hr.failed()) return hr;
    DibInfo info;
    if (HResult hr = validateDib(asBytes(dib), info); hr.failed()) return hr;
    const ByteReader reader(asBytes(dib));
    for (std::uint32_t i = 0; i < record.paletteCount; ++i) {
        const std::size_t to = std::size_t{3} * i;
        const std::uint64_t from = info.paletteOffset + std::uint64_t{4} * i;
        record.palette.at(to) = reader.u8Or(from + 2, 0);
        record.palette.at(to + 1) = reader.u8Or(from + 1, 0);
        record.palette.at(to + 2) = reader.u8Or(from, 0);
    }
    const auto rowBytes = static_cast<std::size_t>(record.rowBytes);
    for (std::int32_t y = 0; y < record.height; ++y) {
        // The DIB's rows run bottom-up.
        const std::uint64_t from =
            info.pixelOffset + std::uint64_t{rowBytes} * static_cast<std::uint64_t>(record.height - 1 - y);
        const auto row = reader.slice(from, rowBytes);
        if (!row) return kFail;
        std::memcpy(record.row(y), row->bytes().data(), rowBytes);
    }
    return codec.WritePng(record, out);
}

HResult ColorizeEngine::recolorPng(const fs::path& path, bool startNewReport,
                                   std::vector<std::byte>& out) const {
    MappedFile file;
    if (HResult hr = OpenMappedFile(path, file); hr.failed())
        return reportFailure(startNewReport, __LINE__, hr, path);
    const std::vector<std::byte> png = std::move(file.data);
    CloseMappedFile(file);
    if (HResult hr = recolorPngBytes(asBytes(png), out); hr.failed()) {
        out.clear();
        return reportFailure(startNewReport, __LINE__, hr, path);
    }
    return kOk;
}

HResult ColorizeEngine::recolorIconPng(const std::vector<std::byte>& file, std::uint64_t offset,
                                       const fs::path& path, bool startNewReport,
                                       std::vector<std::byte>& out) const {
    // The image runs to the end of the file, or for as many bytes as its directory entry says when
    // the entry points at it.
    const ByteReader reader(asBytes(file));
    IconDirectoryEntry first;
    std::uint64_t end = file.size();
    const bool sized = ReadIconDirectoryEntry(reader.bytes(), 0, first).succeeded() &&
                       first.imageOffset == offset && first.imageBytes <= file.size() - offset;
    if (sized) end = offset + first.imageBytes;
    const auto image = reader.slice(offset, end - offset);
    if (!image) return reportFailure(startNewReport, __LINE__, kFail, path);
    std::vector<std::byte> png;
    // PNG data that does not decode is no picture the pane shows: it stays as it is.
    if (recolorPngBytes(image->bytes(), png).failed()) return kOk;
    if (png.size() > UINT32_MAX - offset) return reportFailure(startNewReport, __LINE__, kFail, path);

    ByteWriter rebuilt;
    rebuilt.append(reader.bytes().subspan(0, static_cast<std::size_t>(offset)));
    rebuilt.append(asBytes(png));
    rebuilt.append(reader.bytes().subspan(static_cast<std::size_t>(end)));
    // The entry of the image takes the new size; images stored after it move by the difference.
    // A file too short for a directory has no entries to patch: `directory` stays empty.
    IconDirectory directory;
    (void)ReadIconDirectory(reader.bytes(), directory);
    const auto newSize = static_cast<std::uint32_t>(png.size());
    const auto shift = static_cast<std::int64_t>(png.size()) - static_cast<std::int64_t>(end - offset);
    for (std::size_t i = 0; i < directory.entries.size(); ++i) {
        const IconDirectoryEntry& entry = directory.entries[i];
        const std::size_t at = kIconDirectoryHeaderSize + kIconDirectoryEntrySize * i;
        if (i == 0 && sized) rebuilt.patchU32(at + 8, newSize);
        if (entry.imageOffset >= end && entry.imageOffset > offset)
            rebuilt.patchU32(at + 12, static_cast<std::uint32_t>(entry.imageOffset + shift));
    }
    out = std::move(rebuilt.bytes());
    return kOk;
}

namespace {

// Commits (syncs and renames) a written temporary file on a thread of its own; inline when no
// thread can be had.
std::future<HResult> commitAsync(const std::shared_ptr<AtomicFileWriter>& writer) {
    try {
        return std::async(std::launch::async, [writer] { return writer->commit(); });
    } catch (const std::system_error&) {
        std::promise<HResult> done;
        done.set_value(writer->commit());
        return done.get_future();
    }
}

}  // namespace

HResult ColorizeEngine::RecolorFolder(const fs::path& folder, const FolderProgress& progress,
                                      FolderRun* run) const {
    return RecolorFolders(std::span<const fs::path>(&folder, 1), progress, run);
}

HResult ColorizeEngine::RecolorFolders(std::span<const fs::path> folders, const FolderProgress& progress,
                                       FolderRun* run) const {
    FolderRun unused;
    FolderRun& counts = run != nullptr ? *run : unused;
    counts = FolderRun{};
    // The report collects each failure, the result is the first one.
    HResult result = kOk;
    std::vector<fs::path> files;
    for (const fs::path& folder : folders) {
        std::vector<fs::path> found;
        std::error_code error;
        for (fs::directory_iterator entries(folder, error); !error && entries != fs::directory_iterator();
             entries.increment(error)) {
            std::error_code statError;
            if (entries->is_directory(statError) || imageFileKind(entries->path()) == ImageFileKind::kNone)
                continue;
            found.push_back(entries->path());
        }
        if (error) {
            const HResult hr =
                ReportError(!result.failed(), kSource, __LINE__, hresultFromErrno(error.value(), &folder));
            if (!result.failed()) result = hr;
            continue;
        }
        std::sort(found.begin(), found.end());
        files.insert(files.end(), found.begin(), found.end());
    }
    counts.files = files.size();

    // Every file is tried. Each is written to its temporary file here, and the commit (sync to the
    // disk, rename over the file) runs on its own thread: the syncs overlap, which takes a folder of
    // small images from one disk flush per file to a fraction of that. Failures are reported here,
    // in the order they are met.
    auto noteFailure = [&](HResult hr, const fs::path& file, int line) {
        const HResult reported = reportFailure(!result.failed(), line, hr, file);
        if (!result.failed()) result = reported;
    };
    std::deque<PendingCommit> pending;
    auto settleOldest = [&] {
        PendingCommit& oldest = pending.front();
        if (const HResult hr = oldest.result.get(); hr.failed()) {
            noteFailure(hr, oldest.path, __LINE__);
        } else {
            ++counts.done;
        }
        pending.pop_front();
    };
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::vector<std::byte> recoloured;
        const HResult hr = recolouredBytes(files[i], !result.failed(), recoloured);
        if (hr.failed() && !result.failed()) result = hr;
        if (hr.succeeded() && recoloured.empty()) ++counts.done;  // a format left as it is
        if (hr.succeeded() && !recoloured.empty()) {
            auto writer = std::make_shared<AtomicFileWriter>();
            HResult staged = writer->open(files[i]);
            if (staged.succeeded()) staged = writer->write(asBytes(recoloured));
            if (staged.failed()) {
                writer.reset();
                noteFailure(staged, files[i], __LINE__);
            } else {
                if (pending.size() >= kCommitsInFlight) settleOldest();
                pending.push_back({files[i], commitAsync(writer)});
            }
        }
        if (progress && !progress(i + 1, files.size()) && i + 1 < files.size()) {
            counts.stopped = true;
            break;
        }
    }
    // Files already written are committed even when the run was ended: each is whole either way.
    while (!pending.empty())
        settleOldest();
    return result;
}

}  // namespace kestrel
