#include "HtmlLinks.h"

#include <QElapsedTimer>
#include <QTest>

// What the crawl files is the link list a browser reports for a page; these cases pin the
// places where a naive reading of the markup or of the addresses would differ from it.
class tst_HtmlLinks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linksAsBrowserReportsThem_data();
    void linksAsBrowserReportsThem();
    void deeplyNestedPageDoesNotCrash();
    void parseStopsAtItsDeadline();
};

void tst_HtmlLinks::linksAsBrowserReportsThem_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("documentUrl");
    QTest::addColumn<QByteArray>("encoding");
    QTest::addColumn<QStringList>("links");

    const QString page = QStringLiteral("http://site.test/dir/page.html");
    const QByteArray utf8 = "UTF-8";

    QTest::newRow("a and area in tree order")
        << R"(<a href="/x">x</a><map><area href="/y"></map><p><a href="z">z</a>)" << page << utf8
        << QStringList{"http://site.test/x", "http://site.test/y", "http://site.test/dir/z"};
    QTest::newRow("a without href is no link") << R"(<a name="top">top</a><a href="/x">x</a>)"
                                               << page << utf8 << QStringList{"http://site.test/x"};
    QTest::newRow("link elements are not links")
        << R"(<head><link rel="stylesheet" href="/s.css"></head><a href="/x">x</a>)" << page << utf8
        << QStringList{"http://site.test/x"};
    QTest::newRow("template contents are not in the document")
        << R"(<template><a href="/t">t</a></template><a href="/x">x</a>)" << page << utf8
        << QStringList{"http://site.test/x"};
    QTest::newRow("svg a is not a link")
        << R"(<svg><a href="/svg"><text>s</text></a></svg><a href="/x">x</a>)" << page << utf8
        << QStringList{"http://site.test/x"};
    QTest::newRow("first base with an href wins")
        << R"(<base target="_blank"><base href="http://other.test/d/"><base href="/no/"><a href="p">p</a>)"
        << page << utf8 << QStringList{"http://other.test/d/p"};
    QTest::newRow("relative base resolves against the document")
        << R"(<base href="sub/"><a href="p">p</a>)" << page << utf8
        << QStringList{"http://site.test/dir/sub/p"};
    QTest::newRow("base in the body counts too") << R"(<a href="p">p</a><base href="/b/">)" << page
                                                 << utf8 << QStringList{"http://site.test/b/p"};
    QTest::newRow("character references decoded before resolving")
        << R"(<a href="/a?x=1&amp;y=2">a</a>)" << page << utf8
        << QStringList{"http://site.test/a?x=1&y=2"};
    QTest::newRow("surrounding whitespace stripped, tabs and newlines removed")
        << "<a href=\"  /a\tb\nc \">a</a>" << page << utf8 << QStringList{"http://site.test/abc"};
    QTest::newRow("backslashes read as slashes")
        << R"(<a href="\x\y">a</a>)" << page << utf8 << QStringList{"http://site.test/x/y"};
    QTest::newRow("scheme and host lower-cased, path kept")
        << R"(<a href="HTTP://Example.COM/Path">a</a>)" << page << utf8
        << QStringList{"http://example.com/Path"};
    QTest::newRow("default port dropped, other port kept")
        << R"(<a href="http://h.test:80/a">a</a><a href="https://h.test:443/b">b</a><a href="http://h.test:8080/c">c</a>)"
        << page << utf8
        << QStringList{"http://h.test/a", "https://h.test/b", "http://h.test:8080/c"};
    QTest::newRow("international host in ASCII form")
        << QStringLiteral("<a href=\"http://b\u00fccher.test/\">a</a>") << page << utf8
        << QStringList{"http://xn--bcher-kva.test/"};
    QTest::newRow("spaces and quotes percent-encoded")
        << R"(<a href="/a b/&quot;q&quot;?x y">a</a>)" << page << utf8
        << QStringList{"http://site.test/a%20b/%22q%22?x%20y"};
    QTest::newRow("dot segments removed")
        << R"(<a href="../up/./x">a</a>)" << page << utf8 << QStringList{"http://site.test/up/x"};
    QTest::newRow("empty href is the document")
        << R"(<a href="">a</a>)" << page << utf8 << QStringList{page};
    QTest::newRow("fragment kept")
        << R"(<a href="#top">a</a>)" << page << utf8 << QStringList{page + "#top"};
    QTest::newRow("other schemes as written")
        << R"x(<a href="mailto:me@site.test">m</a><a href="javascript:void(0)">j</a>)x" << page
        << utf8 << QStringList{"mailto:me@site.test", "javascript:void(0)"};
    QTest::newRow("unparsable href reported as written")
        << R"(<a href="http://exa mple.test/">a</a>)" << page << utf8
        << QStringList{"http://exa mple.test/"};
    QTest::newRow("legacy page encodes its query in its own encoding")
        << QStringLiteral("<a href=\"/\u00e9?q=\u00e9\">a</a>") << page
        << QByteArray("windows-1252") << QStringList{"http://site.test/%C3%A9?q=%E9"};
    QTest::newRow("utf-8 page encodes its query in utf-8")
        << QStringLiteral("<a href=\"/s?q=\u00e9\">a</a>") << page << utf8
        << QStringList{"http://site.test/s?q=%C3%A9"};
    QTest::newRow("misnested markup keeps both links")
        << R"(<p><a href="/1">one<div><a href="/2">two</div>)" << page << utf8
        << QStringList{"http://site.test/1", "http://site.test/2"};
    QTest::newRow("page without links") << "<p>nothing here</p>" << page << utf8 << QStringList{};
    QTest::newRow("empty page") << "" << page << utf8 << QStringList{};
}

void tst_HtmlLinks::linksAsBrowserReportsThem() {
    QFETCH(QString, html);
    QFETCH(QString, documentUrl);
    QFETCH(QByteArray, encoding);
    QFETCH(QStringList, links);
    QCOMPARE(extractLinks(html, documentUrl, encoding), links);
}

void tst_HtmlLinks::deeplyNestedPageDoesNotCrash() {
    const int depth = 30'000;
    const QString html =
        QStringLiteral("<div>").repeated(depth) + QStringLiteral("<a href=/deep>d</a>");
    QCOMPARE(extractLinks(html, QStringLiteral("http://site.test/"), "UTF-8"),
             QStringList{"http://site.test/deep"});
}

void tst_HtmlLinks::parseStopsAtItsDeadline() {
    // Parsing this would take minutes: the parser's work grows with the square of the depth.
    const QString html =
        QStringLiteral("<div>").repeated(1'000'000) + QStringLiteral("<a href=/x>x</a>");
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(extractLinks(html, QStringLiteral("http://site.test/"), "UTF-8", QDeadlineTimer(300)),
             QStringList());
    QCOMPARE_LT(clock.elapsed(), 5000);
}

QTEST_APPLESS_MAIN(tst_HtmlLinks)
#include "tst_HtmlLinks.moc"
