// corvane-extract-bench FILE|DIR...: reads every HTML file given (a directory: its *.html
// files, recursively), reads each page's links with gumbo's tree and with the link scanner,
// checks that the two agree (apart from the deliberate differences), and prints the
// throughput of each and how many pages cost the scanner more than its bound.
// Exit status 1 when any page disagrees.
#include "HrefDifferences.h"
#include "HtmlLinks.h"
#include "TreeHrefs.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

QStringList htmlFiles(const QStringList &arguments) {
    QStringList files;
    for (const QString &argument : arguments) {
        if (QFileInfo(argument).isDir()) {
            QDirIterator it(argument, {"*.html", "*.htm"}, QDir::Files,
                            QDirIterator::Subdirectories);
            while (it.hasNext())
                files.append(it.next());
        } else {
            files.append(argument);
        }
    }
    files.sort();
    return files;
}

} // namespace

int main(int argc, char **argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    const QStringList files = htmlFiles(arguments);
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: corvane-extract-bench FILE|DIR...\n");
        return 2;
    }
    QList<QByteArray> pages;
    qint64 bytes = 0;
    for (const QString &file : files) {
        QFile f(file);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        // Pages reach the extractor as UTF-8, the way the engine hands them on.
        pages.append(QString::fromUtf8(f.readAll()).toUtf8());
        bytes += pages.last().size();
    }

    int overBound = 0;
    int disagreements = 0;
    int compared = 0;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        const std::optional<PageHrefs> scanned = pageHrefs(pages[i], HrefReader::Scanner);
        if (!scanned) {
            ++overBound;
            std::printf("over the bound: %s\n", qPrintable(files[i]));
            continue;
        }
        if (!HrefDifferences::comparable(pages[i]))
            continue;
        ++compared;
        const std::optional<PageHrefs> tree = pageHrefs(pages[i], HrefReader::Tree);
        const std::optional<PageHrefs> scannedAsTree =
            pageHrefs(HrefDifferences::withTreeCharacters(pages[i]), HrefReader::Scanner);
        if (!tree || scannedAsTree != tree) {
            ++disagreements;
            std::printf("DISAGREE: %s (%lld vs %lld hrefs)\n", qPrintable(files[i]),
                        qlonglong(scanned->hrefs.size()),
                        qlonglong(tree ? tree->hrefs.size() : -1));
            if (tree) {
                for (qsizetype k = 0; k < std::max(scanned->hrefs.size(), tree->hrefs.size());
                     ++k) {
                    const QByteArray a = k < scanned->hrefs.size() ? scanned->hrefs[k] : "-";
                    const QByteArray b = k < tree->hrefs.size() ? tree->hrefs[k] : "-";
                    if (a != b) {
                        std::printf("  first difference at %lld: %s | %s\n", qlonglong(k),
                                    a.constData(), b.constData());
                        break;
                    }
                }
            }
        }
    }

    // Throughput: each reader over every page, best of three rounds.
    const auto measure = [&](auto &&read) {
        qint64 best = -1;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer clock;
            clock.start();
            for (const QByteArray &page : std::as_const(pages))
                read(page);
            const qint64 ns = clock.nsecsElapsed();
            best = best < 0 ? ns : std::min(best, ns);
        }
        return double(bytes) / 1e6 / (double(best) / 1e9);
    };
    volatile qsizetype sink = 0;
    const double treeRate = measure([&](const QByteArray &page) {
        sink = sink + pageHrefs(page, HrefReader::Tree)->hrefs.size();
    });
    // Both readers copy out their hrefs the same way.
    const double scanRate = measure([&](const QByteArray &page) {
        const std::optional<PageHrefs> hrefs = pageHrefs(page, HrefReader::Scanner);
        sink = sink + (hrefs ? hrefs->hrefs.size() : 0);
    });
    const double extractRate = measure([&](const QByteArray &page) {
        sink =
            sink + extractLinks(page, QStringLiteral("http://127.0.0.1/library/page.html"), "UTF-8")
                       .size();
    });
    // The whole page reader as the engine runs it: the body decoded as its Content-Type says,
    // then its links read. The pages are mostly ASCII, so the legacy labels measure what a
    // decoder costs on the markup that makes up most of any page.
    const auto readerRate = [&](const QByteArray &contentType) {
        return measure([&](const QByteArray &page) {
            sink = sink + readServedPage(page, contentType,
                                         QStringLiteral("http://127.0.0.1/library/page.html"))
                              ->links.size();
        });
    };
    const char *const charsets[] = {"utf-8", "windows-1252", "shift_jis", "euc-kr", "gb18030"};
    QList<double> readerRates;
    for (const char *charset : charsets)
        readerRates.append(readerRate(QByteArray("text/html; charset=") + charset));
    std::printf("pages %lld, %.1f MB; compared %d, disagreeing %d\n", qlonglong(pages.size()),
                double(bytes) / 1e6, compared, disagreements);
    std::printf("over the scanner's bound (links read in part): %d of %lld pages (%.1f %%)\n",
                overBound, qlonglong(pages.size()), 100.0 * overBound / double(pages.size()));
    std::printf("gumbo tree: %.1f MB/s; link scanner: %.1f MB/s (%.1fx); "
                "extractLinks with resolving: %.1f MB/s\n",
                treeRate, scanRate, scanRate / treeRate, extractRate);
    std::printf("page reader (decode and extract), MB/s:");
    for (qsizetype i = 0; i < readerRates.size(); ++i)
        std::printf(" %s %.1f;", charsets[i], readerRates[i]);
    std::printf("\n");
    return disagreements ? 1 : 0;
}
