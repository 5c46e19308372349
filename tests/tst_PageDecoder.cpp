#include "PageDecoder.h"

#include <QTest>

class tst_PageDecoder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void decode_data();
    void decode();
};

// A row for a body that is HTML and decodes to `text` in `encoding`.
static void html(const char *name, const QByteArray &body, const QByteArray &contentType,
                 const QString &text, const QByteArray &encoding) {
    QTest::newRow(name) << body << contentType << true << text << encoding;
}

// A row for a body that is not HTML: no text, no encoding.
static void notHtml(const char *name, const QByteArray &body, const QByteArray &contentType) {
    QTest::newRow(name) << body << contentType << false << QString() << QByteArray();
}

// A row for a body of ASCII `markup` and then `bytes`, which decode to `tail` in `encoding`.
static void decodes(const char *name, const QByteArray &markup, const QByteArray &bytes,
                    const QByteArray &contentType, const QString &tail,
                    const QByteArray &encoding) {
    html(name, markup + bytes, contentType, QString::fromLatin1(markup) + tail, encoding);
}

void tst_PageDecoder::decode_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("isHtml");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoding");

    // Which pages are HTML.
    const QByteArray page = "<html><body><a href=\"/x\">x</a></body></html>";
    const QString pageText = QString::fromLatin1(page);

    html("text/html is HTML", page, "text/html", pageText, "UTF-8");
    html("essence compared without case and parameters: TEXT/HTML ; q=1", page, "TEXT/HTML ; q=1",
         pageText, "UTF-8");
    html("application/xhtml+xml is HTML", page, "application/xhtml+xml", pageText, "UTF-8");
    notHtml("text/plain holding markup is not HTML and gives no text", page, "text/plain");
    html("malformed Content-Type without a subtype is sniffed", page, "text", pageText, "UTF-8");
    html("unknown/unknown is sniffed", page, "unknown/unknown", pageText, "UTF-8");
    html("*/* is sniffed", page, "*/*", pageText, "UTF-8");
    html("header sent twice arrives comma-joined: the last type wins", page,
         "text/plain, text/html", pageText, "UTF-8");

    html("no Content-Type: <!DOCTYPE html> sniffs as HTML", "<!DOCTYPE html><p>x", "",
         "<!DOCTYPE html><p>x", "UTF-8");
    html("no Content-Type: whitespace skipped, tag names matched without case", " \t\r\n\f<HtMl>x",
         "", " \t\r\n\f<HtMl>x", "UTF-8");
    html("no Content-Type: a tag name followed by a space sniffs", "<p class=a>x", "",
         "<p class=a>x", "UTF-8");
    notHtml("no Content-Type: <abbr> is not <a, the name must end", "<abbr>x</abbr>", "");
    notHtml("no Content-Type: <br/> does not sniff, only a space or > ends the name", "<br/>", "");
    notHtml("no Content-Type: a byte-order mark makes it text, not HTML", "\xEF\xBB\xBF<html>x",
            "");
    notHtml("no Content-Type: a tag name cut off at the end of the body is not HTML", "<html", "");

    // Which encoding each page is read in.
    const QString euro = QStringLiteral("\u20AC");
    const QString a = QStringLiteral("\u0410");      // 0xC0 in windows-1251
    const QString aGrave = QStringLiteral("\u00C0"); // 0xC0 in windows-1252

    // Byte-order marks.
    html("UTF-8 BOM beats the Content-Type charset and is dropped", "\xEF\xBB\xBF<p>\xE2\x82\xAC",
         "text/html; charset=windows-1252", "<p>" + euro, "UTF-8");
    html("UTF-16LE BOM decodes as UTF-16LE", QByteArray("\xFF\xFE<\0p\0>\0\xAC\x20", 10),
         "text/html; charset=utf-8", "<p>" + euro, "UTF-16LE");
    html("UTF-16BE BOM decodes as UTF-16BE", QByteArray("\xFE\xFF\0<\0p\0>\x20\xAC", 10),
         "text/html", "<p>" + euro, "UTF-16BE");

    // The Content-Type charset.
    decodes("iso-8859-1 label is windows-1252, not Latin-1", "<p>", "\x80\x93",
            "text/html; charset=ISO-8859-1", euro + QStringLiteral("\u201C"), "windows-1252");
    decodes("charset name and label matched without case", "<p>", "\xC0",
            "text/html; CHARSET=WINDOWS-1251", a, "windows-1251");
    decodes("quoted charset parameter with spaces inside is trimmed", "<p>", "\xC0",
            "text/html; charset=\" koi8-r \"", QStringLiteral("\u044E"), "KOI8-R");
    decodes("Content-Type charset beats a meta charset", "<meta charset=windows-1251><p>", "\x80",
            "text/html; charset=windows-1252", euro, "windows-1252");
    decodes("unknown Content-Type charset is ignored and the meta decides",
            "<meta charset=windows-1251><p>", "\xC0", "text/html; charset=no-such-thing", a,
            "windows-1251");
    html("Content-Type charset utf-16 without a BOM decodes as UTF-16LE",
         QByteArray("<\0p\0>\0", 6), "text/html; charset=utf-16", "<p>", "UTF-16LE");
    decodes("header sent twice keeps the charset given with the first of the same type", "<p>",
            "\xC0", "text/html; charset=windows-1251, text/html", a, "windows-1251");
    decodes("sniffed page with no Content-Type still reads a meta charset",
            "<html><meta charset=windows-1251>", "\xC0", "", a, "windows-1251");

    // The <meta> prescan.
    decodes("meta charset decides when the header gives none",
            "<!DOCTYPE html><meta charset=\"windows-1251\"><p>", "\xC0", "text/html", a,
            "windows-1251");
    decodes("meta http-equiv Content-Type content charset decides",
            "<META HTTP-EQUIV='Content-Type' CONTENT='text/html; charset=iso-8859-2'><p>", "\xA9",
            "text/html", QStringLiteral("\u0160"), "ISO-8859-2");
    decodes("meta content charset without http-equiv is ignored",
            "<meta content=\"text/html; charset=windows-1251\"><p>", "\xC0", "text/html", aGrave,
            "windows-1252");
    decodes("meta charset of UTF-16 means UTF-8", "<meta charset=utf-16><p>", "\xE2\x82\xAC",
            "text/html", euro, "UTF-8");
    decodes("unknown meta charset is ignored and a later meta decides",
            "<meta charset=bogus><meta charset=windows-1251><p>", "\xC0", "text/html", a,
            "windows-1251");
    decodes("meta inside a comment is ignored", "<!-- <meta charset=windows-1251> --><p>", "\xC0",
            "text/html", aGrave, "windows-1252");
    decodes("meta inside another tag's attribute value is ignored",
            "<div title='<meta charset=windows-1251>'><p>", "\xC0", "text/html", aGrave,
            "windows-1252");
    decodes("a meta tag name must end: <metadata charset> is not a meta",
            "<metadata charset=windows-1251><p>", "\xC0", "text/html", aGrave, "windows-1252");
    decodes("meta after the first 1024 bytes is not seen",
            "<html>" + QByteArray(1100, ' ') + "<meta charset=windows-1251>", "\xC0", "text/html",
            aGrave, "windows-1252");
    decodes("meta charset attribute first: a later content charset does not override it",
            "<meta charset=windows-1251 http-equiv=content-type content='text/html; "
            "charset=koi8-r'>",
            "\xC0", "text/html", a, "windows-1251");
    decodes("meta x-user-defined is read as windows-1252", "<meta charset=x-user-defined>", "\x80",
            "text/html", euro, "windows-1252");

    // No declaration at all.
    decodes("valid UTF-8 without any declaration is UTF-8", "<p>caf", "\xC3\xA9", "text/html",
            QStringLiteral("\u00E9"), "UTF-8");
    decodes("invalid UTF-8 without any declaration falls back to windows-1252", "<p>caf",
            "\xE9 \x80", "text/html", QStringLiteral("\u00E9 \u20AC"), "windows-1252");
    decodes("UTF-8 encoded surrogates are not valid UTF-8", "<p>", "\xED\xA0\x80", "text/html",
            QStringLiteral("\u00ED\u00A0\u20AC"), "windows-1252");

    // XHTML goes to an XML parser.
    decodes("XHTML reads its XML declaration",
            "<?xml version=\"1.0\" encoding=\"windows-1251\"?><html>", "\xC0",
            "application/xhtml+xml", a, "windows-1251");
    decodes("XHTML ignores meta and defaults to UTF-8", "<html><meta charset=windows-1251/>",
            "\xE2\x82\xAC", "application/xhtml+xml", euro, "UTF-8");
}

void tst_PageDecoder::decode() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(bool, isHtml);
    QFETCH(QString, text);
    QFETCH(QByteArray, encoding);

    const DecodedPage page = decodePage(body, contentType);
    QCOMPARE(page.isHtml, isHtml);
    QCOMPARE(page.text, text);
    QCOMPARE(page.encoding, encoding);
}

QTEST_APPLESS_MAIN(tst_PageDecoder)
#include "tst_PageDecoder.moc"
