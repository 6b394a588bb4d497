#include "app/app_files.h"

#include <unistd.h>

#include <cstdlib>

#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/platform/byte_reader.h"
#include "core/platform/files.h"

namespace kestrel {

namespace {

constexpr std::uint32_t kResourceDataNotFound = 1812;
constexpr std::uint32_t kResourceTypeNotFound = 1813;

}  // namespace

HResult IsUserAdmin() {
    return ::geteuid() == 0 ? kOk : kFalse;
}

HResult GetDataFolder(std::filesystem::path& folder) {
    std::filesystem::path base;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') {
        base = dataHome;
    } else {
        const char* home = std::getenv("HOME");
        if (home == nullptr || home[0] != '/') return hresultFromWin32(win32::kPathNotFound);
        base = std::filesystem::path(home) / ".local" / "share";
    }
    std::filesystem::path result = base / "Quillon" / "Kestrel";
    (void)CreateFolderPath(result);
    folder = result / "";
    return kOk;
}

FixedFileInfo programFileVersion() {
    FixedFileInfo info;
    info.signature = kFixedFileInfoSignature;
    info.structVersion = 0x00010000;
    info.fileVersionMS = KESTREL_VERSION_MS;
    info.fileVersionLS = KESTREL_VERSION_LS;
    info.productVersionMS = KESTREL_VERSION_MS;
    info.productVersionLS = KESTREL_VERSION_LS;
    info.fileFlagsMask = 0x3F;
    info.fileOS = 0x00040004;
    info.fileType = 1;  // application
    return info;
}

// VS_VERSIONINFO starts with wLength, wValueLength, wType, the UTF-16 key "VS_VERSION_INFO" with its
// terminator, padding to a 32-bit boundary, and then the 52-byte fixed block.
HResult parseFixedFileInfo(std::span<const std::byte> versionResource, FixedFileInfo& info) {
    static constexpr std::u16string_view kKey = u"VS_VERSION_INFO";
    static constexpr std::size_t kFixedSize = 52;
    ByteReader reader(versionResource);
    auto valueLength = reader.u16(2);
    if (!valueLength || *valueLength < kFixedSize) return kFail;
    std::size_t offset = 6;
    for (char16_t expected : kKey) {
        auto unit = reader.u16(offset);
        if (!unit || *unit != expected) return kFail;
        offset += 2;
    }
    auto terminator = reader.u16(offset);
    if (!terminator || *terminator != 0) return kFail;
    offset += 2;
    offset = (offset + 3) & ~std::size_t{3};
    auto block = reader.slice(offset, kFixedSize);
    if (!block) return kFail;
    FixedFileInfo parsed;
    std::uint32_t* parsedFields[] = {
        &parsed.signature,        &parsed.structVersion,    &parsed.fileVersionMS, &parsed.fileVersionLS,
        &parsed.productVersionMS, &parsed.productVersionLS, &parsed.fileFlagsMask, &parsed.fileFlags,
        &parsed.fileOS,           &parsed.fileType,         &parsed.fileSubtype,   &parsed.fileDateMS,
        &parsed.fileDateLS};
    for (std::size_t i = 0; i < std::size(parsedFields); ++i)
        *parsedFields[i] = *block->u32(i * 4);
    if (parsed.signature != kFixedFileInfoSignature) return kFail;
    info = parsed;
    return kOk;
}

HResult GetFileVersion(const std::filesystem::path& path, FixedFileInfo& info) {
    if (IsSameFile(path, "/proc/self/exe")) {
        info = programFileVersion();
        return kOk;
    }
    MappedFile file;
    if (HResult hr = OpenMappedFile(path, file); hr.failed()) return hr;
    ResourceLookup lookup;
    if (lookup.open(file.bytes()).failed()) return hresultFromWin32(kResourceDataNotFound);
    // The version resource is normally ID 1; any other name is taken when there is no ID 1.
    const ResourceKey versionType = ResourceKey::ofId(resource_type::kVersion);
    std::vector<ResourceKey> names = lookup.names(versionType);
    if (names.empty()) return hresultFromWin32(kResourceTypeNotFound);
    ResourceKey name = names.front();
    for (const ResourceKey& candidate : names) {
        if (candidate == ResourceKey::ofId(1)) name = candidate;
    }
    auto data = lookup.find(versionType, name);
    if (!data) return hresultFromWin32(kResourceTypeNotFound);
    return parseFixedFileInfo(*data, info);
}

bool filesHaveSameContent(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::error_code error;
    auto sizeA = std::filesystem::file_size(a, error);
    if (error) return false;
    auto sizeB = std::filesystem::file_size(b, error);
    if (error || sizeA != sizeB) return false;
    std::vector<std::byte> bytesA;
    std::vector<std::byte> bytesB;
    if (ReadWholeFile(a, bytesA).failed() || ReadWholeFile(b, bytesB).failed()) return false;
    return bytesA == bytesB;
}

}  // namespace kestrel
