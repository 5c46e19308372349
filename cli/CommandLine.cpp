#include "CommandLine.h"

#include "Crawl.h"
#include "Export.h"
#include "FileSystem.h"
#include "HeadlessCrawl.h"
#include "Interruption.h"
#include "LoadedPages.h"
#include "NetworkHtmlEngine.h"
#include "RobotsGate.h"
#include "Sitemap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace {

const char *const helpText =
    "Usage: corvane --crawl URL [--export DIR] [--frequency F] [--lists FILE] [--quiet]\n"
    "                           [--indexable-only] [--lastmod] [--respect-robots]\n"
    "       corvane [--help | --version]\n"
    "\n"
    "Crawls a web site breadth-first from URL, as the window does when URL is typed into\n"
    "its address box and Go is pressed, builds its sitemap and exports it as sitemap.xml.\n"
    "Without --crawl, --help or --version the window opens.\n"
    "\n"
    "  --crawl URL      the address the crawl starts from\n"
    "  --export DIR     the directory sitemap.xml is written into (default: the current one)\n"
    "  --frequency F    the pages' change frequency: Daily, Weekly or Monthly (default: Weekly)\n"
    "  --lists FILE     also write the level lists and the counts to FILE as JSON\n"
    "  --quiet          show errors only\n"
    "  --indexable-only leave out of the sitemap the loaded pages that search engines would\n"
    "                   not index: no 2xx answer, redirected, marked noindex (robots meta or\n"
    "                   X-Robots-Tag), or another canonical address\n"
    "  --lastmod        date each loaded page's entry by its Last-Modified header\n"
    "  --respect-robots obey each server's robots.txt for corvane: pages it disallows are\n"
    "                   listed but neither requested nor put in the sitemap\n"
    "  --help           show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Exit status: 0 when the sitemap was written, 1 when the start page gave no page or the\n"
    "export failed, 2 for a usage error, 130 on Ctrl+C, 143 on SIGTERM.\n";

struct Options {
    bool help = false;
    bool version = false;
    std::optional<QString> url;
    QString exportDirectory = QDir::currentPath();
    QString frequency = defaultChangeFrequency;
    QString listsFile;
    bool quiet = false;
    bool indexableOnly = false;
    bool lastmod = false;
    bool respectRobots = false;
};

// The options, or why they are not usable.
struct Parsed {
    Options options;
    QString error; // null when the arguments are usable
};

void writeTo(std::FILE *stream, const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stream);
    std::fflush(stream);
}

void fail(const QString &message) {
    writeTo(stderr, QStringLiteral("corvane: %1\n").arg(message));
}

Parsed parse(const QStringList &arguments) {
    Parsed result;
    Options &options = result.options;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        std::optional<QString> value;
        // "--name=value" as well as "--name value".
        if (const qsizetype equals = name.indexOf(u'='); name.startsWith(u"--") && equals > 0) {
            value = name.mid(equals + 1);
            name.truncate(equals);
        }
        const auto takesValue = [&] {
            if (!value && i + 1 < arguments.size())
                value = arguments.at(++i);
            if (!value)
                result.error = QStringLiteral("option %1 needs a value").arg(name);
            return value.has_value();
        };
        const auto flag = [&](bool &target) {
            if (value)
                result.error = QStringLiteral("option %1 takes no value").arg(name);
            target = true;
        };

        if (name == u"--help") {
            flag(options.help);
        } else if (name == u"--version") {
            flag(options.version);
        } else if (name == u"--quiet") {
            flag(options.quiet);
        } else if (name == u"--indexable-only") {
            flag(options.indexableOnly);
        } else if (name == u"--lastmod") {
            flag(options.lastmod);
        } else if (name == u"--respect-robots") {
            flag(options.respectRobots);
        } else if (name == u"--crawl") {
            if (takesValue())
                options.url = *value;
        } else if (name == u"--export") {
            if (takesValue())
                options.exportDirectory = *value;
        } else if (name == u"--lists") {
            if (takesValue())
                options.listsFile = *value;
        } else if (name == u"--frequency") {
            if (takesValue()) {
                qsizetype entry = changeFrequencies.size() - 1;
                while (entry >= 0 &&
                       changeFrequencies.at(entry).compare(*value, Qt::CaseInsensitive) != 0)
                    --entry;
                if (entry < 0) {
                    result.error = QStringLiteral("unknown frequency '%1' (one of %2)")
                                       .arg(*value, changeFrequencies.join(QLatin1String(", ")));
                } else {
                    options.frequency = changeFrequencies.at(entry);
                }
            }
        } else if (name.startsWith(u'-')) {
            result.error = QStringLiteral("unknown option %1").arg(name);
        } else {
            result.error = QStringLiteral("unexpected argument '%1'").arg(name);
        }
        if (!result.error.isNull())
            return result;
    }
    if (!options.help && !options.version && !options.url)
        result.error = QStringLiteral("--crawl URL is needed");
    return result;
}

QJsonArray levelsOf(const CrawlLists &lists, Side side) {
    QJsonArray levels;
    for (int level = 0; level < CrawlLists::levels; ++level)
        levels.append(QJsonArray::fromStringList(lists.list(side, level).entries()));
    return levels;
}

// The lists and counts as the window would show them once the crawl is over.
QByteArray listsJson(const CrawlLists &lists, const QString &start) {
    const auto count = [&](Side side) {
        bool isNumber = false;
        const qint64 number = lists.countCaption(side).toLongLong(&isNumber);
        return isNumber ? QJsonValue(number) : QJsonValue(lists.countCaption(side));
    };
    const QJsonObject json{
        {QStringLiteral("start"), start},
        {QStringLiteral("internal"), levelsOf(lists, Side::Internal)},
        {QStringLiteral("external"), levelsOf(lists, Side::External)},
        {QStringLiteral("counts"),
         QJsonObject{{QStringLiteral("internal"), count(Side::Internal)},
                     {QStringLiteral("external"), count(Side::External)}}},
    };
    return QJsonDocument(json).toJson(QJsonDocument::Indented);
}

// A null string on success, else the reason.
int crawl(const Options &options) {
    Interruption interruption;
    DiskFileSystem files;

    // A directory that is not there fails the run before the crawl rather than after it.
    QString directory = options.exportDirectory;
    if (!directory.endsWith(u'/'))
        directory += u'/';
    if (!files.DirExists(directory)) {
        fail(ExportFailureText({ExportResult::Outcome::NoSuchDirectory, directory, {}}));
        return 1;
    }
    if (!options.listsFile.isEmpty() &&
        !files.DirExists(QFileInfo(options.listsFile).absolutePath() + u'/')) {
        fail(QStringLiteral("%1: %2").arg(
            options.listsFile,
            ExportFailureText({ExportResult::Outcome::NoSuchDirectory, options.listsFile, {}})));
        return 1;
    }

    const Progress progress = options.quiet             ? Progress::None
                              : ::isatty(STDERR_FILENO) ? Progress::Redrawn
                                                        : Progress::PerLevel;
    FetchLimits limits;
    // Nothing is drawn while a page parses, and a signal waits at most for the parse of one
    // page, whose work the page reader bounds.
    limits.maxBodyParsedHere = limits.maxBodyBytes;
    NetworkHtmlEngine network(limits);
    HtmlEngine *pagesFrom = &network;
    std::optional<RobotsGate> robots;
    if (options.respectRobots)
        pagesFrom = &robots.emplace(network);
    // The pages' facts are kept only when the document asks for them.
    std::optional<LoadedPages> pages;
    if (options.indexableOnly || options.lastmod || options.respectRobots) {
        LoadedPages::Options document;
        document.indexableOnly = options.indexableOnly;
        document.lastmod = options.lastmod;
        if (robots)
            document.allowed = [&robots](const QString &address) {
                return robots->allows(address);
            };
        pagesFrom = &pages.emplace(*pagesFrom, document);
    }
    StartPageWatch engine(*pagesFrom);
    HeadlessCrawl view(*options.url, engine, interruption, progress);
    QString strURL = *options.url;
    CrawlSite(view, engine, strURL);
    view.finishProgress();
    if (interruption.signal() != 0)
        return 128 + interruption.signal();
    if (!engine.failure().isNull()) {
        fail(QStringLiteral("%1: %2").arg(*options.url, engine.failure()));
        return 1;
    }

    const SitemapDocument document =
        BuildSitemap(view, options.frequency, pages ? &*pages : nullptr);
    QCoreApplication::processEvents();
    if (interruption.signal() != 0)
        return 128 + interruption.signal();
    // The lists are written whole before the sitemap and put in place after it, so that a
    // failure of either leaves both files as they were (but for a failed rename at the end).
    QSaveFile lists(options.listsFile);
    const auto listsFailure = [&options, &lists] {
        fail(QStringLiteral("Could not write %1: %2").arg(options.listsFile, lists.errorString()));
        return 1;
    };
    if (!options.listsFile.isEmpty()) {
        const QByteArray json = listsJson(view, *options.url);
        if (!lists.open(QIODevice::WriteOnly) || lists.write(json) != json.size())
            return listsFailure();
    }
    const ExportResult result = ExportSitemap(files, directory, document);
    if (const QString failure = ExportFailureText(result); !failure.isNull()) {
        fail(failure);
        return 1;
    }
    if (!options.listsFile.isEmpty() && !lists.commit())
        return listsFailure();
    if (!options.quiet) {
        QString written;
        for (const QString &part : result.parts)
            written += part + u'\n';
        written += result.file + u'\n';
        if (!options.listsFile.isEmpty())
            written += options.listsFile + u'\n';
        writeTo(stdout,
                QStringLiteral("Internal links: %1, external links: %2\n")
                        .arg(view.countCaption(Side::Internal), view.countCaption(Side::External)) +
                    written);
    }
    return 0;
}

} // namespace

bool wantsCommandLine(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const char *argument = argv[i];
        if (std::strcmp(argument, "--crawl") == 0 || std::strncmp(argument, "--crawl=", 8) == 0 ||
            std::strcmp(argument, "--help") == 0 || std::strcmp(argument, "--version") == 0)
            return true;
    }
    return false;
}

int runCommandLine(int argc, char **argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Corvane"));
    QCoreApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));

    const Parsed parsed = parse(QCoreApplication::arguments());
    if (!parsed.error.isNull()) {
        fail(parsed.error);
        writeTo(stderr, QStringLiteral("Try 'corvane --help' for more information.\n"));
        return 2;
    }
    if (parsed.options.help) {
        writeTo(stdout, QString::fromUtf8(helpText));
        return 0;
    }
    if (parsed.options.version) {
        writeTo(stdout, QStringLiteral("corvane %1\n").arg(QCoreApplication::applicationVersion()));
        return 0;
    }
    return crawl(parsed.options);
}
