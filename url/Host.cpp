#include "Host.h"

#include <QUrl>

#include <array>
#include <vector>

// Hosts as the URL standard parses them: IPv6 and IPv4 addresses, domains (through IDNA to
// ASCII) and the opaque hosts of other schemes.

namespace urltext {
namespace {

// Code points that may never appear in a host of any address.
bool isForbiddenHostCodePoint(char32_t c) {
    switch (c) {
    case 0x00:
    case '\t':
    case '\n':
    case '\r':
    case ' ':
    case '#':
    case '/':
    case ':':
    case '<':
    case '>':
    case '?':
    case '@':
    case '[':
    case '\\':
    case ']':
    case '^':
    case '|':
        return true;
    default:
        return false;
    }
}

// Code points that may not appear in the domain name of an http-like address.
bool isForbiddenDomainCodePoint(char32_t c) {
    return isForbiddenHostCodePoint(c) || c <= 0x1F || c == '%' || c == 0x7F;
}

// Turns "%XX" back into the byte; a '%' not followed by two hex digits stays as it is.
// (QByteArray::fromPercentEncoding would make "%zz" into a byte of its own.)
QByteArray percentDecode(const QByteArray &text) {
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && isAsciiHexDigit(uchar(text[i + 1])) &&
            isAsciiHexDigit(uchar(text[i + 2]))) {
            out += char(hexValue(uchar(text[i + 1])) * 16 + hexValue(uchar(text[i + 2])));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

// ---- IPv6 -------------------------------------------------------------------------------

using Ipv6Address = std::array<quint16, 8>;

// Parses the text between "[" and "]": hex pieces, at most one "::", and an optional dotted
// IPv4 tail ("::ffff:1.2.3.4").
std::optional<Ipv6Address> parseIpv6(CodePointView input) {
    Ipv6Address address{};
    int pieceIndex = 0;
    int compress = -1; // where "::" stood, -1 when there was none
    size_t pointer = 0;
    const auto at = [&input](size_t i) { return i < input.size() ? input[i] : EndOfInput; };

    if (at(pointer) == ':') {
        if (at(pointer + 1) != ':')
            return std::nullopt;
        pointer += 2;
        ++pieceIndex;
        compress = pieceIndex;
    }

    while (at(pointer) != EndOfInput) {
        if (pieceIndex == 8)
            return std::nullopt;
        if (at(pointer) == ':') {
            if (compress != -1)
                return std::nullopt;
            ++pointer;
            ++pieceIndex;
            compress = pieceIndex;
            continue;
        }

        int value = 0;
        int length = 0;
        while (length < 4 && isAsciiHexDigit(at(pointer))) {
            value = value * 0x10 + hexValue(at(pointer));
            ++pointer;
            ++length;
        }

        if (at(pointer) == '.') {
            // The last 32 bits written as an IPv4 address: go back over the digits just read.
            if (length == 0)
                return std::nullopt;
            pointer -= size_t(length);
            if (pieceIndex > 6)
                return std::nullopt;
            int numbersSeen = 0;
            while (at(pointer) != EndOfInput) {
                int ipv4Piece = -1;
                if (numbersSeen > 0) {
                    if (at(pointer) == '.' && numbersSeen < 4)
                        ++pointer;
                    else
                        return std::nullopt;
                }
                if (!isAsciiDigit(at(pointer)))
                    return std::nullopt;
                while (isAsciiDigit(at(pointer))) {
                    const int number = int(at(pointer) - '0');
                    if (ipv4Piece == -1)
                        ipv4Piece = number;
                    else if (ipv4Piece == 0) // no leading zeros
                        return std::nullopt;
                    else
                        ipv4Piece = ipv4Piece * 10 + number;
                    if (ipv4Piece > 255)
                        return std::nullopt;
                    ++pointer;
                }
                address[pieceIndex] = quint16(address[pieceIndex] * 0x100 + ipv4Piece);
                ++numbersSeen;
                if (numbersSeen == 2 || numbersSeen == 4)
                    ++pieceIndex;
            }
            if (numbersSeen != 4)
                return std::nullopt;
            break;
        }
        if (at(pointer) == ':') {
            ++pointer;
            if (at(pointer) == EndOfInput)
                return std::nullopt;
        } else if (at(pointer) != EndOfInput) {
            return std::nullopt;
        }
        address[pieceIndex] = quint16(value);
        ++pieceIndex;
    }

    if (compress != -1) {
        // Move the pieces after "::" to the end, leaving zeros in between.
        int swaps = pieceIndex - compress;
        pieceIndex = 7;
        while (pieceIndex != 0 && swaps > 0) {
            std::swap(address[pieceIndex], address[compress + swaps - 1]);
            --pieceIndex;
            --swaps;
        }
    } else if (pieceIndex != 8) {
        return std::nullopt;
    }
    return address;
}

// Lower-case hex pieces with the first longest run of two or more zero pieces written "::".
QString serialiseIpv6(const Ipv6Address &address) {
    int compress = -1;
    int longestRun = 1;
    for (int i = 0; i < 8;) {
        if (address[i] != 0) {
            ++i;
            continue;
        }
        int end = i;
        while (end < 8 && address[end] == 0)
            ++end;
        if (end - i > longestRun) {
            longestRun = end - i;
            compress = i;
        }
        i = end;
    }

    QString out = QStringLiteral("[");
    bool ignoreZeros = false;
    for (int i = 0; i < 8; ++i) {
        if (ignoreZeros && address[i] == 0)
            continue;
        ignoreZeros = false;
        if (compress == i) {
            out += i == 0 ? QStringLiteral("::") : QStringLiteral(":");
            ignoreZeros = true;
            continue;
        }
        out += QString::number(address[i], 16);
        if (i != 7)
            out += QLatin1Char(':');
    }
    out += QLatin1Char(']');
    return out;
}

// ---- IPv4 -------------------------------------------------------------------------------

// One dot-separated part of an IPv4 address: decimal, octal with a leading "0", or hex with
// "0x". Values beyond 32 bits are clamped, which is enough to reject them later.
std::optional<quint64> parseIpv4Number(QStringView part) {
    if (part.isEmpty())
        return std::nullopt;
    int radix = 10;
    if (part.size() >= 2 && part[0] == u'0' && (part[1] == u'x' || part[1] == u'X')) {
        part = part.mid(2);
        radix = 16;
    } else if (part.size() >= 2 && part[0] == u'0') {
        part = part.mid(1);
        radix = 8;
    }
    constexpr quint64 tooBig = quint64(1) << 40;
    quint64 value = 0;
    for (QChar ch : part) {
        const char32_t c = ch.unicode();
        int digit = -1;
        if (radix == 16 && isAsciiHexDigit(c))
            digit = hexValue(c);
        else if (radix == 10 && isAsciiDigit(c))
            digit = int(c - '0');
        else if (radix == 8 && c >= '0' && c <= '7')
            digit = int(c - '0');
        if (digit < 0)
            return std::nullopt;
        value = std::min(value * quint64(radix) + quint64(digit), tooBig);
    }
    return value;
}

// Whether a domain's last label is a number, making the whole host an IPv4 address (or a
// failure): "1.2.3.4", "0x7f.1", "example.09" (which then fails).
bool endsInNumber(const QString &domain) {
    QStringList parts = domain.split(u'.');
    if (parts.last().isEmpty()) {
        if (parts.size() == 1)
            return false;
        parts.removeLast();
    }
    const QString &last = parts.last();
    if (!last.isEmpty() &&
        std::all_of(last.begin(), last.end(), [](QChar c) { return isAsciiDigit(c.unicode()); }))
        return true;
    return parseIpv4Number(last).has_value();
}

// Parses a host that ends in a number into dotted decimal: "0x7f.1" -> "127.0.0.1".
std::optional<QString> parseIpv4(const QString &domain) {
    QStringList parts = domain.split(u'.');
    if (parts.last().isEmpty() && parts.size() > 1)
        parts.removeLast();
    if (parts.size() > 4)
        return std::nullopt;
    std::vector<quint64> numbers;
    for (const QString &part : parts) {
        const std::optional<quint64> number = parseIpv4Number(part);
        if (!number)
            return std::nullopt;
        numbers.push_back(*number);
    }
    // Every part but the last is one byte; the last fills all the bytes that remain.
    for (size_t i = 0; i + 1 < numbers.size(); ++i) {
        if (numbers[i] > 255)
            return std::nullopt;
    }
    const size_t count = numbers.size();
    if (numbers.back() >= (quint64(1) << (8 * (5 - count))))
        return std::nullopt;
    quint64 ipv4 = numbers.back();
    for (size_t i = 0; i + 1 < count; ++i)
        ipv4 += numbers[i] << (8 * (3 - i));
    return QStringLiteral("%1.%2.%3.%4")
        .arg((ipv4 >> 24) & 0xFF)
        .arg((ipv4 >> 16) & 0xFF)
        .arg((ipv4 >> 8) & 0xFF)
        .arg(ipv4 & 0xFF);
}

// ---- Domain names -----------------------------------------------------------------------

bool isAscii(QStringView text) {
    return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

bool isZeroWidthJoiner(char32_t c) {
    return c == 0x200C || c == 0x200D;
}

// Zero-width joiners in a label are only allowed where they change how the script renders:
// right after a virama, or (the non-joiner) between two letters that would otherwise join.
// QUrl::toAce lets them through, so they are checked here.
bool joinersAllowed(const CodePoints &label) {
    for (size_t i = 0; i < label.size(); ++i) {
        if (!isZeroWidthJoiner(label[i]))
            continue;
        if (i > 0 && QChar::combiningClass(label[i - 1]) == 9) // virama
            continue;
        if (label[i] == 0x200D)
            return false;
        // The non-joiner: a left- or dual-joining letter before it and a right- or dual-joining
        // one after it, with only transparent marks in between.
        bool joinsBefore = false;
        for (size_t j = i; j-- > 0;) {
            const QChar::JoiningType type = QChar::joiningType(label[j]);
            if (type == QChar::Joining_Transparent)
                continue;
            joinsBefore = type == QChar::Joining_Left || type == QChar::Joining_Dual;
            break;
        }
        bool joinsAfter = false;
        for (size_t j = i + 1; j < label.size(); ++j) {
            const QChar::JoiningType type = QChar::joiningType(label[j]);
            if (type == QChar::Joining_Transparent)
                continue;
            joinsAfter = type == QChar::Joining_Right || type == QChar::Joining_Dual;
            break;
        }
        if (!joinsBefore || !joinsAfter)
            return false;
    }
    return true;
}

// Lower-cases a domain and turns internationalised labels into their "xn--" form. Plain ASCII
// labels are only lower-cased (so "a_b" or "-x" stay as browsers keep them); the others, and
// ASCII labels that claim to be "xn--" already, go through QUrl::toAce, which maps and checks
// them. The dots browsers accept between labels include the ideographic and full-width ones.
std::optional<QString> domainToAscii(const QString &domain) {
    QString out;
    QString label;
    const auto isLabelSeparator = [](char32_t c) {
        return c == '.' || c == 0x3002 || c == 0xFF0E || c == 0xFF61;
    };
    const auto finishLabel = [&out, &label]() -> bool {
        const bool claimsPunycode = label.startsWith(u"xn--", Qt::CaseInsensitive);
        if (isAscii(label) && !claimsPunycode) {
            out += label.toLower();
        } else {
            if (!joinersAllowed(toCodePoints(label)))
                return false;
            const QByteArray ace = QUrl::toAce(label);
            if (ace.isEmpty())
                return false;
            out += QString::fromLatin1(ace);
        }
        label.clear();
        return true;
    };
    const CodePoints codePoints = toCodePoints(domain);
    for (char32_t c : codePoints) {
        if (isLabelSeparator(c)) {
            if (!finishLabel())
                return std::nullopt;
            out += QLatin1Char('.');
        } else {
            label += QChar::fromUcs4(c);
        }
    }
    if (!finishLabel() || out.isEmpty())
        return std::nullopt;
    return out;
}

// ---- Hosts ------------------------------------------------------------------------------

// The host of a non-special address ("foo://Host/"): kept as written, case included, with
// only controls and non-ASCII percent-encoded.
std::optional<QString> parseOpaqueHost(CodePointView input) {
    QString out;
    for (char32_t c : input) {
        if (isForbiddenHostCodePoint(c))
            return std::nullopt;
        appendEncoded(out, c, EncodeSet::C0Control);
    }
    return out;
}

} // namespace

std::optional<QString> parseHost(CodePointView input, bool isOpaque) {
    if (!input.empty() && input.front() == '[') {
        if (input.back() != ']' || input.size() < 2)
            return std::nullopt;
        const std::optional<Ipv6Address> address = parseIpv6(input.substr(1, input.size() - 2));
        if (!address)
            return std::nullopt;
        return serialiseIpv6(*address);
    }
    if (isOpaque)
        return parseOpaqueHost(input);

    // "%41.com" is "a.com": undo percent-encoding on the UTF-8 bytes before anything else.
    QByteArray utf8;
    for (char32_t c : input)
        appendUtf8(utf8, c);
    const QString domain = QString::fromUtf8(percentDecode(utf8));

    const std::optional<QString> asciiDomain = domainToAscii(domain);
    if (!asciiDomain)
        return std::nullopt;
    for (QChar c : *asciiDomain) {
        if (isForbiddenDomainCodePoint(c.unicode()))
            return std::nullopt;
    }
    if (endsInNumber(*asciiDomain))
        return parseIpv4(*asciiDomain);
    return asciiDomain;
}

} // namespace urltext
