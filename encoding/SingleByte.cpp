// Legacy single-byte encodings.
#include "Codecs.h"
#include "Indexes.h"

#include <cstring>

namespace encoding::detail {

// The single-byte decoder: ASCII bytes as they are, the others through index single-byte.
// Runs of ASCII are copied eight bytes at a time.
void decodeSingleByte(Encoding encoding, std::string_view bytes, std::string &out) {
    const std::uint16_t *table = index::singleByte(encoding);
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t size = bytes.size();
    out.reserve(out.size() + size + size / 8);
    std::size_t i = 0;
    while (i < size) {
        std::size_t run = i;
        while (run + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, p + run, 8);
            if (word & 0x8080808080808080ULL)
                break;
            run += 8;
        }
        while (run < size && p[run] < 0x80)
            ++run;
        out.append(bytes.data() + i, run - i);
        i = run;
        if (i == size)
            break;
        const char32_t codePoint = table[p[i] - 0x80];
        appendUtf8(out, codePoint ? codePoint : 0xFFFD);
        ++i;
    }
}

Encoded encodeSingleByte(Encoding encoding, long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    const std::optional<std::uint32_t> pointer = index::singleBytePointer(encoding, char32_t(item));
    if (!pointer)
        return Encoded::failed(char32_t(item));
    out += char(*pointer + 0x80);
    return Encoded::done();
}

} // namespace encoding::detail
