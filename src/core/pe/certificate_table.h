// The certificate table of a PE image (the attribute certificates that hold an Authenticode
// signature): where the parts lie that a signature's digest leaves out, the WIN_CERTIFICATE entries,
// and removing the table.
#pragma once

#include <cstdint>
#include <vector>

#include "core/platform/byte_reader.h"
#include "core/platform/status.h"

namespace kestrel {

// WIN_CERTIFICATE.wCertificateType of an Authenticode signature (a PKCS#7 SignedData).
inline constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;
inline constexpr std::uint16_t kCertificateRevision2 = 0x0200;
// Every entry and the table itself start on an 8-byte boundary of the file.
inline constexpr std::uint32_t kCertificateAlignment = 8;
inline constexpr std::uint32_t kCertificateHeaderSize = 8;

// The places a signature's image digest skips: the CheckSum field, the certificate table's directory
// entry (data directory 4, whose "address" is a file offset) and the table it points to.
struct SignatureLayout {
    bool pe32Plus = false;
    std::uint64_t checksumOffset = 0;
    std::uint64_t directoryOffset = 0;  // the 8-byte directory entry, in the file
    std::uint32_t tableOffset = 0;      // 0 and 0 when the image has no table
    std::uint32_t tableSize = 0;

    bool hasTable() const { return tableOffset != 0 && tableSize != 0; }
};

// One WIN_CERTIFICATE:
//   u32 dwLength (header included), u16 wRevision, u16 wCertificateType, bCertificate[dwLength - 8]
struct CertificateEntry {
    std::uint64_t offset = 0;  // in the file
    std::uint32_t length = 0;
    std::uint16_t revision = 0;
    std::uint16_t type = 0;
    Bytes data;  // bCertificate
};

// Reads where the checksum, directory entry 4 and the table lie in a PE32 or PE32+ image. E_FAIL when
// the file is no PE image, has fewer than five data directories, or its table does not lie wholly
// inside the file after the headers.
HResult readSignatureLayout(Bytes file, SignatureLayout& out);

// The entries of the table `layout` names (none when it has none). E_FAIL when an entry is shorter
// than its header or runs past the table; the zero padding after the last entry is allowed.
HResult readCertificateTable(Bytes file, const SignatureLayout& layout, std::vector<CertificateEntry>& out);

// Removes the certificate table: its bytes are cut off when nothing but zero padding follows it,
// otherwise they are zeroed in place (`zeroedInPlace` says which); directory entry 4 becomes zero and
// the checksum is computed anew. S_FALSE (nothing changed) when the image has no table.
HResult stripCertificateTable(std::vector<std::byte>& image, bool& zeroedInPlace);

// Writes a little-endian u32 into an image (the caller has checked the range).
void putImageU32(std::vector<std::byte>& image, std::uint64_t offset, std::uint32_t value);

// Sets the optional header's CheckSum to the image's checksum.
HResult updateImageChecksum(std::vector<std::byte>& image);

}  // namespace kestrel
