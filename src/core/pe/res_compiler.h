// The compile context: builds a working folder (header and section files, pe.xml, STRINGS.XML and
// the resource files) back into a PE image with a new resource section.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/pe/file_ranges.h"
#include "core/pe/string_compile.h"
#include "core/platform/byte_reader.h"
#include "core/platform/file_arena.h"
#include "core/platform/files.h"
#include "core/platform/status.h"

namespace kestrel {

class MemoryFolder;
class XmlDocument;
class XmlElement;

// A resource section as the pieces it is written from: the tables, names and padding the compile
// generates, in a buffer of their own, and the resources' bytes where they already lie (the files as
// read, converted bitmaps), kept alive by `owners`. No buffer of the section's size is filled.
// Large files that go in unchanged are not held at all: they are read when the section is written.
struct GatheredSection {
    // A file read when written, in its place right before pieces[before].
    struct LaterFile {
        std::size_t before = 0;
        std::filesystem::path path;
        std::uint64_t size = 0;
    };
    std::vector<Bytes> pieces;  // in output order; valid while this object and `owners` live
    std::vector<LaterFile> files;
    std::vector<std::byte> tables;
    std::vector<std::shared_ptr<const void>> owners;
    std::uint64_t size = 0;
};

// Writes little-endian fields into a buffer that was sized beforehand, so that an output laid out
// first is filled in place without growing or copying. A write that does not fit writes nothing
// and marks the writer as overflowed; the caller checks once at the end. Made on a GatheredSection
// instead, it keeps what it writes in that section's tables and takes long data by reference.
class SpanWriter {
  public:
    explicit SpanWriter(std::span<std::byte> buffer) : buffer_(buffer) {}
    explicit SpanWriter(GatheredSection& gathered) : gathered_(&gathered) {}
    std::size_t size() const { return used_; }
    bool overflowed() const { return overflowed_; }

    void u16(std::uint32_t value);
    void u32(std::uint32_t value) {
        u16(value & 0xFFFF);
        u16(value >> 16);
    }
    // Copies `data`; when gathering, data that `owner` keeps alive is taken where it lies instead
    // (unless it is short enough that copying it costs less than another piece).
    void append(Bytes data, const std::shared_ptr<const void>& owner = nullptr);
    // A file of `size` bytes, unchanged: read into its place, or when gathering, read when written.
    HResult appendFile(const std::filesystem::path& path, std::uint64_t size);
    void alignTo(std::size_t alignment);
    // The next `count` bytes, for the caller to fill at once (when gathering, the place is valid
    // only until the next write); empty (and overflowed) when they do not fit.
    std::span<std::byte> take(std::size_t count);
    // Turns the gathered section's table ranges into its pieces; call once, after the last write.
    void finishGathering();

  private:
    struct Range {
        const std::byte* external;  // nullptr: `size` bytes of the tables from `at`
        std::size_t at;
        std::size_t size;
    };
    std::span<std::byte> buffer_;
    GatheredSection* gathered_ = nullptr;
    std::vector<Range> ranges_;
    std::size_t used_ = 0;
    bool overflowed_ = false;
};

// One Directory of pe.xml, checked against its entry counts.
struct CompileDirectoryNode;

// One Entry of pe.xml.
struct CompileEntryNode {
    bool named = false;
    std::u16string name;                              // named entries
    std::uint16_t id = 0;                             // ID entries
    std::unique_ptr<CompileDirectoryNode> directory;  // Directory='1'

    // Directory='0': the File child, when there is one.
    bool hasFile = false;
    std::string fileName;  // as stored (UTF-8, `\` separators)
    bool sizeIsZero = false;
    bool png = false;
    std::vector<std::byte> tail;  // a string block's bytes after its 16th string (Tail attribute)
    std::uint32_t codePage = 0;   // the data entry's code page (CodePage attribute; absent: 0)

    // Filled by the measuring pass, used by the writing pass: the data, held in memory by
    // `dataOwner` (the file as read, a converted bitmap) until it is copied into the section.
    std::uint64_t measuredSize = 0;
    std::shared_ptr<const void> dataOwner;
    Bytes data;
    // Or a large file that goes in unchanged, read only when the section is written.
    std::filesystem::path laterPath;
    std::uint64_t laterSize = 0;
    std::array<std::byte, 4> prefix{};  // a cursor's hot spot, taken from its file's directory entry
    bool hasPrefix = false;
};

struct CompileDirectoryNode {
    std::vector<CompileEntryNode> entries;  // named entries first
    std::size_t namedCount = 0;
    std::uint32_t type = 0;  // the Type attribute, for the trace
    std::uint64_t measuredSize = 0;
};

class CResCompiler {
  public:
    CResCompiler();
    ~CResCompiler();
    CResCompiler(const CResCompiler&) = delete;
    CResCompiler& operator=(const CResCompiler&) = delete;

    void setWorkingFolder(const std::filesystem::path& folder) { folder_ = folder; }
    // An absolute name puts the compiled file there instead of into the working folder.
    void setOutputName(const std::filesystem::path& name) { outputName_ = name; }
    std::filesystem::path outputPath() const { return folder_ / outputName_; }

    // The image the working folder was imported from without its section files and overlay (see
    // CExeDump::Switches::sectionData): the compile copies those straight from these bytes, which
    // must stay valid until Compile returns. The headers and resources still come from the folder.
    void setSourceImage(Bytes image) { sourceImage_ = image; }
    // The same for an image of which only the headers and the resource section were read (see
    // PartialFileImage): the sections and the overlay are read or copied from its open file.
    void setSourceImage(Bytes image, FileReader& file) {
        sourceImage_ = image;
        sourceFile_ = &file;
    }

    // Resource files and STRINGS.XML held in memory (see CExeDump::setMemoryFolder): a file found
    // there is taken instead of the working folder's; `files` must outlive Compile.
    void setMemoryFolder(const MemoryFolder* files) { memory_ = files; }
    // The description already loaded: Compile takes it instead of reading pe.xml; `description`
    // must outlive Compile.
    void setDescription(const XmlDocument* description) { description_ = description; }

    // Trace lines ("SECTION: .text\n" ...) go to standard output unless redirected here.
    void setTrace(std::function<void(std::string_view)> trace) { trace_ = std::move(trace); }

    // Builds <working folder>/<output name> from the working folder described by `peXmlPath`. The
    // file is written under a temporary name and renamed into place only on success, so a failed
    // compile leaves any earlier file of that name untouched. Failures are reported and returned.
    HResult Compile(const std::filesystem::path& peXmlPath);

    // Loads pe.xml into the checked tree the compile walks. Every Directory must have exactly
    // Named_Entries entries carrying a Name followed by ID_Entries entries carrying an ID, and an
    // entry has a Directory child exactly when it says Directory='1'.
    HResult ProcessXML(const std::filesystem::path& peXmlPath);
    // The same for a description already loaded; `shownPath` names it in messages.
    HResult ProcessDescription(const XmlDocument& document, const std::string& shownPath);

    // Lays out the whole resource section for a section at `sectionRva` into `section`. Resource
    // data starts on 8-byte boundaries; tables, names and data entries are 4-byte aligned.
    HResult CompileRoot(std::uint32_t sectionRva, std::vector<std::byte>& section);

    // The same in two steps, for an output assembled in one buffer: MeasureRoot reads what must be
    // converted (bitmaps, icons, cursors, strings) and sizes every other file; WriteRoot then fills
    // `section` (exactly the measured size), reading those files straight into their places.
    HResult MeasureRoot(std::uint32_t sectionRva, std::uint64_t& size);
    HResult WriteRoot(std::span<std::byte> section);
    // The second step for an output written from pieces: the section as GatheredSection describes.
    HResult GatherRoot(GatheredSection& section);

    // After a successful Compile: where each range of the original file (as the working folder
    // stores it) lies in the compiled file, for code that must find original data in the output.
    const FileRangeMap& fileRanges() const { return fileRanges_; }

    // The loaded tree (after ProcessXML), for tests.
    const CompileDirectoryNode* root() const { return root_.get(); }

  private:
    friend class ImageRebuild;  // the steps of rebuild (pe_rebuild.cpp)
    HResult rebuild(const std::filesystem::path& peXmlPath);
    HResult CompileDirectory(CompileEntryNode& entry, std::uint32_t type, std::uint64_t offset, bool write);
    HResult CompileDirectoryTable(CompileDirectoryNode& directory, std::uint32_t type, std::uint64_t offset,
                                  bool write, bool isRoot);
    HResult CompileData(CompileEntryNode& entry, std::uint32_t type, std::uint64_t offset, bool write);
    HResult CompileStrings(CompileEntryNode& entry, std::uint64_t offset, bool write);
    HResult writeRootInto(SpanWriter& out, std::optional<std::size_t> expected);

    HResult loadData(CompileEntryNode& entry, std::uint32_t type);
    HResult readKept(std::string_view storedName, const std::filesystem::path& path, HeldBytes& out);
    HResult readBitmap(CompileEntryNode& entry, std::filesystem::path path);
    void decodePngBitmaps();
    HResult readStored(CompileEntryNode& entry, const std::filesystem::path& path, bool mayWait);
    HResult readIconImage(CompileEntryNode& entry, bool cursor, const std::filesystem::path& path);
    std::uint16_t defaultStringLanguage(const CompileEntryNode& stringType) const;
    void trace(std::string_view text) const;

    std::filesystem::path folder_;
    std::filesystem::path outputName_;
    std::optional<Bytes> sourceImage_;
    FileReader* sourceFile_ = nullptr;
    const MemoryFolder* memory_ = nullptr;
    const XmlDocument* description_ = nullptr;
    std::function<void(std::string_view)> trace_;

    std::unique_ptr<CompileDirectoryNode> root_;
    // Each file is read once per compile and kept until the section is written.
    // Keyed by the path's spelling: the names come from the same look-ups every time, and a hash of
    // the spelling costs far less than comparing paths element by element.
    std::unordered_map<std::filesystem::path::string_type, HeldBytes> kept_;
    // The memory the measuring pass reads stored files into.
    FileArena storedFiles_;

    // Bitmaps stored as PNG, decoded to BMP files before the layout, by the PNG's path.
    std::unordered_map<std::filesystem::path::string_type, HeldBytes> decodedPngs_;

    // String table, built once in the measuring pass.
    std::unique_ptr<StringTableBuilder> strings_;

    FileRangeMap fileRanges_;
    SpanWriter* out_ = nullptr;
    std::uint32_t sectionRva_ = 0;
};

}  // namespace kestrel
