#include "core/platform/byte_reader.h"

#include <gtest/gtest.h>

#include <limits>

namespace kestrel {
namespace {

constexpr std::uint64_t kHuge = std::numeric_limits<std::uint64_t>::max();

TEST(ByteReader, ReadsLittleEndianAndRefusesEveryByteOutside) {
    const std::string data("\x01\x02\x03\x04\x05\x06\x07\x08\x09", 9);
    ByteReader reader(asBytes(data));
    EXPECT_EQ(reader.u16(0), 0x0201u);
    EXPECT_EQ(reader.u32(5), 0x09080706u);
    EXPECT_EQ(reader.u64(1), 0x0908070605040302ull);
    EXPECT_EQ(reader.i32(0), 0x04030201);
    EXPECT_FALSE(reader.u32(6).has_value());
    EXPECT_FALSE(reader.u64(2).has_value());
    EXPECT_FALSE(reader.u8(9).has_value());
    // Offsets near the top of the range must not wrap around to the start.
    for (std::uint64_t offset : {kHuge, kHuge - 1, kHuge - 3, kHuge - 7}) {
        EXPECT_FALSE(reader.u8(offset).has_value());
        EXPECT_FALSE(reader.u32(offset).has_value());
        EXPECT_FALSE(reader.u64(offset).has_value());
        EXPECT_FALSE(reader.slice(offset, 2).has_value());
        EXPECT_FALSE(reader.slice(2, offset).has_value());
    }
    EXPECT_EQ(reader.slice(9, 0)->size(), 0u);
    EXPECT_EQ(reader.from(9)->size(), 0u);
    EXPECT_FALSE(reader.from(10).has_value());
    EXPECT_EQ(reader.u32Or(7, 0xFEEDu), 0xFEEDu);
}

TEST(ByteCursor, AFailedReadLeavesTheCursor) {
    const std::string data("\x01\x02\x03", 3);
    ByteCursor cursor(asBytes(data));
    EXPECT_EQ(cursor.u16(), 0x0201u);
    EXPECT_FALSE(cursor.u16().has_value());
    EXPECT_EQ(cursor.position(), 2u);
    EXPECT_FALSE(cursor.take(kHuge).has_value());
    EXPECT_FALSE(cursor.skip(kHuge));
    EXPECT_EQ(cursor.u8(), 3u);
    EXPECT_EQ(cursor.remaining(), 0u);
    EXPECT_FALSE(cursor.seek(4));
}

TEST(ByteWriter, WritesAlignsAndPatches) {
    ByteWriter writer;
    writer.u8(0xAA);
    writer.alignTo(4);
    writer.u32(0x11223344);
    writer.patchU16(0, 0xBEEF);
    const std::string expected("\xEF\xBE\x00\x00\x44\x33\x22\x11", 8);
    ASSERT_EQ(writer.size(), expected.size());
    EXPECT_TRUE(std::equal(writer.bytes().begin(), writer.bytes().end(), asBytes(expected).begin()));
}

}  // namespace
}  // namespace kestrel
