// The colorize engine: hue rotation, per-channel brightness, a 3 × 3 colour-mixing matrix and a
// saturation change, applied to a packed DIB in memory (the live preview) or to the image files of a
// working folder (apply).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// Output channel c of a colour (R, G, B) is (mix[3c][R] + mix[3c + 1][G] + mix[3c + 2][B] + 50) / 100,
// every table entry being the contribution of one input value times 100: mix 0–2 make red, 3–5 green,
// 6–8 blue. The tables are rebuilt only when a setting changes; the per-pixel work is table look-ups,
// additions and one division by 100 per channel, so that the preview can follow every slider move.
class ColorizeEngine {
  public:
    using MixTable = std::array<std::int32_t, 256>;
    static constexpr int kMixTableCount = 9;
    // Pixels of exactly this colour (blue, green, red: magenta) keep their colour in palette, 16- and
    // 24-bit images; it is the transparent colour of many old bitmaps.
    static constexpr std::uint8_t kKeyBlue = 255, kKeyGreen = 0, kKeyRed = 255;

    // Identity tables, saturation off, key colour on.
    ColorizeEngine();

    // Fills one mix table: f = x + offset (linear) or x + offset × (1 − ((x − 127) / 128)²) (curve,
    // full effect at 127 and none at the ends), limited to 0 … 255; entry = weight × f + 0.5,
    // truncated toward zero.
    static void BuildChannelTable(MixTable& table, double offset, double weight, bool linear);
    // All nine tables from a hue (1536 steps make a full turn; any integer is accepted) and the three
    // brightness offsets. lightSource: the offset belongs to the input channel (brightness applied to
    // the source colours before mixing), otherwise to the output channel.
    void BuildHueTables(int hue, int offset0, int offset1, int offset2, bool lightSource, bool linear);
    // All nine tables from explicit weights (percent, in table order) and the brightness offsets.
    void BuildMatrixTables(const std::array<double, kMixTableCount>& weights, int offset0, int offset1,
                           int offset2, bool lightSource, bool linear);
    // The amount subtracted from a channel at distance d (−255 … 255) from the pixel's luminance.
    // The panel passes curveOffset 0, curve mode and factor −s / 256 for a saturation setting s.
    void BuildSaturationTable(double curveOffset, double factor, bool linear);

    const MixTable& mix(int index) const { return mix_.at(static_cast<std::size_t>(index)); }
    std::int32_t saturation(int distance) const {
        // distance lies in -255..255, so the sum is never negative.
        return saturation_.at(
            static_cast<std::size_t>(distance + 255));  // NOLINT(bugprone-misplaced-widening-cast)
    }
    bool saturationOn() const { return saturationOn_; }
    void setSaturationOn(bool on) { saturationOn_ = on; }
    bool keyColourOn() const { return keyColourOn_; }
    void setKeyColourOn(bool on) { keyColourOn_ = on; }

    // The pixel rule on one colour, without the key-colour test.
    void recolorColour(std::uint8_t& red, std::uint8_t& green, std::uint8_t& blue) const;

    // How the image loops run over 24- and 32-bit pixels. Every path gives the same bytes; the wider
    // ones are taken when the processor has the instructions and the tables suit them.
    enum class VectorPath {
        kScalar,      // one pixel at a time
        kAvx2,        // eight pixels at a time, table look-ups by gathers
        kAvx512Vbmi,  // 64 pixels at a time, table look-ups by byte permutes inside the registers
    };
    // The widest path this processor (and build) offers.
    static VectorPath BestVectorPath();
    // The widest path this engine may take (the default: every path); for tests and benchmarks.
    void setVectorLimit(VectorPath limit) { vectorLimit_ = limit; }
    // The path the image loops take with the current tables, limit and processor.
    VectorPath imagePath() const;

    // Recolours a packed DIB in place (40-byte or larger information header, bit masks, palette,
    // pixels): the palette of 1- to 8-bit images, the pixels of 16-, 24- and 32-bit images. Only
    // bytes inside `dib` are touched. E_FAIL when the header does not fit or makes no sense; S_FALSE
    // when the format is one the engine leaves alone (JPEG or PNG compressed, odd bit counts).
    HResult RecolorDib(std::span<std::byte> dib) const;

    // Recolours one .BMP, .ICO, .CUR or .png file (chosen by the last three characters of the name;
    // icon and cursor images stored as PNG too) and replaces it atomically. Other files are skipped with
    // S_OK. Failures are reported (ReportError) and returned; the file is then unchanged.
    HResult RecolorFile(const std::filesystem::path& path) const;

    // How a folder run went: the image files it found (.BMP, .ICO, .CUR, .png in any case) and how
    // many of them it finished without a failure (files left alone as formats the engine does not
    // change count as finished) before it ended.
    struct FolderRun {
        std::size_t files = 0;
        std::size_t done = 0;
        bool stopped = false;  // the progress callback ended the run before the last file
    };
    // Told after every image file how many have been tried and how many there are; returning false
    // ends the run there. Each file is rewritten atomically, so a run ended between two files leaves
    // every file either as it was or fully recoloured (files already written are still committed).
    using FolderProgress = std::function<bool(std::size_t tried, std::size_t total)>;

    // RecolorFile on every image file of `folder` (subfolders are not entered; other files are left
    // alone), in name order. Every file is tried; the result is the first failure, or S_OK.
    HResult RecolorFolder(const std::filesystem::path& folder, const FolderProgress& progress = {},
                          FolderRun* run = nullptr) const;
    // The same over several folders as one run: the files of each folder in name order, the folders
    // in the order given. A folder that cannot be read is reported and the others are still run.
    HResult RecolorFolders(std::span<const std::filesystem::path> folders,
                           const FolderProgress& progress = {}, FolderRun* run = nullptr) const;

  private:
    HResult recolorFile(const std::filesystem::path& path, bool startNewReport) const;
    // The recoloured content of an image file; empty when the file stays as it is.
    HResult recolouredBytes(const std::filesystem::path& path, bool startNewReport,
                            std::vector<std::byte>& out) const;
    HResult recolorPng(const std::filesystem::path& path, bool startNewReport,
                       std::vector<std::byte>& out) const;
    // A PNG stream recoloured into `out`, keeping its bit depth, palette size and alpha.
    HResult recolorPngBytes(Bytes png, std::vector<std::byte>& out) const;
    // An icon or cursor file whose image at `offset` is a PNG: the file with the image recoloured.
    HResult recolorIconPng(const std::vector<std::byte>& file, std::uint64_t offset,
                           const std::filesystem::path& path, bool startNewReport,
                           std::vector<std::byte>& out) const;
    HResult recolorDibFile(const std::filesystem::path& path, bool icon, bool startNewReport,
                           std::vector<std::byte>& out) const;
    void applyMixWeights(const std::array<double, kMixTableCount>& weights, int offset0, int offset1,
                         int offset2, bool lightSource, bool linear);

    std::array<MixTable, kMixTableCount> mix_{};
    std::array<std::int32_t, 511> saturation_{};  // index distance + 255
    bool saturationOn_ = false;
    bool keyColourOn_ = true;
    VectorPath vectorLimit_ = VectorPath::kAvx512Vbmi;

    friend class ColorizeKernel;
};

}  // namespace kestrel
