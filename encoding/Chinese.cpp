// Legacy multi-byte Chinese (simplified) encodings: gb18030, and GBK, whose decoder is
// gb18030's and whose encoder is gb18030's with "is GBK" set.
#include "Codecs.h"
#include "Indexes.h"

namespace encoding::detail {
namespace {

class Gb18030Decoder {
public:
    static constexpr bool asciiRunsAsIs = true;
    bool idle() const { return m_first == 0 && m_second == 0 && m_third == 0; }

    Decoded handle(int byte, std::size_t &position) {
        if (byte == EndOfQueue && m_first == 0 && m_second == 0 && m_third == 0)
            return Decoded::finished();
        if (byte == EndOfQueue) {
            m_first = m_second = m_third = 0;
            return Decoded::error();
        }
        if (m_third != 0) {
            if (byte < 0x30 || byte > 0x39) {
                position -= 3; // restore second, third and byte
                m_first = m_second = m_third = 0;
                return Decoded::error();
            }
            const char32_t codePoint = index::gb18030RangesCodePoint(
                (m_first - 0x81) * (10 * 126 * 10) + (m_second - 0x30) * (10 * 126) +
                (m_third - 0x81) * 10 + byte - 0x30);
            m_first = m_second = m_third = 0;
            if (!codePoint)
                return Decoded::error();
            return Decoded::codePoint(codePoint);
        }
        if (m_second != 0) {
            if (byte >= 0x81 && byte <= 0xFE) {
                m_third = byte;
                return Decoded::carryOn();
            }
            position -= 2; // restore second and byte
            m_first = m_second = 0;
            return Decoded::error();
        }
        if (m_first != 0) {
            if (byte >= 0x30 && byte <= 0x39) {
                m_second = byte;
                return Decoded::carryOn();
            }
            const int lead = m_first;
            std::optional<std::uint32_t> pointer;
            m_first = 0;
            const int offset = byte < 0x7F ? 0x40 : 0x41;
            if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFE))
                pointer = (lead - 0x81) * 190 + (byte - offset);
            const char32_t codePoint = pointer ? index::gb18030(*pointer) : 0;
            if (codePoint)
                return Decoded::codePoint(codePoint);
            if (isAscii(byte))
                --position;
            return Decoded::error();
        }
        if (isAscii(byte))
            return Decoded::codePoint(char32_t(byte));
        if (byte == 0x80)
            return Decoded::codePoint(0x20AC);
        if (byte >= 0x81 && byte <= 0xFE) {
            m_first = byte;
            return Decoded::carryOn();
        }
        return Decoded::error();
    }

private:
    int m_first = 0;
    int m_second = 0;
    int m_third = 0;
};

// The Private Use code points that GB18030-2005 had at these two-byte sequences, which
// GB18030-2022 moved to other characters; they are still written as before.
struct PrivateUse {
    char32_t codePoint;
    unsigned char lead;
    unsigned char trail;
};
const PrivateUse privateUse2005[] = {
    {0xE78D, 0xA6, 0xD9}, {0xE78E, 0xA6, 0xDA}, {0xE78F, 0xA6, 0xDB}, {0xE790, 0xA6, 0xDC},
    {0xE791, 0xA6, 0xDD}, {0xE792, 0xA6, 0xDE}, {0xE793, 0xA6, 0xDF}, {0xE794, 0xA6, 0xEC},
    {0xE795, 0xA6, 0xED}, {0xE796, 0xA6, 0xF3}, {0xE81E, 0xFE, 0x59}, {0xE826, 0xFE, 0x61},
    {0xE82B, 0xFE, 0x66}, {0xE82C, 0xFE, 0x67}, {0xE832, 0xFE, 0x6D}, {0xE843, 0xFE, 0x7E},
    {0xE854, 0xFE, 0x90}, {0xE864, 0xFE, 0xA0},
};

} // namespace

void decodeGb18030(std::string_view bytes, std::string &out) {
    Gb18030Decoder decoder;
    runDecoder(decoder, bytes, out);
}

Encoded encodeGb18030(long item, bool isGbk, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    const char32_t codePoint = char32_t(item);
    // Index gb18030 maps 0xA3 0xA0 to U+3000, so U+E5E5 has no bytes.
    if (codePoint == 0xE5E5)
        return Encoded::failed(codePoint);
    if (isGbk && codePoint == 0x20AC) {
        out += char(0x80);
        return Encoded::done();
    }
    for (const PrivateUse &row : privateUse2005) {
        if (row.codePoint == codePoint) {
            out += char(row.lead);
            out += char(row.trail);
            return Encoded::done();
        }
    }
    if (const std::optional<std::uint32_t> pointer = index::gb18030Pointer(codePoint)) {
        const std::uint32_t lead = *pointer / 190 + 0x81;
        const std::uint32_t trail = *pointer % 190;
        const std::uint32_t offset = trail < 0x3F ? 0x40 : 0x41;
        out += char(lead);
        out += char(trail + offset);
        return Encoded::done();
    }
    if (isGbk)
        return Encoded::failed(codePoint);
    std::uint32_t pointer = index::gb18030RangesPointer(codePoint);
    const std::uint32_t byte1 = pointer / (10 * 126 * 10);
    pointer = pointer % (10 * 126 * 10);
    const std::uint32_t byte2 = pointer / (10 * 126);
    pointer = pointer % (10 * 126);
    const std::uint32_t byte3 = pointer / 10;
    const std::uint32_t byte4 = pointer % 10;
    const char bytes[] = {char(byte1 + 0x81), char(byte2 + 0x30), char(byte3 + 0x81),
                          char(byte4 + 0x30)};
    out.append(bytes, 4);
    return Encoded::done();
}

} // namespace encoding::detail
