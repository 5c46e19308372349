#include "XhtmlLinks.h"

#include "HtmlLinks.h"
#include "WebUrl.h"

#include <QXmlStreamReader>

#include <optional>

namespace {

constexpr QStringView xhtmlNamespace = u"http://www.w3.org/1999/xhtml";

// The base address of the links: HTML's frozen base URL of the first base element.
std::optional<WebUrl> baseAddress(const std::optional<QString> &baseHref,
                                  const std::optional<WebUrl> &documentAddress,
                                  const QByteArray &encoding) {
    if (!baseHref || !documentAddress)
        return documentAddress;
    std::optional<WebUrl> parsed = WebUrl::parse(*baseHref, &*documentAddress, encoding);
    if (!parsed || parsed->scheme() == u"data" || parsed->scheme() == u"javascript")
        return documentAddress;
    return parsed;
}

} // namespace

QStringList extractXhtmlLinks(const QString &xml, const QString &documentUrl,
                              const QByteArray &encoding, QDeadlineTimer deadline,
                              const std::atomic<bool> *stop) {
    return readXhtmlPage(xml, documentUrl, encoding, deadline, stop).links;
}

PageReading readXhtmlPage(const QString &xml, const QString &documentUrl,
                          const QByteArray &encoding, QDeadlineTimer deadline,
                          const std::atomic<bool> *stop) {
    QXmlStreamReader reader(xml);
    std::optional<QString> baseHref;
    QStringList hrefs;
    PageReading reading;
    int templateDepth = 0; // how many XHTML template elements the reader is inside
    bool inHead = false;
    for (unsigned tokens = 1; !reader.atEnd(); ++tokens) {
        if (tokens % 4096 == 0 &&
            (deadline.hasExpired() || (stop && stop->load(std::memory_order_relaxed))))
            return {};
        // A well-formedness error ends the document where it is, links read so far kept.
        const QXmlStreamReader::TokenType token = reader.readNext();
        const bool start = token == QXmlStreamReader::StartElement;
        if ((!start && token != QXmlStreamReader::EndElement) ||
            reader.namespaceUri() != xhtmlNamespace)
            continue;
        const QStringView name = reader.name();
        if (name == u"template") {
            templateDepth += start ? 1 : -1;
            continue;
        }
        if (name == u"head" && templateDepth == 0) {
            inHead = start;
            continue;
        }
        if (start && inHead && templateDepth == 0 && (name == u"meta" || name == u"link")) {
            const QXmlStreamAttributes attributes = reader.attributes();
            const auto value = [&attributes](const char *attribute) {
                const QString qualified = QString::fromLatin1(attribute);
                return attributes.hasAttribute(QString(), qualified)
                           ? attributes.value(QString(), qualified).toString()
                           : QString();
            };
            if (name == u"meta" && value("name").compare(u"robots", Qt::CaseInsensitive) == 0 &&
                !value("content").isNull())
                reading.robots.append(value("content"));
            if (name == u"link" && reading.canonicalHref.isNull() && !value("href").isNull()) {
                const QString rel = value("rel");
                for (const QStringView token : QStringView(rel).split(u' ', Qt::SkipEmptyParts)) {
                    if (token.compare(u"canonical", Qt::CaseInsensitive) == 0)
                        reading.canonicalHref = value("href");
                }
            }
            continue;
        }
        const bool link = name == u"a" || name == u"area";
        if (!start || templateDepth > 0 || (!link && (name != u"base" || baseHref)))
            continue;
        const QXmlStreamAttributes attributes = reader.attributes();
        if (!attributes.hasAttribute(QString(), QStringLiteral("href")))
            continue;
        const QString href = attributes.value(QString(), QStringLiteral("href")).toString();
        if (link)
            hrefs.append(href);
        else
            baseHref = href;
    }

    const std::optional<WebUrl> documentAddress = WebUrl::parse(documentUrl);
    if (documentAddress)
        reading.address = documentAddress->href();
    const std::optional<WebUrl> base = baseAddress(baseHref, documentAddress, encoding);
    QStringList &links = reading.links;
    links.reserve(hrefs.size());
    for (const QString &href : std::as_const(hrefs)) {
        const std::optional<WebUrl> resolved =
            WebUrl::parse(href, base ? &*base : nullptr, encoding);
        links.append(resolved ? resolved->href() : href);
    }
    reading.base = base;
    reading.encoding = encoding;
    return reading;
}
