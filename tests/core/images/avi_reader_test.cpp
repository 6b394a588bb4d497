#include "core/images/avi_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/images/image_record.h"
#include "core/platform/files.h"
#include "support/dib_builders.h"

namespace kestrel {
namespace {

using ByteVector = std::vector<std::byte>;
using Pixels = std::vector<std::uint32_t>;

constexpr std::uint32_t kRed = 0xFFFF0000u, kGreen = 0xFF00FF00u, kBlue = 0xFF0000FFu;
constexpr std::uint32_t kWhite = 0xFFFFFFFFu, kBlack = 0xFF000000u;

// A RIFF chunk: ID, size, data and the pad byte of an odd size.
ByteVector chunk(std::string_view id, const ByteVector& data) {
    ByteWriter out;
    out.append(asBytes(id));
    out.u32(static_cast<std::uint32_t>(data.size()));
    out.append(asBytes(data));
    out.alignTo(2);
    return out.bytes();
}

ByteVector list(std::string_view form, const std::vector<ByteVector>& children,
                std::string_view id = "LIST") {
    ByteWriter body;
    body.append(asBytes(form));
    for (const ByteVector& child : children)
        body.append(asBytes(child));
    return chunk(id, body.bytes());
}

ByteVector bytesOf(std::initializer_list<int> values) {
    ByteVector out;
    for (int value : values)
        out.push_back(static_cast<std::byte>(value));
    return out;
}

struct MoviePlan {
    std::int32_t width = 3;
    std::int32_t height = 2;
    std::uint16_t bitCount = 8;
    std::uint32_t compression = kBiRgb;
    std::vector<std::uint32_t> palette{};  // 0xRRGGBB, written as blue, green, red, 0
    std::string_view streamType = "vids";
    bool audioFirst = false;          // an audio stream before the video: its frames are "01d?"
    std::vector<ByteVector> movie{};  // the movi list's contents as written
};

ByteVector makeAvi(const MoviePlan& plan) {
    ByteWriter mainHeader, format;
    mainHeader.u32(66666);  // microseconds per frame
    mainHeader.zeros(52);
    testing::writeInfoHeader(format, plan.width, plan.height, plan.bitCount, plan.compression,
                             static_cast<std::uint32_t>(plan.palette.size()));
    for (std::uint32_t colour : plan.palette)
        format.u32(colour & 0xFFFFFF);
    // A stream header starts with the stream's type; the rest does not matter here.
    const auto stream = [](std::string_view type, const ByteVector& streamFormat) {
        ByteWriter header;
        header.append(asBytes(type));
        header.zeros(52);
        return list("strl", {chunk("strh", header.bytes()), chunk("strf", streamFormat)});
    };
    std::vector<ByteVector> headers{chunk("avih", mainHeader.bytes())};
    if (plan.audioFirst) headers.push_back(stream("auds", ByteVector(18)));
    headers.push_back(stream(plan.streamType, format.bytes()));
    return list("AVI ",
                {list("hdrl", headers), chunk("JUNK", ByteVector(30)), list("movi", plan.movie),
                 chunk("idx1", ByteVector(16, std::byte{0xEE}))},
                "RIFF");
}

HResult read(const ByteVector& file, AviMovie& movie) {
    return ReadAvi(asBytes(file), movie);
}

// The stored rows of a picture given top row first, padded to four bytes; palette pictures use the
// pixel number as the index. The fourth byte of 32-bit pixels stays 0: movies have no alpha.
ByteVector storeFrame(const Pixels& picture, std::uint16_t bits, bool topDown) {
    const std::size_t width = 3, height = picture.size() / 3, rowBytes = storedRowBytes(width, bits);
    ByteVector out(rowBytes * height);
    for (std::size_t pixel = 0; pixel < picture.size(); ++pixel) {
        const std::size_t x = pixel % width, y = pixel / width;
        const std::size_t row = (topDown ? y : height - 1 - y) * rowBytes;
        const std::uint32_t colour = picture[pixel];
        if (bits <= 8) {
            out[row + x * bits / 8] |= static_cast<std::byte>(pixel << (8 - bits - x * bits % 8));
        } else if (bits == 16) {
            const std::uint32_t value =
                ((colour >> 9) & 0x7C00) | ((colour >> 6) & 0x3E0) | ((colour >> 3) & 0x1F);
            out[row + 2 * x] = static_cast<std::byte>(value & 0xFF);
            out[row + 2 * x + 1] = static_cast<std::byte>(value >> 8);
        } else {
            for (std::size_t i = 0; i < 3; ++i)
                out[row + x * (bits / 8) + i] = static_cast<std::byte>(colour >> (8 * i));
        }
    }
    return out;
}

// Three 8-bit frames of stream 1 among audio chunks, a record list and chunks of another stream.
MoviePlan paletteMovie() {
    MoviePlan plan{.audioFirst = true};
    plan.palette = {0xFF0000, 0x00FF00, 0x0000FF};
    // Rows bottom-up, padded to four bytes; index 7 lies beyond the colour table.
    const ByteVector first = bytesOf({0, 1, 2, 0, 2, 2, 2, 0});
    plan.movie = {
        chunk("01dc", first), chunk("00wb", bytesOf({0x55, 0x66, 0x77})),  // odd size: a pad byte follows
        list("rec ", {chunk("01db", bytesOf({1, 1, 1, 0, 7, 0, 1, 0})), chunk("00wb", bytesOf({1}))}),
        chunk("02dc", ByteVector(8, std::byte{1})),  // a stream that is not ours
        chunk("01db", first)};
    return plan;
}

// An RLE8 key frame, a frame that changes two pixels and a repeat.
MoviePlan rleMovie() {
    MoviePlan plan{.width = 4, .height = 3, .compression = kBiRle8};
    plan.palette = {0x000000, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
    // Bottom row: a run; middle row: three literals (padded to even) and a run; top row: a run
    // past the right edge; end of picture. Then: move to (1, 1) from the bottom, paint two pixels.
    plan.movie = {chunk("00dc", bytesOf({4, 1, 0, 0, 0, 3, 2, 3, 4, 0, 1, 1, 0, 0, 6, 2, 0, 1})),
                  chunk("00dc", bytesOf({0, 2, 1, 1, 2, 4, 0, 1})), chunk("00dc", {})};
    return plan;
}

TEST(AviReader, PaletteMovieSkipsOtherStreamsJunkAndIndex) {
    ByteVector file = makeAvi(paletteMovie());
    file.resize(file.size() + 100);  // resources are padded
    AviMovie movie;
    ASSERT_EQ(read(file, movie), kOk);
    EXPECT_EQ(movie.frameMicroseconds, 66666u);
    EXPECT_EQ(movie.width, 3);
    EXPECT_EQ(movie.height, 2);
    ASSERT_EQ(movie.frames.size(), 3u);
    const Pixels firstPicture{kBlue, kBlue, kBlue, kRed, kGreen, kBlue};
    EXPECT_EQ(movie.frames[0].pixels, firstPicture);
    EXPECT_EQ(movie.frames[1].pixels, (Pixels{kBlack, kRed, kGreen, kGreen, kGreen, kGreen}));
    EXPECT_EQ(movie.frames[2].pixels, firstPicture);
}

TEST(AviReader, UncompressedFramesKeepColoursAndRowOrder) {
    // Colour values that 5-5-5 pixels hold exactly.
    const Pixels picture{0xFFFF8400u, 0xFF0042FFu, kWhite, 0xFF844200u, kBlack, 0xFF00FF84u};
    for (const auto& [bits, topDown] : std::initializer_list<std::pair<std::uint16_t, bool>>{
             {4, false}, {8, true}, {16, false}, {24, false}, {24, true}, {32, false}}) {
        SCOPED_TRACE(std::to_string(bits) + (topDown ? " bits top-down" : " bits bottom-up"));
        MoviePlan plan{.height = topDown ? -2 : 2, .bitCount = bits};
        if (bits <= 8) plan.palette = picture;
        plan.movie = {chunk("00db", storeFrame(picture, bits, topDown))};
        AviMovie movie;
        ASSERT_EQ(read(makeAvi(plan), movie), kOk);
        EXPECT_EQ(movie.height, 2);
        ASSERT_EQ(movie.frames.size(), 1u);
        EXPECT_EQ(movie.frames[0].pixels, picture);
    }
}

TEST(AviReader, Rle8FramesPaintOverThePreviousFrame) {
    AviMovie movie;
    ASSERT_EQ(read(makeAvi(rleMovie()), movie), kOk);
    ASSERT_EQ(movie.frames.size(), 3u);
    EXPECT_EQ(movie.frames[0].pixels,
              (Pixels{kGreen, kGreen, kGreen, kGreen, kGreen, kBlue, kWhite, kRed, kRed, kRed, kRed, kRed}));
    const Pixels changed{kGreen, kGreen, kGreen, kGreen, kGreen, kWhite,
                         kWhite, kRed,   kRed,   kRed,   kRed,   kRed};
    EXPECT_EQ(movie.frames[1].pixels, changed);
    EXPECT_EQ(movie.frames[2].pixels, changed);  // a chunk of size 0 repeats the frame
}

TEST(AviReader, Rle8StopsAtTheEdgesOfThePictureAndTheData) {
    struct Case {
        const char* name;
        ByteVector data;
        Pixels picture;  // 4 × 2 over black, top row first
    };
    const Pixels black(4, kBlack);
    const auto rows = [](const Pixels& top, const Pixels& bottom) {
        Pixels out = top;
        out.insert(out.end(), bottom.begin(), bottom.end());
        return out;
    };
    const std::vector<Case> cases{
        {"run past the right edge does not wrap", bytesOf({6, 1, 0, 1}), rows(black, Pixels(4, kRed))},
        {"literals past the right edge", bytesOf({0, 2, 3, 1, 0, 3, 1, 2, 2, 0}),
         rows({kBlack, kBlack, kBlack, kRed}, black)},
        {"literals cut off by the end of the data", bytesOf({0, 4, 1, 2}),
         rows(black, {kRed, kGreen, kBlack, kBlack})},
        {"move past the top ends the picture", bytesOf({0, 2, 0, 5, 4, 1}), rows(black, black)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MoviePlan plan{.width = 4, .height = 2, .compression = kBiRle8};
        plan.palette = {0x000000, 0xFF0000, 0x00FF00};
        plan.movie = {chunk("00dc", c.data)};
        AviMovie movie;
        ASSERT_EQ(read(makeAvi(plan), movie), kOk);
        ASSERT_EQ(movie.frames.size(), 1u);
        EXPECT_EQ(movie.frames[0].pixels, c.picture);
    }
}

// `depth` 'rec ' lists around one frame, written from the outside in.
ByteVector nestedRecords(std::size_t depth, const ByteVector& frame) {
    ByteWriter out;
    for (std::size_t level = 0; level < depth; ++level) {
        out.append(asBytes("LIST"));
        out.u32(static_cast<std::uint32_t>(4 + 12 * (depth - 1 - level) + frame.size()));
        out.append(asBytes("rec "));
    }
    out.append(asBytes(frame));
    return out.bytes();
}

TEST(AviReader, HostileFilesFailWithAnEmptyMovie) {
    const ByteVector frame = chunk("00db", ByteVector(8, std::byte{1}));
    const auto movieWith = [&](auto change) {
        MoviePlan plan{.palette = {0x123456, 0x654321}};
        plan.movie = {frame};
        change(plan);
        return makeAvi(plan);
    };
    const ByteVector good = movieWith([](MoviePlan&) {});
    ByteVector notRiff = good;
    notRiff[3] = std::byte{'X'};
    // The frame chunk ends the movie list, followed by the 24-byte index chunk.
    const std::size_t frameSizeField = good.size() - 24 - frame.size() + 4;
    ByteVector frameTooLong = good, frameHuge = good;
    frameTooLong[frameSizeField] = std::byte{9};  // one byte more than its list holds
    std::fill_n(frameHuge.begin() + static_cast<std::ptrdiff_t>(frameSizeField), 4, std::byte{0xFF});

    struct Case {
        const char* name;
        ByteVector file;
        HResult expected;
    };
    const std::vector<Case> cases{
        {"empty", {}, kFail},
        {"not RIFF", notRiff, kFail},
        {"file cut short", ByteVector(good.begin(), good.end() - 5), kFail},
        {"frame chunk one byte past its list", frameTooLong, kFail},
        {"frame chunk size beyond the file", frameHuge, kFail},
        {"partial chunk header", movieWith([](MoviePlan& p) {
             p.movie.push_back(bytesOf({'0', '0', 'd'}));
         }),
         kFail},
        {"frame one byte short", movieWith([](MoviePlan& p) { p.movie = {chunk("00db", ByteVector(7))}; }),
         kFail},
        {"width above the limit", movieWith([](MoviePlan& p) { p.width = kMaxAviDimension + 1; }),
         kInvalidArg},
        {"height above the limit", movieWith([](MoviePlan& p) { p.height = -kMaxAviDimension - 1; }),
         kInvalidArg},
        {"impossible bit count", movieWith([](MoviePlan& p) { p.bitCount = 7; }), kInvalidArg},
        {"RLE8 stored top-down", movieWith([](MoviePlan& p) { p.compression = kBiRle8, p.height = -2; }),
         kInvalidArg},
        {"another codec", movieWith([](MoviePlan& p) { p.compression = kBiBitfields, p.bitCount = 16; }),
         kFail},
        {"no video stream", movieWith([](MoviePlan& p) { p.streamType = "auds"; }), kFail},
        {"no frames", movieWith([](MoviePlan& p) { p.movie.clear(); }), kFail},
        {"records nested too deep", movieWith([&](MoviePlan& p) { p.movie = {nestedRecords(3, frame)}; }),
         kFail},
        {"records nested 50000 deep",
         movieWith([&](MoviePlan& p) { p.movie = {nestedRecords(50000, frame)}; }), kFail},
        {"one frame beyond the memory cap", movieWith([](MoviePlan& p) {
             p.width = p.height = kMaxAviDimension;
             p.movie = {chunk("00db", {})};
         }),
         kOutOfMemory},
        {"more frames than allowed", movieWith([](MoviePlan& p) {
             p.width = p.height = 1;
             p.movie.assign(kMaxAviFrames + 1, chunk("00db", {}));
         }),
         kOutOfMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AviMovie movie{.frameMicroseconds = 1, .width = 5, .height = 5, .frames = std::vector<RgbaImage>(2)};
        EXPECT_EQ(read(c.file, movie), c.expected);
        EXPECT_TRUE(movie.frames.empty());
        EXPECT_EQ(movie.width + movie.height + movie.frameMicroseconds, 0u);
    }
    AviMovie movie;
    EXPECT_EQ(read(good, movie), kOk);
    EXPECT_EQ(read(movieWith([&](MoviePlan& p) { p.movie = {nestedRecords(2, frame)}; }), movie), kOk);
}

// Writes the seed corpus of the AVI fuzz target. Disabled: run it on purpose with
//   tests_images --gtest_also_run_disabled_tests --gtest_filter='AviFuzzSeeds*'
// and commit what changed under fuzz/corpus/avi_read/.
TEST(AviFuzzSeeds, DISABLED_Write) {
    const auto folder = std::filesystem::path(KESTREL_SOURCE_DIR) / "fuzz" / "corpus" / "avi_read";
    ASSERT_EQ(CreateFolderPath(folder), kOk);
    const auto write = [&folder](const std::string& name, const MoviePlan& plan) {
        ASSERT_EQ(WriteWholeFile(folder / name, asBytes(makeAvi(plan))), kOk);
    };
    write("palette8.avi", paletteMovie());
    write("rle8.avi", rleMovie());
    for (std::uint16_t bits : {4, 16, 24, 32}) {
        for (bool topDown : {false, true}) {
            MoviePlan plan{.height = topDown ? -2 : 2, .bitCount = bits};
            if (bits <= 8) plan.palette = {0xFF0000, 0x00FF00};
            plan.movie = {chunk("00db", storeFrame(Pixels(6, kBlue), bits, topDown)), chunk("00db", {})};
            write("rgb" + std::to_string(bits) + (topDown ? "_topdown.avi" : ".avi"), plan);
        }
    }
}

}  // namespace
}  // namespace kestrel
