#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QDeadlineTimer>
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
// whose reading is not done by `deadline`, or is given up by setting `*stop`, has no links.
// The link scanner reads the page; on markup that would cost it more than its bound, the
// links it has read by then.
// Pure text code, safe to run on any thread.
QStringList extractLinks(QByteArrayView utf8, const QString &documentUrl,
                         const QByteArray &encoding,
                         QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                         const std::atomic<bool> *stop = nullptr);

// The links of a page as the server sent it: `body` and the Content-Type header's value
// (empty when none came). Decodes it (decodePage) and reads its links, as extractLinks for
// HTML and extractXhtmlLinks for XHTML; when a meta that the tree builder meets names another
// encoding than the one the page was guessed to be in, reads it again in that one, once, as
// browsers do. nullopt when the body is not HTML.
std::optional<QStringList>
pageLinks(const QByteArray &body, const QByteArray &contentType, const QString &documentUrl,
          QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
          const std::atomic<bool> *stop = nullptr);
