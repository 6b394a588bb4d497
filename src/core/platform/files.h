// Whole-file reads, output files and atomic replacement. All failures come back as status codes
// (errno mapped to the Win32 numbers); nothing here throws except std::bad_alloc.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

namespace fs = std::filesystem;

// A whole file read into a private in-memory copy. The name is historical: the file is not memory
// mapped, so another process truncating it cannot crash us; callers see a read-only byte view.
struct MappedFile {
    fs::path path;
    std::vector<std::byte> data;

    bool isOpen() const { return open_; }
    Bytes bytes() const { return {data.data(), data.size()}; }
    std::size_t size() const { return data.size(); }
    std::string_view text() const { return {reinterpret_cast<const char*>(data.data()), data.size()}; }

    bool open_ = false;
};

// Bytes with what keeps them alive.
struct HeldBytes {
    std::shared_ptr<const void> owner;
    Bytes bytes;
    explicit operator bool() const { return owner != nullptr; }
};

// The whole file in a buffer of its size that is not zero-filled first, with one open and one
// read: for files read once in full, where filling the buffer would cost as much as the read.
// Folders and anything else that is not a regular file fail with 0x80070005.
HResult ReadWholeFileHeld(const fs::path& path, HeldBytes& out);

// Reads the whole file. A 0-byte file fails with 0x800703EE, as mapping an empty file does on
// Windows. Any earlier content of `file` is released first. Folders and anything that is not a
// regular file (pipes, devices: they could block or never end) fail with 0x80070005.
HResult OpenMappedFile(const fs::path& path, MappedFile& file);
void CloseMappedFile(MappedFile& file);

// Reads the whole file (an empty file is fine here).
HResult ReadWholeFile(const fs::path& path, std::vector<std::byte>& out);

// The size of a regular file (symbolic links followed). Anything else fails with 0x80070005, as
// the reads above refuse it.
HResult RegularFileSize(const fs::path& path, std::uint64_t& size);

// Reads a regular file of exactly `into.size()` bytes straight into `into`, so that a caller that
// laid out its output from the sizes can fill it in place. A file whose size is no longer that
// (changed since it was measured) fails with E_FAIL.
HResult ReadFileInto(const fs::path& path, std::span<std::byte> into);
// The same for a part of a file: `into.size()` bytes from `offset` of a file that must still be
// `fileSize` bytes long (E_FAIL otherwise, or when the part does not lie inside it).
HResult ReadFileRangeInto(const fs::path& path, std::uint64_t fileSize, std::uint64_t offset,
                          std::span<std::byte> into);

// A regular file open for reading parts of it, for a caller that needs a file's header now and its
// body later: it reads no more than it uses. Refuses what the whole-file reads refuse.
class FileReader {
  public:
    FileReader() = default;
    FileReader(const FileReader&) = delete;
    FileReader& operator=(const FileReader&) = delete;
    ~FileReader();

    HResult open(const fs::path& path);
    void close();
    // The size when the file was opened.
    std::uint64_t size() const { return size_; }
    // Exactly `into.size()` bytes from `offset`; E_FAIL when the file ends before.
    HResult readAt(std::uint64_t offset, std::span<std::byte> into);

  private:
    friend class OutputFile;
    std::intptr_t handle_ = -1;  // a descriptor, or a Windows handle
    std::uint64_t size_ = 0;
};

// Asks the system to back a large buffer that is about to be filled with huge pages, where it
// has them (Linux with transparent huge pages): one page fault per 2 MiB instead of one per 4 KiB.
// Only a hint, and nothing for a buffer smaller than a huge page or on other systems.
void AdviseHugePages(std::span<std::byte> memory);

// Memory of a fixed size that reads as zeros, straight from the system: nothing clears it first, and
// a buffer that is filled whole (an output assembled in place) comes in large pages where the system
// offers them, so that filling it costs one page fault per 2 MiB instead of one per 4 KiB.
class ZeroedBuffer {
  public:
    ZeroedBuffer() = default;
    ZeroedBuffer(const ZeroedBuffer&) = delete;
    ZeroedBuffer& operator=(const ZeroedBuffer&) = delete;
    ~ZeroedBuffer();

    // Replaces any earlier memory; kOutOfMemory when there is none.
    HResult allocate(std::size_t size, bool filledWhole);
    std::span<std::byte> span() { return {data_, size_}; }
    Bytes bytes() const { return {data_, size_}; }

  private:
    void release();
    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    bool large_ = false;
};

// A file of which only chosen ranges are read into memory: a view of the file's whole size in which
// every byte not loaded reads as zero. The memory comes from the system untouched, so the parts
// never loaded cost neither time nor memory. The file stays open, so that the other parts can be
// copied straight into an output (OutputFile::copyFrom) without passing through memory.
class PartialFileImage {
  public:
    PartialFileImage() = default;
    PartialFileImage(const PartialFileImage&) = delete;
    PartialFileImage& operator=(const PartialFileImage&) = delete;
    ~PartialFileImage();

    // Opens the file; refuses what FileReader refuses, and an empty file with 0x800703EE as
    // OpenMappedFile does. Without `largePages` the memory comes in small pages except inside the
    // long runs loaded: a large page for a few header bytes costs more than it saves.
    HResult open(const fs::path& path, bool largePages = true);
    // Reads `size` bytes from `offset` into their place; E_FAIL when they do not lie inside the
    // file (or it has become shorter since it was opened).
    HResult load(std::uint64_t offset, std::uint64_t size);
    Bytes bytes() const { return {data_, size_}; }
    FileReader& file() { return file_; }

  private:
    FileReader file_;
    std::byte* data_ = nullptr;
    std::size_t size_ = 0;
    bool large_ = true;
};

enum class Disposition {
    kCreateAlways,  // create or truncate
    kOpenAlways,    // open or create, keep the content, write from the start
    kOpenExisting,  // open only if it exists, keep the content, write from the start
    kCreateNew,     // create only if nothing of that name exists (0x80070050 otherwise)
};

// A file as a writer left it: its name relative to the folder written into ('/' between folders),
// its modification time (nanoseconds since 1970) and its size.
struct WrittenFile {
    std::string name;
    std::int64_t time = 0;
    std::uint64_t size = 0;
};

// A file opened for writing. Writes retry short writes; a failed write yields the errno code.
class OutputFile {
  public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    OutputFile(OutputFile&& other) noexcept;
    OutputFile& operator=(OutputFile&& other) noexcept;
    ~OutputFile();

    HResult open(const fs::path& path, Disposition disposition);
    HResult write(Bytes data);
    HResult write(std::string_view text) { return write(asBytes(text)); }
    // Appends the pieces one after the other, handed to the system many at a time where it takes
    // them so (one call per batch instead of one per piece): for an output made of bytes that lie
    // in many places, which need not be copied together first.
    HResult writeGathered(std::span<const Bytes> pieces);
    // Writes `head`, then `body`, with one system call where the system has a gathering write: a
    // header goes in front of its data without copying both into one buffer first.
    HResult write(Bytes head, Bytes body) {
        const Bytes pieces[] = {head, body};
        return writeGathered(pieces);
    }
    // Appends `size` bytes of `from`, starting at `offset`. Where the system can, it copies them
    // between the files itself (no pass through our memory, a shared extent on file systems that
    // offer it); otherwise they are read and written in pieces. E_FAIL when `from` ends before.
    HResult copyFrom(FileReader& from, std::uint64_t offset, std::uint64_t size);
    // Overwrites bytes already written, at `offset` from where the file was opened (a field whose
    // value is known only once everything after it is written); later writes still append. E_FAIL
    // when the bytes do not lie inside what was written.
    HResult writeAt(std::uint64_t offset, Bytes data);
    // Forces the written data to the storage device (fsync).
    HResult sync();
    // Closes the file; reports errors of the final close (some file systems report a full disk
    // only there).
    HResult close();
    // The open file's modification time (nanoseconds since 1970) and size as the system now keeps
    // them; false where that cannot be asked of the open file.
    bool currentState(std::int64_t& time, std::uint64_t& size) const;
    bool isOpen() const { return handle_ != -1; }
    const fs::path& path() const { return path_; }
    std::uint64_t written() const { return written_; }

  private:
    std::intptr_t handle_ = -1;  // a descriptor, or a Windows handle
    fs::path path_;
    std::uint64_t written_ = 0;
};

// Writes `data` to `path` (create always), closing the file.
HResult WriteWholeFile(const fs::path& path, Bytes data);

// Replaces `target` atomically: the data goes to a temporary file in the same folder that is
// renamed over the target only when everything was written. On failure the temporary file is
// removed and the target stays as it was. A target we may not write to (read-only) is refused
// with 0x80070005, as on Windows; the replacement keeps the target's permission bits.
class AtomicFileWriter {
  public:
    AtomicFileWriter() = default;
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
    ~AtomicFileWriter();  // discards the temporary file unless committed

    // A symbolic link as target is followed: the file it points to is replaced and the link stays.
    HResult open(const fs::path& target);
    HResult write(Bytes data);
    HResult write(std::string_view text) { return write(asBytes(text)); }
    HResult writeGathered(std::span<const Bytes> pieces);
    HResult copyFrom(FileReader& from, std::uint64_t offset, std::uint64_t size);
    HResult writeAt(std::uint64_t offset, Bytes data);
    // Syncs and renames the temporary file over the target. After any failed write, commit()
    // refuses (returns that failure) and discards, so a partial file never replaces the target.
    HResult commit();
    void discard();
    const fs::path& temporaryPath() const { return temporary_; }

  private:
    OutputFile file_;
    fs::path target_;
    fs::path temporary_;
    HResult writeFailure_ = kOk;
};

HResult WriteFileAtomic(const fs::path& target, Bytes data);
inline HResult WriteFileAtomic(const fs::path& target, std::string_view text) {
    return WriteFileAtomic(target, asBytes(text));
}

// Copies `source` over `target` atomically (temporary file in the target's folder, then rename).
HResult CopyFileAtomic(const fs::path& source, const fs::path& target);

// A private folder made under the system's temporary folder ($TMPDIR, else /tmp; GetTempPathW on
// Windows) with a unique name, open to its owner only (mode 0700, or an owner-only access list), removed with
// everything in it when the object goes.
class TemporaryFolder {
  public:
    TemporaryFolder() = default;
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    ~TemporaryFolder();

    // Makes the folder "<prefix>XXXXXX"; an earlier folder of this object is removed first.
    HResult create(std::string_view prefix);
    void remove();
    const fs::path& path() const { return path_; }

  private:
    fs::path path_;
};

// Creates every missing folder of `path`. An existing folder is success; an existing plain file in
// its place (at any level) is 0x8007010B (ERROR_DIRECTORY).
HResult CreateFolderPath(const fs::path& path);

// Deletes a file; a missing file is success.
HResult RemoveFileIfPresent(const fs::path& path);

// True when both names denote the same existing file (file identity, never string comparison).
bool IsSameFile(const fs::path& a, const fs::path& b);

// Whether a file that is open for reading can be replaced by renaming another file over it: POSIX
// systems allow it, Windows refuses the rename while any handle to the target is open.
bool CanReplaceOpenFile();

// True when both files exist and hold the same bytes.
bool FilesHaveSameContent(const fs::path& a, const fs::path& b);

// Last modification time at full resolution (nanoseconds since the epoch); 0 when missing.
std::int64_t FileModificationTime(const fs::path& path);

}  // namespace kestrel
