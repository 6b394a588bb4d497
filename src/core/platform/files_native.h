// The system calls behind files.cpp, one implementation per system (files_posix.cpp,
// files_windows.cpp).
#pragma once

#include <cstdint>
#include <filesystem>

#include "core/platform/status.h"

namespace kestrel {
class FileReader;
class OutputFile;
}  // namespace kestrel

namespace kestrel::native {

// Closes a descriptor or handle held by FileReader or OutputFile.
void closeFile(std::intptr_t handle);

// Puts the finished file `replacement` in place of `target` in one step. An existing target that
// we may not write to is refused with 0x80070005 and left as it was; the replacement takes over
// the target's permissions.
HResult replaceFile(const std::filesystem::path& replacement, const std::filesystem::path& target);

// Memory of `size` bytes that reads as zeros and is given real pages only where it is written;
// nullptr when there is none. With `largePages`, for memory that is written in long runs, it comes
// in large pages where the system offers them on request: one page fault per 2 MiB written instead
// of one per 4 KiB. Released with releaseZeroed, given the same size and choice.
std::byte* allocateZeroed(std::size_t size, bool largePages = false);
void releaseZeroed(std::byte* data, std::size_t size, bool largePages = false);

// OutputFile::copyFrom without help from the system: pieces read into memory and written.
HResult copyThroughMemory(FileReader& from, std::uint64_t offset, std::uint64_t size, OutputFile& to);

}  // namespace kestrel::native
