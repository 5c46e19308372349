#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include "WebUrl.h"

#include <atomic>
#include <optional>

// The links of an HTML page given in UTF-8, as a browser's `document.links` reports them: every `a`
// and `area` element of the HTML namespace that has an href attribute, in tree order (template
// contents excluded), each href resolved against the page's base address (the first `base`
// element with an href, unless that href does not resolve or is a data: or javascript:
// address; else `documentUrl`). An href that does not resolve is reported as written, as
// browsers do. `encoding` is the page's encoding, in which queries are percent-encoded. A page
// whose reading is not done by `deadline`, or is given up by setting `*stop`, has no links.
// The link scanner reads the page; on markup that would cost it more than its bound, the
// links it has read by then.
// Pure text code, safe to run on any thread.
QStringList extractLinks(QByteArrayView utf8, const QString &documentUrl,
                         const QByteArray &encoding,
                         QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                         const std::atomic<bool> *stop = nullptr);

// A page's links as extractLinks reads them, and in the same pass what its head tells search
// engines.
struct PageReading {
    QStringList links;
    // `documentUrl` as the reader parsed it; null when it does not parse.
    QString address;
    // The content of every `meta` of the head named "robots", as written.
    QStringList robots;
    // The href of the first `link rel=canonical` of the head with an href, as written; null
    // when there is none.
    QString canonicalHref;
    // What an href resolves against: the page's base address (none when the document's
    // address does not parse) and its encoding.
    std::optional<WebUrl> base;
    QByteArray encoding;

    // The canonical href resolved as a link is, without its fragment; null when there is none
    // or it does not resolve. Resolving an address costs about as much as reading a small
    // page's head: it is done only when asked for.
    QString canonical() const;
};
PageReading readPage(QByteArrayView utf8, const QString &documentUrl, const QByteArray &encoding,
                     QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                     const std::atomic<bool> *stop = nullptr);

// A page as the server sent it: `body` and the Content-Type header's value (empty when none
// came), decoded (decodePage) and read, as readPage reads HTML and readXhtmlPage XHTML; when a
// meta that the tree builder meets names another encoding than the one the page was guessed to
// be in, it is read again in that one, once, as browsers do. nullopt when the body is not HTML.
std::optional<PageReading>
readServedPage(const QByteArray &body, const QByteArray &contentType, const QString &documentUrl,
               QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
               const std::atomic<bool> *stop = nullptr);
