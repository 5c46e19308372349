// corvane-test-page-links: prints, one JSON object a line, every hand-made page of the link
// tests (tests/tst_HtmlLinks.cpp and the seeds of fuzz/corpus/fuzz_LinkExtractor) with the
// links the page reader reads on it:
//   {"table", "row", "html" (base64 of the page's bytes as given to the reader), "url",
//    "encoding", "expected" (the row's expected links, or null), "ours"}
// Rows without a page address are read at http://site.test/dir/page.html, in UTF-8.
// bench/browser-links.py holds these lists against a headless browser's `document.links`.
//
// The test source is compiled here with its QtTest table calls turned into recording ones, so
// that the pages are exactly the test's; nothing of the test runs.
#include "HtmlLinks.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVariant>

#include <cstdio>

namespace RecordedTables {

struct Row {
    QString name;
    QVariantList values;
    template <typename T> Row &operator<<(const T &value) {
        values.append(QVariant::fromValue(value));
        return *this;
    }
    Row &operator<<(const char *text) {
        values.append(QString::fromUtf8(text));
        return *this;
    }
};

struct Table {
    QStringList columns;
    QList<QMetaType> types;
    QList<Row> rows;
};

inline Table current;

template <typename T> void addColumn(const char *name) {
    current.columns.append(QString::fromLatin1(name));
    current.types.append(QMetaType::fromType<T>());
}

inline Row &newRow(const char *name) {
    current.rows.append(Row{QString::fromUtf8(name), {}});
    return current.rows.last();
}

template <typename... Args> Row &addRow(const char *format, Args... args) {
    return newRow(QString::asprintf(format, args...).toUtf8().constData());
}

} // namespace RecordedTables

// The test's own source, its QtTest calls recording into the tables above.
#define QTest RecordedTables
#undef QFETCH
#define QFETCH(Type, name) Type name = Type()
#undef QCOMPARE
#define QCOMPARE(actual, expected)                                                                 \
    do {                                                                                           \
        if (false) {                                                                               \
            (void)(actual);                                                                        \
            (void)(expected);                                                                      \
        }                                                                                          \
    } while (false)
#undef QVERIFY
#define QVERIFY(statement)                                                                         \
    do {                                                                                           \
        if (false)                                                                                 \
            (void)(statement);                                                                     \
    } while (false)
#undef QTEST_APPLESS_MAIN
#define QTEST_APPLESS_MAIN(TestObject)
#undef Q_OBJECT
#define Q_OBJECT friend struct TableReader;
#include "tst_HtmlLinks.cpp"
#undef QTest

struct TableReader {
    using DataFunction = void (tst_HtmlLinks::*)();
    static void print(const char *table, DataFunction data) {
        RecordedTables::current = {};
        tst_HtmlLinks test;
        (test.*data)();
        const RecordedTables::Table &t = RecordedTables::current;
        for (const RecordedTables::Row &row : t.rows) {
            QByteArray html;
            QString url = QStringLiteral("http://site.test/dir/page.html");
            QByteArray encoding = "UTF-8";
            QJsonValue expected = QJsonValue::Null;
            for (qsizetype i = 0; i < t.columns.size() && i < row.values.size(); ++i) {
                const QVariant &value = row.values[i];
                const QString &column = t.columns[i];
                if (column == QLatin1String("html"))
                    html = value.metaType() == QMetaType::fromType<QByteArray>()
                               ? value.toByteArray()
                               : value.toString().toUtf8();
                else if (column == QLatin1String("documentUrl"))
                    url = value.toString();
                else if (column == QLatin1String("encoding"))
                    encoding = value.toByteArray();
                else if (column == QLatin1String("links"))
                    expected = QJsonArray::fromStringList(value.toStringList());
            }
            printRow(table, row.name, html, url, encoding, expected);
        }
    }
    static void printRow(const char *table, const QString &name, const QByteArray &html,
                         const QString &url, const QByteArray &encoding,
                         const QJsonValue &expected) {
        const QJsonObject object{
            {"table", QString::fromLatin1(table)},
            {"row", name},
            {"html", QString::fromLatin1(html.toBase64())},
            {"url", url},
            {"encoding", QString::fromLatin1(encoding)},
            {"expected", expected},
            {"ours", QJsonArray::fromStringList(extractLinks(html, url, encoding))},
        };
        std::printf("%s\n", QJsonDocument(object).toJson(QJsonDocument::Compact).constData());
    }

    static void printAll() {
        print("linksAsBrowserReportsThem", &tst_HtmlLinks::linksAsBrowserReportsThem_data);
        // The pages the link scanner and gumbo's tree are held together on: the seeds of the
        // link extractor's fuzz target.
        const QDir seeds(QStringLiteral(CORVANE_LINK_SEEDS));
        for (const QString &name : seeds.entryList(QDir::Files, QDir::Name)) {
            QFile page(seeds.filePath(name));
            if (page.open(QIODevice::ReadOnly))
                printRow("fuzz_LinkExtractor", name, page.readAll(),
                         QStringLiteral("http://site.test/dir/page.html"), "UTF-8", QJsonValue());
        }
        // The page of deeplyNestedPageIsRead.
        printRow("deeplyNestedPageIsRead", QStringLiteral("deeply nested page"),
                 QByteArray("<div>").repeated(100'000) + "<a href=/deep>d</a>",
                 QStringLiteral("http://site.test/"), "UTF-8",
                 QJsonArray{QStringLiteral("http://site.test/deep")});
    }
};

int main() {
    TableReader::printAll();
    return 0;
}
