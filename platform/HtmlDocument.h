#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

// The name this program's crawler goes by in robots rules: the product token of the User-Agent
// the network engine sends, which robots rules compare in any case.
inline constexpr char crawlerName[] = "corvane";

// What a load learnt of its page beside the links: how the server answered and what the page's
// head says to search engines. All empty while loading and when nothing was asked for.
struct PageFacts {
    // The address finally loaded, after any redirects, without its fragment, as the page
    // reader reads it (as sent, when the page was not read); null when no answer came.
    QString address;
    // Whether redirects led to another address than the one asked for.
    bool redirected = false;
    // The status of the last answer (a redirect's own when its chain ended there); 0 when
    // there was none, or the load failed or timed out before it was whole.
    int status = 0;
    // The X-Robots-Tag and Last-Modified headers of the last answer, each several joined by
    // ", "; null when absent.
    QByteArray robotsTag;
    QByteArray lastModified;
    // As the page reader reads them (PageReading): the head's robots metas and its canonical
    // address.
    QStringList robotsMeta;
    QString canonical;
};

// One page's document as the crawl sees it: whether it has loaded, and its links.
class HtmlDocument {
public:
    virtual ~HtmlDocument() = default;

    // "complete" once the page has loaded, or has failed to load; any other text while it
    // is still loading.
    virtual QString readyState() const = 0;
    // The address of each `a` and `area` element with an href, in document order, as a
    // browser reports the element's href. Empty until the document is complete.
    virtual QStringList links() const = 0;
    // Why the page is not a good one, in a few words ("Connection refused", "404 Not Found",
    // "not HTML", "timed out"); null while it is loading and when it loaded well. A page sent
    // with an error status still has its links.
    virtual QString failure() const { return {}; }
    // Valid once complete.
    virtual PageFacts facts() const { return {}; }
    // The body of a load of a file (HtmlEngine::createFileFromUrl) once complete, as far as it
    // was read; empty for a page.
    virtual QByteArray body() const { return {}; }
};

// A document with nothing in it: complete from the start, without links.
class EmptyDocument final : public HtmlDocument {
public:
    QString readyState() const override { return QStringLiteral("complete"); }
    QStringList links() const override { return {}; }
};

// Interface for loading web pages into documents. Abstract so that the crawl can be driven
// by documents of a test's own making; the real implementation is NetworkHtmlEngine.
class HtmlEngine {
public:
    virtual ~HtmlEngine() = default;

    // A new document for `address`, which may still be loading when it is returned; it
    // stops loading when it is destroyed. Null when the address cannot be requested at all
    // (empty, malformed, or a scheme other than http and https).
    virtual std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) = 0;

    // A new load of `address` as a file (robots.txt) rather than a page: its body, content
    // coding undone, is kept as it came up to `maxBytes` (the rest is not read), and at most
    // `maxRedirects` redirects are followed. It has no links; facts() tells the status and
    // headers. Null as for createDocumentFromUrl; engines that load no files return null.
    virtual std::unique_ptr<HtmlDocument> createFileFromUrl(const QString &address, qint64 maxBytes,
                                                            int maxRedirects) {
        Q_UNUSED(address);
        Q_UNUSED(maxBytes);
        Q_UNUSED(maxRedirects);
        return nullptr;
    }

    // Why a page may not be requested at the address a redirect leads to; null when it may.
    using RedirectCheck = std::function<QString(const QString &address)>;
    // Pages created from now on follow a redirect only where `check` allows it; one it refuses
    // ends their load with its reason, the redirect being the answer. Files (robots.txt) follow
    // their redirects unchecked. Engines that follow no redirects ignore it.
    virtual void setRedirectCheck(RedirectCheck check) { Q_UNUSED(check); }
};
