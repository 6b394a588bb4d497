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
        // Sixteen bytes at a time: the even and the odd words go into 32-bit lanes, emptied into the
        // total before a lane can carry into its neighbour (a lane grows by less than 2^17 a step).
        // Written so that the compiler keeps it in vector registers: the sum runs while the output is
        // copied, and at a scalar word per step it would cost a third of the copy.
        constexpr std::size_t kBlock = 16 * 16384;
#if defined(__GNUC__)
        using Lanes = std::uint32_t __attribute__((vector_size(16)));
        constexpr Lanes kLow = {0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
#endif
        while (data.size() - index >= 16) {
            const std::size_t end = index + std::min(kBlock, (data.size() - index) & ~std::size_t{15});
#if defined(__GNUC__)
            Lanes lanes = {0, 0, 0, 0};
            for (; index < end; index += 16) {
                Lanes sixteen;
                std::memcpy(&sixteen, data.data() + index, 16);
                lanes += (sixteen & kLow) + (sixteen >> 16);
            }
            total += std::uint64_t{lanes[0]} + lanes[1] + lanes[2] + lanes[3];
#else
            std::uint64_t lanes = 0;
            for (; index < end; index += 4) {
                std::uint32_t four = 0;
                std::memcpy(&four, data.data() + index, 4);
                lanes += (four & 0xFFFF) + (four >> 16);
            }
            total += lanes;
#endif
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
