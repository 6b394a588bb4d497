// The parts of file handling that are the same on every system; the system calls are in
// files_posix.cpp and files_windows.cpp.
#include "core/platform/files.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <system_error>

#include "core/platform/files_native.h"
#include "core/platform/paths.h"
#include "core/platform/system.h"

namespace kestrel {

namespace {

std::atomic<unsigned> temporaryCounter{0};

// Unique per process and call, in the target's folder so that the rename stays atomic. The
// target's own name is shortened so that the temporary name stays within the 255-byte limit.
fs::path temporaryNameFor(const fs::path& target) {
    std::string name = pathToUtf8(target.filename());
    if (name.size() > 160) name.resize(160);
    auto stamp = static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count());
    return target.parent_path() /
           pathFromUtf8(name + "." + std::to_string(CurrentProcessId()) + "." +
                        std::to_string(temporaryCounter++) + "." + std::to_string(stamp % 1000000) + ".tmp");
}

}  // namespace

void CloseMappedFile(MappedFile& file) {
    file.data.clear();
    file.data.shrink_to_fit();
    file.path.clear();
    file.open_ = false;
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

OutputFile::OutputFile(OutputFile&& other) noexcept
    : handle_(other.handle_), path_(std::move(other.path_)), written_(other.written_) {
    other.handle_ = -1;
}

OutputFile& OutputFile::operator=(OutputFile&& other) noexcept {
    if (this != &other) {
        native::closeFile(handle_);
        handle_ = other.handle_;
        path_ = std::move(other.path_);
        written_ = other.written_;
        other.handle_ = -1;
    }
    return *this;
}

OutputFile::~OutputFile() {
    native::closeFile(handle_);
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

HResult AtomicFileWriter::writeGathered(std::span<const Bytes> pieces) {
    if (writeFailure_.failed()) return writeFailure_;
    HResult hr = file_.writeGathered(pieces);
    if (hr.failed()) writeFailure_ = hr;
    return hr;
}

HResult AtomicFileWriter::copyFrom(FileReader& from, std::uint64_t offset, std::uint64_t size) {
    if (writeFailure_.failed()) return writeFailure_;
    HResult hr = file_.copyFrom(from, offset, size);
    if (hr.failed()) writeFailure_ = hr;
    return hr;
}

HResult AtomicFileWriter::writeAt(std::uint64_t offset, Bytes data) {
    if (writeFailure_.failed()) return writeFailure_;
    HResult hr = file_.writeAt(offset, data);
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
    hr = native::replaceFile(temporary_, target_);
    if (hr.failed()) {
        discard();
        return hr;
    }
    temporary_.clear();
    return kOk;
}

void AtomicFileWriter::discard() {
    (void)file_.close();
    if (!temporary_.empty()) {
        (void)RemoveFileIfPresent(temporary_);
        temporary_.clear();
    }
}

ZeroedBuffer::~ZeroedBuffer() {
    release();
}

void ZeroedBuffer::release() {
    if (data_) native::releaseZeroed(data_, size_, large_);
    data_ = nullptr;
    size_ = 0;
}

HResult ZeroedBuffer::allocate(std::size_t size, bool filledWhole) {
    release();
    data_ = native::allocateZeroed(size, filledWhole);
    if (!data_) return kOutOfMemory;
    size_ = size;
    large_ = filledWhole;
    return kOk;
}

PartialFileImage::~PartialFileImage() {
    if (data_) native::releaseZeroed(data_, size_, large_);
}

HResult PartialFileImage::open(const fs::path& path, bool largePages) {
    if (data_) native::releaseZeroed(data_, size_, large_);
    data_ = nullptr;
    size_ = 0;
    if (HResult hr = file_.open(path); hr.failed()) return hr;
    if (file_.size() == 0) return hresultFromWin32(win32::kFileInvalid);
    if (file_.size() >= std::numeric_limits<std::size_t>::max() / 2) return kOutOfMemory;
    size_ = static_cast<std::size_t>(file_.size());
    // Large pages: the ranges loaded are the headers and whole sections, read in long runs. Without
    // them, each long run loaded asks for large pages over itself alone (load).
    large_ = largePages;
    data_ = native::allocateZeroed(size_, large_);
    if (!data_) {
        size_ = 0;
        return kOutOfMemory;
    }
    return kOk;
}

HResult PartialFileImage::load(std::uint64_t offset, std::uint64_t size) {
    if (offset > size_ || size > size_ - offset) return kFail;
    if (!large_) AdviseHugePages(std::span<std::byte>(data_ + offset, static_cast<std::size_t>(size)));
    return file_.readAt(offset, std::span<std::byte>(data_ + offset, static_cast<std::size_t>(size)));
}

namespace native {

HResult copyThroughMemory(FileReader& from, std::uint64_t offset, std::uint64_t size, OutputFile& to) {
    constexpr std::uint64_t kPiece = 1 << 20;
    std::vector<std::byte> buffer(static_cast<std::size_t>(std::min(size, kPiece)));
    while (size != 0) {
        const std::span<std::byte> piece(buffer.data(), static_cast<std::size_t>(std::min(size, kPiece)));
        if (HResult hr = from.readAt(offset, piece); hr.failed()) return hr;
        if (HResult hr = to.write(Bytes{piece.data(), piece.size()}); hr.failed()) return hr;
        offset += piece.size();
        size -= piece.size();
    }
    return kOk;
}

}  // namespace native

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

void TemporaryFolder::remove() {
    if (path_.empty()) return;
    std::error_code error;
    fs::remove_all(path_, error);
    path_.clear();
}

bool IsSameFile(const fs::path& a, const fs::path& b) {
    std::error_code ec;
    bool same = fs::equivalent(a, b, ec);
    return !ec && same;
}

HResult ReadWholeFileHeld(const fs::path& path, HeldBytes& out) {
    out = {};
    FileReader file;
    if (HResult hr = file.open(path); hr.failed()) return hr;
    const std::uint64_t size = file.size();
    if (size > std::numeric_limits<std::size_t>::max() / 2) return kOutOfMemory;
    std::shared_ptr<std::byte[]> bytes;
    try {
        bytes = std::make_shared_for_overwrite<std::byte[]>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return kOutOfMemory;
    }
    const std::span<std::byte> place(bytes.get(), static_cast<std::size_t>(size));
    if (HResult hr = file.readAt(0, place); hr.failed()) return hr;
    out.bytes = place;
    out.owner = std::move(bytes);
    return kOk;
}

// Compared piece by piece through two small buffers that stay in the cache: no buffer of the
// files' size is allocated and faulted in.
bool FilesHaveSameContent(const fs::path& a, const fs::path& b) {
    FileReader readerA;
    FileReader readerB;
    if (readerA.open(a).failed() || readerB.open(b).failed()) return false;
    const std::uint64_t size = readerA.size();
    if (readerB.size() != size) return false;
    constexpr std::size_t kPiece = 64 * 1024;
    std::unique_ptr<std::byte[]> buffers(new (std::nothrow) std::byte[2 * kPiece]);
    if (!buffers) return false;
    const std::span<std::byte> pieceA(buffers.get(), kPiece);
    const std::span<std::byte> pieceB(buffers.get() + kPiece, kPiece);
    for (std::uint64_t at = 0; at < size;) {
        const std::size_t count = static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - at));
        if (readerA.readAt(at, pieceA.first(count)).failed() ||
            readerB.readAt(at, pieceB.first(count)).failed())
            return false;
        if (std::memcmp(pieceA.data(), pieceB.data(), count) != 0) return false;
        at += count;
    }
    return true;
}

}  // namespace kestrel
