// Reads arbitrary bytes two ways, for accelerator tables, menus, message tables and dialogs (the first
// byte chooses the type):
// - as a resource: what decodes to text must compile back to exactly these bytes;
// - as script text: what compiles must decode to a text that compiles to the same bytes again.
// A failed compile must leave the output empty and name a place inside the text.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/pe/rc_script.h"

namespace {

using Decode = kestrel::HResult (*)(kestrel::Bytes, const kestrel::ScriptOptions&, kestrel::ScriptText&);
using Compile = kestrel::HResult (*)(std::string_view, std::vector<std::byte>&, kestrel::ScriptError&);

void checkFailure(std::string_view text, const std::vector<std::byte>& out,
                  const kestrel::ScriptError& error) {
    if (!out.empty() || error.line < 1 || error.column < 1 || error.message.empty()) std::abort();
    const auto lines = static_cast<int>(std::count(text.begin(), text.end(), '\n'));
    if (error.line > lines + 2) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr Decode decoders[] = {kestrel::AcceleratorsToScript, kestrel::MenuToScript,
                                   kestrel::MessageTableToScript, kestrel::DialogToScript};
    constexpr Compile compilers[] = {kestrel::CompileAcceleratorsScript, kestrel::CompileMenuScript,
                                     kestrel::CompileMessageTableScript, kestrel::CompileDialogScript};
    const std::size_t kind = data[0] % 4;
    const kestrel::Bytes bytes(reinterpret_cast<const std::byte*>(data + 1), size - 1);

    kestrel::ScriptText script;
    std::vector<std::byte> compiled;
    kestrel::ScriptError error;
    if (decoders[kind](bytes, kestrel::ScriptOptions{}, script) == kestrel::kOk) {
        if (compilers[kind](script.text, compiled, error).failed()) std::abort();
        if (!std::equal(compiled.begin(), compiled.end(), bytes.begin(), bytes.end())) std::abort();
    }

    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    compiled.assign(3, std::byte{1});
    if (compilers[kind](text, compiled, error).failed()) {
        checkFailure(text, compiled, error);
        return 0;
    }
    if (decoders[kind](compiled, kestrel::ScriptOptions{}, script).failed()) return 0;
    std::vector<std::byte> again;
    if (compilers[kind](script.text, again, error).failed() || again != compiled) std::abort();
    return 0;
}
