#include "NetworkHtmlEngine.h"
#include "Sitemap.h"
#include "WidgetMessageBox.h"
#include "WindowTest.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHash>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QXmlStreamReader>

#include <csignal>
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

bool readsAsXml(const QByteArray &bytes) {
    QXmlStreamReader reader(bytes);
    while (!reader.atEnd())
        reader.readNext();
    return !reader.hasError();
}

// Records what Export asks of the disk and answers as the disk would, writing nothing.
class RecordingFileSystem final : public FileSystem {
public:
    bool DirExists(const QString &path) override {
        asked.append(path);
        return disk.DirExists(path);
    }
    QString replaceFile(const QString &path, const QByteArray &bytes) override {
        written.insert(path, bytes);
        return {};
    }
    DiskFileSystem disk;
    QStringList asked;
    QHash<QString, QByteArray> written;
};

} // namespace

class tst_SitemapPanel : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void buildHideShowToggle();
    void exportWritesTheBuiltDocument();
    void exportDirectory_data();
    void exportDirectory();
    void emptyExportBoxMeansTheRootDirectory();
    void failedWriteKeepsTheOldFile_data();
    void failedWriteKeepsTheOldFile();
    void messageBoxHasOneOkAndNoIcon();

private:
    frmCrawler &window() { return *m_window; }
    QPushButton *build() { return control<QPushButton>(window(), "cmdBuild"); }
    void pressExport(const QString &directory) {
        control<QLineEdit>(window(), "txtExport")->setText(directory);
        QTest::mouseClick(control<QPushButton>(window(), "cmdExport"), Qt::LeftButton);
    }
    // A crawl of a small made-up site, so that the lists have something in them.
    void crawlSite() {
        m_fake.pages = {{"http://s.test", {"http://s.test/b?x=1&y=2", "http://s.test/a"}},
                        {"http://s.test/a", {"http://s.test/a/deeper"}},
                        {"http://s.test/b?x=1&y=2", {"http://other.test/"}},
                        {"http://s.test/a/deeper", {}}};
        pressGo(window(), "http://s.test");
    }

    FakeEngine m_fake;
    DiskFileSystem m_files;
    RecordingMessageBox m_messages;
    SystemDesktopOpener m_opener;
    std::unique_ptr<frmCrawler> m_window;
    QTemporaryDir m_dir;
};

void tst_SitemapPanel::init() {
    m_messages.shown.clear();
    m_window = std::make_unique<frmCrawler>(
        frmCrawler::Seams{m_fake, m_files, m_messages, m_opener}, programDirectory);
    m_window->show();
}

void tst_SitemapPanel::cleanup() {
    m_window.reset();
}

void tst_SitemapPanel::buildHideShowToggle() {
    crawlSite();
    auto *panel = control<QGroupBox>(window(), "fraSitemap");
    auto *text = control<QPlainTextEdit>(window(), "txtSitemap");
    auto *exportButton = control<QPushButton>(window(), "cmdExport");
    QVERIFY(build()->isEnabled());
    QVERIFY(!exportButton->isEnabled());

    QTest::mouseClick(build(), Qt::LeftButton);
    QCOMPARE(build()->text(), QStringLiteral("Hide Sitemap"));
    QVERIFY(panel->isVisible());
    QVERIFY(exportButton->isEnabled());
    const QString built = window().sitemapText();
    QVERIFY(built.contains("<changefreq>Weekly</changefreq>"));
    QCOMPARE(text->toPlainText(), QString(built).replace("\r\n", "\n"));
    // The panel lies over all twelve lists; the rows below it stay in sight.
    for (const char *list : {"lstLinks0", "lstExternal0", "lstLinks5", "lstExternal5"}) {
        const QRect area = control<QWidget>(window(), list)->geometry();
        QVERIFY(panel->isAncestorOf(window().childAt(area.center())));
    }
    QVERIFY(window().childAt(control<QWidget>(window(), "cmbFrequency")->geometry().center()));
    // ...and hides them: where the panel has no text box, it shows its own background, not
    // the list underneath.
    const QPoint besideText(920, 56);
    QCOMPARE(window().grab().toImage().pixelColor(besideText),
             panel->palette().color(QPalette::Window));
    // The walk of the build leaves each list's last entry selected.
    const QModelIndexList selected =
        control<QListView>(window(), "lstLinks0")->selectionModel()->selectedIndexes();
    QCOMPARE(selected.size(), 1);
    QCOMPARE(selected.first().row(), 1);

    // Hide and Show never build again, whatever the frequency box says now.
    control<QComboBox>(window(), "cmbFrequency")->setEditText("Daily");
    const QStringList captions = {"Show Sitemap", "Hide Sitemap", "Show Sitemap"};
    const QList<bool> shown = {false, true, false};
    for (int press = 0; press < 3; ++press) {
        QTest::mouseClick(build(), Qt::LeftButton);
        QCOMPARE(build()->text(), captions[press]);
        QCOMPARE(panel->isVisible(), shown[press]);
        QCOMPARE(window().sitemapText(), built);
    }
}

void tst_SitemapPanel::exportWritesTheBuiltDocument() {
    // A real crawl of a loopback site, then Build and Export.
    HttpServer server;
    QVERIFY(server.listen());
    server.setHtml("/", linksPage({"/b", "/a?x=1&y=2", "http://other.invalid/"}));
    server.setHtml("/a?x=1&y=2", linksPage({"/a/deeper"}));
    server.setHtml("/b", linksPage({}));
    server.setHtml("/a/deeper", linksPage({}));
    FetchLimits limits;
    NetworkHtmlEngine engine(limits, ProxyMode::None);
    frmCrawler crawler({engine, m_files, m_messages, m_opener}, programDirectory);
    crawler.show();
    const QString s = server.url();
    pressGo(crawler, s);
    control<QComboBox>(crawler, "cmbFrequency")->setEditText("Monthly");
    QTest::mouseClick(control<QPushButton>(crawler, "cmdBuild"), Qt::LeftButton);
    // What the user types into the shown text goes nowhere.
    QTest::keyClicks(control<QPlainTextEdit>(crawler, "txtSitemap"), "typed");

    const QString file = m_dir.filePath("sitemap.xml");
    writeFile(file, QByteArray(100'000, 'x')); // an older, longer sitemap
    control<QLineEdit>(crawler, "txtExport")->setText(m_dir.path());
    QTest::mouseClick(control<QPushButton>(crawler, "cmdExport"), Qt::LeftButton);

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
    const QByteArray bytes = readFile(file);
    QCOMPARE(bytes, expected.toUtf8());
    QVERIFY(!bytes.startsWith("\xEF\xBB\xBF"));
    QVERIFY(readsAsXml(bytes));
    QCOMPARE(m_messages.shown, QStringList());
    // No temporary file is left beside it.
    QCOMPARE(QDir(m_dir.path()).entryList({"sitemap.xml*"}, QDir::Files | QDir::Hidden),
             QStringList{"sitemap.xml"});
}

void tst_SitemapPanel::exportDirectory_data() {
    QTest::addColumn<QString>("typed");   // relative to the test's directory; "" for empty
    QTest::addColumn<QString>("written"); // the file expected, or "" when none
    QTest::addColumn<QString>("message");

    const QString missing = "Directory doesn't exist - please check and re-type";
    QTest::newRow("directory without slash") << "dir"
                                             << "dir/sitemap.xml"
                                             << "";
    QTest::newRow("directory with slash: none added") << "dir/"
                                                      << "dir/sitemap.xml"
                                                      << "";
    QTest::newRow("backslash is no separator: slash added") << "back\\"
                                                            << "back\\/sitemap.xml"
                                                            << "";
    QTest::newRow("missing directory: message, nothing written") << "nowhere"
                                                                 << "" << missing;
    QTest::newRow("path naming a file: message, nothing written") << "file.txt"
                                                                  << "" << missing;
}

void tst_SitemapPanel::exportDirectory() {
    QFETCH(QString, typed);
    QFETCH(QString, written);
    QFETCH(QString, message);

    QVERIFY(QDir(m_dir.path()).mkpath("dir"));
    QVERIFY(QDir(m_dir.path()).mkpath("back\\"));
    writeFile(m_dir.filePath("file.txt"), "keep");
    crawlSite();
    QTest::mouseClick(build(), Qt::LeftButton);

    pressExport(m_dir.path() + '/' + typed);
    QCOMPARE(m_messages.shown, message.isEmpty() ? QStringList() : QStringList{message});
    if (!written.isEmpty())
        QCOMPARE(readFile(m_dir.filePath(written)), window().sitemapText().toUtf8());
    QCOMPARE(readFile(m_dir.filePath("file.txt")), QByteArray("keep"));
    QVERIFY(!QFile::exists(m_dir.filePath("nowhere")));
}

void tst_SitemapPanel::emptyExportBoxMeansTheRootDirectory() {
    RecordingFileSystem files;
    frmCrawler crawler({m_fake, files, m_messages, m_opener}, programDirectory);
    crawler.show();
    pressGo(crawler, "http://s.test");
    QTest::mouseClick(control<QPushButton>(crawler, "cmdBuild"), Qt::LeftButton);
    control<QLineEdit>(crawler, "txtExport")->clear();
    QTest::mouseClick(control<QPushButton>(crawler, "cmdExport"), Qt::LeftButton);
    QCOMPARE(files.asked, QStringList{"/"});
    QCOMPARE(files.written.keys(), QStringList{"/sitemap.xml"});
    QCOMPARE(files.written.value("/sitemap.xml"), crawler.sitemapText().toUtf8());
    QCOMPARE(m_messages.shown, QStringList());
}

void tst_SitemapPanel::failedWriteKeepsTheOldFile_data() {
    QTest::addColumn<bool>("fileSizeLimit");
    QTest::addColumn<QString>("directory"); // "" for the test's own

    // Tests run as root, where permissions stop nothing: the failures are made otherwise.
    QTest::newRow("disk full part way (file size limit)") << true << "";
    QTest::newRow("directory where no file can be created") << false << "/proc/self";
}

void tst_SitemapPanel::failedWriteKeepsTheOldFile() {
    QFETCH(bool, fileSizeLimit);
    QFETCH(QString, directory);
    if (directory.isEmpty())
        directory = m_dir.path();

    crawlSite();
    QTest::mouseClick(build(), Qt::LeftButton);
    const QString file = directory + "/sitemap.xml";
    if (fileSizeLimit)
        writeFile(file, "old sitemap");

    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    if (fileSizeLimit) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = saved;
        small.rlim_cur = 64;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    pressExport(directory);
    setrlimit(RLIMIT_FSIZE, &saved);

    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY2(m_messages.shown.first().startsWith("Could not write " + file + ": "),
             qPrintable(m_messages.shown.first()));
    QVERIFY(m_messages.shown.first().size() > QString("Could not write " + file + ": ").size());
    if (fileSizeLimit) {
        QCOMPARE(readFile(file), QByteArray("old sitemap"));
        QCOMPARE(QDir(directory).entryList({"sitemap.xml*"}, QDir::Files | QDir::Hidden),
                 QStringList{"sitemap.xml"});
    }
}

void tst_SitemapPanel::messageBoxHasOneOkAndNoIcon() {
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::Warning;
    int buttons = 0;
    QTimer::singleShot(0, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        QVERIFY(box);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = int(box->buttons().size());
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    });
    WidgetMessageBox().show("Directory doesn't exist - please check and re-type");
    QCOMPARE(title, QStringLiteral("Corvane"));
    QCOMPARE(text, QStringLiteral("Directory doesn't exist - please check and re-type"));
    QCOMPARE(icon, QMessageBox::NoIcon);
    QCOMPARE(buttons, 1);
}

QTEST_MAIN(tst_SitemapPanel)
#include "tst_SitemapPanel.moc"
