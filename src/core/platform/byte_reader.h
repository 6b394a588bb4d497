// Bounds-checked little-endian reading over untrusted bytes. Every parser of file data reads
// through these; nothing casts structures over file bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace kestrel {

using Bytes = std::span<const std::byte>;

inline Bytes asBytes(std::string_view text) {
    return {reinterpret_cast<const std::byte*>(text.data()), text.size()};
}
inline Bytes asBytes(const std::vector<std::byte>& bytes) {
    return {bytes.data(), bytes.size()};
}

// Random-access reader: every read names its offset and fails (nullopt / false) when any byte of it
// lies outside the view. Offsets and sizes are never added without an overflow check.
class ByteReader {
  public:
    ByteReader() = default;
    explicit ByteReader(Bytes bytes) : bytes_(bytes) {}

    std::size_t size() const { return bytes_.size(); }
    bool empty() const { return bytes_.empty(); }
    Bytes bytes() const { return bytes_; }

    // True when [offset, offset + count) lies inside the view.
    bool contains(std::uint64_t offset, std::uint64_t count) const {
        return offset <= bytes_.size() && count <= bytes_.size() - offset;
    }

    std::optional<ByteReader> slice(std::uint64_t offset, std::uint64_t count) const {
        if (!contains(offset, count)) return std::nullopt;
        return ByteReader{bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count))};
    }
    // The bytes from `offset` to the end (empty when offset == size).
    std::optional<ByteReader> from(std::uint64_t offset) const {
        if (offset > bytes_.size()) return std::nullopt;
        return ByteReader{bytes_.subspan(static_cast<std::size_t>(offset))};
    }
    std::optional<Bytes> span(std::uint64_t offset, std::uint64_t count) const {
        if (!contains(offset, count)) return std::nullopt;
        return bytes_.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(count));
    }

    std::optional<std::uint8_t> u8(std::uint64_t offset) const {
        if (!contains(offset, 1)) return std::nullopt;
        return static_cast<std::uint8_t>(bytes_[static_cast<std::size_t>(offset)]);
    }
    std::optional<std::uint16_t> u16(std::uint64_t offset) const {
        if (!contains(offset, 2)) return std::nullopt;
        return static_cast<std::uint16_t>(at(offset) | (at(offset + 1) << 8));
    }
    std::optional<std::uint32_t> u32(std::uint64_t offset) const {
        if (!contains(offset, 4)) return std::nullopt;
        return static_cast<std::uint32_t>(at(offset)) | (static_cast<std::uint32_t>(at(offset + 1)) << 8) |
               (static_cast<std::uint32_t>(at(offset + 2)) << 16) |
               (static_cast<std::uint32_t>(at(offset + 3)) << 24);
    }
    std::optional<std::int32_t> i32(std::uint64_t offset) const {
        auto value = u32(offset);
        if (!value) return std::nullopt;
        return static_cast<std::int32_t>(*value);
    }
    std::optional<std::uint64_t> u64(std::uint64_t offset) const {
        if (!contains(offset, 8)) return std::nullopt;
        return static_cast<std::uint64_t>(*u32(offset)) |
               (static_cast<std::uint64_t>(*u32(offset + 4)) << 32);
    }

    // Reads with a default for fields that may be missing from short structures.
    std::uint8_t u8Or(std::uint64_t offset, std::uint8_t fallback) const {
        return u8(offset).value_or(fallback);
    }
    std::uint16_t u16Or(std::uint64_t offset, std::uint16_t fallback) const {
        return u16(offset).value_or(fallback);
    }
    std::uint32_t u32Or(std::uint64_t offset, std::uint32_t fallback) const {
        return u32(offset).value_or(fallback);
    }

  private:
    std::uint32_t at(std::uint64_t offset) const {
        return static_cast<std::uint8_t>(bytes_[static_cast<std::size_t>(offset)]);
    }
    Bytes bytes_;
};

// Sequential reader with a cursor; a failed read leaves the cursor where it was.
class ByteCursor {
  public:
    explicit ByteCursor(Bytes bytes, std::size_t position = 0) : reader_(bytes), position_(position) {}

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return position_ <= reader_.size() ? reader_.size() - position_ : 0; }
    bool seek(std::uint64_t position) {
        if (position > reader_.size()) return false;
        position_ = static_cast<std::size_t>(position);
        return true;
    }
    bool skip(std::uint64_t count) {
        if (count > remaining()) return false;
        position_ += static_cast<std::size_t>(count);
        return true;
    }
    std::optional<std::uint8_t> u8() { return advance(reader_.u8(position_), 1); }
    std::optional<std::uint16_t> u16() { return advance(reader_.u16(position_), 2); }
    std::optional<std::uint32_t> u32() { return advance(reader_.u32(position_), 4); }
    std::optional<Bytes> take(std::uint64_t count) { return advance(reader_.span(position_, count), count); }

  private:
    template <typename T>
    std::optional<T> advance(std::optional<T> value, std::uint64_t count) {
        if (value) position_ += static_cast<std::size_t>(count);
        return value;
    }
    ByteReader reader_;
    std::size_t position_;
};

// Little-endian writing into a growing byte vector, by shifts.
class ByteWriter {
  public:
    std::vector<std::byte>& bytes() { return bytes_; }
    const std::vector<std::byte>& bytes() const { return bytes_; }
    std::size_t size() const { return bytes_.size(); }

    void u8(std::uint32_t value) { bytes_.push_back(static_cast<std::byte>(value & 0xFF)); }
    void u16(std::uint32_t value) {
        u8(value);
        u8(value >> 8);
    }
    void u32(std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    void append(Bytes data) { bytes_.insert(bytes_.end(), data.begin(), data.end()); }
    void zeros(std::size_t count) { bytes_.insert(bytes_.end(), count, std::byte{0}); }
    // Pads with zeros up to a multiple of `alignment` (a power of two or any positive number).
    void alignTo(std::size_t alignment) {
        if (alignment > 1 && bytes_.size() % alignment != 0) zeros(alignment - bytes_.size() % alignment);
    }
    // Overwrites an already written field.
    void patchU16(std::size_t offset, std::uint32_t value) {
        bytes_.at(offset) = static_cast<std::byte>(value & 0xFF);
        bytes_.at(offset + 1) = static_cast<std::byte>((value >> 8) & 0xFF);
    }
    void patchU32(std::size_t offset, std::uint32_t value) {
        patchU16(offset, value & 0xFFFF);
        patchU16(offset + 2, value >> 16);
    }

  private:
    std::vector<std::byte> bytes_;
};

}  // namespace kestrel
