#include "HtmlLinks.h"

#include "LinkScanner.h"
#include "PageDecoder.h"
#include "WebUrl.h"
#include "XhtmlLinks.h"

#include <optional>

namespace {

QString fromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// readPage, and with a `tentative` encoding, the encoding a meta declares instead when it is
// another one (the reading is then empty).
PageReading readPageIn(QByteArrayView utf8, const QString &documentUrl, const QByteArray &encoding,
                       QDeadlineTimer deadline, const std::atomic<bool> *stop, bool tentative,
                       QByteArray *changedEncoding) {
    const LinkScan scan =
        scanLinks(std::string_view(utf8.data(), std::size_t(utf8.size())), stop,
                  tentative ? std::string_view(encoding.constData(), std::size_t(encoding.size()))
                            : std::string_view());
    if (scan.outcome == LinkScan::Outcome::EncodingChanged) {
        *changedEncoding = QByteArray::fromStdString(scan.encoding);
        return {};
    }
    if (scan.outcome == LinkScan::Outcome::Stopped || deadline.hasExpired())
        return {};
    PageReading reading;
    for (const std::string_view content : scan.robotsMeta)
        reading.robots.append(fromUtf8(content));
    QStringList &hrefs = reading.links;
    hrefs.reserve(qsizetype(scan.hrefs.size()));
    for (const std::string_view href : scan.hrefs)
        hrefs.append(fromUtf8(href));
    std::optional<QString> baseHref;
    if (scan.baseHref)
        baseHref = fromUtf8(*scan.baseHref);

    const std::optional<WebUrl> documentAddress = WebUrl::parse(documentUrl);
    if (documentAddress)
        reading.address = documentAddress->href();
    std::optional<WebUrl> base = documentAddress;
    if (baseHref && documentAddress) {
        // A base href that does not resolve, or that would make every link a data: or
        // javascript: address, leaves the document's own address as the base, as in browsers.
        std::optional<WebUrl> parsed = WebUrl::parse(*baseHref, &*documentAddress, encoding);
        if (parsed && parsed->scheme() != u"data" && parsed->scheme() != u"javascript")
            base = std::move(parsed);
    }

    for (QString &href : hrefs) {
        QString resolved;
        if (base) {
            resolved = WebUrl::resolve(href, *base, encoding);
        } else if (const std::optional<WebUrl> url = WebUrl::parse(href)) {
            resolved = url->href();
        }
        if (!resolved.isNull())
            href = std::move(resolved);
    }
    if (scan.canonicalHref)
        reading.canonicalHref = fromUtf8(*scan.canonicalHref);
    reading.base = std::move(base);
    reading.encoding = encoding;
    return reading;
}

} // namespace

QStringList extractLinks(QByteArrayView utf8, const QString &documentUrl,
                         const QByteArray &encoding, QDeadlineTimer deadline,
                         const std::atomic<bool> *stop) {
    return readPage(utf8, documentUrl, encoding, deadline, stop).links;
}

PageReading readPage(QByteArrayView utf8, const QString &documentUrl, const QByteArray &encoding,
                     QDeadlineTimer deadline, const std::atomic<bool> *stop) {
    return readPageIn(utf8, documentUrl, encoding, deadline, stop, false, nullptr);
}

QString PageReading::canonical() const {
    if (canonicalHref.isNull() || !base)
        return {};
    QString address = WebUrl::resolve(canonicalHref, *base, encoding);
    if (const qsizetype fragment = address.indexOf(u'#'); fragment >= 0)
        address.truncate(fragment);
    return address;
}

std::optional<PageReading> readServedPage(const QByteArray &body, const QByteArray &contentType,
                                          const QString &documentUrl, QDeadlineTimer deadline,
                                          const std::atomic<bool> *stop) {
    DecodedPage page = decodePage(body, contentType, TextForm::Utf8);
    if (!page.isHtml)
        return std::nullopt;
    if (page.isXml)
        return readXhtmlPage(page.text, documentUrl, page.encoding, deadline, stop);
    QByteArray changed;
    PageReading reading =
        readPageIn(page.utf8, documentUrl, page.encoding, deadline, stop, page.tentative, &changed);
    if (changed.isEmpty())
        return reading;
    // The second reading is certain of its encoding, so a page is read twice at most.
    page = decodePageAs(body, changed, TextForm::Utf8);
    return readPageIn(page.utf8, documentUrl, page.encoding, deadline, stop, false, nullptr);
}
