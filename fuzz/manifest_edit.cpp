// Sets the execution level in arbitrary manifest text (the level chosen by the first byte) and
// checks what an accepted edit must hold: the result is accepted again and a second edit to the
// same level changes nothing.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "core/pe/manifest_edit.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    constexpr std::string_view kLevels[] = {"asInvoker", "highestAvailable", "requireAdministrator"};
    const std::string_view level = kLevels[data[0] % 3];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto edited = kestrel::SetRequestedExecutionLevel(text, level);
    if (!edited) return 0;
    const auto again = kestrel::SetRequestedExecutionLevel(*edited, level);
    if (!again || *again != *edited) std::abort();
    return 0;
}
