#include "core/platform/status.h"

#include <cerrno>
#include <system_error>

namespace kestrel {

std::uint32_t win32FromErrno(int err, const std::filesystem::path* path) {
    switch (err) {
        case ENOENT: {
            if (path != nullptr && path->has_parent_path()) {
                std::error_code ec;
                auto parent = path->parent_path();
                if (!parent.empty() && !std::filesystem::is_directory(parent, ec))
                    return win32::kPathNotFound;
            }
            return win32::kFileNotFound;
        }
        case ENOTDIR:
            return win32::kPathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
            return win32::kAccessDenied;
        case EMFILE:
        case ENFILE:
            return win32::kTooManyOpenFiles;
        case EBUSY:
#ifdef ETXTBSY
        case ETXTBSY:
#endif
            return win32::kSharingViolation;
        case EEXIST: {
            std::error_code ec;
            if (path != nullptr && std::filesystem::is_directory(*path, ec)) return win32::kAlreadyExists;
            return win32::kFileExists;
        }
        case EINVAL:
            return win32::kInvalidParameter;
        case ENOSPC:
#ifdef EDQUOT  // not in the Windows C runtime
        case EDQUOT:
#endif
            return win32::kDiskFull;
        case ENOTEMPTY:
            return win32::kDirNotEmpty;
        case ENAMETOOLONG:
            return win32::kFilenameExcedRange;
        case EFBIG:
            return win32::kFileTooLarge;
        case EROFS:
            return win32::kWriteProtect;
        case EXDEV:
            return win32::kNotSameDevice;
        case EIO:
            return win32::kIoDevice;
        case ELOOP:
            return win32::kCantResolveFilename;
        default:
            return 0xF000u | (static_cast<std::uint32_t>(err) & 0xFFFu);
    }
}

HResult hresultFromErrno(int err, const std::filesystem::path* path) {
    if (err == ENOMEM) return kOutOfMemory;
    if (err == 0) return kFail;
    return hresultFromWin32(win32FromErrno(err, path));
}

}  // namespace kestrel
