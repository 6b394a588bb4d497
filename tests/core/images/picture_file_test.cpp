#include "core/images/picture_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using pebuilder::ByteVector;
using testing::TempDir;
using namespace std::string_literals;

ByteVector withU32(ByteVector bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + static_cast<std::size_t>(i)] = static_cast<std::byte>(value >> (8 * i));
    return bytes;
}

TEST(PictureFile, KindIsTheGroupSubModeOrTheExtensionInAnyCase) {
    EXPECT_EQ(imageKindOf("a.BmP", 0), ImageKind::kBitmap);
    EXPECT_EQ(imageKindOf("dir.png/A.PNG", 0), ImageKind::kPng);
    EXPECT_EQ(imageKindOf("x.Ico", 0), ImageKind::kIcon);
    EXPECT_EQ(imageKindOf("x.cur", 0), ImageKind::kCursor);
    EXPECT_EQ(imageKindOf("x.gif", 0), ImageKind::kOther);
    EXPECT_EQ(imageKindOf("bmp", 0), ImageKind::kOther);  // a name without an extension
    // A group's file is a group whatever it is called.
    EXPECT_EQ(imageKindOf("x.ico", 9), ImageKind::kIconGroup);
    EXPECT_EQ(imageKindOf("x.bmp", 10), ImageKind::kCursorGroup);
}

TEST(PictureFile, FormatsAreToldByTheirFirstBytesAndABmpMustHoldTogether) {
    const ByteVector bmp = pebuilder::bmpFileFromDib(pebuilder::makeDib({8, 8, 24}));
    const std::uint64_t size = bmp.size();
    EXPECT_EQ(pictureFormatOf(bmp, size), PictureFormat::kBmp);
    // "BM" with an unknown header size, pixels inside the headers, or pixels after the file's end.
    EXPECT_EQ(pictureFormatOf(withU32(bmp, 14, 41), size), PictureFormat::kUnknown);
    EXPECT_EQ(pictureFormatOf(withU32(bmp, 10, 53), size), PictureFormat::kUnknown);
    EXPECT_EQ(pictureFormatOf(withU32(bmp, 10, static_cast<std::uint32_t>(size) + 1), size),
              PictureFormat::kUnknown);
    EXPECT_EQ(pictureFormatOf(pebuilder::bytesOf("BM"), 2), PictureFormat::kUnknown);

    const std::vector<std::pair<std::string, PictureFormat>> heads = {
        {"GIF89a...."s, PictureFormat::kGif},
        {"GIF87a"s, PictureFormat::kGif},
        {"\xFF\xD8\xFF\xE0"s, PictureFormat::kJpeg},
        {"RIFF\x10\0\0\0AVI LIST"s, PictureFormat::kAvi},
        {"RIFF\x10\0\0\0WEBPVP8 "s, PictureFormat::kWebp},
        {"RIFF\x10\0\0\0WAVE"s, PictureFormat::kUnknown},
        {"II*\0"s, PictureFormat::kTiff},
        {"MM\0*"s, PictureFormat::kTiff},
        {"RIFF"s, PictureFormat::kUnknown},  // too short to say
        {""s, PictureFormat::kUnknown},
    };
    for (const auto& [head, format] : heads) {
        const ByteVector bytes = pebuilder::bytesOf(head);
        EXPECT_EQ(pictureFormatOf(bytes, bytes.size()), format) << head;
    }

    TempDir temp;
    EXPECT_EQ(pictureFileFormat(temp.write("picture.dat", pebuilder::makePngIconImage(16).data)),
              PictureFormat::kPng);
    EXPECT_EQ(pictureFileFormat(temp.write("empty.png", ByteVector{})), PictureFormat::kUnknown);
    EXPECT_EQ(pictureFileFormat(temp / "missing.png"), PictureFormat::kUnknown);
}

TEST(PictureFile, ShownDibsComeFromEachKindAndUnreadableFilesGiveNone) {
    TempDir temp;
    const ByteVector dib = pebuilder::makeDib({8, 8, 24});
    const auto bitmap = loadShownDib(temp.write("a.bmp", pebuilder::bmpFileFromDib(dib)), ImageKind::kBitmap);
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->dib, dib);
    EXPECT_FALSE(bitmap->iconImage);
    EXPECT_EQ(bitmap->shownSize, dib.size());

    // A file header the BMP reader refuses: the bytes after it, as far as they go.
    ByteVector refused = pebuilder::bmpFileFromDib(dib);
    refused[0] = std::byte{'X'};
    const auto rest = loadShownDib(temp.write("b.bmp", refused), ImageKind::kBitmap);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->dib, ByteVector(refused.begin() + 14, refused.end()));

    const auto png = loadShownDib(temp.write("c.PNG", pebuilder::makePngIconImage(16).data), ImageKind::kPng);
    ASSERT_TRUE(png);
    EXPECT_EQ(png->shownSize, 16u * 16u * 4u + 40u);
    EXPECT_FALSE(png->iconImage);

    const pebuilder::IconImage icon = pebuilder::makeIconImage(16, 8);
    const auto ico = loadShownDib(temp.write("d.ico", pebuilder::makeIcoFile({icon})), ImageKind::kIcon);
    ASSERT_TRUE(ico);
    EXPECT_TRUE(ico->iconImage);
    EXPECT_EQ(ico->shownSize, icon.data.size());

    EXPECT_FALSE(loadShownDib(temp.write("tiny.bmp", ByteVector(14, std::byte{0x42})), ImageKind::kBitmap));
    EXPECT_FALSE(
        loadShownDib(temp.write("bad.png", pebuilder::bytesOf("\x89PNG\r\n\x1a\n no")), ImageKind::kPng));
    EXPECT_FALSE(loadShownDib(temp / "missing.ico", ImageKind::kIcon));
    EXPECT_FALSE(loadShownDib(temp.write("e.gif", pebuilder::bytesOf("GIF89a")), ImageKind::kOther));
}

}  // namespace
}  // namespace kestrel
