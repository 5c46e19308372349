#include "PageDecoder.h"

#include <QTest>

class tst_PageDecoder : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recognisesHtml_data();
    void recognisesHtml();
    void choosesEncoding_data();
    void choosesEncoding();

private:
    static void addColumns();
    static void check();
};

void tst_PageDecoder::addColumns() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<bool>("isHtml");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("encoding");
}

void tst_PageDecoder::check() {
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

// A row for a body that is HTML and decodes to `text` in `encoding`.
static void html(const char *name, const QByteArray &body, const QByteArray &contentType,
                 const QString &text, const QByteArray &encoding) {
    QTest::newRow(name) << body << contentType << true << text << encoding;
}

// A row for a body that is not HTML: no text, no encoding.
static void notHtml(const char *name, const QByteArray &body, const QByteArray &contentType) {
    QTest::newRow(name) << body << contentType << false << QString() << QByteArray();
}

void tst_PageDecoder::recognisesHtml_data() {
    addColumns();
    const QByteArray page = "<html><body><a href=\"/x\">x</a></body></html>";
    const QString pageText = QString::fromLatin1(page);

    html("text/html is HTML", page, "text/html", pageText, "UTF-8");
    html("essence compared without case and parameters: TEXT/HTML ; q=1", page, "TEXT/HTML ; q=1",
         pageText, "UTF-8");
    html("application/xhtml+xml is HTML", page, "application/xhtml+xml", pageText, "UTF-8");
    notHtml("text/plain holding markup is not HTML and gives no text", page, "text/plain");
    notHtml("application/json is not HTML", "{\"a\": \"<html>\"}", "application/json");
    notHtml("text/xml is not HTML", "<?xml version=\"1.0\"?><html/>", "text/xml");
    notHtml("text/html-sandboxed is not text/html: the whole subtype counts", page,
            "text/html-sandboxed");
    notHtml("image served with an HTML-looking body stays an image", page, "image/png");
    html("malformed Content-Type without a subtype is sniffed", page, "text", pageText, "UTF-8");
    html("unknown/unknown is sniffed", page, "unknown/unknown", pageText, "UTF-8");
    html("application/unknown is sniffed", page, "application/unknown", pageText, "UTF-8");
    html("*/* is sniffed", page, "*/*", pageText, "UTF-8");
    html("header sent twice arrives comma-joined: the last type wins", page,
         "text/plain, text/html", pageText, "UTF-8");
    notHtml("header sent twice: a later text/plain wins over text/html", page,
            "text/html, text/plain");

    html("no Content-Type: <!DOCTYPE html> sniffs as HTML", "<!DOCTYPE html><p>x", "",
         "<!DOCTYPE html><p>x", "UTF-8");
    html("no Content-Type: leading whitespace is skipped", " \t\r\n\f<html>x", "",
         " \t\r\n\f<html>x", "UTF-8");
    html("no Content-Type: tag names are matched without case", "<HtMl>x", "", "<HtMl>x", "UTF-8");
    html("no Content-Type: a tag name followed by a space sniffs", "<p class=a>x", "",
         "<p class=a>x", "UTF-8");
    html("no Content-Type: a comment sniffs", "<!-- x -->", "", "<!-- x -->", "UTF-8");
    html("no Content-Type: <table> sniffs", "<table>", "", "<table>", "UTF-8");
    html("no Content-Type: <script> sniffs", "<script>", "", "<script>", "UTF-8");
    html("no Content-Type: <b> sniffs", "<b>bold</b>", "", "<b>bold</b>", "UTF-8");
    notHtml("no Content-Type: <abbr> is not <a, the name must end", "<abbr>x</abbr>", "");
    notHtml("no Content-Type: <header> is not <head", "<header>x</header>", "");
    notHtml("no Content-Type: <br/> does not sniff, only a space or > ends the name", "<br/>", "");
    notHtml("no Content-Type: <?xml is not HTML", "<?xml version=\"1.0\"?><html></html>", "");
    notHtml("no Content-Type: text before the first tag is not HTML", "hello <html>", "");
    notHtml("no Content-Type: an empty body is not HTML", "", "");
    notHtml("no Content-Type: a byte-order mark makes it text, not HTML", "\xEF\xBB\xBF<html>x",
            "");
    notHtml("no Content-Type: a tag name cut off at the end of the body is not HTML", "<html", "");
}

void tst_PageDecoder::recognisesHtml() {
    check();
}

void tst_PageDecoder::choosesEncoding_data() {
    addColumns();
    const QString euro = QStringLiteral("\u20AC");

    // Byte-order marks.
    html("UTF-8 BOM beats the Content-Type charset and is dropped", "\xEF\xBB\xBF<p>\xE2\x82\xAC",
         "text/html; charset=windows-1252", "<p>" + euro, "UTF-8");
    html("UTF-16LE BOM decodes as UTF-16LE", QByteArray("\xFF\xFE<\0p\0>\0\xAC\x20", 10),
         "text/html; charset=utf-8", "<p>" + euro, "UTF-16LE");
    html("UTF-16BE BOM decodes as UTF-16BE", QByteArray("\xFE\xFF\0<\0p\0>\x20\xAC", 10),
         "text/html", "<p>" + euro, "UTF-16BE");
    html("UTF-8 BOM beats a meta charset", "\xEF\xBB\xBF<meta charset=windows-1251><p>\xE2\x82\xAC",
         "text/html", "<meta charset=windows-1251><p>" + euro, "UTF-8");

    // The Content-Type charset.
    html("latin1 label decodes as windows-1252: 0x80 is the euro sign", "<p>\x80",
         "text/html; charset=latin1", "<p>" + euro, "windows-1252");
    html("iso-8859-1 label is windows-1252, not Latin-1: 0x93 is a curly quote", "<p>\x93",
         "text/html; charset=ISO-8859-1", QStringLiteral("<p>\u201C"), "windows-1252");
    html("us-ascii label is windows-1252: bytes above 0x7F still decode", "<p>\xE9",
         "text/html; charset=us-ascii", QStringLiteral("<p>\u00E9"), "windows-1252");
    html("ascii label is windows-1252", "<p>\x80", "text/html;charset=ascii", "<p>" + euro,
         "windows-1252");
    html("utf8 label is UTF-8", "<p>\xE2\x82\xAC", "text/html; charset=utf8", "<p>" + euro,
         "UTF-8");
    html("unicode-1-1-utf-8 label is UTF-8", "<p>\xE2\x82\xAC",
         "text/html; charset=unicode-1-1-utf-8", "<p>" + euro, "UTF-8");
    html("sjis label decodes Shift_JIS", "<p>\x82\xA0", "text/html; charset=sjis",
         QStringLiteral("<p>\u3042"), "Shift_JIS");
    html("charset label is matched without case", "<p>\xC0", "text/html; charset=WINDOWS-1251",
         QStringLiteral("<p>\u0410"), "windows-1251");
    html("quoted charset parameter with spaces inside is trimmed", "<p>\xC0",
         "text/html; charset=\" koi8-r \"", QStringLiteral("<p>\u044E"), "KOI8-R");
    html("charset parameter name is matched without case", "<p>\x80", "text/html; CHARSET=cp1252",
         "<p>" + euro, "windows-1252");
    html("Content-Type charset beats a meta charset", "<meta charset=windows-1251><p>\x80",
         "text/html; charset=windows-1252", "<meta charset=windows-1251><p>" + euro,
         "windows-1252");
    html("unknown Content-Type charset is ignored and the meta decides",
         "<meta charset=windows-1251><p>\xC0", "text/html; charset=no-such-thing",
         QStringLiteral("<meta charset=windows-1251><p>\u0410"), "windows-1251");
    html("Content-Type charset utf-16 without a BOM decodes as UTF-16LE",
         QByteArray("<\0p\0>\0", 6), "text/html; charset=utf-16", "<p>", "UTF-16LE");
    html("header sent twice keeps the charset given with the first of the same type", "<p>\xC0",
         "text/html; charset=windows-1251, text/html", QStringLiteral("<p>\u0410"), "windows-1251");
    html("sniffed page with no Content-Type still reads a meta charset",
         "<html><meta charset=windows-1251>\xC0", "",
         QStringLiteral("<html><meta charset=windows-1251>\u0410"), "windows-1251");

    // The <meta> prescan.
    html("meta charset decides when the header gives none",
         "<!DOCTYPE html><meta charset=\"windows-1251\"><p>\xC0", "text/html",
         QStringLiteral("<!DOCTYPE html><meta charset=\"windows-1251\"><p>\u0410"), "windows-1251");
    html("meta http-equiv Content-Type content charset decides",
         "<META HTTP-EQUIV='Content-Type' CONTENT='text/html; charset=iso-8859-2'><p>\xA9",
         "text/html",
         QStringLiteral("<META HTTP-EQUIV='Content-Type' CONTENT='text/html; "
                        "charset=iso-8859-2'><p>\u0160"),
         "ISO-8859-2");
    html("meta content charset without http-equiv is ignored",
         "<meta content=\"text/html; charset=windows-1251\"><p>\xC0", "text/html",
         QStringLiteral("<meta content=\"text/html; charset=windows-1251\"><p>\u00C0"),
         "windows-1252");
    html("meta charset of UTF-16 means UTF-8", "<meta charset=utf-16><p>\xE2\x82\xAC", "text/html",
         "<meta charset=utf-16><p>" + euro, "UTF-8");
    html("meta latin1 is windows-1252 too", "<meta charset=latin1><p>\x80", "text/html",
         "<meta charset=latin1><p>" + euro, "windows-1252");
    html("unknown meta charset is ignored and a later meta decides",
         "<meta charset=bogus><meta charset=windows-1251><p>\xC0", "text/html",
         QStringLiteral("<meta charset=bogus><meta charset=windows-1251><p>\u0410"),
         "windows-1251");
    html("meta inside a comment is ignored", "<!-- <meta charset=windows-1251> --><p>\xC0",
         "text/html", QStringLiteral("<!-- <meta charset=windows-1251> --><p>\u00C0"),
         "windows-1252");
    html("meta inside another tag's attribute value is ignored",
         "<div title='<meta charset=windows-1251>'><p>\xC0", "text/html",
         QStringLiteral("<div title='<meta charset=windows-1251>'><p>\u00C0"), "windows-1252");
    html("the words meta charset= in the text are not a meta tag",
         "<p>set the meta charset=windows-1251 here</p>\xC0", "text/html",
         QStringLiteral("<p>set the meta charset=windows-1251 here</p>\u00C0"), "windows-1252");
    html("a meta tag name must end: <metadata charset> is not a meta",
         "<metadata charset=windows-1251><p>\xC0", "text/html",
         QStringLiteral("<metadata charset=windows-1251><p>\u00C0"), "windows-1252");
    {
        const QByteArray padding(1100, ' ');
        html("meta after the first 1024 bytes is not seen",
             "<html>" + padding + "<meta charset=windows-1251>\xC0", "text/html",
             "<html>" + QString::fromLatin1(padding) +
                 QStringLiteral("<meta charset=windows-1251>\u00C0"),
             "windows-1252");
    }
    html("meta charset attribute first: a later content charset does not override it",
         "<meta charset=windows-1251 http-equiv=content-type content='text/html; "
         "charset=koi8-r'>\xC0",
         "text/html",
         QStringLiteral("<meta charset=windows-1251 http-equiv=content-type content='text/html; "
                        "charset=koi8-r'>\u0410"),
         "windows-1251");
    html("meta x-user-defined is read as windows-1252", "<meta charset=x-user-defined>\x80",
         "text/html", "<meta charset=x-user-defined>" + euro, "windows-1252");

    // No declaration at all.
    html("valid UTF-8 without any declaration is UTF-8", "<p>caf\xC3\xA9", "text/html",
         QStringLiteral("<p>caf\u00E9"), "UTF-8");
    html("plain ASCII without any declaration is UTF-8", "<p>x", "text/html", "<p>x", "UTF-8");
    html("invalid UTF-8 without any declaration falls back to windows-1252", "<p>caf\xE9 \x80",
         "text/html", QStringLiteral("<p>caf\u00E9 \u20AC"), "windows-1252");
    html("UTF-8 encoded surrogates are not valid UTF-8", "<p>\xED\xA0\x80", "text/html",
         QStringLiteral("<p>\u00ED\u00A0\u20AC"), "windows-1252");

    // XHTML goes to an XML parser.
    html("XHTML reads its XML declaration",
         "<?xml version=\"1.0\" encoding=\"windows-1251\"?><html>\xC0", "application/xhtml+xml",
         QStringLiteral("<?xml version=\"1.0\" encoding=\"windows-1251\"?><html>\u0410"),
         "windows-1251");
    html("XHTML ignores meta and defaults to UTF-8",
         "<html><meta charset=windows-1251/>\xE2\x82\xAC</html>", "application/xhtml+xml",
         "<html><meta charset=windows-1251/>" + euro + "</html>", "UTF-8");
}

void tst_PageDecoder::choosesEncoding() {
    check();
}

QTEST_APPLESS_MAIN(tst_PageDecoder)
#include "tst_PageDecoder.moc"
