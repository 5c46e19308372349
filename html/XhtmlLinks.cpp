#include "XhtmlLinks.h"

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
    QXmlStreamReader reader(xml);
    std::optional<QString> baseHref;
    QStringList hrefs;
    int templateDepth = 0; // how many XHTML template elements the reader is inside
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

    const std::optional<WebUrl> base = baseAddress(baseHref, WebUrl::parse(documentUrl), encoding);
    QStringList links;
    links.reserve(hrefs.size());
    for (const QString &href : std::as_const(hrefs)) {
        const std::optional<WebUrl> resolved =
            WebUrl::parse(href, base ? &*base : nullptr, encoding);
        links.append(resolved ? resolved->href() : href);
    }
    return links;
}
