#include "app/document_controller.h"

#include "core/errors/language.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kAskToCompile =
    "%s 有尚未编译的更改。\r\n\r\n要编译并保存这些更改，还是放弃它们？";
constexpr std::string_view kProjectNameRefused =
    "编译的文件不能保存为 Kestrel 项目文件 (*.kestrel)。\r\n\r\n请选择一个 .exe、.dll 或 .msstyles 文件名。";

}  // namespace

std::vector<FileFilter> resourceFileFilters() {
    return {{"Resource Files (*.exe;*.dll;*.msstyles)", "*.exe;*.dll;*.msstyles"}, {"All Files", "*.*"}};
}

DocumentController::DocumentController(CKsDoc& document, DocumentPrompts* prompts)
    : document_(document), prompts_(prompts) {}

bool DocumentController::SaveModified() {
    if (!document_.isOpen()) return true;
    // Edits still in the active pane belong to the question; a pane that cannot store them has
    // said why, and nothing goes on.
    if (document_.view() != nullptr && !document_.view()->StorePaneEdits()) return false;
    if (!document_.CheckModified()) return true;
    const Answer answer = uiSink().ask(safeFormat(Localized(kAskToCompile), {document_.GetTitle()}), kAppName,
                                       Buttons::kCompileDiscardCancel, 0, MessageIcon::kExclamation);
    if (answer == Answer::kCancel) return false;
    if (answer == Answer::kNo) {
        document_.MarkCompiled();
        return true;
    }
    if (!save()) return false;
    // A compiled file that stayed in the working folder every import clears (the copy over the PE
    // file was declined) would be lost with the edits: the user stays with the project.
    return document_.lastSaveReachedTarget() || !document_.isInWorkingFolder();
}

bool DocumentController::openDocument(const std::filesystem::path& path) {
    if (!SaveModified()) return false;
    bool opened = document_.OnOpenDocument(path);
    // After a failed open the previous project may be back (the fallback); the view shows whatever
    // is loaded.
    if (opened) document_.SetPathName(path, true);
    if (!document_.isOpen()) document_.SetPathName({}, false);
    if (document_.view() != nullptr) document_.view()->OnInitialUpdate();
    return opened;
}

bool DocumentController::newDocument() {
    if (!SaveModified()) return false;
    bool created = document_.OnNewDocument();
    if (document_.view() != nullptr) document_.view()->OnInitialUpdate();
    return created;
}

bool DocumentController::save() {
    if (!document_.canSave()) return false;
    return DoSave(document_.pathName(), true);
}

bool DocumentController::saveAs() {
    if (!document_.canSave()) return false;
    document_.setSaveAs(true);
    bool saved = DoSave({}, true);
    document_.setSaveAs(false);
    return saved;
}

bool DocumentController::close() {
    if (!SaveModified()) return false;
    document_.OnCloseDocument();
    if (document_.view() != nullptr) document_.view()->OnInitialUpdate();
    return true;
}

bool DocumentController::DoSave(const std::filesystem::path& path, bool replace) {
    std::filesystem::path name = path;
    if (name.empty()) {
        // The compiled file is a PE file: propose the project's PE file name with the PE filters;
        // a project-file name would receive a PE image.
        if (prompts_ == nullptr) return false;
        auto chosen = prompts_->askSavePath(Localized(replace ? "另存为" : "保存副本"),
                                            document_.resourceFilePath(), resourceFileFilters());
        if (!chosen || chosen->empty()) return false;
        if (iendsWithAscii(pathToUtf8(*chosen), kProjectExtension)) {
            uiSink().message(Localized(kProjectNameRefused), kAppName, MessageIcon::kExclamation);
            return false;
        }
        name = *chosen;
    }
    uiSink().busy(true);
    bool saved = document_.OnSaveDocument(name);
    uiSink().busy(false);
    if (replace && document_.isOpen()) document_.SetPathName(name, true);
    return saved;
}

std::string DocumentController::frameTitle() const {
    return document_.GetTitle() + " - " + std::string(kAppName);
}

}  // namespace kestrel
