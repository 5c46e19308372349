#include "CharacterReferences.h"

#include "Ascii.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string_view>

namespace linkscan {
namespace {

struct NamedRef {
    const char *name;
    unsigned char length;
    char32_t first;
    char32_t second;
};

const NamedRef namedRefs[] = {
#include "NamedCharRefs.inc"
};

constexpr std::size_t longestRefName = 32;

void appendUtf8(std::vector<char> &out, char32_t c) {
    if (c < 0x80) {
        out.push_back(char(c));
    } else if (c < 0x800) {
        out.push_back(char(0xC0 | (c >> 6)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(char(0xE0 | (c >> 12)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    } else {
        out.push_back(char(0xF0 | (c >> 18)));
        out.push_back(char(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(char(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(char(0x80 | (c & 0x3F)));
    }
}

// What numeric references to 0x80..0x9F stand for: windows-1252, as the web has always read
// them (0 where the number stays).
constexpr char16_t c1Replacements[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

// Reads the character reference whose '&' is just before `p` and appends what it stands for
// (or the text itself, when it is none) to `out`; returns where reading goes on.
// `inAttribute` selects the attribute value rules for references without a semicolon.
// `overflow` is set when a numeric reference has a number beyond 32 bits.
const char *readCharRef(const char *p, const char *end, bool inAttribute, std::vector<char> &out,
                        bool &overflow) {
    if (p == end) {
        out.push_back('&');
        return p;
    }
    if (*p == '#') {
        const char *q = p + 1;
        const bool hex = q < end && (*q == 'x' || *q == 'X');
        if (hex)
            ++q;
        const char *digits = q;
        std::uint32_t value = 0;
        std::uint64_t exact = 0;
        while (q < end && (hex ? isHex(static_cast<unsigned char>(*q))
                               : isDigit(static_cast<unsigned char>(*q)))) {
            const unsigned char c = lower(static_cast<unsigned char>(*q));
            const std::uint32_t digit = isDigit(c) ? c - '0' : c - 'a' + 10;
            exact = std::min<std::uint64_t>(exact * (hex ? 16 : 10) + digit, 1ull << 40);
            value = std::uint32_t(std::min<std::uint64_t>(exact, 0x110000));
            ++q;
        }
        if (exact > 0x7FFFFFFF)
            overflow = true;
        if (q == digits) {
            // No digits: the text stays as it is.
            out.push_back('&');
            return p;
        }
        if (q < end && *q == ';')
            ++q;
        char32_t c = value;
        if (value == 0 || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            c = 0xFFFD;
        else if (value >= 0x80 && value <= 0x9F && c1Replacements[value - 0x80])
            c = c1Replacements[value - 0x80];
        appendUtf8(out, c);
        return q;
    }
    if (!isAlnum(static_cast<unsigned char>(*p))) {
        out.push_back('&');
        return p;
    }
    // The longest name in the table that the text starts with.
    char name[longestRefName];
    std::size_t available = 0;
    while (available < longestRefName && p + available < end) {
        const char c = p[available];
        name[available++] = c;
        if (!isAlnum(static_cast<unsigned char>(c)))
            break; // a ';' ends every name; anything else ends the search
    }
    const NamedRef *match = nullptr;
    for (std::size_t length = available; length > 0 && !match; --length) {
        const std::string_view wanted(name, length);
        const NamedRef *found =
            std::lower_bound(std::begin(namedRefs), std::end(namedRefs), wanted,
                             [](const NamedRef &ref, std::string_view w) {
                                 return std::string_view(ref.name, ref.length) < w;
                             });
        if (found != std::end(namedRefs) && std::string_view(found->name, found->length) == wanted)
            match = found;
    }
    if (!match) {
        out.push_back('&');
        return p;
    }
    const char *after = p + match->length;
    if (inAttribute && match->name[match->length - 1] != ';' && after < end &&
        (*after == '=' || isAlnum(static_cast<unsigned char>(*after)))) {
        out.push_back('&');
        return p;
    }
    appendUtf8(out, match->first);
    if (match->second)
        appendUtf8(out, match->second);
    return after;
}

} // namespace

bool decodeText(const char *p, const char *end, bool inAttribute, std::vector<char> &out) {
    bool overflow = false;
    while (p < end) {
        const char c = *p++;
        if (c == '&') {
            p = readCharRef(p, end, inAttribute, out, overflow);
        } else if (c == '\r') {
            out.push_back('\n');
            if (p < end && *p == '\n')
                ++p;
        } else if (c == 0 && inAttribute) {
            out.insert(out.end(), {char(0xEF), char(0xBF), char(0xBD)});
        } else {
            out.push_back(c);
        }
    }
    return overflow;
}

bool needsDecoding(const char *p, const char *end) {
#ifdef __SSE2__
    // Sixteen bytes a step: most values hold none of the three.
    const __m128i amp = _mm_set1_epi8('&'), cr = _mm_set1_epi8('\r'), nul = _mm_setzero_si128();
    for (; end - p >= 16; p += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i hits =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(bytes, amp), _mm_cmpeq_epi8(bytes, cr)),
                         _mm_cmpeq_epi8(bytes, nul));
        if (_mm_movemask_epi8(hits) != 0)
            return true;
    }
#endif
    for (; p < end; ++p) {
        if (*p == '&' || *p == '\r' || *p == 0)
            return true;
    }
    return false;
}

} // namespace linkscan
