// Legacy miscellaneous encodings: replacement, UTF-16BE and UTF-16LE, x-user-defined.
#include "Codecs.h"

namespace encoding::detail {
namespace {

// Stands for encodings that could smuggle markup past a filter (ISO-2022-KR, HZ ...): any
// input at all is one error.
class ReplacementDecoder {
public:
    static constexpr bool asciiRunsAsIs = false;
    bool idle() const { return false; }

    Decoded handle(int byte, std::size_t &) {
        if (byte == EndOfQueue)
            return Decoded::finished();
        if (!m_errorReturned) {
            m_errorReturned = true;
            return Decoded::error();
        }
        return Decoded::finished();
    }

private:
    bool m_errorReturned = false;
};

// The shared UTF-16 decoder. A byte order mark is the caller's business.
class Utf16Decoder {
public:
    static constexpr bool asciiRunsAsIs = false;
    bool idle() const { return false; }

    explicit Utf16Decoder(bool bigEndian)
        : m_bigEndian(bigEndian) {}

    Decoded handle(int byte, std::size_t &position) {
        if (byte == EndOfQueue && (m_leadByte >= 0 || m_leadingSurrogate)) {
            m_leadByte = -1;
            m_leadingSurrogate = 0;
            return Decoded::error();
        }
        if (byte == EndOfQueue)
            return Decoded::finished();
        if (m_leadByte < 0) {
            m_leadByte = byte;
            return Decoded::carryOn();
        }
        const char32_t codeUnit =
            m_bigEndian ? char32_t(m_leadByte << 8) + byte : char32_t(byte << 8) + m_leadByte;
        m_leadByte = -1;
        if (m_leadingSurrogate) {
            const char32_t leadingSurrogate = m_leadingSurrogate;
            m_leadingSurrogate = 0;
            if (codeUnit >= 0xDC00 && codeUnit <= 0xDFFF)
                return Decoded::codePoint(0x10000 + ((leadingSurrogate - 0xD800) << 10) +
                                          (codeUnit - 0xDC00));
            position -= 2; // restore the code unit's two bytes
            return Decoded::error();
        }
        if (codeUnit >= 0xD800 && codeUnit <= 0xDBFF) {
            m_leadingSurrogate = codeUnit;
            return Decoded::carryOn();
        }
        if (codeUnit >= 0xDC00 && codeUnit <= 0xDFFF)
            return Decoded::error();
        return Decoded::codePoint(codeUnit);
    }

private:
    bool m_bigEndian;
    int m_leadByte = -1;             // -1: null
    char32_t m_leadingSurrogate = 0; // 0: null
};

class XUserDefinedDecoder {
public:
    static constexpr bool asciiRunsAsIs = false;
    bool idle() const { return false; }

    Decoded handle(int byte, std::size_t &) {
        if (byte == EndOfQueue)
            return Decoded::finished();
        if (isAscii(byte))
            return Decoded::codePoint(char32_t(byte));
        return Decoded::codePoint(char32_t(0xF780 + byte - 0x80));
    }
};

} // namespace

void decodeReplacement(std::string_view bytes, std::string &out) {
    ReplacementDecoder decoder;
    runDecoder(decoder, bytes, out);
}

void decodeUtf16(std::string_view bytes, bool bigEndian, std::string &out) {
    Utf16Decoder decoder(bigEndian);
    runDecoder(decoder, bytes, out);
}

void decodeXUserDefined(std::string_view bytes, std::string &out) {
    XUserDefinedDecoder decoder;
    runDecoder(decoder, bytes, out);
}

Encoded encodeXUserDefined(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    if (item >= 0xF780 && item <= 0xF7FF) {
        out += char(item - 0xF780 + 0x80);
        return Encoded::done();
    }
    return Encoded::failed(char32_t(item));
}

} // namespace encoding::detail
