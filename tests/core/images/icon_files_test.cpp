#include "core/images/icon_files.h"

#include <gtest/gtest.h>

#include "colorize_test_files.h"
#include "core/images/image_record.h"
#include "core/images/png_codec.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::iconFile;
using testing::TempDir;
using testing::writeInfoHeader;

struct Member {
    std::uint16_t widthField;   // icon: width byte, height byte; cursor: 16-bit width
    std::uint16_t heightField;  // icon: colour count, reserved; cursor: 16-bit height
    std::uint16_t bitCount;
    std::uint32_t bytes;
    std::uint16_t id;
};

std::vector<std::byte> groupData(std::uint16_t type, std::uint16_t count,
                                 const std::vector<Member>& members) {
    ByteWriter out;
    out.u16(0);
    out.u16(type);
    out.u16(count);
    for (const Member& m : members) {
        out.u16(m.widthField);
        out.u16(m.heightField);
        out.u16(1);
        out.u16(m.bitCount);
        out.u32(m.bytes);
        out.u16(m.id);
    }
    return std::move(out.bytes());
}

const std::string kHeading = " ID    大小    BPP   字节\n";

TEST(IconGroupListing, SizesComeFromTheMembersWhereTheEntriesCannotSayThem) {
    // 32 × 32, and 256 × 256 stored as 0 × 0: the member's picture tells, else 256.
    const auto icons = groupData(1, 2, {{32 | 32 << 8, 0, 32, 4264, 1}, {0, 0, 32, 70000, 2}});
    EXPECT_EQ(GroupListing(asBytes(icons), IconGroupKind::kIcon), " 图象数: 2\n" + kHeading +
                                                                      "  1   32 x 32   32   4264\n"
                                                                      "  2  256 x256   32  70000\n");
    EXPECT_EQ(
        GroupListing(asBytes(icons), IconGroupKind::kIcon, {PictureSize{48, 48}, PictureSize{256, 128}}),
        " 图象数: 2\n" + kHeading +
            "  1   32 x 32   32   4264\n"
            "  2  256 x128   32  70000\n");
    // A cursor entry holds a 16-bit width and the doubled height.
    const auto cursors = groupData(2, 1, {{32, 64, 1, 308, 3}});
    EXPECT_EQ(GroupListing(asBytes(cursors), IconGroupKind::kCursor),
              " 图象数: 1\n" + kHeading + "  3   32 x 32    1    308\n");
    EXPECT_EQ(GroupListing(asBytes(cursors), IconGroupKind::kCursor, {PictureSize{48, 40}}),
              " 图象数: 1\n" + kHeading + "  3   48 x 40    1    308\n");
}

struct TruncatedGroup {
    const char* name;
    std::vector<std::byte> data;
    std::size_t entries;
};

class IconGroupCounts : public ::testing::TestWithParam<TruncatedGroup> {};

TEST_P(IconGroupCounts, ListOnlyTheEntriesTheDataHolds) {
    const auto& data = GetParam().data;
    EXPECT_EQ(ParseGroupEntries(asBytes(data)).size(), GetParam().entries);
    const std::string listing = GroupListing(asBytes(data), IconGroupKind::kIcon);
    EXPECT_EQ(listing.rfind(" 图象数: " + std::to_string(GetParam().entries) + "\n" + kHeading, 0), 0u)
        << listing;
    std::size_t lines = 0;
    for (char c : listing)
        lines += c == '\n';
    EXPECT_EQ(lines, 2 + GetParam().entries);
}

std::vector<std::byte> cut(std::vector<std::byte> data, std::size_t size) {
    data.resize(size);
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    Groups, IconGroupCounts,
    ::testing::Values(
        TruncatedGroup{"Empty", groupData(1, 0, {}), 0},
        TruncatedGroup{"CountBeyondData", groupData(1, 50, {{16, 0, 8, 1, 1}}), 1},
        TruncatedGroup{"MaximumCount", groupData(1, 0xFFFF, {{16, 0, 8, 1, 1}, {48, 0, 8, 1, 2}}), 2},
        TruncatedGroup{"PartialEntry", cut(groupData(1, 2, {{16, 0, 8, 1, 1}, {8, 0, 4, 1, 2}}), 25), 1},
        TruncatedGroup{"ShorterThanTheHeader", cut(groupData(1, 3, {}), 5), 0},
        TruncatedGroup{"NoBytes", {}, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(IconMemberPath, FindsTheMemberInTheGroupFolderIgnoringCase) {
    TempDir dir;
    const auto group = dir.write("1200101", "x");
    dir.write("cursor00003.cur", "x");
    std::filesystem::path path;
    ASSERT_EQ(MemberPath(group, GroupEntry{.id = 3}, IconGroupKind::kCursor, path), kOk);
    // A file system that ignores case opens the file under the stored spelling as well.
    std::error_code ec;
    EXPECT_TRUE(std::filesystem::equivalent(path, dir / "cursor00003.cur", ec)) << path;
    if (dir.namesAreCaseSensitive()) {
        EXPECT_EQ(path, dir / "cursor00003.cur");
    }
    ASSERT_EQ(MemberPath(group, GroupEntry{.id = 65535}, IconGroupKind::kIcon, path), kOk);
    EXPECT_EQ(path, dir / "Icon65535.ICO");
}

std::vector<std::byte> iconImage(std::int32_t size, std::uint16_t bitCount) {
    ByteWriter image;
    writeInfoHeader(image, size, 2 * size, bitCount);
    const std::size_t rowBytes = (static_cast<std::size_t>(size) * bitCount / 8 + 3) / 4 * 4;
    image.zeros(rowBytes * static_cast<std::size_t>(size));
    image.zeros((static_cast<std::size_t>(size) + 31) / 32 * 4 * static_cast<std::size_t>(size));
    return std::move(image.bytes());
}

TEST(IconLoad, HalvesTheStoredHeight) {
    TempDir dir;
    const auto file = iconFile(iconImage(32, 32));
    const auto path = dir.write("Icon00001.ICO", file);
    IconImage image;
    ASSERT_EQ(LoadIconImage(path, image), kOk);
    EXPECT_EQ(image.width, 32);
    EXPECT_EQ(image.height, 32);
    EXPECT_EQ(image.bitCount, 32);
    EXPECT_EQ(image.shownSize, file.size() - 22);
    EXPECT_EQ(ByteReader(asBytes(image.dib)).i32(8), 32);
    EXPECT_FALSE(image.fromPng);
}

TEST(IconLoad, DecodesPngImages) {
    ImageRecord record;
    record.width = 48;
    record.height = 48;
    record.bitDepth = 32;
    ASSERT_EQ(AllocateImageRecord(record), kOk);
    std::vector<std::byte> png;
    ASSERT_EQ(WritePng(record, png), kOk);
    TempDir dir;
    const auto path = dir.write("Icon00002.ICO", iconFile(png));
    IconImage image;
    ASSERT_EQ(LoadIconImage(path, image), kOk);
    EXPECT_TRUE(image.fromPng);
    EXPECT_EQ(image.width, 48);
    EXPECT_EQ(image.height, 48);
    EXPECT_EQ(image.bitCount, 32);
    EXPECT_EQ(image.shownSize, png.size());
}

TEST(IconLoad, FirstImageOfAFileWithSeveralImages) {
    const auto first = iconImage(16, 24), second = iconImage(32, 32);
    ByteWriter out;
    out.u16(0);
    out.u16(1);
    out.u16(2);
    for (const auto* image : {&first, &second}) {
        out.zeros(8);
        out.u32(static_cast<std::uint32_t>(image->size()));
        out.u32(image == &first ? 38 : static_cast<std::uint32_t>(38 + first.size()));
    }
    out.append(asBytes(first));
    out.append(asBytes(second));
    TempDir dir;
    const auto path = dir.write("multi.ico", out.bytes());
    IconImage image;
    ASSERT_EQ(LoadIconImage(path, image), kOk);
    EXPECT_EQ(image.width, 16);
    EXPECT_EQ(image.bitCount, 24);
}

// The first image as the compile takes it: only when everything the directory says holds.
TEST(IconDirectory, FirstImageOnlyWhenTheDirectoryHolds) {
    const std::vector<std::byte> file = iconFile(std::vector<std::byte>(40, std::byte{1}));
    auto with = [&](std::size_t at, std::uint32_t value, int bytes) {
        std::vector<std::byte> changed = file;
        for (int i = 0; i < bytes; ++i)
            changed.at(at + static_cast<std::size_t>(i)) = std::byte((value >> (8 * i)) & 0xFF);
        return changed;
    };
    IconFileImage first;
    ASSERT_EQ(FirstIconFileImage(asBytes(file), first), kOk);
    EXPECT_EQ(first.offset, 22u);
    EXPECT_EQ(first.size, 40u);
    auto refused = [](const std::vector<std::byte>& changed) {
        IconFileImage image;
        return FirstIconFileImage(asBytes(changed), image).failed();
    };
    EXPECT_TRUE(refused(with(2, 3, 2)));    // neither icon nor cursor
    EXPECT_TRUE(refused(with(4, 0, 2)));    // no entry
    EXPECT_TRUE(refused(with(4, 9, 2)));    // entries beyond the image start
    EXPECT_TRUE(refused(with(4, 900, 2)));  // entries beyond the file
    EXPECT_TRUE(refused(with(14, 0, 4)));   // empty image
    EXPECT_TRUE(refused(with(14, 41, 4)));  // image beyond the file
    EXPECT_TRUE(refused(with(18, 21, 4)));  // image inside the directory
    IconDirectory directory;
    EXPECT_EQ(ReadIconDirectory(Bytes(file.data(), 5), directory), kFail);

    // The pane takes the entry's offset only for files of several images.
    EXPECT_EQ(IconImageOffset(asBytes(with(18, 30, 4))), 22u);
    auto several = with(4, 2, 2);
    EXPECT_EQ(IconImageOffset(asBytes(several)), 22u);  // 22 lies inside the two entries
    several = iconFile(std::vector<std::byte>(80, std::byte{1}));
    several[4] = std::byte{2};
    several[18] = std::byte{40};
    EXPECT_EQ(IconImageOffset(asBytes(several)), 40u);
}

// A caller that reads several files into the same variables must not see the last good file's
// directory or image after a read that fails.
TEST(IconDirectory, AFailedReadLeavesNothingOfAnEarlierOne) {
    const std::vector<std::byte> good = iconFile(std::vector<std::byte>(40, std::byte{1}));
    const std::vector<std::byte> shortFile(good.begin(), good.begin() + 5);
    IconDirectory directory;
    IconDirectoryEntry entry;
    IconFileImage image;
    ASSERT_EQ(ReadIconDirectory(asBytes(good), directory), kOk);
    ASSERT_EQ(ReadIconDirectoryEntry(asBytes(good), 0, entry), kOk);
    ASSERT_EQ(FirstIconFileImage(asBytes(good), image), kOk);

    EXPECT_EQ(ReadIconDirectory(asBytes(shortFile), directory), kFail);
    EXPECT_EQ(directory.count, 0);
    EXPECT_TRUE(directory.entries.empty());
    EXPECT_EQ(ReadIconDirectoryEntry(asBytes(good), 3, entry), kFail);  // past the end of the file
    EXPECT_EQ(entry.imageBytes, 0u);
    EXPECT_EQ(entry.imageOffset, 0u);
    EXPECT_EQ(FirstIconFileImage(asBytes(shortFile), image), kFail);
    EXPECT_EQ(image.size, 0u);
    EXPECT_EQ(image.entry.imageBytes, 0u);
}

struct BadIcon {
    const char* name;
    std::vector<std::byte> file;
    HResult expected;
};
class IconLoadFailures : public ::testing::TestWithParam<BadIcon> {};

TEST_P(IconLoadFailures, FailCleanly) {
    TempDir dir;
    const auto path = dir.write("Icon00009.ICO", GetParam().file);
    IconImage image;
    image.width = 7;
    EXPECT_EQ(LoadIconImage(path, image), GetParam().expected);
    EXPECT_TRUE(image.dib.empty());
    EXPECT_EQ(image.width, 0);
}

std::vector<std::byte> withByte(std::vector<std::byte> data, std::size_t at, std::uint8_t value) {
    data.at(at) = std::byte{value};
    return data;
}

// A PNG signature followed by bytes that are no PNG chunks.
std::vector<std::byte> brokenPng() {
    ByteWriter out;
    for (unsigned c : {0x89u, 0x50u, 0x4Eu, 0x47u, 0x0Du, 0x0Au, 0x1Au, 0x0Au})
        out.u8(c);
    for (unsigned i = 0; i < 40; ++i)
        out.u8(i * 37);
    return std::move(out.bytes());
}

INSTANTIATE_TEST_SUITE_P(
    Files, IconLoadFailures,
    ::testing::Values(BadIcon{"Empty", {}, hresultFromWin32(win32::kFileInvalid)},
                      BadIcon{"TenBytes", std::vector<std::byte>(10), kFail},
                      BadIcon{"DirectoryOnly", std::vector<std::byte>(22), kFail},
                      BadIcon{"RowsBeyondTheFile", cut(iconFile(iconImage(32, 32)), 22 + 40 + 100), kFail},
                      BadIcon{"CoreHeader", withByte(iconFile(iconImage(16, 8)), 22, 12), kFail},
                      BadIcon{"HugeHeaderSize", withByte(iconFile(iconImage(16, 8)), 25, 0x80), kFail},
                      BadIcon{"BrokenPng", iconFile(brokenPng()), kFail}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kestrel
