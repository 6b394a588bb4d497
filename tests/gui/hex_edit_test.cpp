#include "ui/widgets/hex_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMimeData>

#include "gui_test_support.h"

namespace kestrel::ui {
namespace {

namespace fs = std::filesystem;
using testing::toBytes;

std::vector<std::byte> bytes(std::initializer_list<int> values) {
    return testing::bytesOf(values);
}

// ----- The widget -------------------------------------------------------------------------------

class HexEditWidget : public testing::IsolatedGuiTest {
  protected:
    HexEditWidget() {
        hex_.resize(640, 300);
        hex_.show();
    }
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, const QString& text = {}) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, text);
        QApplication::sendEvent(&hex_, &event);
    }

    testing::GuiScriptedSink sink_;
    HexEdit hex_;
};

TEST_F(HexEditWidget, LoadingAMissingFileLeavesItAbsentAndTheControlEmpty) {
    ASSERT_EQ(hex_.SetData(toBytes("old")), kOk);
    const fs::path missing = temp_ / "missing.bin";
    EXPECT_TRUE(hex_.LoadDataFile(missing).failed());
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(hex_.hasData());
    EXPECT_TRUE(hex_.filePath().empty());
    const std::optional<ErrorRecord> record = PeekErrorRecord();
    ASSERT_TRUE(record.has_value());
    EXPECT_NE(record->description.find("missing.bin"), std::string::npos);
}

TEST_F(HexEditWidget, TypedKeysReachTheDataAndSaveReplacesTheFile) {
    const fs::path file = temp_.write("sub/data.bin", "ABCD");
    ASSERT_EQ(hex_.LoadDataFile(file), kOk);
    int modified = 0;
    QObject::connect(&hex_, &HexEdit::modifiedChanged, [&modified] { ++modified; });
    press(Qt::Key_Right);
    press(Qt::Key_3, Qt::NoModifier, "3");
    press(Qt::Key_A, Qt::ShiftModifier, "A");
    EXPECT_EQ(hex_.data(), toBytes("A:CD"));
    EXPECT_EQ(hex_.model().caret(), 2);
    hex_.setInsertModeQuery([] { return true; });
    press(Qt::Key_Tab, Qt::ControlModifier);
    press(Qt::Key_Z, Qt::NoModifier, QString::fromUtf8("é"));
    EXPECT_EQ(hex_.data(), toBytes("A:\xC3\xA9"
                                   "CD"));
    ASSERT_EQ(modified, 1);

    ASSERT_EQ(hex_.SaveDataFile(), kOk);
    EXPECT_EQ(testing::readBytes(file), toBytes("A:\xC3\xA9"
                                                "CD"));
    EXPECT_FALSE(hex_.isModified());
    EXPECT_EQ(modified, 2);
    EXPECT_EQ(std::distance(fs::directory_iterator(file.parent_path()), fs::directory_iterator()), 1);

    // A folder that is gone: the save fails, is recorded and the edits stay unsaved.
    press(Qt::Key_0, Qt::NoModifier, "0");
    fs::remove_all(file.parent_path());
    EXPECT_TRUE(hex_.SaveDataFile().failed());
    EXPECT_TRUE(hex_.isModified());
    EXPECT_TRUE(PeekErrorRecord().has_value());
}

TEST_F(HexEditWidget, LeavesTheFramesClipboardShortcutsAlone) {
    ASSERT_EQ(hex_.SetData(toBytes("abc")), kOk);
    const std::pair<int, Qt::KeyboardModifiers> keys[] = {{Qt::Key_Insert, Qt::NoModifier},
                                                          {Qt::Key_Insert, Qt::ShiftModifier},
                                                          {Qt::Key_Insert, Qt::ControlModifier},
                                                          {Qt::Key_Delete, Qt::ShiftModifier}};
    for (const auto& [key, modifiers] : keys) {
        QKeyEvent event(QEvent::ShortcutOverride, key, modifiers);
        event.ignore();
        QApplication::sendEvent(&hex_, &event);
        EXPECT_FALSE(event.isAccepted()) << key << " " << modifiers;
    }
}

TEST_F(HexEditWidget, CopyPutsCountedBinaryAndRawTextOnTheClipboard) {
    ASSERT_EQ(hex_.SetData(bytes({0x00, 0xFF, 0x41, 0x42})), kOk);
    EXPECT_FALSE(hex_.canCopy());
    press(Qt::Key_Right);
    press(Qt::Key_Right, Qt::ShiftModifier);
    press(Qt::Key_Right, Qt::ShiftModifier);
    hex_.copy();
    const QMimeData* mime = QGuiApplication::clipboard()->mimeData();
    ASSERT_NE(mime, nullptr);
    EXPECT_EQ(mime->data(QString::fromLatin1(kBinaryDataFormat.data())), QByteArray("\x02\0\0\0\xFF\x41", 6));
    EXPECT_EQ(mime->data("text/plain"), QByteArray("\xFF\x41", 2));

    // Cutting needs insert mode or a resizable control; the paste puts the bytes back.
    hex_.setResizable(false);
    EXPECT_FALSE(hex_.canCut());
    hex_.setResizable(true);
    hex_.cut();
    EXPECT_EQ(hex_.data(), bytes({0x00, 0x42}));
    ASSERT_TRUE(hex_.canPaste());
    hex_.setInsertModeQuery([] { return true; });
    hex_.paste();
    EXPECT_EQ(hex_.data(), bytes({0x00, 0xFF, 0x41, 0x42}));
}

}  // namespace
}  // namespace kestrel::ui
