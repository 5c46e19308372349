// The crawl benchmark's driver.
//
//   corvane-bench generate DIR PAGES   writes a deterministic site of PAGES pages into DIR
//   corvane-bench crawl URL [OPTIONS]  crawls URL with the real window offscreen and prints
//                                      one line of figures, then the server's own floor:
//                                      the same pages fetched in sequence on one connection
//     --dump FILE    after the crawl, builds the sitemap and writes the twelve lists, the two
//                    counts and the sitemap to FILE, to compare the results of two builds
//     --pages FILE   writes the requested addresses to FILE, one a line, in crawl order
//     --no-floor     skips the floor (run.sh measures it with wrk instead)
//   corvane-bench steps URL DIR        crawls URL with the real window, then presses Build
//                                      Sitemap, Hide, Show, Export (into DIR) and New, and
//                                      prints one line of figures for each step, after one
//                                      with the memory the window starts with

#include "DesktopOpener.h"
#include "FileSystem.h"
#include "MessageBox.h"
#include "NetworkHtmlEngine.h"
#include "frmCrawler.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPushButton>
#include <QSaveFile>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <sys/resource.h>

namespace {

constexpr int linksPerPage = 100;
constexpr int sharedLinks = 12; // the navigation every page carries

QString pageName(int page) {
    return page == 0 ? QStringLiteral("index.html")
                     : QStringLiteral("p/%1.html").arg(page, 6, 10, QLatin1Char('0'));
}

// A page of the size and shape of a real one: a head, navigation, paragraphs of text
// between the links, a footer.
int generate(const QString &directory, int pages) {
    QDir().mkpath(directory + "/p");
    quint64 state = 0x9E3779B97F4A7C15ull;
    const auto next = [&state](int bound) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        return int((state >> 33) % quint64(bound));
    };
    const QByteArray filler = "Lorem ipsum dolor sit amet, consectetur adipiscing elit, sed do "
                              "eiusmod tempor incididunt ut labore et dolore magna aliqua. ";
    for (int page = 0; page < pages; ++page) {
        QByteArray html = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                          "<title>Page " +
                          QByteArray::number(page) +
                          "</title><link rel=\"stylesheet\" href=\"/style.css\"></head><body>\n"
                          "<header><nav><ul>\n";
        for (int i = 1; i <= sharedLinks; ++i)
            html += "<li><a href=\"/" + pageName(i * 7).toUtf8() + "\">Section " +
                    QByteArray::number(i) + "</a></li>\n";
        html += "</ul></nav></header>\n<main>\n";
        for (int i = sharedLinks; i < linksPerPage; ++i) {
            // Mostly pages near this one, some anywhere in the site, a few elsewhere.
            const int kind = next(20);
            QByteArray href;
            if (kind == 0)
                href = "http://external" + QByteArray::number(next(50)) + ".invalid/page" +
                       QByteArray::number(next(1000));
            else if (kind < 8)
                href = "/" + pageName(1 + next(pages - 1)).toUtf8();
            else
                href = "/" + pageName(1 + (page * 13 + next(400)) % (pages - 1)).toUtf8();
            html += "<p>" + filler.left(40 + next(120)) + "<a href=\"" + href + "\">more about " +
                    QByteArray::number(i) + "</a> " + filler.left(next(80)) + "</p>\n";
        }
        html += "</main>\n<footer><p>&copy; Example</p></footer></body></html>\n";
        QFile file(directory + "/" + pageName(page));
        if (!file.open(QIODevice::WriteOnly) || file.write(html) != html.size())
            return 1;
    }
    return 0;
}

class NoMessages final : public MessageBox {
public:
    void show(const QString &) override {}
};

// The program's resident memory now and at its peak so far, in MiB (from /proc).
struct Memory {
    double rssMib = 0;
    double peakMib = 0;
};

Memory memory() {
    Memory result;
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return result;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const auto kib = [&line] { return line.mid(6).trimmed().split(' ').value(0).toDouble(); };
        if (line.startsWith("VmRSS:"))
            result.rssMib = kib() / 1024.0;
        else if (line.startsWith("VmHWM:"))
            result.peakMib = kib() / 1024.0;
    }
    return result;
}

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The addresses the crawl requested: the start page and every entry of the walked lists,
// read as the crawl reads them (a list may show an entry shortened; the crawl gets it whole).
QStringList requestedPages(frmCrawler &window, const QString &start) {
    QStringList pages{start};
    for (int level = 0; level < 5; ++level)
        for (int row = 0; window.selectLink(level, row); ++row)
            pages.append(window.selectedLink(level));
    return pages;
}

// Everything a user takes from a crawl: the counts, the twelve lists and the built sitemap.
QByteArray crawlResults(frmCrawler &window) {
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdBuild")), Qt::LeftButton);
    QString text =
        QStringLiteral("internal count: %1\nexternal count: %2\n")
            .arg(window.countCaption(Side::Internal), window.countCaption(Side::External));
    for (int level = 0; level < frmCrawler::levels; ++level) {
        QStringList entries;
        for (int row = 0; window.selectLink(level, row); ++row)
            entries.append(window.selectedLink(level));
        text += QStringLiteral("== lstLinks%1 (%2)\n").arg(level).arg(entries.size());
        for (const QString &entry : entries)
            text += entry + u'\n';
    }
    for (int level = 0; level < frmCrawler::levels; ++level) {
        const QAbstractItemModel *model =
            window.findChild<QListView *>(QStringLiteral("lstExternal%1").arg(level))->model();
        text += QStringLiteral("== lstExternal%1 (%2)\n").arg(level).arg(model->rowCount());
        for (int row = 0; row < model->rowCount(); ++row)
            text += model->index(row, 0).data().toString() + u'\n';
    }
    text += QStringLiteral("== sitemap\n") + window.sitemapText();
    return text.toUtf8();
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

// Fetches `pages` one after another on one kept-alive connection; seconds taken.
double floorSeconds(const QStringList &pages) {
    QNetworkAccessManager network;
    network.setProxy(QNetworkProxy::NoProxy);
    QElapsedTimer clock;
    clock.start();
    for (const QString &page : pages) {
        QNetworkReply *reply = network.get(QNetworkRequest(QUrl(page)));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        reply->readAll();
        delete reply;
    }
    return double(clock.nsecsElapsed()) / 1e9;
}

struct CrawlOptions {
    QString dumpFile;
    QString pagesFile;
    bool floor = true;
};

int crawl(const QString &start, const CrawlOptions &options) {
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    DiskFileSystem files;
    NoMessages messages;
    SystemDesktopOpener opener;
    frmCrawler window({engine, files, messages, opener}, QDir::currentPath());
    window.show();

    // A click waits for the next turn of the event queue: a precise 5 ms timer's lateness
    // is how long that can be.
    constexpr qint64 tickNs = 5'000'000;
    QElapsedTimer sinceTick;
    qint64 worstGapNs = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        worstGapNs = std::max(worstGapNs, sinceTick.nsecsElapsed() - tickNs);
        sinceTick.restart();
    });

    window.findChild<QLineEdit *>(QStringLiteral("txtURL"))->setText(start);
    const double cpuBefore = cpuSeconds();
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    tick.start(5);
    QTest::mouseClick(window.findChild<QPushButton *>(QStringLiteral("cmdGo")), Qt::LeftButton);
    const double wall = double(clock.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpuBefore;
    // The window's last repaints and list layouts come after the crawl has returned: they
    // count in the worst wait, not in the crawl's time.
    QTest::qWait(250);
    tick.stop();

    const QStringList pages = requestedPages(window, start);
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("pages=%lld wall=%.3f pages_per_s=%.1f cpu_ms_per_page=%.3f peak_rss_mib=%.1f "
                "worst_pump_gap_ms=%.1f\n",
                qlonglong(pages.size()), wall, double(pages.size()) / wall,
                1000.0 * cpu / double(pages.size()), double(usage.ru_maxrss) / 1024.0,
                double(worstGapNs) / 1e6);
    std::fflush(stdout);
    if (!options.pagesFile.isEmpty() &&
        !writeFile(options.pagesFile, pages.join(u'\n').toUtf8() + '\n'))
        return 1;
    if (!options.dumpFile.isEmpty() && !writeFile(options.dumpFile, crawlResults(window)))
        return 1;
    if (options.floor)
        std::printf("floor_wall=%.3f\n", floorSeconds(pages));
    return 0;
}

// The longest wait for a turn of the event queue: a click waits for the next turn, and a
// precise 5 ms timer's lateness is how long that can be.
class GapWatch {
public:
    GapWatch() {
        m_tick.setTimerType(Qt::PreciseTimer);
        QObject::connect(&m_tick, &QTimer::timeout, [this] {
            m_worstNs = std::max(m_worstNs, m_since.nsecsElapsed() - tickNs);
            m_since.restart();
        });
    }
    void start() {
        m_worstNs = 0;
        m_since.start();
        m_tick.start(int(tickNs / 1'000'000));
    }
    double stopMs() {
        m_tick.stop();
        return double(m_worstNs) / 1e6;
    }

private:
    static constexpr qint64 tickNs = 5'000'000;
    QTimer m_tick;
    QElapsedTimer m_since;
    qint64 m_worstNs = 0;
};

// Each step of a big crawl as a user takes it: the CPU it keeps the program busy, its own
// repaints and layouts after the handler included, the longest the window waits, and the
// program's resident memory after it and at its peak so far.
int steps(const QString &start, const QString &exportDirectory) {
    NetworkHtmlEngine engine(FetchLimits{}, ProxyMode::None);
    DiskFileSystem files;
    NoMessages messages;
    SystemDesktopOpener opener;
    frmCrawler window({engine, files, messages, opener}, exportDirectory);
    window.show();
    QTest::qWait(200);
    window.findChild<QLineEdit *>(QStringLiteral("txtURL"))->setText(start);
    const Memory before = memory();
    std::printf("step=start rss_mib=%.1f peak_mib=%.1f\n", before.rssMib, before.peakMib);
    GapWatch gaps;
    const auto step = [&](const char *name, const char *button) {
        const double cpuBefore = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        gaps.start();
        QTest::mouseClick(window.findChild<QPushButton *>(QLatin1String(button)), Qt::LeftButton);
        const double handlerMs = double(clock.nsecsElapsed()) / 1e6;
        // What the step leaves to do (repaints, layouts, Export's writing) comes in the next
        // turns.
        QTest::qWait(500);
        while (window.exporting())
            QTest::qWait(10);
        const double gapMs = gaps.stopMs();
        const Memory after = memory();
        std::printf("step=%s busy_ms=%.1f handler_ms=%.1f worst_pump_gap_ms=%.1f rss_mib=%.1f "
                    "peak_mib=%.1f",
                    name, 1000.0 * (cpuSeconds() - cpuBefore), handlerMs, gapMs, after.rssMib,
                    after.peakMib);
        return 1000.0 * (cpuSeconds() - cpuBefore);
    };
    const double crawlMs = step("crawl", "cmdGo");
    const double links =
        window.findChild<QLabel *>(QStringLiteral("lblInternalLinks"))->text().toDouble() +
        window.findChild<QLabel *>(QStringLiteral("lblExternalLinks"))->text().toDouble();
    std::printf(" links=%.0f us_per_link=%.2f bytes_per_link=%.0f\n", links,
                1000.0 * crawlMs / links, (memory().peakMib - before.rssMib) * 1048576.0 / links);
    for (const auto &[name, button] : {std::pair{"build", "cmdBuild"},
                                       {"hide", "cmdBuild"},
                                       {"show", "cmdBuild"},
                                       {"export", "cmdExport"}}) {
        step(name, button);
        std::printf("\n");
    }
    step("new", "cmdNew");
    std::printf("\n");
    return 0;
}

} // namespace

int main(int argc, char *argv[]) {
    if (argc == 4 && qstrcmp(argv[1], "generate") == 0)
        return generate(QString::fromLocal8Bit(argv[2]), QByteArray(argv[3]).toInt());
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() == 4 && args[1] == u"steps")
        return steps(args[2], args[3]);
    if (args.size() >= 3 && args[1] == u"crawl") {
        CrawlOptions options;
        bool valid = true;
        for (int i = 3; i < args.size() && valid; ++i) {
            if (args[i] == u"--no-floor")
                options.floor = false;
            else if (args[i] == u"--dump" && i + 1 < args.size())
                options.dumpFile = args[++i];
            else if (args[i] == u"--pages" && i + 1 < args.size())
                options.pagesFile = args[++i];
            else
                valid = false;
        }
        if (valid)
            return crawl(args[2], options);
    }
    std::fprintf(stderr, "usage: corvane-bench generate DIR PAGES | crawl URL [--dump FILE] "
                         "[--pages FILE] [--no-floor] | steps URL DIR\n");
    return 2;
}
