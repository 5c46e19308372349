#include "SitemapText.h"

#include <QApplication>
#include <QScrollBar>
#include <QTest>

// The sitemap view on texts the window's own sitemap seldom holds: other line breaks,
// characters outside the Basic Multilingual Plane, nothing at all.
class tst_SitemapText : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void keysSelectWholeCharacters_data();
    void keysSelectWholeCharacters();
    void wrappedLineScrollsRowByRow();
};

void tst_SitemapText::keysSelectWholeCharacters_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<QString>("selected");

    const QString face = QString::fromUcs4(U"\U0001F600");
    const QKeyCombination right = Qt::SHIFT | Qt::Key_Right;
    QTest::newRow("a surrogate pair is one step")
        << "a" + face + "b" << QKeySequence(right, right) << "a" + face;
    QTest::newRow("Shift+Left gives a pair back whole")
        << "a" + face + "b"
        << QKeySequence(QKeyCombination(Qt::Key_End), Qt::SHIFT | Qt::Key_Left,
                        Qt::SHIFT | Qt::Key_Left)
        << face + "b";
    QTest::newRow("LF alone ends a line")
        << QStringLiteral("ab\ncd") << QKeySequence(Qt::SHIFT | Qt::Key_Down)
        << QStringLiteral("ab\n");
    QTest::newRow("CR alone is a character of the line")
        << QStringLiteral("a\rb\r\nc") << QKeySequence(Qt::SHIFT | Qt::Key_End)
        << QStringLiteral("a\rb");
    QTest::newRow("CR LF is one step")
        << QStringLiteral("a\r\nb") << QKeySequence(right, right, right)
        << QStringLiteral("a\r\nb");
    QTest::newRow("a text without a line break")
        << QStringLiteral("abc") << QKeySequence(Qt::SHIFT | Qt::Key_Down) << QStringLiteral("abc");
    QTest::newRow("an empty text")
        << QString() << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_End, right) << QString();
}

void tst_SitemapText::keysSelectWholeCharacters() {
    QFETCH(QString, text);
    QFETCH(QKeySequence, keys);
    QFETCH(QString, selected);

    SitemapText view;
    view.resize(300, 200);
    view.setText(text);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(&view, keys[i].key(), keys[i].keyboardModifiers());
    QCOMPARE(view.selectedText(), selected);
    QCOMPARE(view.text(), text);
}

void tst_SitemapText::wrappedLineScrollsRowByRow() {
    // One line of a hundred thousand characters, then a short one with wider ones.
    const QString text = QString(100'000, u'm') + QStringLiteral("\r\n@W end");
    SitemapText view;
    view.resize(300, 200);
    view.setText(text);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    QScrollBar *scroll = view.verticalScrollBar();
    const int rows = scroll->maximum() + scroll->pageStep();
    QVERIFY(rows > 100'000 / 300);

    // Down keeps its column from row to row, and the view follows the cursor.
    QTest::keyClick(&view, Qt::Key_Right);
    QTest::keyClick(&view, Qt::Key_Down, Qt::ShiftModifier);
    const qsizetype columns = view.selectionLength();
    // A row fills the width, whatever wider characters the text might have held.
    const qreal rowWidth = qreal(columns) * QFontMetricsF(view.font()).horizontalAdvance(u'm');
    QVERIFY(rowWidth <= view.viewport()->width());
    QVERIFY(rowWidth > view.viewport()->width() * 0.8);
    QTest::keyClick(&view, Qt::Key_PageDown, Qt::ShiftModifier);
    QCOMPARE(view.selectionLength(), columns * (1 + scroll->pageStep()));
    QVERIFY(scroll->value() > 0);
    QTest::keyClick(&view, Qt::Key_End, Qt::ControlModifier);
    QCOMPARE(scroll->value(), scroll->maximum());

    // A narrower view wraps the line into more rows; the text stays as it was.
    view.resize(150, 200);
    QTRY_VERIFY(scroll->maximum() + scroll->pageStep() > rows);
    QCOMPARE(view.text(), text);
}

QTEST_MAIN(tst_SitemapText)
#include "tst_SitemapText.moc"
