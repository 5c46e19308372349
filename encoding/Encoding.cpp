#include "Codecs.h"

#include <cassert>

namespace encoding {

using namespace detail;

namespace {

bool isSingleByte(Encoding encoding) {
    return encoding >= Encoding::Ibm866 && encoding <= Encoding::XMacCyrillic;
}

} // namespace

Encoding outputEncoding(Encoding encoding) {
    if (encoding == Encoding::Replacement || encoding == Encoding::Utf16Be ||
        encoding == Encoding::Utf16Le)
        return Encoding::Utf8;
    return encoding;
}

std::optional<Encoding> bomEncoding(std::string_view bytes, std::size_t &bomLength) {
    bomLength = 0;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bomLength = 3;
        return Encoding::Utf8;
    }
    if (bytes.substr(0, 2) == "\xFE\xFF") {
        bomLength = 2;
        return Encoding::Utf16Be;
    }
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        bomLength = 2;
        return Encoding::Utf16Le;
    }
    return std::nullopt;
}

void decode(Encoding encoding, std::string_view bytes, std::string &utf8) {
    if (isSingleByte(encoding)) {
        decodeSingleByte(encoding, bytes, utf8);
        return;
    }
    switch (encoding) {
    case Encoding::Utf8:
        decodeUtf8(bytes, utf8);
        return;
    case Encoding::Gbk:
    case Encoding::Gb18030:
        decodeGb18030(bytes, utf8);
        return;
    case Encoding::Big5:
        decodeBig5(bytes, utf8);
        return;
    case Encoding::EucJp:
        decodeEucJp(bytes, utf8);
        return;
    case Encoding::Iso2022Jp:
        decodeIso2022Jp(bytes, utf8);
        return;
    case Encoding::ShiftJis:
        decodeShiftJis(bytes, utf8);
        return;
    case Encoding::EucKr:
        decodeEucKr(bytes, utf8);
        return;
    case Encoding::Replacement:
        decodeReplacement(bytes, utf8);
        return;
    case Encoding::Utf16Be:
    case Encoding::Utf16Le:
        decodeUtf16(bytes, encoding == Encoding::Utf16Be, utf8);
        return;
    case Encoding::XUserDefined:
        decodeXUserDefined(bytes, utf8);
        return;
    default:
        return;
    }
}

std::size_t Encoder::encodeOrFail(std::u32string_view text, std::string &bytes,
                                  std::optional<char32_t> &error) {
    assert(outputEncoding(m_encoding) == m_encoding);
    error.reset();
    std::size_t position = 0;
    for (;;) {
        const long item = position < text.size() ? long(text[position]) : EndOfQueue;
        Encoded result;
        if (isSingleByte(m_encoding)) {
            result = encodeSingleByte(m_encoding, item, bytes);
        } else {
            switch (m_encoding) {
            case Encoding::Gbk:
            case Encoding::Gb18030:
                result = encodeGb18030(item, m_encoding == Encoding::Gbk, bytes);
                break;
            case Encoding::Big5:
                result = encodeBig5(item, bytes);
                break;
            case Encoding::EucJp:
                result = encodeEucJp(item, bytes);
                break;
            case Encoding::Iso2022Jp:
                result = encodeIso2022Jp(item, m_state, bytes);
                break;
            case Encoding::ShiftJis:
                result = encodeShiftJis(item, bytes);
                break;
            case Encoding::EucKr:
                result = encodeEucKr(item, bytes);
                break;
            case Encoding::XUserDefined:
                result = encodeXUserDefined(item, bytes);
                break;
            default:
                result = encodeUtf8(item, bytes);
                break;
            }
        }
        switch (result.kind) {
        case Encoded::Done:
            if (item != EndOfQueue)
                ++position;
            break;
        case Encoded::Restore:
            break;
        case Encoded::Finished:
            return position;
        case Encoded::Error:
            error = result.error;
            return position + 1;
        }
    }
}

std::string encode(Encoding encoding, std::u32string_view text) {
    Encoder encoder(encoding);
    std::string bytes;
    std::optional<char32_t> error;
    for (;;) {
        text.remove_prefix(encoder.encodeOrFail(text, bytes, error));
        if (!error)
            return bytes;
        bytes += "&#" + std::to_string(std::uint32_t(*error)) + ';';
    }
}

} // namespace encoding
