// The plain HTTP client's answer reader against itself: an answer read as it came in one
// piece, and the same bytes read as they trickle in, with the body taken away between the
// pieces, must give the same status, headers, body, end and kept cookies, with the program's
// limits on a head and a chunk line and with limits that the input's own size makes tight (so
// that answers past them are common). The cookies an answer sets go into the program's jar as
// the client puts them there, and the jar is held against Qt's own: within its bounds, it
// sends a request the cookies Qt's jar would send, in the same order. No input may crash it.
//
// Input: one byte for the size of the pieces (1 to 255 bytes; 0 reads the bytes in three
// uneven pieces), then the bytes that arrive on the connection before it closes.

#include "CookieJar.h"
#include "HttpAnswer.h"
#include "PlainHttp.h"

#include <QByteArray>
#include <QNetworkCookieJar>
#include <QUrl>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

const QUrl page(QStringLiteral("http://www.example.com/dir/page"));

struct Reading {
    HttpAnswer::State state;
    int status;
    QByteArray reason;
    QList<QPair<QByteArray, QByteArray>> headers;
    bool reusable;
    QByteArray body;
    QString error;
    QList<QByteArray> cookies; // all that the jar holds after the answer

    bool operator==(const Reading &) const = default;
};

// A cookie but for its expiry, which a Max-Age makes differ between two parses.
QByteArray identity(const QNetworkCookie &cookie) {
    return cookie.toRawForm(QNetworkCookie::NameAndValueOnly) +
           "; Domain=" + cookie.domain().toUtf8() + "; Path=" + cookie.path().toUtf8() +
           (cookie.isSecure() ? "; Secure" : "") + (cookie.isSessionCookie() ? "" : "; Expires");
}

Reading read(QByteArrayView bytes, qsizetype piece, HttpAnswer::Limits limits) {
    HttpAnswer answer(limits);
    // Bounds small enough for a few cookies to pass them.
    CookieJar jar(CookieJar::Bounds{3, 5, 64});
    QByteArray body;
    for (qsizetype at = 0; at < bytes.size(); at += piece) {
        const bool headKnown = answer.status() != 0;
        answer.feed(bytes.sliced(at, std::min(piece, bytes.size() - at)).toByteArray());
        // As the client does: the cookies of a head once it has been read.
        if (!headKnown && answer.status() != 0)
            PlainHttp::keepCookies(answer, page, jar);
        body += answer.takeBody(answer.bodySize() / 2 + 1);
    }
    // Whether it may be reused is known before the connection ends.
    const bool reusable = answer.reusable();
    answer.closed();
    body += answer.takeBody(answer.bodySize());
    QList<QByteArray> cookies;
    for (const QNetworkCookie &cookie : jar.cookies())
        cookies.append(identity(cookie));
    return {answer.state(), answer.status(), answer.reason(), answer.headers(), reusable,
            body,           answer.error(),  cookies};
}

void compare(QByteArrayView bytes, qsizetype piece, HttpAnswer::Limits limits) {
    const Reading whole = read(bytes, std::max<qsizetype>(bytes.size(), 1), limits);
    const Reading pieces = read(bytes, piece, limits);
    if (!(whole == pieces)) {
        std::fprintf(stderr,
                     "limits %lld/%lld: read whole: state %d, status %d, body %lld bytes, "
                     "%lld cookies; in pieces of %lld: state %d, status %d, body %lld bytes, "
                     "%lld cookies\n",
                     qlonglong(limits.headBytes), qlonglong(limits.lineBytes), int(whole.state),
                     whole.status, qlonglong(whole.body.size()), qlonglong(whole.cookies.size()),
                     qlonglong(piece), int(pieces.state), pieces.status,
                     qlonglong(pieces.body.size()), qlonglong(pieces.cookies.size()));
        std::abort();
    }
}

// Qt's jar, with what it holds in view.
class QtJar : public QNetworkCookieJar {
public:
    using QNetworkCookieJar::allCookies;
};

// The cookies the answer sets, in the program's jar and in Qt's: where no bound of the
// program's is reached, each request gets the same cookies from both.
void compareJars(QByteArrayView bytes) {
    HttpAnswer answer;
    answer.feed(bytes.toByteArray());
    if (answer.status() == 0)
        return;
    CookieJar jar;
    QtJar qt;
    // Parsed once: a Max-Age gives each parse an expiry of its own.
    for (const auto &[name, value] : answer.headers()) {
        if (name == "set-cookie") {
            const QList<QNetworkCookie> cookies = QNetworkCookie::parseCookies(value);
            jar.setCookiesFromUrl(cookies, page);
            qt.setCookiesFromUrl(cookies, page);
        }
    }
    const CookieJar::Bounds bounds;
    if (qt.allCookies().size() > bounds.perSite)
        return;
    for (const QNetworkCookie &cookie : qt.allCookies()) {
        if (cookie.name().size() + cookie.value().size() > bounds.cookieBytes)
            return;
    }
    for (const char *address :
         {"http://www.example.com/dir/page", "https://www.example.com/", "http://example.com/dir",
          "http://a.www.example.com/dir/page/x", "http://www.example.org/dir/page"}) {
        const QUrl url(QString::fromLatin1(address));
        if (jar.cookiesForUrl(url) != qt.cookiesForUrl(url)) {
            std::fprintf(stderr, "for %s the jar sends %lld cookies, Qt's %lld\n", address,
                         qlonglong(jar.cookiesForUrl(url).size()),
                         qlonglong(qt.cookiesForUrl(url).size()));
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArrayView bytes(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    const qsizetype piece = data[0] != 0 ? data[0] : bytes.size() / 3 + 1;
    compare(bytes, piece, HttpAnswer::Limits());
    compare(bytes, piece, HttpAnswer::Limits{bytes.size() / 2, bytes.size() / 16});
    compareJars(bytes);
    return 0;
}
