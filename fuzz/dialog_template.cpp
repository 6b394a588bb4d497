// Reads arbitrary bytes as a dialog template. What decodes must:
// - hold as many items as the template's count, and a font block exactly when DS_SETFONT is set;
// - decode the same wherever its bytes are held and with any bytes after them.
// What fails must leave the output empty.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/pe/dialog_template.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    kestrel::DialogTemplate dialog;
    dialog.title = u"stale";
    dialog.items.resize(1);
    if (kestrel::DecodeDialogTemplate(bytes, dialog).failed()) {
        if (!(dialog == kestrel::DialogTemplate{})) std::abort();
        return 0;
    }
    const kestrel::ByteReader header(bytes);
    if (dialog.items.size() != header.u16(dialog.extended ? 16 : 8)) std::abort();
    if (dialog.hasFont != ((dialog.style & kestrel::kDsSetFont) != 0)) std::abort();

    // Shifted by one to three bytes, with bytes after the end.
    const std::size_t shift = 1 + size % 3;
    std::vector<std::byte> held(shift, std::byte{0x5A});
    held.insert(held.end(), bytes.begin(), bytes.end());
    held.insert(held.end(), 7, std::byte{0xA5});
    kestrel::DialogTemplate moved;
    if (kestrel::DecodeDialogTemplate(kestrel::Bytes(held).subspan(shift), moved).failed()) std::abort();
    if (!(moved == dialog)) std::abort();
    return 0;
}
