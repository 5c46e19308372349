#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <atomic>

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
    // The content of every `meta` of the head named "robots", as written.
    QStringList robots;
    // The first `link rel=canonical` of the head with an href, resolved as a link is and
    // without its fragment; null when there is none or it does not resolve.
    QString canonical;
};
PageReading readPage(QByteArrayView utf8, const QString &documentUrl, const QByteArray &encoding,
                     QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                     const std::atomic<bool> *stop = nullptr);
