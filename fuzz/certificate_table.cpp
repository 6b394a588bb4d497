// Reads arbitrary bytes as a PE image's certificate table and signature. Whatever the table says:
// - every entry lies inside the table, in file order, each at least its header long;
// - stripping the table leaves an image whose directory entry 4 is empty and which reads back
//   without a table;
// - checking the signature never fails in any way but a clean error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/pe/certificate_table.h"
#include "core/sign/authenticode.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes file{reinterpret_cast<const std::byte*>(data), size};
    kestrel::SignatureLayout layout;
    if (kestrel::readSignatureLayout(file, layout).failed()) return 0;
    std::vector<kestrel::CertificateEntry> entries;
    if (kestrel::readCertificateTable(file, layout, entries).succeeded()) {
        std::uint64_t previousEnd = layout.tableOffset;
        for (const kestrel::CertificateEntry& entry : entries) {
            if (entry.offset < previousEnd || entry.length < kestrel::kCertificateHeaderSize ||
                entry.offset + entry.length > std::uint64_t{layout.tableOffset} + layout.tableSize ||
                entry.data.size() != entry.length - kestrel::kCertificateHeaderSize)
                std::abort();
            previousEnd = entry.offset + entry.length;
        }
    }
    std::vector<std::byte> digest;
    static_cast<void>(kestrel::computeImageDigest(file, layout, kestrel::DigestAlgorithm::kSha256, digest));
    kestrel::SignatureReport report;
    std::string error;
    static_cast<void>(kestrel::inspectSignature(file, nullptr, report, error));

    std::vector<std::byte> image(file.begin(), file.end());
    bool zeroed = false;
    const kestrel::HResult stripped = kestrel::stripCertificateTable(image, zeroed);
    if (stripped == kestrel::kOk) {
        kestrel::SignatureLayout after;
        if (kestrel::readSignatureLayout(kestrel::asBytes(image), after).failed() || after.hasTable())
            std::abort();
        if (!zeroed && image.size() != layout.tableOffset) std::abort();
        if (zeroed && image.size() != size) std::abort();
    }
    return 0;
}
