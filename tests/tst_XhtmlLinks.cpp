#include "HtmlLinks.h"
#include "XhtmlLinks.h"

#include <QTest>

// A page served as application/xhtml+xml is read as a browser reads it: as XML, where markup
// that HTML would forgive ends the document, and only the XHTML namespace's a and area count.
class tst_XhtmlLinks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linksAsBrowserReportsThem_data();
    void linksAsBrowserReportsThem();
    void headTellsSearchEngines();
};

void tst_XhtmlLinks::linksAsBrowserReportsThem_data() {
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("links");

    QTest::newRow("a and area in document order")
        << R"(<a href="/x">x</a><map><area href="/y"/></map><p><a href="z"/></p>)"
        << QStringList{"http://site.test/x", "http://site.test/y", "http://site.test/dir/z"};
    QTest::newRow("names compared case-sensitively")
        << R"(<A href="/upper"/><a HREF="/upper-href"/><Area href="/area"/><a href="/x"/>)"
        << QStringList{"http://site.test/x"};
    QTest::newRow("a of another namespace is no link")
        << R"(<svg xmlns="http://www.w3.org/2000/svg"><a href="/svg"/></svg>)"
           R"(<a xmlns="" href="/none"/><o:a xmlns:o="urn:other" href="/other"/>)"
           R"(<h:a xmlns:h="http://www.w3.org/1999/xhtml" href="/prefixed"/>)"
        << QStringList{"http://site.test/prefixed"};
    QTest::newRow("href of a namespace is not the href")
        << R"(<a xmlns:l="http://www.w3.org/1999/xlink" l:href="/xlink"/><a href="/x"/>)"
        << QStringList{"http://site.test/x"};
    QTest::newRow("links after a misnested end tag dropped")
        << R"(<p><a href="/1"/></b><a href="/2"/></p>)" << QStringList{"http://site.test/1"};
    QTest::newRow("link with a bare ampersand dropped, and all after it")
        << R"(<a href="/1"/><a href="/2?a=1&b=2"/><a href="/3"/>)"
        << QStringList{"http://site.test/1"};
    QTest::newRow("undeclared entity ends the document")
        << R"(<a href="/1"/>&nbsp;<a href="/2"/>)" << QStringList{"http://site.test/1"};
    QTest::newRow("CDATA, comments and processing instructions hold no links")
        << R"(<![CDATA[<a href="/c"/>]]><!-- <a href="/m"/> --><?p <a href="/p"/>?><a href="/x"/>)"
        << QStringList{"http://site.test/x"};
    QTest::newRow("template contents are not in the document")
        << R"(<template><a href="/t"/><template/><a href="/t2"/></template><a href="/x"/>)"
        << QStringList{"http://site.test/x"};
    QTest::newRow("references decoded before resolving")
        << R"(<a href="/a?x=1&amp;y=&#x41;&#66;"/>)" << QStringList{"http://site.test/a?x=1&y=AB"};
    QTest::newRow("first base with an href wins, wherever it is")
        << R"(<a href="p"/><base target="t"/><base href="http://other.test/d/"/><base href="/no/"/>)"
        << QStringList{"http://other.test/d/p"};
    QTest::newRow("base of another namespace ignored")
        << R"(<base xmlns="urn:other" href="/no/"/><a href="p"/>)"
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("data base falls back to the document")
        << R"(<base href="data:text/html,x"/><a href="p"/>)"
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("javascript base falls back to the document")
        << R"x(<base href="javascript:void(0)"/><a href="p"/>)x"
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("base that does not parse falls back to the document")
        << R"(<base href="http://[::1/"/><a href="p"/>)" << QStringList{"http://site.test/dir/p"};
    QTest::newRow("xml:base ignored") << R"(<p xml:base="http://other.test/"><a href="p"/></p>)"
                                      << QStringList{"http://site.test/dir/p"};
    QTest::newRow("href that does not parse kept as written")
        << R"(<a href="http://[x/"/>)" << QStringList{"http://[x/"};
}

void tst_XhtmlLinks::linksAsBrowserReportsThem() {
    QFETCH(QString, body);
    QFETCH(QStringList, links);
    const QString xml = R"(<?xml version="1.0" encoding="utf-8"?>)"
                        R"(<!DOCTYPE html><html xmlns="http://www.w3.org/1999/xhtml"><body>)" +
                        body + "</body></html>";
    QCOMPARE(extractXhtmlLinks(xml, QStringLiteral("http://site.test/dir/page.xhtml"), "UTF-8"),
             links);
}

void tst_XhtmlLinks::headTellsSearchEngines() {
    const QString xml =
        R"(<html xmlns="http://www.w3.org/1999/xhtml"><head><meta name="ROBOTS" content="noindex"/>)"
        R"(<template><meta name="robots" content="t"/><link rel="canonical" href="/t"/></template>)"
        R"(<link rel="canonical"/><link rel="alternate canonical" href="c#f"/></head>)"
        R"(<body><meta name="robots" content="b"/><a href="/x"/></body></html>)";
    const PageReading reading =
        readXhtmlPage(xml, QStringLiteral("http://site.test/dir/page.xhtml"), "UTF-8");
    QCOMPARE(reading.links, QStringList{"http://site.test/x"});
    QCOMPARE(reading.robots, QStringList{"noindex"});
    QCOMPARE(reading.canonical(), QStringLiteral("http://site.test/dir/c"));
}

QTEST_APPLESS_MAIN(tst_XhtmlLinks)
#include "tst_XhtmlLinks.moc"
