#include "Sitemap.h"
#include "SitemapText.h"
#include "WidgetMessageBox.h"
#include "WindowTest.h"

#include <QAccessible>
#include <QClipboard>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QGroupBox>
#include <QMenu>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSemaphore>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <optional>
#include <sys/resource.h>

namespace {

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

// Answers Export as the disk would and records what it would write, writing nothing.
class RecordingFileSystem final : public FileSystem {
public:
    bool DirExists(const QString &path) override { return disk.DirExists(path); }
    FileFailure replaceFiles(const QList<NewFile> &files) override {
        for (const NewFile &file : files)
            written.insert(file.path, file.bytes());
        return {};
    }
    DiskFileSystem disk;
    QMap<QString, QByteArray> written;
};

// The disk, whose writing waits until the test lets it go on.
class GatedFileSystem final : public FileSystem {
public:
    bool DirExists(const QString &path) override { return disk.DirExists(path); }
    FileFailure replaceFiles(const QList<NewFile> &files) override {
        writing.release();
        gate.acquire();
        return disk.replaceFiles(files);
    }
    DiskFileSystem disk;
    QSemaphore writing;
    QSemaphore gate;
};

} // namespace

// Stands in for the desktop's browser: Qt hands it every http address opened.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

// New, Build Sitemap, Export, the sitemap's keys and the credit label on the real window.
class tst_WindowCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { h.emplace(); }
    void cleanup() { h.reset(); }

    void newEmptiesTheResultsAndKeepsTheSettings();
    void newDuringCrawlLetsTheCrawlFinish();
    void buildShowHideAndExport();
    void exportDirectory_data();
    void exportDirectory();
    void failedWriteIsReported();
    void splitExport_data();
    void splitExport();
    void bigExportIsTheSplitOfItsText();
    void messageBoxHasOneOkAndNoIcon();
    void selectionAfterPanelCommands_data();
    void selectionAfterPanelCommands();
    void selectAllKey_data();
    void selectAllKey();
    void selectionKeys_data();
    void selectionKeys();
    void creditLabelOpensTheMakersPage();

private:
    frmCrawler &window() { return *h->window; }
    QPushButton *button(const char *name) { return control<QPushButton>(window(), name); }
    SitemapText *sitemapBox() { return control<SitemapText>(window(), "txtSitemap"); }
    void press(const char *name) { QTest::mouseClick(button(name), Qt::LeftButton); }
    // A crawl of a small made-up site, then Build Sitemap.
    void crawlAndBuild() {
        h->fake.pages = {{"http://s.test", {"http://s.test/a", "http://other.test/"}},
                         {"http://s.test/a", {"http://s.test/a/b"}},
                         {"http://s.test/a/b", {}}};
        pressGo(window(), "http://s.test");
        press("cmdBuild");
    }
    // Opens the sitemap text's context menu from the keyboard and picks `action` there; gives
    // the texts of the menu's actions.
    QStringList pickFromMenu(const QString &action) {
        QStringList offered;
        QTimer::singleShot(0, this, [&] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu);
            for (QAction *entry : menu->actions()) {
                offered.append(entry->text());
                if (entry->text() == action)
                    entry->trigger();
            }
            menu->close();
        });
        QWidget *text = sitemapBox()->viewport();
        QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                  text->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(text, &menuKey);
        return offered;
    }
    // Export, and the wait for its writing to end.
    void pressExport(const QString &directory) {
        control<QLineEdit>(window(), "txtExport")->setText(directory);
        press("cmdExport");
        QTRY_VERIFY(!window().exporting());
    }

    std::optional<WindowHarness> h;
    QTemporaryDir m_dir;
};

void tst_WindowCommands::newEmptiesTheResultsAndKeepsTheSettings() {
    GatedFileSystem gated;
    h->files = &gated;
    h->open(h->fake);
    QTemporaryDir dir;
    control<QComboBox>(window(), "cmbFrequency")->setEditText("Hourly");
    control<QLineEdit>(window(), "txtExport")->setText(dir.path());
    crawlAndBuild();
    const QString built = window().sitemapText();
    // New while Export writes: the export writes the document it was given.
    press("cmdExport");
    QVERIFY(gated.writing.tryAcquire(1, 10'000));
    press("cmdNew");
    gated.gate.release();
    QTRY_VERIFY(!window().exporting());
    QCOMPARE(readFile(dir.filePath("sitemap.xml")), built.toUtf8());
    QCOMPARE(filed(window()), QStringList());
    QCOMPARE(counts(window()), QStringLiteral("0/0"));
    QVERIFY(control<QGroupBox>(window(), "fraSitemap")->isHidden());
    QCOMPARE(sitemapBox()->text(), QString());
    QVERIFY(!button("cmdBuild")->isEnabled());
    QCOMPARE(button("cmdBuild")->text(), QStringLiteral("Build Sitemap"));
    // What New leaves alone.
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), QStringLiteral("http://s.test"));
    QCOMPARE(control<QComboBox>(window(), "cmbFrequency")->currentText(), QStringLiteral("Hourly"));
    QVERIFY(button("cmdExport")->isEnabled());

    // Export after New writes the emptied document over the old file.
    writeFile(dir.filePath("sitemap.xml"), "older");
    gated.gate.release();
    pressExport(dir.path());
    QCOMPARE(readFile(dir.filePath("sitemap.xml")), QByteArray());
    QCOMPARE(h->messages.shown, QStringList());

    // The next crawl fills the lists and enables Build Sitemap again; its first press builds
    // anew.
    pressGo(window(), "http://s.test");
    QCOMPARE(counts(window()), QStringLiteral("2/1"));
    press("cmdBuild");
    QVERIFY(window().sitemapText().contains("<changefreq>Hourly</changefreq>"));
}

void tst_WindowCommands::newDuringCrawlLetsTheCrawlFinish() {
    h->useNetwork();
    HttpServer &server = h->server;
    serveDeepSite(server);
    server.setHtml("/c", linksPage({"/e", "/a"})); // "/a" was listed before New
    connect(&server, &HttpServer::requestReceived, this, [&](const HttpServer::Request &request) {
        if (request.target == "/c")
            QTimer::singleShot(0, this, [&] { press("cmdNew"); });
    });

    pressGo(window(), server.url());
    // The emptied list's next entry is gone: the empty selection cannot be requested, so /c
    // is harvested again. The seen-lists outlive New: nothing is listed twice.
    QCOMPARE(targets(server), (QStringList{"/", "/a", "/b", "/c", "/e", "/g", "/i"}));
    QCOMPARE(filed(window()), (QStringList{"L2 " + server.url("/e"), "L3 " + server.url("/g"),
                                           "L4 " + server.url("/i"), "L5 " + server.url("/k")}));
    QCOMPARE(counts(window()), QStringLiteral("4/0"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(button("cmdBuild")->isEnabled());
}

void tst_WindowCommands::buildShowHideAndExport() {
    h->useNetwork();
    h->server.setHtml("/", linksPage({"/b", "/a?x=1&y=2", "http://other.invalid/"}));
    h->server.setHtml("/a?x=1&y=2", linksPage({"/a/deeper"}));
    h->server.setHtml("/b", linksPage({}));
    h->server.setHtml("/a/deeper", linksPage({}));
    const QString s = h->server.url();
    pressGo(window(), s);
    QVERIFY(!button("cmdExport")->isEnabled());
    control<QComboBox>(window(), "cmbFrequency")->setEditText("Monthly");
    press("cmdBuild");

    auto *panel = control<QGroupBox>(window(), "fraSitemap");
    QCOMPARE(button("cmdBuild")->text(), QStringLiteral("Hide Sitemap"));
    QVERIFY(panel->isVisible());
    QVERIFY(button("cmdExport")->isEnabled());
    const QString built = window().sitemapText();
    QCOMPARE(sitemapBox()->text(), built);
    // The panel lies over all twelve lists and hides them: where it has no text box it shows
    // its own background. The row below it stays in sight.
    for (const char *list : {"lstLinks0", "lstExternal0", "lstLinks5", "lstExternal5"}) {
        const QRect area = control<QWidget>(window(), list)->geometry();
        QVERIFY(panel->isAncestorOf(window().childAt(area.center())));
    }
    QVERIFY(window().childAt(control<QWidget>(window(), "cmbFrequency")->geometry().center()));
    QCOMPARE(window().grab().toImage().pixelColor(920, 56),
             panel->palette().color(QPalette::Window));
    // Hide and Show never build again, whatever the frequency box says now.
    control<QComboBox>(window(), "cmbFrequency")->setEditText("Daily");
    for (const char *caption : {"Show Sitemap", "Hide Sitemap", "Show Sitemap"}) {
        press("cmdBuild");
        QCOMPARE(button("cmdBuild")->text(), QString(caption));
        QCOMPARE(panel->isVisible(), caption[0] == 'H');
        QCOMPARE(window().sitemapText(), built);
    }
    // The mouse selects: a drag along the first row takes the first line, a click with Shift
    // held on the third row stretches the selection to that line's end. What the user types
    // into the shown text changes nothing.
    press("cmdBuild");
    QWidget *text = sitemapBox()->viewport();
    const int right = text->width() - 3;
    const int rowHeight = text->fontMetrics().height();
    QTest::mousePress(text, Qt::LeftButton, {}, QPoint(2, rowHeight / 2 + 4));
    QTest::mouseMove(text, QPoint(right, rowHeight / 2 + 4));
    QTest::mouseRelease(text, Qt::LeftButton, {}, QPoint(right, rowHeight / 2 + 4));
    const QStringList lines = built.split("\r\n");
    QCOMPARE(sitemapBox()->selectedText(), lines[0]);
    QTest::mouseClick(text, Qt::LeftButton, Qt::ShiftModifier,
                      QPoint(right, rowHeight * 5 / 2 + 4));
    QCOMPARE(sitemapBox()->selectedText(), lines.mid(0, 3).join("\r\n"));
    // The context menu copies it.
    QGuiApplication::clipboard()->clear();
    QCOMPARE(pickFromMenu("&Copy"), (QStringList{"&Copy", "Select All"}));
    QCOMPARE(QGuiApplication::clipboard()->text(), lines.mid(0, 3).join("\r\n"));
    // A double click selects a word.
    QTest::mouseDClick(text, Qt::LeftButton, {}, QPoint(25, rowHeight * 3 / 2 + 4));
    QCOMPARE(sitemapBox()->selectedText(), QStringLiteral("urlset"));
    QTest::keyClicks(sitemapBox(), "typed");
    QTest::keyClick(sitemapBox(), Qt::Key_Delete);
    QCOMPARE(sitemapBox()->text(), built);

    const QString file = m_dir.filePath("sitemap.xml");
    writeFile(file, QByteArray(100'000, 'x')); // an older, longer sitemap
    pressExport(m_dir.path());
    const auto entry = [](const QString &loc, const char *priority) {
        return "<url>\r\n<loc>" + loc + "</loc>\r\n<priority>" + priority +
               "</priority>\r\n<changefreq>Monthly</changefreq>\r\n</url>";
    };
    const QString expected = "<?xml version='1.0' encoding='UTF-8'?>\r\n<urlset\r\n"
                             "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'\r\n"
                             "xmlns:xsi = 'http://www.w3.org/2001/XMLSchema-instance'\r\n"
                             "xsi:schemaLocation = 'http://www.sitemaps.org/schemas/sitemap/0.9\r\n"
                             "http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd'>\r\n"
                             "<!-- created with Corvane " +
                             makerHomePage + " -->\r\n" + entry(s, "1.00") + "\r\n" +
                             entry(s + "/a?x=1&amp;y=2", "0.80") + "\r\n" +
                             entry(s + "/b", "0.80") + "\r\n" + entry(s + "/a/deeper", "0.60") +
                             "\r\n</urlset>";
    QCOMPARE(readFile(file), expected.toUtf8());
    QCOMPARE(h->messages.shown, QStringList());
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir.path()).entryList({"sitemap.xml*"}, QDir::Files | QDir::Hidden),
             QStringList{"sitemap.xml"});
}

void tst_WindowCommands::exportDirectory_data() {
    QTest::addColumn<QString>("typed");   // relative to the test's directory; "" for empty
    QTest::addColumn<QString>("written"); // the file expected, or "" when none
    QTest::addColumn<QString>("message");

    const QString missing = "Directory doesn't exist - please check and re-type";
    QTest::newRow("directory without slash") << "/dir"
                                             << "/dir/sitemap.xml"
                                             << "";
    QTest::newRow("directory with slash: none added") << "/dir/"
                                                      << "/dir/sitemap.xml"
                                                      << "";
    QTest::newRow("missing directory: message, nothing written") << "/nowhere"
                                                                 << "" << missing;
    QTest::newRow("path naming a file: message, nothing written") << "/file.txt"
                                                                  << "" << missing;
    QTest::newRow("empty box: the root directory") << ""
                                                   << ""
                                                   << "";
}

void tst_WindowCommands::exportDirectory() {
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, message);

    QVERIFY(QDir(m_dir.path()).mkpath("dir"));
    writeFile(m_dir.filePath("file.txt"), "keep");
    RecordingFileSystem files;
    h->files = &files;
    h->open(h->fake);
    crawlAndBuild();
    pressExport(typed.isEmpty() ? QString() : m_dir.path() + typed);

    QCOMPARE(h->messages.shown, message.isEmpty() ? QStringList() : QStringList{message});
    const QString path = typed.isEmpty() ? "/sitemap.xml" : m_dir.path() + written;
    QCOMPARE(files.written.keys(), message.isEmpty() ? QStringList{path} : QStringList());
    if (message.isEmpty())
        QCOMPARE(files.written.value(path), window().sitemapText().toUtf8());
}

// Tests run as root, where permissions stop nothing: the failures are made otherwise. Here no
// file can be created; a write cut short by a file size limit is splitExport's.
void tst_WindowCommands::failedWriteIsReported() {
    crawlAndBuild();
    pressExport("/proc/self");
    QCOMPARE(h->messages.shown.size(), 1);
    const QString prefix = "Could not write /proc/self/sitemap.xml: ";
    QVERIFY2(h->messages.shown.first().startsWith(prefix), qPrintable(h->messages.shown.first()));
    QVERIFY(h->messages.shown.first().size() > prefix.size());
}

void tst_WindowCommands::splitExport_data() {
    QTest::addColumn<bool>("thirdPartFails");

    QTest::newRow("three parts and their index") << false;
    QTest::newRow("the third part cannot be written: every old file kept") << true;
}

void tst_WindowCommands::splitExport() {
    QFETCH(bool, thirdPartFails);

    // Two addresses a part: the start address and five links make three parts, the last one
    // long enough to pass the file size limit that the failing row sets.
    h->limits = {2, 1 << 20};
    h->open(h->fake);
    const QString s = "http://s.test:8080/shop";
    const QString longest = s + "/e" + QString(2000, u'x');
    h->fake.pages = {{s, {s + "/b", s + "/a", s + "/d", s + "/c", longest}}};
    pressGo(window(), s);
    press("cmdBuild");
    QTemporaryDir folder;
    const QDir dir(folder.path());
    writeFile(dir.filePath("sitemap.xml"), "old index");
    writeFile(dir.filePath("sitemap-1.xml"), "old part 1");
    writeFile(dir.filePath("sitemap-4.xml"), "old part 4");

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (thirdPartFails) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 1500;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    pressExport(folder.path());
    setrlimit(RLIMIT_FSIZE, &saved);

    QCOMPARE(readFile(dir.filePath("sitemap-4.xml")), QByteArray("old part 4"));
    if (thirdPartFails) {
        QCOMPARE(h->messages.shown.size(), 1);
        QVERIFY(h->messages.shown.first().startsWith("Could not write " +
                                                     dir.filePath("sitemap-3.xml") + ": "));
        QCOMPARE(readFile(dir.filePath("sitemap.xml")), QByteArray("old index"));
        QCOMPARE(readFile(dir.filePath("sitemap-1.xml")), QByteArray("old part 1"));
        QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden),
                 (QStringList{"sitemap-1.xml", "sitemap-4.xml", "sitemap.xml"}));
        return;
    }
    QCOMPARE(h->messages.shown,
             QStringList{"The sitemap is too big for one file, so Export wrote 4 files: "
                         "sitemap-1.xml to sitemap-3.xml, and sitemap.xml, which lists them. "
                         "Upload all 4 files to the root folder of the site."});
    QCOMPARE(QString::fromUtf8(readFile(dir.filePath("sitemap.xml"))),
             "<?xml version='1.0' encoding='UTF-8'?>\r\n<sitemapindex\r\n"
             "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'>\r\n"
             "<!-- created with Corvane " +
                 makerHomePage +
                 " -->\r\n"
                 "<sitemap>\r\n<loc>http://s.test:8080/sitemap-1.xml</loc>\r\n</sitemap>\r\n"
                 "<sitemap>\r\n<loc>http://s.test:8080/sitemap-2.xml</loc>\r\n</sitemap>\r\n"
                 "<sitemap>\r\n<loc>http://s.test:8080/sitemap-3.xml</loc>\r\n</sitemap>\r\n"
                 "</sitemapindex>");
    // Each part is the whole document's head, two of its entries in its order, and its end.
    const QString whole = window().sitemapText();
    QStringList entries;
    for (const QRegularExpressionMatch &entry :
         QRegularExpression("<url>.*?</url>", QRegularExpression::DotMatchesEverythingOption)
             .globalMatch(whole))
        entries.append(entry.captured());
    QCOMPARE(entries.size(), 6);
    QVERIFY(entries.last().contains(longest));
    for (int part = 0; part < 3; ++part) {
        QCOMPARE(QString::fromUtf8(
                     readFile(dir.filePath(QStringLiteral("sitemap-%1.xml").arg(part + 1)))),
                 whole.left(whole.indexOf("<url>")) + entries.mid(2 * part, 2).join("\r\n") +
                     "\r\n</urlset>");
    }
    QCOMPARE(dir.entryList(QDir::Files | QDir::Hidden),
             (QStringList{"sitemap-1.xml", "sitemap-2.xml", "sitemap-3.xml", "sitemap-4.xml",
                          "sitemap.xml"}));
}

// A document of many entries, some escaped or beyond ASCII, split into many parts: the files
// hold the split of the document's text, byte for byte.
void tst_WindowCommands::bigExportIsTheSplitOfItsText() {
    h->limits = {100, 30'000};
    h->open(h->fake);
    const QString s = "http://s.test";
    QStringList links;
    for (int i = 0; i < 1200; ++i)
        links.append(s + QStringLiteral("/p%1?a=1&b=").arg(i) +
                     (i % 3 ? QStringLiteral("x") : QStringLiteral("\u00E9\U0001F600<")));
    h->fake.pages = {{s, links}};
    pressGo(window(), s);
    press("cmdBuild");
    QTemporaryDir folder;
    pressExport(folder.path());

    const SitemapSplit split = SplitSitemap(window().sitemapText(), 100, 30'000);
    QVERIFY(split.parts.size() > 12);
    const QDir dir(folder.path());
    for (qsizetype i = 0; i < split.parts.size(); ++i)
        QCOMPARE(readFile(dir.filePath(QStringLiteral("sitemap-%1.xml").arg(i + 1))),
                 split.parts.at(i));
    QCOMPARE(readFile(dir.filePath("sitemap.xml")), split.index);
    QCOMPARE(dir.entryList(QDir::Files).size(), split.parts.size() + 1);
}

void tst_WindowCommands::messageBoxHasOneOkAndNoIcon() {
    QMessageBox *box = nullptr;
    QString seen;
    QTimer::singleShot(0, this, [&] {
        box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        seen = box->windowTitle() + '|' + box->text() + '|' + QString::number(box->icon()) + '|' +
               QString::number(box->buttons().size());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    WidgetMessageBox().show("Directory doesn't exist - please check and re-type");
    QCOMPARE(seen,
             QStringLiteral("Corvane|Directory doesn't exist - please check and re-type|0|1"));
}

void tst_WindowCommands::selectionAfterPanelCommands_data() {
    QTest::addColumn<QStringList>("commands"); // buttons pressed; "Go" crawls again
    QTest::addColumn<bool>("kept");

    QTest::newRow("Hide and Show drop the selection")
        << QStringList{"cmdBuild", "cmdBuild"} << true;
    QTest::newRow("New and a new build keep the old selection")
        << QStringList{"cmdNew", "Go", "cmdBuild"} << false;
}

// The context menu's Select All and Copy take the whole document, every character of it; the
// selection lasts while the panel is hidden and shown, and goes with the document.
void tst_WindowCommands::selectionAfterPanelCommands() {
    QFETCH(QStringList, commands);
    QFETCH(bool, kept);

    crawlAndBuild();
    const QString document = window().sitemapText();
    QGuiApplication::clipboard()->setText("before");
    pickFromMenu("&Copy");
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("before"));
    pickFromMenu("Select All");
    QCOMPARE(sitemapBox()->selectedText(), document);
    pickFromMenu("&Copy");
    QCOMPARE(QGuiApplication::clipboard()->text(), document);

    for (const QString &command : commands) {
        if (command == u"Go")
            pressGo(window(), "http://s.test");
        else
            press(qPrintable(command));
    }
    QCOMPARE(window().sitemapText(), document);
    QCOMPARE(sitemapBox()->selectedText(), kept ? document : QString());
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(sitemapBox(), Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), kept ? document : QStringLiteral("before"));
}

void tst_WindowCommands::selectAllKey_data() {
    QTest::addColumn<Qt::KeyboardModifiers>("pressed");  // held as A goes down
    QTest::addColumn<Qt::KeyboardModifiers>("released"); // held as A comes up
    QTest::addColumn<bool>("selectsAll");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+A selects the whole text") << ctrl << ctrl << true;
    QTest::newRow("Ctrl+Shift+A selects nothing")
        << (ctrl | Qt::ShiftModifier) << (ctrl | Qt::ShiftModifier) << false;
    QTest::newRow("Ctrl+Alt+A selects nothing")
        << (ctrl | Qt::AltModifier) << (ctrl | Qt::AltModifier) << false;
    QTest::newRow("A alone selects nothing") << none << none << false;
    QTest::newRow("Ctrl released before A selects nothing") << ctrl << none << false;
}

void tst_WindowCommands::selectAllKey() {
    QFETCH(Qt::KeyboardModifiers, pressed);
    QFETCH(Qt::KeyboardModifiers, released);
    QFETCH(bool, selectsAll);

    crawlAndBuild();
    SitemapText *box = sitemapBox();
    box->setFocus();
    const QString typed = pressed == Qt::NoModifier ? QStringLiteral("a") : QString();
    QKeyEvent down(QEvent::KeyPress, Qt::Key_A, pressed, typed);
    QApplication::sendEvent(box, &down);
    QKeyEvent up(QEvent::KeyRelease, Qt::Key_A, released, typed);
    QApplication::sendEvent(box, &up);

    QCOMPARE(box->selectedText(), selectsAll ? window().sitemapText() : QString());
    QCOMPARE(box->text(), window().sitemapText());
    // The copy key puts the whole document on the clipboard, every CR LF kept.
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             selectsAll ? window().sitemapText() : QStringLiteral("before"));
}

void tst_WindowCommands::selectionKeys_data() {
    QTest::addColumn<QKeySequence>("keys");
    QTest::addColumn<int>("selected"); // characters from the start; -1: the whole text

    const QString firstLine = QStringLiteral("<?xml version='1.0' encoding='UTF-8'?>");
    const int line = int(firstLine.size());
    QTest::newRow("Shift+Right twice")
        << QKeySequence(Qt::SHIFT | Qt::Key_Right, Qt::SHIFT | Qt::Key_Right) << 2;
    QTest::newRow("Ctrl+Shift+Right selects a word at a time")
        << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right, Qt::CTRL | Qt::SHIFT | Qt::Key_Right,
                        Qt::CTRL | Qt::SHIFT | Qt::Key_Right)
        << 5;
    QTest::newRow("Ctrl+Shift+Left takes back the line break, then a sign")
        << QKeySequence(Qt::SHIFT | Qt::Key_Down, Qt::CTRL | Qt::SHIFT | Qt::Key_Left,
                        Qt::CTRL | Qt::SHIFT | Qt::Key_Left)
        << line - 1;
    QTest::newRow("Shift+End stops before the line break")
        << QKeySequence(Qt::SHIFT | Qt::Key_End) << line;
    QTest::newRow("Shift+Down takes the line break")
        << QKeySequence(Qt::SHIFT | Qt::Key_Down) << line + 2;
    QTest::newRow("Shift+Left steps back over CR LF at once")
        << QKeySequence(Qt::SHIFT | Qt::Key_Down, Qt::SHIFT | Qt::Key_Down,
                        Qt::SHIFT | Qt::Key_Left)
        << line + 2 + 7;
    QTest::newRow("Shift+Up selects backwards")
        << QKeySequence(QKeyCombination(Qt::Key_Down), Qt::SHIFT | Qt::Key_Up) << line + 2;
    QTest::newRow("Shift+Home from the line's end")
        << QKeySequence(QKeyCombination(Qt::Key_End), Qt::SHIFT | Qt::Key_Home) << line;
    QTest::newRow("Ctrl+Shift+End selects to the end")
        << QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_End) << -1;
    QTest::newRow("Shift+PageDown then Ctrl+Shift+Home")
        << QKeySequence(Qt::SHIFT | Qt::Key_PageDown, Qt::CTRL | Qt::SHIFT | Qt::Key_Home) << 0;
    QTest::newRow("a move without Shift drops the selection")
        << QKeySequence(Qt::SHIFT | Qt::Key_Down, QKeyCombination(Qt::Key_Right)) << 0;
}

void tst_WindowCommands::selectionKeys() {
    QFETCH(QKeySequence, keys);
    QFETCH(int, selected);

    crawlAndBuild();
    SitemapText *box = sitemapBox();
    box->setFocus();
    for (int i = 0; i < keys.count(); ++i)
        QTest::keyClick(box, keys[i].key(), keys[i].keyboardModifiers());
    const QString expected =
        selected < 0 ? window().sitemapText() : window().sitemapText().left(selected);
    QCOMPARE(box->selectedText(), expected);
    QGuiApplication::clipboard()->setText("before");
    QTest::keyClick(box, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(),
             expected.isEmpty() ? QStringLiteral("before") : expected);

    // A screen reader reads the same selection, and the whole line the cursor is on.
    QAccessibleTextInterface *reader = QAccessible::queryAccessibleInterface(box)->textInterface();
    QVERIFY(reader);
    QCOMPARE(reader->characterCount(), window().sitemapText().size());
    int start = -1;
    int end = -1;
    reader->selection(0, &start, &end);
    QCOMPARE(reader->selectionCount(), expected.isEmpty() ? 0 : 1);
    QCOMPARE(reader->text(start, end), expected);
    const QString &all = window().sitemapText();
    const int cursor = reader->cursorPosition();
    const int lineStart = cursor == 0 ? 0 : int(all.lastIndexOf(u'\n', cursor - 1)) + 1;
    const int lineEnd =
        all.indexOf(u'\n', cursor) < 0 ? int(all.size()) : int(all.indexOf(u'\n', cursor)) + 1;
    QCOMPARE(reader->textAtOffset(cursor, QAccessible::LineBoundary, &start, &end),
             all.mid(lineStart, lineEnd - lineStart));
    QCOMPARE(start, lineStart);
    QCOMPARE(reader->textAtOffset(3, QAccessible::WordBoundary, &start, &end), QString("xml"));
    QCOMPARE(reader->textAfterOffset(3, QAccessible::WordBoundary, &start, &end), QString(" "));
    QCOMPARE(start, 5);
}

void tst_WindowCommands::creditLabelOpensTheMakersPage() {
    BrowserStandIn browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    auto *credit = control<QLabel>(window(), "Label4");
    QWidget *focused = QApplication::focusWidget();
    QTest::mouseClick(credit, Qt::LeftButton);
    QTest::mouseClick(credit, Qt::LeftButton);
    // A press that ends off the label is no click.
    QTest::mousePress(credit, Qt::LeftButton);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-5, -5),
                        credit->mapToGlobal(QPointF(-5, -5)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(credit, &release);
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(browser.opened, (QList<QUrl>{QUrl(makerHomePage), QUrl(makerHomePage)}));
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(h->messages.shown, QStringList());
}

QTEST_MAIN(tst_WindowCommands)
#include "tst_WindowCommands.moc"
