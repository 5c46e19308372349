#include "Sitemap.h"

#include <QRegularExpression>
#include <QTest>
#include <QXmlStreamReader>

#include <array>

namespace {

using Lists = std::array<QStringList, 6>;

// Level lists as plain data, recording where the builder leaves each selection.
class ListsView final : public SitemapView {
public:
    ListsView(QString start, Lists lists)
        : m_start(std::move(start))
        , m_lists(std::move(lists)) {
        selected.fill(-1);
    }

    QString startAddress() const override { return m_start; }
    int linkCount(int level) const override { return int(m_lists[level].size()); }
    bool selectLink(int level, int index) override {
        if (index < 0 || index >= m_lists[level].size())
            return false;
        selected[level] = index;
        return true;
    }
    QString selectedLink(int level) const override {
        return selected[level] < 0 ? QString() : m_lists[level].at(selected[level]);
    }

    std::array<int, 6> selected;

private:
    QString m_start;
    Lists m_lists;
};

const QString head = "<?xml version='1.0' encoding='UTF-8'?>\r\n"
                     "<urlset\r\n"
                     "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'\r\n"
                     "xmlns:xsi = 'http://www.w3.org/2001/XMLSchema-instance'\r\n"
                     "xsi:schemaLocation = 'http://www.sitemaps.org/schemas/sitemap/0.9\r\n"
                     "http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd'>\r\n"
                     "<!-- created with Corvane " +
                     makerHomePage + " -->\r\n";

QString entry(const QString &loc, const QString &priority, const QString &frequency) {
    return "<url>\r\n<loc>" + loc + "</loc>\r\n<priority>" + priority +
           "</priority>\r\n<changefreq>" + frequency + "</changefreq>\r\n</url>";
}

// Every sitemap must read as XML, whatever went into it.
QString xmlError(const QString &document) {
    QXmlStreamReader reader(document);
    while (!reader.atEnd())
        reader.readNext();
    return reader.hasError() ? reader.errorString() : QString();
}

} // namespace

class tst_Sitemap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void document_data();
    void document();
    void walkLeavesLastEntrySelected();
};

void tst_Sitemap::document_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("frequency");
    QTest::addColumn<Lists>("lists");
    QTest::addColumn<QString>("expected");

    const QString s = "http://s.test/";
    const QString start = entry(s, "1.00", "Weekly");
    QTest::newRow("empty lists: head, start entry, closing tag")
        << s << "Weekly" << Lists{} << head + start + "\r\n</urlset>";
    QTest::newRow("priorities fall by level, 0.80 then 0.60")
        << s << "Weekly" << Lists{{{"a"}, {"b"}, {"c"}, {"d"}, {"e"}, {"f"}}}
        << head + start + "\r\n" + entry("a", "0.80", "Weekly") + "\r\n" +
               entry("b", "0.60", "Weekly") + "\r\n" + entry("c", "0.50", "Weekly") + "\r\n" +
               entry("d", "0.40", "Weekly") + entry("e", "0.30", "Weekly") +
               entry("f", "0.20", "Weekly") + "\r\n</urlset>";
    QTest::newRow("levels 4 and 5 follow the previous entry on its line")
        << s << "Daily" << Lists{{{}, {}, {}, {"d"}, {"e1", "e2"}, {}}}
        << head + entry(s, "1.00", "Daily") + "\r\n" + entry("d", "0.40", "Daily") +
               entry("e1", "0.30", "Daily") + entry("e2", "0.30", "Daily") + "\r\n</urlset>";
    QTest::newRow("only level 5: first entry right behind the start entry")
        << s << "Weekly" << Lists{{{}, {}, {}, {}, {}, {"f"}}}
        << head + start + entry("f", "0.20", "Weekly") + "\r\n</urlset>";
    QTest::newRow("duplicates across levels and the start address kept")
        << s << "Weekly" << Lists{{{s, "x"}, {}, {"x"}, {}, {}, {}}}
        << head + start + "\r\n" + entry(s, "0.80", "Weekly") + "\r\n" +
               entry("x", "0.80", "Weekly") + "\r\n" + entry("x", "0.50", "Weekly") +
               "\r\n</urlset>";
    QTest::newRow("ampersand escaped, an escaped one escaped again")
        << "http://s.test/?a=1&b=2"
        << "Weekly" << Lists{{{"/?x=1&amp;y=2"}, {}, {}, {}, {}, {}}}
        << head + entry("http://s.test/?a=1&amp;b=2", "1.00", "Weekly") + "\r\n" +
               entry("/?x=1&amp;amp;y=2", "0.80", "Weekly") + "\r\n</urlset>";
    QTest::newRow("angle brackets escaped, quotes kept")
        << "http://s.test/<b>'\"]]>"
        << "Weekly" << Lists{}
        << head + entry("http://s.test/&lt;b&gt;'\"]]&gt;", "1.00", "Weekly") + "\r\n</urlset>";
    QTest::newRow("frequency escaped, capitals kept")
        << s << "Often & <soon>" << Lists{}
        << head + entry(s, "1.00", "Often &amp; &lt;soon&gt;") + "\r\n</urlset>";
    QTest::newRow("typed elements cannot be injected")
        << s << "</changefreq><evil/><changefreq>" << Lists{}
        << head + entry(s, "1.00", "&lt;/changefreq&gt;&lt;evil/&gt;&lt;changefreq&gt;") +
               "\r\n</urlset>";
    QTest::newRow("characters XML does not allow replaced")
        << QStringLiteral("http://s.test/\u0001x") + QChar(0xD800) << "Weekly" << Lists{}
        << head + entry(QStringLiteral("http://s.test/\uFFFDx\uFFFD"), "1.00", "Weekly") +
               "\r\n</urlset>";
    QTest::newRow("empty start address and frequency")
        << ""
        << "" << Lists{} << head + entry("", "1.00", "") + "\r\n</urlset>";
}

void tst_Sitemap::document() {
    QFETCH(QString, start);
    QFETCH(QString, frequency);
    QFETCH(Lists, lists);
    QFETCH(QString, expected);

    ListsView view(start, lists);
    const QString document = BuildSitemap(view, frequency);
    QCOMPARE(document, expected);
    QCOMPARE(xmlError(document), QString());
    QVERIFY(document.endsWith("</urlset>"));
    QVERIFY(!document.contains(QRegularExpression("[^\r]\n|\r[^\n]")));
}

void tst_Sitemap::walkLeavesLastEntrySelected() {
    ListsView view("http://s.test/", Lists{{{"a", "b", "c"}, {}, {"d"}, {}, {}, {"e", "f"}}});
    BuildSitemap(view, "Weekly");
    QCOMPARE(view.selected, (std::array<int, 6>{2, -1, 0, -1, -1, 1}));
    // Empty lists: 13 lines joined by 12 line breaks.
    ListsView empty("http://s.test/", Lists{});
    const QString document = BuildSitemap(empty, "Weekly");
    QCOMPARE(document.count("\r\n"), 12);
    QCOMPARE(document.split("\r\n").size(), 13);
}

QTEST_APPLESS_MAIN(tst_Sitemap)
#include "tst_Sitemap.moc"
