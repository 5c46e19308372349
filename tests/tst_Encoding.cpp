#include "Encoding.h"

#include <QFile>
#include <QTest>

#include <functional>
#include <map>
#include <string>

using encoding::Encoding;

// The Encoding Standard's decoders and encoders: every pointer of every index against the
// standard's index files, and the special cases of each family that the indexes do not show.
class tst_Encoding : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void everyPointerDecodesAndEncodesBack_data();
    void everyPointerDecodesAndEncodesBack();
    void decoders_data();
    void decoders();
    void encoders_data();
    void encoders();
    void labels();
};

namespace {

using Index = std::map<std::uint32_t, char32_t>;

// Index NAME as the standard publishes it; empty when the index files are not beside the
// repository (a clone on its own), and then the test is skipped.
Index readIndex(const char *name) {
    Index index;
    QFile file(QStringLiteral(CORVANE_ENCODING_INDEXES "/index-%1.txt").arg(QLatin1String(name)));
    if (!file.open(QIODevice::ReadOnly))
        return index;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine();
        if (line.trimmed().isEmpty() || line.startsWith('#'))
            continue;
        const QList<QByteArray> fields = line.split('\t');
        index[fields[0].trimmed().toUInt()] = char32_t(fields[1].toUInt(nullptr, 16));
    }
    return index;
}

std::string decoded(Encoding encoding, const std::string &bytes) {
    std::string utf8;
    encoding::decode(encoding, bytes, utf8);
    return utf8;
}

std::string utf8Of(std::u32string_view text) {
    return QString::fromUcs4(text.data(), qsizetype(text.size())).toStdString();
}

// How one family writes a pointer of its index as bytes.
using BytesOf = std::function<std::string(std::uint32_t pointer)>;

std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values)
        out += char(v);
    return out;
}

BytesOf twoBytes(unsigned leadBase, unsigned width, unsigned trailOffsetLow,
                 unsigned trailOffsetHigh, unsigned highFrom) {
    return [=](std::uint32_t pointer) {
        const unsigned trail = pointer % width;
        return bytes({pointer / width + leadBase,
                      trail + (trail < highFrom ? trailOffsetLow : trailOffsetHigh)});
    };
}

} // namespace

Q_DECLARE_METATYPE(Encoding)
Q_DECLARE_METATYPE(BytesOf)
Q_DECLARE_METATYPE(std::string)

void tst_Encoding::everyPointerDecodesAndEncodesBack_data() {
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QByteArray>("index");
    QTest::addColumn<BytesOf>("bytesOf");
    // Pointers whose code point the encoder writes otherwise: only decoded.
    QTest::addColumn<std::function<bool(std::uint32_t, char32_t)>>("decodeOnly");

    const auto none = [](std::uint32_t, char32_t) { return false; };
    const BytesOf eucKr = [](std::uint32_t p) { return bytes({p / 190 + 0x81, p % 190 + 0x41}); };
    QTest::newRow("EUC-KR") << Encoding::EucKr << QByteArray("euc-kr") << eucKr
                            << std::function<bool(std::uint32_t, char32_t)>(none);
    QTest::newRow("gb18030") << Encoding::Gb18030 << QByteArray("gb18030")
                             << twoBytes(0x81, 190, 0x40, 0x41, 0x3F)
                             << std::function<bool(std::uint32_t, char32_t)>(none);
    QTest::newRow("Big5") << Encoding::Big5 << QByteArray("big5")
                          << twoBytes(0x81, 157, 0x40, 0x62, 0x3F)
                          << std::function<bool(std::uint32_t, char32_t)>(
                                 // The Hong Kong extensions are never written.
                                 [](std::uint32_t p, char32_t) { return p < (0xA1 - 0x81) * 157; });
    const BytesOf eucJp = [](std::uint32_t p) { return bytes({p / 94 + 0xA1, p % 94 + 0xA1}); };
    QTest::newRow("EUC-JP jis0208")
        << Encoding::EucJp << QByteArray("jis0208") << eucJp
        << std::function<bool(std::uint32_t, char32_t)>(
               // Beyond the 94 x 94 square EUC-JP has no bytes; U+FF0D stands for U+2212.
               [](std::uint32_t p, char32_t) { return p >= 94 * 94; });
    QTest::newRow("EUC-JP jis0212")
        << Encoding::EucJp << QByteArray("jis0212") << BytesOf([](std::uint32_t p) {
               return bytes({0x8F, p / 94 + 0xA1, p % 94 + 0xA1});
           })
        << std::function<bool(std::uint32_t, char32_t)>(
               [](std::uint32_t, char32_t) { return true; }); // never written
    QTest::newRow("Shift_JIS") << Encoding::ShiftJis << QByteArray("jis0208")
                               << BytesOf([](std::uint32_t p) {
                                      const unsigned lead = p / 188, trail = p % 188;
                                      return bytes({lead + (lead < 0x1F ? 0x81 : 0xC1),
                                                    trail + (trail < 0x3F ? 0x40 : 0x41)});
                                  })
                               << std::function<bool(std::uint32_t, char32_t)>(
                                      // NEC's duplicates of IBM's extensions are written as IBM's.
                                      [](std::uint32_t p, char32_t) {
                                          return p >= 8272 && p <= 8835;
                                      });
    for (int e = int(Encoding::Ibm866); e <= int(Encoding::XMacCyrillic); ++e) {
        const Encoding singleByte = Encoding(e);
        if (singleByte == Encoding::Iso8859_8I)
            continue; // ISO-8859-8's index
        QTest::newRow(encoding::name(singleByte).data())
            << singleByte << QByteArray(encoding::name(singleByte).data()).toLower()
            << BytesOf([](std::uint32_t p) { return bytes({p + 0x80}); })
            << std::function<bool(std::uint32_t, char32_t)>(none);
    }
    QTest::newRow("ISO-2022-JP")
        << Encoding::Iso2022Jp << QByteArray("jis0208") << BytesOf([](std::uint32_t p) {
               return bytes({0x1B, 0x24, 0x42, p / 94 + 0x21, p % 94 + 0x21, 0x1B, 0x28, 0x42});
           })
        << std::function<bool(std::uint32_t, char32_t)>(
               [](std::uint32_t p, char32_t) { return p >= 94 * 94; });
}

void tst_Encoding::everyPointerDecodesAndEncodesBack() {
    QFETCH(Encoding, encoding);
    QFETCH(QByteArray, index);
    QFETCH(BytesOf, bytesOf);
    using DecodeOnly = std::function<bool(std::uint32_t, char32_t)>;
    QFETCH(DecodeOnly, decodeOnly);
    const Index entries = readIndex(index.constData());
    if (entries.empty())
        QSKIP("the standard's index files are not beside the repository");
    // The pointer the encoder must pick for each code point: the first one it may write.
    std::map<char32_t, std::uint32_t> firstPointer;
    for (const auto &[pointer, codePoint] : entries) {
        if (decodeOnly(pointer, codePoint))
            continue;
        // Big5 writes the box drawings and two ideographs it has twice at their last pointer.
        const bool last = encoding == Encoding::Big5 &&
                          (codePoint == 0x2550 || codePoint == 0x255E || codePoint == 0x2561 ||
                           codePoint == 0x256A || codePoint == 0x5341 || codePoint == 0x5345);
        if (last)
            firstPointer[codePoint] = pointer;
        else
            firstPointer.emplace(codePoint, pointer);
    }
    int checked = 0;
    for (const auto &[pointer, codePoint] : entries) {
        const std::string bytes = bytesOf(pointer);
        if (index == "jis0208" && encoding != Encoding::ShiftJis && pointer >= 94 * 94)
            continue; // EUC-JP and ISO-2022-JP have no bytes for the rows past the square
        if (decoded(encoding, bytes) != utf8Of(std::u32string(1, codePoint)))
            QFAIL(qPrintable(QStringLiteral("pointer %1 does not decode to U+%2")
                                 .arg(pointer)
                                 .arg(uint(codePoint), 4, 16, QLatin1Char('0'))));
        const auto first = firstPointer.find(codePoint);
        if (first != firstPointer.end() && first->second == pointer &&
            encoding::encode(encoding, std::u32string(1, codePoint)) != bytes)
            QFAIL(qPrintable(QStringLiteral("U+%1 does not encode to pointer %2")
                                 .arg(uint(codePoint), 4, 16, QLatin1Char('0'))
                                 .arg(pointer)));
        ++checked;
    }
    QVERIFY(checked >= 83);
}

// Bytes in, UTF-8 out: the errors, the state changes and the pointers computed rather than
// looked up, family by family.
void tst_Encoding::decoders_data() {
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<std::string>("input");
    QTest::addColumn<QString>("text");

    const auto row = [](const char *name, Encoding encoding, std::string input, QString text) {
        QTest::newRow(name) << encoding << input << text;
    };
    // UTF-8: one U+FFFD for each maximal part of a broken sequence.
    row("utf-8 overlong", Encoding::Utf8,
        "\xC0\x80"
        "a",
        u"\uFFFD\uFFFDa"_qs);
    row("utf-8 surrogate", Encoding::Utf8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"_qs);
    row("utf-8 cut at the end", Encoding::Utf8, "a\xF0\x90\x80", u"a\uFFFD"_qs);
    row("utf-8 cut before ASCII", Encoding::Utf8, "\xE3\x81<", u"\uFFFD<"_qs);
    // Single-byte.
    row("windows-1252 euro", Encoding::Windows1252, "\x80\xE9", u"\u20AC\u00E9"_qs);
    row("windows-874 unmapped byte", Encoding::Windows874, "\xDB", u"\uFFFD"_qs);
    // gb18030 and GBK.
    row("gb18030 euro byte", Encoding::Gb18030, "\x80", u"\u20AC"_qs);
    row("gb18030 A3A0 is U+3000", Encoding::Gbk, "\xA3\xA0", u"\u3000"_qs);
    row("gb18030 four bytes", Encoding::Gb18030, "\x81\x30\x81\x30", u"\u0080"_qs);
    row("gb18030 U+E7C7 special case", Encoding::Gb18030, "\x81\x35\xF4\x37", u"\uE7C7"_qs);
    row("gb18030 supplementary plane", Encoding::Gb18030, "\x90\x30\x81\x30", u"\U00010000"_qs);
    row("gb18030 pointer between the ranges", Encoding::Gb18030, "\x84\x31\xA5\x30", u"\uFFFD"_qs);
    row("gb18030 third byte bad", Encoding::Gb18030, "\x81\x30\x81 ", u"\uFFFD0\uFFFD "_qs);
    row("gb18030 cut at the end", Encoding::Gb18030, "\x81\x30", u"\uFFFD"_qs);
    // Big5.
    row("big5 letter and combining mark", Encoding::Big5, "\x88\x62\x88\xA5",
        u"\u00CA\u0304\u00EA\u030C"_qs);
    row("big5 plane 2", Encoding::Big5, "\x87\x45", u"\U00027267"_qs);
    row("big5 ASCII trail kept", Encoding::Big5, "\xA1<", u"\uFFFD<"_qs);
    // EUC-JP.
    row("euc-jp halfwidth katakana", Encoding::EucJp, "\x8E\xB1", u"\uFF71"_qs);
    row("euc-jp jis0212", Encoding::EucJp, "\x8F\xA2\xAF", u"\u02D8"_qs);
    row("euc-jp cut at the end", Encoding::EucJp, "\xA4", u"\uFFFD"_qs);
    // ISO-2022-JP.
    row("iso-2022-jp jis0208 and back", Encoding::Iso2022Jp, "a\x1B$B$\"\x1B(Bb", u"a\u3042b"_qs);
    row("iso-2022-jp Roman", Encoding::Iso2022Jp, "\x1B(J\\~", u"\u00A5\u203E"_qs);
    row("iso-2022-jp katakana", Encoding::Iso2022Jp, "\x1B(I1", u"\uFF71"_qs);
    row("iso-2022-jp two escapes in a row", Encoding::Iso2022Jp, "\x1B$B\x1B(Ba", u"\uFFFDa"_qs);
    row("iso-2022-jp unknown escape", Encoding::Iso2022Jp, "\x1B(Za", u"\uFFFD(Za"_qs);
    row("iso-2022-jp escape cut at the end", Encoding::Iso2022Jp, "\x1B$", u"\uFFFD$"_qs);
    row("iso-2022-jp shift out", Encoding::Iso2022Jp, "\x0E", u"\uFFFD"_qs);
    row("iso-2022-jp trail cut at the end", Encoding::Iso2022Jp, "\x1B$B$", u"\uFFFD"_qs);
    // Shift_JIS.
    row("shift_jis single bytes", Encoding::ShiftJis, "\x80\xA1\\", u"\u0080\uFF61\\"_qs);
    row("shift_jis end-user-defined", Encoding::ShiftJis, "\xF0\x40", u"\uE000"_qs);
    row("shift_jis NEC row decodes", Encoding::ShiftJis, "\xED\x40", u"\u7E8A"_qs);
    row("shift_jis ASCII trail kept", Encoding::ShiftJis, "\x81<", u"\uFFFD<"_qs);
    row("shift_jis bad byte", Encoding::ShiftJis, "\xA0\xFD", u"\uFFFD\uFFFD"_qs);
    // EUC-KR: the whole of code page 949.
    row("euc-kr UHC syllable", Encoding::EucKr, "\x81\x41", u"\uAC02"_qs);
    row("euc-kr cut at the end", Encoding::EucKr, "a\xB0", u"a\uFFFD"_qs);
    // The rest.
    row("replacement", Encoding::Replacement, "<a href=x>", u"\uFFFD"_qs);
    row("replacement of nothing", Encoding::Replacement, "", QString());
    row("utf-16le", Encoding::Utf16Le, std::string("a\0\x3D\xD8\x00\xDE", 6), u"a\U0001F600"_qs);
    row("utf-16be", Encoding::Utf16Be, std::string("\0a", 2), u"a"_qs);
    row("utf-16 unpaired leading surrogate", Encoding::Utf16Le, std::string("\x00\xD8?\0", 4),
        u"\uFFFD?"_qs);
    row("utf-16 lone trailing surrogate", Encoding::Utf16Be, "\xDC\x00", u"\uFFFD"_qs);
    row("utf-16 odd byte at the end", Encoding::Utf16Le, std::string("a\0b", 3), u"a\uFFFD"_qs);
    row("x-user-defined", Encoding::XUserDefined, "a\x80\xFF", u"a\uF780\uF7FF"_qs);
}

void tst_Encoding::decoders() {
    QFETCH(Encoding, encoding);
    QFETCH(std::string, input);
    QFETCH(QString, text);
    QCOMPARE(QString::fromStdString(decoded(encoding, input)), text);
}

// Text in, bytes out, with the html error mode's "&#N;" for what an encoding lacks.
void tst_Encoding::encoders_data() {
    QTest::addColumn<Encoding>("encoding");
    QTest::addColumn<QString>("text");
    QTest::addColumn<std::string>("output");

    const auto row = [](const char *name, Encoding encoding, QString text, std::string output) {
        QTest::newRow(name) << encoding << text << output;
    };
    row("windows-1252 lacks", Encoding::Windows1252, u"\u20AC\u0101"_qs, "\x80&#257;");
    row("gb18030 four bytes", Encoding::Gb18030, u"\u00A5\U00010000"_qs,
        "\x81\x30\x84\x36\x90\x30\x81\x30");
    row("gb18030 U+E5E5 has no bytes", Encoding::Gb18030, u"\uE5E5"_qs, "&#58853;");
    row("gb18030 U+E7C7", Encoding::Gb18030, u"\uE7C7"_qs, "\x81\x35\xF4\x37");
    row("gb18030 private use of 2005", Encoding::Gb18030, u"\uE78D\uE864"_qs, "\xA6\xD9\xFE\xA0");
    row("gbk euro and no four bytes", Encoding::Gbk, u"\u20AC\U00010000"_qs, "\x80&#65536;");
    row("big5 no Hong Kong extensions", Encoding::Big5, u"\u43F0"_qs, "&#17392;");
    row("big5 last pointer of a duplicate", Encoding::Big5, u"\u2550\u5341"_qs, "\xF9\xF9\xA4\x51");
    row("euc-jp no jis0212", Encoding::EucJp, u"\u02D8"_qs, "&#728;");
    row("euc-jp yen, katakana, minus", Encoding::EucJp, u"\u00A5\uFF71\u2212"_qs,
        "\x5C\x8E\xB1\xA1\xDD");
    row("shift_jis IBM extension rather than NEC", Encoding::ShiftJis, u"\u7E8A"_qs, "\xFA\x5C");
    row("shift_jis single bytes", Encoding::ShiftJis, u"\u0080\u00A5\u203E\uFF61"_qs,
        "\x80\x5C\x7E\xA1");
    row("euc-kr UHC syllable", Encoding::EucKr, u"\uAC02"_qs, "\x81\x41");
    row("iso-2022-jp back to ASCII at the end", Encoding::Iso2022Jp, u"a\u3042"_qs,
        "a\x1B$B$\"\x1B(B");
    row("iso-2022-jp back to ASCII before an error", Encoding::Iso2022Jp, u"\u3042\u00E9b"_qs,
        "\x1B$B$\"\x1B(B&#233;b");
    row("iso-2022-jp halfwidth katakana as fullwidth", Encoding::Iso2022Jp, u"\uFF71"_qs,
        "\x1B$B%\"\x1B(B");
    row("iso-2022-jp Roman", Encoding::Iso2022Jp, u"\u00A5a\\"_qs, "\x1B(J\\a\x1B(B\\");
    row("iso-2022-jp error in Roman stays Roman", Encoding::Iso2022Jp, u"\u00A5\u00E9\u203E"_qs,
        "\x1B(J\\&#233;~\x1B(B");
    row("iso-2022-jp escape refused", Encoding::Iso2022Jp, u"\x1B"_qs, "&#65533;");
    row("x-user-defined", Encoding::XUserDefined, u"a\uF780\u00E9"_qs, "a\x80&#233;");
}

void tst_Encoding::encoders() {
    QFETCH(Encoding, encoding);
    QFETCH(QString, text);
    QFETCH(std::string, output);
    const QList<uint> codePoints = text.toUcs4();
    const std::u32string input(codePoints.begin(), codePoints.end());
    QCOMPARE(QByteArray::fromStdString(encoding::encode(encoding, input)),
             QByteArray::fromStdString(output));
}

void tst_Encoding::labels() {
    QCOMPARE(encoding::encodingForLabel(" Shift-JIS\n"), Encoding::ShiftJis);
    QCOMPARE(encoding::encodingForLabel("LATIN1"), Encoding::Windows1252);
    QCOMPARE(encoding::encodingForLabel("utf-16"), Encoding::Utf16Le);
    QCOMPARE(encoding::encodingForLabel("iso-2022-kr"), Encoding::Replacement);
    QCOMPARE(encoding::encodingForLabel("x-user-defined"), Encoding::XUserDefined);
    QCOMPARE(encoding::encodingForLabel("utf-7"), std::nullopt);
    QCOMPARE(encoding::encodingForLabel("utf8 x"), std::nullopt);
    QCOMPARE(encoding::name(Encoding::Iso8859_8I), "ISO-8859-8-I");
    QCOMPARE(encoding::outputEncoding(Encoding::Utf16Be), Encoding::Utf8);
    QCOMPARE(encoding::outputEncoding(Encoding::Replacement), Encoding::Utf8);
}

QTEST_APPLESS_MAIN(tst_Encoding)
#include "tst_Encoding.moc"
