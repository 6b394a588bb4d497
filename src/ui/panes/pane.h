// The panes that show one resource file, and the registry through which each pane plugs into the
// pane host. A pane object lives as long as the host (it keeps state such as find values); its
// widget is created when the pane is shown and deleted when another pane takes its place.
#pragma once

#include <QWidget>
#include <filesystem>
#include <functional>
#include <memory>

#include "core/platform/status.h"

class QLabel;

namespace kestrel {
class CKsDoc;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

class PaneHost;

// Which pane is active and in which role; the numbers are those of the pane kinds.
enum class PaneKind {
    kNone = 0,
    kHex = 1,
    kText = 2,
    kImage = 3,
    kIcon = 4,
    kCursor = 5,
    kDialog = 6,
    kMenu = 7,
    kVersion = 8,
    kIconGroup = 9,
    kCursorGroup = 10,
};

// The pane objects the host owns, one of each.
enum class PaneType { kHex, kText, kImage, kDialog, kMenu, kVersion };
inline constexpr int kPaneTypeCount = 6;

PaneType paneTypeOf(PaneKind kind);

// The reason of a show request.
enum class ShowMode {
    kTreeSelection = 0,  // choose by resource type and extension
    kHexFromText = 1,    // hex pane, offering a way back to text
    kTextFromHex = 2,    // text pane
    kHexFromImage = 3,   // hex pane, offering a way back to the image
    kChooseAgain = 4,    // choose by resource type and extension again
};

enum class EditCommand { kCopy, kCut, kPaste, kUndo };

// What the host passes to a pane's show call.
struct PaneRequest {
    PaneKind kind = PaneKind::kNone;
    std::filesystem::path path;          // full path of the file
    std::filesystem::path resourceFile;  // the project's PE file (dialog, menu and version panes)
    XmlElement* fileElement = nullptr;   // the File element; valid until the view is cleared
    CKsDoc* document = nullptr;
    ShowMode mode = ShowMode::kTreeSelection;  // hex pane: 0, 1 or 3
    int imageSubMode = 0;                      // image pane: 0 files, 9 icon group, 10 cursor group
};

class Pane {
  public:
    virtual ~Pane() = default;

    // Creates the pane's widget as a child of `parent` (the host).
    virtual QWidget* createWidget(QWidget* parent) = 0;
    // Shows the file of `request` in the widget created last.
    virtual void showFile(const PaneRequest& request) = 0;
    // Called before the widget is deleted.
    virtual void widgetDestroyed() {}

    // True while the pane holds edits that are not in its file yet.
    virtual bool isModified() const { return false; }
    // Writes the pending edits to the file. The host calls it only while isModified() is true.
    virtual HResult commit() { return kOk; }

    // The routed edit commands; a pane that does not support one leaves it disabled.
    virtual bool canEdit(EditCommand) const { return false; }
    virtual void edit(EditCommand) {}
};

using PaneFactory = std::function<std::unique_ptr<Pane>(PaneHost&)>;

// Registers the factory of a pane type for every host created afterwards (later panes plug in
// here). Without a factory a host shows the placeholder pane.
void registerPaneFactory(PaneType type, PaneFactory factory);
PaneFactory paneFactory(PaneType type);

// Shows the file's name and size: the pane of kinds whose own pane is not part of this build.
class PlaceholderPane : public Pane {
  public:
    explicit PlaceholderPane(PaneType type) : type_(type) {}
    QWidget* createWidget(QWidget* parent) override;
    void showFile(const PaneRequest& request) override;
    void widgetDestroyed() override { label_ = nullptr; }
    PaneType type() const { return type_; }

  private:
    PaneType type_;
    QLabel* label_ = nullptr;
};

}  // namespace kestrel::ui
