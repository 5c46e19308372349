#include "HttpServer.h"
#include "NetworkHtmlEngine.h"
#include "WindowTest.h"
#include "frmCrawler.h"

#include <QAbstractItemModel>
#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <memory>

class tst_frmCrawler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startState();
    void layout_data();
    void layout();
    void tabOrderAndKeys();
    void internalListsSortIgnoringCaseExternalKeepOrder();

    void harvestRules_data();
    void harvestRules();

    void crawlsBreadthFirstToDepthFive();
    void secondGoAddsToTheLists();
    void goDuringCrawlRunsNestedCrawl();
    void editedAddressChangesWhatIsInternal();
    void closeDuringCrawlStopsEveryCrawl_data();
    void closeDuringCrawlStopsEveryCrawl();
    void silentServerDoesNotStopTheCrawl();
    void largeListsHaveNoSixteenBitLimit();
    void longEntryIsDrawnShortButStaysWhole();
    void countsStayInPlainDigits();

private:
    frmCrawler &window() { return *m_window; }
    // A real window against the loopback server, with short load limits.
    void useNetwork(FetchLimits limits = {});

    std::unique_ptr<HttpServer> m_server;
    std::unique_ptr<HtmlEngine> m_engine;
    DiskFileSystem m_files;
    RecordingMessageBox m_messages;
    SystemDesktopOpener m_opener;
    FakeEngine *m_fake = nullptr;
    std::unique_ptr<frmCrawler> m_window;
};

void tst_frmCrawler::init() {
    m_server = std::make_unique<HttpServer>();
    QVERIFY(m_server->listen());
    auto fake = std::make_unique<FakeEngine>();
    m_fake = fake.get();
    m_engine = std::move(fake);
    m_window = std::make_unique<frmCrawler>(
        frmCrawler::Seams{*m_engine, m_files, m_messages, m_opener}, programDirectory);
    m_window->show();
}

void tst_frmCrawler::cleanup() {
    m_window.reset();
    m_engine.reset();
    m_server.reset();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

void tst_frmCrawler::useNetwork(FetchLimits limits) {
    m_window.reset();
    m_fake = nullptr;
    m_engine = std::make_unique<NetworkHtmlEngine>(limits, ProxyMode::None);
    m_window = std::make_unique<frmCrawler>(
        frmCrawler::Seams{*m_engine, m_files, m_messages, m_opener}, programDirectory);
    m_window->show();
}

void tst_frmCrawler::startState() {
    QVERIFY(QTest::qWaitForWindowActive(&window()));
    QCOMPARE(window().windowTitle(), QStringLiteral("Corvane"));
    QVERIFY(!window().windowIcon().isNull());
    QCOMPARE(window().windowIcon().availableSizes().value(0), QSize(32, 32));
    QCOMPARE(window().size(), QSize(992, 586));
    QCOMPARE(window().minimumSize(), window().maximumSize());

    QCOMPARE(control<QLineEdit>(window(), "txtExport")->text(), programDirectory);
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), QString());
    QCOMPARE(counts(window()), QStringLiteral("0/0"));
    QCOMPARE(filed(window()), QStringList());
    QVERIFY(control<QGroupBox>(window(), "fraSitemap")->isHidden());
    QCOMPARE(control<QGroupBox>(window(), "fraSitemap")->title(), QStringLiteral("Sitemap"));
    QVERIFY(control<QPlainTextEdit>(window(), "txtSitemap")->toPlainText().isEmpty());
    auto *build = control<QPushButton>(window(), "cmdBuild");
    QCOMPARE(build->text(), QStringLiteral("Build Sitemap"));
    QVERIFY(!build->isEnabled());
    QVERIFY(!control<QPushButton>(window(), "cmdExport")->isEnabled());
    QVERIFY(control<QPushButton>(window(), "cmdGo")->isEnabled());
    QVERIFY(control<QPushButton>(window(), "cmdNew")->isEnabled());

    auto *frequency = control<QComboBox>(window(), "cmbFrequency");
    QVERIFY(frequency->isEditable());
    QCOMPARE(frequency->currentText(), QStringLiteral("Weekly"));
    QStringList items;
    for (int i = 0; i < frequency->count(); ++i)
        items.append(frequency->itemText(i));
    QCOMPARE(items, (QStringList{"Daily", "Weekly", "Monthly"}));

    const QStringList captions = {"New", "Go", "Build Sitemap", "Export"};
    for (QPushButton *button : window().findChildren<QPushButton *>())
        QVERIFY2(!button->text().contains(u'&'), "no access keys");

    auto *credit = control<QLabel>(window(), "Label4");
    QCOMPARE(credit->text(), QStringLiteral("Application by Quillon"));
    QVERIFY(credit->font().underline());
    QCOMPARE(credit->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(credit->focusPolicy(), Qt::NoFocus);
    QCOMPARE(credit->cursor().shape(), Qt::ArrowCursor);

    const QFont buttonFont = control<QPushButton>(window(), "cmdGo")->font();
    QVERIFY(buttonFont.bold());
    QCOMPARE(buttonFont.pointSizeF(), 9.75);
    const QFont listFont = control<QListView>(window(), "lstExternal3")->font();
    QVERIFY(listFont.bold());
    QCOMPARE(listFont.pointSizeF(), 8.25);
    const QFont sitemapFont = control<QPlainTextEdit>(window(), "txtSitemap")->font();
    QVERIFY(!sitemapFont.bold());
    QCOMPARE(sitemapFont.pointSizeF(), 8.25);

    // A screen reader names every control; all but the fixed-text labels say what they do.
    QMap<QString, QString> spoken = {
        {"cmdNew", "New"},
        {"Label2", "Web Address:"},
        {"txtURL", "Web address"},
        {"cmdGo", "Go"},
        {"fraSitemap", "Sitemap"},
        {"txtSitemap", "Sitemap text"},
        {"Label7", "Internal Links:"},
        {"lblInternalLinks", "Internal link count"},
        {"cmbFrequency", "Change frequency"},
        {"cmdBuild", "Build Sitemap"},
        {"Label3", "External Links:"},
        {"lblExternalLinks", "External link count"},
        {"Label1", "Export to:"},
        {"txtExport", "Export folder"},
        {"cmdExport", "Export"},
        {"Label4", "Application by Quillon"},
    };
    for (int level = 0; level < frmCrawler::levels; ++level) {
        spoken.insert(QStringLiteral("lstLinks%1").arg(level),
                      QStringLiteral("Internal links, level %1").arg(level));
        spoken.insert(QStringLiteral("lstExternal%1").arg(level),
                      QStringLiteral("External links, level %1").arg(level));
    }
    for (auto it = spoken.cbegin(); it != spoken.cend(); ++it) {
        QAccessibleInterface *read =
            QAccessible::queryAccessibleInterface(control<QWidget>(window(), it.key()));
        QVERIFY(read);
        const bool described = !read->text(QAccessible::Description).isEmpty();
        // A combo box's name is its text; the label it is the buddy of names it.
        if (read->role() == QAccessible::ComboBox) {
            const auto labels = read->relations(QAccessible::Label);
            QCOMPARE(labels.size(), 1);
            read = labels.first().first;
        }
        QCOMPARE(read->text(QAccessible::Name), it.value());
        const bool fixedText =
            QStringList{"Label1", "Label2", "Label3", "Label7", "fraSitemap"}.contains(it.key());
        QCOMPARE(described, !fixedText);
    }

    // Typing goes into the address box.
    QCOMPARE(QApplication::focusWidget(), control<QLineEdit>(window(), "txtURL"));
    QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("abc"));
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), QStringLiteral("abc"));
}

void tst_frmCrawler::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry"); // in pixels, from the twips of the layout

    QTest::newRow("cmdNew") << "cmdNew" << QRect(8, 8, 73, 25);
    QTest::newRow("Label2") << "Label2" << QRect(136, 16, 113, 25);
    QTest::newRow("txtURL") << "txtURL" << QRect(240, 8, 337, 25);
    QTest::newRow("cmdGo") << "cmdGo" << QRect(584, 8, 73, 25);
    for (int level = 0; level < frmCrawler::levels; ++level) {
        const QString links = QStringLiteral("lstLinks%1").arg(level);
        const QString external = QStringLiteral("lstExternal%1").arg(level);
        QTest::newRow(qPrintable(links)) << links << QRect(8, 48 + 72 * level, 505, 69);
        QTest::newRow(qPrintable(external)) << external << QRect(520, 48 + 72 * level, 465, 69);
    }
    QTest::newRow("fraSitemap") << "fraSitemap" << QRect(8, 48, 977, 433);
    QTest::newRow("txtSitemap") << "txtSitemap" << QRect(8, 16, 841, 409);
    QTest::newRow("Label7") << "Label7" << QRect(8, 488, 129, 17);
    QTest::newRow("lblInternalLinks") << "lblInternalLinks" << QRect(112, 488, 89, 17);
    QTest::newRow("cmbFrequency") << "cmbFrequency" << QRect(208, 488, 145, 24);
    QTest::newRow("cmdBuild") << "cmdBuild" << QRect(360, 488, 145, 25);
    QTest::newRow("Label3") << "Label3" << QRect(8, 512, 129, 17);
    QTest::newRow("lblExternalLinks") << "lblExternalLinks" << QRect(112, 512, 89, 17);
    QTest::newRow("Label1") << "Label1" << QRect(8, 536, 185, 17);
    QTest::newRow("txtExport") << "txtExport" << QRect(200, 536, 689, 19);
    QTest::newRow("cmdExport") << "cmdExport" << QRect(896, 536, 89, 25);
    QTest::newRow("Label4") << "Label4" << QRect(8, 568, 273, 17);
}

void tst_frmCrawler::layout() {
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    QCOMPARE(control<QWidget>(window(), name)->geometry(), geometry);
}

void tst_frmCrawler::tabOrderAndKeys() {
    const QStringList expected = {"txtURL",       "lstLinks0",    "cmdGo",        "lstLinks1",
                                  "lstLinks2",    "lstExternal0", "lstExternal1", "lstExternal2",
                                  "lstLinks3",    "lstExternal3", "lstLinks4",    "lstExternal4",
                                  "lstExternal5", "lstLinks5",    "cmdBuild",     "txtSitemap",
                                  "cmbFrequency", "cmdNew",       "txtExport",    "cmdExport"};
    QStringList chain;
    QWidget *widget = control<QWidget>(window(), "txtURL");
    do {
        if (expected.contains(widget->objectName()) && !chain.contains(widget->objectName()))
            chain.append(widget->objectName());
        widget = widget->nextInFocusChain();
    } while (widget != control<QWidget>(window(), "txtURL"));
    QCOMPARE(chain, expected);

    // Enter and Escape in the address box press no button: no crawl starts.
    useNetwork();
    auto *address = control<QLineEdit>(window(), "txtURL");
    address->setText(m_server->url());
    address->setFocus();
    QTest::keyClick(address, Qt::Key_Return);
    QTest::keyClick(address, Qt::Key_Enter);
    QTest::keyClick(address, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QCOMPARE(m_server->requests().size(), 0);
    QVERIFY(!control<QPushButton>(window(), "cmdBuild")->isEnabled());
}

void tst_frmCrawler::internalListsSortIgnoringCaseExternalKeepOrder() {
    // Long shared beginnings that differ in case only after them, and a letter outside the
    // 16-bit range (U+10400, whose lower case is U+10428).
    const QString s = QStringLiteral("http://s.test/");
    const QString shared = s + QString(300, u'x');
    const QStringList internal = {s + "B",
                                  s + "a",
                                  s + "C",
                                  shared + "b",
                                  shared + "A",
                                  shared + "C/" + QString(300, u'y') + "q",
                                  shared + "c/" + QString(300, u'y') + "P",
                                  s + QStringLiteral("\U00010400x"),
                                  s + QStringLiteral("\U00010428a")};
    m_fake->pages = {
        {"http://s.test", internal + QStringList{"http://o.test/B", "http://o.test/a"}}};
    pressGo(window(), "http://s.test");
    QStringList sorted = internal;
    std::stable_sort(sorted.begin(), sorted.end(), [](const QString &a, const QString &b) {
        return QString::compare(a, b, Qt::CaseInsensitive) < 0;
    });
    QCOMPARE(sorted.first(), s + "a");
    QCOMPARE(entries(window(), "lstLinks0"), sorted);
    QCOMPARE(entries(window(), "lstExternal0"),
             (QStringList{"http://o.test/B", "http://o.test/a"}));
    // The walk follows the sorted order, not the order of finding.
    QCOMPARE(m_fake->requested, QStringList{"http://s.test"} + sorted);
}

void tst_frmCrawler::harvestRules_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<Pages>("pages");
    QTest::addColumn<QStringList>("filed");
    QTest::addColumn<QString>("counts");
    QTest::addColumn<QStringList>("requested");

    const QString s = QStringLiteral("http://s.test");
    QTest::newRow("link to the start address itself is never listed")
        << s << Pages{{s, {s}}} << QStringList{} << "0/0" << QStringList{s};
    QTest::newRow("home page with slash listed, then walked")
        << s << Pages{{s, {s + "/"}}, {s + "/", {s + "/"}}} << QStringList{"L0 " + s + "/"} << "1/0"
        << QStringList{s, s + "/"};
    QTest::newRow("home page with slash seen once a longer address was listed")
        << s << Pages{{s, {s + "/x", s + "/"}}, {s + "/x", {}}} << QStringList{"L0 " + s + "/x"}
        << "1/0" << QStringList{s, s + "/x"};
    QTest::newRow("typed path: deeper path internal, siblings external")
        << s + "/x"
        << Pages{{s + "/x", {s + "/x", s + "/x/y", s + "/", s + "/y"}}, {s + "/x/y", {}}}
        << QStringList{"L0 " + s + "/x/y", "E0 " + s + "/", "E0 " + s + "/y"} << "1/2"
        << QStringList{s + "/x", s + "/x/y"};
    QTest::newRow("addresses with # never listed, on either side")
        << s << Pages{{s, {s + "/x#top", "http://o.test/#a", s + "/#"}}} << QStringList{} << "0/0"
        << QStringList{s};
    QTest::newRow("shorter address after longer one is seen")
        << s << Pages{{s, {s + "/page2", s + "/page"}}, {s + "/page2", {}}}
        << QStringList{"L0 " + s + "/page2"} << "1/0" << QStringList{s, s + "/page2"};
    QTest::newRow("longer address after shorter one is new")
        << s << Pages{{s, {s + "/page", s + "/page2"}}, {s + "/page", {}}, {s + "/page2", {}}}
        << QStringList{"L0 " + s + "/page", "L0 " + s + "/page2"} << "2/0"
        << QStringList{s, s + "/page", s + "/page2"};
    QTest::newRow("seen test spans the comma between two addresses")
        << s << Pages{{s, {s + "/a", s + "/b", "/a," + s}}, {s + "/a", {}}, {s + "/b", {}}}
        << QStringList{"L0 " + s + "/a", "L0 " + s + "/b"} << "2/0"
        << QStringList{s, s + "/a", s + "/b"};
    QTest::newRow("address found on two levels listed once, at the first")
        << s
        << Pages{{s, {s + "/a", s + "/a"}},
                 {s + "/a", {s + "/a", s + "/b"}},
                 {s + "/b", {s + "/a"}}}
        << QStringList{"L0 " + s + "/a", "L1 " + s + "/b"} << "2/0"
        << QStringList{s, s + "/a", s + "/b"};
    QTest::newRow("other host carrying the start address is internal at every level")
        << s
        << Pages{{s, {"http://o.test/?u=" + s, s + "/a"}},
                 {s + "/a", {"http://o.test/?from=" + s + "/a"}},
                 {"http://o.test/?u=" + s, {}},
                 {"http://o.test/?from=" + s + "/a", {}}}
        << QStringList{"L0 http://o.test/?u=" + s, "L0 " + s + "/a",
                       "L1 http://o.test/?from=" + s + "/a"}
        << "3/0"
        << QStringList{s, "http://o.test/?u=" + s, s + "/a", "http://o.test/?from=" + s + "/a"};
    QTest::newRow("https link internal on the start page, external deeper")
        << s
        << Pages{{s, {"https://s.test/x", s + "/a"}},
                 {s + "/a", {"https://s.test/x"}},
                 {"https://s.test/x", {}}}
        << QStringList{"L0 " + s + "/a", "L0 https://s.test/x", "E1 https://s.test/x"} << "2/1"
        << QStringList{s, s + "/a", "https://s.test/x"};
    QTest::newRow("longer host ending in the start host: internal at level 0 only")
        << s
        << Pages{{s, {"http://mys.test/", s + "/a"}},
                 {s + "/a", {"http://mys.test/b"}},
                 {"http://mys.test/", {}}}
        << QStringList{"L0 http://mys.test/", "L0 " + s + "/a", "E1 http://mys.test/b"} << "2/1"
        << QStringList{s, "http://mys.test/", s + "/a"};
    QTest::newRow("start address without http:// matches anywhere at every level")
        << "s.test"
        << Pages{{"s.test", {s + "/a", "http://o.test/?q=s.test"}},
                 {s + "/a", {"https://s.test/b"}},
                 {"http://o.test/?q=s.test", {}},
                 {"https://s.test/b", {}}}
        << QStringList{"L0 http://o.test/?q=s.test", "L0 " + s + "/a", "L1 https://s.test/b"}
        << "3/0" << QStringList{"s.test", "http://o.test/?q=s.test", s + "/a", "https://s.test/b"};
    QTest::newRow("capitalised host: nothing is internal")
        << "http://S.test" << Pages{{"http://S.test", {s + "/a"}}} << QStringList{"E0 " + s + "/a"}
        << "0/1" << QStringList{"http://S.test"};
    QTest::newRow("capitalised scheme is not removed on the start page")
        << "HTTP://s.test" << Pages{{"HTTP://s.test", {s + "/a"}}} << QStringList{"E0 " + s + "/a"}
        << "0/1" << QStringList{"HTTP://s.test"};
    QTest::newRow("leading space: internal deeper, not on the start page")
        << " " + s
        << Pages{{" " + s, {s + "/a", "x s.test"}}, {"x s.test", {s + "/b"}}, {s + "/b", {}}}
        << QStringList{"L0 x s.test", "E0 " + s + "/a", "L1 " + s + "/b"} << "2/1"
        << QStringList{" " + s, "x s.test", s + "/b"};
    QTest::newRow("trailing space: nothing is internal")
        << s + " " << Pages{{s + " ", {s + "/a"}}} << QStringList{"E0 " + s + "/a"} << "0/1"
        << QStringList{s + " "};
    QTest::newRow("empty start address: the crawl ends at once")
        << "" << Pages{} << QStringList{} << "0/0" << QStringList{""};
    QTest::newRow("counters count each listed link once")
        << s
        << Pages{{s,
                  {s + "/1", s + "/2", s + "/3", s + "/1", "http://o.test/1", "http://o.test/2",
                   "http://o.test/1"}},
                 {s + "/1", {}},
                 {s + "/2", {}},
                 {s + "/3", {}}}
        << QStringList{"L0 " + s + "/1", "L0 " + s + "/2", "L0 " + s + "/3", "E0 http://o.test/1",
                       "E0 http://o.test/2"}
        << "3/2" << QStringList{s, s + "/1", s + "/2", s + "/3"};
    QTest::newRow("unrequestable entry harvests the previous page again, one level deeper")
        << s << Pages{{s, {s + "/0bad", "https://s.test/x"}}, {"https://s.test/x", {}}}
        << QStringList{"L0 " + s + "/0bad", "L0 https://s.test/x", "E1 https://s.test/x"} << "2/1"
        << QStringList{s, s + "/0bad", "https://s.test/x"};
}

void tst_frmCrawler::harvestRules() {
    QFETCH(QString, start);
    QFETCH(Pages, pages);
    QFETCH(QStringList, filed);
    QFETCH(QString, counts);
    QFETCH(QStringList, requested);

    m_fake->pages = pages;
    pressGo(window(), start);
    QCOMPARE(::filed(window()), filed);
    QCOMPARE(::counts(window()), counts);
    QCOMPARE(m_fake->requested, requested);
    QVERIFY(control<QPushButton>(window(), "cmdBuild")->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // The address box itself is never changed by the crawl.
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), start);
}

namespace {

// A site five levels deep: the start page links b and a; a and b link c and d; and so on down
// to k and l, which only level-5 links reach.
void serveDeepSite(HttpServer &server) {
    server.setHtml("/", linksPage({"b", "a", "http://other.invalid/x"}));
    server.setHtml("/a", linksPage({"/c", "/a"}));
    server.setHtml("/b", linksPage({"/d"}));
    const QString chain = QStringLiteral("cdefghijkl");
    for (int i = 0; i + 2 < chain.size(); ++i)
        server.setHtml("/" + chain.mid(i, 1).toUtf8(), linksPage({"/" + chain.mid(i + 2, 1)}));
    server.setHtml("/k", linksPage({}));
    server.setHtml("/l", linksPage({}));
}

} // namespace

void tst_frmCrawler::crawlsBreadthFirstToDepthFive() {
    useNetwork();
    serveDeepSite(*m_server);
    QList<Qt::CursorShape> pointers;
    connect(m_server.get(), &HttpServer::requestReceived, this, [&pointers] {
        pointers.append(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                       : Qt::ArrowCursor);
    });

    const QString s = m_server->url();
    pressGo(window(), s);

    QCOMPARE(targets(*m_server),
             (QStringList{"/", "/a", "/b", "/c", "/d", "/e", "/f", "/g", "/h", "/i", "/j"}));
    QCOMPARE(filed(window()),
             (QStringList{"L0 " + s + "/a", "L0 " + s + "/b", "E0 http://other.invalid/x",
                          "L1 " + s + "/c", "L1 " + s + "/d", "L2 " + s + "/e", "L2 " + s + "/f",
                          "L3 " + s + "/g", "L3 " + s + "/h", "L4 " + s + "/i", "L4 " + s + "/j",
                          "L5 " + s + "/k", "L5 " + s + "/l"}));
    QCOMPARE(counts(window()), QStringLiteral("12/1"));
    // One page at a time over one kept-alive connection.
    for (const HttpServer::Request &request : m_server->requests())
        QCOMPARE(request.connection, 1);
    QVERIFY(m_server->requests().first().headers.value("user-agent").startsWith("Corvane/"));
    // The hourglass from the first request to the end, the default pointer after.
    QCOMPARE(pointers.size(), 11);
    QVERIFY(std::all_of(pointers.begin(), pointers.end(),
                        [](Qt::CursorShape shape) { return shape == Qt::WaitCursor; }));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(control<QPushButton>(window(), "cmdBuild")->isEnabled());
    // Each walked list ends with its last entry selected; the others have no selection.
    for (int level = 0; level < frmCrawler::levels; ++level) {
        auto *list = control<QListView>(window(), QStringLiteral("lstLinks%1").arg(level));
        const QModelIndexList selected = list->selectionModel()->selectedIndexes();
        if (level < 5) {
            QCOMPARE(selected.size(), 1);
            QCOMPARE(selected.first().row(), 1);
        } else {
            QVERIFY(selected.isEmpty());
        }
        auto *external = control<QListView>(window(), QStringLiteral("lstExternal%1").arg(level));
        QVERIFY(external->selectionModel()->selectedIndexes().isEmpty());
    }
}

void tst_frmCrawler::secondGoAddsToTheLists() {
    useNetwork();
    m_server->setHtml("/", linksPage({"/a", "http://other.invalid/"}));
    m_server->setHtml("/a", linksPage({}));
    const QString s = m_server->url();
    // The hourglass shows even when another pointer was set before, and the default pointer
    // comes back after.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    QList<Qt::CursorShape> pointers;
    const auto record = connect(m_server.get(), &HttpServer::requestReceived, this, [&pointers] {
        pointers.append(QApplication::overrideCursor()->shape());
    });
    pressGo(window(), s);
    disconnect(record);
    QCOMPARE(pointers, (QList<Qt::CursorShape>{Qt::WaitCursor, Qt::WaitCursor}));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    pressGo(window(), s);
    QCOMPARE(filed(window()),
             (QStringList{"L0 " + s + "/a", "L0 " + s + "/a", "E0 http://other.invalid/",
                          "E0 http://other.invalid/"}));
    QCOMPARE(counts(window()), QStringLiteral("2/2"));
    QCOMPARE(targets(*m_server), (QStringList{"/", "/a", "/", "/a", "/a"}));
}

void tst_frmCrawler::goDuringCrawlRunsNestedCrawl() {
    useNetwork();
    serveDeepSite(*m_server);
    // Slow enough that the nested crawl starts before the page that triggers it arrives.
    HttpServer::Response slow;
    slow.body = linksPage({"/e"});
    slow.delayMs = 200;
    m_server->setPage("/c", slow);
    bool nested = false;
    connect(m_server.get(), &HttpServer::requestReceived, this,
            [this, &nested](const HttpServer::Request &request) {
                if (request.target == "/c" && !nested) {
                    nested = true;
                    QTimer::singleShot(0, this, [this] {
                        QTest::mouseClick(control<QPushButton>(window(), "cmdGo"), Qt::LeftButton);
                    });
                }
            });

    pressGo(window(), m_server->url());

    const QStringList outerBefore = {"/", "/a", "/b", "/c"};
    const QStringList inner = {"/",  "/a", "/a", "/b", "/b", "/c", "/c", "/d",
                               "/d", "/e", "/f", "/g", "/h", "/i", "/j"};
    // The outer crawl goes on with the entry counts it had read before.
    const QStringList outerAfter = {"/c", "/e", "/f", "/g", "/h", "/i", "/j"};
    QCOMPARE(targets(*m_server), outerBefore + inner + outerAfter);
    QCOMPARE(counts(window()), QStringLiteral("16/2"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(control<QPushButton>(window(), "cmdBuild")->isEnabled());
}

void tst_frmCrawler::editedAddressChangesWhatIsInternal() {
    useNetwork();
    m_server->setHtml("/", linksPage({"/a"}));
    m_server->setHtml("/a", linksPage({"/b", "/c"}));
    const QString s = m_server->url();
    connect(m_server.get(), &HttpServer::requestReceived, this,
            [this, s](const HttpServer::Request &request) {
                if (request.target == "/a")
                    control<QLineEdit>(window(), "txtURL")->setText(s + "/b");
            });
    pressGo(window(), s);
    QCOMPARE(filed(window()), (QStringList{"L0 " + s + "/a", "L1 " + s + "/b", "E1 " + s + "/c"}));
}

void tst_frmCrawler::closeDuringCrawlStopsEveryCrawl_data() {
    QTest::addColumn<bool>("nested");
    QTest::addColumn<QStringList>("requested");

    QTest::newRow("one crawl") << false << QStringList{"/", "/a", "/b", "/c"};
    QTest::newRow("crawl within a crawl")
        << true << QStringList{"/", "/a", "/b", "/c", "/", "/a", "/a", "/b", "/b", "/c"};
}

void tst_frmCrawler::closeDuringCrawlStopsEveryCrawl() {
    QFETCH(bool, nested);
    QFETCH(QStringList, requested);

    useNetwork();
    serveDeepSite(*m_server);
    int seenC = 0;
    connect(m_server.get(), &HttpServer::requestReceived, this,
            [this, nested, &seenC](const HttpServer::Request &request) {
                if (request.target != "/c")
                    return;
                ++seenC;
                const bool close = !nested || seenC == 2;
                QTimer::singleShot(0, this, [this, close] {
                    if (close)
                        window().close();
                    else
                        QTest::mouseClick(control<QPushButton>(window(), "cmdGo"), Qt::LeftButton);
                });
            });

    pressGo(window(), m_server->url());
    QVERIFY(!window().isVisible());
    QCOMPARE(targets(*m_server), requested);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // Nothing goes on crawling for the closed window.
    QTest::qWait(200);
    QCOMPARE(targets(*m_server), requested);
}

void tst_frmCrawler::silentServerDoesNotStopTheCrawl() {
    FetchLimits limits;
    limits.stall = std::chrono::milliseconds(300);
    limits.total = std::chrono::milliseconds(1000);
    useNetwork(limits);
    m_server->setHtml("/", linksPage({"/a", "/b"}));
    HttpServer::Response silent;
    silent.kind = HttpServer::Response::Kind::NeverAnswer;
    m_server->setPage("/a", silent);
    m_server->setHtml("/b", linksPage({"/c"}));
    m_server->setHtml("/c", linksPage({}));

    QElapsedTimer clock;
    clock.start();
    pressGo(window(), m_server->url());
    QCOMPARE(targets(*m_server), (QStringList{"/", "/a", "/b", "/c"}));
    QCOMPARE(entries(window(), "lstLinks1"), QStringList{m_server->url("/c")});
    QCOMPARE_LT(clock.elapsed(), 5000);
}

void tst_frmCrawler::largeListsHaveNoSixteenBitLimit() {
    const QString s = QStringLiteral("http://s.test");
    QStringList links;
    for (int i = 0; i < 40'000; ++i)
        links.append(QStringLiteral("%1/p%2").arg(s).arg(i, 5, 10, QLatin1Char('0')));
    m_fake->pages.insert(s, links);
    for (const QString &link : std::as_const(links))
        m_fake->pages.insert(link, {});
    m_fake->pages.insert(links.last(), {s + "/deeper"});
    pressGo(window(), s);
    QCOMPARE(entries(window(), "lstLinks0").size(), 40'000);
    QCOMPARE(counts(window()), QStringLiteral("40001/0"));
    // The walk reached the last entry, past index 32,767, and went on to the next level.
    QCOMPARE(m_fake->requested.size(), 40'002);
    QCOMPARE(m_fake->requested.at(40'000), links.last());
    QCOMPARE(entries(window(), "lstLinks1"), QStringList{s + "/deeper"});
}

void tst_frmCrawler::longEntryIsDrawnShortButStaysWhole() {
    // Links of a megabyte: laying one out whole held the window for seconds.
    const QString s = QStringLiteral("http://s.test");
    const QString internal = s + u'/' + QString(1 << 20, u'x');
    const QString external = "http://o.test/" + QString(1 << 20, u'y');
    m_fake->pages = {{s, {internal, external}}, {internal, {}}};
    pressGo(window(), s);
    QCOMPARE(m_fake->requested, (QStringList{s, internal}));
    QCOMPARE(window().externalSeenText(), u',' + external);
    for (const char *name : {"lstLinks0", "lstExternal0"}) {
        auto *list = control<QListView>(window(), name);
        const QModelIndex entry = list->model()->index(0, 0);
        QCOMPARE(entry.data().toString(), name[3] == 'L' ? internal : external);
        QVERIFY(entry.data(Qt::AccessibleTextRole).toString().size() < 400);
        QStyleOptionViewItem option;
        option.initFrom(list);
        QVERIFY(list->itemDelegate()->sizeHint(option, entry).width() < 20 * list->width());
    }
}

void tst_frmCrawler::countsStayInPlainDigits() {
    control<QLabel>(window(), "lblInternalLinks")->setText("99999");
    control<QLabel>(window(), "lblExternalLinks")->setText("999999");
    m_fake->pages = {{"http://s.test", {"http://s.test/a", "http://o.test/"}},
                     {"http://s.test/a", {}}};
    pressGo(window(), "http://s.test");
    QCOMPARE(counts(window()), QStringLiteral("100000/1000000"));
    // A screen reader hears the count in the label's description.
    QCOMPARE(QAccessible::queryAccessibleInterface(control<QLabel>(window(), "lblExternalLinks"))
                 ->text(QAccessible::Description),
             QStringLiteral("1000000"));
}

QTEST_MAIN(tst_frmCrawler)
#include "tst_frmCrawler.moc"
