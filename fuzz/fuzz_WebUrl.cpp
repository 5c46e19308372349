#include "WebUrl.h"

#include <QByteArray>
#include <QList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Input: an href, the address of its page and the page's encoding, separated by NUL bytes, the
// first two as UTF-8. Parses the href as a link of that page is parsed, and checks what holds
// of every address that parses: its href is printable ASCII; it parses again to itself, alone
// and against the page; and an empty link on it leads back to it without its fragment.

namespace {

void require(bool holds, const char *what, const QString &href) {
    if (holds)
        return;
    std::fprintf(stderr, "%s: %s\n", what, href.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QList<QByteArray> fields =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)).split('\0');
    const std::optional<WebUrl> page = WebUrl::parse(QString::fromUtf8(fields.value(1)));
    const WebUrl *base = page ? &*page : nullptr;
    const std::optional<WebUrl> url =
        WebUrl::parse(QString::fromUtf8(fields.value(0)), base, fields.value(2).left(64));
    if (!url)
        return 0;

    const QString href = url->href();
    for (const QChar c : href)
        require(c.unicode() >= 0x20 && c.unicode() < 0x7f, "href outside printable ASCII", href);
    const qsizetype colon = href.indexOf(u':');
    require(colon > 0 && url->scheme() == href.left(colon), "scheme not the href's", href);

    const std::optional<WebUrl> again = WebUrl::parse(href);
    require(again && again->href() == href, "href does not parse to itself", href);
    const std::optional<WebUrl> onPage = WebUrl::parse(href, base);
    require(onPage && onPage->href() == href, "href parses differently on a page", href);

    // An address with an opaque path ("mailto:x") is no base for an empty link.
    if (href.mid(colon + 1).startsWith(u'/')) {
        const std::optional<WebUrl> empty = WebUrl::parse(QString(), &*url);
        require(empty && empty->href() == href.left(href.indexOf(u'#')),
                "empty link does not lead back", href);
    }
    return 0;
}
