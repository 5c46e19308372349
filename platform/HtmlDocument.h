#pragma once

#include <QString>
#include <QStringList>

#include <memory>

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
};
