#include "ui/frame/translation_commands.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <string>

#include "app/ks_doc.h"
#include "core/errors/errors.h"
#include "core/errors/message_codes.h"
#include "core/pe/translation.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel::ui {

namespace {

QString text(const char* source) {
    return QCoreApplication::translate("TranslationCommands", source);
}

std::filesystem::path toPath(const QString& name) {
    return pathFromUtf8(name.toStdString());
}

// The project's edits in memory (added and deleted resources) reach its pe.xml before the core
// reads the folder. The tree stays loaded: the view holds handles into it.
bool writeDescription(CKsDoc& document) {
    std::string text;
    HResult hr = document.description().SaveToString(text);
    if (hr.succeeded()) hr = WriteFileAtomic(document.descriptionPath(), std::string_view(text));
    if (hr.failed()) {
        RecordError(true, "Translations", __LINE__, hr);
        RecordError(false, "Translations", __LINE__, msg::kProcessFileError,
                    {pathToUtf8(document.descriptionPath())});
        ShowErrorDialog();
        return false;
    }
    return true;
}

}  // namespace

bool exportTranslations(QWidget* parent, CKsDoc& document, std::optional<std::filesystem::path> target) {
    if (!document.isOpen()) return false;
    if (document.view() != nullptr && !document.view()->StorePaneEdits()) return false;
    if (!writeDescription(document)) return false;
    if (!target) {
        const QString suggested =
            QString::fromStdString(pathToUtf8(document.resourceFilePath().stem())) + ".pot";
        const QString chosen = QFileDialog::getSaveFileName(parent, text("导出翻译"), suggested,
                                                            text("gettext 模板 (*.pot *.po);;所有文件 (*)"));
        if (chosen.isEmpty()) return false;
        target = toPath(chosen);
    }
    std::string po;
    TranslationSummary summary;
    HResult hr =
        ExportTranslationTemplate(document.descriptionPath().parent_path(), std::nullopt, po, &summary);
    if (hr.succeeded()) {
        hr = WriteFileAtomic(*target, std::string_view(po));
        if (hr.failed()) {
            RecordError(true, "Translations", __LINE__, hr);
            RecordError(false, "Translations", __LINE__, msg::kProcessFileError, {pathToUtf8(*target)});
        }
    }
    if (hr.failed()) {
        ShowErrorDialog();
        return false;
    }
    return true;
}

bool importTranslations(QWidget* parent, CKsDoc& document, std::optional<std::filesystem::path> poFile,
                        std::optional<QString> language) {
    if (!document.isOpen()) return false;
    if (!poFile) {
        const QString chosen = QFileDialog::getOpenFileName(parent, text("导入翻译"), {},
                                                            text("gettext 翻译 (*.po);;所有文件 (*)"));
        if (chosen.isEmpty()) return false;
        poFile = toPath(chosen);
    }
    if (!language) {
        bool ok = false;
        const QString typed = QInputDialog::getText(parent, text("导入翻译"),
                                                    text("目标语言 (例如 de、de_DE、pt-BR 或 0x407):"),
                                                    QLineEdit::Normal, QString(), &ok);
        if (!ok) return false;
        language = typed.trimmed();
    }
    const std::optional<std::uint16_t> target = ParseLanguageName(language->toStdString());
    if (!target) {
        uiSink().message(text("“%1” 不是一种语言。").arg(*language).toStdString(),
                         text("导入翻译").toStdString(), MessageIcon::kExclamation);
        return false;
    }
    // A pane's edits reach their file first; the import reads the folder as it is.
    if (document.view() != nullptr && !document.view()->CommitPane()) return false;
    if (!writeDescription(document)) return false;
    TranslationSummary summary;
    const HResult hr = ImportTranslations(document.descriptionPath().parent_path(), *poFile, {}, *target,
                                          std::nullopt, &summary);
    // The folder may have changed even when the import failed part way: the tree shows what is there.
    const std::filesystem::path project = document.projectPath();
    const bool reopened = document.OpenProject(project);
    if (document.view() != nullptr) document.view()->OnInitialUpdate();
    if (hr.failed()) {
        ShowErrorDialog();
        return false;
    }
    if (reopened) document.SetModifiedFlag(true);
    return reopened;
}

}  // namespace kestrel::ui
