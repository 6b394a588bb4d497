#include "ui/file_pane.h"

#include <QAction>
#include <QFileDialog>
#include <QMenu>
#include <QPainter>
#include <QToolBar>
#include <QToolButton>
#include <QWidget>
#include <string>
#include <system_error>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"
#include "ui/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "FilePane";
constexpr const char* kContext = "FilePane";

constexpr std::string_view kDifferentExtension = QT_TRANSLATE_NOOP(
    "FilePane",
    "与你正替换那个相比，你选定的是一个不同扩展名的文件名。\r\n更改文件类型可能有不利的副作用。\r\n\r\n"
    "你希望要继续吗？");
constexpr std::string_view kOverwriteOther =
    QT_TRANSLATE_NOOP("FilePane", "文件 '%s' 已存在并被其他资源使用。\r\n\r\n要覆盖它吗？");
constexpr std::string_view kCopyFailed =
    QT_TRANSLATE_NOOP("FilePane", "复制 '%s' 文件到 '%s' 的时候发生错误。");
constexpr std::string_view kReplaceStrings = QT_TRANSLATE_NOOP(
    "FilePane",
    "字串表由 STRINGS.XML 编译，所有字串表项共用这个文件。\r\n\r\n要用 '%s' 覆盖 STRINGS.XML 吗？");
constexpr std::string_view kStringsFile = "STRINGS.XML";

QString pathText(const std::filesystem::path& path) {
    return QString::fromStdString(pathToUtf8(path));
}

// Copies `chosen` over `target` (atomically); a failure is recorded with both names.
HResult copyOver(const std::filesystem::path& chosen, const std::filesystem::path& target) {
    std::error_code error;
    // A read-only target is made writable first, as the copy over it expects.
    if (std::filesystem::exists(target, error)) {
        std::filesystem::permissions(target, std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::add, error);
    }
    if (HResult hr = CopyFileAtomic(chosen, target); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8(kContext, kCopyFailed),
                      {pathToUtf8(chosen), pathToUtf8(target)});
        return hr;
    }
    return kOk;
}

}  // namespace

QToolBar* makePaneToolBar(QWidget* owner) {
    auto* bar = new QToolBar(owner);
    bar->setMovable(false);
    bar->setFloatable(false);
    bar->setToolButtonStyle(Qt::ToolButtonTextOnly);
    bar->setGeometry(0, 1, owner->width(), kPaneToolBarHeight);
    return bar;
}

QToolButton* addEditorButton(QToolBar* bar, const PaneServices& services, int optionsPage,
                             const std::function<void(const EditorCommand*)>& launch) {
    auto* menu = new QMenu(bar);
    auto* button = new QToolButton(bar);
    button->setObjectName(QStringLiteral("paneEditor"));  // the tree's context menu finds it by name
    button->setText(QCoreApplication::translate("FilePane", "编辑"));
    button->setToolButtonStyle(Qt::ToolButtonTextOnly);
    button->setPopupMode(QToolButton::MenuButtonPopup);
    button->setMenu(menu);
    QObject::connect(button, &QToolButton::clicked, bar, [launch] { launch(nullptr); });
    // The list may change in the options dialog: the menu is built each time it opens.
    QObject::connect(menu, &QMenu::aboutToShow, bar, [menu, services, optionsPage, launch] {
        menu->clear();
        if (services.editors != nullptr) {
            for (const EditorCommand& editor : *services.editors) {
                QAction* action = menu->addAction(QString::fromStdString(editor.name));
                QObject::connect(action, &QAction::triggered, menu, [launch, editor] { launch(&editor); });
            }
            if (!services.editors->empty()) menu->addSeparator();
        }
        QAction* customize = menu->addAction(QCoreApplication::translate("FilePane", "定制编辑器 ..."));
        QObject::connect(customize, &QAction::triggered, menu, [services, optionsPage] {
            if (services.openOptions) services.openOptions(optionsPage);
        });
    });
    bar->addWidget(button);
    return button;
}

void launchPaneEditor(const PaneServices& services, EditorKind kind, const std::filesystem::path& file,
                      const EditorCommand* editor) {
    if (file.empty()) return;
    HResult hr = kOk;
    if (services.launchEditor) {
        hr = services.launchEditor(file, editor);
    } else {
        static const EditorList kNoEditors;
        hr = LaunchEditor(kind, file, editor, services.editors != nullptr ? *services.editors : kNoEditors);
    }
    if (hr.failed()) ShowErrorDialog();
}

std::filesystem::path choosePaneReplacement(const PaneServices& services, QWidget* owner,
                                            const std::filesystem::path& current, const QString& title,
                                            const QString& filter) {
    if (services.chooseReplacement) return services.chooseReplacement(current);
    const QString file = QFileDialog::getOpenFileName(owner, title, pathText(current), filter);
    return file.isEmpty() ? std::filesystem::path() : pathFromUtf8(file.toStdString());
}

void paintPaneFrame(QPainter& painter, const QWidget& pane) {
    const QPalette& colours = pane.palette();
    const int width = pane.width();
    painter.fillRect(QRect(0, 0, width, kPaneShadowLineY), colours.window());
    painter.setPen(colours.color(QPalette::Light));
    painter.drawLine(0, 0, width - 1, 0);
    painter.setPen(colours.color(QPalette::Mid));
    painter.drawLine(0, kPaneShadowLineY, width - 1, kPaneShadowLineY);
    painter.setPen(colours.color(QPalette::Shadow));
    painter.drawLine(0, kPaneDarkLineY, width - 1, kPaneDarkLineY);
}

// ----- File watch ---------------------------------------------------------------------------------

FileWatch::FileWatch(QObject* parent) : QObject(parent) {
    timer_.setInterval(kFileWatchIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &FileWatch::check);
}

void FileWatch::watch(const std::filesystem::path& path) {
    path_ = path;
    time_ = FileModificationTime(path_);
    timer_.start();
}

void FileWatch::stop() {
    timer_.stop();
    path_.clear();
}

void FileWatch::markCurrent() {
    if (!path_.empty()) time_ = FileModificationTime(path_);
}

void FileWatch::check() {
    if (path_.empty()) return;
    // A file that is missing for this tick (being saved by rename) reads as time 0: skipped.
    const std::int64_t time = FileModificationTime(path_);
    if (time <= time_) return;
    time_ = time;
    emit changed();
}

void requestShow(PaneHost* host, CKsDoc* document, XmlElement* fileElement, const std::filesystem::path& path,
                 ShowMode mode) {
    if (host == nullptr || document == nullptr || path.empty()) return;
    QMetaObject::invokeMethod(
        host,
        [host, document, fileElement, name = pathToUtf8(path), mode] {
            host->ShowFile(document, name, fileElement, mode);
        },
        Qt::QueuedConnection);
}

// ----- Replace ------------------------------------------------------------------------------------

std::filesystem::path workingFolderOf(const CKsDoc* document, const std::filesystem::path& shown) {
    if (document != nullptr && !document->descriptionPath().empty())
        return document->descriptionPath().parent_path();
    return shown.parent_path();
}

HResult ReplacePaneFile(CKsDoc* document, XmlElement* fileElement, const std::filesystem::path& current,
                        const std::filesystem::path& chosen, std::filesystem::path& shown) {
    if (current.empty() || chosen.empty()) return kFalse;
    if (chosen == current || IsSameFile(chosen, current)) return kFalse;
    const std::string chosenName = pathToUtf8(chosen.filename());
    const std::string chosenExtension = extensionOf(chosenName);
    const int type = document != nullptr && fileElement != nullptr
                         ? resourceTypeOf(document->description(), fileElement)
                         : 0;

    if (type == resource_type::kString) {
        // Every string-table entry names STRINGS.XML; the compile reads the strings from there, so
        // renaming one entry's file would change nothing. The chosen file replaces STRINGS.XML.
        std::filesystem::path strings;
        const std::filesystem::path folder = workingFolderOf(document, current);
        if (resolveStored(folder, kStringsFile, strings).failed()) strings = folder / kStringsFile;
        if (IsSameFile(chosen, strings)) return kFalse;
        if (uiSink().ask(safeFormat(uiTextUtf8(kContext, kReplaceStrings), {pathToUtf8(chosen)}), kAppName,
                         Buttons::kYesNo, 1, MessageIcon::kExclamation) != Answer::kYes) {
            return kFalse;
        }
        if (HResult hr = copyOver(chosen, strings); hr.failed()) return hr;
        shown = strings;
        return kOk;
    }

    if (!iequalsAscii(chosenExtension, extensionOf(pathToUtf8(current.filename()))) &&
        uiSink().ask(uiTextUtf8(kContext, kDifferentExtension), kAppName, Buttons::kYesNo, 0,
                     MessageIcon::kExclamation) != Answer::kYes) {
        return kFalse;
    }

    const std::filesystem::path target = current.parent_path() / chosen.filename();
    if (!IsSameFile(chosen, target)) {
        std::error_code error;
        if (std::filesystem::exists(target, error) && !IsSameFile(target, current) &&
            uiSink().ask(safeFormat(uiTextUtf8(kContext, kOverwriteOther), {pathToUtf8(target)}), kAppName,
                         Buttons::kYesNo, 1, MessageIcon::kExclamation) != Answer::kYes) {
            return kFalse;
        }
        // Written beside the target and renamed over it: a failed copy leaves the target as it was.
        if (HResult hr = copyOver(chosen, target); hr.failed()) return hr;
    }

    if (document != nullptr && fileElement != nullptr) {
        XmlDocument& description = document->description();
        XmlElement* previous = description.SetCurrent(fileElement);
        std::string name;
        if (description.GetAttribute("", "Name", name).failed()) name.clear();
        const std::size_t slash = name.rfind('\\');
        std::string stored = slash == std::string::npos ? std::string() : name.substr(0, slash + 1);
        const bool png = iequalsAscii(chosenExtension, ".png");
        const bool bitmap = type == resource_type::kBitmap;
        // The compile turns X.png into the bitmap X.BMP: a bitmap entry keeps naming the bitmap.
        stored += chosenName.substr(0, chosenName.size() - chosenExtension.size());
        stored += png && bitmap ? std::string(".BMP") : chosenExtension;
        description.SetCurrentAttribute("Name", stored);
        if (bitmap) description.SetCurrentAttribute("Png", png ? "1" : "0");
        description.SetCurrent(previous);
    }
    shown = target;
    return kOk;
}

}  // namespace kestrel::ui
