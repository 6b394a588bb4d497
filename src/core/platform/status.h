// Status codes: 32-bit HRESULT-style values with the Windows numbers, so that stored reports and
// messages read the same on every platform.
#pragma once

#include <cstdint>
#include <filesystem>

namespace kestrel {

// The result of every operation that can fail, and of every decoder of untrusted bytes (a PE
// image, a DIB, an icon directory, a string block, a template, a BMP or PNG file):
//
//   HResult DecodeThing(Bytes data, Thing& out);
//
// kOk with `out` filled, or a failure code (kFail for data that is not what it claims to be,
// kOutOfMemory when an allocation fails) with `out` empty or reset. A reason a caller can show
// comes back through an optional out-parameter, never as the return value. Plain checks that
// cannot fail for want of data (does it start with a PNG signature?) may return bool.
struct [[nodiscard]] HResult {
    std::int32_t code = 0;

    constexpr bool failed() const { return code < 0; }
    constexpr bool succeeded() const { return code >= 0; }
    constexpr std::uint32_t value() const { return static_cast<std::uint32_t>(code); }
    static constexpr HResult fromValue(std::uint32_t value) {
        return HResult{static_cast<std::int32_t>(value)};
    }
    friend constexpr bool operator==(HResult, HResult) = default;
};

inline constexpr HResult kOk{0};
inline constexpr HResult kFalse{1};
inline constexpr HResult kFail = HResult::fromValue(0x80004005u);
inline constexpr HResult kOutOfMemory = HResult::fromValue(0x8007000Eu);
inline constexpr HResult kInvalidArg = HResult::fromValue(0x80070057u);
inline constexpr HResult kPointer = HResult::fromValue(0x80004003u);

// Win32 error numbers that the code produces by name.
namespace win32 {
inline constexpr std::uint32_t kFileNotFound = 2;
inline constexpr std::uint32_t kPathNotFound = 3;
inline constexpr std::uint32_t kTooManyOpenFiles = 4;
inline constexpr std::uint32_t kAccessDenied = 5;
inline constexpr std::uint32_t kInvalidHandle = 6;
inline constexpr std::uint32_t kNotSameDevice = 17;
inline constexpr std::uint32_t kWriteProtect = 19;
inline constexpr std::uint32_t kSharingViolation = 32;
inline constexpr std::uint32_t kHandleEof = 38;
inline constexpr std::uint32_t kFileExists = 80;
inline constexpr std::uint32_t kInvalidParameter = 87;
inline constexpr std::uint32_t kDiskFull = 112;
inline constexpr std::uint32_t kDirNotEmpty = 145;
inline constexpr std::uint32_t kAlreadyExists = 183;
inline constexpr std::uint32_t kFilenameExcedRange = 206;
inline constexpr std::uint32_t kFileTooLarge = 223;
inline constexpr std::uint32_t kDirectory = 267;     // "the directory name is invalid"
inline constexpr std::uint32_t kFileInvalid = 1006;  // a mapping of an empty file
inline constexpr std::uint32_t kIoDevice = 1117;
inline constexpr std::uint32_t kCantResolveFilename = 1921;
}  // namespace win32

// 0x8007xxxx from a Win32 error number. A zero number still yields a failure: a failed call must
// never read as success.
constexpr HResult hresultFromWin32(std::uint32_t error) {
    if (error == 0) return kFail;
    return HResult::fromValue(0x80070000u | (error & 0xFFFFu));
}

// The Win32 error number a Windows program would see for `err`. `path`, when given, lets ENOENT
// become "path not found" (3) when the parent folder is missing, as on Windows. An unmapped errno
// yields 0xF000 | err, which the message table shows with strerror.
std::uint32_t win32FromErrno(int err, const std::filesystem::path* path = nullptr);

// The status code for `err` (ENOMEM → E_OUTOFMEMORY, everything else 0x8007xxxx; never success).
HResult hresultFromErrno(int err, const std::filesystem::path* path = nullptr);

// True for codes 0x8007F000..0x8007FFFF, which carry an errno in their low 12 bits.
constexpr bool isErrnoCode(HResult hr) {
    return (hr.value() & 0xFFFFF000u) == 0x8007F000u;
}

}  // namespace kestrel
