#include "Encoding.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Input: a byte that picks the encoding, then the rest. The rest is decoded in that encoding,
// which must give well-formed UTF-8 whatever the bytes. Read as UTF-8, the rest is also text
// to encode: decoding what the encoder wrote must give back each character it could encode
// (or the one the standard writes in its place), and "&#N;" for each one it could not.

namespace {

using encoding::Encoding;

void require(bool holds, const char *what, Encoding encoding) {
    if (holds)
        return;
    std::fprintf(stderr, "%s (%s)\n", what, encoding::name(encoding).data());
    std::abort();
}

std::u32string codePoints(const std::string &utf8) {
    std::u32string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        const int length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        char32_t value = length == 1 ? c : c & (0xFF >> (length + 1));
        for (int k = 1; k < length; ++k)
            value = (value << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += value;
        i += std::size_t(length);
    }
    return out;
}

std::string decoded(Encoding encoding, const std::string &bytes) {
    std::string text;
    encoding::decode(encoding, bytes, text);
    return text;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0)
        return 0;
    const auto encoding = Encoding(data[0] % (std::uint8_t(Encoding::XUserDefined) + 1));
    const std::string rest(reinterpret_cast<const char *>(data) + 1, size - 1);

    const std::string text = decoded(encoding, rest);
    require(encoding::validUtf8Prefix(text) == text.size(), "decoded text not UTF-8", encoding);

    if (encoding::outputEncoding(encoding) != encoding)
        return 0;
    const std::u32string input = codePoints(decoded(Encoding::Utf8, rest));
    std::string expected;
    for (const char32_t c : input)
        expected += decoded(encoding, encoding::encode(encoding, std::u32string(1, c)));
    require(decoded(encoding, encoding::encode(encoding, input)) == expected,
            "encoding text and decoding it back differs from doing so character by character",
            encoding);
    return 0;
}
