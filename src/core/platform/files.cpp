#include "core/platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
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

  private:
    int fd_;
};

HResult readAll(int fd, const fs::path& path, std::vector<std::byte>& out) {
    struct stat info {};
    if (::fstat(fd, &info) != 0) return errnoResult(errno, path);
    if (S_ISDIR(info.st_mode)) return hresultFromWin32(win32::kAccessDenied);
    out.clear();
    if (info.st_size > 0) out.reserve(static_cast<std::size_t>(info.st_size));
    // Read until end of file rather than trusting the size: the file may change under us.
    std::byte chunk[1 << 16];
    for (;;) {
        ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return errnoResult(errno, path);
        }
        if (got == 0) break;
        out.insert(out.end(), chunk, chunk + got);
    }
    return kOk;
}

std::atomic<unsigned> temporaryCounter{0};

fs::path temporaryNameFor(const fs::path& target) {
    // Unique per process and call, in the target's folder so that the rename stays atomic.
    auto name = target.filename().string();
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    return target.parent_path() /
           (name + "." + std::to_string(::getpid()) + "." + std::to_string(temporaryCounter++) + "." +
            std::to_string(stamp % 100000) + ".tmp");
}

}  // namespace

HResult OpenMappedFile(const fs::path& path, MappedFile& file) {
    CloseMappedFile(file);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errnoResult(errno, path);
    FdGuard guard(fd);
    return readAll(fd, path, out);
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
    }
    int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return errnoResult(errno, path);
    fd_ = fd;
    path_ = path;
    written_ = 0;
    return kOk;
}

HResult OutputFile::write(Bytes data) {
    if (fd_ < 0) return hresultFromWin32(6);  // ERROR_INVALID_HANDLE
    std::size_t done = 0;
    int zeroWrites = 0;
    while (done < data.size()) {
        ssize_t put = ::write(fd_, data.data() + done, data.size() - done);
        if (put < 0) {
            if (errno == EINTR) continue;
            return errnoResult(errno, path_);
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

HResult OutputFile::close() {
    if (fd_ < 0) return kOk;
    int fd = fd_;
    fd_ = -1;
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
    target_ = target;
    temporary_ = temporaryNameFor(target);
    HResult hr = file_.open(temporary_, Disposition::kCreateAlways);
    if (hr.failed()) {
        // Report the failure against the target's name: that is what the user asked for.
        temporary_.clear();
        return hr;
    }
    return kOk;
}

HResult AtomicFileWriter::commit() {
    if (temporary_.empty()) return kFail;
    if (HResult hr = file_.close(); hr.failed()) {
        discard();
        return hr;
    }
    // Keep the permissions of the file being replaced.
    struct stat info {};
    if (::stat(target_.c_str(), &info) == 0) (void)::chmod(temporary_.c_str(), info.st_mode & 07777);
    if (::rename(temporary_.c_str(), target_.c_str()) != 0) {
        HResult hr = errnoResult(errno, target_);
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

HResult CreateFolderPath(const fs::path& path) {
    if (path.empty()) return kOk;
    fs::path current;
    for (const auto& part : path) {
        current /= part;
        if (part.empty() || part == "/" || part == "." || part == "..") continue;
        if (::mkdir(current.c_str(), 0777) == 0) continue;
        int err = errno;
        if (err == EEXIST) {
            struct stat info {};
            if (::stat(current.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) continue;
            return hresultFromWin32(win32::kDirectory);
        }
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

}  // namespace kestrel
