#include "ui/panes/version_wnd.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QToolBar>
#include <QVBoxLayout>
#include <optional>

#include "core/errors/errors.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"
#include "ui/panes/dialog_units.h"
#include "ui/panes/pane_host.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr std::string_view kSource = "VersionInfoWnd";
constexpr std::string_view kOpenFailed =
    QT_TRANSLATE_NOOP("kestrel::ui::VersionWnd", "未能打开文件： \r\n\r\n'%s'");
constexpr std::string_view kSaveFailed =
    QT_TRANSLATE_NOOP("kestrel::ui::VersionWnd", "未能保存文件： \r\n\r\n'%s'");

// The form's size in dialog units.
constexpr int kFormWidthUnits = 256;
constexpr int kFormHeightUnits = 342;

constexpr std::array<const char*, 14> kFileOSNames = {
    "VOS_UNKNOWN",       "VOS_DOS",        "VOS_OS216",      "VOS_OS232",       "VOS_NT",
    "VOS_WINDOWS16",     "VOS__PM16",      "VOS__PM32",      "VOS__WINDOWS32",  "VOS_DOS_WINDOWS16",
    "VOS_DOS_WINDOWS32", "VOS_OS216_PM16", "VOS_OS216_PM32", "VOS_NT_WINDOWS32"};
constexpr std::array<std::uint32_t, 14> kFileOSValues = {
    0x00000000, 0x00010000, 0x00020000, 0x00030000, 0x00040000, 0x00000001, 0x00000002,
    0x00000003, 0x00000004, 0x00010001, 0x00010004, 0x00020002, 0x00030003, 0x00040004};
constexpr std::array<const char*, 8> kFileTypeNames = {"VFT_UNKNOWN", "VFT_APP", "VFT_DLL", "VFT_DRV",
                                                       "VFT_FONT",    "VFT_VXD", "VFT_6",   "VFT_STATIC_LIB"};
constexpr std::array<const char*, 12> kFileSubtypeNames = {
    "VFT2_UNKNOWN",         "VFT2_DRV_PRINTER", "VFT2_DRV_KEYBOARD", "VFT2_DRV_LANGUAGE",
    "VFT2_DRV_DISPLAY",     "VFT2_DRV_MOUSE",   "VFT2_DRV_NETWORK",  "VFT2_DRV_SYSTEM",
    "VFT2_DRV_INSTALLABLE", "VFT2_DRV_SOUND",   "VFT2_DRV_COMM",     "VFT2_DRV_INPUTMETHOD"};

QString hexDword(std::uint32_t value) {
    return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0'));
}

QString versionText(const VersionNumber& version) {
    return QStringLiteral("%1,%2,%3,%4").arg(version[0]).arg(version[1]).arg(version[2]).arg(version[3]);
}

// Four numbers of 0 to 65535, separated by commas (as shown) or dots, spaces allowed around them.
std::optional<VersionNumber> parseVersionField(const QString& text) {
    QString normalized = text;
    normalized.replace(QLatin1Char(','), QLatin1Char('.'));
    const QStringList parts = normalized.split(QLatin1Char('.'));
    if (parts.size() != 4) return std::nullopt;
    VersionNumber version{};
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString part = parts[i].trimmed();
        if (part.isEmpty() || part.size() > 5) return std::nullopt;
        for (QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9')) return std::nullopt;
        }
        const uint value = part.toUInt();
        if (value > 0xFFFF) return std::nullopt;
        version[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(value);
    }
    return version;
}

// A 32-bit number: hexadecimal after 0x, otherwise decimal.
std::optional<std::uint32_t> parseDword(const QString& text) {
    const QString trimmed = text.trimmed();
    const bool hex = trimmed.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
    const QString digits = hex ? trimmed.mid(2) : trimmed;
    if (digits.isEmpty() || digits.size() > (hex ? 8 : 10)) return std::nullopt;
    for (QChar c : digits) {
        const bool decimal = c >= QLatin1Char('0') && c <= QLatin1Char('9');
        const bool letter = (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
                            (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
        if (!decimal && !(hex && letter)) return std::nullopt;
    }
    bool ok = false;
    const qulonglong value = digits.toULongLong(&ok, hex ? 16 : 10);
    if (!ok || value > 0xFFFFFFFFull) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}

int fileOSIndex(std::uint32_t value) {
    for (std::size_t i = 0; i < kFileOSValues.size(); ++i) {
        if (kFileOSValues[i] == value) return static_cast<int>(i);
    }
    return 0;
}

FixedFileInfo newFixedFileInfo() {
    FixedFileInfo fixed;
    fixed.signature = kFixedFileInfoSignature;
    fixed.structVersion = 0x00010000;
    return fixed;
}

template <std::size_t N>
void fillList(QComboBox* list, const std::array<const char*, N>& names) {
    for (const char* name : names)
        list->addItem(QString::fromLatin1(name));
}

}  // namespace

// ----- Form values --------------------------------------------------------------------------------

VersionFormValues versionFormValues(const VersionInfo& info) {
    VersionFormValues values;
    if (const std::optional<FixedFileInfo> fixed = GetFixedFileInfo(info)) {
        values.fileVersion = versionText(fixed->fileVersion());
        values.productVersion = versionText(fixed->productVersion());
        values.flagsMask = hexDword(fixed->fileFlagsMask);
        values.flags = hexDword(fixed->fileFlags);
        values.fileOS = fileOSIndex(fixed->fileOS);
        // Type and subtype are list indexes as they are; a value beyond the list selects nothing.
        values.fileType = fixed->fileType < kFileTypeNames.size() ? static_cast<int>(fixed->fileType) : -1;
        values.fileSubtype =
            fixed->fileSubtype < kFileSubtypeNames.size() ? static_cast<int>(fixed->fileSubtype) : -1;
    }
    const auto strings = GetVersionStrings(info);
    for (std::size_t i = 0; i < strings.size() && i < kVersionStringRows; ++i) {
        values.names[i] = QString::fromStdU16String(strings[i].first);
        values.values[i] = QString::fromStdU16String(strings[i].second);
    }
    if (const std::optional<VersionTranslation> translation = GetVersionTranslation(info)) {
        values.varName = QStringLiteral("Translation");
        values.varValue =
            hexDword(static_cast<std::uint32_t>(translation->codePage) << 16 | translation->language);
    }
    return values;
}

QString applyVersionForm(VersionInfo& info, const VersionFormValues& shown, const VersionFormValues& edited) {
    VersionInfo result = info;
    const std::optional<FixedFileInfo> oldFixed = GetFixedFileInfo(result);
    FixedFileInfo fixed = oldFixed.value_or(newFixedFileInfo());
    bool fixedEdited = false;

    auto takeVersion = [&](const QString& now, const QString& before, const QString& label,
                           void (FixedFileInfo::*set)(const VersionNumber&)) -> QString {
        if (now == before) return {};
        const std::optional<VersionNumber> version = parseVersionField(now);
        if (!version) {
            return QCoreApplication::translate(
                       "kestrel::ui::VersionWnd",
                       "%1 \"%2\" 无效：应为四个 0 到 65535 之间的数，以逗号分隔，例如 5,1,2600,0。")
                .arg(label, now);
        }
        (fixed.*set)(*version);
        fixedEdited = true;
        return {};
    };
    auto takeDword = [&](const QString& now, const QString& before, const QString& label,
                         std::uint32_t& field) -> QString {
        if (now == before) return {};
        const std::optional<std::uint32_t> value = parseDword(now);
        if (!value) {
            return QCoreApplication::translate("kestrel::ui::VersionWnd",
                                               "%1 \"%2\" 无效：应为一个 32 位的数，例如 0x0000003f。")
                .arg(label, now);
        }
        field = *value;
        fixedEdited = true;
        return {};
    };
    QString problem = takeVersion(edited.fileVersion, shown.fileVersion,
                                  QCoreApplication::translate("kestrel::ui::VersionWnd", "文件版本"),
                                  &FixedFileInfo::setFileVersion);
    if (problem.isEmpty()) {
        problem = takeVersion(edited.productVersion, shown.productVersion,
                              QCoreApplication::translate("kestrel::ui::VersionWnd", "产品版本"),
                              &FixedFileInfo::setProductVersion);
    }
    if (problem.isEmpty())
        problem = takeDword(edited.flagsMask, shown.flagsMask, QStringLiteral("FILEFLAGSMASK"),
                            fixed.fileFlagsMask);
    if (problem.isEmpty())
        problem = takeDword(edited.flags, shown.flags, QStringLiteral("FILEFLAGS"), fixed.fileFlags);
    if (!problem.isEmpty()) return problem;

    // A list keeps the stored value (which may be one the list does not hold) unless another entry
    // was chosen.
    if (edited.fileOS != shown.fileOS && edited.fileOS >= 0 &&
        edited.fileOS < static_cast<int>(kFileOSValues.size())) {
        fixed.fileOS = kFileOSValues[static_cast<std::size_t>(edited.fileOS)];
        fixedEdited = true;
    }
    if (edited.fileType != shown.fileType && edited.fileType >= 0) {
        fixed.fileType = static_cast<std::uint32_t>(edited.fileType);
        fixedEdited = true;
    }
    if (edited.fileSubtype != shown.fileSubtype && edited.fileSubtype >= 0) {
        fixed.fileSubtype = static_cast<std::uint32_t>(edited.fileSubtype);
        fixedEdited = true;
    }

    std::optional<VersionTranslation> translation;
    if (edited.varValue != shown.varValue) {
        const std::optional<std::uint32_t> value = parseDword(edited.varValue);
        if (!value) {
            return QCoreApplication::translate(
                       "kestrel::ui::VersionWnd",
                       "翻译 \"%1\" 无效：应为一个 32 位的数，低 16 位是语言，高 16 位是代码页，例如 "
                       "0x04b00409。")
                .arg(edited.varValue);
        }
        translation = VersionTranslation{static_cast<std::uint16_t>(*value & 0xFFFF),
                                         static_cast<std::uint16_t>(*value >> 16)};
    }

    for (std::size_t row = 0; row < kVersionStringRows; ++row) {
        if (edited.names[row] == shown.names[row] && edited.values[row] == shown.values[row]) continue;
        // A row's name only changes where the table had no string: the value is added under it.
        const QString name = shown.names[row].isEmpty() ? edited.names[row].trimmed() : shown.names[row];
        if (name.isEmpty()) {
            if (edited.values[row].isEmpty()) continue;
            return QCoreApplication::translate("kestrel::ui::VersionWnd", "第 %1 行的字符串有值但没有名称。")
                .arg(row + 1);
        }
        SetVersionString(result, name.toStdU16String(), edited.values[row].toStdU16String());
    }
    if (translation) SetVersionTranslation(result, *translation);
    if (fixedEdited && fixed != oldFixed) SetFixedFileInfo(result, fixed);
    info = std::move(result);
    return {};
}

// ----- The form -----------------------------------------------------------------------------------

VersionForm::VersionForm(QWidget* parent) : QWidget(parent) {
    auto* layout = new QVBoxLayout(this);
    auto* fixedGrid = new QGridLayout;
    auto addField = [&](int row, int column, const QString& label, QWidget* field) {
        fixedGrid->addWidget(new QLabel(label, this), row, column);
        fixedGrid->addWidget(field, row, column + 1);
    };
    fileVersion_ = new QLineEdit(this);
    productVersion_ = new QLineEdit(this);
    flagsMask_ = new QLineEdit(this);
    flags_ = new QLineEdit(this);
    fileOS_ = new QComboBox(this);
    fileType_ = new QComboBox(this);
    fileSubtype_ = new QComboBox(this);
    fillList(fileOS_, kFileOSNames);
    fillList(fileType_, kFileTypeNames);
    fillList(fileSubtype_, kFileSubtypeNames);
    addField(0, 0, tr("文件版本"), fileVersion_);
    addField(0, 2, tr("产品版本"), productVersion_);
    addField(1, 0, QStringLiteral("FILEFLAGSMASK"), flagsMask_);
    addField(1, 2, QStringLiteral("FILEFLAGS"), flags_);
    // The lists are each as wide as the two columns, so their longest names show in full.
    int row = 2;
    for (auto [label, list] : {std::pair{"FILEOS", fileOS_}, std::pair{"FILETYPE", fileType_},
                               std::pair{"FILESUBTYPE", fileSubtype_}}) {
        fixedGrid->addWidget(new QLabel(QString::fromLatin1(label), this), row, 0);
        fixedGrid->addWidget(list, row, 1, 1, 3);
        ++row;
    }
    fixedGrid->setColumnStretch(1, 1);
    fixedGrid->setColumnStretch(3, 1);
    layout->addLayout(fixedGrid);
    layout->addSpacing(6);

    auto* stringGrid = new QGridLayout;
    for (std::size_t row = 0; row < kVersionStringRows; ++row) {
        names_[row] = new QLineEdit(this);
        values_[row] = new QLineEdit(this);
        stringGrid->addWidget(names_[row], static_cast<int>(row), 0);
        stringGrid->addWidget(values_[row], static_cast<int>(row), 1);
    }
    varName_ = new QLineEdit(this);
    varName_->setReadOnly(true);
    varValue_ = new QLineEdit(this);
    stringGrid->addWidget(varName_, kVersionStringRows + 1, 0);
    stringGrid->addWidget(varValue_, kVersionStringRows + 1, 1);
    stringGrid->setRowMinimumHeight(kVersionStringRows, 6);
    stringGrid->setColumnStretch(0, 2);
    stringGrid->setColumnStretch(1, 3);
    layout->addLayout(stringGrid);
    layout->addStretch(1);

    auto* buttons = new QHBoxLayout;
    ok_ = new QPushButton(tr("确定"), this);
    cancel_ = new QPushButton(tr("取消"), this);
    buttons->addStretch(1);
    buttons->addWidget(ok_);
    buttons->addWidget(cancel_);
    layout->addLayout(buttons);
    connect(ok_, &QPushButton::clicked, this, &VersionForm::accepted);
    connect(cancel_, &QPushButton::clicked, this, &VersionForm::rejected);

    setFixedSize(DialogUnits(font()).size(kFormWidthUnits, kFormHeightUnits));
}

void VersionForm::setValues(const VersionFormValues& values) {
    fileVersion_->setText(values.fileVersion);
    productVersion_->setText(values.productVersion);
    flagsMask_->setText(values.flagsMask);
    flags_->setText(values.flags);
    fileOS_->setCurrentIndex(values.fileOS);
    fileType_->setCurrentIndex(values.fileType);
    fileSubtype_->setCurrentIndex(values.fileSubtype);
    for (std::size_t row = 0; row < kVersionStringRows; ++row) {
        names_[row]->setText(values.names[row]);
        // The name of a string the table holds is its key; a free row takes a new one.
        names_[row]->setReadOnly(!values.names[row].isEmpty());
        values_[row]->setText(values.values[row]);
    }
    varName_->setText(values.varName);
    varValue_->setText(values.varValue);
    // Long values show from their beginning.
    for (QLineEdit* edit : findChildren<QLineEdit*>())
        edit->setCursorPosition(0);
}

VersionFormValues VersionForm::values() const {
    VersionFormValues values;
    values.fileVersion = fileVersion_->text();
    values.productVersion = productVersion_->text();
    values.flagsMask = flagsMask_->text();
    values.flags = flags_->text();
    values.fileOS = fileOS_->currentIndex();
    values.fileType = fileType_->currentIndex();
    values.fileSubtype = fileSubtype_->currentIndex();
    for (std::size_t row = 0; row < kVersionStringRows; ++row) {
        values.names[row] = names_[row]->text();
        values.values[row] = values_[row]->text();
    }
    values.varName = varName_->text();
    values.varValue = varValue_->text();
    return values;
}

// ----- The pane window ----------------------------------------------------------------------------

VersionWnd::VersionWnd(PaneHost* host, QWidget* parent) : FilePaneWindow(host, {}, parent) {
    toolBar_ = makePaneToolBar(this);
    hexAction_ = new QAction(tr("查看 Hex"), this);
    connect(hexAction_, &QAction::triggered, this, [this] { showAs(ShowMode::kHexFromText); });
    toolBar_->addAction(hexAction_);

    scroll_ = new QScrollArea(this);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->viewport()->setAutoFillBackground(false);
    form_ = new VersionForm;
    scroll_->setWidget(form_);
    scroll_->hide();
    connect(form_, &VersionForm::accepted, this, &VersionWnd::accept);
    connect(form_, &VersionForm::rejected, this, &VersionWnd::reject);
    connect(&watch_, &FileWatch::changed, this, &VersionWnd::Reload);
    if (host_ != nullptr) {
        // The frame's copy, cut and paste follow the field that has the focus.
        for (QLineEdit* edit : form_->findChildren<QLineEdit*>()) {
            connect(edit, &QLineEdit::selectionChanged, host_, &PaneHost::notifyCommandsChanged);
            connect(edit, &QLineEdit::textChanged, host_, &PaneHost::notifyCommandsChanged);
        }
    }
}

void VersionWnd::ShowVersionFile(const std::filesystem::path& path, XmlElement* fileElement,
                                 CKsDoc* document) {
    showFileOf(path, fileElement, document);
    Reload();
}

void VersionWnd::Reload() {
    modified_ = false;
    info_ = {};
    std::vector<std::byte> bytes;
    if (HResult hr = ReadWholeFile(path_, bytes); hr.failed()) {
        // Nothing is shown and nothing can be written back over the file that could not be read.
        loaded_ = false;
        bytes_.clear();
        scroll_->hide();
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::VersionWnd", kOpenFailed),
                      {pathToUtf8(path_)});
        ShowErrorDialog();
    } else {
        bytes_ = std::move(bytes);
        loaded_ = ParseVersionInfo(bytes_, info_).succeeded();
        form_->setEnabled(loaded_);
        showTree();
        scroll_->show();
    }
    notifyCommandsChanged();
}

void VersionWnd::showTree() {
    shown_ = loaded_ ? versionFormValues(info_) : VersionFormValues{};
    form_->setValues(shown_);
}

bool VersionWnd::isModified() const {
    return modified_ || formEdited();
}

bool VersionWnd::formEdited() const {
    return loaded_ && form_->values() != shown_;
}

QString VersionWnd::takeForm() {
    VersionInfo edited = info_;
    QString problem = applyVersionForm(edited, shown_, form_->values());
    if (!problem.isEmpty()) return problem;
    std::vector<std::byte> written;
    if (WriteVersionInfo(edited, written).failed()) return tr("版本信息超过 65535 字节，无法保存。");
    if (written != bytes_) {
        // The tree is read back from what will be written, so the form shows exactly that.
        VersionInfo reread;
        if (ParseVersionInfo(written, reread).failed()) return tr("版本信息无法保存。");
        bytes_ = std::move(written);
        info_ = std::move(reread);
        modified_ = true;
    }
    showTree();
    return {};
}

void VersionWnd::accept() {
    if (!loaded_) return;
    const QString problem = takeForm();
    if (!problem.isEmpty()) uiSink().message(problem.toStdString(), kAppName, MessageIcon::kExclamation);
    notifyCommandsChanged();
}

void VersionWnd::reject() {
    showTree();
    notifyCommandsChanged();
}

HResult VersionWnd::Commit() {
    // Leaving the pane takes what was typed as OK does; a field it cannot take keeps the pane, and
    // the error dialog says what is wrong with it.
    if (formEdited()) {
        const QString problem = takeForm();
        if (!problem.isEmpty()) {
            ReportMessage(true, kSource, __LINE__, "%s", {problem.toStdString()});
            return kInvalidArg;
        }
    }
    if (!modified_) return kOk;
    if (HResult hr = WriteFileAtomic(path_, bytes_); hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, uiTextUtf8("kestrel::ui::VersionWnd", kSaveFailed),
                      {pathToUtf8(path_)});
        return hr;
    }
    modified_ = false;
    // Our own write is not a change by another program.
    watch_.markCurrent();
    notifyCommandsChanged();
    return kOk;
}

void VersionWnd::layOutContent(const QRect& area) {
    scroll_->setGeometry(area);
}

// ----- The pane object ----------------------------------------------------------------------------

namespace {

QLineEdit* focusedField(const QWidget* window) {
    auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    return edit != nullptr && window != nullptr && window->isAncestorOf(edit) ? edit : nullptr;
}

}  // namespace

QWidget* VersionPane::createWidget(QWidget* parent) {
    // The parent (the host) owns the window; widgetDestroyed() forgets it before Qt deletes it.
    window_ = new VersionWnd(&host_, parent);
    return window_;
}

void VersionPane::showFile(const PaneRequest& request) {
    if (window_ != nullptr) window_->ShowVersionFile(request.path, request.fileElement, request.document);
}

bool VersionPane::canEdit(EditCommand command) const {
    if (window_ == nullptr) return false;
    const QLineEdit* field = focusedField(window_);
    switch (command) {
        case EditCommand::kCopy:
            return field != nullptr && field->hasSelectedText();
        case EditCommand::kCut:
            return field != nullptr && field->hasSelectedText() && !field->isReadOnly();
        case EditCommand::kPaste:
            return field != nullptr && !field->isReadOnly() &&
                   !QGuiApplication::clipboard()->text().isEmpty();
        case EditCommand::kUndo:
            // Typing is undone in the field; OK'd edits by showing the file as it is on disk.
            return (field != nullptr && field->isUndoAvailable()) || window_->isModified();
    }
    return false;
}

void VersionPane::edit(EditCommand command) {
    if (!canEdit(command)) return;
    QLineEdit* field = focusedField(window_);
    switch (command) {
        case EditCommand::kCopy:
            field->copy();
            break;
        case EditCommand::kCut:
            field->cut();
            break;
        case EditCommand::kPaste:
            field->paste();
            break;
        case EditCommand::kUndo:
            if (field != nullptr && field->isUndoAvailable()) {
                field->undo();
            } else {
                window_->Reload();
            }
            break;
    }
}

PaneFactory makeVersionPaneFactory(const PaneServices& services) {
    return [services](PaneHost& host) { return std::make_unique<VersionPane>(host, services); };
}

}  // namespace kestrel::ui
