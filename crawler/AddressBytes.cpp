#include "AddressBytes.h"

#include <cstdint>

void appendAddressBytes(QStringView text, std::string &bytes) {
    const char16_t *units = text.utf16();
    const std::size_t length = std::size_t(text.size());
    const std::size_t at = bytes.size();
    // Addresses are nearly always ASCII: one pass tells, one narrows (both vectorised).
    char16_t any = 0;
    for (std::size_t i = 0; i < length; ++i)
        any |= units[i];
    if (any < 0x80) {
        bytes.resize(at + length);
        char *out = bytes.data() + at;
        for (std::size_t i = 0; i < length; ++i)
            out[i] = char(units[i]);
        return;
    }
    std::size_t size = 0;
    for (std::size_t i = 0; i < length; ++i)
        size += units[i] < 0x80 ? 1 : units[i] < 0x800 ? 2 : 3;
    bytes.resize(at + size);
    char *out = bytes.data() + at;
    for (std::size_t i = 0; i < length; ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            *out++ = char(unit);
        } else if (unit < 0x800) {
            *out++ = char(0xC0 | (unit >> 6));
            *out++ = char(0x80 | (unit & 0x3F));
        } else {
            *out++ = char(0xE0 | (unit >> 12));
            *out++ = char(0x80 | ((unit >> 6) & 0x3F));
            *out++ = char(0x80 | (unit & 0x3F));
        }
    }
}

QString addressFromBytes(std::string_view bytes) {
    unsigned char any = 0;
    for (const char byte : bytes)
        any |= static_cast<unsigned char>(byte);
    if (any < 0x80)
        return QString::fromLatin1(bytes.data(), qsizetype(bytes.size()));
    QString result;
    result.reserve(qsizetype(bytes.size()));
    const auto next = [&](std::size_t at) { return std::uint8_t(bytes[at]) & 0x3F; };
    for (std::size_t i = 0; i < bytes.size();) {
        const auto lead = std::uint8_t(bytes[i]);
        if (lead < 0x80) {
            result += QChar(lead);
            i += 1;
        } else if (lead < 0xE0) {
            result += QChar(char16_t(((lead & 0x1F) << 6) | next(i + 1)));
            i += 2;
        } else {
            result += QChar(char16_t(((lead & 0x0F) << 12) | (next(i + 1) << 6) | next(i + 2)));
            i += 3;
        }
    }
    return result;
}
