#include "Sitemap.h"

#include <array>

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

QString entry(const QString &address, const QString &priority, const QString &frequency) {
    return QLatin1String("<url>\r\n<loc>") + escaped(address) +
           QLatin1String("</loc>\r\n<priority>") + priority +
           QLatin1String("</priority>\r\n<changefreq>") + frequency +
           QLatin1String("</changefreq>\r\n</url>");
}

} // namespace

QString BuildSitemap(SitemapView &view, const QString &frequency) {
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
    document += entry(view.startAddress(), QStringLiteral("1.00"), changeFrequency);

    for (int level = 0; level < levels; ++level) {
        const int count = view.linkCount(level);
        for (int index = 0; index < count; ++index) {
            view.selectLink(level, index);
            if (level <= deepestLevelOnNewLine)
                document += QLatin1String("\r\n");
            document += entry(view.selectedLink(level), levelPriorities[level], changeFrequency);
        }
    }
    document += QLatin1String("\r\n</urlset>");
    return document;
}
