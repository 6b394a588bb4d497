#include "ui/panes/file_pane.h"

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
#include "core/pe/description_edit.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "core/xml/xml_document.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr const char* kContext = "FilePane";

constexpr std::string_view kDifferentExtension = QT_TRANSLATE_NOOP(
    "FilePane",
    "与你正替换那个相比，你选定的是一个不同扩展名的文件名。\r\n更改文件类型可能有不利的副作用。\r\n\r\n"
    "你希望要继续吗？");
constexpr std::string_view kOverwriteOther =
    QT_TRANSLATE_NOOP("FilePane", "文件 '%s' 已存在并被其他资源使用。\r\n\r\n要覆盖它吗？");
constexpr std::string_view kReplaceStrings = QT_TRANSLATE_NOOP(
    "FilePane",
    "字串表由 STRINGS.XML 编译，所有字串表项共用这个文件。\r\n\r\n要用 '%s' 覆盖 STRINGS.XML 吗？");

QString pathText(const std::filesystem::path& path) {
    return QString::fromStdString(pathToUtf8(path));
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

// ----- Undo steps ---------------------------------------------------------------------------------

namespace {

// The resource `element` belongs to: the language Entry itself or the one above it.
std::optional<DescribedResource> resourceOf(CKsDoc& document, const XmlElement* element) {
    for (; element != nullptr; element = element->parent()) {
        if (std::optional<DescribedResource> resource =
                DescribeResourceEntry(document.description(), element))
            return resource;
    }
    return std::nullopt;
}

std::string descriptionText(CKsDoc& document) {
    std::string text;
    if (document.description().SaveToString(text).failed()) ClearErrorRecord();
    return text;
}

}  // namespace

void beginProjectEdit(CKsDoc* document, const std::vector<std::filesystem::path>& touched,
                      const XmlElement* selection) {
    if (document == nullptr || !document->isOpen()) return;
    if (document->history()
            .begin(document->descriptionPath().parent_path(), descriptionText(*document), touched,
                   resourceOf(*document, selection))
            .failed())
        ShowErrorDialog();
}

void finishProjectEdit(CKsDoc* document, const XmlElement* selection) {
    if (document == nullptr || !document->history().pending()) return;
    document->history().finish(descriptionText(*document), resourceOf(*document, selection));
}

// ----- Replace ------------------------------------------------------------------------------------

std::filesystem::path workingFolderOf(const CKsDoc* document, const std::filesystem::path& shown) {
    if (document != nullptr && !document->descriptionPath().empty())
        return document->descriptionPath().parent_path();
    return shown.parent_path();
}

HResult ReplacePaneFile(CKsDoc* document, XmlElement* fileElement, const std::filesystem::path& current,
                        const std::filesystem::path& chosen, std::filesystem::path& shown) {
    // Outside a project there is no description: only the file is replaced.
    XmlDocument none;
    if (document == nullptr) fileElement = nullptr;
    XmlDocument& description = document != nullptr ? document->description() : none;
    const std::optional<FileReplacement> plan =
        PlanFileReplacement(description, fileElement, workingFolderOf(document, current), current, chosen);
    if (!plan) return kFalse;
    const auto ask = [](const FileReplacement::Ask& question) {
        std::string text;
        int defaultButton = 1;
        switch (question.question) {
            case FileReplacement::Question::kOverwriteStrings:
                text = safeFormat(uiTextUtf8(kContext, kReplaceStrings), {pathToUtf8(question.about)});
                break;
            case FileReplacement::Question::kDifferentExtension:
                text = uiTextUtf8(kContext, kDifferentExtension);
                defaultButton = 0;
                break;
            case FileReplacement::Question::kOverwriteOther:
                text = safeFormat(uiTextUtf8(kContext, kOverwriteOther), {pathToUtf8(question.about)});
                break;
        }
        return uiSink().ask(text, kAppName, Buttons::kYesNo, defaultButton, MessageIcon::kExclamation) ==
               Answer::kYes;
    };
    // A question answered No changes nothing, and the step is dropped as empty.
    beginProjectEdit(document, {plan->written}, fileElement);
    const HResult hr = ReplaceResourceFile(description, fileElement, chosen, *plan, ask);
    if (hr.failed()) {
        if (document != nullptr) document->history().abandon();
        return hr;
    }
    finishProjectEdit(document, fileElement);
    if (hr == kOk) shown = plan->shown;
    return hr;
}

}  // namespace kestrel::ui
