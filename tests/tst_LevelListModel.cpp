#include "LevelListModel.h"

#include <QRandomGenerator>
#include <QTest>

#include <algorithm>

class tst_LevelListModel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keepsOrderAndSelection_data();
    void keepsOrderAndSelection();
};

void tst_LevelListModel::keepsOrderAndSelection_data() {
    QTest::addColumn<LevelListModel::Order>("order");
    QTest::addColumn<int>("entries");

    // Enough entries to fill many blocks, in any order, with repeats that differ in case, some
    // ending in letters beyond ASCII that fold to others (the Kelvin sign to "k", a Deseret
    // capital, a surrogate pair, to its small letter) or in a lone surrogate.
    QTest::newRow("sorted, many blocks") << LevelListModel::Order::Sorted << 5000;
    QTest::newRow("sorted, one block") << LevelListModel::Order::Sorted << 40;
    QTest::newRow("as added, many blocks") << LevelListModel::Order::AsAdded << 5000;
}

void tst_LevelListModel::keepsOrderAndSelection() {
    QFETCH(LevelListModel::Order, order);
    QFETCH(int, entries);

    LevelListModel list(order);
    QStringList added;
    QRandomGenerator random(7);
    QString selected;
    const QString tails[] = {QString(),
                             QStringLiteral("k"),
                             QStringLiteral("\u212A"),
                             QStringLiteral("\u00E4"),
                             QStringLiteral("\u00C4/x"),
                             QStringLiteral("\U00010400"),
                             QStringLiteral("\U00010428"),
                             QString(QChar(0xD801)),
                             QStringLiteral("\u00E9"),
                             QStringLiteral("?a=1&amp;b=<i>\x01"),
                             QStringLiteral("/a\r\nb\nc\rd\te")};
    for (int i = 0; i < entries; ++i) {
        QString entry = QStringLiteral("http://s.test/%1").arg(random.bounded(entries / 2)) +
                        tails[random.bounded(int(std::size(tails)))];
        if (random.bounded(2))
            entry = entry.toUpper() + QString::number(i);
        list.add(entry);
        added.append(entry);
        // The entry selected a third of the way stays selected as others go in before it.
        if (i == entries / 3) {
            QVERIFY(list.select(list.count() / 2));
            selected = list.selectedText();
        }
    }

    QStringList expected = added;
    if (order == LevelListModel::Order::Sorted) {
        std::stable_sort(expected.begin(), expected.end(), [](const QString &a, const QString &b) {
            return a.compare(b, Qt::CaseInsensitive) < 0;
        });
    }
    QCOMPARE(list.entries(), expected);
    QCOMPARE(list.count(), entries);
    for (int row = 0; row < entries; ++row)
        QCOMPARE(list.at(row), expected.at(row));
    QCOMPARE(list.selectedText(), selected);
    QCOMPARE(list.at(list.selectedRow()), selected);

    // A frozen list keeps the entries, and knows how long each is once escaped, after the
    // list is emptied.
    const std::shared_ptr<const FrozenLinks> frozen = list.freeze();
    QVERIFY(!list.select(entries));
    list.clear();
    QCOMPARE(frozen->count(), entries);
    CharacterSet characters;
    CharacterSet expectedCharacters;
    for (int row = 0; row < entries; ++row) {
        QCOMPARE(frozen->at(row), expected.at(row));
        QString escaped;
        frozen->appendEscaped(escaped, row);
        QCOMPARE(escaped, escapedText(expected.at(row)));
        QCOMPARE(frozen->escapedSize(row, FrozenLinks::Units::Utf16), escaped.size());
        QCOMPARE(frozen->escapedSize(row, FrozenLinks::Units::Utf8), escaped.toUtf8().size());
        QCOMPARE(frozen->addCharacters(row, characters), escaped.count(u'\n'));
        QCOMPARE(frozen->lineFeeds(row), escaped.count(u'\n'));
        expectedCharacters.add(escaped);
    }
    QCOMPARE(characters.text(), expectedCharacters.text());
    CharacterSet all;
    frozen->addAllCharacters(all);
    QCOMPARE(all.text(), expectedCharacters.text());
    QCOMPARE(list.count(), 0);
    QCOMPARE(list.selectedRow(), -1);
    list.add(QStringLiteral("b"));
    list.add(QStringLiteral("A"));
    const QStringList sorted{"A", "b"};
    QCOMPARE(list.entries(),
             order == LevelListModel::Order::Sorted ? sorted : (QStringList{"b", "A"}));
}

QTEST_APPLESS_MAIN(tst_LevelListModel)
#include "tst_LevelListModel.moc"
