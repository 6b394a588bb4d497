#include "ui/dialogs/import_dlg.h"

#include <unistd.h>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/pe/pe_image.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/text.h"
#include "core/platform/ui_sink.h"
#include "ui/ui_text.h"

namespace kestrel::ui {

namespace {

constexpr const char* kContext = "kestrel::ui::CImportDlg";

QString toQt(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& text) {
    return text.toUtf8().toStdString();
}

// Removes trailing separators (either kind), keeping a lone root.
std::string withoutTrailingSeparators(std::string text) {
    while (text.size() > 1 && (text.back() == '\\' || text.back() == '/'))
        text.pop_back();
    return text;
}

bool folderHoldsProject(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return false;
    for (const auto& entry : entries) {
        if (iendsWithAscii(pathToUtf8(entry.path().filename()), ".kestrel")) return true;
    }
    return false;
}

// An absolute, normalised folder path without a trailing separator.
std::filesystem::path normalFolder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::path normal = std::filesystem::absolute(folder, error).lexically_normal();
    if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
        normal = normal.parent_path();
    }
    return normal;
}

// Whether a file can be created in `folder`: tried with a file of our own, removed at once (the
// permission bits do not tell, for the administrator, on read-only mounts or in system folders).
HResult folderTakesFiles(const std::filesystem::path& folder) {
    std::string pattern = pathToUtf8(folder / ".kestrel-write-XXXXXX");
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) return hresultFromErrno(errno, &folder);
    ::close(fd);
    ::unlink(pattern.c_str());
    return kOk;
}

// The system's text of a failure, without its line end.
std::string failureText(HResult hr) {
    std::string text = MessageEntryText(LookupMessageText(hr), {});
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

}  // namespace

HResult IsImportablePeFile(const std::filesystem::path& path) {
    std::vector<std::byte> bytes;
    if (ReadWholeFile(path, bytes).failed()) return kFalse;
    PeImage image;
    return parsePeImage(Bytes(bytes.data(), bytes.size()), image).succeeded() ? kOk : kFalse;
}

CImportDlg::CImportDlg(SettingsStore* settings, std::filesystem::path dataFolder, QWidget* parent)
    : QDialog(parent), settings_(settings), dataFolder_(std::move(dataFolder)) {
    setWindowTitle(tr("插入资源文件"));

    auto* fileGroup = new QGroupBox(tr("选择从哪里插入一个资源文件(&C)"), this);
    fileEdit_ = new QLineEdit(fileGroup);
    fileEdit_->setObjectName(QStringLiteral("file"));
    auto* fileButton = new QToolButton(fileGroup);
    fileButton->setText(QStringLiteral("..."));
    auto* fileRow = new QHBoxLayout(fileGroup);
    fileRow->addWidget(fileEdit_);
    fileRow->addWidget(fileButton);

    auto* folderGroup = new QGroupBox(tr("选择一个被插入的资源文件的解压目录(&D)"), this);
    folderEdit_ = new QLineEdit(folderGroup);
    folderEdit_->setObjectName(QStringLiteral("folder"));
    auto* folderButton = new QToolButton(folderGroup);
    folderButton->setText(QStringLiteral("..."));
    auto* folderRow = new QHBoxLayout(folderGroup);
    folderRow->addWidget(folderEdit_);
    folderRow->addWidget(folderButton);

    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(tr("确定"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(tr("取消"), QDialogButtonBox::RejectRole);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(fileGroup);
    layout->addWidget(folderGroup);
    layout->addWidget(buttons);
    setMinimumWidth(fontMetrics().averageCharWidth() * 60);

    connect(fileButton, &QToolButton::clicked, this, &CImportDlg::browseFile);
    connect(folderButton, &QToolButton::clicked, this, &CImportDlg::browseFolder);
    connect(fileEdit_, &QLineEdit::editingFinished, this, &CImportDlg::proposeFolder);
    connect(buttons, &QDialogButtonBox::accepted, this, &CImportDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CImportDlg::reject);

    fileBrowser_ = [](QWidget* owner, const std::string& current) -> std::optional<std::string> {
        QString chosen = QFileDialog::getOpenFileName(
            owner, tr("浏览插入文件"), toQt(current),
            QStringLiteral(
                "Resource Files (*.exe;*.dll;*.msstyles) (*.exe *.dll *.msstyles);;All Files (*)"));
        if (chosen.isEmpty()) return std::nullopt;
        return fromQt(chosen);
    };
    folderBrowser_ = [](QWidget* owner, const std::string& current) -> std::optional<std::string> {
        QString chosen = QFileDialog::getExistingDirectory(owner, tr("选择一个位置以解压被插入的文件"),
                                                           toQt(current), QFileDialog::DontUseNativeDialog);
        if (chosen.isEmpty()) return std::nullopt;
        return fromQt(chosen);
    };
}

std::string CImportDlg::file() const {
    return fromQt(fileEdit_->text());
}

std::string CImportDlg::folder() const {
    return fromQt(folderEdit_->text());
}

void CImportDlg::setFile(const std::string& file) {
    fileEdit_->setText(toQt(file));
}

void CImportDlg::setFolder(const std::string& folder) {
    folderEdit_->setText(toQt(folder));
}

std::string CImportDlg::defaultImportFolder() const {
    std::string fallback = withoutTrailingSeparators(pathToUtf8(dataFolder_));
    std::string folder = fallback;
    if (settings_ != nullptr) (void)settings_->GetStringSetting("Dir", "DefaultImport", folder, fallback);
    return folder;
}

void CImportDlg::browseFile() {
    if (!fileBrowser_) return;
    if (auto chosen = fileBrowser_(this, file())) {
        setFile(*chosen);
        proposeFolder();
    }
}

void CImportDlg::proposeFolder() {
    const std::string name = file();
    if (name.empty()) return;
    setFolder(pathToUtf8(pathFromUtf8(defaultImportFolder()) / pathFromUtf8(baseNameOf(name))));
}

void CImportDlg::browseFolder() {
    if (!folderBrowser_) return;
    std::string start = folder();
    for (;;) {
        auto chosen = folderBrowser_(this, start);
        if (!chosen) return;
        if (!folderHoldsProject(pathFromUtf8(*chosen))) {
            setFolder(*chosen);
            return;
        }
        Answer answer = uiSink().ask(uiTextUtf8(kContext, kImportProjectPresent), kAppName,
                                     Buttons::kYesNoCancel, 0, MessageIcon::kQuestion);
        if (answer == Answer::kNo) {
            setFolder(*chosen);
            acceptedProjectFolder_ = normalFolder(pathFromUtf8(*chosen));
            return;
        }
        if (answer != Answer::kYes) return;
        start = *chosen;
    }
}

bool CImportDlg::checkFile() {
    const std::string name = file();
    if (name.empty()) {
        uiSink().message(uiTextUtf8(kContext, kImportNoFile), kAppName, MessageIcon::kExclamation);
        return false;
    }
    std::error_code error;
    if (!std::filesystem::exists(pathFromUtf8(name), error)) {
        uiSink().message(safeFormat(uiTextUtf8(kContext, kImportFileMissing), {name}), kAppName,
                         MessageIcon::kExclamation);
        return false;
    }
    if (IsImportablePeFile(pathFromUtf8(name)) != kOk) {
        uiSink().message(safeFormat(uiTextUtf8(kContext, kImportNotPe), {name}), kAppName,
                         MessageIcon::kExclamation);
        return false;
    }
    return true;
}

bool CImportDlg::checkFolder() {
    if (folder().empty()) {
        uiSink().message(uiTextUtf8(kContext, kImportNoFolder), kAppName, MessageIcon::kExclamation);
        return false;
    }
    const std::string name = withoutTrailingSeparators(folder());
    setFolder(name);
    const std::filesystem::path path = pathFromUtf8(name);

    // Every open of a PE file empties the Temp working folder: a project there would be lost.
    const std::filesystem::path temp = dataFolder_ / "Temp";
    const std::filesystem::path target = normalFolder(path);
    const std::filesystem::path parent = target.parent_path();
    const bool inDataFolder = parent == normalFolder(dataFolder_) || IsSameFile(parent, dataFolder_);
    if (IsSameFile(path, temp) || (inDataFolder && iequalsAscii(pathToUtf8(target.filename()), "Temp"))) {
        uiSink().message(safeFormat(uiTextUtf8(kContext, kImportTempFolder), {name}), kAppName,
                         MessageIcon::kExclamation);
        return false;
    }

    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
        Answer answer = uiSink().ask(safeFormat(uiTextUtf8(kContext, kImportCreateFolder), {name}), kAppName,
                                     Buttons::kYesNo, 0, MessageIcon::kQuestion);
        if (answer != Answer::kYes) return false;
        if (HResult hr = CreateFolderPath(path); hr.failed()) {
            uiSink().message(
                safeFormat(uiTextUtf8(kContext, kImportFolderNotWritable), {name, failureText(hr)}), kAppName,
                MessageIcon::kExclamation);
            return false;
        }
    }
    if (!std::filesystem::is_directory(path, error)) {
        uiSink().message(safeFormat(uiTextUtf8(kContext, kImportNotFolder), {name}), kAppName,
                         MessageIcon::kExclamation);
        return false;
    }
    // Refused here, where another folder can be chosen, rather than part way through the import.
    if (HResult hr = folderTakesFiles(path); hr.failed()) {
        uiSink().message(safeFormat(uiTextUtf8(kContext, kImportFolderNotWritable), {name, failureText(hr)}),
                         kAppName, MessageIcon::kExclamation);
        return false;
    }
    // A typed or proposed folder that holds a project would have it overwritten: the same question
    // as on browsing, unless it was answered for this folder already.
    if (folderHoldsProject(path) && target != acceptedProjectFolder_) {
        const Answer answer = uiSink().ask(uiTextUtf8(kContext, kImportProjectPresent), kAppName,
                                           Buttons::kYesNoCancel, 0, MessageIcon::kQuestion);
        if (answer == Answer::kYes) browseFolder();
        if (answer != Answer::kNo) return false;
        acceptedProjectFolder_ = target;
    }
    return true;
}

void CImportDlg::accept() {
    if (!checkFile() || !checkFolder()) return;
    QDialog::accept();
}

}  // namespace kestrel::ui
