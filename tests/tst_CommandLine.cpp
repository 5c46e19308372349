#include "WindowTest.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTcpServer>
#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/resource.h>
#include <unistd.h>

namespace {

QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// What a scheduled job has: no display, and no proxy between it and the loopback server.
QProcessEnvironment headless() {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM", "http_proxy",
                             "https_proxy", "all_proxy", "HTTP_PROXY", "HTTPS_PROXY", "ALL_PROXY"})
        environment.remove(QLatin1String(name));
    return environment;
}

struct Outcome {
    int status = -1;
    QString errors; // what the run wrote on stderr
    QString output; // and on stdout
};

HttpServer::Response answer(int status, const QByteArray &body,
                            QList<QPair<QByteArray, QByteArray>> headers = {}) {
    HttpServer::Response response;
    response.status = status;
    response.body = body;
    response.headers = std::move(headers);
    return response;
}

// A site whose pages each give search engines one reason to refuse them, or one that must not,
// with a chain from /nofollow down to two level-5 links, and robots.txt rules for corvane.
void serveSearchSite(HttpServer &server) {
    const QByteArray head = "<!DOCTYPE html><html><head>";
    QByteArray start = head + "</head><body>";
    for (const char *page : {"gone", "broken", "moved", "meta-noindex", "meta-none", "tag-noindex",
                             "otherbot", "canon-other", "nofollow", "nosnippet", "self-rel",
                             "self-abs", "body-canon", "blocked", "blocked/ok", "to-blocked"})
        start += "<a href=\"/" + QByteArray(page) + "\">x</a>";
    server.setPage("/", answer(200, start, {{"Last-Modified", "Sun, 06 Nov 1994 08:49:37 GMT"}}));
    server.setPage("/broken", answer(500, head));
    server.setPage("/moved", answer(301, {}, {{"Location", "/target"}}));
    server.setPage("/to-blocked", answer(302, {}, {{"Location", "/blocked"}}));
    server.setPage("/target", answer(200, head, {{"Last-Modified", "Sun Jan  2 03:04:05 2000"}}));
    server.setHtml("/meta-noindex", head + "<meta name=ROBOTS content='nofollow, NoIndex'>");
    server.setHtml("/meta-none", head + "<meta name=robots content=' none '>");
    server.setPage("/tag-noindex", answer(200, head, {{"X-Robots-Tag", "noarchive, noindex"}}));
    server.setPage("/otherbot", answer(200, head, {{"X-Robots-Tag", "otherbot: noindex"}}));
    server.setHtml("/canon-other", head + "<link rel=canonical href=/target>");
    server.setPage("/nofollow",
                   answer(200, head + "<meta name=robots content=nofollow><a href=/l1>x</a>",
                          {{"Last-Modified", "Friday, 31-Dec-99 23:59:59 GMT"}}));
    server.setPage("/nosnippet", answer(200, head + "<meta name=robots content=nosnippet>",
                                        {{"X-Robots-Tag", "nosnippet"}}));
    server.setPage("/self-rel", answer(200, head + "<link rel=canonical href='self-rel#top'>",
                                       {{"Last-Modified", "yesterday"}}));
    server.setHtml("/self-abs",
                   head + "<link rel=canonical href='" + server.url("/self-abs").toUtf8() + "'>");
    server.setHtml("/body-canon", head + "</head><body><link rel=canonical href=/target>");
    server.setHtml("/blocked", head);
    server.setHtml("/blocked/ok", head);
    for (const char *page : {"l1", "l2", "l3"})
        server.setHtml('/' + QByteArray(page),
                       head + "<a href=/l" + QByteArray::number(page[1] - '0' + 1) + ">x</a>");
    server.setHtml("/l4", head + "<a href=/l5>x</a><a href=/blocked5>x</a>");
    server.setPage("/robots.txt", answer(200,
                                         "User-agent: *\nDisallow: /nofollow\n\n"
                                         "User-agent: otherbot\nUser-agent: CORVANE/2\n"
                                         "Disallow: /blocked\nAllow: /blocked/\n",
                                         {{"Content-Type", "text/plain"}}));
}

// Each entry of a sitemap as "address" or "address lastmod", checking that its lines are as
// the document writes them.
QStringList sitemapEntries(const QByteArray &sitemap) {
    static const QRegularExpression entry("<url>\r\n<loc>([^<]*)</loc>\r\n(?:<lastmod>([^<]*)"
                                          "</lastmod>\r\n)?<priority>[0-9.]+</priority>\r\n"
                                          "<changefreq>Weekly</changefreq>\r\n</url>");
    QStringList result;
    for (const QRegularExpressionMatch &match : entry.globalMatch(QString::fromUtf8(sitemap)))
        result.append((match.captured(1) + u' ' + match.captured(2)).trimmed());
    if (sitemap.count("<url>") != result.size() || sitemap.count("\n") != sitemap.count("\r\n") ||
        sitemap.contains("\r\n\r\n"))
        result.append("<malformed>");
    return result;
}

} // namespace

// corvane --crawl, run as a process the way a schedule runs it.
class tst_CommandLine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init() { h.emplace(); }
    void cleanup() { h.reset(); }

    void sameSitemapAndListsAsTheWindow();
    void documentForSearchEngines_data();
    void documentForSearchEngines();
    void failureWritesNothing_data();
    void failureWritesNothing();
    void progressOnStderr_data();
    void progressOnStderr();
    void signalEndsTheRunAtOnce_data();
    void signalEndsTheRunAtOnce();

private:
    // Runs corvane to its end; the loopback server answers it meanwhile from this thread.
    // `inChild` runs in the new process before corvane starts.
    void run(const QStringList &arguments, Outcome &outcome,
             const std::function<void()> &inChild = {}) {
        QProcess process;
        process.setProcessEnvironment(headless());
        if (inChild)
            process.setChildProcessModifier(inChild);
        process.start(QStringLiteral(CORVANE_BINARY), arguments);
        QVERIFY(process.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 60'000);
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        outcome = {process.exitCode(), QString::fromLocal8Bit(process.readAllStandardError()),
                   QString::fromLocal8Bit(process.readAllStandardOutput())};
    }

    std::optional<WindowHarness> h;
};

void tst_CommandLine::sameSitemapAndListsAsTheWindow() {
    serveDeepSite(h->server);
    h->server.setHtml("/", linksPage({"b", "A", "a", "http://other.invalid/x", "#top"}));
    const QString start = h->server.url("/");
    QTemporaryDir windowDir;
    QTemporaryDir lineDir;

    h->useNetwork();
    frmCrawler &window = *h->window;
    pressGo(window, start);
    QTest::mouseClick(control<QPushButton>(window, "cmdBuild"), Qt::LeftButton);
    control<QLineEdit>(window, "txtExport")->setText(windowDir.path());
    QTest::mouseClick(control<QPushButton>(window, "cmdExport"), Qt::LeftButton);
    QTRY_VERIFY(!window.exporting());

    Outcome outcome;
    const QString lists = lineDir.filePath("lists.json");
    run({"--crawl", start, "--export", lineDir.path(), "--lists", lists}, outcome);
    QCOMPARE(outcome.status, 0);
    const QByteArray sitemap = readFile(windowDir.filePath("sitemap.xml"));
    QVERIFY(sitemap.contains("/c</loc>"));
    QCOMPARE(readFile(lineDir.filePath("sitemap.xml")), sitemap);

    const QJsonObject json = QJsonDocument::fromJson(readFile(lists)).object();
    QCOMPARE(json["start"].toString(), start);
    for (const auto &[side, name] :
         {std::pair("internal", "lstLinks%1"), std::pair("external", "lstExternal%1")}) {
        const QJsonArray levels = json[side].toArray();
        QCOMPARE(levels.size(), frmCrawler::levels);
        for (int level = 0; level < frmCrawler::levels; ++level) {
            QStringList shown;
            for (const QJsonValue &entry : levels[level].toArray())
                shown.append(entry.toString());
            QCOMPARE(shown, entries(window, QString(name).arg(level)));
        }
    }
    const QJsonObject countsJson = json["counts"].toObject();
    QCOMPARE(QStringLiteral("%1/%2")
                 .arg(countsJson["internal"].toInteger())
                 .arg(countsJson["external"].toInteger()),
             counts(window));
}

void tst_CommandLine::documentForSearchEngines_data() {
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QStringList>("leftOut");      // paths of entries not in the document
    QTest::addColumn<QStringList>("dated");        // "path lastmod" of entries with a date
    QTest::addColumn<QStringList>("notRequested"); // paths the crawl did not ask for

    const QStringList refused = {"/gone",      "/broken",      "/moved",       "/meta-noindex",
                                 "/meta-none", "/tag-noindex", "/canon-other", "/to-blocked"};
    const QStringList dated = {"/ 1994-11-06T08:49:37+00:00", "/moved 2000-01-02T03:04:05+00:00",
                               "/nofollow 1999-12-31T23:59:59+00:00"};
    QTest::newRow("indexable only")
        << QStringList{"--indexable-only"} << refused << QStringList{} << QStringList{};
    QTest::newRow("lastmod") << QStringList{"--lastmod"} << QStringList{} << dated << QStringList{};
    QTest::newRow("respect robots")
        << QStringList{"--respect-robots"} << QStringList{"/blocked", "/blocked5"} << QStringList{}
        << QStringList{"/blocked"};
    QTest::newRow("all options") << QStringList{"--indexable-only", "--lastmod", "--respect-robots"}
                                 << refused + QStringList{"/blocked", "/blocked5"}
                                 << QStringList{dated[0], dated[2]} << QStringList{"/blocked"};
}

void tst_CommandLine::documentForSearchEngines() {
    QFETCH(QStringList, options);
    QFETCH(QStringList, leftOut);
    QFETCH(QStringList, dated);
    QFETCH(QStringList, notRequested);

    serveSearchSite(h->server);
    const QString site = h->server.url();
    QTemporaryDir plainDir;
    QTemporaryDir dir;
    Outcome outcome;
    run({"--crawl", site + "/", "--export", plainDir.path(), "--lists",
         plainDir.filePath("lists.json")},
        outcome);
    QCOMPARE(outcome.status, 0);
    const QList<QByteArray> plainTargets = h->server.targets();
    h->server.clearRequests();
    run(QStringList{"--crawl", site + "/", "--export", dir.path(), "--lists",
                    dir.filePath("lists.json")} +
            options,
        outcome);
    QCOMPARE(outcome.status, 0);

    QStringList expected;
    for (QString entry : sitemapEntries(readFile(plainDir.filePath("sitemap.xml")))) {
        const QString path = entry.mid(site.size());
        if (leftOut.contains(path))
            continue;
        for (const QString &date : dated) {
            if (date.section(u' ', 0, 0) == path)
                entry += u' ' + date.section(u' ', 1);
        }
        expected.append(entry);
    }
    QVERIFY(expected.contains(site + "/l5")); // never loaded, so never left out
    QCOMPARE(sitemapEntries(readFile(dir.filePath("sitemap.xml"))), expected);

    // robots.txt comes before the first page.
    QList<QByteArray> targets;
    if (options.contains("--respect-robots"))
        targets.append("/robots.txt");
    for (const QByteArray &target : plainTargets) {
        if (!notRequested.contains(QString::fromLatin1(target)))
            targets.append(target);
    }
    QCOMPARE(h->server.targets(), targets);
    QCOMPARE(readFile(dir.filePath("lists.json")), readFile(plainDir.filePath("lists.json")));
}

void tst_CommandLine::failureWritesNothing_data() {
    QTest::addColumn<QStringList>("arguments"); // {site}: the loopback server, {dir}: the export
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("maxFileBytes"); // what corvane may write into a file; 0: no limit

    const QStringList crawl = {"--crawl", "{site}/", "--export", "{dir}"};
    QTest::newRow("unknown option")
        << crawl + QStringList{"--bogus"} << 2 << "unknown option --bogus" << 0;
    QTest::newRow("unknown frequency")
        << crawl + QStringList{"--frequency", "Hourly"} << 2 << "unknown frequency 'Hourly'" << 0;
    QTest::newRow("missing value")
        << QStringList{"--export", "{dir}", "--crawl"} << 2 << "option --crawl needs a value" << 0;
    QTest::newRow("missing export directory")
        << QStringList{"--crawl", "{site}/", "--export", "{dir}/missing"} << 1
        << "Directory doesn't exist - please check and re-type" << 0;
    QTest::newRow("refused connection") << QStringList{"--crawl", "{refused}/", "--export", "{dir}"}
                                        << 1 << "Connection refused" << 0;
    QTest::newRow("404 start page")
        << QStringList{"--crawl", "{site}/gone", "--export", "{dir}"} << 1 << "/gone: 404" << 0;
    QTest::newRow("non-HTML start page")
        << QStringList{"--crawl", "{site}/logo.png", "--export", "{dir}"} << 1 << "not HTML" << 0;
    // Tests run as root, where permissions stop nothing: a file size limit fails the write.
    QTest::newRow("export that cannot be written")
        << crawl + QStringList{"--lists", "{dir}/lists.json"} << 1 << "/sitemap.xml: File too large"
        << 300;
    QTest::newRow("lists that cannot be written") << crawl + QStringList{"--lists", "{dir}"} << 1
                                                  << "Could not write " + QDir::tempPath() << 0;
    QTest::newRow("start page disallowed by robots.txt")
        << QStringList{"--crawl", "{site}/private/", "--export", "{dir}", "--respect-robots"} << 1
        << "/private/: disallowed by robots.txt" << 0;
}

void tst_CommandLine::failureWritesNothing() {
    QFETCH(QStringList, arguments);
    QFETCH(int, status);
    QFETCH(QString, message);
    QFETCH(int, maxFileBytes);

    h->server.setHtml("/", linksPage({"a"}));
    h->server.setHandler([](const HttpServer::Request &) {
        HttpServer::Response response;
        response.status = 404;
        response.body = linksPage({"/a", "/b"});
        return response;
    });
    HttpServer::Response image;
    image.body = "\x89PNG\r\n\x1a\n";
    image.contentType = "image/png";
    h->server.setPage("/logo.png", image);
    h->server.setPage("/robots.txt", answer(200, "User-agent: *\nDisallow: /private/\n"));
    // A port nothing listens on.
    QTcpServer closed;
    QVERIFY(closed.listen(QHostAddress::LocalHost));
    const QString refused = QStringLiteral("http://127.0.0.1:%1").arg(closed.serverPort());
    closed.close();
    QTemporaryDir dir;
    const QString old = dir.filePath("sitemap.xml");
    {
        QFile file(old);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("old");
    }

    for (QString &argument : arguments) {
        argument.replace("{site}", h->server.url()).replace("{refused}", refused);
        argument.replace("{dir}", dir.path());
    }
    Outcome outcome;
    run(arguments, outcome, [maxFileBytes] {
        if (maxFileBytes == 0)
            return;
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{rlim_t(maxFileBytes), rlim_t(maxFileBytes)};
        ::setrlimit(RLIMIT_FSIZE, &limit);
    });
    QCOMPARE(outcome.status, status);
    QVERIFY2(outcome.errors.contains(message), qPrintable(outcome.errors));
    if (status == 2)
        QVERIFY(outcome.errors.contains("corvane --help"));
    QCOMPARE(readFile(old), QByteArray("old"));
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"sitemap.xml"});
}

void tst_CommandLine::progressOnStderr_data() {
    QTest::addColumn<QString>("form"); // "log", "terminal" or "quiet"

    QTest::newRow("a log gets a line per page, or none") << "log";
    QTest::newRow("a terminal's status line scrolls, or stays") << "terminal";
    QTest::newRow("--quiet shows progress") << "quiet";
}

void tst_CommandLine::progressOnStderr() {
    QFETCH(QString, form);

    serveDeepSite(h->server);
    // The start page comes late enough for the status line to be drawn while it is awaited.
    HttpServer::Response start;
    start.body = linksPage({"b", "a", "http://other.invalid/x"});
    start.delayMs = 300;
    h->server.setPage("/", start);
    QTemporaryDir dir;
    QStringList arguments{"--crawl", h->server.url("/"), "--export", dir.path()};
    if (form == u"quiet")
        arguments.append("--quiet");
    // A terminal is a pseudo-terminal whose other end the test reads.
    int terminal = -1;
    QByteArray terminalName;
    if (form == u"terminal") {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        QVERIFY(terminal >= 0 && ::grantpt(terminal) == 0 && ::unlockpt(terminal) == 0);
        terminalName = ::ptsname(terminal);
    }
    const auto closeTerminal = qScopeGuard([terminal] { ::close(terminal); });
    Outcome outcome;
    run(arguments, outcome, [&terminalName] {
        if (!terminalName.isEmpty())
            ::dup2(::open(terminalName.constData(), O_RDWR | O_NOCTTY), STDERR_FILENO);
    });
    QCOMPARE(outcome.status, 0);
    QCOMPARE(outcome.output, form == u"quiet" ? QString()
                                              : "Internal links: 12, external links: 1\n" +
                                                    dir.filePath("sitemap.xml") + "\n");
    if (form == u"terminal") {
        ::fcntl(terminal, F_SETFL, O_NONBLOCK);
        char bytes[4096];
        for (ssize_t size; (size = ::read(terminal, bytes, sizeof bytes)) > 0;)
            outcome.errors += QString::fromLocal8Bit(bytes, size);
        QVERIFY2(outcome.errors.startsWith("\r\x1b[Kstart page, internal 0, external 0, ") &&
                     outcome.errors.endsWith(" s\r\x1b[K") && !outcome.errors.contains(u'\n'),
                 qPrintable(outcome.errors.toUtf8().toPercentEncoding(" ,/")));
        return;
    }
    QString lines;
    for (int level = 0; level < 5 && form == u"log"; ++level)
        lines += QStringLiteral("level %1, page 1/2, internal %2, external 1, T s\n")
                     .arg(level)
                     .arg(2 * level + 2);
    QCOMPARE(outcome.errors.replace(QRegularExpression("[0-9]+\\.[0-9] s\n"), "T s\n"), lines);
}

void tst_CommandLine::signalEndsTheRunAtOnce_data() {
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("status");
    QTest::newRow("Ctrl+C") << SIGINT << 130;
    QTest::newRow("SIGTERM") << SIGTERM << 143;
}

void tst_CommandLine::signalEndsTheRunAtOnce() {
    QFETCH(int, signal);
    QFETCH(int, status);

    // The start page comes at once; the next one never does.
    h->server.setHtml("/", linksPage({"slow"}));
    HttpServer::Response silent;
    silent.kind = HttpServer::Response::Kind::NeverAnswer;
    h->server.setPage("/slow", silent);
    QTemporaryDir dir;

    QProcess process;
    process.setProcessEnvironment(headless());
    process.start(QStringLiteral(CORVANE_BINARY),
                  {"--crawl", h->server.url("/"), "--export", dir.path()});
    QTRY_COMPARE(h->server.targets().size(), 2);
    ::kill(pid_t(process.processId()), signal);
    // The run ends within a second, not when the page's load gives up after 30 seconds; the
    // rest is room for a loaded machine and the sanitizers' check at exit.
    QTRY_COMPARE_WITH_TIMEOUT(process.state(), QProcess::NotRunning, 2000);
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), status);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList());
}

QTEST_MAIN(tst_CommandLine)
#include "tst_CommandLine.moc"
