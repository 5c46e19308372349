// The seen index against the plain search over its text: random resets, appends and
// queries, and every answer must agree.
//
// Input: one byte choosing the segment size (small ones cut the text into many sorted
// segments with borders everywhere), then operations. An operation byte holds the kind in
// its low two bits (0 reset, 1 append, 2 query, 3 query a piece of the text) and a length
// in the rest; the length's bytes follow, each one code unit: bytes below 0x80 stand for
// themselves, the others for units whose encodings take two or three bytes, surrogates
// included. A piece takes two bytes, its start and its length in the text, and is asked
// for as it is and with one more unit. After each append, the place the index gives the
// level lists for the address must hold it.

#include "AddressBytes.h"
#include "SeenText.h"
#include "TextSearch.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

QChar unit(std::uint8_t byte) {
    static constexpr char16_t wide[16] = {0,      0x7F,   0x80,   0x7FF,  0x800,  0xD83D,
                                          0xDE00, 0xFFFF, 0xFFFE, 0x00E9, 0x20AC, 0xDBFF,
                                          0xDC00, 0x0100, 0x8000, 0x00C0};
    return QChar(byte < 0x80 ? char16_t(byte) : wide[byte & 15]);
}

void check(SeenText &seen, const QString &text, const QString &address) {
    const bool expected = textPosition(text, address) > 0;
    if (seen.contains(address) != expected) {
        std::fprintf(stderr, "seen index says %d for an address of %lld units in %lld units\n",
                     int(!expected), qlonglong(address.size()), qlonglong(text.size()));
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::size_t directBytes = data[0] >= 0x80 ? 4096 : 1 + data[0] % 8;
    SeenText seen(directBytes, SeenText::Merges::Awaited);
    QString text;
    std::size_t at = 1;
    while (at < size) {
        const int kind = data[at] & 3;
        std::size_t length = data[at] >> 2;
        ++at;
        if (kind == 3) {
            if (at + 2 > size)
                break;
            const qsizetype from = data[at] % (text.size() + 1);
            const QString piece = text.mid(from, data[at + 1] % (text.size() - from + 1));
            check(seen, text, piece);
            check(seen, text, piece + unit(data[at + 1]));
            at += 2;
            continue;
        }
        length = std::min(length, size - at);
        QString argument;
        for (std::size_t i = 0; i < length; ++i)
            argument += unit(data[at + i]);
        at += length;
        if (kind == 0) {
            seen.reset(argument);
            text = argument;
        } else if (kind == 1) {
            seen.append(argument);
            text += u',' + argument;
            const std::optional<SeenText::Place> place = seen.lastAppended(argument);
            const std::string_view bytes(*seen.store());
            if (!place || addressFromBytes(bytes.substr(place->begin, place->size)) != argument) {
                std::fprintf(stderr, "seen index places an appended address wrongly\n");
                std::abort();
            }
        } else {
            check(seen, text, argument);
        }
    }
    if (seen.text() != text) {
        std::fprintf(stderr, "seen index keeps a text other than the one appended\n");
        std::abort();
    }
    return 0;
}
