// Where the data of an original PE file went in the file rebuilt from it. The rebuild records
// every range it carries over (headers, each section's raw data, the overlay) as it lays out the
// output; every file offset stored in the image (the certificate table, the COFF symbol table,
// debug directory entries, ...) is then moved by asking this one map, never by a shift of its own.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel {

class FileRangeMap {
  public:
    // `size` bytes that lay at `oldOffset` in the original lie at `newOffset` in the output.
    struct Range {
        std::uint64_t oldOffset = 0;
        std::uint64_t size = 0;
        std::uint64_t newOffset = 0;
    };

    // Records a carried-over range; empty ranges are ignored. Ranges must not overlap.
    void add(std::uint64_t oldOffset, std::uint64_t size, std::uint64_t newOffset) {
        if (size != 0) ranges_.push_back({oldOffset, size, newOffset});
    }

    // Where the original byte at `oldOffset` is now; nothing when it was not carried over (it lay
    // in data that was rebuilt, such as the old resource section, or outside every kept range).
    std::optional<std::uint64_t> newOffsetOf(std::uint64_t oldOffset) const {
        for (const Range& range : ranges_)
            if (oldOffset >= range.oldOffset && oldOffset - range.oldOffset < range.size)
                return range.newOffset + (oldOffset - range.oldOffset);
        return std::nullopt;
    }

    // The same for `size` bytes from `oldOffset`: only when all of them went to one place.
    std::optional<std::uint64_t> newOffsetOfRange(std::uint64_t oldOffset, std::uint64_t size) const {
        for (const Range& range : ranges_)
            if (oldOffset >= range.oldOffset && oldOffset - range.oldOffset <= range.size &&
                size <= range.size - (oldOffset - range.oldOffset))
                return range.newOffset + (oldOffset - range.oldOffset);
        return std::nullopt;
    }

    // True when the original byte at `oldOffset` lies in a range the rebuild replaced.
    bool replaced(std::uint64_t oldOffset) const {
        for (const Range& range : replaced_)
            if (oldOffset >= range.oldOffset && oldOffset - range.oldOffset < range.size) return true;
        return false;
    }
    // Records original bytes whose content the output holds no longer (a rebuilt section).
    void addReplaced(std::uint64_t oldOffset, std::uint64_t size) {
        if (size != 0) replaced_.push_back({oldOffset, size, 0});
    }

    const std::vector<Range>& ranges() const { return ranges_; }

  private:
    std::vector<Range> ranges_;
    std::vector<Range> replaced_;
};

}  // namespace kestrel
