#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
#include <QList>
#include <QString>
#include <QStringList>

#include <atomic>
#include <optional>

// The links of an HTML page given in UTF-8, as a browser's `document.links` reports them: every `a`
// and `area` element of the HTML namespace that has an href attribute, in tree order (template
// contents excluded), each href resolved against the page's base address (the first `base`
// element with an href, unless that href does not resolve or is a data: or javascript:
// address; else `documentUrl`). An href that does not resolve is reported as written, as
// browsers do. `encoding` is the page's encoding, in which queries are percent-encoded. A page
// whose parse is not done by `deadline`, or is given up by setting `*stop`, has no links.
// Pure text code, safe to run on any thread.
QStringList extractLinks(QByteArrayView utf8, const QString &documentUrl,
                         const QByteArray &encoding,
                         QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                         const std::atomic<bool> *stop = nullptr);

// The hrefs of a page as written (character references decoded), before resolving: what the
// differential test, the fuzz target and the throughput tool compare between the two readers.
struct PageHrefs {
    QList<QByteArray> hrefs;
    std::optional<QByteArray> baseHref;
    friend bool operator==(const PageHrefs &, const PageHrefs &) = default;
};
enum class HrefReader {
    Scanner, // the link scanner; nothing when it cannot decide the page exactly
    Tree,    // gumbo's tree; nothing when it runs out of time or memory
};
std::optional<PageHrefs> pageHrefs(QByteArrayView utf8, HrefReader reader);
