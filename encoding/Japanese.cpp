// Legacy multi-byte Japanese encodings: EUC-JP, ISO-2022-JP and Shift_JIS.
#include "Codecs.h"
#include "Indexes.h"

namespace encoding::detail {
namespace {

class EucJpDecoder {
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
        if (m_lead == 0x8E && byte >= 0xA1 && byte <= 0xDF) {
            m_lead = 0;
            return Decoded::codePoint(char32_t(0xFF61 - 0xA1 + byte));
        }
        if (m_lead == 0x8F && byte >= 0xA1 && byte <= 0xFE) {
            m_jis0212 = true;
            m_lead = byte;
            return Decoded::carryOn();
        }
        if (m_lead != 0) {
            const int lead = m_lead;
            m_lead = 0;
            char32_t codePoint = 0;
            if (lead >= 0xA1 && lead <= 0xFE && byte >= 0xA1 && byte <= 0xFE) {
                const std::uint32_t pointer = (lead - 0xA1) * 94 + byte - 0xA1;
                codePoint = m_jis0212 ? index::jis0212(pointer) : index::jis0208(pointer);
            }
            m_jis0212 = false;
            if (codePoint)
                return Decoded::codePoint(codePoint);
            if (isAscii(byte))
                --position;
            return Decoded::error();
        }
        if (isAscii(byte))
            return Decoded::codePoint(char32_t(byte));
        if (byte == 0x8E || byte == 0x8F || (byte >= 0xA1 && byte <= 0xFE)) {
            m_lead = byte;
            return Decoded::carryOn();
        }
        return Decoded::error();
    }

private:
    bool m_jis0212 = false;
    int m_lead = 0;
};

class Iso2022JpDecoder {
public:
    static constexpr bool asciiRunsAsIs = false;
    bool idle() const { return false; }

    enum class State : std::uint8_t {
        Ascii,
        Roman,
        Katakana,
        LeadByte,
        TrailByte,
        EscapeStart,
        Escape
    };

    Decoded handle(int byte, std::size_t &position) {
        switch (m_state) {
        case State::Ascii:
            if (byte == 0x1B)
                return escapeStart();
            if (byte >= 0x00 && byte <= 0x7F && byte != 0x0E && byte != 0x0F) {
                m_output = false;
                return Decoded::codePoint(char32_t(byte));
            }
            if (byte == EndOfQueue)
                return Decoded::finished();
            m_output = false;
            return Decoded::error();
        case State::Roman:
            if (byte == 0x1B)
                return escapeStart();
            if (byte == 0x5C) {
                m_output = false;
                return Decoded::codePoint(0x00A5);
            }
            if (byte == 0x7E) {
                m_output = false;
                return Decoded::codePoint(0x203E);
            }
            if (byte >= 0x00 && byte <= 0x7F && byte != 0x0E && byte != 0x0F) {
                m_output = false;
                return Decoded::codePoint(char32_t(byte));
            }
            if (byte == EndOfQueue)
                return Decoded::finished();
            m_output = false;
            return Decoded::error();
        case State::Katakana:
            if (byte == 0x1B)
                return escapeStart();
            if (byte >= 0x21 && byte <= 0x5F) {
                m_output = false;
                return Decoded::codePoint(char32_t(0xFF61 - 0x21 + byte));
            }
            if (byte == EndOfQueue)
                return Decoded::finished();
            m_output = false;
            return Decoded::error();
        case State::LeadByte:
            if (byte == 0x1B)
                return escapeStart();
            if (byte >= 0x21 && byte <= 0x7E) {
                m_output = false;
                m_lead = byte;
                m_state = State::TrailByte;
                return Decoded::carryOn();
            }
            if (byte == EndOfQueue)
                return Decoded::finished();
            m_output = false;
            return Decoded::error();
        case State::TrailByte:
            if (byte == 0x1B) {
                m_state = State::EscapeStart;
                return Decoded::error();
            }
            m_state = State::LeadByte;
            if (byte >= 0x21 && byte <= 0x7E) {
                const char32_t codePoint = index::jis0208((m_lead - 0x21) * 94 + byte - 0x21);
                if (!codePoint)
                    return Decoded::error();
                return Decoded::codePoint(codePoint);
            }
            return Decoded::error();
        case State::EscapeStart:
            if (byte == 0x24 || byte == 0x28) {
                m_lead = byte;
                m_state = State::Escape;
                return Decoded::carryOn();
            }
            if (byte != EndOfQueue)
                --position;
            m_output = false;
            m_state = m_outputState;
            return Decoded::error();
        case State::Escape: {
            const int lead = m_lead;
            m_lead = 0;
            std::optional<State> state;
            if (lead == 0x28 && byte == 0x42)
                state = State::Ascii;
            if (lead == 0x28 && byte == 0x4A)
                state = State::Roman;
            if (lead == 0x28 && byte == 0x49)
                state = State::Katakana;
            if (lead == 0x24 && (byte == 0x40 || byte == 0x42))
                state = State::LeadByte;
            if (state) {
                m_state = m_outputState = *state;
                const bool output = m_output;
                m_output = true;
                return output ? Decoded::error() : Decoded::carryOn();
            }
            position -= byte == EndOfQueue ? 1 : 2; // restore lead (and byte)
            m_output = false;
            m_state = m_outputState;
            return Decoded::error();
        }
        }
        return Decoded::error();
    }

private:
    Decoded escapeStart() {
        m_state = State::EscapeStart;
        return Decoded::carryOn();
    }

    State m_state = State::Ascii;
    State m_outputState = State::Ascii;
    int m_lead = 0;
    bool m_output = false;
};

class ShiftJisDecoder {
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
            const int offset = byte < 0x7F ? 0x40 : 0x41;
            const int leadOffset = lead < 0xA0 ? 0x81 : 0xC1;
            if ((byte >= 0x40 && byte <= 0x7E) || (byte >= 0x80 && byte <= 0xFC))
                pointer = (lead - leadOffset) * 188 + byte - offset;
            // Windows' end-user-defined characters, in the Private Use Area.
            if (pointer && *pointer >= 8836 && *pointer <= 10715)
                return Decoded::codePoint(char32_t(0xE000 - 8836 + *pointer));
            const char32_t codePoint = pointer ? index::jis0208(*pointer) : 0;
            if (codePoint)
                return Decoded::codePoint(codePoint);
            if (isAscii(byte))
                --position;
            return Decoded::error();
        }
        if (isAscii(byte) || byte == 0x80)
            return Decoded::codePoint(char32_t(byte));
        if (byte >= 0xA1 && byte <= 0xDF)
            return Decoded::codePoint(char32_t(0xFF61 - 0xA1 + byte));
        if ((byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC)) {
            m_lead = byte;
            return Decoded::carryOn();
        }
        return Decoded::error();
    }

private:
    int m_lead = 0;
};

void appendBytes(std::string &out, std::initializer_list<unsigned> bytes) {
    for (const unsigned byte : bytes)
        out += char(byte);
}

} // namespace

void decodeEucJp(std::string_view bytes, std::string &out) {
    EucJpDecoder decoder;
    runDecoder(decoder, bytes, out);
}

void decodeIso2022Jp(std::string_view bytes, std::string &out) {
    Iso2022JpDecoder decoder;
    runDecoder(decoder, bytes, out);
}

void decodeShiftJis(std::string_view bytes, std::string &out) {
    ShiftJisDecoder decoder;
    runDecoder(decoder, bytes, out);
}

Encoded encodeEucJp(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item)) {
        out += char(item);
        return Encoded::done();
    }
    char32_t codePoint = char32_t(item);
    if (codePoint == 0x00A5) {
        out += char(0x5C);
        return Encoded::done();
    }
    if (codePoint == 0x203E) {
        out += char(0x7E);
        return Encoded::done();
    }
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F) {
        appendBytes(out, {0x8E, unsigned(codePoint - 0xFF61 + 0xA1)});
        return Encoded::done();
    }
    if (codePoint == 0x2212)
        codePoint = 0xFF0D;
    const std::optional<std::uint32_t> pointer = index::jis0208Pointer(codePoint);
    if (!pointer)
        return Encoded::failed(codePoint);
    appendBytes(out, {*pointer / 94 + 0xA1, *pointer % 94 + 0xA1});
    return Encoded::done();
}

Encoded encodeIso2022Jp(long item, Encoder::State &state, std::string &out) {
    using State = Encoder::State;
    if (item == EndOfQueue && state != State::Ascii) {
        state = State::Ascii;
        appendBytes(out, {0x1B, 0x28, 0x42});
        return Encoded::done();
    }
    if (item == EndOfQueue)
        return Encoded::finished();
    char32_t codePoint = char32_t(item);
    // The escape and shift controls would let the text change the decoder's state.
    if ((state == State::Ascii || state == State::Roman) &&
        (codePoint == 0x0E || codePoint == 0x0F || codePoint == 0x1B))
        return Encoded::failed(0xFFFD);
    if (state == State::Ascii && isAscii(item)) {
        out += char(codePoint);
        return Encoded::done();
    }
    if (state == State::Roman && ((isAscii(item) && codePoint != 0x5C && codePoint != 0x7E) ||
                                  codePoint == 0x00A5 || codePoint == 0x203E)) {
        if (isAscii(item))
            out += char(codePoint);
        else
            out += codePoint == 0x00A5 ? char(0x5C) : char(0x7E);
        return Encoded::done();
    }
    if (isAscii(item) && state != State::Ascii) {
        state = State::Ascii;
        appendBytes(out, {0x1B, 0x28, 0x42});
        return Encoded::restore();
    }
    if ((codePoint == 0x00A5 || codePoint == 0x203E) && state != State::Roman) {
        state = State::Roman;
        appendBytes(out, {0x1B, 0x28, 0x4A});
        return Encoded::restore();
    }
    if (codePoint == 0x2212)
        codePoint = 0xFF0D;
    // Halfwidth katakana are written as their fullwidth forms.
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F)
        codePoint = index::iso2022JpKatakana(codePoint - 0xFF61);
    const std::optional<std::uint32_t> pointer = index::jis0208Pointer(codePoint);
    if (!pointer) {
        // Back to ASCII first, so that what the caller writes for the error reads as such.
        if (state == State::Jis0208) {
            state = State::Ascii;
            appendBytes(out, {0x1B, 0x28, 0x42});
            return Encoded::restore();
        }
        return Encoded::failed(codePoint);
    }
    if (state != State::Jis0208) {
        state = State::Jis0208;
        appendBytes(out, {0x1B, 0x24, 0x42});
        return Encoded::restore();
    }
    appendBytes(out, {*pointer / 94 + 0x21, *pointer % 94 + 0x21});
    return Encoded::done();
}

Encoded encodeShiftJis(long item, std::string &out) {
    if (item == EndOfQueue)
        return Encoded::finished();
    if (isAscii(item) || item == 0x80) {
        out += char(item);
        return Encoded::done();
    }
    char32_t codePoint = char32_t(item);
    if (codePoint == 0x00A5) {
        out += char(0x5C);
        return Encoded::done();
    }
    if (codePoint == 0x203E) {
        out += char(0x7E);
        return Encoded::done();
    }
    if (codePoint >= 0xFF61 && codePoint <= 0xFF9F) {
        out += char(codePoint - 0xFF61 + 0xA1);
        return Encoded::done();
    }
    if (codePoint == 0x2212)
        codePoint = 0xFF0D;
    const std::optional<std::uint32_t> pointer = index::shiftJisPointer(codePoint);
    if (!pointer)
        return Encoded::failed(codePoint);
    const std::uint32_t lead = *pointer / 188;
    const std::uint32_t leadOffset = lead < 0x1F ? 0x81 : 0xC1;
    const std::uint32_t trail = *pointer % 188;
    const std::uint32_t offset = trail < 0x3F ? 0x40 : 0x41;
    appendBytes(out, {lead + leadOffset, trail + offset});
    return Encoded::done();
}

} // namespace encoding::detail
