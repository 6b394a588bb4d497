#include "core/images/alpha_draw.h"

namespace kestrel {

HResult DrawAlphaDib(Bytes, const PixelTarget&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                     std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
    return kInvalidArg;
}
HResult DrawAlphaDibFrame(Bytes, const PixelTarget&, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          std::int32_t, std::int32_t, std::int32_t, std::int32_t, std::int32_t,
                          std::int32_t) {
    return kInvalidArg;
}

}  // namespace kestrel
