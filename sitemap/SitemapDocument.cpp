#include "SitemapDocument.h"

#include "Sitemap.h"

#include <algorithm>

namespace {

constexpr int levels = 6;
const std::array<QStringView, levels> levelPriorities = {u"0.80", u"0.60", u"0.50",
                                                         u"0.40", u"0.30", u"0.20"};
// Entries of levels 4 and 5 follow the previous entry on its own line.
constexpr int deepestLevelOnNewLine = 3;

QString documentHead() {
    return QLatin1String("<?xml version='1.0' encoding='UTF-8'?>\r\n"
                         "<urlset\r\n"
                         "xmlns = 'http://www.sitemaps.org/schemas/sitemap/0.9'\r\n"
                         "xmlns:xsi = 'http://www.w3.org/2001/XMLSchema-instance'\r\n"
                         "xsi:schemaLocation = 'http://www.sitemaps.org/schemas/sitemap/0.9\r\n"
                         "http://www.sitemaps.org/schemas/sitemap/0.9/sitemap.xsd'>"
                         "\r\n<!-- created with Corvane ") +
           makerHomePage + QLatin1String(" -->\r\n");
}

} // namespace

QString escapedText(const QString &text) {
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

qsizetype utf8Size(QStringView text) {
    qsizetype size = text.size();
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        size += u >= 0x80 ? (u >= 0x800 && !QChar::isSurrogate(u) ? 2 : 1) : 0;
    }
    return size;
}

qsizetype FrozenLinks::escapedSize(qsizetype index, Units units) const {
    const QString escaped = escapedText(at(index));
    return units == Units::Utf16 ? escaped.size() : utf8Size(escaped);
}

void FrozenLinks::appendEscaped(QString &out, qsizetype index) const {
    out += escapedText(at(index));
}

// Pieces are numbered: 0 the head, 1 to n the entries, n + 1 the end.
struct SitemapDocument::Description {
    QString head = documentHead();
    QString start;
    QString frequency;
    std::array<std::shared_ptr<const FrozenLinks>, levels> lists;
    // Without `chosen`, entry 1 is the start address and entry k > 1 is number k - 2 of the
    // lists taken in order: firstOfLevel[level] is the number of the level's first.
    std::array<qsizetype, levels + 1> firstOfLevel{};
    bool hasChosen = false;
    std::vector<DescribedEntry> chosen;
    // Where each piece starts in the text, and the text's size after the last.
    std::vector<qsizetype> offsets;

    qsizetype pieceCount() const { return qsizetype(offsets.size()) - 1; }

    DescribedEntry entry(qsizetype piece) const {
        if (hasChosen)
            return chosen[std::size_t(piece - 1)];
        if (piece == 1)
            return {-1, 0, {}};
        const qsizetype number = piece - 2;
        const int level = int(std::upper_bound(firstOfLevel.cbegin(), firstOfLevel.cend(), number) -
                              firstOfLevel.cbegin() - 1);
        return {level, number - firstOfLevel[std::size_t(level)], {}};
    }

    bool ownLine(qsizetype piece) const {
        if (piece == 0 || piece >= pieceCount() - 1)
            return false;
        const int level = entry(piece).level;
        return level >= 0 && level <= deepestLevelOnNewLine && piece > 1;
    }

    // The length of text(piece) in `units`, mostly without making it.
    qsizetype size(qsizetype piece, FrozenLinks::Units units) const {
        const auto measure = [units](QStringView text) {
            return units == FrozenLinks::Units::Utf16 ? text.size() : utf8Size(text);
        };
        if (piece == 0 || piece == pieceCount() - 1)
            return measure(text(piece));
        const DescribedEntry described = entry(piece);
        const int level = described.level;
        const qsizetype loc = level < 0
                                  ? measure(escapedText(start))
                                  : lists[std::size_t(level)]->escapedSize(described.index, units);
        const bool dated = !described.lastmod.isNull();
        constexpr QStringView fixed = u"<url>\r\n<loc></loc>\r\n<priority>1.00</priority>\r\n"
                                      u"<changefreq></changefreq>\r\n</url>";
        constexpr QStringView date = u"<lastmod></lastmod>\r\n";
        return (ownLine(piece) ? 2 : 0) + fixed.size() + loc + measure(frequency) +
               (dated ? date.size() + measure(described.lastmod) : 0);
    }

    QString text(qsizetype piece) const {
        QString result;
        appendText(result, piece);
        return result;
    }

    // Appends text(piece) to `out`.
    void appendText(QString &out, qsizetype piece) const {
        if (piece == 0) {
            out += head;
            return;
        }
        if (piece == pieceCount() - 1) {
            out += pieceCount() > 2 ? QStringView(u"\r\n</urlset>") : QStringView(u"</urlset>");
            return;
        }
        const DescribedEntry described = entry(piece);
        const int level = described.level;
        const bool dated = !described.lastmod.isNull();
        const bool ownLine = level >= 0 && level <= deepestLevelOnNewLine && piece > 1;
        out += ownLine ? QStringView(u"\r\n<url>\r\n<loc>") : QStringView(u"<url>\r\n<loc>");
        if (level < 0)
            out += escapedText(start);
        else
            lists[std::size_t(level)]->appendEscaped(out, described.index);
        const QStringView pieces[] = {dated ? u"</loc>\r\n<lastmod>" : u"</loc>\r\n<priority>",
                                      described.lastmod,
                                      dated ? u"</lastmod>\r\n<priority>" : u"",
                                      level < 0 ? u"1.00" : levelPriorities[std::size_t(level)],
                                      u"</priority>\r\n<changefreq>",
                                      frequency,
                                      u"</changefreq>\r\n</url>"};
        for (const QStringView part : pieces)
            out += part;
    }
};

qsizetype SitemapDocument::size() const {
    return d ? d->offsets.back() : 0;
}

qsizetype SitemapDocument::pieceCount() const {
    return d ? d->pieceCount() : 0;
}

QString SitemapDocument::piece(qsizetype index) const {
    return d->text(index);
}

qsizetype SitemapDocument::pieceUtf8Size(qsizetype index) const {
    return d->size(index, FrozenLinks::Units::Utf8);
}

bool SitemapDocument::startsWithLineBreak(qsizetype index) const {
    return d->ownLine(index);
}

QString SitemapDocument::mid(qsizetype from, qsizetype length) const {
    from = std::clamp<qsizetype>(from, 0, size());
    length = std::clamp<qsizetype>(length, 0, size() - from);
    if (length == 0)
        return {};
    const std::vector<qsizetype> &offsets = d->offsets;
    auto piece =
        qsizetype(std::upper_bound(offsets.cbegin(), offsets.cend(), from) - offsets.cbegin() - 1);
    QString result;
    result.reserve(length);
    const qsizetype to = from + length;
    for (; result.size() < length; ++piece) {
        const qsizetype begin = offsets[std::size_t(piece)];
        // A piece wholly within the stretch is written straight into it.
        if (begin >= from && offsets[std::size_t(piece) + 1] <= to) {
            d->appendText(result, piece);
            continue;
        }
        const QString text = d->text(piece);
        const qsizetype first = std::max(from, begin) - begin;
        result +=
            QStringView(text).sliced(first, std::min(to, begin + text.size()) - begin - first);
    }
    return result;
}

SitemapWriter::SitemapWriter(const QString &start, const QString &frequency,
                             std::array<std::shared_ptr<const FrozenLinks>, 6> lists)
    : m_d(std::make_shared<SitemapDocument::Description>()) {
    m_d->start = start;
    m_d->frequency = frequency;
    m_d->lists = std::move(lists);
    qsizetype number = 0;
    for (int level = 0; level < levels; ++level) {
        m_d->firstOfLevel[std::size_t(level)] = number;
        number += m_d->lists[std::size_t(level)]->count();
    }
    m_d->firstOfLevel[levels] = number;
}

SitemapDocument SitemapWriter::everyEntry() && {
    return std::move(*this).finish(3 + m_d->firstOfLevel[levels]);
}

SitemapDocument SitemapWriter::entries(std::vector<DescribedEntry> entries) && {
    m_d->hasChosen = true;
    m_d->chosen = std::move(entries);
    return std::move(*this).finish(2 + qsizetype(m_d->chosen.size()));
}

SitemapDocument SitemapWriter::finish(qsizetype pieces) && {
    m_d->offsets.assign(std::size_t(pieces) + 1, 0);
    qsizetype at = 0;
    for (qsizetype piece = 0; piece < pieces; ++piece) {
        at += m_d->size(piece, FrozenLinks::Units::Utf16);
        m_d->offsets[std::size_t(piece) + 1] = at;
    }
    SitemapDocument document;
    document.d = std::move(m_d);
    return document;
}
