// Data folder, administrator check and file versions.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/platform/status.h"

namespace kestrel {

// 0 (kOk) when the process runs as the administrator (root), 1 (kFalse) otherwise.
HResult IsUserAdmin();

// The data folder of this user: $XDG_DATA_HOME/Quillon/Kestrel/ ($HOME/.local/share when
// XDG_DATA_HOME is unset or not absolute), created when missing (a failure to create it is left to
// the first write there). Fails with 0x80070003 when neither variable names a folder.
HResult GetDataFolder(std::filesystem::path& folder);

// The root block of a version resource (VS_FIXEDFILEINFO).
struct FixedFileInfo {
    std::uint32_t signature = 0;
    std::uint32_t structVersion = 0;
    std::uint32_t fileVersionMS = 0;
    std::uint32_t fileVersionLS = 0;
    std::uint32_t productVersionMS = 0;
    std::uint32_t productVersionLS = 0;
    std::uint32_t fileFlagsMask = 0;
    std::uint32_t fileFlags = 0;
    std::uint32_t fileOS = 0;
    std::uint32_t fileType = 0;
    std::uint32_t fileSubtype = 0;
    std::uint32_t fileDateMS = 0;
    std::uint32_t fileDateLS = 0;
};

inline constexpr std::uint32_t kFixedFileInfoSignature = 0xFEEF04BD;

// The version compiled into this program.
FixedFileInfo programFileVersion();

// The fixed version block of `path`: this program's own executable gives the compiled-in version;
// a PE file gives the root block of its version resource (ID 1, else the first one).
// 0x80070714 for a file that is not a PE file with resources, 0x80070715 without a version.
HResult GetFileVersion(const std::filesystem::path& path, FixedFileInfo& info);

// Reads the fixed block at the head of a VS_VERSIONINFO resource. E_FAIL when the data is too short,
// the key is not "VS_VERSION_INFO" or the signature is wrong.
HResult parseFixedFileInfo(std::span<const std::byte> versionResource, FixedFileInfo& info);

// True when both files exist and hold the same bytes.
bool filesHaveSameContent(const std::filesystem::path& a, const std::filesystem::path& b);

}  // namespace kestrel
