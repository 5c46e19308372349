#include "Indexes.h"

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

namespace encoding {
namespace {

struct Label {
    const char *label;
    Encoding encoding;
};

struct Gb18030Range {
    std::uint32_t pointer;
    std::uint32_t codePoint;
};

#include "IndexTables.inc"

template <std::size_t N> char32_t at(const std::uint16_t (&table)[N], std::uint32_t pointer) {
    return pointer < N ? table[pointer] : 0;
}

// An index turned around for the encoders: its (code point, pointer) pairs sorted, so that
// the pointers of one code point follow each other, the first one first. Built on first use.
class Reverse {
public:
    template <typename CodePointAt> Reverse(std::uint32_t size, CodePointAt codePointAt) {
        for (std::uint32_t pointer = 0; pointer < size; ++pointer) {
            if (const char32_t codePoint = codePointAt(pointer))
                m_pairs.emplace_back(codePoint, pointer);
        }
        std::sort(m_pairs.begin(), m_pairs.end());
    }

    // The first pointer for `codePoint` that `wanted` accepts (the last one with
    // `last`).
    template <typename Wanted>
    std::optional<std::uint32_t> pointer(char32_t codePoint, Wanted wanted,
                                         bool last = false) const {
        auto it = std::lower_bound(m_pairs.begin(), m_pairs.end(),
                                   std::pair<char32_t, std::uint32_t>(codePoint, 0));
        std::optional<std::uint32_t> found;
        for (; it != m_pairs.end() && it->first == codePoint; ++it) {
            if (!wanted(it->second))
                continue;
            found = it->second;
            if (!last)
                break;
        }
        return found;
    }
    std::optional<std::uint32_t> pointer(char32_t codePoint) const {
        return pointer(codePoint, [](std::uint32_t) { return true; });
    }

private:
    std::vector<std::pair<char32_t, std::uint32_t>> m_pairs;
};

template <std::size_t N> Reverse reverseOf(const std::uint16_t (&table)[N]) {
    return Reverse(N, [&](std::uint32_t pointer) { return char32_t(table[pointer]); });
}

} // namespace

// The names and labels live here beside the indexes, generated with them.

std::optional<Encoding> encodingForLabel(std::string_view label) {
    const auto isWhitespace = [](char c) {
        return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
    };
    while (!label.empty() && isWhitespace(label.front()))
        label.remove_prefix(1);
    while (!label.empty() && isWhitespace(label.back()))
        label.remove_suffix(1);
    char lower[24];
    if (label.size() >= sizeof lower)
        return std::nullopt;
    for (std::size_t i = 0; i < label.size(); ++i) {
        const char c = label[i];
        lower[i] = c >= 'A' && c <= 'Z' ? char(c + ('a' - 'A')) : c;
    }
    const std::string_view key(lower, label.size());
    const Label *end = std::end(labels);
    const Label *found = std::lower_bound(
        std::begin(labels), end, key,
        [](const Label &entry, std::string_view wanted) { return entry.label < wanted; });
    if (found == end || found->label != key)
        return std::nullopt;
    return found->encoding;
}

std::string_view name(Encoding encoding) {
    return encodingNames[std::size_t(encoding)];
}

namespace index {

const std::uint16_t *singleByte(Encoding encoding) {
    return singleByteIndexes[std::size_t(encoding) - std::size_t(Encoding::Ibm866)];
}

std::optional<std::uint32_t> singleBytePointer(Encoding encoding, char32_t codePoint) {
    const std::uint16_t *table = singleByte(encoding);
    for (std::uint32_t pointer = 0; pointer < 128; ++pointer) {
        if (table[pointer] == codePoint)
            return pointer;
    }
    return std::nullopt;
}

char32_t jis0208(std::uint32_t pointer) {
    return at(indexJis0208, pointer);
}

char32_t jis0212(std::uint32_t pointer) {
    return at(indexJis0212, pointer);
}

char32_t eucKr(std::uint32_t pointer) {
    return at(indexEucKr, pointer);
}

char32_t gb18030(std::uint32_t pointer) {
    return at(indexGb18030, pointer);
}

char32_t big5(std::uint32_t pointer) {
    const char32_t low = at(indexBig5, pointer);
    if (low && (indexBig5Plane2[pointer / 32] >> (pointer % 32) & 1))
        return 0x20000 + low;
    return low;
}

char32_t iso2022JpKatakana(std::uint32_t pointer) {
    return at(indexIso2022JpKatakana, pointer);
}

char32_t gb18030RangesCodePoint(std::uint32_t pointer) {
    if ((pointer > 39419 && pointer < 189000) || pointer > 1237575)
        return 0;
    if (pointer == 7457)
        return 0xE7C7;
    const Gb18030Range *range = std::upper_bound(
        std::begin(indexGb18030Ranges), std::end(indexGb18030Ranges), pointer,
        [](std::uint32_t wanted, const Gb18030Range &entry) { return wanted < entry.pointer; });
    --range; // the last range whose pointer is at most `pointer`; the first one's is 0
    return range->codePoint + pointer - range->pointer;
}

std::uint32_t gb18030RangesPointer(char32_t codePoint) {
    if (codePoint == 0xE7C7)
        return 7457;
    const Gb18030Range *range = std::upper_bound(
        std::begin(indexGb18030Ranges), std::end(indexGb18030Ranges), codePoint,
        [](char32_t wanted, const Gb18030Range &entry) { return wanted < entry.codePoint; });
    --range; // the encoder asks only for code points from U+0080 on, the first range's
    return range->pointer + codePoint - range->codePoint;
}

std::optional<std::uint32_t> jis0208Pointer(char32_t codePoint) {
    static const Reverse reverse = reverseOf(indexJis0208);
    return reverse.pointer(codePoint);
}

std::optional<std::uint32_t> shiftJisPointer(char32_t codePoint) {
    static const Reverse reverse = reverseOf(indexJis0208);
    // Pointers 8272 to 8835 are NEC's duplicates of IBM's extensions, which come later in
    // the index and are the ones written.
    return reverse.pointer(codePoint,
                           [](std::uint32_t pointer) { return pointer < 8272 || pointer > 8835; });
}

std::optional<std::uint32_t> eucKrPointer(char32_t codePoint) {
    static const Reverse reverse = reverseOf(indexEucKr);
    return reverse.pointer(codePoint);
}

std::optional<std::uint32_t> gb18030Pointer(char32_t codePoint) {
    static const Reverse reverse = reverseOf(indexGb18030);
    return reverse.pointer(codePoint);
}

std::optional<std::uint32_t> big5Pointer(char32_t codePoint) {
    static const Reverse reverse(std::uint32_t(std::size(indexBig5)), big5);
    // The Hong Kong Supplementary Character Set, below lead 0xA1, is never written.
    const auto notHkscs = [](std::uint32_t pointer) { return pointer >= (0xA1 - 0x81) * 157; };
    const bool last = codePoint == 0x2550 || codePoint == 0x255E || codePoint == 0x2561 ||
                      codePoint == 0x256A || codePoint == 0x5341 || codePoint == 0x5345;
    return reverse.pointer(codePoint, notHkscs, last);
}

} // namespace index
} // namespace encoding
