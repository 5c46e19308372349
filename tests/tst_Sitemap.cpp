#include "Sitemap.h"

#include <QTest>

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
    QTest::newRow("priorities fall by level; levels 4 and 5 follow the entry before")
        << s << "Daily" << Lists{{{"a"}, {"b"}, {"c"}, {"d"}, {"e1", "e2"}, {"f"}}}
        << head + entry(s, "1.00", "Daily") + "\r\n" + entry("a", "0.80", "Daily") + "\r\n" +
               entry("b", "0.60", "Daily") + "\r\n" + entry("c", "0.50", "Daily") + "\r\n" +
               entry("d", "0.40", "Daily") + entry("e1", "0.30", "Daily") +
               entry("e2", "0.30", "Daily") + entry("f", "0.20", "Daily") + "\r\n</urlset>";
    QTest::newRow("markup escaped, an escaped ampersand again, what XML forbids replaced")
        << QStringLiteral("http://s.test/?a=1&b=<b>'\"]]>\u0001\U0001F600") + QChar(0xD800)
        << "</changefreq><evil/> & x" << Lists{{{"/?x=1&amp;y=2"}, {}, {}, {}, {}, {}}}
        << head +
               entry(QStringLiteral("http://s.test/?a=1&amp;b=&lt;b&gt;'\"]]&gt;\uFFFD\U0001F600"
                                    "\uFFFD"),
                     "1.00", "&lt;/changefreq&gt;&lt;evil/&gt; &amp; x") +
               "\r\n" +
               entry("/?x=1&amp;amp;y=2", "0.80", "&lt;/changefreq&gt;&lt;evil/&gt; &amp; x") +
               "\r\n</urlset>";
    QTest::newRow("empty lists, start address and frequency")
        << ""
        << "" << Lists{} << head + entry("", "1.00", "") + "\r\n</urlset>";
}

void tst_Sitemap::document() {
    QFETCH(QString, start);
    QFETCH(QString, frequency);
    QFETCH(Lists, lists);
    QFETCH(QString, expected);

    ListsView view(start, lists);
    QCOMPARE(BuildSitemap(view, frequency), expected);
}

void tst_Sitemap::walkLeavesLastEntrySelected() {
    ListsView view("http://s.test/", Lists{{{"a", "b", "c"}, {}, {"d"}, {}, {}, {"e", "f"}}});
    BuildSitemap(view, "Weekly");
    QCOMPARE(view.selected, (std::array<int, 6>{2, -1, 0, -1, -1, 1}));
}

QTEST_APPLESS_MAIN(tst_Sitemap)
#include "tst_Sitemap.moc"
