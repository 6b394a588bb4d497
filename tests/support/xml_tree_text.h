// A compact text of a parsed XML tree, for comparing trees in tests.
#pragma once

#include <cstddef>
#include <string>

#include "core/xml/xml_document.h"

namespace kestrel::testing {

// name(attr=raw,...){text}[children], siblings separated by ','; an attribute value longer than
// `longValue` bytes is shown as "<size bytes>".
std::string xmlTreeText(const XmlDocument& doc, std::size_t longValue = std::string::npos);

}  // namespace kestrel::testing
