#ifdef _WIN32
#include <windows.h>
// After windows.h, which it builds on.
#include <sddl.h>

#include <algorithm>
#include <limits>
#include <new>
#include <random>
#include <string>

#include "core/platform/files.h"
#include "core/platform/files_native.h"
#include "core/platform/paths.h"

namespace kestrel {

namespace {

HResult lastError() {
    return hresultFromWin32(::GetLastError());
}

HANDLE asHandle(std::intptr_t handle) {
    // NOLINTNEXTLINE(performance-no-int-to-ptr)
    return reinterpret_cast<HANDLE>(handle);
}

std::intptr_t fromHandle(HANDLE handle) {
    return reinterpret_cast<std::intptr_t>(handle);
}

// Closes a handle on every path out of a function.
class HandleGuard {
  public:
    explicit HandleGuard(HANDLE handle) : handle_(handle) {}
    ~HandleGuard() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    HandleGuard(const HandleGuard&) = delete;
    HandleGuard& operator=(const HandleGuard&) = delete;
    HANDLE get() const { return handle_; }
    void release() { handle_ = INVALID_HANDLE_VALUE; }

  private:
    HANDLE handle_;
};

// Other programs may go on reading, writing, renaming or deleting the file while we read it; a
// folder fails here with "access denied", as the reads promise.
HANDLE openForReading(const fs::path& path) {
    return ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

// The size of an open regular file; anything but a disk file (pipes, consoles, devices) is refused.
HResult regularSize(HANDLE file, std::uint64_t& size) {
    if (::GetFileType(file) != FILE_TYPE_DISK) return hresultFromWin32(win32::kAccessDenied);
    LARGE_INTEGER length{};
    if (!::GetFileSizeEx(file, &length)) return lastError();
    size = length.QuadPart > 0 ? static_cast<std::uint64_t>(length.QuadPart) : 0;
    return kOk;
}

// Reads exactly `count` bytes from `offset`; E_FAIL when the file ends before.
HResult readExactly(HANDLE file, std::uint64_t offset, std::byte* into, std::size_t count) {
    std::size_t used = 0;
    while (used < count) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(count - used, 1u << 30));
        OVERLAPPED position{};
        const std::uint64_t at = offset + used;
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!::ReadFile(file, into + used, chunk, &got, &position)) {
            if (::GetLastError() == ERROR_HANDLE_EOF) return kFail;
            return lastError();
        }
        if (got == 0) return kFail;
        used += got;
    }
    return kOk;
}

HResult readAll(HANDLE file, std::vector<std::byte>& out) {
    std::uint64_t size = 0;
    if (HResult hr = regularSize(file, size); hr.failed()) return hr;
    out.clear();
    if (size >= std::numeric_limits<std::size_t>::max() / 2 || size >= out.max_size()) return kOutOfMemory;
    try {
        out.resize(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        out.clear();
        out.shrink_to_fit();
        return kOutOfMemory;
    }
    if (HResult hr = readExactly(file, 0, out.data(), out.size()); hr.failed()) {
        out.clear();
        return hr;
    }
    return kOk;
}

bool isFolder(const fs::path& path) {
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Six letters and digits for a temporary folder's name.
std::string randomSuffix() {
    static constexpr char kLetters[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device device;
    std::string suffix;
    for (int i = 0; i < 6; ++i)
        suffix.push_back(kLetters[device() % (sizeof kLetters - 1)]);
    return suffix;
}

}  // namespace

namespace native {

std::byte* allocateZeroed(std::size_t size, bool) {
    return static_cast<std::byte*>(
        ::VirtualAlloc(nullptr, std::max<std::size_t>(size, 1), MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
}

void releaseZeroed(std::byte* data, std::size_t, bool) {
    if (data) ::VirtualFree(data, 0, MEM_RELEASE);
}

void closeFile(std::intptr_t handle) {
    if (handle != -1) ::CloseHandle(asHandle(handle));
}

HResult replaceFile(const fs::path& replacement, const fs::path& target) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        // A read-only file is not replaced behind the user's back.
        if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) return hresultFromWin32(win32::kAccessDenied);
        // The replacement takes the target's hidden, system and archive flags.
        const DWORD kept =
            attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
        if (kept != 0) (void)::SetFileAttributesW(replacement.c_str(), kept);
    }
    if (!::MoveFileExW(replacement.c_str(), target.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return lastError();
    return kOk;
}

}  // namespace native

HResult OpenMappedFile(const fs::path& path, MappedFile& file) {
    CloseMappedFile(file);
    HandleGuard guard(openForReading(path));
    if (guard.get() == INVALID_HANDLE_VALUE) return lastError();
    std::vector<std::byte> data;
    if (HResult hr = readAll(guard.get(), data); hr.failed()) return hr;
    if (data.empty()) return hresultFromWin32(win32::kFileInvalid);
    file.path = path;
    file.data = std::move(data);
    file.open_ = true;
    return kOk;
}

HResult ReadWholeFile(const fs::path& path, std::vector<std::byte>& out) {
    HandleGuard guard(openForReading(path));
    if (guard.get() == INVALID_HANDLE_VALUE) return lastError();
    return readAll(guard.get(), out);
}

HResult RegularFileSize(const fs::path& path, std::uint64_t& size) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return lastError();
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return hresultFromWin32(win32::kAccessDenied);
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return kOk;
}

HResult FileReader::open(const fs::path& path) {
    close();
    HandleGuard guard(openForReading(path));
    if (guard.get() == INVALID_HANDLE_VALUE) return lastError();
    std::uint64_t size = 0;
    if (HResult hr = regularSize(guard.get(), size); hr.failed()) return hr;
    handle_ = fromHandle(guard.get());
    guard.release();
    size_ = size;
    return kOk;
}

void FileReader::close() {
    native::closeFile(handle_);
    handle_ = -1;
    size_ = 0;
}

HResult FileReader::readAt(std::uint64_t offset, std::span<std::byte> into) {
    if (handle_ == -1) return kFail;
    if (offset > size_ || into.size() > size_ - offset) return kFail;
    return readExactly(asHandle(handle_), offset, into.data(), into.size());
}

HResult OutputFile::open(const fs::path& path, Disposition disposition) {
    if (handle_ != -1) (void)close();
    DWORD creation = CREATE_ALWAYS;
    switch (disposition) {
        case Disposition::kCreateAlways:
            creation = CREATE_ALWAYS;
            break;
        case Disposition::kOpenAlways:
            creation = OPEN_ALWAYS;
            break;
        case Disposition::kOpenExisting:
            creation = OPEN_EXISTING;
            break;
        case Disposition::kCreateNew:
            creation = CREATE_NEW;
            break;
    }
    HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return lastError();
    handle_ = fromHandle(file);
    path_ = path;
    written_ = 0;
    return kOk;
}

HResult OutputFile::write(Bytes data) {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    std::size_t done = 0;
    int zeroWrites = 0;
    while (done < data.size()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(asHandle(handle_), data.data() + done, chunk, &put, nullptr)) return lastError();
        if (put == 0) {
            // A write that makes no progress twice in a row is a full device.
            if (++zeroWrites > 1) return hresultFromWin32(win32::kDiskFull);
            continue;
        }
        zeroWrites = 0;
        done += put;
    }
    written_ += done;
    return kOk;
}

// One WriteFile per piece: the system has no gathered write for ordinary (buffered) files.
HResult OutputFile::writeGathered(std::span<const Bytes> pieces) {
    for (const Bytes piece : pieces)
        if (HResult hr = write(piece); hr.failed()) return hr;
    return kOk;
}

HResult OutputFile::writeAt(std::uint64_t offset, Bytes data) {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    if (offset > written_ || data.size() > written_ - offset) return kFail;
    std::size_t done = 0;
    while (done < data.size()) {
        OVERLAPPED position{};
        const std::uint64_t at = offset + done;
        position.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
        DWORD put = 0;
        if (!::WriteFile(asHandle(handle_), data.data() + done, chunk, &put, &position)) return lastError();
        if (put == 0) return hresultFromWin32(win32::kDiskFull);
        done += put;
    }
    // A positioned write moves the file pointer of a synchronous handle: back to the end, where the
    // next write appends.
    LARGE_INTEGER end{};
    end.QuadPart = static_cast<LONGLONG>(written_);
    if (!::SetFilePointerEx(asHandle(handle_), end, nullptr, FILE_BEGIN)) return lastError();
    return kOk;
}

HResult OutputFile::copyFrom(FileReader& from, std::uint64_t offset, std::uint64_t size) {
    if (handle_ == -1 || from.handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    return native::copyThroughMemory(from, offset, size, *this);
}

HResult OutputFile::sync() {
    if (handle_ == -1) return hresultFromWin32(win32::kInvalidHandle);
    if (!::FlushFileBuffers(asHandle(handle_))) {
        // Pipes and consoles cannot be flushed; that loses nothing.
        if (::GetFileType(asHandle(handle_)) != FILE_TYPE_DISK) return kOk;
        return lastError();
    }
    return kOk;
}

bool OutputFile::currentState(std::int64_t&, std::uint64_t&) const {
    return false;
}

HResult OutputFile::close() {
    if (handle_ == -1) return kOk;
    HANDLE file = asHandle(handle_);
    handle_ = -1;
    if (!::CloseHandle(file)) return lastError();
    return kOk;
}

HResult TemporaryFolder::create(std::string_view prefix) {
    remove();
    std::wstring base(MAX_PATH + 1, L'\0');
    const DWORD length = ::GetTempPathW(static_cast<DWORD>(base.size()), base.data());
    if (length == 0 || length > base.size()) return lastError();
    base.resize(length);
    // Full control for the folder's owner alone, handed down to everything made inside it.
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;OICI;FA;;;OW)", SDDL_REVISION_1,
                                                                &descriptor, nullptr))
        return lastError();
    SECURITY_ATTRIBUTES security{};
    security.nLength = sizeof security;
    security.lpSecurityDescriptor = descriptor;
    HResult result = hresultFromWin32(win32::kAlreadyExists);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path candidate = fs::path(base) / pathFromUtf8(std::string(prefix) + randomSuffix());
        if (::CreateDirectoryW(candidate.c_str(), &security)) {
            path_ = candidate;
            result = kOk;
            break;
        }
        if (::GetLastError() != ERROR_ALREADY_EXISTS) {
            result = lastError();
            break;
        }
    }
    ::LocalFree(descriptor);
    return result;
}

HResult CreateFolderPath(const fs::path& path) {
    if (path.empty()) return kOk;
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ? kOk : hresultFromWin32(win32::kDirectory);
    fs::path current;
    for (const auto& part : path) {
        current /= part;
        // The root name ("C:", "\\server\share") and the root folder exist, or nothing can be made.
        if (part.empty() || part == current.root_name() || part == current.root_directory() || part == "." ||
            part == "..")
            continue;
        if (::CreateDirectoryW(current.c_str(), nullptr)) continue;
        const DWORD error = ::GetLastError();
        if (isFolder(current)) continue;
        if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS)
            return hresultFromWin32(win32::kDirectory);
        return hresultFromWin32(error);
    }
    return kOk;
}

HResult RemoveFileIfPresent(const fs::path& path) {
    if (::DeleteFileW(path.c_str())) return kOk;
    const DWORD error = ::GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return kOk;
    return hresultFromWin32(error);
}

std::int64_t FileModificationTime(const fs::path& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    // 100-nanosecond steps since 1601 → nanoseconds since 1970.
    const std::uint64_t ticks = (static_cast<std::uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                                data.ftLastWriteTime.dwLowDateTime;
    constexpr std::uint64_t kEpochTicks = 116444736000000000ULL;
    if (ticks < kEpochTicks) return 0;
    return static_cast<std::int64_t>(ticks - kEpochTicks) * 100;
}

bool CanReplaceOpenFile() {
    return false;
}

void AdviseHugePages(std::span<std::byte>) {}

}  // namespace kestrel
#endif
