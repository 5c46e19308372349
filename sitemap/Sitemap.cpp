#include "Sitemap.h"

#include <QUrl>

#include <algorithm>
#include <array>
#include <string_view>

namespace {

constexpr int levels = 6;
const std::array<QString, levels> levelPriorities = {
    QStringLiteral("0.80"), QStringLiteral("0.60"), QStringLiteral("0.50"),
    QStringLiteral("0.40"), QStringLiteral("0.30"), QStringLiteral("0.20"),
};
// Entries of levels 4 and 5 follow the previous entry on its own line.
constexpr int deepestLevelOnNewLine = 3;

// Element text that keeps the document well-formed whatever the address or frequency holds:
// "&", "<" and ">" as references (so "&amp;" in an address becomes "&amp;amp;"), and any
// character XML does not allow (control characters, lone surrogates) as U+FFFD.
QString escaped(const QString &text) {
    // Most addresses need nothing escaped: they are shared as they are. The test looks at
    // every character without stopping early, which the compiler turns into vector code.
    bool special = false;
    const QChar *units = text.constData();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t u = units[i].unicode();
        special |= u < 0x20 || u >= 0xD800 || u == '&' || u == '<' || u == '>';
    }
    if (!special)
        return text;
    QString result;
    result.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        const char16_t u = c.unicode();
        if (u == '&') {
            result += QLatin1String("&amp;");
        } else if (u == '<') {
            result += QLatin1String("&lt;");
        } else if (u == '>') {
            result += QLatin1String("&gt;");
        } else if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result += c;
            result += text.at(++i);
        } else if ((u < 0x20 && u != 0x9 && u != 0xA && u != 0xD) || c.isSurrogate() ||
                   u == 0xFFFE || u == 0xFFFF) {
            result += QChar::ReplacementCharacter;
        } else {
            result += c;
        }
    }
    return result;
}

void appendEntry(QString &document, const QString &address, const QString &priority,
                 const QString &frequency, const QString &lastmod = {}) {
    const QString loc = escaped(address);
    const bool dated = !lastmod.isNull();
    const QStringView pieces[] = {u"<url>\r\n<loc>",
                                  loc,
                                  dated ? u"</loc>\r\n<lastmod>" : u"</loc>\r\n<priority>",
                                  lastmod,
                                  dated ? u"</lastmod>\r\n<priority>" : u"",
                                  priority,
                                  u"</priority>\r\n<changefreq>",
                                  frequency,
                                  u"</changefreq>\r\n</url>"};
    // One resize and plain copies: a document of a hundred thousand entries is appended to a
    // million times.
    qsizetype size = 0;
    for (const QStringView piece : pieces)
        size += piece.size();
    qsizetype at = document.size();
    document.resize(at + size);
    QChar *out = document.data();
    for (const QStringView piece : pieces) {
        std::copy(piece.begin(), piece.end(), out + at);
        at += piece.size();
    }
}

} // namespace

QString BuildSitemap(SitemapView &view, const QString &frequency, const EntryNotes *notes) {
    const QString changeFrequency = escaped(frequency);
    QString document = QLatin1String("<?xml version='1.0' encoding='UTF-8'?>\r\n"
                                     "<urlset\r\n"
                                     "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'\r\n"
                                     "xmlns:xsi = 'http://www.w3.org/2001/XMLSchema-instance'\r\n"
                                     "xsi:schemaLocation = "
                                     "'http://www.sitemaps.org/schemas/sitemap/0.9\r\n"
                                     "http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd'>"
                                     "\r\n<!-- created with Corvane ") +
                       makerHomePage + QLatin1String(" -->\r\n");
    const QString start = view.startAddress();
    const EntryNote startNote = notes ? notes->noteFor(start, -1) : EntryNote();
    bool anyEntry = startNote.listed;
    if (startNote.listed)
        appendEntry(document, start, QStringLiteral("1.00"), changeFrequency, startNote.lastmod);

    for (int level = 0; level < levels; ++level) {
        const int count = view.linkCount(level);
        for (int index = 0; index < count; ++index) {
            view.selectLink(level, index);
            const QString address = view.selectedLink(level);
            const EntryNote note = notes ? notes->noteFor(address, level) : EntryNote();
            if (!note.listed)
                continue;
            if (level <= deepestLevelOnNewLine && anyEntry)
                document += QStringView(u"\r\n");
            anyEntry = true;
            appendEntry(document, address, levelPriorities[level], changeFrequency, note.lastmod);
        }
    }
    if (anyEntry)
        document += QStringView(u"\r\n");
    document += QLatin1String("</urlset>");
    return document;
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
                 escaped(root + QStringLiteral("sitemap-%1.xml").arg(part)) +
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
