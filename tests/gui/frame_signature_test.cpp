// The window and signed files: the status bar says whether the open file is signed, and a compile
// whose result keeps a signature that no longer matches asks once whether to remove it.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QStatusBar>
#include <cstdlib>

#include "app/recent_files.h"
#include "core/pe/certificate_table.h"
#include "core/sign/authenticode.h"
#include "gui_test_support.h"
#include "ui/frame/ks_frame.h"

namespace kestrel::ui {
namespace {

class FrameSignatureTest : public testing::IsolatedGuiTest {
  protected:
    std::unique_ptr<CKsFrame> makeFrame() {
        document = std::make_unique<CKsDoc>(dataFolder() / "Temp");
        recent = std::make_unique<RecentFileList>(settings_.get());
        document->setRecentFileList(recent.get());
        controller = std::make_unique<DocumentController>(*document, nullptr);
        FrameContext context{document.get(), controller.get(), settings_.get(),
                             recent.get(),   dataFolder(),     "Kestrel Beta 版本 1.020000"};
        auto frame = std::make_unique<CKsFrame>(context);
        document->setView(frame->view());
        frame->view()->OnInitialUpdate();
        return frame;
    }
    void TearDown() override {
        if (document) document->setView(nullptr);
    }

    testing::GuiScriptedSink sink;
    std::unique_ptr<CKsDoc> document;
    std::unique_ptr<RecentFileList> recent;
    std::unique_ptr<DocumentController> controller;
};

SignatureReport reportOf(const std::filesystem::path& file) {
    const std::vector<std::byte> image = testing::readBytes(file);
    SignatureReport report;
    std::string error;
    EXPECT_TRUE(inspectSignature(asBytes(image), nullptr, report, error).succeeded()) << error;
    return report;
}

TEST_F(FrameSignatureTest, StatusBarShowsTheSignatureAndACompileOffersToRemoveABrokenOne) {
    const std::string keys = temp_.path().string();
    const std::string make =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Kestrel-GUI-Test -keyout '" + keys +
        "/key.pem' -out '" + keys + "/cert.pem' >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) GTEST_SKIP() << "openssl is needed";
    std::vector<std::byte> image = pebuilder::buildSampleImage();
    SigningOptions options;
    options.credentials.certificate = temp_ / "cert.pem";
    options.credentials.key = temp_ / "key.pem";
    SignOutcome outcome;
    std::string error;
    ASSERT_TRUE(signImage(image, options, outcome, error).succeeded()) << error;
    const auto dll = temp_.write("in/signed.dll", image);

    auto frame = makeFrame();
    auto* label = frame->statusBar()->findChild<QLabel*>(QStringLiteral("signature"));
    ASSERT_NE(label, nullptr);
    frame->openPath(dll);
    ASSERT_TRUE(document->isOpen());
    EXPECT_EQ(label->text(), QStringLiteral("已签名"));

    // The copy question: no; the signature question: yes, remove it from the compiled file.
    sink.answers = {Answer::kNo, Answer::kYes};
    frame->action("compile")->trigger();
    EXPECT_TRUE(sink.errors.empty()) << sink.errors.front();
    ASSERT_EQ(sink.questions.size(), 2u);
    const std::filesystem::path compiled = dataFolder() / "Temp" / "signed.dll";
    EXPECT_FALSE(reportOf(compiled).isSigned);
    EXPECT_EQ(testing::readBytes(dll), image);  // the original keeps its signature
    EXPECT_EQ(label->text(), QStringLiteral("已签名"));

    // Copied over the original and kept: the original's signature no longer matches.
    sink.answers = {Answer::kYes, Answer::kNo};
    sink.questions.clear();
    frame->action("compile")->trigger();
    EXPECT_EQ(sink.questions.size(), 2u);
    EXPECT_TRUE(reportOf(dll).isSigned);
    EXPECT_FALSE(reportOf(dll).digestMatches);
    EXPECT_EQ(label->text(), QStringLiteral("签名不再匹配"));
    frame->show();
    frame->resize(900, 600);
    QApplication::processEvents();
    screenshot(*frame, "signature_no_longer_matches");
}

}  // namespace
}  // namespace kestrel::ui
