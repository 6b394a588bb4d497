#include "core/images/dib.h"

namespace kestrel {

HResult validateDib(Bytes, DibInfo& info, DibLayout) {
    info = DibInfo{};
    return kInvalidArg;
}

}  // namespace kestrel
