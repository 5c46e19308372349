// Legacy multi-byte Chinese (traditional) encodings: Big5.
#include "Codecs.h"
#include "Indexes.h"

namespace encoding::detail {
namespace {

class Big5Decoder {
public:
    static constexpr bool asciiRunsAsIs = true;
    bool idle() const { return m_lead == 0; }

    Decoded handle(int byte, std::size_t &position) {
        if (byte == EndOfQueue && m_lead != 0) {
            m_lead = 0;
            return Decoded::error();
        }
        if (byte == EndOfQueue)
            return Decoded::finished();
        if (m_lead != 0) {
            const int lead = m_lead;
            std::optional<std::uint32_t> pointer;
            m_lead = 0;
            const int offset = byte < 0x7F ? 0x40 : 0x62;
            if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0xA1 && byte <= 0xFE))
                pointer = (lead - 0x81) * 157 + (byte - offset);
            // Four pointers stand for a letter and a combining mark, which the index, one
            // code point a pointer, cannot hold.
            if (pointer == 1133u)
                return Decoded::codePoints(0x00CA, 0x0304);
            if (pointer == 1135u)
                return Decoded::codePoints(0x00CA, 0x030C);
            if (pointer == 1164u)
                return Decoded::codePoints(0x00EA, 0x0304);
            if (pointer == 1166u)
                return Decoded::codePoints(0x00EA, 0x030C);
            const char32_t codePoint = pointer ? index::big5(*pointer) : 0;
            if (codePoint)
                return Decoded::codePoint(codePoint);
            if (isAscii(byte))
                --position;
            return Decoded::error();
        }
        if (isAscii(byte))
            return Decoded::codePoint(char32_t(byte));
        if (byte >= 0x81 && byte <= 0xFE) {
            m_lead = byte;
            return Decoded::carryOn();
        }
        return Decoded::error();
    }

private:
    int m_lead = 0;
};

} // namespace

void decodeBig5(std::string_view bytes, std::string &out) {
    Big5Decoder decoder;
    runDecoder(decoder, bytes, out);
}

Encoded encodeBig5(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    const std::optional<std::uint32_t> pointer = index::big5Pointer(char32_t(item));
    if (!pointer)
        return Encoded::failed(char32_t(item));
    const std::uint32_t lead = *pointer / 157 + 0x81;
    const std::uint32_t trail = *pointer % 157;
    const std::uint32_t offset = trail < 0x3F ? 0x40 : 0x62;
    out += char(lead);
    out += char(trail + offset);
    return Encoded::done();
}

} // namespace encoding::detail
