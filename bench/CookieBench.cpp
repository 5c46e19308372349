// What building a request's Cookie line costs with a full jar: Qt's own jar, which the engine
// used before, against the program's bounded jar, fed the same cookies in the same run.
//
//   corvane-cookie-bench [LINES [CASE]]   builds LINES Cookie lines (default 20) for each
//                                         case (or case number CASE alone, from 1) and jar,
//                                         and prints, per line, the cookies sent, the line's
//                                         bytes and the microseconds it took
//
// On a busy machine, count instructions instead: each jar's lines are built in a function of
// their own, which callgrind can be told to measure alone:
//
//   valgrind --tool=callgrind --collect-atstart=no --toggle-collect='*linesFrom*'
//       --callgrind-out-file=cookies.out build/bench/corvane-cookie-bench 5 1   (one line)
//   callgrind_annotate --inclusive=yes cookies.out | grep linesFrom

#include "CookieJar.h"
#include "PlainHttp.h"

#include <QElapsedTimer>
#include <QNetworkCookieJar>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

struct Lines {
    qsizetype cookies = 0;
    qsizetype bytes = 0;
};

Lines build(const QNetworkCookieJar &jar, const QUrl &url, int count) {
    Lines lines;
    for (int i = 0; i < count; ++i) {
        const QByteArray line = PlainHttp::cookieLine(jar, url);
        lines.cookies = line.isEmpty() ? 0 : line.count("; ") + 1;
        lines.bytes = line.size();
    }
    return lines;
}

[[gnu::noinline]] Lines linesFromQtJar(const QNetworkCookieJar &jar, const QUrl &url, int count) {
    return build(jar, url, count);
}

[[gnu::noinline]] Lines linesFromCookieJar(const CookieJar &jar, const QUrl &url, int count) {
    return build(jar, url, count);
}

// `count` cookies set by `site`'s page, one Set-Cookie header each, as the client sets them.
void fill(QNetworkCookieJar &jar, const QString &site, int count) {
    const QUrl page(QStringLiteral("http://") + site + QStringLiteral("/set"));
    for (int i = 0; i < count; ++i) {
        const QByteArray header =
            "session" + QByteArray::number(i) + "=0123456789abcdef0123456789abcdef; Path=/";
        jar.setCookiesFromUrl(QNetworkCookie::parseCookies(header), page);
    }
}

struct Case {
    const char *name;
    int sites; // www.site0.example, www.site1.example, ...
    int cookiesPerSite;
    const char *asked; // the host whose page is requested
};

} // namespace

int main(int argc, char **argv) {
    const int count = argc > 1 ? std::max(1, atoi(argv[1])) : 20;
    const Case cases[] = {
        {"one site set 10000 cookies, its page", 1, 10'000, "www.site0.example"},
        {"20 sites set 150 each, a page of one", 20, 150, "www.site7.example"},
        {"20 sites set 150 each, a page of another", 20, 150, "www.other.example"},
    };
    std::printf("%-42s %-10s %8s %8s %10s %12s\n", "case", "jar", "held", "sent", "bytes",
                "us per line");
    const int only = argc > 2 ? atoi(argv[2]) : 0;
    for (int i = 0; i < int(std::size(cases)); ++i) {
        if (only != 0 && only != i + 1)
            continue;
        const Case &c = cases[i];
        QNetworkCookieJar qt;
        CookieJar bounded;
        for (int site = 0; site < c.sites; ++site) {
            const QString host = QStringLiteral("www.site%1.example").arg(site);
            fill(qt, host, c.cookiesPerSite);
            fill(bounded, host, c.cookiesPerSite);
        }
        const QUrl url(QStringLiteral("http://%1/page").arg(QString::fromLatin1(c.asked)));
        QElapsedTimer timer;
        timer.start();
        const Lines before = linesFromQtJar(qt, url, count);
        const double qtMicros = double(timer.nsecsElapsed()) / 1000 / count;
        timer.start();
        const Lines after = linesFromCookieJar(bounded, url, count);
        const double boundedMicros = double(timer.nsecsElapsed()) / 1000 / count;
        std::printf("%-42s %-10s %8d %8lld %10lld %12.1f\n", c.name, "Qt's",
                    c.sites * c.cookiesPerSite, qlonglong(before.cookies), qlonglong(before.bytes),
                    qtMicros);
        std::printf("%-42s %-10s %8lld %8lld %10lld %12.1f\n", "", "bounded",
                    qlonglong(bounded.cookies().size()), qlonglong(after.cookies),
                    qlonglong(after.bytes), boundedMicros);
    }
    return 0;
}
