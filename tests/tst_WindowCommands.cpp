#include "NetworkHtmlEngine.h"
#include "Sitemap.h"
#include "WindowTest.h"

#include <QComboBox>
#include <QDesktopServices>
#include <QFile>
#include <QGroupBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>

#include <optional>

// Stands in for the desktop's browser: Qt hands it every http address opened.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class tst_WindowCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void newEmptiesTheResultsAndKeepsTheSettings();
    void newOnAFreshWindowChangesNothing();
    void newDuringCrawlLetsTheCrawlFinish();
    void selectAllKey_data();
    void selectAllKey();
    void creditLabelOpensTheMakersPage();

private:
    frmCrawler &window() { return *m_window; }
    void crawlAndBuild() {
        m_fake.pages = {{"http://s.test", {"http://s.test/a", "http://other.test/"}},
                        {"http://s.test/a", {"http://s.test/a/b"}},
                        {"http://s.test/a/b", {}}};
        pressGo(window(), "http://s.test");
        QTest::mouseClick(control<QPushButton>(window(), "cmdBuild"), Qt::LeftButton);
    }

    FakeEngine m_fake;
    DiskFileSystem m_files;
    RecordingMessageBox m_messages;
    SystemDesktopOpener m_opener;
    std::unique_ptr<frmCrawler> m_window;
};

void tst_WindowCommands::init() {
    m_window = std::make_unique<frmCrawler>(
        frmCrawler::Seams{m_fake, m_files, m_messages, m_opener}, programDirectory);
    m_window->show();
}

void tst_WindowCommands::cleanup() {
    m_window.reset();
}

void tst_WindowCommands::newEmptiesTheResultsAndKeepsTheSettings() {
    QTemporaryDir dir;
    control<QComboBox>(window(), "cmbFrequency")->setEditText("Hourly");
    control<QLineEdit>(window(), "txtExport")->setText(dir.path());
    crawlAndBuild();
    QVERIFY(!window().sitemapText().isEmpty());
    const QString seenInternal = window().internalSeenText();
    const QString seenExternal = window().externalSeenText();

    QTest::mouseClick(control<QPushButton>(window(), "cmdNew"), Qt::LeftButton);
    QCOMPARE(filed(window()), QStringList());
    QCOMPARE(counts(window()), QStringLiteral("0/0"));
    QVERIFY(control<QGroupBox>(window(), "fraSitemap")->isHidden());
    QCOMPARE(control<QPlainTextEdit>(window(), "txtSitemap")->toPlainText(), QString());
    QCOMPARE(window().sitemapText(), QString());
    auto *build = control<QPushButton>(window(), "cmdBuild");
    QVERIFY(!build->isEnabled());
    QCOMPARE(build->text(), QStringLiteral("Build Sitemap"));
    // What New leaves alone.
    QCOMPARE(control<QLineEdit>(window(), "txtURL")->text(), QStringLiteral("http://s.test"));
    QCOMPARE(control<QComboBox>(window(), "cmbFrequency")->currentText(), QStringLiteral("Hourly"));
    QCOMPARE(control<QLineEdit>(window(), "txtExport")->text(), dir.path());
    QVERIFY(control<QPushButton>(window(), "cmdExport")->isEnabled());
    QCOMPARE(window().internalSeenText(), seenInternal);
    QCOMPARE(window().externalSeenText(), seenExternal);

    // Export after New writes the emptied document over the old file.
    QFile old(dir.filePath("sitemap.xml"));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("older");
    old.close();
    QTest::mouseClick(control<QPushButton>(window(), "cmdExport"), Qt::LeftButton);
    QFile file(dir.filePath("sitemap.xml"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray());
    QCOMPARE(m_messages.shown, QStringList());

    // The next crawl enables Build Sitemap again, and its first press builds anew.
    pressGo(window(), "http://s.test");
    QVERIFY(build->isEnabled());
    QTest::mouseClick(build, Qt::LeftButton);
    QVERIFY(window().sitemapText().contains("<changefreq>Hourly</changefreq>"));
}

void tst_WindowCommands::newOnAFreshWindowChangesNothing() {
    QTest::mouseClick(control<QPushButton>(window(), "cmdNew"), Qt::LeftButton);
    QCOMPARE(filed(window()), QStringList());
    QCOMPARE(counts(window()), QStringLiteral("0/0"));
    QVERIFY(!control<QPushButton>(window(), "cmdBuild")->isEnabled());
    QVERIFY(!control<QPushButton>(window(), "cmdExport")->isEnabled());
    QCOMPARE(control<QLineEdit>(window(), "txtExport")->text(), programDirectory);
}

void tst_WindowCommands::newDuringCrawlLetsTheCrawlFinish() {
    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/", linksPage({"/a", "/b"}));
    server.setHtml("/a", linksPage({"/c"}));
    server.setHtml("/b", linksPage({"/d"}));
    const QString chain = QStringLiteral("cdefghijkl");
    for (int i = 0; i + 2 < chain.size(); ++i)
        server.setHtml("/" + chain.mid(i, 1).toUtf8(), linksPage({"/" + chain.mid(i + 2, 1)}));
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    frmCrawler crawler({engine, m_files, m_messages, m_opener}, programDirectory);
    crawler.show();
    connect(&server, &HttpServer::requestReceived, this, [&](const HttpServer::Request &request) {
        if (request.target == "/c")
            QTimer::singleShot(0, this, [&] {
                QTest::mouseClick(control<QPushButton>(crawler, "cmdNew"), Qt::LeftButton);
            });
    });

    pressGo(crawler, server.url());
    // The emptied list's next entry is gone: the empty selection cannot be requested, so /c
    // is harvested again; the seen-lists keep the crawl from listing anything twice.
    QCOMPARE(targets(server), (QStringList{"/", "/a", "/b", "/c", "/e", "/g", "/i"}));
    QCOMPARE(filed(crawler), (QStringList{"L2 " + server.url("/e"), "L3 " + server.url("/g"),
                                          "L4 " + server.url("/i"), "L5 " + server.url("/k")}));
    QCOMPARE(counts(crawler), QStringLiteral("4/0"));
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    QVERIFY(control<QPushButton>(crawler, "cmdBuild")->isEnabled());
}

void tst_WindowCommands::selectAllKey_data() {
    QTest::addColumn<Qt::KeyboardModifiers>("pressed");  // held as A goes down
    QTest::addColumn<Qt::KeyboardModifiers>("released"); // held as A comes up
    QTest::addColumn<QString>("text");                   // what the A key types
    QTest::addColumn<bool>("empty");                     // the box holds no text
    QTest::addColumn<bool>("selectsAll");

    const Qt::KeyboardModifiers none = Qt::NoModifier;
    const Qt::KeyboardModifiers ctrl = Qt::ControlModifier;
    QTest::newRow("Ctrl+A selects the whole text") << ctrl << ctrl << "a" << false << true;
    QTest::newRow("Ctrl+A with Caps Lock selects too") << ctrl << ctrl << "A" << false << true;
    QTest::newRow("Ctrl+A in an empty box selects nothing, harmlessly")
        << ctrl << ctrl << "a" << true << false;
    QTest::newRow("Ctrl+Shift+A selects nothing")
        << (ctrl | Qt::ShiftModifier) << (ctrl | Qt::ShiftModifier) << "A" << false << false;
    QTest::newRow("Ctrl+Alt+A selects nothing")
        << (ctrl | Qt::AltModifier) << (ctrl | Qt::AltModifier) << "a" << false << false;
    QTest::newRow("A alone selects nothing") << none << none << "a" << false << false;
    QTest::newRow("Ctrl released before A selects nothing")
        << ctrl << none << "a" << false << false;
}

void tst_WindowCommands::selectAllKey() {
    QFETCH(Qt::KeyboardModifiers, pressed);
    QFETCH(Qt::KeyboardModifiers, released);
    QFETCH(QString, text);
    QFETCH(bool, empty);
    QFETCH(bool, selectsAll);

    if (!empty)
        crawlAndBuild();
    auto *box = control<QPlainTextEdit>(window(), "txtSitemap");
    box->moveCursor(QTextCursor::Start);
    box->setFocus();
    const int length = box->document()->characterCount() - 1;

    const QString typed = pressed == Qt::NoModifier ? text : QString();
    QKeyEvent press(QEvent::KeyPress, Qt::Key_A, pressed, typed);
    QApplication::sendEvent(box, &press);
    QKeyEvent release(QEvent::KeyRelease, Qt::Key_A, released, typed);
    QApplication::sendEvent(box, &release);

    const QTextCursor cursor = box->textCursor();
    if (selectsAll) {
        QCOMPARE(cursor.selectionStart(), 0);
        QCOMPARE(cursor.selectionEnd(), length);
        QVERIFY(length > 0);
    } else {
        QVERIFY(!cursor.hasSelection());
    }
}

void tst_WindowCommands::creditLabelOpensTheMakersPage() {
    BrowserStandIn browser;
    QDesktopServices::setUrlHandler("http", &browser, "open");
    auto *credit = control<QLabel>(window(), "Label4");
    QWidget *focused = QApplication::focusWidget();
    QTest::mouseClick(credit, Qt::LeftButton);
    QTest::mouseClick(credit, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler("http");

    QCOMPARE(browser.opened, (QList<QUrl>{QUrl(makerHomePage), QUrl(makerHomePage)}));
    QVERIFY(makerHomePage.startsWith("http://"));
    QCOMPARE(QApplication::focusWidget(), focused);
    QCOMPARE(m_messages.shown, QStringList());
    // A press that ends off the label is no click.
    QTest::mousePress(credit, Qt::LeftButton);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(-5, -5),
                        credit->mapToGlobal(QPointF(-5, -5)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(credit, &release);
    QCOMPARE(browser.opened.size(), 2);
}

QTEST_MAIN(tst_WindowCommands)
#include "tst_WindowCommands.moc"
