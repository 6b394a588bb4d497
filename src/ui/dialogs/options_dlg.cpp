#include "ui/dialogs/options_dlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStandardPaths>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <system_error>

#include "app/ks_doc.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kPageSource = "ExeCmdWnd";

constexpr int kMargin = 7;
constexpr int kBandHeight = 28;
constexpr int kListHeight = 104;
constexpr int kGap = 4;
constexpr int kButtonGap = 3;

QString qtText(const std::string& text) {
    return QString::fromStdString(text);
}

// The hints end their lines the Windows way; a label wants plain line feeds.
QString hintText(EditorHint hint) {
    const QString text =
        hint == EditorHint::kImage
            ? ExeCmdWidget::tr("为你的图象添加一个供编辑的程序。\r\n列表中的第一个将会是默认的程序。")
            : ExeCmdWidget::tr("为你的文本添加一个供编辑的程序。\r\n列表中的第一个将会是默认的程序。");
    return QString(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

// A row of the list: its text is the entry's name, and it carries the entry.
class EntryItem : public QListWidgetItem {
  public:
    explicit EntryItem(EditorCommand entry) : QListWidgetItem(nullptr, UserType), entry_(std::move(entry)) {
        showName();
    }
    EditorCommand& entry() { return entry_; }
    const EditorCommand& entry() const { return entry_; }
    void setName(const QString& name) {
        entry_.name = name.toStdString();
        showName();
    }

  private:
    // The tip shows a name that the list is too narrow for.
    void showName() {
        setText(qtText(entry_.name));
        setToolTip(text());
    }

    EditorCommand entry_;
};

EntryItem* entryItem(QListWidgetItem* item) {
    return item != nullptr && item->type() == QListWidgetItem::UserType ? static_cast<EntryItem*>(item)
                                                                        : nullptr;
}

// A program is a file that exists; a bare name (no slash) is looked up on PATH, as the launch does.
bool programExists(const std::string& command) {
    if (command.empty()) return false;
    if (command.find('/') == std::string::npos)
        return !QStandardPaths::findExecutable(qtText(command)).isEmpty();
    std::error_code error;
    return std::filesystem::is_regular_file(pathFromUtf8(command), error);
}

// The first problem of one entry on its own: no name, or no program.
HResult entryProblem(const EditorCommand& entry) {
    if (entry.name.empty()) return msg::kEntryNeedsName;
    if (!programExists(entry.command)) return msg::kEntryNeedsProgram;
    return kOk;
}

}  // namespace

// ----- List ---------------------------------------------------------------------------------------

EditorListView::EditorListView(QWidget* parent) : QListWidget(parent) {
    setSelectionMode(SingleSelection);
    setSelectionBehavior(SelectRows);
    setTextElideMode(Qt::ElideRight);
    setFrameShadow(QFrame::Sunken);
    // The selected row keeps the selection colours when the list has no focus.
    QPalette colours = palette();
    for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
        colours.setColor(QPalette::Inactive, role, colours.color(QPalette::Active, role));
    setPalette(colours);
}

QItemSelectionModel::SelectionFlags EditorListView::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const {
    const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
    constexpr QItemSelectionModel::SelectionFlags kLosing =
        QItemSelectionModel::Clear | QItemSelectionModel::Deselect | QItemSelectionModel::Toggle;
    if (!(flags & kLosing)) return flags;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (selected.isEmpty()) return flags;
    // Clicking the selected row again keeps it selected.
    const bool staysSelected = selected.first() == index && !(flags & QItemSelectionModel::Deselect) &&
                               !(flags & QItemSelectionModel::Toggle);
    if (staysSelected) return flags;
    // One press may ask several times (press, then drag): the error was shown at the first.
    if (refused_) return QItemSelectionModel::NoUpdate;
    if (!commit_ || commit_()) return flags;
    refused_ = true;
    return QItemSelectionModel::NoUpdate;
}

void EditorListView::keepCurrentOnSelection() {
    if (!refused_) return;
    const QModelIndexList selected = selectionModel()->selectedIndexes();
    if (!selected.isEmpty())
        selectionModel()->setCurrentIndex(selected.first(), QItemSelectionModel::NoUpdate);
}

void EditorListView::mousePressEvent(QMouseEvent* event) {
    refused_ = false;
    QListWidget::mousePressEvent(event);
    keepCurrentOnSelection();
}

void EditorListView::mouseMoveEvent(QMouseEvent* event) {
    QListWidget::mouseMoveEvent(event);
    keepCurrentOnSelection();
}

void EditorListView::mouseReleaseEvent(QMouseEvent* event) {
    QListWidget::mouseReleaseEvent(event);
    keepCurrentOnSelection();
}

void EditorListView::keyPressEvent(QKeyEvent* event) {
    refused_ = false;
    QListWidget::keyPressEvent(event);
    keepCurrentOnSelection();
}

// ----- Page ---------------------------------------------------------------------------------------

ExeCmdWidget::ExeCmdWidget(EditorHint hint, QWidget* parent) : QWidget(parent) {
    hint_ = new QLabel(hintText(hint), this);
    hint_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    list_ = new EditorListView(this);
    nameLabel_ = new QLabel(tr("名称:"), this);
    programLabel_ = new QLabel(tr("程序:"), this);
    name_ = new QLineEdit(this);
    program_ = new QLineEdit(this);
    nameLabel_->setBuddy(name_);
    programLabel_->setBuddy(program_);
    browse_ = new QPushButton(QStringLiteral("..."), this);
    new_ = new QPushButton(tr("新建"), this);
    delete_ = new QPushButton(tr("删除"), this);
    up_ = new QPushButton(tr("上移(&U)"), this);
    down_ = new QPushButton(tr("下移(&D)"), this);
    for (QPushButton* button : {browse_, new_, delete_, up_, down_})
        button->setAutoDefault(false);

    list_->setCommitHandler([this] { return commitSelected().succeeded(); });
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] { loadRow(selectedRow()); });
    connect(name_, &QLineEdit::textChanged, this, &ExeCmdWidget::nameChanged);
    connect(new_, &QPushButton::clicked, this, &ExeCmdWidget::addEntry);
    connect(delete_, &QPushButton::clicked, this, &ExeCmdWidget::deleteEntry);
    connect(up_, &QPushButton::clicked, this, &ExeCmdWidget::moveUp);
    connect(down_, &QPushButton::clicked, this, &ExeCmdWidget::moveDown);
    connect(browse_, &QPushButton::clicked, this, &ExeCmdWidget::browse);

    const int editHeight = name_->sizeHint().height();
    const int hintHeight = 2 * hint_->fontMetrics().lineSpacing();
    setMinimumSize(360,
                   kMargin + hintHeight + kGap + kListHeight + kMargin + 2 * editHeight + kGap + kMargin);
}

void ExeCmdWidget::setEntries(const EditorList& entries) {
    {
        const QSignalBlocker blocker(list_);
        list_->clear();
        for (const EditorCommand& entry : entries)
            list_->addItem(new EntryItem(entry));
        if (!entries.empty()) list_->setCurrentRow(0);
    }
    loadRow(selectedRow());
}

EditorList ExeCmdWidget::entries() const {
    EditorList result;
    result.reserve(static_cast<std::size_t>(list_->count()));
    for (int row = 0; row < list_->count(); ++row) {
        if (const EntryItem* item = entryItem(list_->item(row))) result.push_back(item->entry());
    }
    return result;
}

HResult ExeCmdWidget::insertEntry(int position, const EditorCommand& entry) {
    if (position < 0 || position > list_->count()) return kInvalidArg;
    const QSignalBlocker blocker(list_);
    const int before = list_->count();
    list_->insertItem(position, new EntryItem(entry));
    return list_->count() == before + 1 ? kOk : kFail;
}

int ExeCmdWidget::selectedRow() const {
    const QList<QListWidgetItem*> selected = list_->selectedItems();
    return selected.isEmpty() ? -1 : list_->row(selected.first());
}

HResult ExeCmdWidget::commitSelected() {
    EntryItem* item = entryItem(list_->item(selectedRow()));
    if (item == nullptr) return kOk;
    item->setName(name_->text());
    item->entry().command = program_->text().toStdString();
    const HResult problem = entryProblem(item->entry());
    if (problem.failed()) return showProblem(problem, item->entry().name);
    return kOk;
}

HResult ExeCmdWidget::validateAll() {
    if (HResult hr = commitSelected(); hr.failed()) return hr;
    const EditorList all = entries();
    for (std::size_t row = 0; row < all.size(); ++row) {
        HResult problem = entryProblem(all[row]);
        const auto earlier = all.begin() + static_cast<std::ptrdiff_t>(row);
        if (problem.succeeded() && std::any_of(all.begin(), earlier, [&](const EditorCommand& other) {
                return other.name == all[row].name;
            })) {
            problem = msg::kEntryNamesMustDiffer;
        }
        if (problem.failed()) {
            selectRow(static_cast<int>(row));
            list_->setFocus();
            return showProblem(problem, all[row].name);
        }
    }
    return kOk;
}

HResult ExeCmdWidget::showProblem(HResult code, const std::string& name) {
    RecordError(true, kPageSource, __LINE__, code, {name});
    emit problemFound();
    ShowErrorDialog();
    return code;
}

void ExeCmdWidget::loadRow(int row) {
    const QSignalBlocker blocker(name_);
    const EntryItem* item = entryItem(list_->item(row));
    if (item == nullptr) {
        name_->clear();
        program_->clear();
        return;
    }
    // setText leaves the caret at the end, which scrolls the end of a long name into view.
    name_->setText(qtText(item->entry().name));
    program_->setText(qtText(item->entry().command));
}

void ExeCmdWidget::selectRow(int row) {
    {
        const QSignalBlocker blocker(list_);
        list_->setCurrentRow(row);
    }
    loadRow(row);
    if (QListWidgetItem* item = list_->item(row)) list_->scrollToItem(item);
}

void ExeCmdWidget::nameChanged(const QString& text) {
    if (EntryItem* item = entryItem(list_->item(selectedRow()))) {
        item->setName(text);
        return;
    }
    if (text.isEmpty()) return;
    // Typing a name with no row selected starts a new first entry. The fields stay as they are:
    // the caret keeps its place and a program typed before the name is kept for the commit.
    EditorCommand entry;
    entry.name = text.toStdString();
    if (insertEntry(0, entry).failed()) return;
    const QSignalBlocker blocker(list_);
    list_->setCurrentRow(0);
    list_->scrollToItem(list_->item(0));
}

void ExeCmdWidget::addEntry() {
    if (commitSelected().failed()) return;
    EditorCommand entry;
    entry.name = tr("新项目").toStdString();
    if (insertEntry(list_->count(), entry).failed()) return;
    selectRow(list_->count() - 1);
    name_->selectAll();
    name_->setFocus();
}

void ExeCmdWidget::deleteEntry() {
    const int row = selectedRow();
    if (row < 0) return;
    {
        const QSignalBlocker blocker(list_);
        std::unique_ptr<QListWidgetItem> removed(list_->takeItem(row));
    }
    if (list_->count() == 0) {
        loadRow(-1);
        return;
    }
    selectRow(std::min(row, list_->count() - 1));
}

void ExeCmdWidget::moveUp() {
    moveSelected(-1);
}

void ExeCmdWidget::moveDown() {
    moveSelected(1);
}

void ExeCmdWidget::moveSelected(int step) {
    if (commitSelected().failed()) return;
    const int row = selectedRow();
    const int target = row + step;
    if (row < 0 || target < 0 || target >= list_->count()) return;
    {
        const QSignalBlocker blocker(list_);
        QListWidgetItem* item = list_->takeItem(row);
        list_->insertItem(target, item);
    }
    selectRow(target);
}

void ExeCmdWidget::browse() {
    const QString start = program_->text();
    const QString chosen = chooser_
                               ? chooser_(start)
                               : QFileDialog::getOpenFileName(this, tr("浏览"), start, tr("所有文件 (*)"));
    if (chosen.isEmpty()) return;
    program_->setText(chosen);
    // The file dialog offers every file; one that cannot be run would only fail at the launch.
    if (!QFileInfo(chosen).isExecutable()) {
        uiSink().message(safeFormat(tr("文件 '%s' 不是可执行文件，无法作为编辑器启动。").toStdString(),
                                    {chosen.toStdString()}),
                         kAppName, MessageIcon::kExclamation);
    }
}

void ExeCmdWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QColor face = palette().color(QPalette::Button);
    QLinearGradient band(0, 0, 0, kBandHeight);
    band.setColorAt(0, Qt::white);
    band.setColorAt(1, face);
    painter.fillRect(QRect(0, 0, width(), kBandHeight), band);
    painter.fillRect(QRect(0, kBandHeight, width(), height() - kBandHeight), face);
}

void ExeCmdWidget::resizeEvent(QResizeEvent*) {
    layoutChildren();
}

void ExeCmdWidget::layoutChildren() {
    const int editHeight = name_->sizeHint().height();
    const int labelWidth = std::max(nameLabel_->sizeHint().width(), programLabel_->sizeHint().width());
    const int fieldX = kMargin + labelWidth + kGap;
    const int right = width() - kMargin;

    // The field rows at the bottom; the browse button is a square at the end of the program row.
    const int programY = height() - kMargin - editHeight;
    const int nameY = programY - kGap - editHeight;
    nameLabel_->setGeometry(kMargin, nameY, labelWidth, editHeight);
    programLabel_->setGeometry(kMargin, programY, labelWidth, editHeight);
    name_->setGeometry(fieldX, nameY, right - fieldX, editHeight);
    browse_->setGeometry(right - editHeight, programY, editHeight, editHeight);
    program_->setGeometry(fieldX, programY, right - editHeight - kGap - fieldX, editHeight);

    // The list above the fields, the buttons in a column to its right, all four within its height.
    const std::array<QPushButton*, 4> buttons = {new_, delete_, up_, down_};
    int buttonWidth = 0;
    for (const QPushButton* button : buttons)
        buttonWidth =
            std::max(buttonWidth, button->fontMetrics().horizontalAdvance(button->text().remove('&')));
    buttonWidth += 16;
    const int listY = nameY - kMargin - kListHeight;
    const int buttonX = right - buttonWidth;
    list_->setGeometry(kMargin, listY, buttonX - kMargin - kMargin, kListHeight);
    const int buttonHeight = std::min(new_->sizeHint().height(), (kListHeight - 3 * kButtonGap) / 4);
    for (std::size_t i = 0; i < buttons.size(); ++i) {
        const int y = listY + static_cast<int>(i) * (buttonHeight + kButtonGap);
        buttons[i]->setGeometry(buttonX, y, buttonWidth, buttonHeight);
    }

    hint_->setGeometry(kMargin, kMargin, right - kMargin, std::max(0, listY - kGap - kMargin));
}

// ----- Dialog -------------------------------------------------------------------------------------

COptionsDlg::COptionsDlg(const EditorListSet& lists, int page, QWidget* parent)
    : QDialog(parent), lists_(lists) {
    setWindowTitle(tr("选项"));
    tabs_ = new QTabWidget(this);
    struct PageInfo {
        QString title;
        EditorHint hint;
    };
    const std::array<PageInfo, kOptionsPageCount> infos = {{
        {tr("图象编辑器"), EditorHint::kImage},
        {tr("文本编辑器"), EditorHint::kText},
        {tr("Hex 编辑器"), EditorHint::kText},
    }};
    for (int index = 0; index < kOptionsPageCount; ++index) {
        const PageInfo& info = infos[static_cast<std::size_t>(index)];
        auto* widget = new ExeCmdWidget(info.hint, tabs_);
        tabs_->addTab(widget, info.title);
        if (const EditorList* source = target(index)) widget->setEntries(*source);
        connect(widget, &ExeCmdWidget::problemFound, this,
                [this, widget] { tabs_->setCurrentWidget(widget); });
        pages_[static_cast<std::size_t>(index)] = widget;
    }
    tabs_->setCurrentIndex(page >= 0 && page < kOptionsPageCount ? page : 0);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole);
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &COptionsDlg::reject);

    // Whether a save over the PE file keeps the previous file beside it.
    backup_ = new QCheckBox(tr("保存覆盖原文件时保留一个备份 (<文件名>.bak)"), this);
    backup_->setObjectName(QStringLiteral("keepBackup"));
    int keep = 1;
    if (lists_.settings != nullptr) (void)lists_.settings->GetIntSetting(kBackupSection, kBackupKey, keep, 1);
    backup_->setChecked(keep != 0);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    layout->addWidget(backup_);
    layout->addWidget(buttons);
    // The pages lay themselves out from the bottom up: any extra height would only open a gap
    // under the hint.
    resize(std::max(480, sizeHint().width()), sizeHint().height());
}

int COptionsDlg::currentPage() const {
    return tabs_->currentIndex();
}

EditorList* COptionsDlg::target(int index) const {
    switch (index) {
        case 0:
            return lists_.image;
        case 1:
            return lists_.text;
        default:
            return lists_.hex;
    }
}

void COptionsDlg::accept() {
    for (int index = 0; index < kOptionsPageCount; ++index) {
        if (page(index)->validateAll().failed()) {
            tabs_->setCurrentIndex(index);
            return;
        }
    }
    static constexpr std::array<std::string_view, kOptionsPageCount> kSections = {
        kImageEditorsSection, kTextEditorsSection, kHexEditorsSection};
    for (int index = 0; index < kOptionsPageCount; ++index) {
        EditorList* list = target(index);
        EditorList edited = page(index)->entries();
        if (list == nullptr || *list == edited) continue;
        // The list is changed in place: the panes hold pointers to it.
        *list = std::move(edited);
        if (lists_.settings == nullptr) continue;
        // The save has recorded its failure; the new list stays in use and is written again at exit.
        if (SaveEditorList(*lists_.settings, kSections[static_cast<std::size_t>(index)], *list).failed())
            ShowErrorDialog();
    }
    if (lists_.settings != nullptr)
        (void)lists_.settings->SetIntSetting(kBackupSection, kBackupKey, backup_->isChecked() ? 1 : 0);
    QDialog::accept();
}

bool RunOptionsDialog(const EditorListSet& lists, int page, QWidget* parent) {
    COptionsDlg dialog(lists, page, parent);
    return dialog.exec() == QDialog::Accepted;
}

}  // namespace kestrel::ui
