// The single-document flows around CKsDoc: new, open, save, save as, close, the window title and
// the recent list. Dialogs are reached through DocumentPrompts, so everything runs headless.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/ks_app.h"
#include "app/ks_doc.h"

namespace kestrel {

class RecentFileList;

struct FileFilter {
    std::string name;      // "Resource Files (*.exe;*.dll;*.msstyles)"
    std::string patterns;  // "*.exe;*.dll;*.msstyles"
};

// The filters of File > Open and Save As, and the title of the File > Open dialog.
std::vector<FileFilter> resourceFileFilters();
inline constexpr std::string_view kOpenDialogTitle = "打开 Kestrel 文件";

class DocumentPrompts {
  public:
    virtual ~DocumentPrompts() = default;
    // Asks for the name to save under, starting from `proposed`; nullopt when cancelled.
    virtual std::optional<std::filesystem::path> askSavePath(std::string_view title,
                                                             const std::filesystem::path& proposed,
                                                             const std::vector<FileFilter>& filters) = 0;
};

class DocumentController : public DocumentCommands {
  public:
    DocumentController(CKsDoc& document, DocumentPrompts* prompts);

    // Stores the active pane's edits, then, when the working folder holds uncompiled edits, asks
    // whether to compile (save) them, discard them or cancel. False when the user cancels, a pane
    // cannot store its edits, the compile fails, or the compiled file would stay only in the
    // working folder that the next import clears.
    bool SaveModified() override;
    bool openDocument(const std::filesystem::path& path) override;
    bool newDocument() override;
    // Compiles and offers the copy over the project's PE file.
    bool save();
    // Asks for a PE file name, compiles and offers the copy to that name.
    bool saveAs();
    bool close();
    // `path` empty: ask for the name (Save As). `replace`: the document takes the new name.
    bool DoSave(const std::filesystem::path& path, bool replace);

    bool canSave() const { return document_.canSave(); }
    // "<file name> - Kestrel".
    std::string frameTitle() const;

  private:
    CKsDoc& document_;
    DocumentPrompts* prompts_;
};

}  // namespace kestrel
