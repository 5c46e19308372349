#include "HtmlLinks.h"

#include <QTest>

// What the crawl files is the link list a browser reports for a page; these cases pin the
// places where a naive reading of the markup would differ from it. How an address is parsed
// and resolved is tst_WebUrl's.
class tst_HtmlLinks : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void linksAsBrowserReportsThem_data();
    void linksAsBrowserReportsThem();
    void headTellsSearchEngines_data();
    void headTellsSearchEngines();
    void deeplyNestedPageIsRead();
    void pageReadInItsEncoding_data();
    void pageReadInItsEncoding();
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
    QTest::newRow("data base falls back to the document")
        << R"(<base href="data:text/html,x"><a href="p">p</a>)" << page << utf8
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("javascript base falls back to the document")
        << R"x(<base href="JavaScript:void(0)"><a href="p">p</a>)x" << page << utf8
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("unparsable base falls back to the document")
        << R"(<base href="http://exa mple.test/"><a href="p">p</a>)" << page << utf8
        << QStringList{"http://site.test/dir/p"};
    QTest::newRow("control character kept as browsers do")
        << "<a href=\"vt\x0B.html\">a</a><a href=\"del&#127;.html\">b</a>" << page << utf8
        << QStringList{"http://site.test/dir/vt%0B.html", "http://site.test/dir/del%7F.html"};
    QTest::newRow("a inside select kept as browsers do")
        << R"(<select><option>o<a href="/s">s</a></select>)" << page << utf8
        << QStringList{"http://site.test/s"};
    QTest::newRow("links fostered out of a table come before it")
        << R"(<table><tr><td><a href="/in">in</a></td></tr><a href="/out">out</a></table>)" << page
        << utf8 << QStringList{"http://site.test/out", "http://site.test/in"};
    QTest::newRow("white space in a table reopens a fostered link")
        << R"(<table><a href="/f">f<tbody><div> </table>)" << page << utf8
        << QStringList{"http://site.test/f", "http://site.test/f"};
    QTest::newRow("svg frameset is no frameset")
        << R"(<svg><frameset><foreignObject><table></table></foreignObject></svg><a href="/1">)"
        << page << utf8 << QStringList{"http://site.test/1"};
    QTest::newRow("end tag object ignored behind an open marquee")
        << R"(<object><a href="/7"><marquee></object><nobr>)" << page << utf8
        << QStringList{"http://site.test/7"};
    QTest::newRow("fostered link and a inside select both kept")
        << R"(<table><a href="/f">f</a><tr><td>x</table><select><option><a href="/s">s</a></select>)"
        << page << utf8 << QStringList{"http://site.test/f", "http://site.test/s"};
    // In quirks mode a table does not close the paragraph around it, so that the link left
    // open there is not opened again after the table. The DOCTYPE decides by its name and its
    // identifiers; a public identifier that starts with one of these asks for quirks mode.
    // clang-format off
    const char *const quirksPrefixes[] = {
        "+//Silmaril//dtd html Pro v0r11 19970101//", "-//AS//DTD HTML 3.0 asWedit + extensions//",
        "-//AdvaSoft Ltd//DTD HTML 3.0 asWedit + extensions//", "-//IETF//DTD HTML 2.0 Level 1//",
        "-//IETF//DTD HTML 2.0 Level 2//", "-//IETF//DTD HTML 2.0 Strict Level 1//",
        "-//IETF//DTD HTML 2.0 Strict Level 2//", "-//IETF//DTD HTML 2.0 Strict//",
        "-//IETF//DTD HTML 2.0//", "-//IETF//DTD HTML 2.1E//", "-//IETF//DTD HTML 3.0//",
        "-//IETF//DTD HTML 3.2 Final//", "-//IETF//DTD HTML 3.2//", "-//IETF//DTD HTML 3//",
        "-//IETF//DTD HTML Level 0//", "-//IETF//DTD HTML Level 1//", "-//IETF//DTD HTML Level 2//",
        "-//IETF//DTD HTML Level 3//", "-//IETF//DTD HTML Strict Level 0//",
        "-//IETF//DTD HTML Strict Level 1//", "-//IETF//DTD HTML Strict Level 2//",
        "-//IETF//DTD HTML Strict Level 3//", "-//IETF//DTD HTML Strict//", "-//IETF//DTD HTML//",
        "-//Metrius//DTD Metrius Presentational//",
        "-//Microsoft//DTD Internet Explorer 2.0 HTML Strict//",
        "-//Microsoft//DTD Internet Explorer 2.0 HTML//",
        "-//Microsoft//DTD Internet Explorer 2.0 Tables//",
        "-//Microsoft//DTD Internet Explorer 3.0 HTML Strict//",
        "-//Microsoft//DTD Internet Explorer 3.0 HTML//",
        "-//Microsoft//DTD Internet Explorer 3.0 Tables//",
        "-//Netscape Comm. Corp.//DTD HTML//", "-//Netscape Comm. Corp.//DTD Strict HTML//",
        "-//O'Reilly and Associates//DTD HTML 2.0//",
        "-//O'Reilly and Associates//DTD HTML Extended 1.0//",
        "-//O'Reilly and Associates//DTD HTML Extended Relaxed 1.0//",
        "-//SQ//DTD HTML 2.0 HoTMetaL + extensions//",
        "-//SoftQuad Software//DTD HoTMetaL PRO 6.0::19990601::extensions to HTML 4.0//",
        "-//SoftQuad//DTD HoTMetaL PRO 4.0::19971010::extensions to HTML 4.0//",
        "-//Spyglass//DTD HTML 2.0 Extended//", "-//Sun Microsystems Corp.//DTD HotJava HTML//",
        "-//Sun Microsystems Corp.//DTD HotJava Strict HTML//", "-//W3C//DTD HTML 3 1995-03-24//",
        "-//W3C//DTD HTML 3.2 Draft//", "-//W3C//DTD HTML 3.2 Final//", "-//W3C//DTD HTML 3.2//",
        "-//W3C//DTD HTML 3.2S Draft//", "-//W3C//DTD HTML 4.0 Frameset//",
        "-//W3C//DTD HTML 4.0 Transitional//", "-//W3C//DTD HTML Experimental 19960712//",
        "-//W3C//DTD HTML Experimental 970421//", "-//W3C//DTD W3 HTML//",
        "-//W3O//DTD W3 HTML 3.0//", "-//WebTechs//DTD Mozilla HTML 2.0//",
        "-//WebTechs//DTD Mozilla HTML//",
    };
    // clang-format on
    QList<std::pair<QByteArray, bool>> doctypes = {
        {"", true},
        {"<!DOCTYPE html>", false},
        {"<!DOCTYPE html SYSTEM \"about:legacy-compat\">", false},
        {"<!DOCTYPE svg>", true},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">", true},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Frameset//EN\">", true},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Frameset//EN\" \"x\">", false},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\" \"\">", false},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Transitional//EN\">", false},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD XHTML 1.0 Frameset//EN\" \"x\">", false},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.01//EN\">", false},
        {"<!DOCTYPE HTML PUBLIC \"-//ietf//dtd html 2.0 level 2//en\">", true},
        {"<!DOCTYPE html PUBLIC \"HTML\">", true},
        {"<!DOCTYPE html PUBLIC \"HTML 5\">", false},
        {"<!DOCTYPE html PUBLIC \"x-//IETF//DTD HTML//\">", false},
        {"<!DOCTYPE html PUBLIC \"-//W3O//DTD W3 HTML Strict 3.0//EN//\">", true},
        {"<!DOCTYPE html PUBLIC \"-//W3O//DTD W3 HTML Strict 3.0//EN//x\">", false},
        {"<!DOCTYPE html PUBLIC \"-/W3C/DTD HTML 4.0 Transitional/EN\" \"x\">", true},
        {"<!DOCTYPE html PUBLIC \"-/W3C/DTD HTML 4.0 Transitional/EN/\">", false},
        {"<!DOCTYPE html SYSTEM "
         "\"http://www.IBM.com/data/dtd/v11/ibmxhtml1-transitional.dtd\">",
         true},
        {"<!DOCTYPE html PUBLIC \"\" "
         "\"http://www.ibm.com/data/dtd/v11/ibmxhtml1-transitional.dtd/\">",
         false},
        {"<!DOCTYPE html PUBLIC \"-//W3C//DTD HTML 4.0 Transitional//EN\"", true},
    };
    for (const char *prefix : quirksPrefixes)
        doctypes.append({"<!DOCTYPE html PUBLIC \"" + QByteArray(prefix) + "EN\" \"x\">", true});
    for (const auto &[doctype, quirks] : doctypes) {
        QTest::addRow("table in a paragraph after %s",
                      doctype.isEmpty() ? "no doctype" : doctype.constData())
            << QString::fromLatin1(doctype) + "<p><a href=/1><table><td>x</table>y" << page << utf8
            << (quirks ? QStringList{"http://site.test/1"}
                       : QStringList{"http://site.test/1", "http://site.test/1"});
    }
    QTest::newRow("repeated attribute dropped alone as browsers do")
        << R"(<a hr/ef=/1<a hr/ef=/2>x</a><a class=x class=y href=/3>y</a>)" << page << utf8
        << QStringList{"http://site.test/3"};
    QTest::newRow("frameset after an end tag br ignored as browsers do")
        << R"(<a href=/1>x</a></br><frameset><frame src=f></frameset>)" << page << utf8
        << QStringList{"http://site.test/1"};
    QTest::newRow("character references decoded before resolving")
        << R"(<a href="/a?x=1&amp;y=2">a</a>)" << page << utf8
        << QStringList{"http://site.test/a?x=1&y=2"};
    QTest::newRow("spaces and quotes percent-encoded")
        << R"(<a href="/a b/&quot;q&quot;?x y">a</a>)" << page << utf8
        << QStringList{"http://site.test/a%20b/%22q%22?x%20y"};
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
    QCOMPARE(extractLinks(html.toUtf8(), documentUrl, encoding), links);
}

void tst_HtmlLinks::headTellsSearchEngines_data() {
    QTest::addColumn<QString>("html");
    QTest::addColumn<QStringList>("robots");
    QTest::addColumn<QString>("canonical");

    QTest::newRow("robots metas of the head, any case, references decoded")
        << R"(<meta name=Robots content="NoIndex, x"><meta name=otherbot content=noindex>)"
           R"(<meta name=robots content="no&#110;e">)"
        << QStringList{"NoIndex, x", "none"} << QString();
    QTest::newRow("meta after the head's end goes into the head")
        << "<head></head><meta name=robots content=noindex><p>" << QStringList{"noindex"}
        << QString();
    QTest::newRow("noscript of the head counts")
        << "<noscript><meta name=robots content=noindex></noscript>" << QStringList{"noindex"}
        << QString();
    QTest::newRow("body and template do not count")
        << "<template><meta name=robots content=a><link rel=canonical href=/t></template>"
           "<p><meta name=robots content=noindex><link rel=canonical href=/b>"
        << QStringList{} << QString();
    QTest::newRow("first canonical with an href, against the base, without fragment")
        << R"(<link rel=canonical><link rel="alternate CANONICAL" href="c#top">)"
           R"(<link rel=canonical href=/other><base href="/b/">)"
        << QStringList{} << "http://site.test/b/c";
}

void tst_HtmlLinks::headTellsSearchEngines() {
    QFETCH(QString, html);
    QFETCH(QStringList, robots);
    QFETCH(QString, canonical);
    const PageReading reading =
        readPage(html.toUtf8(), QStringLiteral("http://site.test/dir/page.html"), "UTF-8");
    QCOMPARE(reading.robots, robots);
    QCOMPARE(reading.canonical(), canonical);
}

void tst_HtmlLinks::deeplyNestedPageIsRead() {
    // A tree builder's work grows with the square of this depth: a minute for this page.
    const QByteArray html = QByteArray("<div>").repeated(100'000) + "<a href=/deep>d</a>";
    QCOMPARE(extractLinks(html, QStringLiteral("http://site.test/"), "UTF-8"),
             QStringList{"http://site.test/deep"});
}

// A page as the server sends it, through the whole reader: its encoding found and decoded, its
// links' queries written in it (path and fragment in UTF-8), and what it lacks as "&#N;".
void tst_HtmlLinks::pageReadInItsEncoding_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QStringList>("links");

    const auto a = [](const QByteArray &href) { return "<a href=\"" + href + "\">x</a>"; };
    const QByteArray html = "text/html";
    // Past the 1024 bytes that the prescan looks at, in the head.
    const QByteArray late = "<head><!--" + QByteArray(1100, '-') + "-->";

    QTest::newRow("windows-1251 from the Content-Type")
        << a("/\xEF?q=\xEF") << html + "; charset=windows-1251"
        << QStringList{"http://site.test/%D0%BF?q=%EF"};
    QTest::newRow("Shift_JIS from the prescan, a character it lacks")
        << "<meta charset=shift_jis>" + a("?q=\x82\xA0&eacute;") << html
        << QStringList{"http://site.test/dir/page.html?q=%82%A0%26%23233%3B"};
    QTest::newRow("EUC-KR writes every UHC syllable")
        << a("?q=\x81"
             "A")
        << html + "; charset=euc-kr" << QStringList{"http://site.test/dir/page.html?q=%81A"};
    QTest::newRow("GBK writes the euro sign as one byte")
        << a("?q=&euro;&#x10000;") << html + "; charset=gb2312"
        << QStringList{"http://site.test/dir/page.html?q=%80%26%2365536%3B"};
    QTest::newRow("gb18030 writes four bytes")
        << a("?q=&#x10000;") << html + "; charset=gb18030"
        << QStringList{"http://site.test/dir/page.html?q=%900%810"};
    QTest::newRow("Big5 leaves out the Hong Kong extensions")
        << a("?q=\x87\x40") << html + "; charset=big5"
        << QStringList{"http://site.test/dir/page.html?q=%26%2317392%3B"};
    QTest::newRow("ISO-2022-JP back to ASCII before what it lacks")
        << a("?q=\x1B$B$\"\x1B(B&eacute;") << html + "; charset=iso-2022-jp"
        << QStringList{"http://site.test/dir/page.html?q=%1B$B$%22%1B(B%26%23233%3B"};
    QTest::newRow("x-user-defined writes its own bytes")
        << a("?q=\x80") << html + "; charset=x-user-defined"
        << QStringList{"http://site.test/dir/page.html?q=%80"};
    QTest::newRow("UTF-16 unpaired surrogate is U+FFFD, query in UTF-8")
        << QByteArray("\xFF\xFE<\0a\0 \0h\0r\0e\0f\0=\0?\0\x00\xD8x\0>\0", 26) << html
        << QStringList{"http://site.test/dir/page.html?%EF%BF%BDx"};
    QTest::newRow("replacement label hides the page")
        << a("/x") << html + "; charset=iso-2022-kr" << QStringList{};
    QTest::newRow("late meta reads the page again")
        << late + "<meta charset=windows-1251></head>" + a("/\xEF") << html
        << QStringList{"http://site.test/%D0%BF"};
    QTest::newRow("late meta in http-equiv form")
        << late + "<meta http-equiv=content-type content='text/html; charset=koi8-r'>" + a("/\xD0")
        << html << QStringList{"http://site.test/%D0%BF"};
    QTest::newRow("only the first late meta counts")
        << late + "<meta charset=windows-1252><meta charset=windows-1251>" + a("/\xEF") << html
        << QStringList{"http://site.test/%C3%AF"};
    QTest::newRow("late meta does not override the Content-Type")
        << late + "<meta charset=windows-1251>" + a("/\xEF") << html + "; charset=windows-1252"
        << QStringList{"http://site.test/%C3%AF"};
    QTest::newRow("meta in raw text is no meta")
        << late + "<title><meta charset=windows-1251></title>" + a("/\xEF") << html
        << QStringList{"http://site.test/%C3%AF"};
}

void tst_HtmlLinks::pageReadInItsEncoding() {
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QStringList, links);
    const std::optional<PageReading> read =
        readServedPage(body, contentType, QStringLiteral("http://site.test/dir/page.html"));
    QVERIFY(read);
    QCOMPARE(read->links, links);
}

QTEST_APPLESS_MAIN(tst_HtmlLinks)
#include "tst_HtmlLinks.moc"
