#include "core/pe/certificate_table.h"

#include <algorithm>

#include "core/pe/pe_checksum.h"
#include "core/pe/pe_image.h"
#include "core/pe/pe_layout.h"

namespace kestrel {

HResult readSignatureLayout(Bytes file, SignatureLayout& out) {
    const ByteReader reader(file);
    std::int32_t lfanew = 0;
    if (readPeHeaderOffset(file, lfanew).failed() || lfanew <= 0) return kFail;
    const std::uint64_t nt = static_cast<std::uint32_t>(lfanew);
    auto ntHeaders = reader.from(nt);
    if (!ntHeaders) return kFail;
    NtLayout layout;
    if (readNtLayout(*ntHeaders, layout).failed() || layout.directoryCount <= kDirectorySecurity)
        return kFail;
    SignatureLayout result;
    result.pe32Plus = layout.pe32Plus;
    result.checksumOffset = nt + nt_field::kCheckSum;
    result.directoryOffset = nt + layout.directory(kDirectorySecurity);
    const auto tableOffset = reader.u32(result.directoryOffset);
    const auto tableSize = reader.u32(result.directoryOffset + 4);
    if (!tableOffset || !tableSize) return kFail;
    if (*tableOffset != 0 && *tableSize != 0) {
        // The table is file data after the headers, never inside them.
        if (*tableOffset < result.directoryOffset + kDataDirectorySize) return kFail;
        if (!reader.contains(*tableOffset, *tableSize)) return kFail;
        result.tableOffset = *tableOffset;
        result.tableSize = *tableSize;
    }
    out = result;
    return kOk;
}

HResult readCertificateTable(Bytes file, const SignatureLayout& layout, std::vector<CertificateEntry>& out) {
    out.clear();
    if (!layout.hasTable()) return kOk;
    auto table = ByteReader(file).slice(layout.tableOffset, layout.tableSize);
    if (!table) return kFail;
    std::uint64_t position = 0;
    std::vector<CertificateEntry> entries;
    while (position < table->size()) {
        const std::uint64_t remaining = table->size() - position;
        if (remaining < kCertificateHeaderSize) {
            // Alignment padding after the last entry.
            auto rest = table->span(position, remaining);
            if (!rest ||
                std::any_of(rest->begin(), rest->end(), [](std::byte b) { return b != std::byte{0}; }))
                return kFail;
            break;
        }
        CertificateEntry entry;
        entry.offset = layout.tableOffset + position;
        entry.length = *table->u32(position);
        entry.revision = *table->u16(position + 4);
        entry.type = *table->u16(position + 6);
        if (entry.length < kCertificateHeaderSize || entry.length > remaining) return kFail;
        entry.data = *table->span(position + kCertificateHeaderSize, entry.length - kCertificateHeaderSize);
        entries.push_back(entry);
        const std::uint64_t aligned = (std::uint64_t{entry.length} + kCertificateAlignment - 1) /
                                      kCertificateAlignment * kCertificateAlignment;
        position += std::min(aligned, remaining);
    }
    out = std::move(entries);
    return kOk;
}

void putImageU32(std::vector<std::byte>& image, std::uint64_t offset, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b)
        image[static_cast<std::size_t>(offset) + b] = static_cast<std::byte>((value >> (8 * b)) & 0xFF);
}

HResult updateImageChecksum(std::vector<std::byte>& image) {
    SignatureLayout layout;
    if (HResult hr = readSignatureLayout(asBytes(image), layout); hr.failed()) return hr;
    putImageU32(image, layout.checksumOffset, computePeChecksum(asBytes(image), layout.checksumOffset));
    return kOk;
}

HResult stripCertificateTable(std::vector<std::byte>& image, bool& zeroedInPlace) {
    zeroedInPlace = false;
    SignatureLayout layout;
    if (HResult hr = readSignatureLayout(asBytes(image), layout); hr.failed()) return hr;
    if (!layout.hasTable()) return kFalse;
    const std::size_t start = layout.tableOffset;
    const std::size_t end = start + layout.tableSize;
    const bool onlyZerosFollow = std::all_of(image.begin() + static_cast<std::ptrdiff_t>(end), image.end(),
                                             [](std::byte b) { return b == std::byte{0}; });
    if (onlyZerosFollow) {
        image.resize(start);
    } else {
        // Data follows the table (appended after signing): cutting the table out would move it.
        std::fill(image.begin() + static_cast<std::ptrdiff_t>(start),
                  image.begin() + static_cast<std::ptrdiff_t>(end), std::byte{0});
        zeroedInPlace = true;
    }
    putImageU32(image, layout.directoryOffset, 0);
    putImageU32(image, layout.directoryOffset + 4, 0);
    return updateImageChecksum(image);
}

}  // namespace kestrel
