#include "pe_builder/pe_builder.h"

namespace kestrel::pebuilder {

std::vector<std::byte> buildMinimalImage() {
    return {};
}

}  // namespace kestrel::pebuilder
