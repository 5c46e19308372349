#pragma once

// The WHATWG Encoding Standard, as browsers read and write text: every encoding and label,
// each encoding's decoder (error mode "replacement": U+FFFD) and encoder. The decoders and
// encoders follow the standard's algorithms step by step, one family a file; the indexes are
// generated tables (IndexTables.inc). Pure code on bytes, safe to use from any thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace encoding {

enum class Encoding : std::uint8_t {
#include "EncodingList.inc"
};

// "Get an encoding": the encoding a label names (ASCII whitespace around it ignored, case
// ignored), nullopt for a label the standard does not know.
std::optional<Encoding> encodingForLabel(std::string_view label);

// The encoding's name as the standard spells it ("UTF-8", "Shift_JIS", "windows-1252" ...).
std::string_view name(Encoding encoding);

// "Get an output encoding": UTF-8 for replacement and UTF-16BE/LE, which cannot be written
// into an address or a form; the encoding itself otherwise.
Encoding outputEncoding(Encoding encoding);

// Decodes `bytes` with the encoding's decoder, replacing every error with U+FFFD, and appends
// the text to `utf8` as UTF-8. A byte order mark is not looked at (see bomEncoding).
void decode(Encoding encoding, std::string_view bytes, std::string &utf8);

// The length of the longest prefix of `bytes` that is well-formed UTF-8, which the UTF-8
// decoder passes on unchanged.
std::size_t validUtf8Prefix(std::string_view bytes);

// "BOM sniff": the encoding a byte order mark at the start of `bytes` names, and its length.
std::optional<Encoding> bomEncoding(std::string_view bytes, std::size_t &bomLength);

// An instance of an encoding's encoder, which keeps its state (ISO-2022-JP's) between calls.
// REQUIRES: the encoding is not replacement, UTF-16BE or UTF-16LE (see outputEncoding).
class Encoder {
public:
    explicit Encoder(Encoding encoding)
        : m_encoding(encoding) {}

    // "Encode or fail": appends the bytes of `text`'s code points (scalar values) to `bytes`
    // until one cannot be encoded; then returns how many were consumed, that one included,
    // and sets `error` to the value the standard reports for it (U+FFFD for ISO-2022-JP's
    // escape and shift controls, the code point otherwise). At the end of `text` the encoder
    // finishes (ISO-2022-JP returns to ASCII) and `error` is left empty.
    std::size_t encodeOrFail(std::u32string_view text, std::string &bytes,
                             std::optional<char32_t> &error);

    // Which of ISO-2022-JP's states the encoder is in; ASCII for every other encoding.
    enum class State : std::uint8_t { Ascii, Roman, Jis0208 };

private:
    Encoding m_encoding;
    State m_state = State::Ascii;
};

// "Encode" with error mode "html": a code point the encoding lacks is written as "&#N;".
std::string encode(Encoding encoding, std::u32string_view text);

} // namespace encoding
