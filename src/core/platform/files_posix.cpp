#ifndef _WIN32
#include "core/platform/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#ifdef __linux__
#include <sys/sendfile.h>
#endif
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <system_error>

#include "core/platform/files_native.h"

namespace kestrel {

namespace {

HResult errnoResult(int err, const fs::path& path) {
    return hresultFromErrno(err, &path);
}

// Closes a descriptor on every path out of a function.
class FdGuard {
  public:
    explicit FdGuard(int fd) : fd_(fd) {}
    ~FdGuard() {
        if (fd_ >= 0) ::close(fd_);
    }
    FdGuard(const FdGuard&) = delete;
    FdGuard& operator=(const FdGuard&) = delete;
    int get() const { return fd_; }
    void release() { fd_ = -1; }

  private:
    int fd_;
};

// Reads the size the file reports, or until end of file when it reports none or is shorter than
// that. The buffer is sized from the file's size up front so that a large file is read in place.
// A big buffer about to be filled is backed by huge pages where the system offers them on request:
// far fewer page faults while it is filled. A hint only; nothing changes when it is not taken.
void adviseHugePages(std::byte* data, std::size_t size) {
    constexpr std::size_t kHugePage = 2u << 20;
    if (size >= 8 * kHugePage) AdviseHugePages({data, size});
}

HResult readAll(int fd, const fs::path& path, std::vector<std::byte>& out) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errnoResult(errno, path);
    if (!S_ISREG(info.st_mode)) return hresultFromWin32(win32::kAccessDenied);
    out.clear();
    const std::uint64_t expected = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    if (expected >= std::numeric_limits<std::size_t>::max() / 2 || expected >= out.max_size())
        return kOutOfMemory;
    try {
        // One byte more than expected, so that the end of file is seen without growing.
        const std::size_t size = std::max<std::size_t>(static_cast<std::size_t>(expected) + 1, 4096);
        out.reserve(size);
        adviseHugePages(out.data(), size);
        out.resize(size);
        std::size_t used = 0;
        for (;;) {
            if (used == out.size()) out.resize(out.size() * 2);
            ssize_t got = ::read(fd, out.data() + used, out.size() - used);
            if (got < 0) {
                if (errno == EINTR) continue;
                int err = errno;
                out.clear();
                return errnoResult(err, path);
            }
            if (got == 0) break;
            used += static_cast<std::size_t>(got);
            // A regular file that has given the size it reported is read: one read call per file.
            if (expected != 0 && used == expected) break;
        }
        out.resize(used);
    } catch (const std::bad_alloc&) {
        out.clear();
        out.shrink_to_fit();
        return kOutOfMemory;
    }
    return kOk;
}

// O_NONBLOCK keeps open() from waiting on a pipe; readAll refuses anything but a regular file.
int openForReading(const fs::path& path) {
    return ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}

}  // namespace

namespace native {

void closeFile(std::intptr_t handle) {
    if (handle != -1) ::close(static_cast<int>(handle));
}

namespace {

constexpr std::size_t kLargePage = 2u << 20;

// Large pages pay only for memory of at least one of them: below that, a large page would clear
// more memory than the small pages it saves faults for.
bool useLargePages(std::size_t size, bool largePages) {
    return largePages && size >= kLargePage &&
           size <= std::numeric_limits<std::size_t>::max() - 2 * kLargePage;
}

// What is mapped for `size` bytes: whole large pages when they are used.
std::size_t mappedLength(std::size_t size, bool large) {
    const std::size_t length = std::max<std::size_t>(size, 1);
    return large ? (length + kLargePage - 1) / kLargePage * kLargePage : length;
}

}  // namespace

std::byte* allocateZeroed(std::size_t size, bool largePages) {
    const bool large = useLargePages(size, largePages);
    const std::size_t length = mappedLength(size, large);
    if (!large) {
        void* data = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        return data == MAP_FAILED ? nullptr : static_cast<std::byte*>(data);
    }
    // A large page must start on a boundary of its size: one page more is mapped, and what lies
    // before the first boundary and after the end is given back.
    void* mapped =
        ::mmap(nullptr, length + kLargePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return nullptr;
    auto* start = static_cast<std::byte*>(mapped);
    const std::size_t head = (kLargePage - reinterpret_cast<std::uintptr_t>(start) % kLargePage) % kLargePage;
    if (head != 0) (void)::munmap(start, head);
    (void)::munmap(start + head + length, kLargePage - head);
    AdviseHugePages({start + head, length});
    return start + head;
}

void releaseZeroed(std::byte* data, std::size_t size, bool largePages) {
    if (data) ::munmap(data, mappedLength(size, useLargePages(size, largePages)));
}

HResult replaceFile(const fs::path& replacement, const fs::path& target) {
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        // A read-only file is not replaced behind the user's back (Windows refuses to as well).
        if (S_ISREG(info.st_mode) && ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 &&
            (errno == EACCES || errno == EROFS))
            return errnoResult(errno, target);
        // Keep the permissions of the file being replaced.
        (void)::chmod(replacement.c_str(), info.st_mode & 07777);
    }
    if (::rename(replacement.c_str(), target.c_str()) != 0) return errnoResult(errno, target);
    return kOk;
}

}  // namespace native

HResult OpenMappedFile(const fs::path& path, MappedFile& file) {
    CloseMappedFile(file);
    int fd = openForReading(path);
    if (fd < 0) return errnoResult(errno, path);
    FdGuard guard(fd);
    std::vector<std::byte> data;
    if (HResult hr = readAll(fd, path, data); hr.failed()) return hr;
    if (data.empty()) return hresultFromWin32(win32::kFileInvalid);
    file.path = path;
    file.data = std::move(data);
    file.open_ = true;
    return kOk;
}

HResult ReadWholeFile(const fs::path& path, std::vector<std::byte>& out) {
    int fd = openForReading(path);
    if (fd < 0) return errnoResult(errno, path);
    FdGuard guard(fd);
    return readAll(fd, path, out);
}

HResult RegularFileSize(const fs::path& path, std::uint64_t& size) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return errnoResult(errno, path);
    if (!S_ISREG(info.st_mode)) return hresultFromWin32(win32::kAccessDenied);
    size = static_cast<std::uint64_t>(info.st_size);
    return kOk;
}

HResult FileReader::open(const fs::path& path) {
    close();
    int fd = openForReading(path);
    if (fd < 0) return errnoResult(errno, path);
    FdGuard guard(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errnoResult(errno, path);
    if (!S_ISREG(info.st_mode)) return hresultFromWin32(win32::kAccessDenied);
    handle_ = fd;
    guard.release();
    size_ = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return kOk;
}

void FileReader::close() {
    if (handle_ != -1) ::close(static_cast<int>(handle_));
    handle_ = -1;
    size_ = 0;
}

HResult FileReader::readAt(std::uint64_t offset, std::span<std::byte> into) {
    if (handle_ == -1) return kFail;
    if (offset > size_ || into.size() > size_ - offset) return kFail;
    std::size_t used = 0;
    while (used < into.size()) {
        ssize_t got = ::pread(static_cast<int>(handle_), into.data() + used, into.size() - used,
                              static_cast<off_t>(offset + used));
        if (got < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);  // a read error needs no name to pick its code
        }
        if (got == 0) return kFail;  // shorter than it said
        used += static_cast<std::size_t>(got);
    }
    return kOk;
}

HResult OutputFile::open(const fs::path& path, Disposition disposition) {
    if (handle_ != -1) (void)close();
    int flags = O_WRONLY | O_CLOEXEC;
    switch (disposition) {
        case Disposition::kCreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        case Disposition::kOpenAlways:
            flags |= O_CREAT;
            break;
        case Disposition::kOpenExisting:
            break;
        case Disposition::kCreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return errnoResult(errno, path);
    handle_ = fd;
    path_ = path;
    written_ = 0;
    return kOk;
}

HResult OutputFile::write(Bytes data) {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    std::size_t done = 0;
    int zeroWrites = 0;
    while (done < data.size()) {
        ssize_t put = ::write(static_cast<int>(handle_), data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);  // a read error needs no name to pick its code
        }
        if (put == 0) {
            // A write that makes no progress twice in a row is a full device.
            if (++zeroWrites > 1) return hresultFromWin32(win32::kDiskFull);
            continue;
        }
        zeroWrites = 0;
        done += static_cast<std::size_t>(put);
    }
    written_ += done;
    return kOk;
}

HResult OutputFile::writeGathered(std::span<const Bytes> pieces) {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
#ifdef IOV_MAX
    constexpr std::size_t kBatch = IOV_MAX;
#else
    constexpr std::size_t kBatch = 1024;
#endif
    std::array<iovec, std::min<std::size_t>(kBatch, 1024)> batch;
    std::size_t next = 0;      // the first piece not yet written whole
    std::size_t nextDone = 0;  // bytes of that piece written already (after a short write)
    int zeroWrites = 0;
    while (true) {
        std::size_t count = 0;
        std::uint64_t batchBytes = 0;
        for (std::size_t i = next; i < pieces.size() && count < batch.size(); ++i) {
            const std::size_t skip = i == next ? nextDone : 0;
            const std::size_t full = pieces[i].size() - skip;
            if (full == 0) continue;
            // One call moves at most SSIZE_MAX bytes; a longer piece goes in parts.
            const std::uint64_t room = static_cast<std::uint64_t>(SSIZE_MAX) - batchBytes;
            if (room == 0) break;
            const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(full, room));
            batch[count].iov_base = const_cast<std::byte*>(pieces[i].data() + skip);
            batch[count].iov_len = length;
            batchBytes += length;
            ++count;
            if (length < full) break;
        }
        if (count == 0) return kOk;  // nothing but empty pieces is left
        ssize_t put = ::writev(static_cast<int>(handle_), batch.data(), static_cast<int>(count));
        if (put < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);
        }
        if (put == 0) {
            // A write that makes no progress twice in a row is a full device.
            if (++zeroWrites > 1) return hresultFromWin32(win32::kDiskFull);
            continue;
        }
        zeroWrites = 0;
        written_ += static_cast<std::uint64_t>(put);
        // Steps over what was written: whole pieces, then part of the next one after a short write.
        auto left = static_cast<std::uint64_t>(put);
        while (next < pieces.size() && left >= pieces[next].size() - nextDone) {
            left -= pieces[next].size() - nextDone;
            ++next;
            nextDone = 0;
        }
        if (left != 0) nextDone += static_cast<std::size_t>(left);
    }
}

HResult OutputFile::writeAt(std::uint64_t offset, Bytes data) {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    if (offset > written_ || data.size() > written_ - offset) return kFail;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t put = ::pwrite(static_cast<int>(handle_), data.data() + done, data.size() - done,
                               static_cast<off_t>(offset + done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);
        }
        // Space that was written once is there: no progress is a fault of the device.
        if (put == 0) return hresultFromWin32(win32::kDiskFull);
        done += static_cast<std::size_t>(put);
    }
    return kOk;
}

HResult OutputFile::copyFrom(FileReader& from, std::uint64_t offset, std::uint64_t size) {
    if (handle_ == -1 || from.handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    if (offset > from.size_ || size > from.size_ - offset) return kFail;
#ifdef __linux__
    // Moves what one kernel call copies at a time, until all is copied (true), the call cannot copy
    // between these files (true, with `size` left over), or the input ends early (false).
    auto copyInKernel = [&](auto copyOnce) {
        while (size != 0) {
            auto in = static_cast<off_t>(offset);
            const std::size_t chunk = static_cast<std::size_t>(std::min<std::uint64_t>(size, 1u << 30));
            const ssize_t copied = copyOnce(&in, chunk);
            if (copied < 0 && errno == EINTR) continue;
            if (copied < 0) return true;
            if (copied == 0) return false;  // the input became shorter than it was
            offset += static_cast<std::uint64_t>(copied);
            size -= static_cast<std::uint64_t>(copied);
            written_ += static_cast<std::uint64_t>(copied);
        }
        return true;
    };
    const int input = static_cast<int>(from.handle_);
    const int output = static_cast<int>(handle_);
    // The kernel copies between the files (or shares the extents); a system or file pair that
    // cannot falls back to reads and writes, which is also how a copy that failed half-way ends.
    if (!copyInKernel([&](off_t* in, std::size_t chunk) {
            return ::copy_file_range(input, in, output, nullptr, chunk, 0);
        }))
        return kFail;
    // Files on two different file systems: sendfile still moves the bytes inside the kernel,
    // page by page, without a buffer of ours that would be faulted in and copied through.
    if (!copyInKernel([&](off_t* in, std::size_t chunk) { return ::sendfile(output, input, in, chunk); }))
        return kFail;
#endif
    return size == 0 ? kOk : native::copyThroughMemory(from, offset, size, *this);
}

HResult OutputFile::sync() {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    while (::fsync(static_cast<int>(handle_)) != 0) {
        if (errno == EINTR) continue;
        // Pipes and some special files cannot be synced; that loses nothing.
        if (errno == EINVAL || errno == EROFS) break;
        return errnoResult(errno, path_);
    }
    return kOk;
}

bool OutputFile::currentState(std::int64_t& time, std::uint64_t& size) const {
    struct stat info {};
    if (handle_ == -1 || ::fstat(static_cast<int>(handle_), &info) != 0) return false;
    time = static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

HResult OutputFile::close() {
    if (handle_ == -1) return kOk;
    const int fd = static_cast<int>(handle_);
    handle_ = -1;
    // close() is never retried: on Linux the descriptor is gone even when it reports EINTR.
    if (::close(fd) != 0 && errno != EINTR) return errnoResult(errno, path_);
    return kOk;
}

HResult TemporaryFolder::create(std::string_view prefix) {
    remove();
    std::error_code error;
    fs::path base = fs::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string pattern = (base / std::string(prefix)).string() + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return errnoResult(errno, base);
    path_ = pattern;
    return kOk;
}

HResult CreateFolderPath(const fs::path& path) {
    if (path.empty()) return kOk;
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0) {
        return S_ISDIR(info.st_mode) ? kOk : hresultFromWin32(win32::kDirectory);
    }
    fs::path current;
    for (const auto& part : path) {
        current /= part;
        if (part.empty() || part == "/" || part == "." || part == "..") continue;
        if (::mkdir(current.c_str(), 0777) == 0) continue;
        int err = errno;
        if (err == EEXIST) {
            // Also when another process created it between our check and mkdir.
            if (::stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
            return hresultFromWin32(win32::kDirectory);
        }
        // mkdir of a folder that exists but lies in a folder we may not write to reports EACCES
        // on some file systems; an existing folder is all we need.
        if (::stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
        return errnoResult(err, current);
    }
    return kOk;
}

HResult RemoveFileIfPresent(const fs::path& path) {
    if (::unlink(path.c_str()) == 0 || errno == ENOENT) return kOk;
    return errnoResult(errno, path);
}

std::int64_t FileModificationTime(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
}

bool CanReplaceOpenFile() {
    return true;
}

void AdviseHugePages(std::span<std::byte> memory) {
    // The hint takes whole pages: the part of the range that begins and ends on a page boundary.
    // A hint only: memory the system will not back with huge pages works as before.
    constexpr std::size_t kPage = 4096;
    constexpr std::size_t kHugePage = 2u << 20;
    const std::size_t skip = (kPage - reinterpret_cast<std::uintptr_t>(memory.data()) % kPage) % kPage;
    if (memory.size() < skip) return;
    const std::size_t length = (memory.size() - skip) / kPage * kPage;
    if (length >= kHugePage) (void)::madvise(memory.data() + skip, length, MADV_HUGEPAGE);
}

}  // namespace kestrel
#endif
