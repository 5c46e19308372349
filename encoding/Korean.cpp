// Legacy multi-byte Korean encodings: EUC-KR, which is Windows' code page 949 (KS X 1001 and
// the Unified Hangul Code).
#include "Codecs.h"
#include "Indexes.h"

namespace encoding::detail {
namespace {

class EucKrDecoder {
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
            if (byte >= 0x41 && byte <= 0xFE)
                pointer = (lead - 0x81) * 190 + (byte - 0x41);
            const char32_t codePoint = pointer ? index::eucKr(*pointer) : 0;
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

void decodeEucKr(std::string_view bytes, std::string &out) {
    EucKrDecoder decoder;
    runDecoder(decoder, bytes, out);
}

Encoded encodeEucKr(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    const std::optional<std::uint32_t> pointer = index::eucKrPointer(char32_t(item));
    if (!pointer)
        return Encoded::failed(char32_t(item));
    out += char(*pointer / 190 + 0x81);
    out += char(*pointer % 190 + 0x41);
    return Encoded::done();
}

} // namespace encoding::detail
