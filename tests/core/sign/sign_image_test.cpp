// signImage works on the caller's image in place: whatever fails (here a time-stamping server that
// is not there), the image must come back byte for byte as it was, signed before or not.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/pe/certificate_table.h"
#include "core/sign/authenticode.h"
#include "pe_builder/pe_builder.h"
#include "support/temp_dir.h"

namespace kestrel {
namespace {

namespace pb = pebuilder;

TEST(SignImage, AFailureLeavesTheImageAsItWasAndASecondSignatureReplacesTheFirst) {
    testing::TempDir keys;
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Kestrel-Core-Test -keyout '" +
        (keys / "key.pem").string() + "' -out '" + (keys / "cert.pem").string() + "' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "openssl is needed to make a test key";
    SigningOptions options;
    options.credentials.certificate = keys / "cert.pem";
    options.credentials.key = keys / "key.pem";
    options.description = "Kestrel 测试";

    pb::ImagePlan plan;
    plan.resources = pb::sampleResources();
    plan.overlay = pb::bytesOf("odd-sized overlay");
    std::vector<std::byte> image = pb::buildImage(plan);
    image.reserve(image.size() + kSignatureRoom);
    SignOutcome outcome;
    std::string error;

    SigningOptions unreachable = options;
    unreachable.timestampUrl = "http://127.0.0.1:9/";
    const std::vector<std::byte> unsignedImage = image;
    EXPECT_TRUE(signImage(image, unreachable, outcome, error).failed());
    EXPECT_NE(error.find("could not be reached"), std::string::npos) << error;
    EXPECT_EQ(image, unsignedImage);

    ASSERT_TRUE(signImage(image, options, outcome, error).succeeded()) << error;
    EXPECT_FALSE(outcome.replacedSignature);
    const std::vector<std::byte> signedImage = image;
    EXPECT_TRUE(signImage(image, unreachable, outcome, error).failed());
    EXPECT_EQ(image, signedImage);

    ASSERT_TRUE(signImage(image, options, outcome, error).succeeded()) << error;
    EXPECT_TRUE(outcome.replacedSignature);
    EXPECT_EQ(image.size(), signedImage.size());  // one table, in the old one's place
    SignatureLayout layout;
    std::vector<CertificateEntry> entries;
    ASSERT_TRUE(readSignatureLayout(asBytes(image), layout).succeeded());
    ASSERT_TRUE(readCertificateTable(asBytes(image), layout, entries).succeeded());
    EXPECT_EQ(entries.size(), 1u);
    EXPECT_EQ(layout.tableOffset % kCertificateAlignment, 0u);
    SignatureReport report;
    ASSERT_TRUE(inspectSignature(asBytes(image), nullptr, report, error).succeeded()) << error;
    EXPECT_TRUE(report.digestMatches);
    EXPECT_TRUE(report.signatureValid);
    EXPECT_EQ(report.subject, "CN=Kestrel-Core-Test");
}

}  // namespace
}  // namespace kestrel
