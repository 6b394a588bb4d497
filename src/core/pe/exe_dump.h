// The dump context of one import: writes the DOS header, the NT headers and every section except
// the resource section into the working folder, walks the resource directory into one file per
// resource plus STRINGS.XML, and writes pe.xml last.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <initializer_list>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "core/pe/memory_folder.h"
#include "core/pe/pe_image.h"
#include "core/pe/resource_file_names.h"
#include "core/pe/resource_reader.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/status.h"

namespace kestrel {

class CExeDump {
  public:
    // What the dump writes; everything but the PNG conversion is on after construction.
    struct Switches {
        bool dosHeader = true;
        bool peXml = true;
        bool ntHeader = true;
        bool plainResources = true;
        bool strings = true;
        bool version = true;
        bool images = true;
        bool pngBitmaps = false;  // store 32-bit bitmaps as PNG
        // The section files and PEOVERLAY.BIN; off when the compile takes them from the original
        // image (CResCompiler::setSourceImage) and only the resources are to be edited.
        bool sectionData = true;
        bool bitFieldBox = true;  // the first bit-field bitmap shows a box
    };

    CExeDump() = default;
    ~CExeDump();
    CExeDump(const CExeDump&) = delete;
    CExeDump& operator=(const CExeDump&) = delete;

    Switches& switches() { return switches_; }

    // Resource files and STRINGS.XML go into `files` instead of the working folder (which then gets
    // only the header files and the description). A resource stored as it is stays a view into the
    // image given to Dump, which must outlive `files`; bitmaps stay .BMP files (no PNG step).
    void setMemoryFolder(MemoryFolder* files) { memory_ = files; }

    // The header and section files and PEOVERLAY.BIN are copied from `file`, the open file whose
    // bytes Dump is given, instead of being written from those bytes: the image given to Dump then
    // needs to hold only the headers and the resource section (PartialFileImage).
    void setSourceFile(FileReader* file) { source_ = file; }

    // A further file name of the working folder that no resource may take (the project file).
    void reserveFileName(std::string_view name) { reserved_.emplace_back(name); }

    // The import of one image (the whole file). `folder` is the working folder; `peXmlName` the
    // name of the description written last. Failures are recorded with ReportMessage.
    HResult Dump(Bytes image, const std::filesystem::path& folder, std::string_view peXmlName);

    // Output primitives. CreateOutFile opens the file for the current resource, whose stored name
    // (the shown file name) is chosen by the naming rules; with `pngSibling` the name's PNG sibling
    // is claimed too. WriteOut records the size of the last write.
    HResult CreateOutFile(Disposition disposition, bool pngSibling = false);
    HResult WriteOut(Bytes data);
    // `head` and then `data` (a file header in front of the resource); the size recorded is the data's.
    HResult WriteOut(Bytes head, Bytes data);
    HResult CloseOut();
    void AppendXml(std::string_view format, std::initializer_list<FormatArg> args = {});
    // Writes the collected pe.xml text (replacing the file atomically).
    HResult FlushXml(std::string_view fileName);

    // The resource walk: a directory at `level` reached through `via` (the root: level 0 and an
    // empty entry), and one entry at `level`.
    HResult DumpResourceDirectory(std::uint32_t offset, int level, const ResourceDirectoryEntry& via);
    HResult DumpResourceEntry(const ResourceDirectoryEntry& entry, int level);

    // String tables: one block appended to STRINGS.XML; the file is completed and written by
    // CloseStrings.
    HResult DumpStringBlock(Bytes data);
    HResult CloseStrings();

    const std::string& xmlText() const { return xml_; }
    // Bitmaps with BI_BITFIELDS compression met so far; they are kept as .BMP files.
    int bitFieldBitmaps() const { return bitFieldBitmaps_; }
    const std::string& shownFileName() const { return shownFileName_; }
    // With `record` on, each resource file closed by CloseOut is listed with the time and size it
    // was left with, so that the caller need not look at the folder again.
    void recordWrittenFiles(bool record) { recordWritten_ = record; }
    const std::vector<WrittenFile>& writtenFiles() const { return written_; }

  private:
    HResult dumpHeaders(const PeImage& image);
    HResult writeFixedFile(std::string_view name, Bytes data, std::uint64_t zeroPadding = 0);
    HResult dumpResourceData(Bytes data);
    HResult dumpBitmap(Bytes data);
    HResult dumpIconOrCursor(Bytes data, bool cursor);
    HResult writeResourceFile(Bytes header, Bytes data, bool enabled, bool pngSibling = false);
    std::string chooseShownName(bool pngSibling);
    void fileLine(std::optional<bool> png = std::nullopt);
    // ` CodePage='N'` for a data entry with a non-zero code page; nothing otherwise.
    std::string codePageAttribute() const;
    void report(int line, std::string_view format, std::initializer_list<FormatArg> args);
    std::filesystem::path outputPath(std::string_view stored) const;
    std::string nameForId(std::uint16_t id) const;
    // The current type and name as messages show them ("ICON", "3"; named ones by their names).
    std::string currentTypeLabel() const;
    HResult createSubfolderOf(std::string_view stored);

    // A 32-bit bitmap on its way to PNG: the BMP file's bytes, both file names, and the place in
    // the description of the digit that says which of the two was written.
    struct PngJob {
        std::vector<std::byte> bmp;
        std::filesystem::path bmpPath;
        std::filesystem::path pngPath;
        std::size_t xmlDigit = 0;
        bool converted = false;
    };
    void queuePngJob(PngJob job);
    void pngWorker();
    PngJob* takePngJob(bool wait);
    static void convertPngJob(PngJob& job);
    // Waits for every conversion, writes the BMP files of those that failed and completes the
    // description. Called once the walk is over, on every way out of Dump.
    HResult finishPngJobs();
    void stopPngWorkers();

    Switches switches_;
    MemoryFolder* memory_ = nullptr;
    FileReader* source_ = nullptr;
    Bytes image_;
    std::vector<std::string> reserved_;
    std::filesystem::path folder_;
    ResourceReader resources_;
    ClaimedNames claimed_;
    std::unordered_set<std::uint32_t> visitedDirectories_;
    // Resource bytes written so far, and the most a tree may make us write: entries may share one
    // data entry, and a hostile tree could otherwise turn a small file into gigabytes of output.
    std::uint64_t resourceBytes_ = 0;
    std::uint64_t resourceByteLimit_ = 0;
    bool reportStarted_ = false;

    // Walk state.
    bool currentTypeNamed_ = false;
    std::uint32_t currentType_ = 0;
    std::string currentTypeName_;
    std::string currentFileName_;
    std::string currentNameLabel_;
    std::string shownFileName_;
    std::uint16_t currentLanguage_ = 0;
    std::uint32_t currentCodePage_ = 0;  // of the current data entry
    std::uint32_t stringBaseId_ = 0;
    int bitFieldBitmaps_ = 0;

    OutputFile out_;
    std::uint64_t lastWriteSize_ = 0;
    std::string xml_;

    bool stringsStarted_ = false;
    std::optional<std::uint16_t> defaultStringLanguage_;
    std::string stringTail_;  // hex of the bytes after the last string slot of the current block
    std::string strings_;

    // A folder that was empty when the import began holds no leftovers: no name needs to be
    // checked on disk and no stale sibling file removed.
    bool freshFolder_ = false;
    std::unordered_set<std::string> createdFolders_;
    bool recordWritten_ = false;
    std::vector<WrittenFile> written_;

    // PNG conversions run on worker threads while the walk goes on; the deque keeps each job in
    // place while more are added.
    std::deque<PngJob> pngJobs_;
    std::size_t nextPngJob_ = 0;
    bool walkDone_ = false;
    std::mutex pngMutex_;
    std::condition_variable pngReady_;
    std::vector<std::thread> pngWorkers_;
};

// Appends `text` to `out` with the escapes of the XML writer: bytes 0x00-0x1F as "&#x..;", and
// quote, ampersand, apostrophe, less-than and greater-than as entities.
void appendXmlEscaped(std::string& out, std::string_view text);

// STRINGS.XML as the import writes it: this header, one line per string, then the footer.
inline constexpr std::string_view kStringsXmlHeader = "<?xml version='1.0' encoding='ISO-8859-1'?><ROOT>\r\n";
inline constexpr std::string_view kStringsXmlFooter = "</ROOT>";

// Appends the STRINGS.XML line of string `id` with the UTF-8 `text`: the language only when it is
// not the file's default one (the language of the first block).
void appendStringsLine(std::string& out, std::int32_t id, std::optional<std::uint16_t> language,
                       std::string_view text);

}  // namespace kestrel
