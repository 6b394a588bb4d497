#include "ui/frame/ks_frame.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDialogButtonBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPainter>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>
#include <QStyleOptionMenuItem>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <system_error>

#include "app/recent_files.h"
#include "core/errors/errors.h"
#include "core/pe/certificate_table.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "core/sign/authenticode.h"
#include "ui/frame/app_icons.h"
#include "ui/frame/qt_ui_sink.h"
#include "ui/frame/resource_search_dock.h"
#include "ui/frame/resource_tree.h"
#include "ui/frame/translation_commands.h"
#include "ui/frame/url_opener.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kFeedbackText = QT_TRANSLATE_NOOP("kestrel::ui::FeedbackLink", "点击发送反馈");
constexpr std::string_view kDropPaneEdits =
    QT_TRANSLATE_NOOP("kestrel::ui::CKsFrame", "当前窗格的更改未能写入文件。\r\n\r\n放弃这些更改并关闭吗？");

QString toQt(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

struct CommandIcon {
    std::string_view command;
    AppIcon icon;
};

constexpr CommandIcon kCommandIcons[] = {
    {"new", AppIcon::kNew},         {"open", AppIcon::kOpen},       {"save", AppIcon::kSave},
    {"saveAs", AppIcon::kSaveAs},   {"import", AppIcon::kImport},   {"compile", AppIcon::kCompile},
    {"exit", AppIcon::kExit},       {"cut", AppIcon::kCut},         {"copy", AppIcon::kCopy},
    {"paste", AppIcon::kPaste},     {"undo", AppIcon::kUndo},       {"delete", AppIcon::kDeleteResource},
    {"add", AppIcon::kAddResource}, {"options", AppIcon::kOptions}, {"online", AppIcon::kOnline},
    {"about", AppIcon::kAbout},
};

// The width the top-level menus take from the left edge of the menu bar, whatever is shown.
int menusRightEdge(QMenuBar* bar) {
    QStyle* style = bar->style();
    int x = style->pixelMetric(QStyle::PM_MenuBarHMargin, nullptr, bar) +
            style->pixelMetric(QStyle::PM_MenuBarPanelWidth, nullptr, bar);
    const int spacing = style->pixelMetric(QStyle::PM_MenuBarItemSpacing, nullptr, bar);
    for (QAction* action : bar->actions()) {
        if (!action->isVisible()) continue;
        QStyleOptionMenuItem option;
        option.initFrom(bar);
        option.text = action->text();
        option.menuItemType = QStyleOptionMenuItem::Normal;
        QSize size = bar->fontMetrics().size(Qt::TextShowMnemonic, action->text());
        size = style->sizeFromContents(QStyle::CT_MenuBarItem, &option, size, bar);
        x += size.width() + spacing;
    }
    return x;
}

// The file of a drag that carries exactly one local file URL naming an existing file (not a folder);
// nothing for any other drag.
std::optional<std::filesystem::path> droppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls()) return std::nullopt;
    const QList<QUrl> urls = data->urls();
    if (urls.size() != 1 || !urls.front().isLocalFile()) return std::nullopt;
    std::filesystem::path path = pathFromUtf8(urls.front().toLocalFile().toUtf8().toStdString());
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) return std::nullopt;
    return path;
}

}  // namespace

QString qtFilterString(const std::vector<FileFilter>& filters) {
    QStringList parts;
    for (const FileFilter& filter : filters) {
        QString patterns = toQt(filter.patterns);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        if (patterns.trimmed() == QStringLiteral("*.*")) patterns = QStringLiteral("*");
        QString name = toQt(filter.name);
        // A name that carries its patterns already keeps them; Qt reads the last parenthesis.
        parts << QStringLiteral("%1 (%2)").arg(name, patterns.trimmed());
    }
    return parts.join(QStringLiteral(";;"));
}

std::optional<std::filesystem::path> QtDocumentPrompts::askSavePath(std::string_view title,
                                                                    const std::filesystem::path& proposed,
                                                                    const std::vector<FileFilter>& filters) {
    QString chosen = QFileDialog::getSaveFileName(parent_, toQt(title), toQt(pathToUtf8(proposed)),
                                                  qtFilterString(filters));
    if (chosen.isEmpty()) return std::nullopt;
    return pathFromUtf8(chosen.toUtf8().toStdString());
}

FeedbackLink::FeedbackLink(QWidget* parent) : QWidget(parent) {
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setToolTip(uiText("kestrel::ui::FeedbackLink", kFeedbackText));
}

QSize FeedbackLink::sizeHint() const {
    QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(uiText("kestrel::ui::FeedbackLink", kFeedbackText)) + 7 + 4,
            metrics.height() + 4};
}

void FeedbackLink::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QWidget::enterEvent(event);
}

void FeedbackLink::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QWidget::leaveEvent(event);
}

void FeedbackLink::mousePressEvent(QMouseEvent*) {
    BusyCursor busy;
    // A failed start of the mail program is ignored.
    openLink(kFeedbackMailLink);
}

void FeedbackLink::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) update();
    QWidget::changeEvent(event);
}

void FeedbackLink::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QPalette& colours = palette();
    QRect box = rect().adjusted(0, 1, -4, -1);
    if (hovered_) {
        QColor fill = colours.color(QPalette::Highlight);
        fill.setAlpha(60);
        painter.fillRect(box, colours.color(QPalette::Window));
        painter.fillRect(box, fill);
        painter.setPen(colours.color(QPalette::Highlight));
        painter.drawRect(box.adjusted(0, 0, -1, -1));
    }
    painter.setPen(colours.color(QPalette::WindowText));
    painter.drawText(box.adjusted(3, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft,
                     uiText("kestrel::ui::FeedbackLink", kFeedbackText));
}

CKsFrame::CKsFrame(FrameContext context, QWidget* parent)
    : QMainWindow(parent), context_(std::move(context)) {
    setAcceptDrops(true);
    ViewContext viewContext;
    viewContext.document = context_.document;
    viewContext.settings = context_.settings;
    viewContext.dataFolder = context_.dataFolder;
    viewContext.documents = context_.controller;
    view_ = new CKsView(viewContext, this);
    setCentralWidget(view_);

    createActions();
    createMenus();
    createToolBar();
    createStatusBar();
    applyIcons();

    link_ = new FeedbackLink(menuBar());
    menuBar()->setCornerWidget(link_, Qt::TopRightCorner);
    menuBar()->installEventFilter(this);

    connect(view_, &CKsView::statusMessage, this, [this](const QString& text) {
        statusBar()->showMessage(text);
        updateActions();
    });
    connect(view_, &CKsView::commandsChanged, this, &CKsFrame::updateActions);
    focusConnection_ = connect(qApp, &QApplication::focusChanged, this, [this] { updateActions(); });
    // Changes made where no command tells (an external editor, a pane's own write) are found by
    // looking at the working folder as often as the panes look at their files.
    folderWatch_.setInterval(kModifiedCheckIntervalMs);
    connect(&folderWatch_, &QTimer::timeout, this, [this] {
        if (context_.document != nullptr && !context_.document->IsModified() && context_.document->isOpen()) {
            context_.document->CheckModified();
            updateActions();
        }
    });
    folderWatch_.start();

    readLayout();
    move(initialRect_.left, initialRect_.top);
    resize(initialRect_.right - initialRect_.left, initialRect_.bottom - initialRect_.top);
    refreshTitle();
    updateActions();
}

// Focus moves while the child widgets are torn down; the frame must not hear of it by then.
CKsFrame::~CKsFrame() {
    disconnect(focusConnection_);
    disconnect(view_, nullptr, this, nullptr);
    menuBar()->removeEventFilter(this);
}

void CKsFrame::exportTranslations() {
    if (context_.document != nullptr) ui::exportTranslations(this, *context_.document);
}

void CKsFrame::importTranslations() {
    if (context_.document != nullptr && ui::importTranslations(this, *context_.document)) {
        refreshTitle();
        updateActions();
    }
}

QAction* CKsFrame::action(std::string_view name) const {
    for (const auto& [key, action] : actions_) {
        if (key == name) return action;
    }
    return nullptr;
}

void CKsFrame::showResourceSearch() {
    if (searchDock_ == nullptr) {
        searchDock_ = new ResourceSearchDock(view_, context_.document, this);
        addDockWidget(Qt::BottomDockWidgetArea, searchDock_);
        resizeDocks({searchDock_}, {height() * 2 / 5}, Qt::Vertical);
    }
    searchDock_->activate();
}

void CKsFrame::createActions() {
    auto make = [this](std::string_view name, const QString& text, const QList<QKeySequence>& keys,
                       const std::function<void()>& handler) {
        auto* action = new QAction(text, this);
        if (!keys.isEmpty()) action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        if (handler) connect(action, &QAction::triggered, this, [handler] { handler(); });
        addAction(action);
        actions_.emplace_back(std::string(name), action);
        return action;
    };
    DocumentController* controller = context_.controller;
    make("open", tr("打开(&O)..."), {QKeySequence(Qt::CTRL | Qt::Key_O)}, [this] { openFile(); });
    make("save", tr("保存(&S)"), {QKeySequence(Qt::CTRL | Qt::Key_S)}, [this, controller] {
        if (controller != nullptr) controller->save();
        refreshTitle();
    });
    make("saveAs", tr("另存为(&A)"), {}, [this, controller] {
        if (controller != nullptr) controller->saveAs();
        refreshTitle();
    });
    make("import", tr("导入(&I)..."), {}, [this] {
        view_->importFile();
        refreshTitle();
    });
    make("compile", tr("编译(&C)"), {}, [this] {
        view_->compile();
        offerSignatureRemoval();
        refreshSignature();
    });
    make("exportPo", tr("导出翻译(&R)..."), {}, [this] { exportTranslations(); });
    make("importPo", tr("导入翻译(&L)..."), {}, [this] { importTranslations(); });
    make("exit", tr("退出(&X)"), {}, [this] { close(); });
    make("new", tr("新建"), {QKeySequence(Qt::CTRL | Qt::Key_N)}, [this, controller] {
        if (controller != nullptr) controller->newDocument();
        refreshTitle();
    });
    make("cut", tr("剪切(&T)"),
         {QKeySequence(Qt::CTRL | Qt::Key_X), QKeySequence(Qt::SHIFT | Qt::Key_Delete)},
         [this] { view_->edit(EditCommand::kCut); });
    make("copy", tr("复制(&C)"),
         {QKeySequence(Qt::CTRL | Qt::Key_C), QKeySequence(Qt::CTRL | Qt::Key_Insert)},
         [this] { view_->edit(EditCommand::kCopy); });
    make("paste", tr("粘贴(&P)"),
         {QKeySequence(Qt::CTRL | Qt::Key_V), QKeySequence(Qt::SHIFT | Qt::Key_Insert)},
         [this] { view_->edit(EditCommand::kPaste); });
    // Outside the pane (the tree has the focus) undo and redo are the project's; in the pane, its own.
    make("undo", tr("撤消(&U)"),
         {QKeySequence(Qt::CTRL | Qt::Key_Z), QKeySequence(Qt::ALT | Qt::Key_Backspace)}, [this] {
             if (projectUndoApplies()) {
                 view_->undoProject();
                 updateActions();
             } else {
                 view_->edit(EditCommand::kUndo);
             }
         });
    make("redo", tr("重做(&R)"), {QKeySequence(Qt::CTRL | Qt::Key_Y)}, [this] {
        if (!projectUndoApplies()) return;
        view_->redoProject();
        updateActions();
    });
    make("findInResources", tr("在资源中查找(&F)…"), {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F)},
         [this] { showResourceSearch(); })
        ->setStatusTip(tr("在项目的全部资源中查找文本或字节。"));
    make("delete", tr("删除资源(&D)"), {QKeySequence(Qt::CTRL | Qt::Key_D)}, [this] {
        view_->deleteResource();
        updateActions();
    })->setStatusTip(tr("从资源组删除指定的资源。"));
    make("add", tr("添加资源(&A)..."), {QKeySequence(Qt::CTRL | Qt::Key_G)}, [this] {
        view_->addResource();
        updateActions();
    })->setStatusTip(tr("添加一个新的资源到组内。"));
    make("addLanguage", tr("添加语言(&L)..."), {}, [this] {
        view_->addLanguage();
        updateActions();
    })->setStatusTip(tr("把一种语言的全部资源复制为新的语言。"));
    make("export", tr("导出(&E)..."), {}, [this] {
        view_->exportResource();
        updateActions();
    });
    make("exportAll", tr("全部导出(&L)..."), {}, [this] {
        view_->exportAll();
        updateActions();
    });
    make("options", tr("选项(&O)..."), {}, [this] { view_->openOptions(0); });
    make("online", tr("Kestrel 在线(&T)"), {}, [this] { view_->openWebSite(); });
    make("about", tr("关于 Kestrel(&A)..."), {}, [this] { showAbout(); });
    make("insert", tr("插入/改写"), {QKeySequence(Qt::Key_Insert)}, [this] { toggleInsert(); });
}

void CKsFrame::createMenus() {
    QMenuBar* bar = menuBar();
    fileMenu_ = bar->addMenu(tr("文件(&F)"));
    fileMenu_->addAction(action("open"));
    fileMenu_->addAction(action("save"));
    fileMenu_->addAction(action("saveAs"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("import"));
    fileMenu_->addAction(action("compile"));
    fileMenu_->addAction(action("exportPo"));
    fileMenu_->addAction(action("importPo"));
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("export"));
    fileMenu_->addAction(action("exportAll"));
    fileMenu_->addSeparator();
    recentAnchor_ = fileMenu_->addAction(tr("最近的文件"));
    recentAnchor_->setEnabled(false);
    fileMenu_->addSeparator();
    fileMenu_->addAction(action("exit"));
    connect(fileMenu_, &QMenu::aboutToShow, this, [this] {
        rebuildRecentFiles();
        updateActions();
    });

    QMenu* edit = bar->addMenu(tr("编辑(&E)"));
    edit->addAction(action("cut"));
    edit->addAction(action("copy"));
    edit->addAction(action("paste"));
    edit->addSeparator();
    edit->addAction(action("undo"));
    edit->addAction(action("redo"));
    edit->addSeparator();
    edit->addAction(action("delete"));
    edit->addAction(action("add"));
    edit->addSeparator();
    edit->addAction(action("findInResources"));
    connect(edit, &QMenu::aboutToShow, this, &CKsFrame::updateActions);

    QMenu* tools = bar->addMenu(tr("工具(&T)"));
    tools->addAction(action("addLanguage"));
    tools->addSeparator();
    tools->addAction(action("options"));
    connect(tools, &QMenu::aboutToShow, this, &CKsFrame::updateActions);

    QMenu* help = bar->addMenu(tr("帮助(&H)"));
    help->addAction(action("online"));
    help->addSeparator();
    help->addAction(action("about"));
}

void CKsFrame::createToolBar() {
    toolBar_ = addToolBar(tr("工具栏"));
    toolBar_->setObjectName(QStringLiteral("toolbar"));
    toolBar_->setIconSize(QSize(24, 24));
    toolBar_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolBar_->setMovable(true);
    auto add = [this](std::string_view name, const QString& caption) {
        // The toolbar shows short captions; the menus keep their own texts.
        auto* button = new QAction(action(name)->icon(), caption, toolBar_);
        QAction* target = action(name);
        connect(button, &QAction::triggered, target, &QAction::trigger);
        connect(target, &QAction::changed, button, [button, target] {
            button->setEnabled(target->isEnabled());
            if (button->icon().cacheKey() != target->icon().cacheKey()) button->setIcon(target->icon());
        });
        button->setEnabled(target->isEnabled());
        toolBar_->addAction(button);
    };
    add("open", tr("打开..."));
    add("save", tr("保存"));
    toolBar_->addSeparator();
    add("cut", tr("剪切"));
    add("copy", tr("复制"));
    add("paste", tr("粘贴"));
    toolBar_->addSeparator();
    add("undo", tr("撤消"));
    toolBar_->addSeparator();
    add("delete", tr("删除资源"));
    add("add", tr("添加资源"));
}

// Our own icons are drawn for the palette's tone: a new palette may need the other drawings.
void CKsFrame::applyIcons() {
    setWindowIcon(appIcon(AppIcon::kApplication, palette()));
    for (const CommandIcon& entry : kCommandIcons) {
        if (QAction* command = action(entry.command)) command->setIcon(appIcon(entry.icon, palette()));
    }
}

void CKsFrame::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) applyIcons();
}

void CKsFrame::createStatusBar() {
    signature_ = new QLabel(this);
    signature_->setObjectName(QStringLiteral("signature"));
    statusBar()->addPermanentWidget(signature_);
    // Qt offers no portable lock-key state: CAP and NUM keep their place but stay blank.
    cap_ = new QLabel(this);
    num_ = new QLabel(this);
    ovr_ = new QLabel(this);
    for (QLabel* label : {cap_, num_, ovr_}) {
        label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("OVR")) + 8);
        label->setAlignment(Qt::AlignCenter);
        label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        statusBar()->addPermanentWidget(label);
    }
    ovr_->setObjectName(QStringLiteral("ovr"));
    statusBar()->showMessage(QString());
}

void CKsFrame::rebuildRecentFiles() {
    for (QAction* old : recentActions_) {
        fileMenu_->removeAction(old);
        old->deleteLater();
    }
    recentActions_.clear();
    const std::vector<std::string> entries =
        context_.recent != nullptr ? context_.recent->entries() : std::vector<std::string>{};
    recentAnchor_->setVisible(entries.empty());
    int number = 1;
    for (const std::string& entry : entries) {
        auto* item = new QAction(QStringLiteral("&%1 %2").arg(number++).arg(toQt(entry)), fileMenu_);
        const std::filesystem::path path = pathFromUtf8(entry);
        connect(item, &QAction::triggered, this, [this, path, entry] {
            if (context_.controller == nullptr) return;
            const bool opened = context_.controller->openDocument(path);
            // The message has said the file is gone; the list forgets it.
            std::error_code error;
            if (!opened && context_.recent != nullptr && !std::filesystem::exists(path, error) && !error) {
                const std::vector<std::string>& now = context_.recent->entries();
                const auto found = std::find(now.begin(), now.end(), entry);
                if (found != now.end())
                    context_.recent->remove(static_cast<std::size_t>(found - now.begin()));
            }
            refreshTitle();
        });
        fileMenu_->insertAction(recentAnchor_, item);
        recentActions_.push_back(item);
    }
}

void CKsFrame::openFile() {
    std::optional<std::filesystem::path> chosen;
    if (openChooser_) {
        chosen = openChooser_();
    } else {
        QString name = QFileDialog::getOpenFileName(
            this, tr("打开 Kestrel 文件"), QString(),
            QStringLiteral("Resource Files (*.exe *.dll *.msstyles);;All Files (*)"));
        if (!name.isEmpty()) chosen = pathFromUtf8(name.toUtf8().toStdString());
    }
    if (chosen) openPath(*chosen);
}

void CKsFrame::openPath(const std::filesystem::path& path) {
    if (context_.controller == nullptr) return;
    context_.controller->openDocument(path);
    refreshTitle();
}

void CKsFrame::dragEnterEvent(QDragEnterEvent* event) {
    dragMoveEvent(event);
}

void CKsFrame::dragMoveEvent(QDragMoveEvent* event) {
    if (!droppedFile(event->mimeData())) {
        event->ignore();
        return;
    }
    // The file is opened, never moved away from where it lies.
    if (event->possibleActions() & Qt::CopyAction) event->setDropAction(Qt::CopyAction);
    event->accept();
}

void CKsFrame::dropEvent(QDropEvent* event) {
    std::optional<std::filesystem::path> path = droppedFile(event->mimeData());
    if (!path) {
        event->ignore();
        return;
    }
    if (event->possibleActions() & Qt::CopyAction) event->setDropAction(Qt::CopyAction);
    event->accept();
    // The drop is answered first and the file opened afterwards: the program the file came from
    // waits for the answer, and an import can take a while.
    QMetaObject::invokeMethod(
        this, [this, file = *path] { openPath(file); }, Qt::QueuedConnection);
}

void CKsFrame::toggleInsert() {
    if (context_.settings == nullptr) return;
    int insert = 0;
    (void)context_.settings->GetIntSetting("Flag", "Insert", insert, 0);
    (void)context_.settings->SetIntSetting("Flag", "Insert", insert == 0 ? 1 : 0);
    updateActions();
}

void CKsFrame::showAbout() {
    AboutDlg about(context_.versionText, this);
    about.exec();
}

void CKsFrame::updateActions() {
    const bool canSave = context_.document != nullptr && context_.document->canSave();
    action("save")->setEnabled(canSave);
    action("saveAs")->setEnabled(canSave);
    action("compile")->setEnabled(canSave);
    action("cut")->setEnabled(view_->canEdit(EditCommand::kCut));
    action("copy")->setEnabled(view_->canEdit(EditCommand::kCopy));
    action("paste")->setEnabled(view_->canEdit(EditCommand::kPaste));
    const bool project = projectUndoApplies();
    action("undo")->setEnabled(project ? view_->canUndoProject() : view_->canEdit(EditCommand::kUndo));
    action("redo")->setEnabled(project && view_->canRedoProject());
    action("delete")->setEnabled(view_->canDeleteResource());
    action("add")->setEnabled(view_->canAddResource());
    action("addLanguage")->setEnabled(view_->canAddResource());
    action("export")->setEnabled(view_->canExportResource());
    action("exportAll")->setEnabled(view_->canExportAll());
    int insert = 0;
    if (context_.settings != nullptr) (void)context_.settings->GetIntSetting("Flag", "Insert", insert, 0);
    ovr_->setText(insert == 0 ? QStringLiteral("OVR") : QString());
    setWindowModified(isDocumentModified());
}

bool CKsFrame::projectUndoApplies() const {
    QWidget* focus = QApplication::focusWidget();
    return focus == nullptr || !view_->paneHost()->isAncestorOf(focus);
}

bool CKsFrame::isDocumentModified() const {
    return context_.document != nullptr && context_.document->isOpen() &&
           (context_.document->IsModified() || view_->paneHost()->hasPendingEdits());
}

namespace {

enum class SignatureState { kUnknown, kUnsigned, kSigned, kBroken };

SignatureState signatureStateOf(const std::filesystem::path& file) {
    // A file whose certificate directory is empty is unsigned: told from its first bytes alone when
    // everything the layout reads lies among them.
    {
        constexpr std::uint64_t kHeadBytes = 64 * 1024;
        constexpr std::uint64_t kLayoutReach = 1024;  // past the directory entry, more than is read
        PartialFileImage head;
        SignatureLayout layout;
        if (head.open(file).succeeded()) {
            const std::uint64_t loaded = std::min<std::uint64_t>(head.bytes().size(), kHeadBytes);
            if (head.load(0, loaded).succeeded() && readSignatureLayout(head.bytes(), layout).succeeded() &&
                layout.directoryOffset + kLayoutReach <= loaded && !layout.hasTable())
                return SignatureState::kUnsigned;
        }
    }
    // Read on every open and compile: into a buffer that is not zero-filled first.
    HeldBytes image;
    if (ReadWholeFileHeld(file, image).failed()) {
        ClearErrorRecord();
        return SignatureState::kUnknown;
    }
    SignatureReport report;
    std::string error;
    if (inspectSignature(image.bytes, nullptr, report, error).failed()) return SignatureState::kUnknown;
    if (!report.isSigned) return SignatureState::kUnsigned;
    return report.digestMatches && report.signatureValid ? SignatureState::kSigned : SignatureState::kBroken;
}

}  // namespace

void CKsFrame::refreshSignature() {
    const CKsDoc* document = context_.document;
    const SignatureState state = document != nullptr && document->isOpen()
                                     ? signatureStateOf(document->resourceFilePath())
                                     : SignatureState::kUnknown;
    switch (state) {
        case SignatureState::kSigned:
            signature_->setText(tr("已签名"));
            break;
        case SignatureState::kBroken:
            signature_->setText(tr("签名不再匹配"));
            break;
        case SignatureState::kUnsigned:
            signature_->setText(tr("未签名"));
            break;
        case SignatureState::kUnknown:
            signature_->clear();
            break;
    }
}

void CKsFrame::offerSignatureRemoval() {
    const CKsDoc* document = context_.document;
    if (document == nullptr || !document->isOpen()) return;
    const std::filesystem::path compiled =
        document->descriptionPath().parent_path() / document->resourceFilePath().filename();
    if (signatureStateOf(compiled) != SignatureState::kBroken) return;
    if (uiSink().ask(
            tr("编译后的文件保留了原文件的签名，但签名已不再匹配。\n\n要删除这个签名吗？").toStdString(),
            kAppName, Buttons::kYesNo, 0, MessageIcon::kExclamation) != Answer::kYes)
        return;
    // The compiled file, and the original when the compile was copied over it.
    const bool copiedOver = FilesHaveSameContent(compiled, document->resourceFilePath());
    for (const std::filesystem::path& target : {compiled, document->resourceFilePath()}) {
        if (target != compiled && !copiedOver) continue;
        std::vector<std::byte> image;
        bool zeroedInPlace = false;
        if (ReadWholeFile(target, image).failed() || stripCertificateTable(image, zeroedInPlace).failed() ||
            WriteFileAtomic(target, asBytes(image)).failed()) {
            ShowErrorDialog();
            return;
        }
    }
}

void CKsFrame::refreshTitle() {
    if (context_.document == nullptr) return;
    // "[*]" is where the platform puts its modified mark; a file name's own "[*]" is doubled so
    // that it shows as written.
    QString name = toQt(context_.document->GetTitle());
    name.replace(QStringLiteral("[*]"), QStringLiteral("[*][*]"));
    setWindowTitle(name + QStringLiteral("[*] - ") + toQt(kAppName));
    setWindowModified(isDocumentModified());
    refreshSignature();
}

SettingsRect CKsFrame::defaultRect() const {
    QScreen* desktop = screen() != nullptr ? screen() : QGuiApplication::primaryScreen();
    const QRect whole = desktop != nullptr ? desktop->geometry() : QRect(0, 0, 1024, 768);
    const QRect available = desktop != nullptr ? desktop->availableGeometry() : whole;
    // The creation position: a little inside the available area, as window managers place new
    // windows.
    const int x = available.left() + available.width() / 16;
    const int y = available.top() + available.height() / 16;
    return {x, y, x + whole.width() / 2, y + whole.height() / 2};
}

void CKsFrame::readLayout() {
    const SettingsRect fallback = defaultRect();
    initialRect_ = fallback;
    int maximised = 0;
    if (context_.settings != nullptr) {
        (void)context_.settings->GetRectSetting("Layout", "MainRect", initialRect_, fallback);
        (void)context_.settings->GetIntSetting("Layout", "Max", maximised, 0);
    }
    if (initialRect_.right - initialRect_.left < kMinWidth ||
        initialRect_.bottom - initialRect_.top < kMinHeight) {
        initialRect_ = fallback;
    }
    opensMaximized_ = maximised != 0;
}

void CKsFrame::saveLayout() {
    if (context_.settings == nullptr) return;
    const QRect frame = frameGeometry();
    (void)context_.settings->SetIntSetting("Layout", "Max", isMaximized() ? 1 : 0);
    (void)context_.settings->SetRectSetting(
        "Layout", "MainRect",
        {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()});
    (void)context_.settings->sync();
    layoutSaved_ = true;
}

void CKsFrame::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (!firstShow_) return;
    firstShow_ = false;
    // The stored rectangle includes the window frame; the client size is what resize() takes.
    const QSize decoration = frameGeometry().size() - geometry().size();
    if (!decoration.isEmpty()) {
        resize(initialRect_.right - initialRect_.left - decoration.width(),
               initialRect_.bottom - initialRect_.top - decoration.height());
    }
    if (opensMaximized_) setWindowState(windowState() | Qt::WindowMaximized);
    placeFeedbackLink();
}

void CKsFrame::closeEvent(QCloseEvent* event) {
    // The pane's edits go to their files first, so that the question below covers them.
    if (!view_->StorePaneEdits()) {
        // The error has been shown; closing now would lose the pane's edits unless the user says so.
        if (uiSink().ask(uiTextUtf8("kestrel::ui::CKsFrame", kDropPaneEdits), kAppName, Buttons::kYesNo, 1,
                         MessageIcon::kExclamation) != Answer::kYes) {
            event->ignore();
            return;
        }
        view_->DiscardPane();
    }
    if (context_.controller != nullptr && !context_.controller->SaveModified()) {
        event->ignore();
        refreshTitle();
        updateActions();
        return;
    }
    saveLayout();
    event->accept();
}

void CKsFrame::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    placeFeedbackLink();
}

bool CKsFrame::eventFilter(QObject* watched, QEvent* event) {
    if (watched == menuBar() && event->type() == QEvent::Resize) placeFeedbackLink();
    return QMainWindow::eventFilter(watched, event);
}

// The link is shown only while the menus end left of it; otherwise it is hidden and does not react.
void CKsFrame::placeFeedbackLink() {
    if (link_ == nullptr) return;
    const int linkLeft = menuBar()->width() - link_->sizeHint().width() - 4;
    const bool fits = menusRightEdge(menuBar()) < linkLeft;
    if (fits != link_->isVisibleTo(menuBar())) link_->setVisible(fits);
}

AboutDlg::AboutDlg(const std::string& versionText, QWidget* parent) : QDialog(parent) {
    setWindowTitle(tr("关于 Kestrel"));
    auto* icon = new QLabel(this);
    icon->setPixmap(appIcon(AppIcon::kApplication, palette()).pixmap(32, 32));
    auto* text = new QLabel(
        tr("<b>Kestrel</b><br>%1<br><br>PE 文件资源编辑器").arg(toQt(versionText).toHtmlEscaped()), this);
    text->setObjectName(QStringLiteral("version"));
    text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* row = new QHBoxLayout;
    row->addWidget(icon, 0, Qt::AlignTop);
    row->addWidget(text, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(row);
    layout->addWidget(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace kestrel::ui
