// The rebuild of a PE image from a working folder: the saved headers and sections in section-table
// order, a new resource section in place of the old one, and the header fields that depend on it.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/pe/pe_checksum.h"
#include "core/pe/pe_image.h"
#include "core/pe/pe_layout.h"
#include "core/pe/res_compiler.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "compile";
constexpr std::string_view kTransferFailed = "未能传送文件 %s 到编译目录。\n";

constexpr std::uint32_t kSectionDiscardable = 0x02000000;
constexpr std::uint32_t kResourceSectionCharacteristics = 0x40000040;  // initialized data, read
constexpr std::uint64_t kMaxFileAlignment = 0x10000;

std::uint64_t alignUp(std::uint64_t value, std::uint64_t alignment) {
    return (value + alignment - 1) / alignment * alignment;
}

// Writes `value` little-endian at `offset` of `bytes` (the caller has checked that it fits).
template <typename T>
void putLe(std::span<std::byte> bytes, std::size_t offset, T value) {
    for (std::size_t i = 0; i < sizeof(T); ++i)
        bytes[offset + i] = static_cast<std::byte>((value >> (8 * i)) & 0xFF);
}

std::uint32_t getU32(const std::vector<std::byte>& bytes, std::size_t offset) {
    return ByteReader(Bytes{bytes.data(), bytes.size()}).u32Or(offset, 0);
}

bool isRelocationSectionName(const SectionNameBytes& name) {
    return iequalsAscii(sectionNameText(name), ".reloc");
}

// The bytes of the original image that the output takes unchanged: in memory, or, when only its
// headers and resources were read, in its file, from which they are read or copied on demand.
class SourceBytes {
  public:
    SourceBytes() = default;
    SourceBytes(Bytes image, FileReader* file) : image_(image), file_(file) {}

    // True when the bytes of `view` (a part of the image) are to be taken from the file.
    bool inFile(Bytes view) const { return file_ && !view.empty(); }
    // `into.size()` bytes of `view`, from `within`.
    HResult read(Bytes view, std::uint64_t within, std::span<std::byte> into) const {
        if (within > view.size() || into.size() > view.size() - within) return kFail;
        if (into.empty()) return kOk;
        if (inFile(view)) return file_->readAt(offsetOf(view) + within, into);
        std::memcpy(into.data(), view.data() + within, into.size());
        return kOk;
    }
    // Appends `view` to the output. With a checksum to sum, bytes in the file are read into
    // `buffer` a piece at a time, summed while the piece is still in the cache and written from
    // there, so that each byte is read once; without one the system copies them between the files.
    HResult write(Bytes view, AtomicFileWriter& writer, PeChecksum* checksum,
                  std::vector<std::byte>& buffer) const {
        if (!checksum)
            return inFile(view) ? writer.copyFrom(*file_, offsetOf(view), view.size()) : writer.write(view);
        if (!inFile(view)) {
            checksum->add(view);
            return writer.write(view);
        }
        constexpr std::size_t kPiece = 256 * 1024;
        if (buffer.size() < std::min(view.size(), kPiece)) buffer.resize(std::min(view.size(), kPiece));
        for (std::size_t at = 0; at < view.size();) {
            const std::span<std::byte> piece(buffer.data(), std::min(buffer.size(), view.size() - at));
            // The original could not be read again (it became shorter since it was opened).
            if (HResult hr = file_->readAt(offsetOf(view) + at, piece); hr.failed())
                return ReportError(false, kSource, __LINE__, hr);
            const Bytes filled(piece.data(), piece.size());
            checksum->add(filled);
            if (HResult hr = writer.write(filled); hr.failed()) return hr;
            at += piece.size();
        }
        return kOk;
    }

  private:
    std::uint64_t offsetOf(Bytes view) const {
        return static_cast<std::uint64_t>(view.data() - image_.data());
    }
    Bytes image_;
    FileReader* file_ = nullptr;
};

// Pieces handed to the writer many at a time, each summed into the checksum right before its batch
// is written, while it is still in the cache. The pieces must stay valid until `flush`.
class GatheredWriter {
  public:
    GatheredWriter(AtomicFileWriter& writer, PeChecksum* sum) : writer_(writer), sum_(sum) {}

    HResult add(Bytes bytes, bool zeros = false) {
        if (bytes.empty()) return kOk;
        pending_.push_back(bytes);
        zeros_.push_back(zeros);
        pendingBytes_ += bytes.size();
        // A batch small enough to be summed and written while it is in the cache.
        constexpr std::size_t kBatchPieces = 1024;
        constexpr std::size_t kBatchBytes = 512 * 1024;
        return pending_.size() >= kBatchPieces || pendingBytes_ >= kBatchBytes ? flush() : kOk;
    }
    HResult addZeros(std::uint64_t count) {
        static const std::vector<std::byte> zeros(0x10000);
        for (std::uint64_t left = count; left != 0;) {
            const auto chunk = static_cast<std::size_t>(std::min<std::uint64_t>(left, zeros.size()));
            if (HResult hr = add(Bytes{zeros.data(), chunk}, true); hr.failed()) return hr;
            left -= chunk;
        }
        return kOk;
    }
    HResult flush() {
        if (pending_.empty()) return kOk;
        if (sum_) {
            for (std::size_t i = 0; i < pending_.size(); ++i) {
                if (zeros_[i])
                    sum_->addZeros(pending_[i].size());
                else
                    sum_->add(pending_[i]);
            }
        }
        HResult hr = writer_.writeGathered(pending_);
        pending_.clear();
        zeros_.clear();
        pendingBytes_ = 0;
        return hr;
    }

  private:
    AtomicFileWriter& writer_;
    PeChecksum* sum_;
    std::vector<Bytes> pending_;
    std::vector<bool> zeros_;
    std::size_t pendingBytes_ = 0;
};

// The output laid out first as a list of pieces: bytes held in memory, runs of zeros, files that
// are read only when the output is written, and the resource section, gathered from where its
// parts lie. The output is written from the pieces as they are, many to a call, with the checksum
// summed over each batch right before it is written: no buffer of the output's size is filled.
class OutputPlan {
  public:
    using Gather = std::function<HResult(GatheredSection&)>;

    explicit OutputPlan(const SourceBytes& source) : source_(source) {}

    void append(std::shared_ptr<const std::vector<std::byte>> data) {
        size_ += data->size();
        pieces_.push_back({std::move(data), 0, {}, {}, {}, {}, {}, {}});
    }
    // Bytes that stay valid until the output is written (the mapped original image).
    void view(Bytes data) {
        if (data.empty()) return;
        size_ += data.size();
        pieces_.push_back({nullptr, data.size(), {}, {}, {}, data, {}, {}});
    }
    void zeros(std::uint64_t count) {
        if (count == 0) return;
        size_ += count;
        pieces_.push_back({nullptr, count, {}, {}, {}, {}, {}, {}});
    }
    // A file of `size` bytes; `shownName` names it when it cannot be read.
    void file(std::filesystem::path path, std::uint64_t size, std::string shownName) {
        size_ += size;
        pieces_.push_back({nullptr, size, std::move(path), std::move(shownName), {}, {}, {}, {}});
    }
    // `size` bytes that `gather` describes as pieces before the output is written.
    void gathered(std::uint64_t size, Gather gather) {
        size_ += size;
        pieces_.push_back({nullptr, size, {}, {}, std::move(gather), {}, {}, {}});
    }
    std::uint64_t size() const { return size_; }

    // A 32-bit field of the output at `offset` that gets `value` when its piece is written (a file
    // offset inside section data that is otherwise copied unchanged).
    void patch(std::uint64_t offset, std::uint32_t value) { patches_.push_back({offset, value}); }

    // Prepares the pieces that are not simply copied: the gathered ones are described, and the
    // patched ones in memory are copied, so that `write` can hand every piece over where it is.
    // A file is patched as it is read.
    HResult materialize() {
        std::uint64_t at = 0;
        for (Piece& piece : pieces_) {
            const std::uint64_t count = piece.data ? piece.data->size() : piece.size;
            at += count;
            if (piece.gather) {
                auto gathered = std::make_shared<GatheredSection>();
                if (HResult hr = piece.gather(*gathered); hr.failed()) return hr;
                if (gathered->size != count) return ReportError(false, kSource, __LINE__, kFail);
                piece.gathered = std::move(gathered);
                piece.gather = nullptr;
                continue;
            }
            if (!piece.path.empty()) continue;
            const bool patched = std::any_of(patches_.begin(), patches_.end(), [&](const Patch& patch) {
                return patch.offset >= at - count && patch.offset + 4 <= at;
            });
            if (!patched) continue;
            // Memory from the system, filled whole: a section may be megabytes long.
            auto held = std::make_shared<ZeroedBuffer>();
            if (HResult hr = held->allocate(static_cast<std::size_t>(count), true); hr.failed())
                return ReportError(false, kSource, __LINE__, hr);
            const std::span<std::byte> owned = held->span();
            if (piece.data && !owned.empty()) {
                std::memcpy(owned.data(), piece.data->data(), owned.size());
            } else if (!piece.view.empty()) {
                if (HResult hr = source_.read(piece.view, 0, owned); hr.failed()) return transferFailed(hr);
            }
            applyPatches(owned, at - count);
            piece = Piece{nullptr, count, {}, {}, {}, {}, std::move(held), {}};
        }
        return kOk;
    }
    // Hands the pieces to the writer in batches, summing them into `sum` when there is one.
    HResult write(AtomicFileWriter& writer, PeChecksum* sum) const {
        GatheredWriter out(writer, sum);
        std::vector<std::byte> buffer;
        std::uint64_t at = 0;
        for (const Piece& piece : pieces_) {
            const std::uint64_t count = piece.data ? piece.data->size() : piece.size;
            HResult hr = kOk;
            if (piece.data) {
                hr = out.add(Bytes{piece.data->data(), piece.data->size()});
            } else if (piece.held) {
                hr = out.add(piece.held->bytes());
            } else if (piece.gathered) {
                hr = writeGathered(*piece.gathered, at, out, buffer);
            } else if (piece.gather) {
                hr = ReportError(false, kSource, __LINE__, kFail);  // not materialized
            } else if (!piece.view.empty()) {
                if (!source_.inFile(piece.view)) {
                    hr = out.add(piece.view);
                } else if (hr = out.flush(); hr.succeeded()) {
                    hr = source_.write(piece.view, writer, sum, buffer);
                }
            } else if (!piece.path.empty()) {
                hr = writeFile(piece.path, piece.size, piece.shownName, at, out, buffer);
            } else {
                hr = out.addZeros(count);
            }
            if (hr.failed()) return hr;
            at += count;
        }
        return out.flush();
    }

  private:
    // The original file could not be read again (it became shorter since it was opened).
    static HResult transferFailed(HResult hr) { return ReportError(false, kSource, __LINE__, hr); }

    struct Piece {
        std::shared_ptr<const std::vector<std::byte>> data;
        std::uint64_t size;  // of anything but `data`
        std::filesystem::path path;
        std::string shownName;
        Gather gather;
        Bytes view;
        std::shared_ptr<const ZeroedBuffer> held;  // a piece patched before the output is written
        std::shared_ptr<const GatheredSection> gathered;
    };
    struct Patch {
        std::uint64_t offset;
        std::uint32_t value;
    };

    // Puts the bytes of every patch that falls into `bytes`, which lie at `offset` of the output; a
    // patch may straddle two of the parts a file is read in.
    void applyPatches(std::span<std::byte> bytes, std::uint64_t offset) const {
        for (const Patch& patch : patches_) {
            for (std::uint64_t k = 0; k < 4; ++k) {
                const std::uint64_t at = patch.offset + k;
                if (at >= offset && at - offset < bytes.size())
                    bytes[static_cast<std::size_t>(at - offset)] =
                        static_cast<std::byte>((patch.value >> (8 * k)) & 0xFF);
            }
        }
    }

    // The resource section's pieces, with the files it holds unread read in their places.
    HResult writeGathered(const GatheredSection& section, std::uint64_t at, GatheredWriter& out,
                          std::vector<std::byte>& buffer) const {
        std::size_t nextFile = 0;
        for (std::size_t i = 0; i <= section.pieces.size(); ++i) {
            for (; nextFile < section.files.size() && section.files[nextFile].before == i; ++nextFile) {
                const GatheredSection::LaterFile& file = section.files[nextFile];
                if (HResult hr = writeFile(file.path, file.size, pathToUtf8(file.path), at, out, buffer);
                    hr.failed())
                    return hr;
                at += file.size;
            }
            if (i == section.pieces.size()) break;
            if (HResult hr = out.add(section.pieces[i]); hr.failed()) return hr;
            at += section.pieces[i].size();
        }
        return kOk;
    }

    // A stored file, read a part at a time into `buffer` (reused: each part is written before the
    // next is read), patched, and handed on with the pieces around it.
    HResult writeFile(const std::filesystem::path& path, std::uint64_t size, const std::string& shownName,
                      std::uint64_t at, GatheredWriter& out, std::vector<std::byte>& buffer) const {
        FileReader file;
        HResult hr = file.open(path);
        // A file whose size changed since the layout was made would not fit its place.
        if (hr.succeeded() && file.size() != size) hr = kFail;
        if (hr.failed()) return unreadable(shownName, hr);
        constexpr std::size_t kPart = 256 * 1024;
        for (std::uint64_t done = 0; done < size;) {
            if (hr = out.flush(); hr.failed()) return hr;  // what `buffer` held is written
            const auto part = static_cast<std::size_t>(std::min<std::uint64_t>(size - done, kPart));
            if (buffer.size() < part) buffer.resize(part);
            const std::span<std::byte> place(buffer.data(), part);
            if (hr = file.readAt(done, place); hr.failed()) return unreadable(shownName, hr);
            applyPatches(place, at + done);
            if (hr = out.add(Bytes{place.data(), place.size()}); hr.failed()) return hr;
            done += part;
        }
        return kOk;
    }
    static HResult unreadable(const std::string& shownName, HResult hr) {
        ReportMessage(false, kSource, __LINE__, kTransferFailed, {shownName});
        return ReportError(false, kSource, __LINE__, hr);
    }

    SourceBytes source_;
    std::vector<Piece> pieces_;
    std::vector<Patch> patches_;
    std::uint64_t size_ = 0;
};

HResult layoutError(int line, std::string_view format, std::initializer_list<FormatArg> args = {}) {
    ReportMessage(false, kSource, line, format, args);
    return ReportError(false, kSource, line, kFail);
}

struct Section {
    SectionNameBytes name{};
    std::size_t headerOffset = 0;  // in NTHEADER.BIN
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t sizeOfRawData = 0;
    std::uint32_t pointerToRawData = 0;
    std::uint32_t characteristics = 0;
    std::uint32_t originalPointerToRawData = 0;
    std::uint32_t originalVirtualAddress = 0;
    // Where the section's stored raw data went in the output, and how much of it there is.
    std::uint64_t placedAt = 0;
    std::uint64_t placedSize = 0;
    std::filesystem::path file;  // the stored raw data (not for the resource section)
    Bytes memory;                // or the raw data in the source image, followed by zeros
    bool stored = false;         // the raw data was placed (every section but the resource section)
};

// `into.size()` bytes of a placed section's raw data from `within`.
HResult readPlaced(const Section& section, const SourceBytes& source, std::uint64_t within,
                   std::span<std::byte> into) {
    if (!section.file.empty()) return ReadFileRangeInto(section.file, section.placedSize, within, into);
    if (within > section.placedSize || into.size() > section.placedSize - within) return kFail;
    std::fill(into.begin(), into.end(), std::byte{0});
    if (within < section.memory.size()) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(into.size(), section.memory.size() - within));
        return source.read(section.memory, within, into.first(count));
    }
    return kOk;
}

constexpr std::size_t kDebugDirectory = 6;
constexpr std::size_t kDebugEntrySize = 28;
constexpr std::size_t kDebugPointerToRawData = 24;
constexpr std::uint64_t kMaxDebugEntries = 4096;

// Moves the file offset stored at `field` of the headers to where the data it points at went. An
// offset of 0, or one that points at nothing the working folder holds, stays as it is; one that
// points into the rebuilt resource section has nothing left to point at.
HResult movePointer(std::vector<std::byte>& ntHeader, std::size_t field, std::string_view what,
                    const FileRangeMap& ranges) {
    const std::uint32_t offset = getU32(ntHeader, field);
    if (offset == 0) return kOk;
    if (const auto moved = ranges.newOffsetOf(offset)) {
        if (*moved > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
        putLe<std::uint32_t>(ntHeader, field, static_cast<std::uint32_t>(*moved));
        return kOk;
    }
    if (ranges.replaced(offset))
        return layoutError(__LINE__, "%s (文件偏移 0x%X) 指向被重建的资源节的原始数据，编译被拒绝。",
                           {what, offset});
    return kOk;
}

// The debug directory's entries keep their data's file offset (PointerToRawData) besides its
// address in memory; data outside every section (in the overlay, say) has the file offset alone.
// Each entry whose data moved gets its new offset, written into the section data as it is copied.
HResult moveDebugPointers(const std::vector<Section>& sections, const SourceBytes& source, std::uint32_t rva,
                          std::uint32_t size, const FileRangeMap& ranges, OutputPlan& plan) {
    if (rva == 0 || size < kDebugEntrySize) return kOk;
    for (const Section& section : sections) {
        if (!section.stored || rva < section.originalVirtualAddress) continue;
        const std::uint64_t within = rva - section.originalVirtualAddress;
        if (within >= section.placedSize) continue;
        const std::uint64_t count = std::min({std::uint64_t{size} / kDebugEntrySize, kMaxDebugEntries,
                                              (section.placedSize - within) / kDebugEntrySize});
        if (count == 0) return kOk;
        std::vector<std::byte> entries(static_cast<std::size_t>(count * kDebugEntrySize));
        if (HResult hr = readPlaced(section, source, within, entries); hr.failed()) {
            ReportMessage(false, kSource, __LINE__, kTransferFailed, {sectionNameText(section.name)});
            return ReportError(false, kSource, __LINE__, hr);
        }
        for (std::size_t k = 0; k < count; ++k) {
            const std::size_t field = k * kDebugEntrySize + kDebugPointerToRawData;
            const std::uint32_t pointer = getU32(entries, field);
            if (pointer == 0) continue;
            const auto moved = ranges.newOffsetOf(pointer);
            if (!moved) {
                if (ranges.replaced(pointer))
                    return layoutError(
                        __LINE__, "调试目录项 %d 的数据 (文件偏移 0x%X) 位于被重建的资源节中，编译被拒绝。",
                        {k, pointer});
                continue;
            }
            if (*moved > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
            if (*moved != pointer)
                plan.patch(section.placedAt + within + field, static_cast<std::uint32_t>(*moved));
        }
        return kOk;
    }
    return kOk;
}

// Written under a temporary name and renamed into place only when complete.
HResult writeOutput(const std::filesystem::path& output,
                    const std::function<HResult(AtomicFileWriter&)>& fill) {
    AtomicFileWriter writer;
    HResult hr = writer.open(output);
    if (hr.succeeded()) hr = fill(writer);
    if (hr.succeeded()) hr = writer.commit();
    if (hr.failed()) {
        writer.discard();
        RecordError(false, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, "未能写入到文件 %s\n", {pathToUtf8(output)});
        return hr;
    }
    return kOk;
}

// The output goes to the file from its pieces where they lie. Its checksum is summed over the
// pieces as they are written and put into the field at `checksumOffset` last, so that each byte is
// read once.
HResult writeStreamed(const std::filesystem::path& output, OutputPlan& plan, std::uint64_t checksumOffset,
                      bool newChecksum) {
    if (HResult hr = plan.materialize(); hr.failed()) return hr;
    return writeOutput(output, [&](AtomicFileWriter& writer) {
        if (!newChecksum) return plan.write(writer, nullptr);
        PeChecksum sum;
        if (HResult hr = plan.write(writer, &sum); hr.failed()) return hr;
        std::array<std::byte, 4> field{};
        putLe<std::uint32_t>(field, 0, sum.finish());
        return writer.writeAt(checksumOffset, Bytes{field.data(), field.size()});
    });
}

}  // namespace

HResult CResCompiler::Compile(const std::filesystem::path& peXmlPath) {
    ClearErrorRecord();
    HResult hr = rebuild(peXmlPath);
    root_.reset();
    kept_.clear();
    strings_.reset();
    if (hr.failed()) uiSink().message(Localized("编译失败"), "TEST", MessageIcon::kNone);
    return hr;
}

// The rebuild of an image from the working folder, step by step: read the headers, read the section
// table, lay out the sections with the new resource section in place of the old one (or after the
// last one), place the overlay, move the file offsets the image stores, patch the headers, and
// write the output.
class ImageRebuild {
  public:
    explicit ImageRebuild(CResCompiler& compiler) : compiler_(compiler) {}

    HResult run() {
        if (HResult hr = readHeaders(); hr.failed()) return hr;
        if (HResult hr = readSectionTable(); hr.failed()) return hr;
        if (HResult hr = layOutSections(); hr.failed()) return hr;
        if (appendResources_)
            if (HResult hr = appendResourceSection(); hr.failed()) return hr;
        if (HResult hr = placeOverlay(); hr.failed()) return hr;
        if (HResult hr = moveStoredOffsets(); hr.failed()) return hr;
        patchHeaders();
        return assemble();
    }

  private:
    // A file that goes into the output unchanged: only its path and size are needed until the
    // output is assembled.
    struct SizedFile {
        std::filesystem::path path;
        std::uint64_t size = 0;
        std::string shownName;
    };

    HResult readStoredFile(std::string_view storedName, std::shared_ptr<std::vector<std::byte>>& out) const;
    HResult sizeStoredFile(std::string_view storedName, SizedFile& out, bool mayBeMissing = false) const;
    HResult badHeader(int line, std::string_view storedName) const;
    std::size_t directoryAddress(std::size_t index) const { return layout_.directory(index); }
    std::uint32_t ntU32(std::size_t offset) const { return getU32(*ntHeader_, offset); }
    std::optional<std::size_t> directoryInto(const Section& section) const;

    HResult readHeaders();
    HResult readSectionTable();
    HResult layOutSections();
    HResult padTo(Section& section, std::uint64_t pointer);
    HResult placeResourceSection(Section& section);
    HResult placeSection(std::size_t index);
    HResult appendResourceSection();
    HResult placeOverlay();
    HResult moveStoredOffsets();
    void patchHeaders();
    HResult assemble();

    CResCompiler& compiler_;
    std::shared_ptr<std::vector<std::byte>> dosHeader_, ntHeader_;
    NtLayout layout_{};
    std::uint64_t h0_ = 0;  // where the NT headers start
    std::uint64_t h1_ = 0;  // where they end
    std::uint64_t fileAlignment_ = 0;
    std::uint64_t sectionAlignment_ = 0;
    std::array<std::uint32_t, kMaxDataDirectories> originalDirectoryRvas_{};
    std::uint32_t originalSizeOfHeaders_ = 0;
    std::uint32_t originalChecksum_ = 0;
    std::uint32_t originalSizeOfImage_ = 0;

    std::vector<Section> sections_;
    std::vector<std::string> sectionFiles_;
    std::optional<std::size_t> resourceIndex_;
    Section originalResource_;
    PeImage source_;
    SourceBytes sourceBytes_;
    bool appendResources_ = false;
    bool unchanged_ = false;
    std::uint64_t originalOverlayStart_ = 0;
    std::uint64_t lowest_ = 0;  // the lowest raw address of any section

    std::unique_ptr<OutputPlan> plan_;
    bool resourceWritten_ = false;
    std::int64_t deltaRaw_ = 0;
    std::int64_t deltaVa_ = 0;
    bool newChecksum_ = false;
};

HResult ImageRebuild::readStoredFile(std::string_view storedName,
                                     std::shared_ptr<std::vector<std::byte>>& out) const {
    std::filesystem::path path;
    HResult hr = resolveStored(compiler_.folder_, storedName, path);
    out = std::make_shared<std::vector<std::byte>>();
    if (hr.succeeded()) hr = ReadWholeFile(path, *out);
    if (hr.failed()) {
        ReportMessage(false, kSource, __LINE__, kTransferFailed,
                      {pathToUtf8(compiler_.folder_ / std::string(storedName))});
        return ReportError(false, kSource, __LINE__, hr);
    }
    return kOk;
}

HResult ImageRebuild::sizeStoredFile(std::string_view storedName, SizedFile& out, bool mayBeMissing) const {
    out = SizedFile{};
    out.shownName = pathToUtf8(compiler_.folder_ / std::string(storedName));
    HResult hr = resolveStored(compiler_.folder_, storedName, out.path);
    if (hr.succeeded()) {
        std::error_code ec;
        if (mayBeMissing &&
            std::filesystem::symlink_status(out.path, ec).type() == std::filesystem::file_type::not_found)
            return kFalse;
        hr = RegularFileSize(out.path, out.size);
    }
    if (hr.failed()) {
        ReportMessage(false, kSource, __LINE__, kTransferFailed, {out.shownName});
        return ReportError(false, kSource, __LINE__, hr);
    }
    return kOk;
}

HResult ImageRebuild::badHeader(int line, std::string_view storedName) const {
    ReportMessage(false, kSource, line, kTransferFailed,
                  {pathToUtf8(compiler_.folder_ / std::string(storedName))});
    return ReportError(false, kSource, line, kFail);
}

// The data directory that points into a section (RVA inside its memory extent), if any.
std::optional<std::size_t> ImageRebuild::directoryInto(const Section& section) const {
    std::uint64_t start = section.virtualAddress;
    std::uint64_t end = start + std::max(section.virtualSize, section.sizeOfRawData);
    for (std::size_t d = 0; d < layout_.directoryCount; ++d) {
        if (d == kDirectorySecurity) continue;
        std::uint32_t rva = originalDirectoryRvas_[d];
        if (rva != 0 && rva >= start && rva < end) return d;
    }
    return std::nullopt;
}

// The headers are read first: the layout comes from them, and they are corrected in memory.
HResult ImageRebuild::readHeaders() {
    if (HResult hr = readStoredFile(kDosHeaderFileName, dosHeader_); hr.failed()) return hr;
    if (HResult hr = readStoredFile(kNtHeaderFileName, ntHeader_); hr.failed()) return hr;
    if (dosHeader_->empty()) return badHeader(__LINE__, kDosHeaderFileName);
    if (dosHeader_->size() >= 64 && getU32(*dosHeader_, kPeHeaderOffsetField) != dosHeader_->size())
        return badHeader(__LINE__, kDosHeaderFileName);
    ByteReader nt(Bytes{ntHeader_->data(), ntHeader_->size()});
    if (readNtLayout(nt, layout_).failed()) return badHeader(__LINE__, kNtHeaderFileName);
    if (!nt.contains(layout_.sectionTable, std::uint64_t{kSectionHeaderSize} * layout_.sectionCount))
        return badHeader(__LINE__, kNtHeaderFileName);

    h0_ = dosHeader_->size();
    h1_ = h0_ + ntHeader_->size();
    fileAlignment_ = ntU32(nt_field::kFileAlignment);
    sectionAlignment_ = ntU32(nt_field::kSectionAlignment);
    if (fileAlignment_ == 0 || fileAlignment_ > kMaxFileAlignment || sectionAlignment_ == 0)
        return layoutError(__LINE__, "文件对齐 0x%X 或节对齐 0x%X 无效。",
                           {fileAlignment_, sectionAlignment_});
    for (std::size_t d = 0; d < layout_.directoryCount; ++d)
        originalDirectoryRvas_[d] = ntU32(directoryAddress(d));
    originalSizeOfHeaders_ = ntU32(nt_field::kSizeOfHeaders);
    originalChecksum_ = ntU32(nt_field::kCheckSum);
    originalSizeOfImage_ = ntU32(nt_field::kSizeOfImage);
    return kOk;
}

// The section table as the image reader reads it, where each section's data is, and where the
// overlay began in the original.
HResult ImageRebuild::readSectionTable() {
    const ByteReader nt(Bytes{ntHeader_->data(), ntHeader_->size()});
    const std::size_t sectionCount = layout_.sectionCount;
    sections_.assign(sectionCount, Section{});
    std::vector<SectionNameBytes> names(sectionCount);
    for (std::size_t i = 0; i < sectionCount; ++i) {
        Section& section = sections_[i];
        section.headerOffset = layout_.sectionHeader(i);
        const SectionHeader header = readSectionHeader(*nt.slice(section.headerOffset, kSectionHeaderSize));
        section.name = header.name;
        section.virtualSize = header.virtualSize;
        section.virtualAddress = header.virtualAddress;
        section.sizeOfRawData = header.sizeOfRawData;
        section.pointerToRawData = header.pointerToRawData;
        section.characteristics = header.characteristics;
        section.originalPointerToRawData = section.pointerToRawData;
        section.originalVirtualAddress = section.virtualAddress;
        names[i] = section.name;
        if (isResourceSectionName(section.name)) {
            if (resourceIndex_) return layoutError(__LINE__, "这个文件有多个资源部分。");
            resourceIndex_ = i;
        }
    }
    sectionFiles_ = sectionFileNames(names);
    // Section data and overlay from the original image: its headers are the ones the folder holds.
    if (compiler_.sourceImage_) {
        std::string reason;
        if (parsePeImage(*compiler_.sourceImage_, source_, &reason).failed() ||
            source_.sections.size() != sectionCount)
            return layoutError(__LINE__, "无法导入这个 PE 文件：%s", {reason});
        sourceBytes_ = SourceBytes(*compiler_.sourceImage_, compiler_.sourceFile_);
    }
    // An image without a resource section stays exactly as it is while the description lists no
    // resource; resources added to it go into a new section after the last one.
    appendResources_ = !resourceIndex_ && compiler_.root_ && !compiler_.root_->entries.empty();
    unchanged_ = !resourceIndex_ && !appendResources_;
    originalResource_ = resourceIndex_ ? sections_[*resourceIndex_] : Section{};

    // Where the overlay began in the original: after the headers and every section's raw data.
    originalOverlayStart_ = originalSizeOfHeaders_;
    for (const Section& section : sections_)
        if (section.sizeOfRawData != 0)
            originalOverlayStart_ = std::max(originalOverlayStart_,
                                             std::uint64_t{section.pointerToRawData} + section.sizeOfRawData);

    // Sections with raw data start at the lowest raw address; the headers are padded up to it.
    lowest_ = h1_;
    bool haveLowest = false;
    for (const Section& section : sections_) {
        if (section.sizeOfRawData == 0 || section.pointerToRawData == 0) continue;
        lowest_ = haveLowest ? std::min<std::uint64_t>(lowest_, section.pointerToRawData)
                             : section.pointerToRawData;
        haveLowest = true;
    }
    compiler_.trace(safeFormat("Min Address is %8X\n", {lowest_}));
    compiler_.trace(safeFormat("Must pad %8X\n", {lowest_ > h1_ ? lowest_ - h1_ : 0}));
    // Raw data inside the headers (as packers lay files out) cannot be rebuilt piece by piece.
    for (const Section& section : sections_) {
        if (section.sizeOfRawData == 0 || section.pointerToRawData == 0 || section.pointerToRawData >= h1_)
            continue;
        return layoutError(
            __LINE__,
            "节 %s 的原始数据从 0x%X 开始，位于文件头 (到 0x%X) 之内：无法安全地重新排列，编译被拒绝。",
            {sectionNameText(section.name), section.pointerToRawData, h1_});
    }
    return kOk;
}

// The headers, then every section in section-table order at its raw address (moved by the change
// in size of the resource section when it follows that section).
HResult ImageRebuild::layOutSections() {
    compiler_.fileRanges_ = FileRangeMap{};
    compiler_.fileRanges_.add(0, h1_, 0);  // the headers stay where they are
    plan_ = std::make_unique<OutputPlan>(sourceBytes_);
    plan_->append(dosHeader_);
    plan_->append(ntHeader_);  // corrected in place below, before anything is written
    if (h1_ < lowest_) plan_->zeros(lowest_ - h1_);

    for (std::size_t i = 0; i < sections_.size(); ++i) {
        compiler_.trace(safeFormat("SECTION: %s\n", {sectionNameText(sections_[i].name)}));
        HResult hr =
            resourceIndex_ && i == *resourceIndex_ ? placeResourceSection(sections_[i]) : placeSection(i);
        if (hr.failed()) return hr;
    }

    // A section listed before the resource section but placed after it in memory would not move.
    if (deltaVa_ != 0) {
        for (std::size_t i = 0; i < *resourceIndex_; ++i)
            if (sections_[i].virtualAddress > originalResource_.virtualAddress)
                return layoutError(__LINE__,
                                   "节 %s 在内存中位于资源部分之后，但在节表中位于它之前，编译被拒绝。",
                                   {sectionNameText(sections_[i].name)});
    }
    return kOk;
}

// Zeros up to a section's raw address.
HResult ImageRebuild::padTo(Section& section, std::uint64_t pointer) {
    if (plan_->size() > pointer && resourceWritten_) {
        // The stored raw data began inside the old resource section's raw range, which the new
        // section has filled: the section goes to the next boundary of the output.
        section.pointerToRawData = static_cast<std::uint32_t>(alignUp(plan_->size(), fileAlignment_));
        pointer = section.pointerToRawData;
    }
    if (plan_->size() > pointer)
        return layoutError(__LINE__, "节 %s 的原始数据位于 0x%X，但是前面的数据已经写到 0x%X。",
                           {sectionNameText(section.name), pointer, plan_->size()});
    plan_->zeros(pointer - plan_->size());
    return kOk;
}

// The new resource section where the old one was; what follows moves by the change in its size.
HResult ImageRebuild::placeResourceSection(Section& section) {
    compiler_.trace("RESOURCE section\n");
    if (section.sizeOfRawData != 0 && section.pointerToRawData != 0)
        if (HResult hr = padTo(section, section.pointerToRawData); hr.failed()) return hr;
    std::uint64_t start = plan_->size();
    if (start > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
    if (section.pointerToRawData != 0)
        compiler_.fileRanges_.addReplaced(section.originalPointerToRawData, section.sizeOfRawData);
    std::uint64_t size = 0;
    if (HResult hr = compiler_.MeasureRoot(section.virtualAddress, size); hr.failed()) return hr;
    plan_->gathered(size, [this](GatheredSection& section) { return compiler_.GatherRoot(section); });
    compiler_.trace(safeFormat("RESOURCE at 0x%.8x\n", {plan_->size()}));
    std::uint64_t padding = alignUp(plan_->size(), fileAlignment_) - plan_->size();
    plan_->zeros(padding);

    std::uint64_t newRawSize = size + padding;
    if (newRawSize > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
    deltaRaw_ = static_cast<std::int64_t>(newRawSize) - section.sizeOfRawData;
    deltaVa_ = static_cast<std::int64_t>(alignUp(newRawSize, sectionAlignment_)) -
               static_cast<std::int64_t>(alignUp(section.sizeOfRawData, sectionAlignment_));
    section.pointerToRawData = static_cast<std::uint32_t>(start);
    section.virtualSize = static_cast<std::uint32_t>(size);
    section.sizeOfRawData = static_cast<std::uint32_t>(newRawSize);
    if (kDirectoryResource < layout_.directoryCount) {
        std::size_t at = directoryAddress(kDirectoryResource);
        std::uint32_t rva = ntU32(at);
        if (rva != 0 && rva != section.virtualAddress)
            return layoutError(__LINE__, "资源数据目录 (0x%X) 不在资源部分 %s (0x%X) 的开头。",
                               {rva, sectionNameText(section.name), section.virtualAddress});
        putLe<std::uint32_t>(*ntHeader_, at + 4, static_cast<std::uint32_t>(size));
    }
    resourceWritten_ = true;
    return kOk;
}

// A section other than the resource section keeps its raw data; after the resource section it
// moves in the file, and in memory when the resource section's memory changed size.
HResult ImageRebuild::placeSection(std::size_t index) {
    Section& section = sections_[index];
    const std::string shownName = sectionNameText(section.name);
    SizedFile data;
    std::uint64_t missing = 0;
    if (compiler_.sourceImage_) {
        section.memory = source_.availableRawData(source_.sections[index]);
        missing = source_.missingRawData(source_.sections[index]);
        data.size = section.memory.size() + missing;
    } else if (HResult hr = sizeStoredFile(sectionFiles_[index], data); hr.failed()) {
        return hr;
    }
    if (resourceWritten_) {
        if (deltaVa_ != 0) {
            // Code and data may point into a section that moves in memory; only relocations and
            // discardable sections (debug information) can move safely.
            bool relocations = isRelocationSectionName(section.name);
            if (!relocations && !(section.characteristics & kSectionDiscardable))
                return layoutError(__LINE__,
                                   "资源部分的大小改变了 0x%X 字节的内存，但是其后的节 %s 既不是 .reloc "
                                   "也不可丢弃：它的代码和数据引用无法修正，编译被拒绝。",
                                   {static_cast<long long>(deltaVa_), shownName});
            auto directory = directoryInto(section);
            if (directory && !(relocations && *directory == kDirectoryBaseRelocations))
                return layoutError(__LINE__, "数据目录 %d 指向需要在内存中移动的节 %s，编译被拒绝。",
                                   {*directory, shownName});
            std::int64_t moved = static_cast<std::int64_t>(section.virtualAddress) + deltaVa_;
            if (moved < 0 || moved > 0xFFFFFFFF)
                return layoutError(__LINE__, "节 %s 无法移动。", {shownName});
            if (directory) {
                std::size_t at = directoryAddress(kDirectoryBaseRelocations);
                putLe<std::uint32_t>(*ntHeader_, at, static_cast<std::uint32_t>(ntU32(at) + deltaVa_));
            }
            section.virtualAddress = static_cast<std::uint32_t>(moved);
        }
        if (section.pointerToRawData != 0) {
            std::int64_t moved = static_cast<std::int64_t>(section.pointerToRawData) + deltaRaw_;
            if (moved <= 0 || moved > 0xFFFFFFFF)
                return layoutError(__LINE__, "节 %s 无法移动。", {shownName});
            section.pointerToRawData = static_cast<std::uint32_t>(moved);
        }
    }
    if (section.sizeOfRawData != 0 && section.pointerToRawData != 0)
        if (HResult hr = padTo(section, section.pointerToRawData); hr.failed()) return hr;
    // Raw data keeps its size: a section that ends unaligned is followed by padding only when
    // something comes after it (the next section is padded up to its own pointer).
    section.placedAt = plan_->size();
    section.placedSize = data.size;
    section.file = data.path;
    section.stored = true;
    if (section.originalPointerToRawData != 0)
        compiler_.fileRanges_.add(section.originalPointerToRawData, data.size, section.placedAt);
    if (compiler_.sourceImage_) {
        plan_->view(section.memory);
        plan_->zeros(missing);
    } else {
        plan_->file(std::move(data.path), data.size, std::move(data.shownName));
    }
    return kOk;
}

// Resources added to an image without a resource section: a new section after the last one, its
// header right after the section table, into header space that must be unused.
HResult ImageRebuild::appendResourceSection() {
    const std::size_t sectionCount = sections_.size();
    const std::size_t headerAt = layout_.sectionHeader(sectionCount);
    if (layout_.directoryCount <= kDirectoryResource)
        return layoutError(__LINE__, "这个文件没有资源数据目录，无法添加资源部分。");
    const ByteReader nt(Bytes{ntHeader_->data(), ntHeader_->size()});
    bool room = sectionCount < 0xFFFF && nt.contains(headerAt, kSectionHeaderSize) &&
                h0_ + headerAt + kSectionHeaderSize <= lowest_;
    for (std::size_t b = 0; room && b < kSectionHeaderSize; ++b)
        room = (*ntHeader_)[headerAt + b] == std::byte{0};
    if (!room)
        return layoutError(__LINE__,
                           "文件头中节表之后没有空间再放一个节头（%d 字节）：无法为添加的资源建立 .rsrc "
                           "节，编译被拒绝。",
                           {kSectionHeaderSize});
    // The image's memory ends at SizeOfImage, which may lie well past the last section (memory the
    // program uses zero-filled): the new section starts after both.
    std::uint64_t virtualEnd = std::max(alignUp(originalSizeOfHeaders_, sectionAlignment_),
                                        alignUp(originalSizeOfImage_, sectionAlignment_));
    for (const Section& section : sections_)
        virtualEnd = std::max(virtualEnd, alignUp(std::uint64_t{section.virtualAddress} +
                                                      std::max(section.virtualSize, section.sizeOfRawData),
                                                  sectionAlignment_));
    plan_->zeros(alignUp(plan_->size(), fileAlignment_) - plan_->size());
    const std::uint64_t start = plan_->size();
    if (virtualEnd > 0xFFFFFFFFu || start > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
    compiler_.trace("RESOURCE section\n");
    std::uint64_t size = 0;
    if (HResult hr = compiler_.MeasureRoot(static_cast<std::uint32_t>(virtualEnd), size); hr.failed())
        return hr;
    plan_->gathered(size, [this](GatheredSection& section) { return compiler_.GatherRoot(section); });
    compiler_.trace(safeFormat("RESOURCE at 0x%.8x\n", {plan_->size()}));
    const std::uint64_t rawSize = alignUp(size, fileAlignment_);
    plan_->zeros(rawSize - size);
    if (rawSize > 0xFFFFFFFFu || plan_->size() > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");

    Section added;
    const std::string_view name = ".rsrc";
    std::copy(name.begin(), name.end(), added.name.begin());
    added.headerOffset = headerAt;
    added.virtualAddress = static_cast<std::uint32_t>(virtualEnd);
    added.virtualSize = static_cast<std::uint32_t>(size);
    added.sizeOfRawData = static_cast<std::uint32_t>(rawSize);
    added.pointerToRawData = static_cast<std::uint32_t>(start);
    added.characteristics = kResourceSectionCharacteristics;
    std::memcpy(ntHeader_->data() + headerAt + section_field::kName, added.name.data(), added.name.size());
    putLe<std::uint32_t>(*ntHeader_, headerAt + section_field::kCharacteristics, added.characteristics);
    sections_.push_back(added);
    putLe<std::uint16_t>(*ntHeader_, nt_field::kNumberOfSections,
                         static_cast<std::uint16_t>(sectionCount + 1));
    putLe<std::uint32_t>(*ntHeader_, directoryAddress(kDirectoryResource), added.virtualAddress);
    putLe<std::uint32_t>(*ntHeader_, directoryAddress(kDirectoryResource) + 4, added.virtualSize);
    // The added section's raw size is counted in SizeOfInitializedData in patchHeaders.
    deltaRaw_ = added.sizeOfRawData;
    return kOk;
}

// The overlay (certificate table, symbol table, appended data) follows the last section.
HResult ImageRebuild::placeOverlay() {
    SizedFile overlay;
    HResult overlayResult = compiler_.sourceImage_ ? kFalse : sizeStoredFile(kOverlayFileName, overlay, true);
    if (overlayResult.failed()) return overlayResult;
    if (compiler_.sourceImage_ && !source_.overlay().empty()) {
        compiler_.fileRanges_.add(originalOverlayStart_, source_.overlay().size(), plan_->size());
        plan_->view(source_.overlay());
    } else if (overlayResult == kOk && overlay.size != 0) {
        compiler_.fileRanges_.add(originalOverlayStart_, overlay.size, plan_->size());
        plan_->file(std::move(overlay.path), overlay.size, std::move(overlay.shownName));
    }
    if (plan_->size() > 0xFFFFFFFFu) return layoutError(__LINE__, "输出文件太大。");
    return kOk;
}

// Every file offset the image stores follows the data it points at.
HResult ImageRebuild::moveStoredOffsets() {
    const FileRangeMap& ranges = compiler_.fileRanges_;
    if (HResult hr = movePointer(*ntHeader_, nt_field::kPointerToSymbolTable, "PointerToSymbolTable", ranges);
        hr.failed())
        return hr;
    if (kDirectorySecurity < layout_.directoryCount)
        if (HResult hr =
                movePointer(*ntHeader_, directoryAddress(kDirectorySecurity), "CertificateTable", ranges);
            hr.failed())
            return hr;
    if (kDebugDirectory < layout_.directoryCount) {
        const std::uint32_t rva = originalDirectoryRvas_[kDebugDirectory];
        const std::uint32_t size = ntU32(directoryAddress(kDebugDirectory) + 4);
        if (HResult hr = moveDebugPointers(sections_, sourceBytes_, rva, size, ranges, *plan_); hr.failed())
            return hr;
    }
    return kOk;
}

// The section headers, SizeOfImage and SizeOfInitializedData follow the new layout; the checksum
// field is zero while the checksum is summed.
void ImageRebuild::patchHeaders() {
    std::vector<std::byte>& nt = *ntHeader_;
    for (const Section& section : sections_) {
        putLe<std::uint32_t>(nt, section.headerOffset + section_field::kVirtualSize, section.virtualSize);
        putLe<std::uint32_t>(nt, section.headerOffset + section_field::kVirtualAddress,
                             section.virtualAddress);
        putLe<std::uint32_t>(nt, section.headerOffset + section_field::kSizeOfRawData, section.sizeOfRawData);
        putLe<std::uint32_t>(nt, section.headerOffset + section_field::kPointerToRawData,
                             section.pointerToRawData);
    }
    std::uint32_t sizeOfImage = ntU32(nt_field::kSizeOfImage) + static_cast<std::uint32_t>(deltaVa_);
    // The image must still cover the new resource section (it does unless its raw size lay beyond
    // its virtual extent in the original). An image left unchanged keeps every field as it was.
    for (const Section& section : sections_) {
        if (unchanged_) break;
        std::uint64_t end = alignUp(
            std::uint64_t{section.virtualAddress} + std::max(section.virtualSize, section.sizeOfRawData),
            sectionAlignment_);
        if (end > sizeOfImage && end <= 0xFFFFFFFFu) sizeOfImage = static_cast<std::uint32_t>(end);
    }
    putLe<std::uint32_t>(nt, nt_field::kSizeOfImage, sizeOfImage);
    // Initialized data is counted in raw sizes, as linkers count it: the resource section's new raw
    // size replaces its old one (or is added, for an added section).
    putLe<std::uint32_t>(nt, nt_field::kSizeOfInitializedData,
                         ntU32(nt_field::kSizeOfInitializedData) + static_cast<std::uint32_t>(deltaRaw_));
    newChecksum_ = originalChecksum_ != 0 && !unchanged_;
    if (newChecksum_) putLe<std::uint32_t>(nt, nt_field::kCheckSum, 0);
}

// The output goes to the file from where its pieces lie: the source image, the working folder's
// files, the resources as read.
HResult ImageRebuild::assemble() {
    return writeStreamed(compiler_.outputPath(), *plan_, h0_ + nt_field::kCheckSum, newChecksum_);
}

HResult CResCompiler::rebuild(const std::filesystem::path& peXmlPath) {
    if (HResult hr = ProcessXML(peXmlPath); hr.failed()) {
        uiSink().message("ProcessXML", pathToUtf8(peXmlPath), MessageIcon::kNone);
        return hr;
    }
    return ImageRebuild(*this).run();
}

}  // namespace kestrel
