#pragma once

// The standard's indexes and the operations on them ("index code point", "index pointer"
// and their special forms), over the generated tables of IndexTables.inc. A null result is
// 0 for a code point (no index maps to U+0000) and nullopt for a pointer.

#include "Encoding.h"

#include <cstdint>
#include <optional>

namespace encoding::index {

// Index single-byte of a single-byte encoding (IBM866 to x-mac-cyrillic): 128 code points.
const std::uint16_t *singleByte(Encoding encoding);
std::optional<std::uint32_t> singleBytePointer(Encoding encoding, char32_t codePoint);

char32_t jis0208(std::uint32_t pointer);
char32_t jis0212(std::uint32_t pointer);
char32_t eucKr(std::uint32_t pointer);
char32_t gb18030(std::uint32_t pointer);
char32_t big5(std::uint32_t pointer);
char32_t iso2022JpKatakana(std::uint32_t pointer);
char32_t gb18030RangesCodePoint(std::uint32_t pointer);

std::optional<std::uint32_t> jis0208Pointer(char32_t codePoint);
std::optional<std::uint32_t> shiftJisPointer(char32_t codePoint);
std::optional<std::uint32_t> eucKrPointer(char32_t codePoint);
std::optional<std::uint32_t> gb18030Pointer(char32_t codePoint);
std::optional<std::uint32_t> big5Pointer(char32_t codePoint);
std::uint32_t gb18030RangesPointer(char32_t codePoint);

} // namespace encoding::index
