#include "core/platform/files.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "support/temp_dir.h"

namespace kestrel {
namespace {

using testing::readText;
using testing::TempDir;

std::vector<fs::path> folderEntries(const fs::path& folder) {
    std::vector<fs::path> entries;
    for (const auto& entry : fs::directory_iterator(folder))
        entries.push_back(entry.path().filename());
    std::sort(entries.begin(), entries.end());
    return entries;
}

TEST(OpenMappedFile, ReadsTheWholeFileAndRefusesWhatCannotBeMapped) {
    TempDir dir;
    std::string big(300000, 'k');
    big[299999] = 'z';
    MappedFile file;
    ASSERT_EQ(OpenMappedFile(dir.write("big.bin", big), file), kOk);
    EXPECT_TRUE(file.isOpen());
    EXPECT_EQ(file.text(), big);

    // A failed open releases what was open before.
    EXPECT_EQ(OpenMappedFile(dir.write("empty.bin", ""), file).value(), 0x800703EEu);
    EXPECT_FALSE(file.isOpen());
    EXPECT_EQ(file.size(), 0u);
    EXPECT_EQ(OpenMappedFile(dir / "missing.bin", file).value(), 0x80070002u);
    EXPECT_EQ(OpenMappedFile(dir / "missing/x.bin", file).value(), 0x80070003u);
    EXPECT_EQ(OpenMappedFile(dir.path(), file).value(), 0x80070005u);

    // A pipe without a writer must neither block nor be read forever.
    auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(OpenMappedFile(fifo, file).value(), 0x80070005u);
    std::vector<std::byte> bytes;
    EXPECT_EQ(ReadWholeFile("/dev/zero", bytes).value(), 0x80070005u);

    std::vector<std::byte> empty{std::byte{1}};
    EXPECT_EQ(ReadWholeFile(dir / "empty.bin", empty), kOk);
    EXPECT_TRUE(empty.empty());
}

// A file read into a place sized from an earlier measurement must still have that size: a file
// that grew or shrank since is refused, never read in part or past its place.
TEST(ReadFileInto, FillsExactlyItsPlaceAndRefusesAFileOfAnotherSize) {
    TempDir dir;
    const fs::path file = dir.write("data.bin", "0123456789");
    std::uint64_t size = 0;
    ASSERT_EQ(RegularFileSize(file, size), kOk);
    EXPECT_EQ(size, 10u);
    std::vector<std::byte> buffer(12, std::byte{'#'});
    ASSERT_EQ(ReadFileInto(file, std::span<std::byte>(buffer).subspan(1, 10)), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), buffer.size()), "#0123456789#");

    EXPECT_EQ(ReadFileInto(file, std::span<std::byte>(buffer).first(9)), kFail);
    EXPECT_EQ(ReadFileInto(file, std::span<std::byte>(buffer).first(11)), kFail);
    EXPECT_EQ(ReadFileInto(dir / "missing.bin", std::span<std::byte>(buffer).first(10)).value(), 0x80070002u);

    // A part of the file: the file must still have its measured size and hold the whole part.
    ASSERT_EQ(ReadFileRangeInto(file, 10, 7, std::span<std::byte>(buffer).first(3)), kOk);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(buffer.data()), 4), "7892");
    EXPECT_EQ(ReadFileRangeInto(file, 11, 7, std::span<std::byte>(buffer).first(3)), kFail);
    EXPECT_EQ(ReadFileRangeInto(file, 10, 8, std::span<std::byte>(buffer).first(3)), kFail);
    EXPECT_EQ(ReadFileRangeInto(file, 10, ~std::uint64_t{0}, std::span<std::byte>(buffer).first(1)), kFail);
    // Folders, pipes and devices are not files to be read, however they are sized.
    EXPECT_EQ(RegularFileSize(dir.path(), size).value(), 0x80070005u);
    EXPECT_EQ(RegularFileSize("/dev/zero", size).value(), 0x80070005u);
    EXPECT_EQ(ReadFileInto("/dev/zero", std::span<std::byte>(buffer).first(0)).value(), 0x80070005u);
}

// Only the loaded ranges of a partly read file hold its bytes; the rest of the view is zeros. A range
// copied from it lands after what was written, whether the system copies it or we do, and a file
// that became shorter since it was opened fails the copy and the load instead of giving less.
TEST(PartialFileImage, LoadsOnlyItsRangesAndCopiesTheRestStraightFromTheFile) {
    TempDir dir;
    std::string content(3 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + i % 23);
    const fs::path source = dir.write("source.bin", content);
    PartialFileImage image;
    ASSERT_EQ(image.open(source), kOk);
    ASSERT_EQ(image.bytes().size(), content.size());
    ASSERT_EQ(image.load(10, 5), kOk);
    const auto text = [&](std::size_t at, std::size_t count) {
        return std::string(reinterpret_cast<const char*>(image.bytes().data()) + at, count);
    };
    EXPECT_EQ(text(8, 9), std::string(2, '\0') + content.substr(10, 5) + std::string(2, '\0'));
    EXPECT_EQ(image.load(content.size() - 1, 2), kFail);
    EXPECT_EQ(image.load(~std::uint64_t{0}, 2), kFail);

    OutputFile out;
    const fs::path copy = dir / "copy.bin";
    ASSERT_EQ(out.open(copy, Disposition::kCreateAlways), kOk);
    ASSERT_EQ(out.write(std::string_view("head")), kOk);
    ASSERT_EQ(out.copyFrom(image.file(), 7, content.size() - 7), kOk);
    ASSERT_EQ(out.copyFrom(image.file(), 0, 3), kOk);
    EXPECT_EQ(out.copyFrom(image.file(), content.size() - 2, 3), kFail);
    EXPECT_EQ(out.written(), 4 + content.size() - 7 + 3);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_TRUE(readText(copy) == "head" + content.substr(7) + content.substr(0, 3));

    ASSERT_EQ(::truncate(source.c_str(), 100), 0);
    ASSERT_EQ(out.open(copy, Disposition::kCreateAlways), kOk);
    EXPECT_EQ(out.copyFrom(image.file(), 50, 1000), kFail);
    EXPECT_EQ(image.load(50, 1000), kFail);
    (void)out.close();

    EXPECT_EQ(image.open(dir.write("empty.bin", "")).value(), 0x800703EEu);
    EXPECT_EQ(image.open(dir.path()).value(), 0x80070005u);
}

// A file header and the data behind it go out in one call, in order, and count as written.
TEST(OutputFile, WritesHeadAndBodyInOrderWithEitherEmpty) {
    TempDir dir;
    const fs::path path = dir / "joined.bin";
    OutputFile out;
    EXPECT_EQ(out.write(asBytes(std::string_view("a")), asBytes(std::string_view("b"))).value(), 0x80070006u);
    ASSERT_EQ(out.open(path, Disposition::kCreateAlways), kOk);
    const std::string big(200000, 'x');
    ASSERT_EQ(out.write(asBytes(std::string_view("HEAD")), asBytes(std::string_view(big))), kOk);
    ASSERT_EQ(out.write(Bytes{}, asBytes(std::string_view("body"))), kOk);
    ASSERT_EQ(out.write(asBytes(std::string_view("head")), Bytes{}), kOk);
    EXPECT_EQ(out.written(), 4 + big.size() + 8);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_TRUE(readText(path) == "HEAD" + big + "bodyhead");
}

// The import copies section files from the PE file, which often lies on another file system than
// the working folder (a download folder and a RAM disk): the kernel copy between file systems takes
// the bytes as they are and notices an input that became shorter.
TEST(OutputFile, CopyFromAnotherFileSystemTakesTheBytesAndNoticesAShorterInput) {
    TempDir dir;
    struct stat shm {};
    struct stat here {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(dir.path().c_str(), &here) != 0 || shm.st_dev == here.st_dev)
        GTEST_SKIP() << "no second file system at /dev/shm";
    const fs::path source = fs::path("/dev/shm") / ("kestrel-copy-" + std::to_string(::getpid()) + ".bin");
    std::string content(1 << 20, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + i % 29);
    ASSERT_EQ(WriteWholeFile(source, asBytes(std::string_view(content))), kOk);
    FileReader reader;
    ASSERT_EQ(reader.open(source), kOk);
    OutputFile out;
    const fs::path copy = dir / "copy.bin";
    ASSERT_EQ(out.open(copy, Disposition::kCreateAlways), kOk);
    ASSERT_EQ(out.write(std::string_view("<")), kOk);
    ASSERT_EQ(out.copyFrom(reader, 5, content.size() - 5), kOk);
    ASSERT_EQ(out.copyFrom(reader, 0, 5), kOk);
    EXPECT_EQ(out.written(), 1 + content.size());
    ASSERT_EQ(out.close(), kOk);
    EXPECT_TRUE(readText(copy) == "<" + content.substr(5) + content.substr(0, 5));

    ASSERT_EQ(::truncate(source.c_str(), 100), 0);
    ASSERT_EQ(out.open(copy, Disposition::kCreateAlways), kOk);
    EXPECT_EQ(out.copyFrom(reader, 50, 1000), kFail);
    (void)out.close();
    fs::remove(source);
}

TEST(OutputFile, HonoursTheDispositions) {
    TempDir dir;
    auto path = dir.write("f.txt", "0123456789");
    OutputFile out;

    ASSERT_EQ(out.open(path, Disposition::kOpenExisting), kOk);
    ASSERT_EQ(out.write("ab"), kOk);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_EQ(readText(path), "ab23456789");

    ASSERT_EQ(out.open(path, Disposition::kOpenAlways), kOk);
    ASSERT_EQ(out.write("XY"), kOk);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_EQ(readText(path), "XY23456789");

    ASSERT_EQ(out.open(path, Disposition::kCreateAlways), kOk);
    ASSERT_EQ(out.write("new"), kOk);
    EXPECT_EQ(out.written(), 3u);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_EQ(readText(path), "new");

    EXPECT_EQ(out.open(path, Disposition::kCreateNew).value(), 0x80070050u);
    EXPECT_EQ(out.open(dir / "absent.txt", Disposition::kOpenExisting).value(), 0x80070002u);
    EXPECT_FALSE(fs::exists(dir / "absent.txt"));
    ASSERT_EQ(out.open(dir / "fresh.txt", Disposition::kOpenAlways), kOk);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_TRUE(fs::exists(dir / "fresh.txt"));
    EXPECT_EQ(out.open(dir.path(), Disposition::kCreateAlways).value(), 0x80070005u);
}

// A field known only once everything after it is written (a checksum) is written in place; what
// follows still appends, and nothing is written beyond what was written.
TEST(OutputFile, WriteAtOverwritesInPlaceAndLaterWritesStillAppend) {
    TempDir dir;
    const fs::path path = dir / "out.bin";
    OutputFile out;
    ASSERT_EQ(out.open(path, Disposition::kCreateAlways), kOk);
    ASSERT_EQ(out.write("0123456789"), kOk);
    ASSERT_EQ(out.writeAt(2, asBytes(std::string_view("ab"))), kOk);
    ASSERT_EQ(out.writeAt(8, asBytes(std::string_view("YZ"))), kOk);
    EXPECT_EQ(out.writeAt(9, asBytes(std::string_view("no"))), kFail);
    EXPECT_EQ(out.writeAt(~std::uint64_t{0}, asBytes(std::string_view("x"))), kFail);
    ASSERT_EQ(out.write("tail"), kOk);
    EXPECT_EQ(out.written(), 14u);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_EQ(readText(path), "01ab4567YZtail");

    // Through the atomic writer: the replacement holds the field, the target is replaced once.
    const fs::path target = dir.write("target.bin", "old");
    AtomicFileWriter writer;
    ASSERT_EQ(writer.open(target), kOk);
    ASSERT_EQ(writer.write("....body"), kOk);
    ASSERT_EQ(writer.writeAt(0, asBytes(std::string_view("HEAD"))), kOk);
    EXPECT_EQ(readText(target), "old");
    ASSERT_EQ(writer.commit(), kOk);
    EXPECT_EQ(readText(target), "HEADbody");
}

// Memory from the system in large pages is mapped from a page boundary and given back in full;
// sizes just below, at and above a large page, and a buffer replaced by one of another size, read
// as zeros and keep every byte written to their last byte.
TEST(ZeroedBuffer, ReadsAsZerosAndHoldsWhatIsWrittenAtEverySize) {
    constexpr std::size_t kLarge = 2u << 20;
    ZeroedBuffer buffer;
    for (std::size_t size : {std::size_t{1}, kLarge - 1, kLarge, kLarge + 1, 5 * kLarge + 4095}) {
        for (bool filledWhole : {false, true}) {
            SCOPED_TRACE(::testing::Message() << size << (filledWhole ? " filled whole" : ""));
            ASSERT_EQ(buffer.allocate(size, filledWhole), kOk);
            std::span<std::byte> bytes = buffer.span();
            ASSERT_EQ(bytes.size(), size);
            EXPECT_EQ(bytes.front(), std::byte{0});
            EXPECT_EQ(bytes.back(), std::byte{0});
            EXPECT_EQ(bytes[size / 2], std::byte{0});
            std::fill(bytes.begin(), bytes.end(), std::byte{0x5A});
            EXPECT_EQ(buffer.bytes()[size - 1], std::byte{0x5A});
        }
    }
    EXPECT_EQ(buffer.allocate(~std::size_t{0} / 2, true).value(), kOutOfMemory.value());
    EXPECT_TRUE(buffer.bytes().empty());
}

TEST(OutputFile, ReportsAFullDeviceAndWritesWhenClosed) {
    OutputFile out;
    if (out.open("/dev/full", Disposition::kOpenExisting).failed()) GTEST_SKIP() << "no /dev/full";
    EXPECT_EQ(out.write(std::string(5000, 'x')).value(), 0x80070070u);
    ASSERT_EQ(out.close(), kOk);
    EXPECT_EQ(out.write("x").value(), 0x80070006u);
}

// Limits the size of files this process may write, so that a write fails with EFBIG even as root.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        ::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() { ::setrlimit(RLIMIT_FSIZE, &saved_); }

  private:
    rlimit saved_{};
};

TEST(AtomicReplace, AFailingWriteLeavesTheOriginalAndNoTemporary) {
    TempDir dir;
    auto target = dir.write("theme.dll", "original");
    HResult hr = kOk;
    {
        FileSizeLimit limit(4096);
        hr = WriteFileAtomic(target, std::string(10000, 'n'));
    }
    EXPECT_EQ(hr.value(), 0x800700DFu);
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<fs::path>{"theme.dll"});
}

// More pieces than one system call takes (empty ones among them, and one far longer than the
// rest) arrive in order and whole; a gathered write that the system cuts short fails instead of
// reporting success, and the atomic writer then refuses to commit.
TEST(OutputFile, GatheredWritesKeepOrderAcrossBatchesAndFailWhenCutShort) {
    TempDir dir;
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < 3000; ++i)
        texts.push_back(i % 7 == 3 ? std::string() : std::to_string(i) + ",");
    texts[1500] = std::string(1 << 20, 'L');
    std::vector<Bytes> pieces;
    std::string expected;
    for (const std::string& text : texts) {
        pieces.push_back(asBytes(std::string_view(text)));
        expected += text;
    }
    const fs::path target = dir.write("gathered.bin", "old");
    AtomicFileWriter writer;
    ASSERT_EQ(writer.open(target), kOk);
    ASSERT_EQ(writer.write("head:"), kOk);
    ASSERT_EQ(writer.writeGathered(pieces), kOk);
    ASSERT_EQ(writer.writeGathered({}), kOk);
    ASSERT_EQ(writer.writeAt(0, asBytes(std::string_view("HEAD"))), kOk);
    ASSERT_EQ(writer.commit(), kOk);
    EXPECT_TRUE(readText(target) == "HEAD:" + expected);

    const fs::path limited = dir.write("limited.bin", "original");
    {
        FileSizeLimit limit(100000);
        AtomicFileWriter cut;
        ASSERT_EQ(cut.open(limited), kOk);
        EXPECT_TRUE(cut.writeGathered(pieces).failed());
        EXPECT_TRUE(cut.commit().failed());
    }
    EXPECT_EQ(readText(limited), "original");
}

TEST(AtomicReplace, CommitAfterAFailedWriteIsRefused) {
    TempDir dir;
    auto target = dir.write("pe.xml", "original");
    AtomicFileWriter writer;
    ASSERT_EQ(writer.open(target), kOk);
    {
        FileSizeLimit limit(4096);
        ASSERT_EQ(writer.write("<?xml"), kOk);
        EXPECT_TRUE(writer.write(std::string(10000, 'n')).failed());
    }
    EXPECT_TRUE(writer.write("more").failed());
    EXPECT_EQ(writer.commit().value(), 0x800700DFu);
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<fs::path>{"pe.xml"});
}

TEST(AtomicReplace, AFolderInPlaceOfTheTargetStaysAndNoTemporaryRemains) {
    TempDir dir;
    fs::create_directory(dir / "out.dll");
    dir.write("out.dll/inside", "keep");
    EXPECT_TRUE(WriteFileAtomic(dir / "out.dll", "data").failed());
    EXPECT_EQ(readText(dir / "out.dll/inside"), "keep");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<fs::path>{"out.dll"});
    EXPECT_EQ(WriteFileAtomic(dir / "missing/out.dll", "data").value(), 0x80070003u);
}

TEST(AtomicReplace, ASpecialFileInPlaceOfTheTargetIsNotReplaced) {
    TempDir dir;
    auto fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(WriteFileAtomic(fifo, "data").value(), 0x80070005u);
    EXPECT_TRUE(fs::is_fifo(fifo));
    EXPECT_EQ(folderEntries(dir.path()), std::vector<fs::path>{"pipe"});
}

TEST(AtomicReplace, ReplacesContentKeepsPermissionsAndFollowsLinks) {
    TempDir dir;
    auto target = dir.write("real.txt", "old");
    ::chmod(target.c_str(), 0640);
    fs::create_symlink("real.txt", dir / "link.txt");
    ASSERT_EQ(WriteFileAtomic(dir / "link.txt", "new"), kOk);
    EXPECT_TRUE(fs::is_symlink(dir / "link.txt"));
    EXPECT_EQ(readText(target), "new");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    auto copy = dir / "copy.txt";
    ASSERT_EQ(CopyFileAtomic(target, copy), kOk);
    EXPECT_EQ(readText(copy), "new");
    EXPECT_EQ(CopyFileAtomic(dir / "nothing", copy).value(), 0x80070002u);
    EXPECT_EQ(readText(copy), "new");
    EXPECT_EQ(folderEntries(dir.path()), (std::vector<fs::path>{"copy.txt", "link.txt", "real.txt"}));
}

TEST(AtomicReplace, AReadOnlyFolderFailsWithoutTouchingTheOriginal) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    auto target = dir.write("ro/file.txt", "original");
    ::chmod((dir / "ro").c_str(), 0555);
    EXPECT_EQ(WriteFileAtomic(target, "new").value(), 0x80070005u);
    ::chmod((dir / "ro").c_str(), 0755);
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(folderEntries(dir / "ro"), std::vector<fs::path>{"file.txt"});
}

TEST(AtomicReplace, AReadOnlyTargetIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    auto target = dir.write("theme.dll", "original");
    ::chmod(target.c_str(), 0444);
    EXPECT_EQ(WriteFileAtomic(target, "new").value(), 0x80070005u);
    EXPECT_EQ(readText(target), "original");
    EXPECT_EQ(folderEntries(dir.path()), std::vector<fs::path>{"theme.dll"});
}

TEST(CreateFolderPath, CreatesNestedFoldersAndRefusesPlainFiles) {
    TempDir dir;
    ASSERT_EQ(CreateFolderPath(dir / "a/b/c"), kOk);
    EXPECT_TRUE(fs::is_directory(dir / "a/b/c"));
    EXPECT_EQ(CreateFolderPath(dir / "a/b/c/"), kOk);
    EXPECT_EQ(CreateFolderPath(dir / "a/./b/../b"), kOk);

    dir.write("a/file", "x");
    EXPECT_EQ(CreateFolderPath(dir / "a/file").value(), 0x8007010Bu);
    EXPECT_EQ(CreateFolderPath(dir / "a/file/sub").value(), 0x8007010Bu);
    EXPECT_EQ(readText(dir / "a/file"), "x");
}

TEST(RemoveFileIfPresent, AMissingFileIsSuccess) {
    TempDir dir;
    auto file = dir.write("x", "1");
    EXPECT_EQ(RemoveFileIfPresent(file), kOk);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(RemoveFileIfPresent(file), kOk);
    EXPECT_EQ(RemoveFileIfPresent(dir.path()).value(), 0x80070005u);
}

TEST(IsSameFile, ComparesIdentityNotSpelling) {
    TempDir dir;
    auto file = dir.write("x.dll", "1");
    dir.write("y.dll", "1");
    EXPECT_TRUE(IsSameFile(file, dir / "./x.dll"));
    EXPECT_FALSE(IsSameFile(file, dir / "y.dll"));
    EXPECT_FALSE(IsSameFile(file, dir / "missing.dll"));
    EXPECT_EQ(FileModificationTime(dir / "missing.dll"), 0);
    EXPECT_GT(FileModificationTime(file), 0);
}

TEST(FilesHaveSameContent, ComparesEveryPieceOfLargeFiles) {
    TempDir dir;
    // Longer than one piece of the comparison, and not a whole number of them.
    std::string text(3 * 64 * 1024 + 17, 'a');
    for (std::size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 23);
    const fs::path a = dir.write("a.bin", text);
    const fs::path same = dir.write("same.bin", text);
    std::string late = text;
    late.back() = '#';  // differs only in the last, partial piece
    const fs::path lateDifference = dir.write("late.bin", late);
    std::string second = text;
    second[64 * 1024] = '#';  // the first byte of the second piece
    const fs::path secondPiece = dir.write("second.bin", second);
    const fs::path shorter = dir.write("short.bin", text.substr(0, text.size() - 1));
    const fs::path empty = dir.write("empty.bin", "");
    const fs::path empty2 = dir.write("empty2.bin", "");

    EXPECT_TRUE(FilesHaveSameContent(a, same));
    EXPECT_FALSE(FilesHaveSameContent(a, lateDifference));
    EXPECT_FALSE(FilesHaveSameContent(a, secondPiece));
    EXPECT_FALSE(FilesHaveSameContent(a, shorter));
    EXPECT_FALSE(FilesHaveSameContent(shorter, a));
    EXPECT_TRUE(FilesHaveSameContent(empty, empty2));
    EXPECT_FALSE(FilesHaveSameContent(a, dir / "missing.bin"));
    EXPECT_FALSE(FilesHaveSameContent(dir.path(), dir.path()));
}

}  // namespace
}  // namespace kestrel
