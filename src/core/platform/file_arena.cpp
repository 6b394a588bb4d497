#include "core/platform/file_arena.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <new>

namespace kestrel {

namespace {

// The first block is small, for the many folders of a few small files, where a huge page would
// be cleared for little use; later blocks start on a huge-page boundary and span whole huge pages,
// one unless a file needs more: the system clears every huge page the moment it is first touched,
// so the last block's unused part costs less the smaller the blocks are.
constexpr std::size_t kHugePage = std::size_t{2} << 20;
constexpr std::size_t kFirstBlockSize = std::size_t{512} << 10;
constexpr std::size_t kBlockSize = kHugePage;
// Each file starts on a cache line, which keeps the later copies of its bytes aligned.
constexpr std::size_t kFileAlignment = 64;

std::size_t roundUp(std::size_t value, std::size_t multiple) {
    return (value + multiple - 1) / multiple * multiple;
}

}  // namespace

bool FileArena::startBlock(std::size_t size) {
    const bool first = size_ == 0;
    const std::size_t blockSize =
        first && size <= kFirstBlockSize ? kFirstBlockSize : std::max(kBlockSize, roundUp(size, kHugePage));
    void* memory = ::operator new[](blockSize, std::align_val_t{kHugePage}, std::nothrow);
    if (!memory) return false;
    AdviseHugePages({static_cast<std::byte*>(memory), blockSize});
    try {
        block_ = std::shared_ptr<std::byte[]>(static_cast<std::byte*>(memory), [](std::byte* bytes) {
            ::operator delete[](bytes, std::align_val_t{kHugePage});
        });
    } catch (const std::bad_alloc&) {
        return false;  // the shared pointer released the block with its deleter
    }
    used_ = 0;
    size_ = blockSize;
    return true;
}

HResult FileArena::read(const fs::path& path, HeldBytes& out) {
    out = {};
    FileReader file;
    if (HResult hr = file.open(path); hr.failed()) return hr;
    return read(file, out);
}

HResult FileArena::read(FileReader& file, HeldBytes& out) {
    out = {};
    const std::uint64_t fileSize = file.size();
    if (fileSize > std::numeric_limits<std::size_t>::max() / 2) return kOutOfMemory;
    const auto size = static_cast<std::size_t>(fileSize);
    if (!block_ || size > size_ - used_) {
        if (!startBlock(size)) return kOutOfMemory;
    }
    const std::span<std::byte> place(block_.get() + used_, size);
    if (HResult hr = file.readAt(0, place); hr.failed()) return hr;
    used_ = std::min(size_, roundUp(used_ + size, kFileAlignment));
    out.bytes = place;
    out.owner = block_;
    return kOk;
}

}  // namespace kestrel
