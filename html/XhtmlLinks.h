#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QString>
#include <QStringList>

#include <atomic>

struct PageReading;

// The links of a page served as application/xhtml+xml, which browsers parse as XML: every
// `a` and `area` element of the XHTML namespace that has an href attribute (no namespace),
// names compared case-sensitively, in document order (template contents excluded), up to the
// first well-formedness error, as a browser shows a broken XML page up to its error. Each href
// is resolved against the page's base address: the first XHTML `base` element with an href,
// unless that does not parse or is a data: or javascript: address, else `documentUrl`.
// xml:base is ignored, as browsers ignore it for links. A page with an external DTD may use
// entities it does not declare itself (XHTML 1.0's &nbsp;): they end nothing, but one in an
// href stays as written, where a browser that knows XHTML's DTDs would expand it.
// `xml` is the page already decoded (PageDecoder reads the XML declaration); `encoding` and
// the rest as for extractLinks. Pure text code, safe to run on any thread.
QStringList extractXhtmlLinks(const QString &xml, const QString &documentUrl,
                              const QByteArray &encoding,
                              QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                              const std::atomic<bool> *stop = nullptr);

// The links as extractXhtmlLinks reads them, and in the same pass the robots metas and the
// canonical link of the XHTML head, as readPage reads those of an HTML page.
PageReading readXhtmlPage(const QString &xml, const QString &documentUrl,
                          const QByteArray &encoding,
                          QDeadlineTimer deadline = QDeadlineTimer(QDeadlineTimer::Forever),
                          const std::atomic<bool> *stop = nullptr);
