#pragma once

// The code points and percent-encoding that the URL parser and its host parser share.

#include <QByteArray>
#include <QString>
#include <QStringView>

#include <string>
#include <string_view>

namespace urltext {

using CodePoints = std::u32string;
using CodePointView = std::u32string_view;

// Stands for "past the end of the input" in the state machine.
inline constexpr char32_t EndOfInput = 0xFFFFFFFF;

inline bool isAsciiDigit(char32_t c) {
    return c >= '0' && c <= '9';
}
inline bool isAsciiAlpha(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
inline bool isAsciiAlphanumeric(char32_t c) {
    return isAsciiDigit(c) || isAsciiAlpha(c);
}
inline bool isAsciiHexDigit(char32_t c) {
    return isAsciiDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline char32_t toAsciiLower(char32_t c) {
    return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}
inline int hexValue(char32_t c) {
    if (isAsciiDigit(c))
        return int(c - '0');
    return int(toAsciiLower(c) - 'a') + 10;
}

// Whether `text` equals the ASCII `lowerWord`, ignoring ASCII case.
inline bool equalsIgnoringCase(CodePointView text, std::string_view lowerWord) {
    if (text.size() != lowerWord.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if (toAsciiLower(text[i]) != char32_t(lowerWord[i]))
            return false;
    }
    return true;
}

// Turns the UTF-16 of a QString into code points; an unpaired surrogate becomes U+FFFD, as it
// does when a browser hands the attribute to its URL parser.
inline CodePoints toCodePoints(QStringView text) {
    CodePoints out;
    out.reserve(size_t(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i].unicode();
        if (QChar::isHighSurrogate(unit) && i + 1 < text.size() &&
            QChar::isLowSurrogate(text[i + 1].unicode())) {
            out += char32_t(QChar::surrogateToUcs4(unit, text[i + 1].unicode()));
            ++i;
        } else if (QChar::isSurrogate(unit)) {
            out += char32_t(0xFFFD);
        } else {
            out += char32_t(unit);
        }
    }
    return out;
}

inline QString fromCodePoints(CodePointView text) {
    QString out;
    out.reserve(qsizetype(text.size()));
    for (char32_t c : text)
        out += QChar::fromUcs4(c);
    return out;
}

inline void appendUtf8(QByteArray &out, char32_t c) {
    if (c < 0x80) {
        out += char(c);
    } else if (c < 0x800) {
        out += char(0xC0 | (c >> 6));
        out += char(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += char(0xE0 | (c >> 12));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    } else {
        out += char(0xF0 | (c >> 18));
        out += char(0x80 | ((c >> 12) & 0x3F));
        out += char(0x80 | ((c >> 6) & 0x3F));
        out += char(0x80 | (c & 0x3F));
    }
}

// Which characters each part of an address must percent-encode. Each set holds the one before
// it plus a few more, except that the fragment and special-query sets branch off separately.
// Every non-ASCII byte is encoded in all of them.
enum class EncodeSet {
    C0Control,    // opaque paths and opaque hosts: only controls and non-ASCII
    Fragment,     // after '#'
    Query,        // after '?' in non-special addresses
    SpecialQuery, // after '?' in http, https, ws, wss, ftp and file addresses
    Path,         // path segments
    Userinfo,     // user name and password
};

inline bool inEncodeSet(uchar byte, EncodeSet set) {
    if (byte < 0x20 || byte > 0x7E)
        return true;
    const auto oneOf = [byte](std::string_view chars) {
        return chars.find(char(byte)) != std::string_view::npos;
    };
    switch (set) {
    case EncodeSet::C0Control:
        return false;
    case EncodeSet::Fragment:
        return oneOf(" \"<>`");
    case EncodeSet::Query:
        return oneOf(" \"#<>");
    case EncodeSet::SpecialQuery:
        return oneOf(" \"#<>'");
    case EncodeSet::Path:
        return oneOf(" \"#<>?^`{}");
    case EncodeSet::Userinfo:
        return oneOf(" \"#<>?^`{}/:;=@[\\]|");
    }
    return true;
}

inline void appendPercentEncodedByte(QString &out, uchar byte, EncodeSet set) {
    static const char hexDigits[] = "0123456789ABCDEF";
    if (inEncodeSet(byte, set)) {
        out += QLatin1Char('%');
        out += QLatin1Char(hexDigits[byte >> 4]);
        out += QLatin1Char(hexDigits[byte & 0xF]);
    } else {
        out += QLatin1Char(char(byte));
    }
}

// Appends `c` as UTF-8, percent-encoding the bytes that `set` holds.
inline void appendEncoded(QString &out, char32_t c, EncodeSet set) {
    if (c < 0x80) {
        appendPercentEncodedByte(out, uchar(c), set);
        return;
    }
    QByteArray utf8;
    appendUtf8(utf8, c);
    for (char byte : utf8)
        appendPercentEncodedByte(out, uchar(byte), set);
}

} // namespace urltext
