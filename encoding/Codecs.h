#pragma once

// What the decoders and encoders of the encoding families share: the standard's processing
// of a queue of bytes or code points, with "restore" as a step back in the input, and the
// handlers of each family (Utf8.cpp, SingleByte.cpp, Chinese.cpp, Big5.cpp, Japanese.cpp,
// Korean.cpp, Miscellaneous.cpp).

#include "Encoding.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace encoding::detail {

// The item a handler is given after the last byte or code point.
inline constexpr int EndOfQueue = -1;

// What a decoder's handler returns.
struct Decoded {
    enum Kind : std::uint8_t { Continue, Finished, Error, CodePoint, TwoCodePoints } kind;
    char32_t first = 0;
    char32_t second = 0;

    static Decoded carryOn() { return {Continue}; }
    static Decoded finished() { return {Finished}; }
    static Decoded error() { return {Error}; }
    static Decoded codePoint(char32_t c) { return {CodePoint, c}; }
    static Decoded codePoints(char32_t a, char32_t b) { return {TwoCodePoints, a, b}; }
};

inline void appendUtf8(std::string &out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        const char bytes[] = {char(0xC0 | c >> 6), char(0x80 | (c & 0x3F))};
        out.append(bytes, 2);
    } else if (c < 0x10000) {
        const char bytes[] = {char(0xE0 | c >> 12), char(0x80 | (c >> 6 & 0x3F)),
                              char(0x80 | (c & 0x3F))};
        out.append(bytes, 3);
    } else {
        const char bytes[] = {char(0xF0 | c >> 18), char(0x80 | (c >> 12 & 0x3F)),
                              char(0x80 | (c >> 6 & 0x3F)), char(0x80 | (c & 0x3F))};
        out.append(bytes, 4);
    }
}

// "Process a queue" with a decoder in error mode "replacement". A handler is called with each
// byte (then EndOfQueue) and the position after it, which it moves back to restore bytes.
// A handler whose `asciiRunsAsIs` is true reads an ASCII byte as itself whenever it is
// `idle()` (holds no lead byte); runs of such bytes are then copied without calling it.
template <typename Handler>
void runDecoder(Handler &handler, std::string_view bytes, std::string &out) {
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
    std::size_t position = 0;
    out.reserve(out.size() + bytes.size());
    for (;;) {
        if constexpr (Handler::asciiRunsAsIs) {
            if (handler.idle()) {
                std::size_t run = position;
                while (run < bytes.size() && data[run] < 0x80)
                    ++run;
                out.append(bytes.data() + position, run - position);
                position = run;
            }
        }
        const int byte = position < bytes.size() ? data[position++] : EndOfQueue;
        const Decoded result = handler.handle(byte, position);
        switch (result.kind) {
        case Decoded::Continue:
            break;
        case Decoded::Finished:
            return;
        case Decoded::Error:
            appendUtf8(out, 0xFFFD);
            break;
        case Decoded::TwoCodePoints:
            appendUtf8(out, result.first);
            appendUtf8(out, result.second);
            break;
        case Decoded::CodePoint:
            appendUtf8(out, result.first);
            break;
        }
    }
}

// What an encoder's handler returns; the bytes it writes go straight to the output.
struct Encoded {
    enum Kind : std::uint8_t { Done, Restore, Finished, Error } kind;
    char32_t error = 0;

    static Encoded done() { return {Done}; }
    // The code point is read again (after an escape sequence was written).
    static Encoded restore() { return {Restore}; }
    static Encoded finished() { return {Finished}; }
    static Encoded failed(char32_t codePoint) { return {Error, codePoint}; }
};

inline bool isAscii(long item) {
    return item >= 0 && item < 0x80;
}

void decodeUtf8(std::string_view bytes, std::string &out);
void decodeSingleByte(Encoding encoding, std::string_view bytes, std::string &out);
void decodeGb18030(std::string_view bytes, std::string &out);
void decodeBig5(std::string_view bytes, std::string &out);
void decodeEucJp(std::string_view bytes, std::string &out);
void decodeIso2022Jp(std::string_view bytes, std::string &out);
void decodeShiftJis(std::string_view bytes, std::string &out);
void decodeEucKr(std::string_view bytes, std::string &out);
void decodeReplacement(std::string_view bytes, std::string &out);
void decodeUtf16(std::string_view bytes, bool bigEndian, std::string &out);
void decodeXUserDefined(std::string_view bytes, std::string &out);

// The encoders' handlers, given a code point or EndOfQueue.
Encoded encodeUtf8(long item, std::string &out);
Encoded encodeSingleByte(Encoding encoding, long item, std::string &out);
Encoded encodeGb18030(long item, bool isGbk, std::string &out);
Encoded encodeBig5(long item, std::string &out);
Encoded encodeEucJp(long item, std::string &out);
Encoded encodeIso2022Jp(long item, Encoder::State &state, std::string &out);
Encoded encodeShiftJis(long item, std::string &out);
Encoded encodeEucKr(long item, std::string &out);
Encoded encodeXUserDefined(long item, std::string &out);

} // namespace encoding::detail
