#include "Sitemap.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr int levels = 6;

// A list's addresses copied as text.
class CopiedLinks final : public FrozenLinks {
public:
    explicit CopiedLinks(QStringList links)
        : m_links(std::move(links)) {}
    qsizetype count() const override { return m_links.size(); }
    QString at(qsizetype index) const override { return m_links.at(index); }

private:
    QStringList m_links;
};

} // namespace

std::shared_ptr<const FrozenLinks> SitemapView::frozenLinks(int level) {
    QStringList links;
    const int count = linkCount(level);
    for (int index = 0; index < count; ++index) {
        selectLink(level, index);
        links.append(selectedLink(level));
    }
    return std::make_shared<CopiedLinks>(std::move(links));
}

SitemapDocument BuildSitemap(SitemapView &view, const QString &frequency, const EntryNotes *notes) {
    std::array<std::shared_ptr<const FrozenLinks>, levels> lists;
    for (int level = 0; level < levels; ++level)
        lists[std::size_t(level)] = view.frozenLinks(level);
    const QString start = view.startAddress();
    SitemapWriter writer(start, escapedText(frequency), lists);
    if (!notes)
        return std::move(writer).everyEntry();
    // The notes are asked for each entry once, here; the document keeps their answers.
    std::vector<DescribedEntry> entries;
    if (const EntryNote note = notes->noteFor(start, -1); note.listed)
        entries.push_back({-1, 0, note.lastmod});
    for (int level = 0; level < levels; ++level) {
        const FrozenLinks &list = *lists[std::size_t(level)];
        for (qsizetype index = 0; index < list.count(); ++index) {
            if (const EntryNote note = notes->noteFor(list.at(index), level); note.listed)
                entries.push_back({level, index, note.lastmod});
        }
    }
    return std::move(writer).entries(std::move(entries));
}

namespace {

QString unescaped(QString text) {
    return text.replace(QLatin1String("&lt;"), QLatin1String("<"))
        .replace(QLatin1String("&gt;"), QLatin1String(">"))
        .replace(QLatin1String("&amp;"), QLatin1String("&"));
}

// Where the parts of a split sitemap live: the root of the start address's site, the first
// address of the document.
QString siteRoot(QByteArrayView document) {
    const qsizetype from = document.indexOf("<loc>");
    const qsizetype to = from < 0 ? -1 : document.indexOf("</loc>", from);
    if (to < 0)
        return {};
    const QUrl start(unescaped(QString::fromUtf8(document.sliced(from + 5, to - from - 5))));
    if (start.scheme().isEmpty() || start.host().isEmpty())
        return {};
    return start
               .adjusted(QUrl::RemoveUserInfo | QUrl::RemovePath | QUrl::RemoveQuery |
                         QUrl::RemoveFragment)
               .toString(QUrl::FullyEncoded) +
           u'/';
}

QByteArray sitemapIndex(const QString &root, qsizetype parts) {
    QString index = QLatin1String("<?xml version='1.0' encoding='UTF-8'?>\r\n"
                                  "<sitemapindex\r\n"
                                  "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'>\r\n"
                                  "<!-- created with Corvane ") +
                    makerHomePage + QLatin1String(" -->\r\n");
    for (qsizetype part = 1; part <= parts; ++part) {
        index += QLatin1String("<sitemap>\r\n<loc>") +
                 escapedText(root + QStringLiteral("sitemap-%1.xml").arg(part)) +
                 QLatin1String("</loc>\r\n</sitemap>\r\n");
    }
    return (index + QLatin1String("</sitemapindex>")).toUtf8();
}

} // namespace

SitemapSplit SplitSitemap(const QString &document, qsizetype maxUrls, qsizetype maxBytes) {
    const QByteArray bytes = document.toUtf8();
    // Addresses and the frequency are escaped, so "<url>" and "</url>" only ever open and
    // close entries. An entry is kept with the line break before it, if it has one, except
    // at the start of a part, where it follows the head as the first entry does.
    const QByteArrayView text(bytes);
    // Qt's search prepares a table for each call; the standard library's looks for the
    // first byte with memchr, which suits a hundred thousand short searches.
    const std::string_view all(text.data(), std::size_t(text.size()));
    const auto find = [&all](std::string_view sought, qsizetype from) {
        const std::size_t at = all.find(sought, std::size_t(from));
        return at == std::string_view::npos ? qsizetype(-1) : qsizetype(at);
    };
    const qsizetype first = find("<url>", 0);
    const std::size_t lastEnd = all.rfind("</url>");
    const qsizetype last = lastEnd == std::string_view::npos ? -1 : qsizetype(lastEnd);
    if (first < 0 || last < 0)
        return {{bytes}, {}};
    if (bytes.size() <= maxBytes) {
        qsizetype urls = 0;
        for (qsizetype at = first; at >= 0 && urls <= maxUrls; at = find("<url>", at + 5))
            ++urls;
        if (urls <= maxUrls)
            return {{bytes}, {}};
    }
    const QByteArrayView head = text.first(first);
    const QByteArrayView tail = text.sliced(last + 6);

    // A part's entries stand together in the document, gaps included: each part is the head,
    // one slice of the document and the end.
    SitemapSplit split;
    qsizetype partBegin = first;
    qsizetype partEnd = first;
    qsizetype urls = 0;
    const auto close = [&] {
        QByteArray part;
        part.reserve(head.size() + partEnd - partBegin + tail.size());
        part += head;
        part += text.sliced(partBegin, partEnd - partBegin);
        part += tail;
        split.parts.append(part);
    };
    for (qsizetype at = first; at >= 0 && at < last; at = find("<url>", partEnd)) {
        const qsizetype end = find("</url>", at) + 6;
        if (urls > 0 &&
            (urls == maxUrls || head.size() + end - partBegin + tail.size() > maxBytes)) {
            close();
            partBegin = at;
            urls = 0;
        }
        partEnd = end;
        ++urls;
    }
    close();
    if (split.parts.size() > 1)
        split.index = sitemapIndex(siteRoot(text), split.parts.size());
    return split;
}

namespace {

bool followsLineBreak(QStringView piece) {
    return piece.startsWith(u"\r\n");
}

} // namespace

SitemapPlan PlanSitemap(const SitemapDocument &document, qsizetype maxUrls, qsizetype maxBytes) {
    SitemapPlan plan;
    if (document.pieceCount() <= 2) {
        plan.parts.append({1, document.pieceCount() - 1, utf8Size(document.text())});
        return plan;
    }
    // As the split of the text: each part is the head, a run of entries (the first without
    // the line break before it) and the end. A document within both limits makes one part,
    // which is then the whole document.
    const qsizetype end = document.pieceCount() - 1;
    const qsizetype frame = document.pieceUtf8Size(0) + document.pieceUtf8Size(end);
    SitemapPlan::Part part{1, 1, frame};
    for (qsizetype piece = 1; piece < end; ++piece) {
        const qsizetype size = document.pieceUtf8Size(piece);
        const qsizetype urls = piece - part.first;
        if (urls > 0 && (urls == maxUrls || part.bytes + size > maxBytes)) {
            plan.parts.append(part);
            part = {piece, piece, frame};
        }
        part.bytes += piece == part.first && document.startsWithLineBreak(piece) ? size - 2 : size;
        part.last = piece + 1;
    }
    plan.parts.append(part);
    if (plan.parts.size() > 1)
        plan.root = siteRoot(document.piece(1).toUtf8());
    return plan;
}

QByteArray SitemapPart(const SitemapDocument &document, const SitemapPlan::Part &part) {
    QByteArray bytes;
    bytes.reserve(part.bytes);
    if (document.pieceCount() == 0)
        return bytes;
    bytes += document.piece(0).toUtf8();
    for (qsizetype piece = part.first; piece < part.last; ++piece) {
        const QString text = document.piece(piece);
        bytes += QStringView(text)
                     .sliced(piece == part.first && followsLineBreak(text) ? 2 : 0)
                     .toUtf8();
    }
    bytes += document.piece(document.pieceCount() - 1).toUtf8();
    return bytes;
}

QByteArray SitemapIndex(const SitemapPlan &plan) {
    return sitemapIndex(plan.root, plan.parts.size());
}
