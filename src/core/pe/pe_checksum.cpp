#include "core/pe/pe_checksum.h"

#include <algorithm>
#include <array>

namespace kestrel {

void PeChecksum::add(Bytes data) {
    std::size_t index = 0;
    if (havePendingLow_ && !data.empty()) {
        addWord(pendingLow_ | (static_cast<std::uint32_t>(data[0]) << 8));
        havePendingLow_ = false;
        index = 1;
    }
    for (; index + 1 < data.size(); index += 2)
        addWord(static_cast<std::uint32_t>(data[index]) | (static_cast<std::uint32_t>(data[index + 1]) << 8));
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
