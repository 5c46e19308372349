#include "Export.h"
#include "PageRules.h"
#include "Sitemap.h"

#include <QTest>

#include <algorithm>
#include <array>
#include <vector>

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

QString entry(const QString &loc, const QString &priority, const QString &frequency,
              const QString &lastmod = {}) {
    return "<url>\r\n<loc>" + loc + "</loc>\r\n" +
           (lastmod.isNull() ? QString() : "<lastmod>" + lastmod + "</lastmod>\r\n") +
           "<priority>" + priority + "</priority>\r\n<changefreq>" + frequency +
           "</changefreq>\r\n</url>";
}

// Leaves out the addresses that start with "-" and dates those that start with "d".
class Notes final : public EntryNotes {
public:
    EntryNote noteFor(const QString &address, int) const override {
        return {!address.startsWith(u'-'),
                address.startsWith(u'd') ? QStringLiteral("2026-01-02T03:04:05+00:00") : QString()};
    }
};

// Checks that what `document` tells of its lines and characters is what its text holds.
void checkLines(const SitemapDocument &document) {
    const QString text = document.text();
    std::vector<qsizetype> starts{0};
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1))
        starts.push_back(at + 1);
    QCOMPARE(document.lineCount(), qsizetype(starts.size()));
    std::vector<qsizetype> ends;
    for (qsizetype line = 0; line < qsizetype(starts.size()); ++line) {
        const qsizetype start = starts[std::size_t(line)];
        qsizetype end = text.size();
        if (line + 1 < qsizetype(starts.size())) {
            end = starts[std::size_t(line) + 1] - 1;
            end -= end > start && text.at(end - 1) == u'\r' ? 1 : 0;
        }
        ends.push_back(end);
        QCOMPARE(document.lineStart(line), start);
        QCOMPARE(document.lineEnd(line), end);
    }
    for (qsizetype position = 0; position <= text.size(); ++position) {
        const auto line = qsizetype(std::upper_bound(starts.cbegin(), starts.cend(), position) -
                                    starts.cbegin() - 1);
        QCOMPARE(document.lineOf(position), line);
    }
    for (const qsizetype length : {0, 5, 11, 24, 25, 26, 30, 60}) {
        std::vector<qsizetype> expected;
        for (qsizetype line = 0; line < qsizetype(starts.size()); ++line) {
            if (ends[std::size_t(line)] - starts[std::size_t(line)] > length)
                expected.push_back(line);
        }
        QCOMPARE(document.linesLongerThan(length), expected);
    }
    CharacterSet characters;
    characters.add(text);
    QCOMPARE(document.characters(), characters.text());
}

} // namespace

class tst_Sitemap : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void document_data();
    void document();
    void walkLeavesLastEntrySelected();
    void entriesLeftOutAndDated();
    void httpDates_data();
    void httpDates();
    void splitWithinLimits_data();
    void splitWithinLimits();
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
    const QString longAddress = "http://s.test/" + QString(60, u'x');
    QTest::newRow("line breaks in addresses, on their own lines and after the entry before")
        << "http://s.test/\r\n"
        << "Daily" << Lists{{{"a\nb", longAddress}, {}, {}, {"c\rd"}, {"e\r\n\r\nf", "g"}, {"\n"}}}
        << head + entry("http://s.test/\r\n", "1.00", "Daily") + "\r\n" +
               entry("a\nb", "0.80", "Daily") + "\r\n" + entry(longAddress, "0.80", "Daily") +
               "\r\n" + entry("c\rd", "0.40", "Daily") + entry("e\r\n\r\nf", "0.30", "Daily") +
               entry("g", "0.30", "Daily") + entry("\n", "0.20", "Daily") + "\r\n</urlset>";
    QTest::newRow("a line break in the frequency")
        << s << "Da\nily" << Lists{{{longAddress}, {}, {}, {}, {"e"}, {}}}
        << head + entry(s, "1.00", "Da\nily") + "\r\n" + entry(longAddress, "0.80", "Da\nily") +
               entry("e", "0.30", "Da\nily") + "\r\n</urlset>";
}

void tst_Sitemap::document() {
    QFETCH(QString, start);
    QFETCH(QString, frequency);
    QFETCH(Lists, lists);
    QFETCH(QString, expected);

    ListsView view(start, lists);
    const SitemapDocument document = BuildSitemap(view, frequency);
    QCOMPARE(document.text(), expected);
    checkLines(document);
}

void tst_Sitemap::walkLeavesLastEntrySelected() {
    ListsView view("http://s.test/", Lists{{{"a", "b", "c"}, {}, {"d"}, {}, {}, {"e", "f"}}});
    BuildSitemap(view, "Weekly");
    QCOMPARE(view.selected, (std::array<int, 6>{2, -1, 0, -1, -1, 1}));
}

void tst_Sitemap::entriesLeftOutAndDated() {
    ListsView view("-start", Lists{{{"-a", "da"}, {"-b"}, {}, {}, {"-e", "e"}, {"df"}}});
    const Notes notes;
    const QString date = "2026-01-02T03:04:05+00:00";
    const SitemapDocument chosen = BuildSitemap(view, "Daily", &notes);
    QCOMPARE(chosen.text(), head + entry("da", "0.80", "Daily", date) +
                                entry("e", "0.30", "Daily") + entry("df", "0.20", "Daily", date) +
                                "\r\n</urlset>");
    checkLines(chosen);
    ListsView none("-start", Lists{{{"-a"}, {}, {}, {}, {}, {}}});
    const SitemapDocument empty = BuildSitemap(none, "Daily", &notes);
    QCOMPARE(empty.text(), head + "</urlset>");
    checkLines(empty);
    checkLines(SitemapDocument());

    // A split counts the dates: a document within the limit undated is split dated.
    ListsView all("d", Lists{{{"d1", "d2", "d3"}, {}, {}, {}, {}, {}}});
    const qsizetype limit = BuildSitemap(all, "Daily").text().toUtf8().size();
    const SitemapDocument dated = BuildSitemap(all, "Daily", &notes);
    const SitemapPlan plan = PlanSitemap(dated, 10, limit);
    QCOMPARE(plan.parts.size(), 2);
    for (const SitemapPlan::Part &part : plan.parts) {
        const QByteArray bytes = SitemapPart(dated, part);
        QVERIFY(bytes.size() <= limit && bytes.count("<lastmod>") == bytes.count("<url>"));
    }
}

void tst_Sitemap::httpDates_data() {
    QTest::addColumn<QByteArray>("header");
    QTest::addColumn<QString>("lastmod"); // null: not a date

    const QString nov1994 = "1994-11-06T08:49:37+00:00";
    QTest::newRow("IMF-fixdate") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT") << nov1994;
    QTest::newRow("RFC 850") << QByteArray("Sunday, 06-Nov-94 08:49:37 GMT") << nov1994;
    QTest::newRow("asctime") << QByteArray("Sun Nov  6 08:49:37 1994") << nov1994;
    QTest::newRow("asctime, two-digit day, white space around")
        << QByteArray(" Thu Feb 29 23:59:60 2024\t") << "2024-02-29T23:59:59+00:00";
    QTest::newRow("RFC 850 year at most 50 years ahead")
        << QByteArray("Monday, 01-Jan-76 00:00:00 GMT") << "2076-01-01T00:00:00+00:00";
    QTest::newRow("RFC 850 year further ahead is the last century's")
        << QByteArray("Monday, 01-Jan-77 00:00:00 GMT") << "1977-01-01T00:00:00+00:00";
    const QString bad;
    QTest::newRow("no such day") << QByteArray("Fri, 30 Feb 2024 10:00:00 GMT") << bad;
    QTest::newRow("hour 24") << QByteArray("Sun, 06 Nov 1994 24:00:00 GMT") << bad;
    QTest::newRow("second 61") << QByteArray("Sun, 06 Nov 1994 08:49:61 GMT") << bad;
    QTest::newRow("zone other than GMT") << QByteArray("Sun, 06 Nov 1994 08:49:37 UTC") << bad;
    QTest::newRow("month in lower case") << QByteArray("Sun, 06 nov 1994 08:49:37 GMT") << bad;
    QTest::newRow("one-digit day") << QByteArray("Sun, 6 Nov 1994 08:49:37 GMT") << bad;
    QTest::newRow("ISO date") << QByteArray("1994-11-06T08:49:37Z") << bad;
    QTest::newRow("year 0") << QByteArray("Sun, 06 Nov 0000 08:49:37 GMT") << bad;
    QTest::newRow("trailing text") << QByteArray("Sun, 06 Nov 1994 08:49:37 GMT x") << bad;
    QTest::newRow("empty") << QByteArray() << bad;
}

void tst_Sitemap::httpDates() {
    QFETCH(QByteArray, header);
    QFETCH(QString, lastmod);
    const QDateTime now(QDate(2026, 12, 7), QTime(16, 0), Qt::UTC);
    const std::optional<QDateTime> date = parseHttpDate(header, now);
    QCOMPARE(date ? lastmodText(*date) : QString(), lastmod);
}

void tst_Sitemap::splitWithinLimits_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<Lists>("lists");
    QTest::addColumn<qsizetype>("maxUrls");
    QTest::addColumn<qsizetype>("maxBytes");
    QTest::addColumn<QList<int>>("urlsPerPart");
    QTest::addColumn<QString>("root"); // where the index says the parts are

    const SitemapLimits real;
    const auto many = [](int count, int length) {
        QStringList addresses;
        for (int i = 0; i < count; ++i)
            addresses.append(QStringLiteral("http://s.test/%1/").arg(i, 6, 10, QChar(u'0')) +
                             QString(length, u'p'));
        return addresses;
    };
    QTest::newRow("40,000 addresses: one file as it was")
        << "http://s.test/" << Lists{{many(39'999, 40), {}, {}, {}, {}, {}}} << real.urls
        << real.bytes << QList<int>{40'000} << "";
    QTest::newRow("50,001 addresses: a second part of one")
        << "http://s.test/" << Lists{{many(50'000, 40), {}, {}, {}, {}, {}}} << real.urls
        << real.bytes << QList<int>{50'000, 1} << "http://s.test/";
    // The last address lengthened until the sitemap of `start` and `addresses` is `bytes`
    // long; `more` follows it.
    const auto filled = [](const QString &start, QStringList addresses, qsizetype bytes,
                           const QStringList &more) {
        ListsView view(start, Lists{{addresses, {}, {}, {}, {}, {}}});
        const qsizetype size = BuildSitemap(view, "Weekly").text().toUtf8().size();
        if (size > bytes)
            qFatal("sitemap already %lld bytes", qlonglong(size));
        addresses.last() += QString(bytes - size, u'p');
        return Lists{{addresses + more, {}, {}, {}, {}, {}}};
    };
    const QString s = "http://s.test/";
    QTest::newRow("a sitemap of exactly the byte limit split")
        << s << filled(s, many(10, 0), 2000, {}) << real.urls << qsizetype(2000) << QList<int>{11}
        << "";
    QTest::newRow("a part that fills the byte limit cut early")
        << s << filled(s, many(10, 0), 2000, {"z"}) << real.urls << qsizetype(2000)
        << QList<int>{11, 1} << s;
    QTest::newRow("a part one byte past the limit written")
        << s << filled(s, many(10, 0), 2001, {"z"}) << real.urls << qsizetype(2000)
        << QList<int>{10, 2} << s;
    const QString deep = "https://s.test:8443/deep/start?x=1";
    QTest::newRow("a part of 50 MiB in long addresses cut early")
        << deep << filled(deep, many(24, 2 << 20), real.bytes, {"z"}) << real.urls << real.bytes
        << QList<int>{25, 1} << "https://s.test:8443/";
    QTest::newRow("a part of 50 MiB and a byte written")
        << deep << filled(deep, many(24, 2 << 20), real.bytes + 1, {"z"}) << real.urls << real.bytes
        << QList<int>{24, 2} << "https://s.test:8443/";
    QTest::newRow("levels 4 and 5 stay on the line before, apart from a part's first")
        << "http://user@s.test/" << Lists{{{"a"}, {}, {}, {}, {"b", "c", "d"}, {"e"}}}
        << qsizetype(2) << qsizetype(1 << 20) << QList<int>{2, 2, 2} << "http://s.test/";
    QTest::newRow("an address over the byte limit gets a part of its own")
        << "http://s.test/" << Lists{{{"a", QString(3000, u'b'), "c"}, {}, {}, {}, {}, {}}}
        << qsizetype(10) << qsizetype(1000) << QList<int>{2, 1, 1} << "http://s.test/";
}

void tst_Sitemap::splitWithinLimits() {
    QFETCH(QString, start);
    QFETCH(Lists, lists);
    QFETCH(qsizetype, maxUrls);
    QFETCH(qsizetype, maxBytes);
    QFETCH(QList<int>, urlsPerPart);
    QFETCH(QString, root);

    ListsView view(start, lists);
    const SitemapDocument described = BuildSitemap(view, "Weekly");
    const QByteArray document = described.text().toUtf8();
    const SitemapSplit split = SplitSitemap(QString::fromUtf8(document), maxUrls, maxBytes);
    // The split planned from the document's pieces is the split of its text.
    const SitemapPlan plan = PlanSitemap(described, maxUrls, maxBytes);
    QCOMPARE(plan.parts.size(), split.parts.size());
    for (qsizetype i = 0; i < plan.parts.size(); ++i) {
        QCOMPARE(SitemapPart(described, plan.parts.at(i)), split.parts.at(i));
        QCOMPARE(plan.parts.at(i).bytes, split.parts.at(i).size());
    }
    QCOMPARE(plan.parts.size() > 1 ? SitemapIndex(plan) : QByteArray(), split.index);
    if (urlsPerPart.size() == 1) {
        QCOMPARE(split.parts, QList<QByteArray>{document});
        QCOMPARE(split.index, QByteArray());
        return;
    }

    // Every part is the document's head, a run of its entries as they stand there (but the
    // first, which follows the head on its own line) and its end; the runs make up the whole.
    const qsizetype head = document.indexOf("<url>");
    const QByteArray end = "\r\n</urlset>";
    QByteArray entries;
    QList<int> counts;
    for (const QByteArray &part : split.parts) {
        QVERIFY(part.startsWith(document.left(head)) && part.endsWith(end));
        const int urls = int(part.count("<url>"));
        QVERIFY(urls <= maxUrls && (part.size() <= maxBytes || urls == 1));
        counts.append(urls);
        const QByteArray run = part.sliced(head, part.size() - head - end.size());
        if (!entries.isEmpty())
            entries += document.at(document.indexOf(run) - 1) == '\n' ? "\r\n" : "";
        entries += run;
    }
    QCOMPARE(counts, urlsPerPart);
    QCOMPARE(document.left(head) + entries + end, document);

    QByteArray index = "<?xml version='1.0' encoding='UTF-8'?>\r\n<sitemapindex\r\n"
                       "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'>\r\n"
                       "<!-- created with Corvane " +
                       makerHomePage.toUtf8() + " -->\r\n";
    for (int part = 1; part <= counts.size(); ++part)
        index += "<sitemap>\r\n<loc>" + root.toUtf8() + "sitemap-" + QByteArray::number(part) +
                 ".xml</loc>\r\n</sitemap>\r\n";
    QCOMPARE(split.index, index + "</sitemapindex>");
}

QTEST_APPLESS_MAIN(tst_Sitemap)
#include "tst_Sitemap.moc"
