// Many files read whole to be kept until an output is laid out and written.
#pragma once

#include <cstddef>
#include <memory>
#include <span>

#include "core/platform/files.h"

namespace kestrel {

// The files share large blocks of memory instead of each taking its own buffer: the memory is asked
// of the system once per block, and where the system offers huge pages the block is backed by
// them, so that filling it costs one page fault per 2 MiB instead of one per 4 KiB page (thousands
// of small files otherwise spend more time in page faults than in their reads). A block is released
// when the last file held from it is.
class FileArena {
  public:
    // The whole regular file with one open and one read, as ReadWholeFileHeld reads it and with its
    // refusals; `out.owner` keeps the bytes (and the rest of their block) alive.
    HResult read(const fs::path& path, HeldBytes& out);
    // The same for a file already open: all of it, from its start.
    HResult read(FileReader& file, HeldBytes& out);

  private:
    // A new block with room for at least `size` bytes; false when there is no memory for it.
    bool startBlock(std::size_t size);

    std::shared_ptr<std::byte[]> block_;
    std::size_t used_ = 0;
    std::size_t size_ = 0;
};

}  // namespace kestrel
