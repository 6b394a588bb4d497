#include "app/ks_doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <vector>

#include "app/recent_files.h"
#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/pe_image.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsDoc";
constexpr std::string_view kNotRecognised = "文件 %s 的格式无法被识别。";
constexpr std::string_view kCannotCreate = "未能建立文件 %s";
constexpr std::string_view kCannotOpen = "无法打开文件 %s。";

bool hasProjectExtension(const std::filesystem::path& path) {
    return iequalsAscii(extensionOf(pathToUtf8(path)), kProjectExtension);
}

}  // namespace

HResult ClearFolderFiles(const std::filesystem::path& folder, const std::filesystem::path& keep) {
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return hresultFromErrno(error.value(), &folder);
    // The names under which the kept file stands in the folder: its own name when it lies there,
    // and the name of the file it leads to when that lies there. Decided once, so that clearing a
    // folder of thousands of files costs no identity check per file.
    std::vector<std::filesystem::path> kept;
    if (!keep.empty()) {
        if (IsSameFile(keep.parent_path().empty() ? "." : keep.parent_path(), folder))
            kept.push_back(keep.filename());
        std::error_code canonicalError;
        const std::filesystem::path real = std::filesystem::weakly_canonical(keep, canonicalError);
        if (!canonicalError && IsSameFile(real.parent_path(), folder)) kept.push_back(real.filename());
    }
    HResult result = kOk;
    for (const auto& entry : entries) {
        std::error_code statusError;
        auto status = entry.symlink_status(statusError);
        if (statusError || std::filesystem::is_directory(status)) continue;
        if (std::find(kept.begin(), kept.end(), entry.path().filename()) != kept.end()) continue;
        if (HResult hr = RemoveFileIfPresent(entry.path()); hr.failed() && result.succeeded()) result = hr;
    }
    return result;
}

HResult CheckImportable(const std::filesystem::path& peFile) {
    MappedFile file;
    if (HResult hr = OpenMappedFile(peFile, file); hr.failed())
        return ReportError(true, kSource, __LINE__, hr);
    Bytes image = file.bytes();
    PeImage parsed;
    if (image.size() < 2 || image[0] != std::byte{'M'} || image[1] != std::byte{'Z'} ||
        parsePeImage(image, parsed).failed()) {
        ReportMessage(true, kSource, __LINE__, kNotRecognised, {pathToUtf8(peFile)});
        return kFail;
    }
    return kOk;
}

CKsDoc::CKsDoc(std::filesystem::path workingFolder) : workingFolder_(std::move(workingFolder)) {}

void CKsDoc::releaseProject() {
    description_.Reset();
    project_.Reset();
    descriptionPath_.clear();
    resourceFilePath_.clear();
    projectPath_.clear();
}

bool CKsDoc::OpenProject(const std::filesystem::path& path) {
    if (view_ != nullptr) view_->ClearView();
    const std::filesystem::path previousResourceFile = resourceFilePath_;
    const std::filesystem::path previousProject = projectPath_;
    fellBack_ = false;
    if (openProjectOnce(path)) return true;
    releaseProject();
    return reopenPrevious(previousResourceFile, previousProject, path);
}

// The previous project file is reopened where it is; only when it is gone is its PE file imported
// again.
bool CKsDoc::reopenPrevious(const std::filesystem::path& resourceFile, const std::filesystem::path& project,
                            const std::filesystem::path& failedPath) {
    if (resourceFile.empty()) return false;
    fellBack_ = true;
    std::error_code error;
    if (!project.empty() && std::filesystem::is_regular_file(project, error) &&
        !IsSameFile(project, failedPath)) {
        if (openProjectOnce(project)) return true;
        releaseProject();
    }
    if (openProjectOnce(resourceFile)) return true;
    releaseProject();
    return false;
}

bool CKsDoc::openProjectOnce(const std::filesystem::path& path) {
    description_.Reset();
    project_.Reset();

    std::filesystem::path projectFile;
    if (!hasProjectExtension(path)) {
        // Temp is only cleared for a file that can be imported, and never of the file itself: it
        // may be the compiled output lying in Temp.
        if (CheckImportable(path).failed()) {
            // The system's text ("file not found") does not say which file: ours does.
            ReportMessage(false, kSource, __LINE__, kCannotOpen, {pathToUtf8(path)});
            ShowErrorDialog();
            return false;
        }
        if (HResult hr = ClearFolderFiles(workingFolder_, path); hr.failed()) {
            // Files of an earlier import would be mixed into this one.
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能清空工作目录 %s。", {pathToUtf8(workingFolder_)});
            ShowErrorDialog();
            return false;
        }
        if (DecompileProject(path, workingFolder_, projectFile).failed()) {
            ShowErrorDialog();
            return false;
        }
    } else {
        projectFile = path;
    }

    auto fail = [&](HResult hr, int line) {
        RecordError(true, kSource, line, hr);
        ReportMessage(false, kSource, line, kCannotOpen, {pathToUtf8(projectFile)});
        ShowErrorDialog();
        return false;
    };
    if (HResult hr = project_.LoadFile(projectFile); hr.failed()) return fail(hr, __LINE__);

    // A project without PEFILE uses "pe.xml", the only name ever written; RESFILE is required, so
    // that nothing of a previously open project stays in use.
    std::string descriptionName(kDescriptionFileName);
    if (project_.FindElement("\\ROOT\\PEFILE") != nullptr) {
        if (HResult hr = project_.GetAttribute("", "FileName", descriptionName); hr.failed()) {
            return fail(hr, __LINE__);
        }
    }
    std::string resourceFile;
    if (HResult hr = project_.GetAttribute("\\ROOT\\RESFILE", "FileName", resourceFile); hr.failed()) {
        return fail(hr, __LINE__);
    }
    if (resourceFile.empty()) return fail(kFail, __LINE__);

    std::error_code error;
    std::filesystem::path projectFolder = std::filesystem::absolute(projectFile, error).parent_path();
    std::filesystem::path description;
    if (HResult hr = resolveStored(projectFolder, descriptionName, description); hr.failed()) {
        return fail(hr, __LINE__);
    }
    if (HResult hr = description_.LoadFile(description); hr.failed()) return fail(hr, __LINE__);

    descriptionPath_ = description;
    resourceFilePath_ = pathFromUtf8(resourceFile);
    projectPath_ = projectFile;
    return true;
}

bool CKsDoc::OnNewDocument() {
    OnCloseDocument();
    return true;
}

bool CKsDoc::OnOpenDocument(const std::filesystem::path& path) {
    const std::filesystem::path previousResourceFile = resourceFilePath_;
    const std::filesystem::path previousProject = projectPath_;
    if (!OpenProject(path) || fellBack_) return false;
    // The project's PE file must still be readable: a project whose PE file was moved is refused,
    // and the previous project comes back.
    // O_NONBLOCK: a project may name a pipe, and opening one for reading would wait for a writer.
    // Only a regular file can be compiled over, so anything else is refused here.
    int fd = ::open(resourceFilePath_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    HResult readable = fd < 0 ? hresultFromErrno(errno, &resourceFilePath_) : HResult(kOk);
    struct stat info {};
    if (fd >= 0 && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)))
        readable = hresultFromWin32(win32::kAccessDenied);
    if (fd >= 0) ::close(fd);
    if (readable.failed()) {
        RecordError(true, kSource, __LINE__, readable);
        ReportMessage(false, kSource, __LINE__, kCannotOpen, {pathToUtf8(resourceFilePath_)});
        ShowErrorDialog();
        if (view_ != nullptr) view_->ClearView();
        const std::filesystem::path refusedProject = projectPath_;
        releaseProject();
        (void)reopenPrevious(previousResourceFile, previousProject, refusedProject);
        return false;
    }
    modified_ = false;
    return true;
}

bool CKsDoc::OnSaveDocument(const std::filesystem::path& path) {
    if (!isOpen()) return false;
    // The pane commits first, and the view lets go of the description before it is written back:
    // writing it releases the tree the view points into.
    if (view_ != nullptr) {
        if (!view_->CommitPane()) return false;
        view_->ClearView();
    }
    bool result = true;
    HResult hr = description_.SaveFile();
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(descriptionPath_)});
        ShowErrorDialog();
        result = false;
    } else {
        hr = CompileFile(saveAs_ ? std::optional<std::filesystem::path>(path) : std::nullopt,
                         resourceFilePath_, descriptionPath_, true);
        if (hr.failed()) {
            ShowErrorDialog();
            result = false;
        }
    }

    // Only a PE file that now holds the compiled image is imported again; after "No" (or a failure)
    // the current project is reopened, so that its edits and the compiled file stay.
    const std::filesystem::path target = saveAs_ ? path : resourceFilePath_;
    const std::filesystem::path compiled = descriptionPath_.parent_path() / resourceFilePath_.filename();
    bool copied = hr.succeeded() && (IsSameFile(compiled, target) || FilesHaveSameContent(compiled, target));
    bool reopened = OpenProject(copied ? target : projectPath_);
    if (view_ != nullptr) view_->OnInitialUpdate();
    if (result && reopened) modified_ = false;
    return result && reopened;
}

void CKsDoc::OnCloseDocument() {
    if (view_ != nullptr) view_->ClearView();
    // Nothing is written for a document that never loaded a description.
    if (description_.hasSource()) {
        if (HResult hr = description_.SaveFile(); hr.failed()) {
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(descriptionPath_)});
            ShowErrorDialog();
        }
    }
    releaseProject();
    pathName_.clear();
    modified_ = false;
}

void CKsDoc::SetPathName(const std::filesystem::path& path, bool addToRecentList) {
    pathName_ = resourceFilePath_.empty() ? path : resourceFilePath_;
    if (addToRecentList && recent_ != nullptr) recent_->add(pathName_);
}

std::string CKsDoc::GetTitle() const {
    if (pathName_.empty()) return std::string(Localized("无标题"));
    return fileNameOf(pathToUtf8(pathName_));
}

}  // namespace kestrel
