#include "core/pe/resource_queries.h"

#include "core/pe/resource_reader.h"
#include "core/pe/resource_types.h"
#include "core/pe/version_info.h"
#include "core/platform/files.h"

namespace kestrel {

namespace {

constexpr std::uint64_t kStringsPerBlock = 16;

// Slot `slot` of a string block: 16 counted UTF-16 strings; kFail with `text` empty when the block
// ends before it.
HResult blockString(Bytes block, std::uint64_t slot, std::u16string& text) {
    text.clear();
    ByteReader reader(block);
    std::uint64_t at = 0;
    for (std::uint64_t index = 0;; ++index) {
        const auto length = reader.u16(at);
        if (!length || !reader.contains(at + 2, std::uint64_t{*length} * 2)) return kFail;
        if (index == slot) {
            text.resize(*length);
            for (std::uint64_t unit = 0; unit < *length; ++unit)
                text[unit] = static_cast<char16_t>(*reader.u16(at + 2 + unit * 2));
            return kOk;
        }
        at += 2 + std::uint64_t{*length} * 2;
    }
}

}  // namespace

HResult QueryVersionString(const std::filesystem::path& peFile, std::u16string_view key,
                           std::optional<std::u16string>& value) {
    value.reset();
    MappedFile file;
    if (HResult hr = OpenMappedFile(peFile, file); hr.failed()) return hr;
    PeImage image;
    if (HResult hr = parsePeImage(file.bytes(), image); hr.failed()) return hr;
    Bytes resource;
    if (FindVersionResource(file.bytes(), resource).failed()) return kOk;
    VersionInfo info;
    if (ParseVersionInfo(resource, info).failed()) return kOk;
    value = GetVersionString(info, key);
    return kOk;
}

HResult QueryResourceString(const std::filesystem::path& peFile, std::uint16_t id,
                            std::optional<std::u16string>& value) {
    value.reset();
    MappedFile file;
    if (HResult hr = OpenMappedFile(peFile, file); hr.failed()) return hr;
    PeImage image;
    if (HResult hr = parsePeImage(file.bytes(), image); hr.failed()) return hr;
    ResourceLookup lookup;
    if (lookup.open(file.bytes()).failed()) return kOk;  // a valid image without resources
    const ResourceKey type = ResourceKey::ofId(resource_type::kString);
    const std::vector<ResourceKey> blocks = lookup.names(type);
    if (blocks.empty()) return kOk;
    const std::vector<std::uint16_t> languages = lookup.languages(type, blocks.front());
    if (languages.empty()) return kOk;
    const auto block = static_cast<std::uint16_t>(id / kStringsPerBlock + 1);
    const std::optional<Bytes> data = lookup.find(type, ResourceKey::ofId(block), languages.front());
    if (!data) return kOk;
    std::u16string text;
    if (blockString(*data, id % kStringsPerBlock, text).succeeded() && !text.empty()) value = std::move(text);
    return kOk;
}

}  // namespace kestrel
