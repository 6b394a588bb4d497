// The certificate table reader, the image digest and stripping, on images from our PE writer with
// tables written in the test: damaged tables are refused, the digest skips exactly the checksum,
// directory entry 4 and the table, and stripping cuts or zeroes the table as the file requires.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/pe/certificate_table.h"
#include "core/pe/pe_checksum.h"
#include "core/sign/authenticode.h"
#include "pe_builder/pe_builder.h"

namespace kestrel {
namespace {

namespace pb = pebuilder;

std::vector<std::byte> imageOf(bool pe32Plus) {
    pb::ImagePlan plan;
    plan.resources = pb::sampleResources();
    plan.pe32Plus = pe32Plus;
    return pb::buildImage(plan);
}

void put32(std::vector<std::byte>& image, std::size_t offset, std::uint32_t value) {
    for (std::size_t b = 0; b < 4; ++b)
        image[offset + b] = static_cast<std::byte>((value >> (8 * b)) & 0xFF);
}

// Appends a table of entries with the given dwLength values (each entry's bytes filled with its
// index) at an 8-byte boundary, points directory 4 at it and returns the layout read back.
SignatureLayout appendTable(std::vector<std::byte>& image, const std::vector<std::uint32_t>& lengths) {
    image.resize((image.size() + 7) / 8 * 8);
    const auto tableOffset = static_cast<std::uint32_t>(image.size());
    for (std::size_t i = 0; i < lengths.size(); ++i) {
        const std::size_t start = image.size();
        const std::uint32_t stored = lengths[i];
        image.resize(start + (stored + 7) / 8 * 8, static_cast<std::byte>(0x40 + i));
        put32(image, start, lengths[i]);
        put32(image, start + 4, 0x00020200);  // revision 2, PKCS signed data
        for (std::size_t p = start + stored; p < image.size(); ++p)
            image[p] = std::byte{0};
    }
    SignatureLayout layout;
    EXPECT_TRUE(readSignatureLayout(asBytes(image), layout).succeeded());
    put32(image, layout.directoryOffset, tableOffset);
    put32(image, layout.directoryOffset + 4, static_cast<std::uint32_t>(image.size() - tableOffset));
    static_cast<void>(readSignatureLayout(asBytes(image), layout));
    return layout;
}

TEST(CertificateTable, ReadsEntriesAndRefusesDamagedTables) {
    std::vector<std::byte> image = imageOf(false);
    const SignatureLayout layout = appendTable(image, {13, 8, 24});
    std::vector<CertificateEntry> entries;
    ASSERT_TRUE(readCertificateTable(asBytes(image), layout, entries).succeeded());
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].offset, layout.tableOffset);
    EXPECT_EQ(entries[0].data.size(), 5u);
    EXPECT_EQ(entries[1].offset, layout.tableOffset + 16);  // the next entry starts 8-aligned
    EXPECT_TRUE(entries[1].data.empty());
    EXPECT_EQ(entries[2].type, kCertificateTypePkcsSignedData);
    EXPECT_EQ(entries[2].revision, kCertificateRevision2);

    struct Damage {
        const char* what;
        std::uint32_t secondLength;  // dwLength of the second entry, written over a 16-byte one
    };
    for (const Damage& damage :
         {Damage{"entry shorter than its header", 4}, Damage{"entry longer than the table", 0x1000}}) {
        SCOPED_TRACE(damage.what);
        std::vector<std::byte> bad = imageOf(true);
        const SignatureLayout badLayout = appendTable(bad, {16, 16});
        put32(bad, badLayout.tableOffset + 16, damage.secondLength);
        EXPECT_TRUE(readCertificateTable(asBytes(bad), badLayout, entries).failed());
        SignatureReport report;
        std::string error;
        EXPECT_TRUE(inspectSignature(asBytes(bad), nullptr, report, error).failed());
        EXPECT_FALSE(error.empty());
    }

    // A table that runs past the end of the file, or points into the headers, is no table at all.
    std::vector<std::byte> pastEnd = imageOf(false);
    SignatureLayout pastEndLayout = appendTable(pastEnd, {16});
    put32(pastEnd, pastEndLayout.directoryOffset + 4, 0x100);
    EXPECT_TRUE(readSignatureLayout(asBytes(pastEnd), pastEndLayout).failed());
    put32(pastEnd, pastEndLayout.directoryOffset, 0x40);
    put32(pastEnd, pastEndLayout.directoryOffset + 4, 0x10);
    EXPECT_TRUE(readSignatureLayout(asBytes(pastEnd), pastEndLayout).failed());
    bool zeroed = false;
    const std::vector<std::byte> unchanged = pastEnd;
    EXPECT_TRUE(stripCertificateTable(pastEnd, zeroed).failed());
    EXPECT_EQ(pastEnd, unchanged);
}

TEST(ImageDigest, SkipsChecksumDirectoryEntryAndTableAndNothingElse) {
    for (bool pe32Plus : {false, true}) {
        SCOPED_TRACE(pe32Plus ? "PE32+" : "PE32");
        std::vector<std::byte> image = imageOf(pe32Plus);
        const SignatureLayout layout = appendTable(image, {40});
        std::vector<std::byte> reference;
        ASSERT_TRUE(
            computeImageDigest(asBytes(image), layout, DigestAlgorithm::kSha256, reference).succeeded());
        EXPECT_EQ(reference.size(), 32u);

        const std::size_t skipped[] = {static_cast<std::size_t>(layout.checksumOffset) + 3,
                                       static_cast<std::size_t>(layout.directoryOffset) + 7,
                                       layout.tableOffset + 20u};
        for (std::size_t offset : skipped) {
            std::vector<std::byte> changed = image;
            changed[offset] ^= std::byte{0xFF};
            std::vector<std::byte> digest;
            ASSERT_TRUE(
                computeImageDigest(asBytes(changed), layout, DigestAlgorithm::kSha256, digest).succeeded());
            EXPECT_EQ(digest, reference) << "offset " << offset;
        }
        // Bytes next to the skipped fields, the first and the last byte before the table count.
        const std::size_t counted[] = {0, static_cast<std::size_t>(layout.checksumOffset) + 4,
                                       static_cast<std::size_t>(layout.directoryOffset) - 1,
                                       static_cast<std::size_t>(layout.directoryOffset) + 8,
                                       layout.tableOffset - 1u};
        for (std::size_t offset : counted) {
            std::vector<std::byte> changed = image;
            changed[offset] ^= std::byte{0xFF};
            std::vector<std::byte> digest;
            ASSERT_TRUE(
                computeImageDigest(asBytes(changed), layout, DigestAlgorithm::kSha256, digest).succeeded());
            EXPECT_NE(digest, reference) << "offset " << offset;
        }
        std::vector<std::byte> sha512;
        ASSERT_TRUE(computeImageDigest(asBytes(image), layout, DigestAlgorithm::kSha512, sha512).succeeded());
        EXPECT_EQ(sha512.size(), 64u);
    }
}

TEST(StripCertificateTable, CutsATrailingTableAndZeroesOneWithDataAfterIt) {
    std::vector<std::byte> image = imageOf(true);
    const std::size_t unsignedSize = (image.size() + 7) / 8 * 8;
    appendTable(image, {100});
    bool zeroed = true;
    ASSERT_EQ(stripCertificateTable(image, zeroed), kOk);
    EXPECT_FALSE(zeroed);
    EXPECT_EQ(image.size(), unsignedSize);
    SignatureLayout layout;
    ASSERT_TRUE(readSignatureLayout(asBytes(image), layout).succeeded());
    EXPECT_FALSE(layout.hasTable());
    const std::uint32_t stored = static_cast<std::uint32_t>(image[layout.checksumOffset]) |
                                 static_cast<std::uint32_t>(image[layout.checksumOffset + 1]) << 8 |
                                 static_cast<std::uint32_t>(image[layout.checksumOffset + 2]) << 16 |
                                 static_cast<std::uint32_t>(image[layout.checksumOffset + 3]) << 24;
    EXPECT_EQ(stored, computePeChecksum(asBytes(image), layout.checksumOffset));
    EXPECT_EQ(stripCertificateTable(image, zeroed), kFalse);  // nothing left to strip

    std::vector<std::byte> followed = imageOf(false);
    const SignatureLayout before = appendTable(followed, {100});
    const std::vector<std::byte> tail = pb::bytesOf("data appended after signing");
    followed.insert(followed.end(), tail.begin(), tail.end());
    const std::size_t size = followed.size();
    ASSERT_EQ(stripCertificateTable(followed, zeroed), kOk);
    EXPECT_TRUE(zeroed);
    EXPECT_EQ(followed.size(), size);
    for (std::size_t i = before.tableOffset; i < before.tableOffset + before.tableSize; ++i)
        ASSERT_EQ(followed[i], std::byte{0}) << i;
    EXPECT_TRUE(
        std::equal(tail.begin(), tail.end(), followed.end() - static_cast<std::ptrdiff_t>(tail.size())));
}

}  // namespace
}  // namespace kestrel
