// Resource-by-resource comparison of an original image with its rebuilt copy, with the allowances
// of an unchanged round trip: a 32-bit bitmap stored as PNG keeps its size, bit count and pixels but
// gets the information header the rebuild writes, and string blocks are compared string by string.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "compile_test_support.h"

namespace kestrel::testing {

struct DibPixels {
    std::int64_t width = 0, height = 0;
    std::uint32_t bitCount = 0;
    std::vector<std::byte> rows;  // top row first
    bool operator==(const DibPixels&) const = default;
};

// The pixels of an uncompressed 24/32-bit packed DIB (masks of a BI_BITFIELDS header skipped).
inline std::optional<DibPixels> dibPixels(const std::vector<std::byte>& dib) {
    ByteReader reader(Bytes(dib.data(), dib.size()));
    auto headerSize = reader.u32(0);
    auto width = reader.i32(4);
    auto height = reader.i32(8);
    auto bitCount = reader.u16(14);
    auto compression = reader.u32(16);
    if (!headerSize || !width || !height || !bitCount || !compression || *width <= 0 || *height == 0)
        return std::nullopt;
    if (*bitCount < 24 || (*compression != 0 && *compression != 3)) return std::nullopt;
    std::uint64_t offset = *headerSize + (*compression == 3 && *headerSize == 40 ? 12 : 0);
    std::uint64_t rowBytes = (std::uint64_t{*bitCount} * *width + 31) / 32 * 4;
    std::uint64_t rows = *height < 0 ? -std::int64_t{*height} : *height;
    auto pixels = reader.span(offset, rowBytes * rows);
    if (!pixels) return std::nullopt;
    DibPixels out{*width, static_cast<std::int64_t>(rows), *bitCount, {}};
    for (std::uint64_t r = 0; r < rows; ++r) {
        std::uint64_t stored = *height < 0 ? r : rows - 1 - r;
        auto row = pixels->subspan(stored * rowBytes, rowBytes);
        out.rows.insert(out.rows.end(), row.begin(), row.end());
    }
    return out;
}

// The 16 strings of a string block (a padding slot after the 16th is ignored).
inline std::optional<std::vector<std::u16string>> blockStrings(const std::vector<std::byte>& block) {
    ByteReader reader(Bytes(block.data(), block.size()));
    std::vector<std::u16string> out;
    std::uint64_t at = 0;
    for (int slot = 0; slot < 16; ++slot) {
        auto length = reader.u16(at);
        if (!length) return std::nullopt;
        at += 2;
        std::u16string text;
        for (std::uint16_t i = 0; i < *length; ++i, at += 2) {
            auto unit = reader.u16(at);
            if (!unit) return std::nullopt;
            text += static_cast<char16_t>(*unit);
        }
        out.push_back(std::move(text));
    }
    return out;
}

inline bool isBitmapKey(const std::string& key) {
    return key.rfind("i:2/", 0) == 0;
}
inline bool isStringKey(const std::string& key) {
    return key.rfind("i:6/", 0) == 0;
}

// Compares every resource; returns the number compared.
inline std::size_t expectSameResources(const std::vector<std::byte>& original,
                                       const std::vector<std::byte>& rebuilt) {
    auto before = resourcesOf(original);
    auto after = resourcesOf(rebuilt);
    EXPECT_FALSE(before.empty());
    for (const auto& [key, bytes] : before) {
        auto found = after.find(key);
        if (found == after.end()) {
            ADD_FAILURE() << "resource lost: " << key;
            continue;
        }
        if (bytes == found->second) continue;
        if (isBitmapKey(key)) {
            auto a = dibPixels(bytes), b = dibPixels(found->second);
            EXPECT_TRUE(a && b && *a == *b) << "bitmap pixels differ: " << key;
        } else if (isStringKey(key)) {
            auto a = blockStrings(bytes), b = blockStrings(found->second);
            EXPECT_TRUE(a && b && *a == *b) << "strings differ: " << key;
        } else {
            ADD_FAILURE() << "resource bytes differ: " << key << " (" << bytes.size() << " → "
                          << found->second.size() << " bytes)";
        }
    }
    for (const auto& [key, bytes] : after)
        if (!before.count(key)) ADD_FAILURE() << "resource added: " << key;
    return before.size();
}

// Every section but the resource section keeps its bytes.
inline void expectSameSections(const PeFields& original, const PeFields& rebuilt) {
    ASSERT_EQ(original.sectionCount(), rebuilt.sectionCount());
    for (std::size_t i = 0; i < original.sectionCount(); ++i) {
        EXPECT_EQ(original.sectionName(i), rebuilt.sectionName(i));
        if (original.sectionName(i) == ".rsrc") continue;
        EXPECT_EQ(original.rawData(i), rebuilt.rawData(i)) << original.sectionName(i);
        EXPECT_EQ(original.virtualSize(i), rebuilt.virtualSize(i)) << original.sectionName(i);
    }
}

}  // namespace kestrel::testing
