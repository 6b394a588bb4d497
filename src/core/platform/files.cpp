#include "core/platform/files.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <new>
#include <string>
#include <system_error>

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
    if (size < 8 * kHugePage) return;
    const auto start = (reinterpret_cast<std::uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kHugePage - 1);
    if (end > start) (void)::madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
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

std::atomic<unsigned> temporaryCounter{0};

// Unique per process and call, in the target's folder so that the rename stays atomic. The
// target's own name is shortened so that the temporary name stays within the 255-byte limit.
fs::path temporaryNameFor(const fs::path& target) {
    std::string name = target.filename().string();
    if (name.size() > 160) name.resize(160);
    auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    return target.parent_path() /
           (name + "." + std::to_string(::getpid()) + "." + std::to_string(temporaryCounter++) + "." +
            std::to_string(stamp % 1000000) + ".tmp");
}

}  // namespace

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

void CloseMappedFile(MappedFile& file) {
    file.data.clear();
    file.data.shrink_to_fit();
    file.path.clear();
    file.open_ = false;
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

HResult ReadFileInto(const fs::path& path, std::span<std::byte> into) {
    return ReadFileRangeInto(path, into.size(), 0, into);
}

HResult ReadFileRangeInto(const fs::path& path, std::uint64_t fileSize, std::uint64_t offset,
                          std::span<std::byte> into) {
    FileReader file;
    if (HResult hr = file.open(path); hr.failed()) return hr;
    if (file.size() != fileSize) return kFail;
    return file.readAt(offset, into);
}

FileReader::~FileReader() {
    close();
}

HResult FileReader::open(const fs::path& path) {
    close();
    int fd = openForReading(path);
    if (fd < 0) return errnoResult(errno, path);
    FdGuard guard(fd);
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errnoResult(errno, path);
    if (!S_ISREG(info.st_mode)) return hresultFromWin32(win32::kAccessDenied);
    fd_ = fd;
    guard.release();
    size_ = info.st_size > 0 ? static_cast<std::uint64_t>(info.st_size) : 0;
    return kOk;
}

void FileReader::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

HResult FileReader::readAt(std::uint64_t offset, std::span<std::byte> into) {
    if (fd_ < 0) return kFail;
    if (offset > size_ || into.size() > size_ - offset) return kFail;
    std::size_t used = 0;
    while (used < into.size()) {
        ssize_t got = ::pread(fd_, into.data() + used, into.size() - used, static_cast<off_t>(offset + used));
        if (got < 0) {
            if (errno == EINTR) continue;
            return hresultFromErrno(errno);  // a read error needs no name to pick its code
        }
        if (got == 0) return kFail;  // shorter than it said
        used += static_cast<std::size_t>(got);
    }
    return kOk;
}

OutputFile::OutputFile(OutputFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), written_(other.written_) {
    other.fd_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = other.fd_;
        path_ = std::move(other.path_);
        written_ = other.written_;
        other.fd_ = -1;
    }
    return *this;
}

OutputFile::~OutputFile() {
    if (fd_ >= 0) ::close(fd_);
}

HResult OutputFile::open(const fs::path& path, Disposition disposition) {
    if (fd_ >= 0) (void)close();
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
    fd_ = fd;
    path_ = path;
    written_ = 0;
    return kOk;
}

HResult OutputFile::write(Bytes data) {
    if (fd_ < 0) return hresultFromWin32(win32::kInvalidHandle);
    std::size_t done = 0;
    int zeroWrites = 0;
    while (done < data.size()) {
        ssize_t put = ::write(fd_, data.data() + done, data.size() - done);
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

HResult OutputFile::sync() {
    if (fd_ < 0) return hresultFromWin32(win32::kInvalidHandle);
    while (::fsync(fd_) != 0) {
        if (errno == EINTR) continue;
        // Pipes and some special files cannot be synced; that loses nothing.
        if (errno == EINVAL || errno == EROFS) break;
        return errnoResult(errno, path_);
    }
    return kOk;
}

HResult OutputFile::close() {
    if (fd_ < 0) return kOk;
    int fd = fd_;
    fd_ = -1;
    // close() is never retried: on Linux the descriptor is gone even when it reports EINTR.
    if (::close(fd) != 0 && errno != EINTR) return errnoResult(errno, path_);
    return kOk;
}

HResult WriteWholeFile(const fs::path& path, Bytes data) {
    OutputFile file;
    if (HResult hr = file.open(path, Disposition::kCreateAlways); hr.failed()) return hr;
    if (HResult hr = file.write(data); hr.failed()) return hr;
    return file.close();
}

AtomicFileWriter::~AtomicFileWriter() {
    discard();
}

HResult AtomicFileWriter::open(const fs::path& target) {
    discard();
    writeFailure_ = kOk;
    target_ = target;
    std::error_code ec;
    if (fs::is_symlink(target, ec)) {
        fs::path resolved = fs::canonical(target, ec);
        if (!ec) target_ = resolved;
    }
    // Only regular files are replaced: renaming over a device, socket or folder would destroy it.
    auto status = fs::status(target_, ec);
    if (!ec && fs::exists(status) && !fs::is_regular_file(status))
        return hresultFromWin32(win32::kAccessDenied);
    // A name clash with a leftover file is retried under a new name; nothing is ever overwritten.
    HResult hr = kFail;
    for (int attempt = 0; attempt < 16; ++attempt) {
        temporary_ = temporaryNameFor(target_);
        hr = file_.open(temporary_, Disposition::kCreateNew);
        if (hr != hresultFromWin32(win32::kFileExists)) break;
    }
    if (hr.failed()) {
        temporary_.clear();
        return hr;
    }
    return kOk;
}

HResult AtomicFileWriter::write(Bytes data) {
    if (writeFailure_.failed()) return writeFailure_;
    HResult hr = file_.write(data);
    if (hr.failed()) writeFailure_ = hr;
    return hr;
}

HResult AtomicFileWriter::commit() {
    if (temporary_.empty()) return hresultFromWin32(win32::kInvalidHandle);
    if (writeFailure_.failed()) {
        discard();
        return writeFailure_;
    }
    HResult hr = file_.sync();
    if (hr.succeeded()) hr = file_.close();
    if (hr.failed()) {
        discard();
        return hr;
    }
    struct stat info {};
    if (::stat(target_.c_str(), &info) == 0) {
        // A read-only file is not replaced behind the user's back (Windows refuses to as well).
        if (S_ISREG(info.st_mode) && ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0 &&
            (errno == EACCES || errno == EROFS)) {
            hr = errnoResult(errno, target_);
            discard();
            return hr;
        }
        // Keep the permissions of the file being replaced.
        (void)::chmod(temporary_.c_str(), info.st_mode & 07777);
    }
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        hr = errnoResult(errno, target_);
        discard();
        return hr;
    }
    temporary_.clear();
    return kOk;
}

void AtomicFileWriter::discard() {
    (void)file_.close();
    if (!temporary_.empty()) {
        ::unlink(temporary_.c_str());
        temporary_.clear();
    }
}

HResult WriteFileAtomic(const fs::path& target, Bytes data) {
    AtomicFileWriter writer;
    if (HResult hr = writer.open(target); hr.failed()) return hr;
    if (HResult hr = writer.write(data); hr.failed()) return hr;
    return writer.commit();
}

HResult CopyFileAtomic(const fs::path& source, const fs::path& target) {
    std::vector<std::byte> data;
    if (HResult hr = ReadWholeFile(source, data); hr.failed()) return hr;
    return WriteFileAtomic(target, Bytes{data.data(), data.size()});
}

TemporaryFolder::~TemporaryFolder() {
    remove();
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

void TemporaryFolder::remove() {
    if (path_.empty()) return;
    std::error_code error;
    fs::remove_all(path_, error);
    path_.clear();
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

bool IsSameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

std::int64_t FileModificationTime(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return 0;
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1000000000LL + info.st_mtim.tv_nsec;
}

bool FilesHaveSameContent(const fs::path& a, const fs::path& b) {
    std::error_code error;
    auto sizeA = fs::file_size(a, error);
    if (error) return false;
    auto sizeB = fs::file_size(b, error);
    if (error || sizeA != sizeB) return false;
    std::vector<std::byte> bytesA;
    std::vector<std::byte> bytesB;
    if (ReadWholeFile(a, bytesA).failed() || ReadWholeFile(b, bytesB).failed()) return false;
    return bytesA == bytesB;
}

}  // namespace kestrel
