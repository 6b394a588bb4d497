#include "ui/panes/image_wnd.h"

#include <QAction>
#include <QClipboard>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImageReader>
#include <QMenu>
#include <QMovie>
#include <QPaintEvent>
#include <QPainter>
#include <QPointer>
#include <QProgressDialog>
#include <QResizeEvent>
#include <QScrollBar>
#include <QStyle>
#include <QTemporaryDir>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>
#include <set>
#include <span>
#include <system_error>

#include "app/ks_doc.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/images/alpha_draw.h"
#include "core/images/avi_reader.h"
#include "core/images/bmp_reader.h"
#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/image_record.h"
#include "core/images/picture_file.h"
#include "core/images/png_codec.h"
#include "core/pe/described_file.h"
#include "core/pe/description_edit.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/xml/xml_document.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

// Geometry below the toolbar: separator lines, the band of the information lines, the picture.
constexpr int kShadowLineY = kPaneShadowLineY;
constexpr int kBandBottom = 68;
constexpr int kInfoTop = 31;
constexpr int kInfoRowHeight = 18;
constexpr int kTextInset = 7;
constexpr int kImageLeft = 8;
constexpr int kImageTopBelowInfo = 75;
constexpr int kMaxFitWidth = 260;
constexpr int kMemberGap = 4;
constexpr int kColorizeLeft = 260;
constexpr int kColorizeWideDib = 253;
constexpr std::uint32_t kDefaultAviFrameMicroseconds = 100000;

constexpr const char* kContext = "kestrel::ui::ImageWnd";

constexpr std::string_view kNameLine = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "文件名称: %s%s");
constexpr std::string_view kSizeLine = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "文件大小: %d 字节");
constexpr std::string_view kImageSizeLine = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "图象大小: %dx%d");

constexpr std::string_view kSelectFirst =
    QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "应用之前请选择复选框其中的一个。");
constexpr std::string_view kConfirmCurrent = QT_TRANSLATE_NOOP(
    "kestrel::ui::ImageWnd", "警告：应用将覆盖文件\n\n%s\n\n你无法撤消此项操作。\r\n\r\n你确定要这么做吗？");
constexpr std::string_view kConfirmAll = QT_TRANSLATE_NOOP(
    "kestrel::ui::ImageWnd",
    "警告：应用将覆盖所有文件于目录:\n\n%s\n\n你无法撤消此项操作。\r\n\r\n你确定要这么做吗？");
constexpr std::string_view kRecolouringAll =
    QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "正在着色图象文件...");
constexpr std::string_view kCancelRecolouring = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "取消");
constexpr std::string_view kRecolouredCount =
    QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "已着色 %d 个文件，共 %d 个。");

constexpr const char* kReplaceTitle = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "浏览图形文件");
constexpr const char* kIconFiles = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "图标文件");
constexpr const char* kCursorFiles = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "光标文件");
constexpr const char* kAllFiles = QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "所有文件");
constexpr std::string_view kNotAPicture =
    QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "无法将 '%s' 读取为图象：%s");
constexpr std::string_view kConvertedToBitmap =
    QT_TRANSLATE_NOOP("kestrel::ui::ImageWnd", "'%s' 已转换为 %d 位 BMP 图象。");
// Qt's dialog separates the patterns by blanks.
constexpr const char* kImageFilesFilter = "Image Files (*.bmp *.png *.gif *.jpg *.jpeg *.avi)";

QString fromUtf8(const std::string& text) {
    return QString::fromStdString(text);
}

QString pathText(const std::filesystem::path& path) {
    return QString::fromStdString(pathToUtf8(path));
}

std::string depthLine(std::uint32_t bitCount) {
    switch (bitCount) {
        case 1:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 1/2").toStdString();
        case 4:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 4/16").toStdString();
        case 8:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 8/256").toStdString();
        case 16:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 16/65536")
                .toStdString();
        case 24:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 24/16m")
                .toStdString();
        case 32:
            return QCoreApplication::translate("kestrel::ui::ImageWnd", "像素深度/色彩: 24+8Alpha/16m")
                .toStdString();
        default:
            return {};
    }
}

// The 32-bit DIB over the checkerboard, stretched to `zoom` times its size, as an RGB32 image.
QImage compositeOverCheckerboard(Bytes dib, const DibInfo& info, int zoom) {
    const std::int64_t width = std::int64_t{info.width} * zoom;
    const std::int64_t height = std::int64_t{info.height} * zoom;
    if (width > 32767 || height > 32767 || width * height * 4 > static_cast<std::int64_t>(kMaxImageBytes))
        return {};
    QImage image(static_cast<int>(width), static_cast<int>(height), QImage::Format_RGB32);
    if (image.isNull()) return {};
    PixelTarget target;
    target.pixels = std::span<std::uint32_t>(reinterpret_cast<std::uint32_t*>(image.bits()),
                                             static_cast<std::size_t>(image.sizeInBytes() / 4));
    target.width = image.width();
    target.height = image.height();
    target.stride = static_cast<std::int32_t>(image.bytesPerLine() / 4);
    if (DrawAlphaDibFrame(dib, target, 0, 0, target.width, target.height, 0, 0, 0, 0, 1, 0).failed())
        return {};
    return image;
}

// The 24 × 24 tile behind a pane that shows no file.
QPixmap makePattern(const QPalette& palette) {
    QPixmap tile(24, 24);
    const QColor base = palette.color(QPalette::Window);
    tile.fill(base);
    QPainter painter(&tile);
    painter.setPen(base.darker(112));
    painter.drawLine(0, 23, 23, 0);
    painter.drawLine(0, 11, 11, 0);
    painter.drawLine(12, 23, 23, 12);
    painter.setPen(base.lighter(106));
    painter.drawLine(0, 0, 23, 23);
    return tile;
}

}  // namespace

QImage wrapRgba(RgbaImage&& rgba) {
    if (rgba.width <= 0 || rgba.height <= 0 || rgba.pixels.empty()) return {};
    auto owned = std::make_unique<RgbaImage>(std::move(rgba));
    auto* data = reinterpret_cast<uchar*>(owned->pixels.data());
    const int width = owned->width;
    const int height = owned->height;
    RgbaImage* released = owned.release();
    return QImage(
        data, width, height, static_cast<qsizetype>(width) * 4, QImage::Format_ARGB32,
        [](void* info) { std::unique_ptr<RgbaImage>(static_cast<RgbaImage*>(info)).reset(); }, released);
}

// ----- Kinds and zoom -----------------------------------------------------------------------------

namespace {

bool isAviMovie(Bytes bytes) {
    return pictureFormatOf(bytes, bytes.size()) == PictureFormat::kAvi;
}

bool hasPngSignatureFile(const std::filesystem::path& path) {
    return pictureFileFormat(path) == PictureFormat::kPng;
}

bool isBmpFile(const std::filesystem::path& path) {
    return pictureFileFormat(path) == PictureFormat::kBmp;
}

// Writes the picture `chosen` (any format Qt reads, by content) as a BMP file at `target`: 32 bits
// with its alpha when the picture has alpha, else 24 bits. Returns the bit count, or 0 with the
// failure recorded.
int convertPictureToBmp(const std::filesystem::path& chosen, const std::filesystem::path& target) {
    QImageReader reader(pathText(chosen));
    reader.setDecideFormatFromContent(true);
    const QImage picture = reader.read();
    if (picture.isNull()) {
        ReportMessage(true, "ImageWnd", __LINE__, uiTextUtf8(kContext, kNotAPicture),
                      {pathToUtf8(chosen), reader.errorString().toStdString()});
        return 0;
    }
    const bool alpha = picture.hasAlphaChannel();
    const QImage pixels = picture.convertToFormat(alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    ImageRecord record;
    record.width = pixels.width();
    record.height = pixels.height();
    record.bitDepth = alpha ? 32 : 24;
    if (HResult hr = AllocateImageRecord(record); hr.failed()) {
        RecordError(true, "ImageWnd", __LINE__, hr);
        return 0;
    }
    const int channels = alpha ? 4 : 3;
    for (int y = 0; y < record.height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(pixels.constScanLine(y));
        std::uint8_t* row = record.row(y);
        for (int x = 0; x < record.width; ++x) {
            std::uint8_t* pixel = row + static_cast<std::ptrdiff_t>(x) * channels;
            pixel[0] = static_cast<std::uint8_t>(qBlue(line[x]));
            pixel[1] = static_cast<std::uint8_t>(qGreen(line[x]));
            pixel[2] = static_cast<std::uint8_t>(qRed(line[x]));
            if (alpha) pixel[3] = static_cast<std::uint8_t>(qAlpha(line[x]));
        }
    }
    const PngConverter codec;
    std::vector<std::byte> bmp;
    HResult hr = codec.WriteBmp(record, bmp);
    if (hr.succeeded()) hr = WriteFileAtomic(target, asBytes(bmp));
    if (hr.failed()) {
        RecordError(true, "ImageWnd", __LINE__, hr);
        return 0;
    }
    return record.bitDepth;
}

}  // namespace

bool isPictureFile(const std::filesystem::path& path) {
    switch (pictureFileFormat(path)) {
        case PictureFormat::kPng:
        case PictureFormat::kGif:
        case PictureFormat::kJpeg:
        case PictureFormat::kBmp:
        case PictureFormat::kAvi:
            return true;
        // Formats of Qt's readers with a signature of their own.
        case PictureFormat::kWebp:
            return QImageReader::supportedImageFormats().contains("webp");
        case PictureFormat::kTiff:
            return QImageReader::supportedImageFormats().contains("tiff");
        case PictureFormat::kUnknown:
            break;
    }
    return false;
}

QString replaceFilter(ImageKind kind) {
    const QString all = QCoreApplication::translate(kContext, kAllFiles) + QStringLiteral(" (*)");
    switch (kind) {
        case ImageKind::kIcon:
            return QCoreApplication::translate(kContext, kIconFiles) + QStringLiteral(" (*.ico);;") + all;
        case ImageKind::kIconGroup:
            // A square PNG picture makes a group of every size.
            return QCoreApplication::translate(kContext, kIconFiles) + QStringLiteral(" (*.ico *.png);;") +
                   all;
        case ImageKind::kCursor:
        case ImageKind::kCursorGroup:
            return QCoreApplication::translate(kContext, kCursorFiles) + QStringLiteral(" (*.cur);;") + all;
        default:
            return QString::fromLatin1(kImageFilesFilter) + QStringLiteral(";;") + all;
    }
}

bool showsInformation(ImageKind kind) {
    return kind == ImageKind::kBitmap || kind == ImageKind::kPng || kind == ImageKind::kIcon ||
           kind == ImageKind::kCursor;
}

int imageZoom(QSize picture, QSize client, bool withInformation, bool realSize) {
    if (realSize || picture.width() <= 0 || picture.height() <= 0) return 1;
    const int width = std::min(client.width() - 16, kMaxFitWidth);
    const int height = client.height() - (withInformation ? 67 : 30) - 16;
    return std::max(1, std::min(width / picture.width(), height / picture.height()));
}

// ----- The pane window ----------------------------------------------------------------------------

ImageWnd::ImageWnd(PaneHost* host, ImagePaneServices services, QWidget* parent)
    : FilePaneWindow(host, std::move(services), parent) {
    int scaleToFit = 1;
    if (services_.settings != nullptr)
        (void)services_.settings->GetIntSetting(kImageSettingsSection, kScaleToFitKey, scaleToFit, 1);
    realSize_ = scaleToFit == 0;
    pattern_ = makePattern(palette());
    listingFont_ = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    buildToolBar();
    hScroll_ = new QScrollBar(Qt::Horizontal, this);
    vScroll_ = new QScrollBar(Qt::Vertical, this);
    hScroll_->hide();
    vScroll_->hide();
    connect(hScroll_, &QScrollBar::valueChanged, this, [this] { update(); });
    connect(vScroll_, &QScrollBar::valueChanged, this, [this] { update(); });
    colorizePanel_ = new ColorizeWnd(this);
    connect(colorizePanel_, &ColorizeWnd::previewRequested, this, &ImageWnd::PreviewColorize);
    connect(colorizePanel_, &ColorizeWnd::applyRequested, this,
            [this](bool currentOnly, bool allImages) { (void)ApplyColorize(currentOnly, allImages); });
    placeColorizePanel();

    if (host_ != nullptr) connect(this, &ImageWnd::statusMessage, host_, &PaneHost::statusMessage);
    connect(&watch_, &FileWatch::changed, this, &ImageWnd::LoadImage);
    connect(&aviTimer_, &QTimer::timeout, this, &ImageWnd::showNextAviFrame);
}

ImageWnd::~ImageWnd() = default;

void ImageWnd::buildToolBar() {
    toolBar_ = makePaneToolBar(this);
    addEditorButton(kImageEditorsPage, EditorKind::kImage);

    replaceAction_ = new QAction(tr(" 替 换 ..."), this);
    replaceAction_->setObjectName(QStringLiteral("paneReplace"));  // the tree's context menu finds it by name
    // A tool button would drop the ellipsis of the text.
    replaceAction_->setIconText(replaceAction_->text());
    connect(replaceAction_, &QAction::triggered, this,
            [this] { chooseReplacement(tr(kReplaceTitle), replaceFilter(kind_)); });
    hexAction_ = new QAction(tr("查看 Hex"), this);
    connect(hexAction_, &QAction::triggered, this, &ImageWnd::showHex);
    realSizeAction_ = new QAction(tr("真实 大小"), this);
    realSizeAction_->setCheckable(true);
    realSizeAction_->setChecked(realSize_);
    connect(realSizeAction_, &QAction::toggled, this, &ImageWnd::setRealSize);
    copyAction_ = new QAction(tr("复 制 到 剪 贴 板"), this);
    connect(copyAction_, &QAction::triggered, this, [this] { CopyImage(); });
    toolBar_->addAction(replaceAction_);
    toolBar_->addAction(hexAction_);
    toolBar_->addAction(realSizeAction_);
    toolBar_->addAction(copyAction_);
}

QMenu* ImageWnd::editMenu() const {
    return editButton_->menu();
}

void ImageWnd::showHex() {
    showAs(ShowMode::kHexFromImage);
}

void ImageWnd::setRealSize(bool on) {
    realSize_ = on;
    if (services_.settings != nullptr)
        (void)services_.settings->SetIntSetting(kImageSettingsSection, kScaleToFitKey, on ? 0 : 1);
    placeColorizePanel();
    update();
}

// ----- Showing and loading ------------------------------------------------------------------------

void ImageWnd::ShowImageFile(const std::filesystem::path& path, XmlElement* fileElement, CKsDoc* document,
                             int subMode) {
    showFileOf(path, fileElement, document);
    subMode_ = subMode;
    LoadImage();
}

void ImageWnd::clearPictures() {
    picture_.reset();
    preview_.reset();
    shownSize_ = 0;
    info_.clear();
    groupListing_.clear();
    groupEntries_ = 0;
    members_.clear();
    groupPreview_ = false;
    aviTimer_.stop();
    aviFrames_.clear();
    aviFrame_ = 0;
    if (movie_ != nullptr) {
        movie_->stop();
        movie_->disconnect(this);
        movie_->deleteLater();
        movie_ = nullptr;
    }
    otherFrame_ = QImage();
}

bool ImageWnd::makePicture(std::vector<std::byte> dib, bool iconImage, DibPicture& out) {
    DibInfo info;
    if (validateDib(asBytes(dib), info).failed()) return false;
    // 32 bits are composited straight from the DIB; their decoded picture is made when it is asked
    // for (clipboard, drag).
    const bool decodeNow = info.bitCount != 32;
    RgbaImage rgba;
    if (iconImage) {
        // As stored in the file, the height counts the colour and the mask rows: the decoder checks
        // the icon in that form and lets the mask clear the pixels of images below 32 bits.
        std::vector<std::byte> stored = dib;
        const std::uint32_t doubled = ByteReader(asBytes(dib)).u32Or(8, 0) * 2u;  // keeps the sign bit
        for (int i = 0; i < 4; ++i)
            stored[8 + static_cast<std::size_t>(i)] = static_cast<std::byte>((doubled >> (8 * i)) & 0xFF);
        DibInfo storedInfo;
        const HResult hr = decodeNow ? DecodeDib(asBytes(stored), rgba, DibLayout::kIconImage)
                                     : validateDib(asBytes(stored), storedInfo, DibLayout::kIconImage);
        if (hr.failed()) return false;
    } else if (decodeNow && DecodeDib(asBytes(dib), rgba, DibLayout::kBitmap).failed()) {
        return false;
    }
    out.decoded = decodeNow ? wrapRgba(std::move(rgba)) : QImage();
    if (decodeNow && out.decoded.isNull()) return false;
    out.dib = std::move(dib);
    out.info = info;
    out.iconImage = iconImage;
    out.composite = QImage();
    out.compositeZoom = 0;
    return true;
}

QImage ImageWnd::decodedPicture(const DibPicture& picture) {
    if (!picture.decoded.isNull()) return picture.decoded;
    RgbaImage rgba;
    if (DecodeDib(asBytes(picture.dib), rgba, DibLayout::kBitmap).failed()) return {};
    return wrapRgba(std::move(rgba));
}

const QImage& ImageWnd::drawable(DibPicture& picture, int zoom) {
    if (picture.info.bitCount == 32 && picture.compositeZoom != zoom) {
        picture.composite = compositeOverCheckerboard(asBytes(picture.dib), picture.info, zoom);
        picture.compositeZoom = zoom;
    }
    if (!picture.composite.isNull()) return picture.composite;
    // The compositor takes blue, green, red channels only; other masks are drawn from the decoded
    // picture.
    if (picture.decoded.isNull()) picture.decoded = decodedPicture(picture);
    return picture.decoded;
}

bool ImageWnd::setDib(std::vector<std::byte> dib, bool iconImage) {
    DibPicture picture;
    if (!makePicture(std::move(dib), iconImage, picture)) return false;
    picture_ = std::move(picture);
    return true;
}

void ImageWnd::LoadImage() {
    clearPictures();
    kind_ = path_.empty() ? ImageKind::kNone : imageKindOf(path_, subMode_);
    switch (kind_) {
        case ImageKind::kBitmap:
        case ImageKind::kPng:
        case ImageKind::kIcon:
        case ImageKind::kCursor:
            if (std::optional<ShownDib> shown = loadShownDib(path_, kind_)) {
                if (setDib(std::move(shown->dib), shown->iconImage)) shownSize_ = shown->shownSize;
            }
            break;
        case ImageKind::kIconGroup:
        case ImageKind::kCursorGroup:
            loadGroup(false);
            break;
        case ImageKind::kOther:
            loadOther();
            break;
        case ImageKind::kNone:
            break;
    }
    RefreshInfo();
    placeColorizePanel();
    // Values the panel still holds recolour this picture too when applied: it is shown so.
    if (showsColorizePanel() && !colorizePanel_->isNeutral()) PreviewColorize();
    update();
}

void ImageWnd::loadGroup(bool recolour) {
    std::vector<std::byte> group;
    if (ReadWholeFile(path_, group).failed()) return;
    const Bytes groupBytes = asBytes(group);
    const std::vector<GroupEntry> entries = ParseGroupEntries(groupBytes);
    groupEntries_ = static_cast<int>(entries.size());
    const IconGroupKind groupKind =
        kind_ == ImageKind::kIconGroup ? IconGroupKind::kIcon : IconGroupKind::kCursor;
    members_.clear();
    members_.reserve(entries.size());
    // The listing takes the sizes the entries cannot say (256 pixels, a cursor's height) from the
    // member pictures.
    std::vector<std::optional<PictureSize>> sizes;
    for (const GroupEntry& entry : entries) {
        std::filesystem::path member;
        IconImage image;
        DibPicture picture;
        sizes.emplace_back();
        if (memberFile(entry, groupKind, member).failed() || LoadIconImage(member, image).failed()) {
            members_.emplace_back();
            continue;
        }
        if (recolour) (void)colorizeEngine().RecolorDib(std::span<std::byte>(image.dib));
        if (!makePicture(std::move(image.dib), !image.fromPng, picture)) {
            members_.emplace_back();
            continue;
        }
        sizes.back() = PictureSize{picture.info.width, picture.info.height};
        members_.push_back(drawable(picture, 1));
    }
    groupListing_ = fromUtf8(GroupListing(groupBytes, groupKind, sizes));
    const QFontMetrics metrics(listingFont_);
    groupListingWidth_ = 0;
    for (const QString& line : groupListing_.split(QLatin1Char('\n')))
        groupListingWidth_ = std::max(groupListingWidth_, metrics.horizontalAdvance(line));
}

void ImageWnd::loadOther() {
    MappedFile file;
    if (OpenMappedFile(path_, file).failed()) return;
    // A movie by its content, whatever the file is called.
    if (isAviMovie(file.bytes())) {
        AviMovie movie;
        if (ReadAvi(file.bytes(), movie).failed()) return;
        for (RgbaImage& frame : movie.frames)
            aviFrames_.push_back(wrapRgba(std::move(frame)));
        if (aviFrames_.empty()) return;
        otherFrame_ = aviFrames_.front();
        if (aviFrames_.size() > 1) {
            const std::uint32_t micro =
                movie.frameMicroseconds != 0 ? movie.frameMicroseconds : kDefaultAviFrameMicroseconds;
            aviTimer_.start(static_cast<int>(std::max<std::uint32_t>(1, (micro + 500) / 1000)));
        }
        return;
    }
    CloseMappedFile(file);
    const QString name = pathText(path_);
    QImageReader reader(name);
    reader.setDecideFormatFromContent(true);
    if (reader.supportsAnimation() && reader.imageCount() != 1 &&
        QMovie::supportedFormats().contains(reader.format())) {
        movie_ = new QMovie(name, reader.format(), this);
        if (movie_->isValid()) {
            connect(movie_, &QMovie::frameChanged, this, [this] {
                if (movie_ == nullptr) return;
                const QSize before = otherFrame_.size();
                otherFrame_ = movie_->currentImage();
                if (otherFrame_.size() != before) updateScrollBars();
                update();
            });
            movie_->start();
            otherFrame_ = movie_->currentImage();
            return;
        }
        movie_->deleteLater();
        movie_ = nullptr;
    }
    otherFrame_ = reader.read();
}

void ImageWnd::showNextAviFrame() {
    if (aviFrames_.empty()) {
        aviTimer_.stop();
        return;
    }
    aviFrame_ = (aviFrame_ + 1) % aviFrames_.size();
    otherFrame_ = aviFrames_[aviFrame_];
    update();
}

void ImageWnd::RefreshInfo() {
    info_.clear();
    if (!picture_ || !showsInformation(kind_)) return;
    const std::string fileName = pathToUtf8(path_.filename());
    const std::string extension = extensionOf(fileName);
    const std::string base = fileName.substr(0, fileName.size() - extension.size());
    const DibInfo& dib = picture_->info;
    info_ << fromUtf8(safeFormat(uiTextUtf8(kContext, kNameLine), {base, extension}))
          << fromUtf8(safeFormat(uiTextUtf8(kContext, kSizeLine), {shownSize_}))
          << fromUtf8(safeFormat(uiTextUtf8(kContext, kImageSizeLine), {dib.width, dib.height}))
          << fromUtf8(depthLine(kind_ == ImageKind::kPng ? 32 : dib.bitCount));
    layoutInformation();
}

// ----- Geometry -----------------------------------------------------------------------------------

const std::vector<std::byte>* ImageWnd::currentDib() const {
    return picture_ ? &picture_->dib : nullptr;
}

QSize ImageWnd::pictureSize() const {
    if (!picture_) return {};
    return {picture_->info.width, picture_->info.height};
}

int ImageWnd::zoom() const {
    return imageZoom(pictureSize(), size(), showsInformation(kind_), realSize_);
}

QRect ImageWnd::imageRect() const {
    if (!picture_) return {};
    const int factor = zoom();
    // Unscrolled, the picture starts at (8, 75): 7 pixels below the band of the information lines.
    const QPoint at = contentOrigin() + QPoint(kImageLeft, kImageTopBelowInfo - kBandBottom);
    return {at, QSize(picture_->info.width * factor, picture_->info.height * factor)};
}

QRect ImageWnd::viewBounds() const {
    if (kind_ == ImageKind::kNone) return {};
    int top = kPaneContentTop;
    if (showsInformation(kind_)) top = kBandBottom;
    if (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup) top = kInfoTop;
    const int right = showsColorizePanel() ? colorizeArea().left() : width();
    return QRect(QPoint(0, top), QPoint(right - 1, height() - 1));
}

QRect ImageWnd::viewArea() const {
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    return viewBounds().adjusted(0, 0, vScroll_->isHidden() ? 0 : -extent,
                                 hScroll_->isHidden() ? 0 : -extent);
}

QPoint ImageWnd::contentOrigin() const {
    const int x = hScroll_->isHidden() ? 0 : hScroll_->value();
    const int y = vScroll_->isHidden() ? 0 : vScroll_->value();
    return viewBounds().topLeft() - QPoint(x, y);
}

QSize ImageWnd::otherShownSize() const {
    if (otherFrame_.isNull()) return {};
    const QSize own = otherFrame_.size();
    // Movies play at their own size; pictures too unless they are larger than the pane and it
    // scales to fit, which keeps their proportions.
    const QSize room = viewBounds().size();
    if (realSize_ || !aviFrames_.empty() || (own.width() <= room.width() && own.height() <= room.height()))
        return own;
    return own.scaled(room, Qt::KeepAspectRatio);
}

QRect ImageWnd::otherRect() const {
    const QSize shown = otherShownSize();
    if (shown.isEmpty()) return {};
    const QRect view = viewArea();
    const QPoint origin = contentOrigin();
    // Centred where it fits, from the scrolled origin where it does not.
    const int x =
        shown.width() < view.width() ? view.left() + (view.width() - shown.width()) / 2 : origin.x();
    const int y =
        shown.height() < view.height() ? view.top() + (view.height() - shown.height()) / 2 : origin.y();
    return {QPoint(x, y), shown};
}

QSize ImageWnd::contentSize() const {
    if (kind_ == ImageKind::kOther) return otherShownSize();
    if (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup) {
        const QFontMetrics metrics(listingFont_);
        const int lines = static_cast<int>(groupListing_.count(QLatin1Char('\n')));
        const int boxHeight =
            std::max(kInfoRowHeight * groupEntries_ + 49, kInfoTop + lines * metrics.lineSpacing() + 4) -
            kInfoTop;
        int width = groupListingWidth_ + 2 * kTextInset;
        int height = boxHeight + kMemberGap;
        int lastHeight = 0;
        for (const QImage& member : members_) {
            if (!member.isNull()) {
                width = std::max(width, kImageLeft + member.width() + kImageLeft);
                lastHeight = member.height();
            }
            height += lastHeight + kMemberGap;
        }
        return {width, height};
    }
    if (!picture_) return {};
    const QRect picture = imageRect();
    return {kImageLeft + picture.width() + kImageLeft,
            (kImageTopBelowInfo - kBandBottom) + picture.height() + 8};
}

void ImageWnd::updateScrollBars() {
    const QRect bounds = viewBounds();
    const QSize content = contentSize();
    const int extent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool needH = !bounds.isEmpty() && content.width() > bounds.width();
    const bool needV = !bounds.isEmpty() && content.height() > bounds.height() - (needH ? extent : 0);
    needH = !bounds.isEmpty() && content.width() > bounds.width() - (needV ? extent : 0);
    const QRect view = bounds.adjusted(0, 0, needV ? -extent : 0, needH ? -extent : 0);
    hScroll_->setVisible(needH);
    vScroll_->setVisible(needV);
    if (needH) {
        hScroll_->setGeometry(view.left(), view.bottom() + 1, view.width(), extent);
        hScroll_->setRange(0, content.width() - view.width());
        hScroll_->setPageStep(view.width());
        hScroll_->setSingleStep(20);
    } else {
        hScroll_->setValue(0);
    }
    if (needV) {
        vScroll_->setGeometry(view.right() + 1, view.top(), extent, view.height());
        vScroll_->setRange(0, content.height() - view.height());
        vScroll_->setPageStep(view.height());
        vScroll_->setSingleStep(20);
    } else {
        vScroll_->setValue(0);
    }
}

void ImageWnd::wheelEvent(QWheelEvent* event) {
    // A strip wider than the view scrolls across with the wheel when there is nothing to scroll down.
    QScrollBar* bar = !vScroll_->isHidden() ? vScroll_ : (!hScroll_->isHidden() ? hScroll_ : nullptr);
    if (bar == nullptr) {
        CDragWnd::wheelEvent(event);
        return;
    }
    QCoreApplication::sendEvent(bar, event);
}

int ImageWnd::memberPictureCount() const {
    return static_cast<int>(
        std::count_if(members_.begin(), members_.end(), [](const QImage& image) { return !image.isNull(); }));
}

int ImageWnd::otherFrameCount() const {
    if (!aviFrames_.empty()) return static_cast<int>(aviFrames_.size());
    if (movie_ != nullptr) return std::max(1, movie_->frameCount());
    return otherFrame_.isNull() ? 0 : 1;
}

QRect ImageWnd::colorizeArea() const {
    const int wanted =
        picture_ && picture_->info.width >= kColorizeWideDib ? picture_->info.width + 7 : kColorizeLeft;
    // The panel keeps the width its controls need, and a picture wider than what is left scrolls;
    // in a pane too narrow for both, the picture keeps its usual 260 pixels and the panel scrolls.
    const int panelWidth = colorizePanel_->sizeHint().width();
    const int left = std::max(std::min(wanted, width() - panelWidth), std::min(wanted, kColorizeLeft));
    const int top = showsInformation(kind_) ? kBandBottom : kShadowLineY;
    return QRect(QPoint(left, top), QPoint(width() - 1, height() - 1));
}

bool ImageWnd::showsColorizePanel() const {
    return kind_ != ImageKind::kNone && kind_ != ImageKind::kOther;
}

void ImageWnd::placeColorizePanel() {
    const QRect area = colorizeArea();
    colorizePanel_->setGeometry(area);
    colorizePanel_->setVisible(showsColorizePanel() && !area.isEmpty());
    updateScrollBars();
}

ColorizeEngine& ImageWnd::colorizeEngine() {
    return colorizePanel_->engine();
}

// ----- Replace ------------------------------------------------------------------------------------

void ImageWnd::ReplaceWith(const std::filesystem::path& chosen) {
    if (path_.empty() || chosen.empty()) return;
    if (chosen == path_ || IsSameFile(chosen, path_)) return;
    const std::string chosenExtension = extensionOf(pathToUtf8(chosen.filename()));
    // An icon or cursor file on a group rewrites the group and its members (a program's icon is set
    // this way), as does a PNG picture on an icon group; the description changes, so the view
    // writes it and shows the new tree.
    const bool group = kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup;
    const bool groupSource = iequalsAscii(chosenExtension, ".ico") || iequalsAscii(chosenExtension, ".cur") ||
                             (kind_ == ImageKind::kIconGroup && hasPngSignatureFile(chosen));
    if (group && document_ != nullptr && fileElement_ != nullptr && groupSource) {
        XmlElement* language = fileElement_->parent();
        beginProjectEdit(document_, {path_}, language);
        if (HResult hr =
                ReplaceGroupFromIconFile(document_->description(), recolourFolder(), language, chosen);
            hr.failed()) {
            document_->history().abandon();
            ShowErrorDialog();
            return;
        }
        finishProjectEdit(document_, language);
        if (services_.descriptionEdited) services_.descriptionEdited(language);
        return;
    }
    // A bitmap entry is compiled from a BMP file (or the PNG the import makes of 32-bit bitmaps):
    // any other picture is converted first, and the BMP replaces the entry's file.
    std::filesystem::path source = chosen;
    QTemporaryDir converted;
    const bool bitmapEntry = document_ != nullptr && fileElement_ != nullptr &&
                             resourceTypeOf(document_->description(), fileElement_) == resource_type::kBitmap;
    int convertedBits = 0;
    if (bitmapEntry && !hasPngSignatureFile(chosen) && !isBmpFile(chosen)) {
        if (!converted.isValid()) return;
        const std::string name = pathToUtf8(chosen.filename());
        source = pathFromUtf8(converted.path().toStdString()) /
                 pathFromUtf8(name.substr(0, name.size() - chosenExtension.size()) + ".BMP");
        convertedBits = convertPictureToBmp(chosen, source);
        if (convertedBits == 0) {
            ShowErrorDialog();
            return;
        }
    }
    std::filesystem::path shown;
    HResult hr = ReplacePaneFile(document_, fileElement_, path_, source, shown);
    if (hr.failed()) {
        ShowErrorDialog();
        return;
    }
    if (hr == kOk) {
        ShowImageFile(shown, fileElement_, document_, subMode_);
        if (convertedBits != 0)
            emit statusMessage(fromUtf8(safeFormat(uiTextUtf8(kContext, kConvertedToBitmap),
                                                   {pathToUtf8(chosen.filename()), convertedBits})));
    }
}

void ImageWnd::fileDropped(const std::filesystem::path& file) {
    ReplaceWith(file);
}

// ----- Colorize -----------------------------------------------------------------------------------

// The file of a group member: the file the description lists for the member resource in the
// group's language (named groups may live in a subfolder, and a member in a second language has a
// suffixed name), else the member's usual name in the working folder.
HResult ImageWnd::memberFile(const GroupEntry& entry, IconGroupKind kind, std::filesystem::path& out) const {
    const std::filesystem::path folder = recolourFolder();
    const std::optional<std::uint16_t> language = DescribedFile::ofFileElement(fileElement_).language();
    if (document_ != nullptr && language) {
        const ResourceKey type =
            ResourceKey::ofId(kind == IconGroupKind::kIcon ? resource_type::kIcon : resource_type::kCursor);
        XmlElement* member =
            FindResourceEntry(document_->description(), type, ResourceKey::ofId(entry.id), *language);
        const std::string name = DescribedFile(member).storedName().value_or(std::string());
        if (!name.empty() && resolveStored(folder, name, out).succeeded()) return kOk;
    }
    return MemberPath(folder / "pe.xml", entry, kind, out);
}

std::filesystem::path ImageWnd::recolourFolder() const {
    return workingFolderOf(document_, path_);
}

// The project's folder and every folder that holds a file its description names: the import puts
// the resources of named types in subfolders, and "all images" means theirs too. Files that lie in
// no listed folder stay as they are.
std::vector<std::filesystem::path> ImageWnd::allImageFolders() const {
    std::vector<std::filesystem::path> folders{recolourFolder()};
    if (document_ == nullptr) return folders;
    std::set<std::string> storedFolders;
    std::vector<XmlElement*> pending;
    for (XmlElement* top = document_->description().documentNode()->next(); top != nullptr; top = top->next())
        pending.push_back(top);
    while (!pending.empty()) {
        XmlElement* element = pending.back();
        pending.pop_back();
        for (XmlElement* child = element->firstChild(); child != nullptr; child = child->next())
            pending.push_back(child);
        if (!iequalsAscii(element->name(), "File")) continue;
        const std::string name = DescribedFile::ofFileElement(element).storedName().value_or(std::string());
        const std::size_t separator = name.find_last_of("\\/");
        if (separator != std::string::npos && separator > 0) storedFolders.insert(name.substr(0, separator));
    }
    for (const std::string& stored : storedFolders) {
        std::filesystem::path folder;
        if (resolveStored(folders.front(), stored, folder).failed()) continue;
        const bool known =
            std::any_of(folders.begin(), folders.end(),
                        [&](const std::filesystem::path& seen) { return IsSameFile(seen, folder); });
        std::error_code error;
        if (!known && std::filesystem::is_directory(folder, error)) folders.push_back(folder);
    }
    return folders;
}

// The files a recolouring may write: the shown file (a group's member files), or every image file
// of the folders "all images" covers.
std::vector<std::filesystem::path> ImageWnd::recolourTargets(bool currentOnly) const {
    std::vector<std::filesystem::path> files;
    if (currentOnly && (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup)) {
        std::vector<std::byte> group;
        if (ReadWholeFile(path_, group).failed()) {
            ClearErrorRecord();
            return files;
        }
        const IconGroupKind groupKind =
            kind_ == ImageKind::kIconGroup ? IconGroupKind::kIcon : IconGroupKind::kCursor;
        for (const GroupEntry& entry : ParseGroupEntries(asBytes(group))) {
            std::filesystem::path member;
            if (memberFile(entry, groupKind, member).succeeded()) files.push_back(member);
        }
        ClearErrorRecord();
        return files;
    }
    if (currentOnly) return {path_};
    for (const std::filesystem::path& folder : allImageFolders()) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
             it.increment(error)) {
            const std::string extension = extensionOf(pathToUtf8(it->path().filename()));
            if (iequalsAscii(extension, ".bmp") || iequalsAscii(extension, ".png") ||
                iequalsAscii(extension, ".ico") || iequalsAscii(extension, ".cur"))
                files.push_back(it->path());
        }
    }
    return files;
}

int ImageWnd::ApplyColorize(bool currentOnly, bool allImages) {
    if (!currentOnly && !allImages) {
        uiSink().message(uiTextUtf8(kContext, kSelectFirst), kAppName, MessageIcon::kExclamation);
        return 0;
    }
    if (path_.empty()) return 0;
    const std::filesystem::path folder = recolourFolder();
    const std::string question = currentOnly
                                     ? safeFormat(uiTextUtf8(kContext, kConfirmCurrent), {pathToUtf8(path_)})
                                     : safeFormat(uiTextUtf8(kContext, kConfirmAll), {pathToUtf8(folder)});
    if (uiSink().ask(question, kAppName, Buttons::kYesNo, 0, MessageIcon::kExclamation) != Answer::kYes)
        return 0;

    HResult failure = kOk;
    ColorizeEngine::FolderRun run;
    beginProjectEdit(document_, recolourTargets(currentOnly), fileElement_);
    if (currentOnly && (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup)) {
        std::vector<std::byte> group;
        if (ReadWholeFile(path_, group).succeeded()) {
            const IconGroupKind groupKind =
                kind_ == ImageKind::kIconGroup ? IconGroupKind::kIcon : IconGroupKind::kCursor;
            for (const GroupEntry& entry : ParseGroupEntries(asBytes(group))) {
                // A member without a file leaves a gap in the pane; there is nothing to recolour.
                std::filesystem::path member;
                if (memberFile(entry, groupKind, member).failed()) continue;
                if (HResult hr = colorizeEngine().RecolorFile(member); hr.failed() && !failure.failed())
                    failure = hr;
            }
        }
    } else if (currentOnly) {
        failure = colorizeEngine().RecolorFile(path_);
    } else {
        const QPointer<ImageWnd> pane(this);
        CKsDoc* document = document_;
        failure = recolourAll(run);
        if (pane.isNull()) {
            finishProjectEdit(document, nullptr);
            return 1;
        }
    }
    finishProjectEdit(document_, fileElement_);
    if (failure.failed()) ShowErrorDialog();
    // The file now holds the colouring: what is shown next is the file, and applying again would
    // recolour it a second time, so the panel starts again from values that change nothing.
    colorizePanel_->resetColouring();
    watch_.markCurrent();
    LoadImage();
    if (!currentOnly)
        uiSink().message(safeFormat(uiTextUtf8(kContext, kRecolouredCount), {run.done, run.files}), kAppName,
                         MessageIcon::kInformation);
    return 1;
}

HResult ImageWnd::recolourAll(ColorizeEngine::FolderRun& run) {
    // The progress window lets events through while it shows, and the pane (with the panel and its
    // engine) could go meanwhile: the run keeps its own copy of the tables and watches the pane.
    const QPointer<ImageWnd> pane(this);
    const ColorizeEngine engine = colorizeEngine();
    const std::vector<std::filesystem::path> folders = allImageFolders();
    QPointer<QProgressDialog> progress = new QProgressDialog(
        uiText(kContext, kRecolouringAll), uiText(kContext, kCancelRecolouring), 0, 0, this);
    progress->setWindowModality(Qt::WindowModal);
    progress->setMinimumDuration(applyProgressDelayMs_);
    progress->setAutoClose(true);
    progress->setAutoReset(true);
    progress->setValue(0);

    const HResult result = engine.RecolorFolders(
        folders,
        [&](std::size_t tried, std::size_t total) {
            if (progress.isNull()) return false;
            if (progress->maximum() != static_cast<int>(total)) progress->setMaximum(static_cast<int>(total));
            // Once the window shows, this also handles the events that came meanwhile.
            progress->setValue(static_cast<int>(tried));
            return !pane.isNull() && !progress.isNull() && !progress->wasCanceled();
        },
        &run);
    // Gone with the pane, or still there to be closed.
    delete progress.data();
    return result;
}

void ImageWnd::PreviewColorize() {
    if (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup) {
        loadGroup(true);
        groupPreview_ = true;
        update();
        return;
    }
    if (!picture_) return;
    std::vector<std::byte> recoloured = picture_->dib;
    if (colorizeEngine().RecolorDib(std::span<std::byte>(recoloured)).failed()) return;
    DibPicture picture;
    if (!makePicture(std::move(recoloured), picture_->iconImage, picture)) return;
    preview_ = std::move(picture);
    update();
}

void ImageWnd::CopyImage() const {
    if (!picture_) return;
    const QImage picture = decodedPicture(*picture_);
    if (QClipboard* clipboard = QGuiApplication::clipboard(); clipboard != nullptr && !picture.isNull())
        clipboard->setImage(picture);
}

// ----- Drag and drop ------------------------------------------------------------------------------

int ImageWnd::hitTest(QPoint point, QPoint& origin) const {
    if (!picture_ || !showsInformation(kind_)) return 0;
    const QRect rect = imageRect();
    if (!rect.contains(point) || !viewArea().contains(point)) return 0;
    origin = rect.topLeft();
    return 1;
}

bool ImageWnd::dragPayload(int, QPoint offset, DragPayload& payload) const {
    if (!picture_) return false;
    payload.file = path_;
    const std::string fileName = pathToUtf8(path_.filename());
    payload.name = fromUtf8(fileName.substr(0, fileName.size() - extensionOf(fileName).size()));
    payload.picture = decodedPicture(*picture_);
    // The picture is dragged at its real size: hold it at the same picture pixel.
    const int factor = std::max(1, zoom());
    payload.hotSpot = QPoint(offset.x() / factor, offset.y() / factor);
    return true;
}

// ----- Painting -----------------------------------------------------------------------------------

void ImageWnd::layOutContent(const QRect&) {
    // The picture, the information lines and the panel are placed from the pane's size.
    layoutInformation();
    placeColorizePanel();
}

void ImageWnd::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    paintBackground(painter);
    if (kind_ == ImageKind::kNone) return;
    if (kind_ == ImageKind::kOther) {
        paintOther(painter);
        return;
    }
    if (kind_ == ImageKind::kIconGroup || kind_ == ImageKind::kCursorGroup) {
        paintGroup(painter);
        return;
    }
    paintInformation(painter);
    DibPicture* shown = preview_ ? &*preview_ : (picture_ ? &*picture_ : nullptr);
    if (shown == nullptr) return;
    painter.setClipRect(viewArea());
    const int factor = zoom();
    const QRect rect = imageRect();
    const QImage& image = drawable(*shown, factor);
    if (&image == &shown->composite) {
        painter.drawImage(rect.topLeft(), image);
    } else {
        // Nearest neighbour: every picture pixel becomes a block of zoom × zoom pixels.
        painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
        painter.drawImage(rect, image);
    }
}

void ImageWnd::paintBackground(QPainter& painter) {
    const QPalette& colours = palette();
    if (kind_ == ImageKind::kNone) {
        painter.fillRect(rect(), QBrush(pattern_));
        return;
    }
    const bool band = kind_ != ImageKind::kOther;
    if (band) {
        painter.fillRect(QRect(0, kShadowLineY, width(), kBandBottom - kShadowLineY), colours.mid());
        painter.fillRect(QRect(0, kBandBottom, width(), height() - kBandBottom), colours.window());
    }
    paintPaneFrame(painter, *this);
}

void ImageWnd::layoutInformation() {
    secondColumnX_ = {0, 0};
    if (info_.size() != 4) return;
    const QFontMetrics metrics(font());
    auto colonPrefix = [&metrics](const QString& text) {
        const qsizetype colon = text.indexOf(QLatin1Char(':'));
        return metrics.horizontalAdvance(colon < 0 ? text : text.left(colon + 1));
    };
    // Row 1: name and picture size; row 2: file size and depth. The second column's colons line up
    // a little right of the wider first-column line.
    const int firstWidth = std::max(metrics.horizontalAdvance(info_[0]), metrics.horizontalAdvance(info_[1]));
    const int prefix = std::max(colonPrefix(info_[2]), colonPrefix(info_[3]));
    const int suffix = std::max(metrics.horizontalAdvance(info_[2]) - colonPrefix(info_[2]),
                                metrics.horizontalAdvance(info_[3]) - colonPrefix(info_[3]));
    int colonX = kTextInset + firstWidth + metrics.horizontalAdvance(QStringLiteral("      ")) + prefix;
    // Moved left when the second column would not fit, but never over the first column's colons.
    colonX = std::min(colonX, width() - kTextInset - suffix);
    colonX = std::max(colonX, kTextInset + colonPrefix(info_[0]) + prefix);
    secondColumnX_ = {colonX - colonPrefix(info_[2]), colonX - colonPrefix(info_[3])};
}

void ImageWnd::paintInformation(QPainter& painter) {
    if (info_.size() != 4) return;
    painter.setPen(palette().color(QPalette::WindowText));
    for (int row = 0; row < 2; ++row) {
        const QRect line(0, kInfoTop + row * kInfoRowHeight, width(), kInfoRowHeight);
        painter.drawText(line.adjusted(kTextInset, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                         info_[row == 0 ? 0 : 1]);
        painter.drawText(line.adjusted(secondColumnX_[static_cast<std::size_t>(row)], 0, 0, 0),
                         Qt::AlignLeft | Qt::AlignVCenter, info_[row == 0 ? 2 : 3]);
    }
}

void ImageWnd::paintGroup(QPainter& painter) {
    const QFontMetrics metrics(listingFont_);
    const QStringList lines = groupListing_.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const int textHeight = static_cast<int>(lines.size()) * metrics.lineSpacing();
    const int boxHeight = std::max(kInfoRowHeight * groupEntries_ + 49, kInfoTop + textHeight + 4) - kInfoTop;
    const QRect view = viewArea();
    const QPoint origin = contentOrigin();
    painter.setClipRect(view);
    // The listing box across the view (or the content, when that is wider), scrolled with it.
    const int boxWidth = std::max(view.width(), contentSize().width());
    painter.fillRect(QRect(origin, QSize(boxWidth, boxHeight)), palette().shadow());
    painter.setFont(listingFont_);
    painter.setPen(palette().color(QPalette::BrightText));
    int y = origin.y() + 2;
    for (const QString& line : lines) {
        painter.drawText(QPoint(origin.x() + kTextInset, y + metrics.ascent()), line);
        y += metrics.lineSpacing();
    }
    // The members one under another at their real size; a member that could not be loaded leaves
    // a gap as high as the one before it.
    int top = origin.y() + boxHeight + kMemberGap;
    int lastHeight = 0;
    for (const QImage& member : members_) {
        if (!member.isNull()) {
            painter.drawImage(QPoint(origin.x() + kImageLeft, top), member);
            lastHeight = member.height();
        }
        top += lastHeight + kMemberGap;
    }
}

void ImageWnd::paintOther(QPainter& painter) {
    const QRect view = viewArea();
    if (otherFrame_.isNull()) {
        painter.fillRect(view, palette().window());
        return;
    }
    painter.fillRect(view, palette().button());
    painter.setClipRect(view);
    const QRect placed = otherRect();
    // Shrunk to fit: smoothly; at its own size: pixel for pixel.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, placed.size() != otherFrame_.size());
    painter.drawImage(placed, otherFrame_);
}

// ----- The pane object ----------------------------------------------------------------------------

ImagePane::ImagePane(PaneHost& host, ImagePaneServices services)
    : host_(host), services_(std::move(services)) {}

QWidget* ImagePane::createWidget(QWidget* parent) {
    // The parent (the host) owns the window; widgetDestroyed() forgets it before Qt deletes it.
    window_ = new ImageWnd(&host_, services_, parent);
    if (colorizeState_) window_->colorizePanel()->restore(*colorizeState_);
    return window_;
}

void ImagePane::widgetDestroyed() {
    if (window_ != nullptr) colorizeState_ = window_->colorizePanel()->state();
    window_ = nullptr;
}

void ImagePane::showFile(const PaneRequest& request) {
    if (window_ == nullptr) return;
    window_->ShowImageFile(request.path, request.fileElement, request.document, request.imageSubMode);
}

bool ImagePane::canEdit(EditCommand command) const {
    return window_ != nullptr && command == EditCommand::kCopy;
}

void ImagePane::edit(EditCommand command) {
    if (window_ != nullptr && command == EditCommand::kCopy) window_->CopyImage();
}

PaneFactory makeImagePaneFactory(const ImagePaneServices& services) {
    return [services](PaneHost& host) { return std::make_unique<ImagePane>(host, services); };
}

}  // namespace kestrel::ui
