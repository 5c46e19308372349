// The encoding: UTF-8.
#include "Codecs.h"

#include <bit>
#include <cstring>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace encoding {
namespace detail {
namespace {

// UTF-8's decoder, as the standard writes it.
class Utf8Decoder {
public:
    Decoded handle(int byte, std::size_t &position) {
        if (byte == EndOfQueue && m_bytesNeeded != 0) {
            m_bytesNeeded = 0;
            return Decoded::error();
        }
        if (byte == EndOfQueue)
            return Decoded::finished();
        if (m_bytesNeeded == 0) {
            if (byte <= 0x7F)
                return Decoded::codePoint(char32_t(byte));
            if (byte >= 0xC2 && byte <= 0xDF) {
                m_bytesNeeded = 1;
                m_codePoint = byte & 0x1F;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                if (byte == 0xE0)
                    m_lowerBoundary = 0xA0;
                if (byte == 0xED)
                    m_upperBoundary = 0x9F;
                m_bytesNeeded = 2;
                m_codePoint = byte & 0xF;
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                if (byte == 0xF0)
                    m_lowerBoundary = 0x90;
                if (byte == 0xF4)
                    m_upperBoundary = 0x8F;
                m_bytesNeeded = 3;
                m_codePoint = byte & 0x7;
            } else {
                return Decoded::error();
            }
            return Decoded::carryOn();
        }
        if (byte < m_lowerBoundary || byte > m_upperBoundary) {
            m_codePoint = m_bytesNeeded = m_bytesSeen = 0;
            m_lowerBoundary = 0x80;
            m_upperBoundary = 0xBF;
            --position; // restore
            return Decoded::error();
        }
        m_lowerBoundary = 0x80;
        m_upperBoundary = 0xBF;
        m_codePoint = (m_codePoint << 6) | (byte & 0x3F);
        ++m_bytesSeen;
        if (m_bytesSeen != m_bytesNeeded)
            return Decoded::carryOn();
        const char32_t codePoint = m_codePoint;
        m_codePoint = m_bytesNeeded = m_bytesSeen = 0;
        return Decoded::codePoint(codePoint);
    }

    bool idle() const { return m_bytesNeeded == 0; }

private:
    char32_t m_codePoint = 0;
    int m_bytesSeen = 0;
    int m_bytesNeeded = 0;
    int m_lowerBoundary = 0x80;
    int m_upperBoundary = 0xBF;
};

} // namespace

void decodeUtf8(std::string_view bytes, std::string &out) {
    // Well-formed stretches are copied as they are; from each error on, the standard's
    // decoder runs until it is back between characters.
    out.reserve(out.size() + bytes.size());
    while (!bytes.empty()) {
        const std::size_t valid = validUtf8Prefix(bytes);
        out.append(bytes.data(), valid);
        bytes.remove_prefix(valid);
        if (bytes.empty())
            break;
        Utf8Decoder decoder;
        std::size_t position = 0;
        for (;;) {
            const int byte = position < bytes.size() ? static_cast<unsigned char>(bytes[position++])
                                                     : EndOfQueue;
            const Decoded result = decoder.handle(byte, position);
            if (result.kind == Decoded::Error)
                appendUtf8(out, 0xFFFD);
            else if (result.kind == Decoded::CodePoint)
                appendUtf8(out, result.first);
            if (byte == EndOfQueue || decoder.idle())
                break;
        }
        bytes.remove_prefix(position);
    }
}

Encoded encodeUtf8(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    appendUtf8(out, char32_t(item));
    return Encoded::done();
}

} // namespace detail

namespace {

// The index of the first byte of `word` (read from memory in host order) above 0x7F.
// REQUIRES: there is one.
unsigned firstHighByte(std::uint64_t word) {
    const std::uint64_t high = word & 0x8080808080808080ULL;
    if constexpr (std::endian::native == std::endian::little)
        return unsigned(std::countr_zero(high)) / 8;
    else
        return unsigned(std::countl_zero(high)) / 8;
}

// Whether any of the 64 bytes at `p` is above 0x7F.
bool anyHighByte64(const unsigned char *p) {
#ifdef __SSE2__
    const auto at = [p](int k) {
        return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16 * k));
    };
    return _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(at(0), at(1)), _mm_or_si128(at(2), at(3))));
#else
    std::uint64_t words[8];
    std::memcpy(words, p, 64);
    std::uint64_t all = 0;
    for (const std::uint64_t word : words)
        all |= word;
    return all & 0x8080808080808080ULL;
#endif
}

} // namespace

std::size_t validUtf8Prefix(std::string_view bytes) {
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const std::size_t size = bytes.size();
    std::size_t i = 0;
    for (;;) {
        // Step over ASCII 64 bytes at a time, then 8, to the next byte above 0x7F.
        while (i + 64 <= size && !anyHighByte64(p + i))
            i += 64;
        bool found = false;
        while (i + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, p + i, 8);
            if (word & 0x8080808080808080ULL) {
                i += firstHighByte(word);
                found = true;
                break;
            }
            i += 8;
        }
        if (!found) {
            while (i < size && p[i] < 0x80)
                ++i;
            if (i == size)
                return size;
        }
        // One character of two to four bytes.
        const unsigned char c = p[i];
        std::size_t length = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            if (c == 0xE0)
                low = 0xA0;
            else if (c == 0xED)
                high = 0x9F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            if (c == 0xF0)
                low = 0x90;
            else if (c == 0xF4)
                high = 0x8F;
        } else {
            return i;
        }
        if (i + length > size)
            return i;
        for (std::size_t k = 1; k < length; ++k) {
            const unsigned char next = p[i + k];
            if (next < low || next > high)
                return i;
            low = 0x80;
            high = 0xBF;
        }
        i += length;
    }
}

} // namespace encoding
