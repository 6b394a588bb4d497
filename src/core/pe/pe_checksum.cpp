#include "core/pe/pe_checksum.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace kestrel {

void PeChecksum::add(Bytes data) {
    std::size_t index = 0;
    if (havePendingLow_ && !data.empty()) {
        addWord(pendingLow_ | (static_cast<std::uint32_t>(data[0]) << 8));
        havePendingLow_ = false;
        index = 1;
    }
    // The end-around carry sum is addition modulo 0xFFFF (zero only when every word is zero), so
    // the words can be added up in 64 bits and folded once: a 64-bit total of 16-bit words cannot
    // overflow for any input that fits in memory.
    std::uint64_t total = 0;
    if constexpr (std::endian::native == std::endian::little) {
        // Four words at a time: the even and the odd words of 8 bytes go into two 32-bit lanes,
        // emptied into the total before a lane can carry into its neighbour.
        constexpr std::uint64_t kLanes = 0x0000FFFF0000FFFFull;
        constexpr std::size_t kBlock = 8 * 16384;
        while (data.size() - index >= 8) {
            const std::size_t end = index + std::min(kBlock, (data.size() - index) & ~std::size_t{7});
            std::uint64_t lanes = 0;
            for (; index < end; index += 8) {
                std::uint64_t eight = 0;
                std::memcpy(&eight, data.data() + index, 8);
                lanes += (eight & kLanes) + ((eight >> 16) & kLanes);
            }
            total += (lanes & 0xFFFFFFFF) + (lanes >> 32);
        }
    }
    for (; index + 1 < data.size(); index += 2)
        total += static_cast<std::uint32_t>(data[index]) | (static_cast<std::uint32_t>(data[index + 1]) << 8);
    while (total > 0xFFFF)
        total = (total & 0xFFFF) + (total >> 16);
    addWord(static_cast<std::uint32_t>(total));
    if (index < data.size()) {
        pendingLow_ = static_cast<std::uint32_t>(data[index]);
        havePendingLow_ = true;
    }
    length_ += data.size();
}

void PeChecksum::addZeros(std::uint64_t count) {
    if (count == 0) return;
    // Zero words add nothing; only a pending low byte and the parity of the run matter.
    if (havePendingLow_) {
        addWord(pendingLow_);
        havePendingLow_ = false;
        --count;
        ++length_;
    }
    if (count % 2 == 1) {
        pendingLow_ = 0;
        havePendingLow_ = true;
    }
    length_ += count;
}

std::uint32_t PeChecksum::finish() const {
    std::uint32_t sum = sum_;
    if (havePendingLow_) {
        sum += pendingLow_;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<std::uint32_t>(sum + length_);
}

std::uint32_t computePeChecksum(Bytes image, std::uint64_t checksumOffset) {
    PeChecksum checksum;
    if (checksumOffset >= image.size()) {
        checksum.add(image);
        return checksum.finish();
    }
    std::size_t fieldStart = static_cast<std::size_t>(checksumOffset);
    std::size_t fieldEnd = std::min(image.size(), fieldStart + 4);
    checksum.add(image.first(fieldStart));
    checksum.addZeros(fieldEnd - fieldStart);
    checksum.add(image.subspan(fieldEnd));
    return checksum.finish();
}

}  // namespace kestrel
