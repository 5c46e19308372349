#pragma once

#include "CodePoints.h"

#include <optional>

namespace urltext {

// Parses the host between "//" (or "@") and the port or path, returning it as the href
// spells it: "[v6]", dotted IPv4, an ASCII domain, or an opaque host for non-special schemes
// (`isOpaque`). Nothing when the host is not valid.
std::optional<QString> parseHost(CodePointView input, bool isOpaque);

} // namespace urltext
