#include "SeenText.h"
#include "TextSearch.h"

#include <QRandomGenerator>
#include <QTest>

#include <vector>

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
    void agreesWithScan_data();
    void agreesWithScan();
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

void tst_SeenText::agreesWithScan_data() {
    QTest::addColumn<bool>("wideUnits");
    QTest::addColumn<int>("directBytes");

    QTest::newRow("near-duplicates in a small alphabet") << false << 4096;
    QTest::newRow("code units across the 16-bit range") << true << 4096;
    // Segments of a few bytes: sorted, merged on the worker, borders everywhere.
    QTest::newRow("small alphabet, short segments") << false << 3;
    QTest::newRow("16-bit range, short segments") << true << 5;
}

// Random lists built the way a crawl builds them, with addresses close to earlier ones, and
// after every change every answer compared with the plain search over the text.
void tst_SeenText::agreesWithScan() {
    QFETCH(bool, wideUnits);
    QFETCH(int, directBytes);

    QRandomGenerator random(wideUnits ? 20240611u + directBytes : 20240610u + directBytes);
    const QString smallAlphabet = QStringLiteral(",/ab");
    // A few units from both ends of the range and the surrogates besides the small ones.
    const QList<char16_t> wideAlphabet = {u',',   u'/',   u'a',   u'b',   0,      1,     0xD83D,
                                          0xDE00, 0xFFFF, 0xFFFE, 0x8000, 0x00FF, 0x0100};
    const auto unit = [&]() -> QChar {
        if (wideUnits)
            return QChar(wideAlphabet[random.bounded(int(wideAlphabet.size()))]);
        return smallAlphabet[random.bounded(int(smallAlphabet.size()))];
    };
    const auto freshText = [&](int maxLength) {
        QString s;
        for (int n = random.bounded(maxLength + 1); n > 0; --n)
            s += unit();
        return s;
    };

    std::vector<QString> earlier;
    // An address the list may well have seen already: a copy, a prefix, a suffix, or an
    // earlier address with one unit changed, added or taken away.
    const auto nearDuplicate = [&]() -> QString {
        if (earlier.empty() || random.bounded(5) == 0)
            return freshText(8);
        QString s = earlier[random.bounded(int(earlier.size()))];
        const int at = s.isEmpty() ? 0 : random.bounded(int(s.size()));
        switch (random.bounded(6)) {
        case 0:
            return s;
        case 1:
            return s.left(random.bounded(int(s.size()) + 1));
        case 2:
            return s.mid(random.bounded(int(s.size()) + 1));
        case 3:
            if (!s.isEmpty())
                s[at] = unit();
            return s;
        case 4:
            return s.insert(random.bounded(int(s.size()) + 1), unit());
        default:
            return s.isEmpty() ? s : s.remove(at, 1);
        }
    };

    int checks = 0;
    const auto check = [&](SeenText &list, const QString &expected) {
        QCOMPARE(list.text(), expected);
        const auto same = [&](const QString &q) {
            ++checks;
            if (list.contains(q) != scanned(expected, q)) {
                qWarning() << "text" << expected << "address" << q;
                return false;
            }
            return true;
        };
        for (int i = 0; i < 12; ++i)
            QVERIFY(same(nearDuplicate()));
        const int size = int(expected.size());
        if (size <= 24) {
            for (int from = 0; from <= size; ++from)
                for (int to = from; to <= size; ++to)
                    QVERIFY(same(expected.mid(from, to - from)));
        } else {
            for (int i = 0; i < 24; ++i) {
                const int from = random.bounded(size + 1);
                QString piece = expected.mid(from, random.bounded(size - from + 1));
                QVERIFY(same(piece));
                if (!piece.isEmpty()) {
                    piece[random.bounded(int(piece.size()))] = unit();
                    QVERIFY(same(piece));
                    QVERIFY(same(piece + unit()));
                    QVERIFY(same(unit() + piece));
                }
            }
        }
    };

    for (int round = 0; round < 150; ++round) {
        SeenText list{std::size_t(directBytes)};
        QString expected;
        earlier.clear();
        const int operations = 1 + random.bounded(60);
        for (int op = 0; op < operations; ++op) {
            if (op == 0 || random.bounded(12) == 0) {
                // Reset to nothing, to a fresh text, to a piece of the current one or to it.
                switch (random.bounded(4)) {
                case 0:
                    expected.clear();
                    break;
                case 1:
                    expected = freshText(30);
                    break;
                case 2:
                    expected = expected.mid(random.bounded(int(expected.size()) + 1));
                    break;
                default:
                    break;
                }
                list.reset(expected);
            } else {
                const QString address = nearDuplicate();
                earlier.push_back(address);
                list.append(address);
                expected += u',' + address;
            }
            check(list, expected);
            if (QTest::currentTestFailed())
                return;
        }
    }
    QVERIFY(checks > 100000);
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
