// Reads arbitrary bytes as a dialog template, a menu template and a message table, as the
// translation export and import do. For each kind that decodes:
// - every text is found again when the resource is made with no translation, which gives back
//   the same bytes for templates;
// - with every text translated (longer, moving what follows), the result decodes again, with as
//   many texts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "core/pe/translation.h"

namespace {

using Texts = kestrel::HResult (*)(kestrel::Bytes, std::string_view, std::vector<kestrel::TranslatableText>&);
using Translate = kestrel::HResult (*)(kestrel::Bytes, const std::vector<std::optional<std::u16string>>&,
                                       std::vector<std::byte>&);

void check(kestrel::Bytes bytes, Texts texts, Translate translate, bool sameWhenKept) {
    std::vector<kestrel::TranslatableText> found;
    if (texts(bytes, "1", found).failed()) return;
    std::vector<std::byte> out;
    const std::vector<std::optional<std::u16string>> none(found.size());
    if (translate(bytes, none, out).failed()) std::abort();
    if (sameWhenKept && !std::equal(out.begin(), out.end(), bytes.begin(), bytes.end())) std::abort();
    std::vector<std::optional<std::u16string>> all;
    for (const kestrel::TranslatableText& text : found)
        all.emplace_back(u"\u00DC:" + text.text + u"!");
    if (translate(bytes, all, out).failed()) return;  // a message entry may grow past its limit
    std::vector<kestrel::TranslatableText> again;
    if (texts(out, "1", again).failed() || again.size() != found.size()) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data), size);
    check(bytes, kestrel::DialogTexts, kestrel::TranslateDialog, true);
    check(bytes, kestrel::MenuTexts, kestrel::TranslateMenu, true);
    check(bytes, kestrel::MessageTableTexts, kestrel::TranslateMessageTable, true);
    return 0;
}
