#include "SeenText.h"
#include "TextSearch.h"

#include <QTest>

namespace {

// What the seen-list must answer: the plain search over the whole text.
bool scanned(const QString &text, const QString &address) {
    return textPosition(text, address) > 0;
}

} // namespace

class tst_SeenText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void foundAfterAppends_data();
    void foundAfterAppends();
    void largeCrawl();
};

void tst_SeenText::foundAfterAppends_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<QStringList>("appends");
    QTest::addColumn<QString>("address");
    QTest::addColumn<bool>("seen");

    const QString site = QStringLiteral("http://example.com/");
    QTest::newRow("start text not indexed") << site << QStringList() << "example.com" << true;
    QTest::newRow("appended address not indexed")
        << site << QStringList{"http://example.com/a"} << "http://example.com/a" << true;
    QTest::newRow("prefix of a longer address missed")
        << "" << QStringList{"a/bc"} << "a/b" << true;
    QTest::newRow("suffix of an address missed") << "x" << QStringList{"a/bc"} << "/bc" << true;
    QTest::newRow("match across the comma missed") << "a,b" << QStringList{"c"} << "b,c" << true;
    QTest::newRow("match across two appends missed")
        << "" << QStringList{"a", "b", "c"} << "a,b,c" << true;
    QTest::newRow("joining comma dropped") << "a" << QStringList{"b"} << "ab" << false;
    QTest::newRow("comma alone not indexed") << "a" << QStringList{"b"} << "," << true;
    QTest::newRow("longer than the text") << "a" << QStringList{"b"} << "a,b," << false;
    QTest::newRow("never appended")
        << site << QStringList{"http://example.com/a"} << "http://example.com/b" << false;
    QTest::newRow("one character changed")
        << "" << QStringList{"a/b/a", "a/b/b"} << "a/b/c" << false;
    QTest::newRow("split state loses a transition")
        << "abcbc" << QStringList{"bcbd"} << "cbc,bcb" << true;
    QTest::newRow("split state keeps a stale transition")
        << "abcbc" << QStringList{"bcbd"} << "abcbd" << false;
    QTest::newRow("empty text finds an address") << "" << QStringList() << "a" << false;
    QTest::newRow("empty text finds the empty address") << "" << QStringList() << "" << false;
    QTest::newRow("empty address not found") << "a" << QStringList() << "" << true;
    QTest::newRow("empty address after an empty append") << "" << QStringList{""} << "" << true;
    QTest::newRow("empty append adds no comma") << "" << QStringList{""} << "," << true;
    QTest::newRow("case folded") << "" << QStringList{"A/B"} << "a/b" << false;
    QTest::newRow("half of a surrogate pair missed")
        << "" << QStringList{QStringLiteral("a\U0001F600b")} << QString(QChar(0xD83D)) << true;
    QTest::newRow("code unit zero confused")
        << "" << QStringList{QString(QChar(0)) + "a"} << QString(QChar(0)) + "a" << true;
    QTest::newRow("code unit zero invented") << "a" << QStringList() << QString(QChar(0)) << false;
    QTest::newRow("unit above 0x7FF confused with its bytes")
        << "" << QStringList{QStringLiteral("\u20AC")} << QStringLiteral("\u20AD") << false;
    QTest::newRow("old start text remembered")
        << "new/start" << QStringList() << "old/start" << false;
    QTest::newRow("old appended address remembered")
        << "new/start" << QStringList() << "old/added" << false;
    QTest::newRow("join across the reset") << "new/start" << QStringList() << "added,new" << false;
    QTest::newRow("comma after reset missed")
        << "start" << QStringList{"new"} << "start,new" << true;
    // A list that was never reset starts empty.
    QTest::newRow("never reset: empty") << QString() << QStringList() << "" << false;
    QTest::newRow("never reset: leading comma missed")
        << QString() << QStringList{"a"} << ",a" << true;
    QTest::newRow("never reset: trailing comma invented")
        << QString() << QStringList{"a"} << "a," << false;
}

void tst_SeenText::foundAfterAppends() {
    QFETCH(QString, start);
    QFETCH(QStringList, appends);
    QFETCH(QString, address);
    QFETCH(bool, seen);

    // Once with the text searched directly, once cut into sorted segments of a few bytes.
    for (const std::size_t directBytes : {std::size_t(4096), std::size_t(1)}) {
        SeenText list(directBytes);
        QString joined = start;
        if (!start.isNull()) {
            list.reset(QStringLiteral("old/start"));
            list.append(QStringLiteral("old/added"));
            list.reset(start);
        }
        for (const QString &a : appends) {
            list.append(a);
            joined += u',' + a;
        }
        QCOMPARE(list.text(), joined);
        // The row itself must agree with the plain search.
        QCOMPARE(scanned(joined, address), seen);
        QCOMPARE(list.contains(address), seen);
    }
}

// A crawl of a hundred thousand links: megabytes of text in segments sorted in place and on
// the worker.
void tst_SeenText::largeCrawl() {
    const auto address = [](int n) {
        return QStringLiteral("https://www.example.org/catalogue/item-%1.html")
            .arg((qint64(n) * 7919) % 1000003);
    };
    SeenText list;
    list.reset(QStringLiteral("https://www.example.org/"));
    int appended = 0;
    for (int n = 0; n < 100000; ++n) {
        const QString a = address(n);
        if (!list.contains(a)) {
            list.append(a);
            ++appended;
        }
    }
    QVERIFY(appended > 90000);

    int found = 0;
    for (int n = 0; n < 100000; ++n) {
        // Half were appended; the rest are numbers the crawl never met or addresses one
        // character off.
        QString a = address(n % 2 == 0 ? n : 100000 + n);
        if (n % 4 == 3)
            a.replace(QStringLiteral("item-"), QStringLiteral("iten-"));
        if (list.contains(a))
            ++found;
        if (n % 2 == 0)
            QVERIFY(list.contains(a));
    }
    QVERIFY(found >= 50000);
    QVERIFY(!list.contains(QStringLiteral("iten-")));
    QVERIFY(list.contains(QStringLiteral(".html,https://www.example.org/catalogue/item-")));

    // One character repeated for megabytes, cut into segments of 128 KiB: a search that
    // tries each position in turn takes the product of the lengths.
    SeenText repeated(64);
    repeated.append(QString(1 << 21, u'a'));
    for (int i = 0; i < 3; ++i) {
        QVERIFY(!repeated.contains(QString(1 << 20, u'a') + u'b'));
        QVERIFY(repeated.contains(u',' + QString(1 << 20, u'a')));
    }
}

QTEST_APPLESS_MAIN(tst_SeenText)
#include "tst_SeenText.moc"
