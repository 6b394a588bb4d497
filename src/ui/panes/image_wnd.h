// The image pane: shows a bitmap, PNG, icon or cursor file with its information lines, an icon or
// cursor group as its member list with the member images, and other pictures (GIF, JPEG, AVI and
// whatever Qt's readers decode) natively. It replaces the file, copies the picture, opens the file
// in an external image editor, switches to the hex pane and recolours files with the colorize
// engine. Pictures come from the core decoders; the pane only wraps and paints them.
#pragma once

#include <QFont>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QStringList>
#include <QTimer>
#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string_view>
#include <vector>

#include "app/editors.h"
#include "core/images/colorize_engine.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/picture_file.h"
#include "ui/panes/colorize_wnd.h"
#include "ui/panes/file_pane.h"
#include "ui/panes/file_pane_window.h"
#include "ui/panes/pane.h"
#include "ui/widgets/drag_wnd.h"

class QAction;
class QMenu;
class QMovie;
class QScrollBar;
class QToolBar;
class QToolButton;

namespace kestrel {
class CKsDoc;
class SettingsStore;
class XmlElement;
}  // namespace kestrel

namespace kestrel::ui {

class PaneHost;

// Hands the core's pixels to a QImage (ARGB32) without copying them; the image frees them.
QImage wrapRgba(RgbaImage&& rgba);

// Kinds shown from a DIB, with the four information lines above the picture.
bool showsInformation(ImageKind kind);

// The whole-number display factor of a picture in a pane of `client` size: 1 at real size; otherwise
// the largest factor at which the picture fits min(width − 16, 260) across and the height left below
// the toolbar (and the information lines), at least 1.
int imageZoom(QSize picture, QSize client, bool withInformation, bool realSize);

// True when the file's first bytes are a picture the pane shows whatever the file is called: PNG,
// GIF, JPEG, BMP, an AVI movie, or any other format Qt's readers recognise by content.
bool isPictureFile(const std::filesystem::path& path);

// The kinds of file the replace dialog offers for an entry of `kind` (icons and cursors their own
// files, pictures the formats the pane turns into the entry's form), then all files.
QString replaceFilter(ImageKind kind);

inline constexpr std::string_view kImageSettingsSection = "ImageWnd";
inline constexpr std::string_view kScaleToFitKey = "ScaleToFit";

// What the image pane needs of the application; `editors` are the image editors.
using ImagePaneServices = PaneServices;

class ImageWnd : public FilePaneWindow<CDragWnd> {
    Q_OBJECT

  public:
    ImageWnd(PaneHost* host, ImagePaneServices services, QWidget* parent = nullptr);
    ~ImageWnd() override;

    // Shows a file: remembers it with its File element and document, starts watching it, loads it.
    void ShowImageFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document,
                       int subMode);
    // Loads the shown file again by its kind and repaints.
    void LoadImage();
    // Fills the four information lines from the DIB (empty lines without one).
    void RefreshInfo();
    // Replaces the shown file by `chosen`: copies it into the pane's folder, points the File element
    // at it and shows it.
    void ReplaceWith(const std::filesystem::path& chosen) override;
    // Recolours the shown file (or the group's members) or every image of the project's folder and
    // of the folders its description names, with the colorize engine, after a confirmation. A run
    // over the folders shows a progress window with
    // a cancel button once it takes longer than half a second, and then says how many files it
    // recoloured. 1 when it ran, 0 when it did not.
    int ApplyColorize(bool currentOnly, bool allImages);
    // Shows the picture recoloured with the current engine settings without touching the file; the
    // preview lasts until the file is loaded again.
    void PreviewColorize();
    // Puts the picture on the clipboard; nothing without one.
    void CopyImage() const;

    // The colorize panel (right of the picture) and its engine.
    ColorizeWnd* colorizePanel() const { return colorizePanel_; }
    ColorizeEngine& colorizeEngine();
    // How long a run over all images goes before its progress window shows.
    void setApplyProgressDelay(int milliseconds) { applyProgressDelayMs_ = milliseconds; }
    // The shown packed DIB (null when none): icons and cursors with the picture's height.
    const std::vector<std::byte>* currentDib() const;

    ImageKind kind() const { return kind_; }
    // Name, size, image size and depth lines; all empty when nothing is shown.
    const QStringList& informationLines() const { return info_; }
    // The DIB's width and height (empty without one).
    QSize pictureSize() const;
    std::uint32_t shownSize() const { return shownSize_; }
    int zoom() const;
    // Where the picture is drawn (empty without a DIB), scrolled.
    QRect imageRect() const;
    // The part of the pane in which the picture (or the group, or the other picture) scrolls, less
    // the scroll bars, and the size of what it shows.
    QRect viewArea() const;
    QSize contentSize() const;
    QScrollBar* horizontalScrollBar() const { return hScroll_; }
    QScrollBar* verticalScrollBar() const { return vScroll_; }
    // Where an other picture (GIF, JPEG, AVI …) is drawn, scrolled.
    QRect otherRect() const;
    // Groups: the member pictures loaded (gaps excluded) and the listing text.
    int memberPictureCount() const;
    const QString& groupListing() const { return groupListing_; }
    // Other pictures: the frame on screen and how many frames there are (0: nothing readable).
    const QImage& otherFrame() const { return otherFrame_; }
    int otherFrameCount() const;
    bool realSize() const { return realSize_; }
    bool isPreviewing() const { return preview_.has_value() || groupPreview_; }
    // Where the colorize panel goes: right of the picture, below the band, to the edges.
    QRect colorizeArea() const;
    // Whether the panel is shown: for pictures and groups the engine recolours, not for the
    // pictures that fill the pane (GIF, JPEG, AVI) nor without a file.
    bool showsColorizePanel() const;

    QMenu* editMenu() const;
    QAction* replaceAction() const { return replaceAction_; }
    QAction* hexAction() const { return hexAction_; }
    QAction* realSizeAction() const { return realSizeAction_; }
    QAction* copyAction() const { return copyAction_; }

  signals:
    // A line for the status bar (a picture converted on replace).
    void statusMessage(const QString& text);

  protected:
    void paintEvent(QPaintEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void layOutContent(const QRect& area) override;
    int hitTest(QPoint point, QPoint& origin) const override;
    bool dragPayload(int item, QPoint offset, DragPayload& payload) const override;
    void fileDropped(const std::filesystem::path& file) override;

  private:
    // A DIB ready to paint: the decoded picture, and for 32 bits the checkerboard composite of the
    // last zoom it was drawn at.
    struct DibPicture {
        std::vector<std::byte> dib;
        DibInfo info;
        bool iconImage = false;  // an icon or cursor DIB: the AND mask follows the colour rows
        QImage decoded;          // straight alpha
        QImage composite;        // 32 bits over the checkerboard, compositeZoom × the size
        int compositeZoom = 0;
    };

    void buildToolBar();
    void showHex();
    void setRealSize(bool on);

    void clearPictures();
    bool setDib(std::vector<std::byte> dib, bool iconImage);
    static bool makePicture(std::vector<std::byte> dib, bool iconImage, DibPicture& out);
    static QImage decodedPicture(const DibPicture& picture);
    static const QImage& drawable(DibPicture& picture, int zoom);
    void loadGroup(bool recolour);
    void loadOther();
    void showNextAviFrame();
    std::filesystem::path recolourFolder() const;
    std::vector<std::filesystem::path> recolourTargets(bool currentOnly) const;
    std::vector<std::filesystem::path> allImageFolders() const;
    HResult recolourAll(ColorizeEngine::FolderRun& run);
    void placeColorizePanel();
    void updateScrollBars();
    QRect viewBounds() const;
    QPoint contentOrigin() const;
    QSize otherShownSize() const;
    // A picture that is not a BMP, made into one for a bitmap entry; false when Qt cannot read it.
    bool convertToBitmap(const std::filesystem::path& chosen, std::filesystem::path& converted);
    HResult memberFile(const GroupEntry& entry, IconGroupKind kind, std::filesystem::path& out) const;

    void layoutInformation();
    void paintBackground(QPainter& painter);
    void paintInformation(QPainter& painter);
    void paintGroup(QPainter& painter);
    void paintOther(QPainter& painter);

    ColorizeWnd* colorizePanel_ = nullptr;
    int applyProgressDelayMs_ = 500;

    int subMode_ = 0;
    ImageKind kind_ = ImageKind::kNone;

    std::optional<DibPicture> picture_;
    std::optional<DibPicture> preview_;
    std::uint32_t shownSize_ = 0;
    QStringList info_;
    std::array<int, 2> secondColumnX_{};  // where the image size and depth lines start

    QString groupListing_;
    int groupEntries_ = 0;
    int groupListingWidth_ = 0;
    std::vector<QImage> members_;  // null images are members that could not be loaded
    bool groupPreview_ = false;

    QImage otherFrame_;
    QMovie* movie_ = nullptr;
    std::vector<QImage> aviFrames_;
    std::size_t aviFrame_ = 0;
    QTimer aviTimer_;

    bool realSize_ = false;
    QAction* replaceAction_ = nullptr;
    QAction* hexAction_ = nullptr;
    QAction* realSizeAction_ = nullptr;
    QAction* copyAction_ = nullptr;
    QPixmap pattern_;
    QFont listingFont_;
    QScrollBar* hScroll_ = nullptr;
    QScrollBar* vScroll_ = nullptr;
};

// The image pane object the host keeps: creates the ImageWnd and routes the host's calls to it.
class ImagePane : public Pane {
  public:
    ImagePane(PaneHost& host, ImagePaneServices services);
    QWidget* createWidget(QWidget* parent) override;
    void showFile(const PaneRequest& request) override;
    void widgetDestroyed() override;
    bool canEdit(EditCommand command) const override;
    void edit(EditCommand command) override;
    ImageWnd* window() const { return window_; }

  private:
    PaneHost& host_;
    ImagePaneServices services_;
    ImageWnd* window_ = nullptr;
    // What the colorize panel showed when the window went; the next window starts from it.
    std::optional<ColorizeState> colorizeState_;
};

// The factory to register for PaneType::kImage.
PaneFactory makeImagePaneFactory(const ImagePaneServices& services);

}  // namespace kestrel::ui
