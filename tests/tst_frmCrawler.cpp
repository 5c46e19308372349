#include "SitemapText.h"
#include "WindowTest.h"

#include <QAccessible>
#include <QComboBox>
#include <QElapsedTimer>
#include <QGroupBox>
#include <QScrollBar>
#include <QStyleOptionViewItem>
#include <QTimer>

#include <optional>
#include <thread>

// The window and its crawl, as a user sees them and as the server is asked.
class tst_frmCrawler : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { h.emplace(); }
    void cleanup() { h.reset(); }

    void startState();
    void internalListsSortIgnoringCaseExternalKeepOrder();
    void harvestRules_data();
    void harvestRules();
    void secondGoAddsToTheListsAndCounts();
    void crawlsBreadthFirstToDepthFive();
    void goDuringCrawlRunsNestedCrawl();
    void editedAddressAndSilentServer();
    void closeDuringCrawlStopsEveryCrawl_data();
    void closeDuringCrawlStopsEveryCrawl();
    void largeListsHaveNoSixteenBitLimit();
    void waitSeesWhatAnotherThreadPosted();
    void longEntryIsDrawnShortButStaysWhole();

private:
    frmCrawler &window() { return *h->window; }
    QPushButton *button(const char *name) { return control<QPushButton>(window(), name); }
    std::optional<WindowHarness> h;
};

void tst_frmCrawler::startState() {
    QVERIFY(QTest::qWaitForWindowActive(&window()));
    QCOMPARE(window().windowTitle(), QStringLiteral("Corvane"));
    QCOMPARE(window().windowIcon().availableSizes().value(0), QSize(32, 32));
    QCOMPARE(window().size(), QSize(992, 586));
    QCOMPARE(window().minimumSize(), window().maximumSize());

    QCOMPARE(control<QLineEdit>(window(), "txtExport")->text(), programDirectory);
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), QString());
    QCOMPARE(counts(window()), QStringLiteral("0/0"));
    QCOMPARE(filed(window()), QStringList());
    QVERIFY(control<QGroupBox>(window(), "fraSitemap")->isHidden());
    QCOMPARE(control<QGroupBox>(window(), "fraSitemap")->title(), QStringLiteral("Sitemap"));
    QCOMPARE(button("cmdBuild")->text(), QStringLiteral("Build Sitemap"));
    QVERIFY(!button("cmdBuild")->isEnabled());
    QVERIFY(!button("cmdExport")->isEnabled());
    QVERIFY(button("cmdGo")->isEnabled() && button("cmdNew")->isEnabled());
    auto *frequency = control<QComboBox>(window(), "cmbFrequency");
    QVERIFY(frequency->isEditable());
    QCOMPARE(frequency->currentText(), QStringLiteral("Weekly"));
    QStringList items;
    for (int i = 0; i < frequency->count(); ++i)
        items.append(frequency->itemText(i));
    QCOMPARE(items, (QStringList{"Daily", "Weekly", "Monthly"}));
    for (QPushButton *each : window().findChildren<QPushButton *>())
        QVERIFY2(!each->text().contains(u'&'), "no access keys");

    QCOMPARE(control<QLabel>(window(), "Label4")->text(), QStringLiteral("Application by Quillon"));

    auto *address = control<QLineEdit>(window(), "txtURL");
    // Tab walks the controls in the window's order, from the address box round to it again.
    const QStringList tabOrder = {"txtURL",       "lstLinks0",    "cmdGo",        "lstLinks1",
                                  "lstLinks2",    "lstExternal0", "lstExternal1", "lstExternal2",
                                  "lstLinks3",    "lstExternal3", "lstLinks4",    "lstExternal4",
                                  "lstExternal5", "lstLinks5",    "cmdBuild",     "txtSitemap",
                                  "cmbFrequency", "cmdNew",       "txtExport",    "cmdExport"};
    // A screen reader names every control apart, a button or a label by its caption (so a
    // count by its number), and says what each does but the labels. A combo box's name is its
    // text; the label it is the buddy of names it.
    const QStringList labelNames = {"Label1",           "Label2",           "Label3",    "Label7",
                                    "lblInternalLinks", "lblExternalLinks", "fraSitemap"};
    QSet<QString> names;
    for (const QString &name : tabOrder + labelNames + QStringList{"Label4"}) {
        QWidget *widget = control<QWidget>(window(), name);
        QAccessibleInterface *read = QAccessible::queryAccessibleInterface(widget);
        QVERIFY(read);
        QCOMPARE(read->text(QAccessible::Description).isEmpty(), labelNames.contains(name));
        if (read->role() == QAccessible::ComboBox) {
            const auto labelled = read->relations(QAccessible::Label);
            QCOMPARE(labelled.size(), 1);
            read = labelled.first().first;
        }
        const QString spoken = read->text(QAccessible::Name);
        QVERIFY2(!spoken.isEmpty(), qPrintable(name));
        names.insert(name.startsWith(u"lbl") ? name : spoken); // both counts read "0"
        if (auto *caption = qobject_cast<QLabel *>(widget))
            QCOMPARE(spoken, caption->text());
        if (auto *caption = qobject_cast<QPushButton *>(widget))
            QCOMPARE(spoken, caption->text());
    }
    QCOMPARE(names.size(), tabOrder.size() + labelNames.size() + 1);
    for (const auto &[count, caption] :
         {std::pair{"lblInternalLinks", "Label7"}, std::pair{"lblExternalLinks", "Label3"}}) {
        QAccessibleInterface *read =
            QAccessible::queryAccessibleInterface(control<QWidget>(window(), count));
        const auto labels = read->relations(QAccessible::Label);
        QCOMPARE(labels.size(), 1);
        QCOMPARE(labels.first().first->object()->objectName(), QLatin1String(caption));
        const auto labelled = labels.first().first->relations(QAccessible::Labelled);
        QCOMPARE(labelled.size(), 1);
        QCOMPARE(labelled.first().first, read);
    }

    QStringList chain;
    QWidget *next = address;
    do {
        if (tabOrder.contains(next->objectName()) && !chain.contains(next->objectName()))
            chain.append(next->objectName());
        next = next->nextInFocusChain();
    } while (next != address);
    QCOMPARE(chain, tabOrder);

    // Typing goes into the address box; Enter and Escape there press no button.
    QCOMPARE(QApplication::focusWidget(), address);
    QTest::keyClicks(address, QStringLiteral("http://s.test"));
    QCOMPARE(address->text(), QStringLiteral("http://s.test"));
    for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape})
        QTest::keyClick(address, key);
    QCoreApplication::processEvents();
    QCOMPARE(h->fake.requested, QStringList());
    QVERIFY(!button("cmdBuild")->isEnabled());
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
    h->fake.pages = {
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
    QCOMPARE(h->fake.requested, QStringList{"http://s.test"} + sorted);
}

namespace {

// Rows are written short: "$s" stands for http://s.test and "$o" for http://o.test, lists are
// joined by " | ", and pages are "address > link | link; address > link; address".
QString expand(QString text) {
    return text.replace("$s", "http://s.test").replace("$o", "http://o.test");
}

void row(const char *name, const char *start, const char *pages, const char *filed,
         const char *counts, const char *requested) {
    Pages site;
    for (const QString &page : expand(pages).split("; ", Qt::SkipEmptyParts)) {
        const QStringList parts = page.split(" > ");
        site.insert(parts[0], parts.value(1).split(" | ", Qt::SkipEmptyParts));
    }
    QTest::newRow(name) << expand(start) << site << expand(filed) << QString(counts)
                        << expand(requested);
}

} // namespace

void tst_frmCrawler::harvestRules_data() {
    QTest::addColumn<QString>("start");
    QTest::addColumn<Pages>("pages");
    QTest::addColumn<QString>("filed");
    QTest::addColumn<QString>("counts");
    QTest::addColumn<QString>("requested");

    row("seen is any substring of what was listed, commas included", "$s",
        "$s > $s | $s/page | $s/page2 | $s/pag | /page,$s; $s/page; $s/page2",
        "L0 $s/page | L0 $s/page2", "2/0", "$s | $s/page | $s/page2");
    row("typed path: deeper path internal, siblings external", "$s/x",
        "$s/x > $s/x | $s/x/y | $s/ | $s/y; $s/x/y", "L0 $s/x/y | E0 $s/ | E0 $s/y", "1/2",
        "$s/x | $s/x/y");
    row("addresses with # never listed, on either side", "$s", "$s > $s/x#top | $o/#a | $s/#", "",
        "0/0", "$s");
    row("level 0 matches without http://, deeper levels with it", "$s",
        "$s > $o/?u=$s | https://s.test/x | $s/a; $s/a > https://s.test/x | $o/?from=$s/a; "
        "$o/?u=$s; https://s.test/x",
        "L0 $o/?u=$s | L0 $s/a | L0 https://s.test/x | L1 $o/?from=$s/a | E1 https://s.test/x",
        "4/1", "$s | $o/?u=$s | $s/a | https://s.test/x | $o/?from=$s/a");
    row("start address without http:// matches anywhere at every level", "s.test",
        "s.test > $s/a | $o/?q=s.test; $s/a > https://s.test/b; $o/?q=s.test; https://s.test/b",
        "L0 $o/?q=s.test | L0 $s/a | L1 https://s.test/b", "3/0",
        "s.test | $o/?q=s.test | $s/a | https://s.test/b");
    row("capitalised host: nothing is internal", "http://S.test", "http://S.test > $s/a", "E0 $s/a",
        "0/1", "http://S.test");
    row("capitalised scheme is not removed on the start page", "HTTP://s.test",
        "HTTP://s.test > $s/a", "E0 $s/a", "0/1", "HTTP://s.test");
    row("leading space: internal deeper, not on the start page", " $s",
        " $s > $s/a | x s.test; x s.test > $s/b; $s/b", "L0 x s.test | E0 $s/a | L1 $s/b", "2/1",
        " $s | x s.test | $s/b");
    row("empty start address: the crawl ends at once", "", "", "", "0/0", "");
    row("counters count each listed link once", "$s",
        "$s > $s/1 | $s/2 | $s/1 | $o/1 | $o/2 | $o/1; $s/1; $s/2",
        "L0 $s/1 | L0 $s/2 | E0 $o/1 | E0 $o/2", "2/2", "$s | $s/1 | $s/2");
    row("unrequestable entry harvests the previous page again, one level deeper", "$s",
        "$s > $s/0bad | https://s.test/x; https://s.test/x",
        "L0 $s/0bad | L0 https://s.test/x | E1 https://s.test/x", "2/1",
        "$s | $s/0bad | https://s.test/x");
}

void tst_frmCrawler::harvestRules() {
    QFETCH(QString, start);
    QFETCH(Pages, pages);
    QFETCH(QString, filed);
    QFETCH(QString, counts);
    QFETCH(QString, requested);

    h->fake.pages = pages;
    pressGo(window(), start);
    QCOMPARE(::filed(window()).join(" | "), filed);
    QCOMPARE(::counts(window()), counts);
    QCOMPARE(h->fake.requested.join(" | "), requested);
    QVERIFY(button("cmdBuild")->isEnabled());
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // The address box itself is never changed by the crawl.
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), start);
}

void tst_frmCrawler::secondGoAddsToTheListsAndCounts() {
    const QString s = QStringLiteral("http://s.test");
    h->fake.pages = {{s, {s + "/a", "http://o.test/"}}, {s + "/a", {}}};
    // Counts go on in plain digits however large they grow.
    window().setCountCaption(Side::Internal, "99999");
    window().setCountCaption(Side::External, "999998");
    pressGo(window(), s);
    // The second crawl finds its links in another order: the first crawl's entries are still
    // read as they were listed.
    h->fake.pages[s] = {s + "/b", s + "/a", "http://o.test/"};
    h->fake.pages[s + "/b"] = {};
    pressGo(window(), s);
    QCOMPARE(filed(window()), (QStringList{"L0 " + s + "/a", "L0 " + s + "/a", "L0 " + s + "/b",
                                           "E0 http://o.test/", "E0 http://o.test/"}));
    QCOMPARE(counts(window()), QStringLiteral("100002/1000000"));
    QCOMPARE(h->fake.requested, (QStringList{s, s + "/a", s, s + "/a", s + "/a", s + "/b"}));
}

void tst_frmCrawler::crawlsBreadthFirstToDepthFive() {
    h->useNetwork();
    serveDeepSite(h->server);
    // The hourglass from the first request to the end, the default pointer after.
    QList<Qt::CursorShape> pointers;
    connect(&h->server, &HttpServer::requestReceived, this, [&pointers] {
        pointers.append(QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                       : Qt::ArrowCursor);
    });

    // While the last page is on its way the window already shows what the crawl has done.
    HttpServer::Response last;
    last.body = linksPage({"/l"});
    last.delayMs = 300;
    h->server.setPage("/j", last);
    QString shownMidway;
    connect(
        &h->server, &HttpServer::requestReceived, this, [&](const HttpServer::Request &request) {
            if (request.target != "/j")
                return;
            QTimer::singleShot(150, this, [&] {
                const QModelIndexList selected =
                    control<QListView>(window(), "lstLinks4")->selectionModel()->selectedIndexes();
                shownMidway = counts(window()) + u' ' + entries(window(), "lstLinks5").join(u',') +
                              u' ' +
                              QString::number(selected.isEmpty() ? -1 : selected.first().row());
            });
        });

    const QString s = h->server.url();
    pressGo(window(), s);
    QCOMPARE(shownMidway, "11/1 " + s + "/k 1");
    QCOMPARE(targets(h->server),
             (QStringList{"/", "/a", "/b", "/c", "/d", "/e", "/f", "/g", "/h", "/i", "/j"}));
    QCOMPARE(filed(window()),
             (QStringList{"L0 " + s + "/a", "L0 " + s + "/b", "E0 http://other.invalid/x",
                          "L1 " + s + "/c", "L1 " + s + "/d", "L2 " + s + "/e", "L2 " + s + "/f",
                          "L3 " + s + "/g", "L3 " + s + "/h", "L4 " + s + "/i", "L4 " + s + "/j",
                          "L5 " + s + "/k", "L5 " + s + "/l"}));
    QCOMPARE(counts(window()), QStringLiteral("12/1"));
    // One page at a time over one kept-alive connection.
    QCOMPARE(h->server.connectionCount(), 1);
    QCOMPARE(pointers, QList<Qt::CursorShape>(11, Qt::WaitCursor));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(button("cmdBuild")->isEnabled());
    // Each walked list ends with its last entry selected; the others have no selection.
    for (int level = 0; level < frmCrawler::levels; ++level) {
        const auto selected = [&](const char *list) {
            return control<QListView>(window(), QString(list).arg(level))
                ->selectionModel()
                ->selectedIndexes();
        };
        QCOMPARE(selected("lstLinks%1").size(), level < 5 ? 1 : 0);
        if (level < 5)
            QCOMPARE(selected("lstLinks%1").first().row(), 1);
        QVERIFY(selected("lstExternal%1").isEmpty());
    }
}

void tst_frmCrawler::goDuringCrawlRunsNestedCrawl() {
    h->useNetwork();
    serveDeepSite(h->server);
    // Slow enough that the nested crawl starts before the page that triggers it arrives.
    HttpServer::Response slow;
    slow.body = linksPage({"/e"});
    slow.delayMs = 200;
    h->server.setPage("/c", slow);
    bool nested = false;
    connect(&h->server, &HttpServer::requestReceived, this,
            [this, &nested](const HttpServer::Request &request) {
                if (request.target == "/c" && !std::exchange(nested, true))
                    QTimer::singleShot(
                        0, this, [this] { QTest::mouseClick(button("cmdGo"), Qt::LeftButton); });
            });
    pressGo(window(), h->server.url());

    const QStringList outerBefore = {"/", "/a", "/b", "/c"};
    const QStringList inner = {"/",  "/a", "/a", "/b", "/b", "/c", "/c", "/d",
                               "/d", "/e", "/f", "/g", "/h", "/i", "/j"};
    // The outer crawl goes on with the entry counts it had read before.
    const QStringList outerAfter = {"/c", "/e", "/f", "/g", "/h", "/i", "/j"};
    QCOMPARE(targets(h->server), outerBefore + inner + outerAfter);
    QCOMPARE(counts(window()), QStringLiteral("16/2"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(button("cmdBuild")->isEnabled());
}

void tst_frmCrawler::editedAddressAndSilentServer() {
    h->useNetwork(FetchLimits{std::chrono::milliseconds(300), std::chrono::milliseconds(1000)});
    h->server.setHtml("/", linksPage({"/a", "/s"}));
    h->server.setHtml("/a", linksPage({"/b", "/c"}));
    HttpServer::Response silent;
    silent.kind = HttpServer::Response::Kind::NeverAnswer;
    h->server.setPage("/s", silent);
    h->server.setHtml("/b", linksPage({}));
    const QString s = h->server.url();
    // The hourglass shows even over another pointer set before; the default one comes back.
    QApplication::setOverrideCursor(Qt::CrossCursor);
    Qt::CursorShape pointer = Qt::CrossCursor;
    connect(&h->server, &HttpServer::requestReceived, this,
            [&, s](const HttpServer::Request &request) {
                if (request.target != "/a")
                    return;
                // What is internal follows the address box as it is now.
                control<QLineEdit>(window(), "txtURL")->setText(s + "/b");
                pointer = QApplication::overrideCursor()->shape();
            });
    pressGo(window(), s);
    // The page that never came only held the crawl up for the load's limit.
    QCOMPARE(targets(h->server), (QStringList{"/", "/a", "/s", "/b"}));
    QCOMPARE(filed(window()),
             (QStringList{"L0 " + s + "/a", "L0 " + s + "/s", "L1 " + s + "/b", "E1 " + s + "/c"}));
    QCOMPARE(pointer, Qt::WaitCursor);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
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

    h->useNetwork();
    serveDeepSite(h->server);
    int seenC = 0;
    connect(&h->server, &HttpServer::requestReceived, this,
            [this, nested, &seenC](const HttpServer::Request &request) {
                if (request.target != "/c")
                    return;
                const bool close = !nested || ++seenC == 2;
                QTimer::singleShot(0, this, [this, close] {
                    if (close)
                        window().close();
                    else
                        QTest::mouseClick(button("cmdGo"), Qt::LeftButton);
                });
            });

    pressGo(window(), h->server.url());
    QVERIFY(!window().isVisible());
    QCOMPARE(targets(h->server), requested);
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    // Nothing goes on crawling for the closed window.
    QTest::qWait(200);
    QCOMPARE(targets(h->server), requested);
}

// A page parsed on the pool reaches the crawl as an event posted while it waits: the turn
// that the event ended must hand it on, or the crawl waits on for something else to happen.
// ctest runs this once more on Qt's own event dispatcher (QT_NO_GLIB=1), which otherwise
// delivers posted events only at the start of a turn.
void tst_frmCrawler::waitSeesWhatAnotherThreadPosted() {
    for (int i = 0; i < 3; ++i) {
        bool delivered = false;
        std::thread poster([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            QMetaObject::invokeMethod(this, [&delivered] { delivered = true; });
        });
        QElapsedTimer waited;
        waited.start();
        while (!delivered && waited.elapsed() < 5000)
            runEventPump(Pump::WaitForEvents);
        poster.join();
        QVERIFY(delivered);
        QCOMPARE_LT(waited.elapsed(), 250);
    }
}

void tst_frmCrawler::largeListsHaveNoSixteenBitLimit() {
    const QString s = QStringLiteral("http://s.test");
    QStringList links;
    for (int i = 0; i < 40'000; ++i)
        links.append(QStringLiteral("%1/p%2").arg(s).arg(i, 5, 10, QLatin1Char('0')));
    h->fake.pages.insert(s, links);
    for (const QString &link : std::as_const(links))
        h->fake.pages.insert(link, {});
    h->fake.pages.insert(links.last(), {s + "/deeper"});
    pressGo(window(), s);
    QCOMPARE(entries(window(), "lstLinks0").size(), 40'000);
    QCOMPARE(counts(window()), QStringLiteral("40001/0"));
    // The walk reached the last entry, past index 32,767, and went on to the next level.
    QCOMPARE(h->fake.requested.size(), 40'002);
    QCOMPARE(h->fake.requested.at(40'000), links.last());
    QCOMPARE(entries(window(), "lstLinks1"), QStringList{s + "/deeper"});
}

void tst_frmCrawler::longEntryIsDrawnShortButStaysWhole() {
    // Links of megabytes: laying one out whole held the window for seconds.
    const QString s = QStringLiteral("http://s.test");
    // The internal one is of wide letters, which wrap soonest.
    const QString internal = s + u'/' + QString(2 << 20, u'W');
    const QString external = "http://o.test/" + QString(1 << 20, u'y');
    h->fake.pages = {{s, {internal, external, external}}, {internal, {}}};
    pressGo(window(), s);
    QCOMPARE(h->fake.requested, (QStringList{s, internal}));
    // The seen-list holds the whole address: its second finding is not listed again.
    QCOMPARE(entries(window(), "lstExternal0").size(), 1);
    for (const char *name : {"lstLinks0", "lstExternal0"}) {
        auto *list = control<QListView>(window(), name);
        const QModelIndex entry = list->model()->index(0, 0);
        QCOMPARE(entry.data().toString(), name[3] == 'L' ? internal : external);
        QVERIFY(entry.data(Qt::AccessibleTextRole).toString().size() < 400);
        QStyleOptionViewItem option;
        option.initFrom(list);
        QVERIFY(list->itemDelegate()->sizeHint(option, entry).width() < 20 * list->width());
    }

    // The sitemap shows the line of 2 MiB wrapped, and every character of it can be reached:
    // none on screen lies past the box's edge.
    QTest::mouseClick(button("cmdBuild"), Qt::LeftButton);
    auto *text = control<SitemapText>(window(), "txtSitemap");
    QVERIFY(text->isVisible());
    QCOMPARE(text->text(), window().sitemapText());
    QVERIFY(text->text().contains("<loc>" + internal + "</loc>\r\n"));
    QVERIFY(!window().grab().isNull());
    QAccessibleTextInterface *reader = QAccessible::queryAccessibleInterface(text)->textInterface();
    const QRect box(text->viewport()->mapToGlobal(QPoint(0, 0)), text->viewport()->size());
    int onScreen = 0;
    for (int offset = 0; offset < 5000; ++offset) {
        const QRect place = reader->characterRect(offset);
        if (place.isEmpty())
            continue;
        ++onScreen;
        QVERIFY2(box.contains(place), qPrintable(QString::number(offset)));
    }
    QVERIFY(onScreen > 1000);
    QVERIFY(text->verticalScrollBar()->maximum() > internal.size() / 200);
}

QTEST_MAIN(tst_frmCrawler)
#include "tst_frmCrawler.moc"
