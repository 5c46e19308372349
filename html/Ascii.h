#pragma once

#include <bit>
#include <cstddef>
#include <cstring>
#include <string_view>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace linkscan {

inline bool isSpace(unsigned char c) {
    return c == ' ' || c == '\n' || c == '\t' || c == '\f' || c == '\r';
}
inline bool isAlpha(unsigned char c) {
    return ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
}
inline bool isDigit(unsigned char c) {
    return c >= '0' && c <= '9';
}
inline bool isAlnum(unsigned char c) {
    return isAlpha(c) || isDigit(c);
}
inline bool isHex(unsigned char c) {
    return isDigit(c) || ((c | 0x20) >= 'a' && (c | 0x20) <= 'f');
}
inline unsigned char lower(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}

// Whether [p, end) starts with `word` (lower case), ignoring ASCII case.
inline bool startsWithNoCase(const char *p, const char *end, std::string_view word) {
    if (std::size_t(end - p) < word.size())
        return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
        if (lower(static_cast<unsigned char>(p[i])) != static_cast<unsigned char>(word[i]))
            return false;
    }
    return true;
}

inline bool equalsNoCase(std::string_view a, std::string_view lowerWord) {
    return a.size() == lowerWord.size() &&
           startsWithNoCase(a.data(), a.data() + a.size(), lowerWord);
}

// The first `c` in [p, end), or null: std::memchr inline, for the short distances between
// one piece of markup and the next, where a call and its set-up cost more than the search.
inline const char *findByte(const char *p, const char *end, char c) {
#ifdef __SSE2__
    const __m128i wanted = _mm_set1_epi8(c);
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        if (const int hits = _mm_movemask_epi8(_mm_cmpeq_epi8(bytes, wanted)))
            return p + std::countr_zero(unsigned(hits));
    }
#endif
    return static_cast<const char *>(std::memchr(p, c, std::size_t(end - p)));
}

} // namespace linkscan
