#pragma once

// Character references, as the tokenizer reads them in text and in attribute values.

#include <vector>

namespace linkscan {

// Appends the value of [p, end) as the tokenizer reads it in an attribute or in text. Returns
// true when a numeric reference in it overflowed, which gumbo reads otherwise than browsers.
bool decodeText(const char *p, const char *end, bool inAttribute, std::vector<char> &out);

// Whether [p, end) reads otherwise than as it is written in an attribute value.
bool needsDecoding(const char *p, const char *end);

} // namespace linkscan
