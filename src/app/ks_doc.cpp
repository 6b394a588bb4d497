#include "app/ks_doc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef _WIN32
#include <dirent.h>
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

#include "app/recent_files.h"
#include "app/settings_store.h"
#include "core/errors/errors.h"
#include "core/errors/language.h"
#include "core/pe/compile_file.h"
#include "core/pe/decompile_file.h"
#include "core/pe/pe_image.h"
#include "core/pe/section_names.h"
#include "core/platform/files.h"
#include "core/platform/format.h"
#include "core/platform/paths.h"
#include "core/platform/ui_sink.h"

namespace kestrel {

namespace {

constexpr std::string_view kSource = "KsDoc";
constexpr std::string_view kNotRecognised = "文件 %s 的格式无法被识别。";
constexpr std::string_view kCannotCreate = "未能建立文件 %s";
constexpr std::string_view kCannotOpen = "无法打开文件 %s。";
constexpr std::string_view kCannotOpenBecause = "无法打开文件 %s：\r\n%s";
constexpr std::string_view kFileMissing = "文件不存在。";
constexpr std::string_view kNoReadPermission = "没有读取它的权限。";
constexpr std::string_view kEmptyFile = "文件是空的 (0 字节)。";
constexpr std::string_view kNotPeFile = "它不是 PE 文件 (程序、DLL 或 .msstyles)。";
constexpr std::string_view kCutShort = "文件不完整：在第 %u 字节处被截断。";

bool hasProjectExtension(const std::filesystem::path& path) {
    return iequalsAscii(extensionOf(pathToUtf8(path)), kProjectExtension);
}

// Subfolders deeper than this are not looked at: the import writes one level of them (resources
// with names), and a project kept in a large folder must not cost a walk of everything below it.
constexpr int kFolderStateDepth = 2;

}  // namespace

namespace {

std::int64_t modificationTime(const struct stat& info) {
    return static_cast<std::int64_t>(info.st_mtim.tv_sec) * 1'000'000'000 + info.st_mtim.tv_nsec;
}

#ifndef _WIN32
// Calls `visit(name, time, size)` for every file of the folder open as `folderFd` (which this
// takes over), names prefixed with `prefix`, and walks into subfolders while the depth allows.
// Each file is looked at relative to its folder's descriptor, so no path is walked again per file.
// False as soon as `visit` returns false.
// `known`, sorted by name, holds files whose time and size are known already: they are not looked
// at again.
const WrittenFile* findKnown(const std::vector<WrittenFile>* known, const std::string& name) {
    if (known == nullptr) return nullptr;
    auto it =
        std::lower_bound(known->begin(), known->end(), name,
                         [](const WrittenFile& file, const std::string& key) { return file.name < key; });
    return it != known->end() && it->name == name ? &*it : nullptr;
}

template <typename Visit>
bool visitFolderFiles(int folderFd, const std::string& prefix, int depth, Visit& visit,
                      const std::vector<WrittenFile>* known) {
    DIR* dir = ::fdopendir(folderFd);
    if (dir == nullptr) {
        ::close(folderFd);
        return true;
    }
    bool going = true;
    std::string name;
    while (going) {
        const dirent* entry = ::readdir(dir);
        if (entry == nullptr) break;
        const std::string_view leaf = entry->d_name;
        if (leaf == "." || leaf == "..") continue;
        name.assign(prefix).append(leaf);
        if (entry->d_type == DT_REG) {
            if (const WrittenFile* file = findKnown(known, name)) {
                going = visit(name, file->time, file->size);
                continue;
            }
        }
        struct stat info {};
        if (::fstatat(::dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (depth + 1 >= kFolderStateDepth) continue;
            const int sub =
                ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) going = visitFolderFiles(sub, name + '/', depth + 1, visit, known);
            continue;
        }
        going = visit(name, modificationTime(info), static_cast<std::uintmax_t>(info.st_size));
    }
    ::closedir(dir);
    return going;
}

template <typename Visit>
bool forEachFolderFile(const std::filesystem::path& folder, Visit visit,
                       const std::vector<WrittenFile>* known = nullptr) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return true;
    return visitFolderFiles(fd, std::string(), 0, visit, known);
}
#else
template <typename Visit>
bool forEachFolderFile(const std::filesystem::path& folder, Visit visit,
                       const std::vector<WrittenFile>* /*known*/ = nullptr) {
    std::error_code error;
    std::filesystem::recursive_directory_iterator entries(
        folder, std::filesystem::directory_options::skip_permission_denied, error);
    if (error) return true;
    for (auto it = entries; it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (error) break;
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) != 0) continue;
        if (S_ISDIR(info.st_mode)) {
            if (it.depth() + 1 >= kFolderStateDepth) it.disable_recursion_pending();
            continue;
        }
        if (!visit(pathToUtf8(it->path().lexically_relative(folder)), modificationTime(info),
                   static_cast<std::uintmax_t>(info.st_size)))
            return false;
    }
    return true;
}
#endif

}  // namespace

FolderState ReadFolderState(const std::filesystem::path& folder, std::vector<WrittenFile> known) {
    std::sort(known.begin(), known.end(),
              [](const WrittenFile& a, const WrittenFile& b) { return a.name < b.name; });
    FolderState state;
    forEachFolderFile(
        folder,
        [&](const std::string& name, std::int64_t time, std::uintmax_t size) {
            state.emplace(name, std::pair(time, size));
            return true;
        },
        known.empty() ? nullptr : &known);
    return state;
}

bool FolderMatchesState(const std::filesystem::path& folder, const FolderState& state) {
    std::size_t seen = 0;
    const bool same =
        forEachFolderFile(folder, [&](const std::string& name, std::int64_t time, std::uintmax_t size) {
            auto it = state.find(name);
            if (it == state.end() || it->second != std::pair(time, size)) return false;
            ++seen;
            return true;
        });
    return same && seen == state.size();
}

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

HResult ClearWorkingFolder(const std::filesystem::path& folder, const std::filesystem::path& keep) {
    // A fresh account has no working folder yet: there is nothing to clear, only a folder to make.
    std::error_code existsError;
    if (!std::filesystem::exists(folder, existsError) && !existsError) return CreateFolderPath(folder);
    if (HResult hr = ClearFolderFiles(folder, keep); hr.failed()) return hr;
    // The folders that hold the kept file (it may lie in a subfolder) stay.
    std::vector<std::filesystem::path> keptFolders;
    if (!keep.empty()) {
        std::error_code canonicalError;
        std::filesystem::path real = std::filesystem::weakly_canonical(keep, canonicalError);
        if (canonicalError) real = keep;
        for (std::filesystem::path up = real.parent_path(); !up.empty() && up != up.parent_path();
             up = up.parent_path())
            keptFolders.push_back(up);
    }
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error) return kOk;
    std::vector<std::filesystem::path> subfolders;
    for (const auto& entry : entries) {
        std::error_code statusError;
        // A link is a plain entry of the folder (ClearFolderFiles removed it); only real folders
        // are emptied, so nothing outside the folder is reached.
        if (std::filesystem::is_directory(entry.symlink_status(statusError)) && !statusError)
            subfolders.push_back(entry.path());
    }
    for (const std::filesystem::path& subfolder : subfolders) {
        const bool holdsKept =
            std::any_of(keptFolders.begin(), keptFolders.end(),
                        [&](const std::filesystem::path& up) { return IsSameFile(up, subfolder); });
        if (holdsKept) continue;
        std::error_code removeError;
        // remove_all deletes links themselves and never descends through them.
        std::filesystem::remove_all(subfolder, removeError);
    }
    return kOk;
}

namespace {

// True when `path` names something inside `folder` (at any depth), as written or once its links
// are followed.
bool liesInside(const std::filesystem::path& path, const std::filesystem::path& folder) {
    if (path.empty()) return false;
    auto inside = [](const std::filesystem::path& file, const std::filesystem::path& base) {
        const std::filesystem::path relative = file.lexically_relative(base);
        return !relative.empty() && *relative.begin() != ".." && *relative.begin() != ".";
    };
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error).lexically_normal();
    const std::filesystem::path base = std::filesystem::absolute(folder, error).lexically_normal();
    if (inside(absolute, base)) return true;
    std::error_code realError;
    const std::filesystem::path real = std::filesystem::weakly_canonical(path, realError);
    const std::filesystem::path realBase = std::filesystem::weakly_canonical(folder, realError);
    return !realError && inside(real, realBase);
}

}  // namespace

FolderDiscarder::~FolderDiscarder() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

bool FolderDiscarder::moveAside(const std::filesystem::path& folder,
                                const std::vector<std::filesystem::path>& spare) {
    std::error_code error;
    // A link is left to the in-place clear, which empties what it leads to as before.
    if (!std::filesystem::is_directory(std::filesystem::symlink_status(folder, error)) || error) return false;
    const std::filesystem::path parent = folder.parent_path().empty() ? "." : folder.parent_path();
    const std::string prefix = pathToUtf8(folder.filename()) + std::string(kMarker);

    // Folders moved aside by a process that ended before it deleted them. Only real folders of our
    // naming next to the working folder are taken, and none that holds a file still in use.
    bool seek = false;
    {
        std::lock_guard lock(mutex_);
        seek = !std::exchange(leftoversSought_, true);
    }
    if (seek) {
        std::error_code listError;
        for (const auto& entry : std::filesystem::directory_iterator(parent, listError)) {
            std::error_code statusError;
            if (!pathToUtf8(entry.path().filename()).starts_with(prefix) ||
                !std::filesystem::is_directory(entry.symlink_status(statusError)) || statusError)
                continue;
            const bool inUse = std::any_of(
                spare.begin(), spare.end(),
                [&](const std::filesystem::path& file) { return liesInside(file, entry.path()); });
            if (!inUse) queue(entry.path());
        }
    }

    std::filesystem::path aside;
    for (int attempt = 0; attempt < 100; ++attempt) {
        unsigned n = 0;
        {
            std::lock_guard lock(mutex_);
            n = ++counter_;
        }
        std::filesystem::path candidate =
            parent / pathFromUtf8(prefix + std::to_string(::getpid()) + "-" + std::to_string(n));
        std::error_code existsError;
        if (!std::filesystem::exists(std::filesystem::symlink_status(candidate, existsError))) {
            aside = std::move(candidate);
            break;
        }
    }
    if (aside.empty()) return false;
    std::filesystem::rename(folder, aside, error);
    if (error) return false;
    queue(aside);
    return CreateFolderPath(folder).succeeded();
}

void FolderDiscarder::queue(std::filesystem::path folder) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(folder));
        due_ = std::chrono::steady_clock::now() + delay_;
        if (!worker_.joinable()) worker_ = std::thread(&FolderDiscarder::work, this);
    }
    wake_.notify_all();
}

void FolderDiscarder::work() {
#ifdef __linux__
    // The deletion gives way to everything else; on Linux the nice value belongs to the thread.
    (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 19);
#endif
    std::unique_lock lock(mutex_);
    for (;;) {
        if (queue_.empty()) {
            if (stop_) return;
            wake_.wait(lock, [&] { return stop_ || !queue_.empty(); });
            continue;
        }
        if (!now_ && !stop_ && std::chrono::steady_clock::now() < due_) {
            wake_.wait_until(lock, due_, [&] { return stop_ || now_; });
            continue;
        }
        deleting_ = std::move(queue_.front());
        queue_.pop_front();
        const std::filesystem::path folder = deleting_;
        lock.unlock();
        // remove_all deletes links themselves and never descends through them.
        std::error_code error;
        std::filesystem::remove_all(folder, error);
        lock.lock();
        deleting_.clear();
        wake_.notify_all();
    }
}

void FolderDiscarder::finish() {
    std::unique_lock lock(mutex_);
    if (!worker_.joinable()) return;
    now_ = true;
    wake_.notify_all();
    wake_.wait(lock, [&] { return queue_.empty() && deleting_.empty(); });
    now_ = false;
}

std::vector<std::filesystem::path> FolderDiscarder::pending() const {
    std::lock_guard lock(mutex_);
    std::vector<std::filesystem::path> folders(queue_.begin(), queue_.end());
    if (!deleting_.empty()) folders.push_back(deleting_);
    return folders;
}

HResult CheckImportable(const std::filesystem::path& peFile, std::string* cause) {
    auto because = [&](std::string text) {
        if (cause != nullptr) *cause = std::move(text);
    };
    because({});
    // Most files are decided by their first bytes alone: the checked headers and the section table
    // lie inside SizeOfHeaders. A file read only that far passes when its SizeOfHeaders lies inside
    // what was read, so every byte the check looked at was the file's own; anything else is decided
    // on the whole file as before, with the same reasons.
    {
        constexpr std::uint64_t kHeadBytes = 64 * 1024;
        // More than the NT headers' fixed fields and data directories take, whatever their stated size.
        constexpr std::uint64_t kNtHeadersReach = 1024;
        PartialFileImage head;
        if (head.open(peFile).succeeded()) {
            const std::uint64_t loaded = std::min<std::uint64_t>(head.bytes().size(), kHeadBytes);
            Bytes image = head.bytes();
            PeImage parsed;
            if (head.load(0, loaded).succeeded() && image.size() >= 2 && image[0] == std::byte{'M'} &&
                image[1] == std::byte{'Z'} && parsePeImage(image, parsed).succeeded() &&
                parsed.sizeOfHeaders <= loaded && parsed.peHeaderOffset + kNtHeadersReach <= loaded)
                return kOk;
        }
    }
    MappedFile file;
    if (HResult hr = OpenMappedFile(peFile, file); hr.failed()) {
        if (hr == hresultFromWin32(win32::kFileNotFound) || hr == hresultFromWin32(win32::kPathNotFound)) {
            because(std::string(Localized(kFileMissing)));
        } else if (hr == hresultFromWin32(win32::kAccessDenied)) {
            because(std::string(Localized(kNoReadPermission)));
        } else if (hr == hresultFromWin32(win32::kFileInvalid)) {
            because(std::string(Localized(kEmptyFile)));
        }
        return ReportError(true, kSource, __LINE__, hr);
    }
    Bytes image = file.bytes();
    PeImage parsed;
    std::uint64_t cutShortAt = 0;
    const bool mz = image.size() >= 2 && image[0] == std::byte{'M'} && image[1] == std::byte{'Z'};
    if (!mz || parsePeImage(image, parsed, nullptr, &cutShortAt).failed()) {
        because(mz && cutShortAt != 0 ? safeFormat(Localized(kCutShort), {cutShortAt})
                                      : std::string(Localized(kNotPeFile)));
        ReportMessage(true, kSource, __LINE__, kNotRecognised, {pathToUtf8(peFile)});
        return kFail;
    }
    return kOk;
}

CKsDoc::CKsDoc(std::filesystem::path workingFolder) : workingFolder_(std::move(workingFolder)) {}

void CKsDoc::releaseProject() {
    history_.clear();
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
    // The files the import wrote, as it left them: the state to compare with later is taken from
    // them rather than from looking at each file again.
    std::vector<WrittenFile> importedFiles;
    if (!hasProjectExtension(path)) {
        // Temp is only cleared for a file that can be imported, and never of the file itself: it
        // may be the compiled output lying in Temp.
        std::string cause;
        if (CheckImportable(path, &cause).failed()) {
            // The system's text ("file not found") does not say which file: ours does, with the
            // cause in words on the first lines.
            if (cause.empty()) {
                ReportMessage(false, kSource, __LINE__, kCannotOpen, {pathToUtf8(path)});
            } else {
                ReportMessage(false, kSource, __LINE__, kCannotOpenBecause, {pathToUtf8(path), cause});
            }
            ShowErrorDialog();
            return false;
        }
        // The previous import is moved aside in one rename and deleted later; a file being imported
        // from inside the working folder keeps it where it is, and then the folder is cleared in
        // place around that file.
        const bool movedAside = !liesInside(path, workingFolder_) &&
                                discarder_.moveAside(workingFolder_, {path, projectPath_, resourceFilePath_});
        if (HResult hr = movedAside ? HResult(kOk) : ClearWorkingFolder(workingFolder_, path); hr.failed()) {
            // Files of an earlier import would be mixed into this one.
            RecordError(true, kSource, __LINE__, hr);
            ReportMessage(false, kSource, __LINE__, "未能清空工作目录 %s。", {pathToUtf8(workingFolder_)});
            ShowErrorDialog();
            return false;
        }
        ImportSummary summary;
        summary.callerTellsBitFields = true;
        summary.callerWantsWrittenFiles = true;
        const HResult imported = DecompileProject(path, workingFolder_, projectFile, &summary);
        importedFiles = std::move(summary.writtenFiles);
        importNotice_ = ImportNotice(summary);
        if (imported.failed()) {
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
    const bool importedHere =
        !importedFiles.empty() && IsSameFile(descriptionPath_.parent_path(), workingFolder_);
    markCompiled(importedHere ? std::move(importedFiles) : std::vector<WrittenFile>());
    return true;
}

std::string ImportNotice(const ImportSummary& summary) {
    if (summary.bitFieldBitmaps <= 0) return {};
    return safeFormat(Localized(kBitFieldBitmapsWarning), {summary.bitFieldBitmaps});
}

std::string CKsDoc::takeImportNotice() {
    return std::exchange(importNotice_, std::string());
}

bool CKsDoc::CheckModified() {
    if (!modified_ && isOpen() && !FolderMatchesState(descriptionPath_.parent_path(), compiledState_))
        modified_ = true;
    return modified_;
}

void CKsDoc::MarkCompiled() {
    markCompiled({});
}

void CKsDoc::markCompiled(std::vector<WrittenFile> known) {
    compiledState_ = descriptionPath_.empty()
                         ? FolderState{}
                         : ReadFolderState(descriptionPath_.parent_path(), std::move(known));
    modified_ = false;
    history_.clear();
}

bool CKsDoc::keepsBackup() const {
    int keep = 1;
    if (settings_ != nullptr) (void)settings_->GetIntSetting(kBackupSection, kBackupKey, keep, 1);
    return keep != 0;
}

bool CKsDoc::isInWorkingFolder() const {
    return isOpen() &&
           IsSameFile(projectPath_.parent_path().empty() ? "." : projectPath_.parent_path(), workingFolder_);
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
    bool copiedToTarget = false;
    lastSaveReachedTarget_ = false;
    HResult hr = description_.SaveFile();
    if (hr.failed()) {
        RecordError(true, kSource, __LINE__, hr);
        ReportMessage(false, kSource, __LINE__, kCannotCreate, {pathToUtf8(descriptionPath_)});
        ShowErrorDialog();
        result = false;
    } else {
        // Save As writes where the user has just said; plain Save asks before it replaces the PE
        // file. Whatever replaces the original PE file keeps the previous one as a backup.
        const std::filesystem::path destination = saveAs_ ? path : resourceFilePath_;
        CompileCopy copy;
        copy.ask = !saveAs_;
        copy.keepBackup = keepsBackup() && IsSameFile(destination, resourceFilePath_);
        hr = CompileFile(saveAs_ ? std::optional<std::filesystem::path>(path) : std::nullopt,
                         resourceFilePath_, descriptionPath_, true, copy, &copiedToTarget);
        if (hr.failed()) {
            ShowErrorDialog();
            result = false;
        }
    }

    // Only a PE file that now holds the compiled image is imported again; after "No" (or a failure)
    // the current project is reopened, so that its edits and the compiled file stay.
    const std::filesystem::path target = saveAs_ ? path : resourceFilePath_;
    const std::filesystem::path compiled = descriptionPath_.parent_path() / resourceFilePath_.filename();
    bool copied = hr.succeeded() &&
                  (copiedToTarget || IsSameFile(compiled, target) || FilesHaveSameContent(compiled, target));
    lastSaveReachedTarget_ = copied;
    bool reopened = OpenProject(copied ? target : projectPath_);
    if (view_ != nullptr) view_->OnInitialUpdate();
    // A compiled file left only in the working folder that every import clears does not keep the
    // edits: the document stays modified, so that closing or opening another file still asks.
    if (reopened) modified_ = !result || (!copied && isInWorkingFolder());
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
    compiledState_.clear();
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
