// Writes synthetic PE32 images for the sample and the tests.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrel::pebuilder {

// A minimal valid PE32 image with .text, an empty .rsrc and .reloc (placeholder; the full builder
// takes a resource tree).
std::vector<std::byte> buildMinimalImage();

}  // namespace kestrel::pebuilder
