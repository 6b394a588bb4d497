// The standard PE image checksum (the optional header's CheckSum field), computed incrementally so
// that an output written in pieces never has to be held whole.
#pragma once

#include <cstdint>

#include "core/platform/byte_reader.h"

namespace kestrel {

// Sums the file as little-endian 16-bit words with end-around carry, then adds the file length.
// The CheckSum field itself must be fed as zeros.
class PeChecksum {
  public:
    void add(Bytes data);
    void addZeros(std::uint64_t count);
    std::uint32_t finish() const;

  private:
    void addWord(std::uint32_t word) {
        sum_ += word;
        sum_ = (sum_ & 0xFFFF) + (sum_ >> 16);
    }
    std::uint32_t sum_ = 0;
    std::uint64_t length_ = 0;
    // A byte at an even offset waiting for its high half.
    bool havePendingLow_ = false;
    std::uint32_t pendingLow_ = 0;
};

// The checksum of a whole image held in memory, treating the 4 bytes at `checksumOffset` as zero.
std::uint32_t computePeChecksum(Bytes image, std::uint64_t checksumOffset);

}  // namespace kestrel
