// Reads arbitrary bytes as a version resource (first byte 0) or, for any other first byte, as a PE
// image whose version resource is found through the resource lookup. What parses must:
// - write back as exactly the bytes it was read from;
// - read back as the same tree when every node is laid out from its fields;
// - take the edits (fixed block, a string, the translation) and read back with them in place; for
//   a string and the translation that is promised where the block was whole (every node complete,
//   every child on its 32-bit boundary).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/pe/version_info.h"

namespace {

using kestrel::VersionNode;

bool sameFields(const VersionNode& a, const VersionNode& b) {
    if (a.key != b.key || a.keyTerminated != b.keyTerminated || a.type != b.type ||
        a.valueLength != b.valueLength || a.value != b.value || !(a.keyPadding == b.keyPadding) ||
        !(a.padding == b.padding) || !(a.endPadding == b.endPadding) || a.trailing != b.trailing ||
        a.children.size() != b.children.size())
        return false;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        if (!sameFields(a.children[i], b.children[i])) return false;
    }
    return true;
}

// Complete, and every child where a plain writer would put it.
bool whole(const VersionNode& node) {
    if (!node.keyTerminated || node.cutOff || !node.trailing.empty()) return false;
    for (const VersionNode& child : node.children) {
        if (child.padding.alignment != 0 || child.padding.bytes.size() > 3 || !whole(child)) return false;
    }
    return true;
}

kestrel::VersionInfo reread(const kestrel::VersionInfo& info) {
    std::vector<std::byte> bytes;
    kestrel::VersionInfo parsed;
    if (kestrel::WriteVersionInfo(info, bytes).failed()) std::abort();
    if (kestrel::ParseVersionInfo(kestrel::asBytes(bytes), parsed).failed()) std::abort();
    return parsed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const kestrel::Bytes rest(reinterpret_cast<const std::byte*>(data + 1), size - 1);
    kestrel::Bytes resource = rest;
    if (data[0] != 0 && kestrel::FindVersionResource(rest, resource).failed()) return 0;

    kestrel::VersionInfo info;
    if (kestrel::ParseVersionInfo(resource, info).failed()) return 0;
    std::vector<std::byte> written;
    if (kestrel::WriteVersionInfo(info, written).failed()) std::abort();
    if (!std::equal(written.begin(), written.end(), resource.begin(), resource.end())) std::abort();

    kestrel::VersionInfo laidOut = info;
    kestrel::DropOriginalBytes(laidOut.root);
    if (kestrel::WriteVersionInfo(laidOut, written).failed()) std::abort();
    if (!std::equal(written.begin(), written.end(), resource.begin(), resource.end())) std::abort();
    const kestrel::VersionInfo laidOutRead = reread(laidOut);
    if (!sameFields(laidOutRead.root, info.root) || laidOutRead.trailing != info.trailing) std::abort();

    // The edit texts come from the input, so that their lengths and parities vary.
    const std::size_t textLength = std::min<std::size_t>(resource.size() % 23, 12);
    std::u16string value;
    for (std::size_t i = 0; i < textLength; ++i)
        value.push_back(static_cast<char16_t>(u'a' + (static_cast<unsigned>(resource[i]) % 26)));
    kestrel::FixedFileInfo fixed = kestrel::GetFixedFileInfo(info).value_or(kestrel::FixedFileInfo{});
    fixed.signature = kestrel::kFixedFileInfoSignature;
    fixed.setFileVersion({1, 2, 3, static_cast<std::uint16_t>(resource.size())});
    const kestrel::VersionTranslation translation{0x0407, static_cast<std::uint16_t>(1200 + textLength)};

    kestrel::VersionInfo edited = info;
    kestrel::SetFixedFileInfo(edited, fixed);
    kestrel::SetVersionString(edited, u"ProductVersion", value);
    kestrel::SetVersionString(edited, u"Comments", value);
    kestrel::SetVersionTranslation(edited, translation);
    std::vector<std::byte> editedBytes;
    if (kestrel::WriteVersionInfo(edited, editedBytes).failed()) return 0;  // grew past 64 KiB
    kestrel::VersionInfo editedRead;
    if (kestrel::ParseVersionInfo(kestrel::asBytes(editedBytes), editedRead).failed()) std::abort();
    if (kestrel::GetFixedFileInfo(editedRead) != fixed) std::abort();
    if (whole(info.root)) {
        if (kestrel::GetVersionString(editedRead, u"ProductVersion") != value ||
            kestrel::GetVersionString(editedRead, u"Comments") != value ||
            kestrel::GetVersionTranslation(editedRead) != translation)
            std::abort();
    }
    return 0;
}
