#include "ui/panes/resource_module.h"

#include <cstdlib>

#include "core/images/dib.h"
#include "core/images/icon_files.h"
#include "core/images/png_codec.h"
#include "core/pe/resource_types.h"
#include "core/platform/files.h"
#include "ui/panes/image_wnd.h"

namespace kestrel::ui {

bool ResourceModule::load(const std::filesystem::path& path) {
    if (isLoaded() && path == path_) return true;
    unload();
    if (path.empty()) return false;
    ++loads_;
    if (ReadWholeFile(path, image_).failed() || lookup_.open(image_).failed()) {
        unload();
        return false;
    }
    path_ = path;
    return true;
}

void ResourceModule::unload() {
    lookup_ = ResourceLookup();
    image_.clear();
    image_.shrink_to_fit();
    path_.clear();
}

std::optional<ResourceKey> ResourceModule::key(const NameOrOrdinal& name) const {
    if (name.isOrdinal()) return ResourceKey::ofId(name.ordinal);
    if (name.isText()) {
        // "#123" names an ID, as the system's lookup reads it.
        if (name.text.size() > 1 && name.text[0] == u'#') {
            unsigned value = 0;
            for (std::size_t i = 1; i < name.text.size(); ++i) {
                const char16_t c = name.text[i];
                if (c < u'0' || c > u'9' || value > 0xFFFF) return std::nullopt;
                value = value * 10 + static_cast<unsigned>(c - u'0');
            }
            if (value > 0xFFFF) return std::nullopt;
            return ResourceKey::ofId(static_cast<std::uint16_t>(value));
        }
        return ResourceKey::ofName(name.text);
    }
    return std::nullopt;
}

std::optional<QString> ResourceModule::string(std::uint16_t id, std::uint16_t language) const {
    if (!isLoaded()) return std::nullopt;
    const ResourceKey type = ResourceKey::ofId(resource_type::kString);
    const ResourceKey block = ResourceKey::ofId(static_cast<std::uint16_t>(id / 16 + 1));
    std::optional<Bytes> data = lookup_.find(type, block, language);
    if (!data) data = lookup_.find(type, block);
    if (!data) return std::nullopt;
    const ByteReader reader(*data);
    std::uint64_t offset = 0;
    for (unsigned entry = 0; entry < 16; ++entry) {
        const std::optional<std::uint16_t> length = reader.u16(offset);
        if (!length) return std::nullopt;
        offset += 2;
        if (entry == id % 16) {
            const std::optional<Bytes> units = reader.span(offset, std::uint64_t{*length} * 2);
            if (!units) return std::nullopt;
            QString text;
            text.reserve(*length);
            const ByteReader unitReader(*units);
            for (std::uint64_t i = 0; i < *length; ++i)
                text.append(QChar(unitReader.u16Or(i * 2, 0)));
            return text;
        }
        offset += std::uint64_t{*length} * 2;
    }
    return std::nullopt;
}

QImage decodeResourcePicture(Bytes data, bool iconImage) {
    if (HasPngSignature(data)) {
        QImage image;
        image.loadFromData(reinterpret_cast<const uchar*>(data.data()), static_cast<int>(data.size()), "PNG");
        return image;
    }
    RgbaImage rgba;
    if (DecodeDib(data, rgba, iconImage ? DibLayout::kIconImage : DibLayout::kBitmap).failed()) return {};
    return wrapRgba(std::move(rgba));
}

QImage ResourceModule::icon(const NameOrOrdinal& name, QSize size) const {
    const std::optional<ResourceKey> group = key(name);
    if (!isLoaded() || !group) return {};
    const std::optional<Bytes> groupData = lookup_.find(ResourceKey::ofId(resource_type::kGroupIcon), *group);
    if (!groupData) return {};
    // The member nearest in width to the wanted size, the deeper one among equals.
    const GroupEntry* best = nullptr;
    const std::vector<GroupEntry> entries = ParseGroupEntries(*groupData);
    auto width = [](const GroupEntry& entry) { return entry.shownWidth == 0 ? 256 : int{entry.shownWidth}; };
    for (const GroupEntry& entry : entries) {
        if (best == nullptr) {
            best = &entry;
            continue;
        }
        const int distance = std::abs(width(entry) - size.width());
        const int bestDistance = std::abs(width(*best) - size.width());
        if (distance < bestDistance || (distance == bestDistance && entry.bitCount > best->bitCount))
            best = &entry;
    }
    if (best == nullptr) return {};
    const std::optional<Bytes> member =
        lookup_.find(ResourceKey::ofId(resource_type::kIcon), ResourceKey::ofId(best->id));
    return member ? decodeResourcePicture(*member, true) : QImage();
}

QImage ResourceModule::bitmap(const NameOrOrdinal& name) const {
    const std::optional<ResourceKey> resource = key(name);
    if (!isLoaded() || !resource) return {};
    const std::optional<Bytes> data = lookup_.find(ResourceKey::ofId(resource_type::kBitmap), *resource);
    return data ? decodeResourcePicture(*data, false) : QImage();
}

}  // namespace kestrel::ui
