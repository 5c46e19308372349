#include "SitemapDocument.h"

#include "Sitemap.h"

#include <algorithm>
#include <mutex>

namespace {

constexpr int levels = 6;
const std::array<QStringView, levels> levelPriorities = {u"0.80", u"0.60", u"0.50",
                                                         u"0.40", u"0.30", u"0.20"};
// Entries of levels 4 and 5 follow the previous entry on its own line.
constexpr int deepestLevelOnNewLine = 3;
// An entry's text but for its address, frequency and date, and the date's.
constexpr QStringView entryFixed = u"<url>\r\n<loc></loc>\r\n<priority>1.00</priority>\r\n"
                                   u"<changefreq></changefreq>\r\n</url>";
constexpr QStringView dateFixed = u"<lastmod></lastmod>\r\n";
// The line feeds of an entry with no line feed in its fields, beside the one before it.
constexpr qsizetype entryBreaks = 4;
// No line of an entry is longer than this but those its fields are on ("<priority>0.80
// </priority>"), and those that run across two entries are shorter ("</url><url>").
constexpr qsizetype fixedLineLength = 25;

// Adds to `out` the lines of `text` longer than `length`, where `text` starts in line
// `line`: each line that ends in a line feed of `text`, bar the first unless `fromStart`.
void addLongLines(QStringView text, qsizetype line, bool fromStart, qsizetype length,
                  std::vector<qsizetype> &out) {
    qsizetype start = fromStart ? 0 : -1;
    for (qsizetype at = text.indexOf(u'\n'); at >= 0; at = text.indexOf(u'\n', at + 1)) {
        qsizetype end = at;
        if (end > start && start >= 0 && text[end - 1] == u'\r')
            --end;
        if (start >= 0 && end - start > length)
            out.push_back(line);
        ++line;
        start = at + 1;
    }
}

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

qsizetype FrozenLinks::addCharacters(qsizetype index, CharacterSet &characters) const {
    const QString escaped = escapedText(at(index));
    characters.add(escaped);
    return escaped.count(u'\n');
}

qsizetype FrozenLinks::lineFeeds(qsizetype index) const {
    return escapedText(at(index)).count(u'\n');
}

void FrozenLinks::addAllCharacters(CharacterSet &characters) const {
    for (qsizetype index = 0; index < count(); ++index)
        addCharacters(index, characters);
}

void CharacterSet::add(QStringView text) {
    char16_t before = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        units[u] = 1;
        if (QChar::isHighSurrogate(before) && QChar::isLowSurrogate(u))
            pairs.insert(QChar::surrogateToUcs4(before, u));
        before = u;
    }
}

QString CharacterSet::text() const {
    QString result;
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (units[c] && !QChar::isSurrogate(c))
            result += QChar(c);
    }
    for (const char32_t c : pairs)
        result += QString::fromUcs4(&c, 1);
    return result;
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
    // How many line feeds come before each piece, and in the whole text after the last; and
    // each character of the text once. Found by findLines(), once.
    mutable std::once_flag linesFound;
    mutable std::vector<qsizetype> breaksBefore;
    mutable QString characters;

    qsizetype pieceCount() const { return qsizetype(offsets.size()) - 1; }
    bool isEntry(qsizetype piece) const { return piece > 0 && piece + 1 < pieceCount(); }

    void findLines() const {
        std::call_once(linesFound, [this] {
            CharacterSet found;
            const qsizetype frequencyBreaks = frequency.count(u'\n');
            std::array<bool, levels> usedLevel{};
            bool anyEntry = false;
            bool anyDate = false;
            breaksBefore.assign(offsets.size(), 0);
            qsizetype breaks = 0;
            for (qsizetype piece = 0; piece < pieceCount(); ++piece) {
                if (!isEntry(piece)) {
                    const QString made = text(piece);
                    found.add(made);
                    breaks += made.count(u'\n');
                } else {
                    const DescribedEntry described = entry(piece);
                    if (described.level < 0) {
                        const QString escaped = escapedText(start);
                        found.add(escaped);
                        breaks += escaped.count(u'\n');
                    } else if (hasChosen) {
                        usedLevel[std::size_t(described.level)] = true;
                        breaks += lists[std::size_t(described.level)]->addCharacters(
                            described.index, found);
                    } else {
                        // Every entry of the list is in the document: its characters are
                        // added at once, below.
                        usedLevel[std::size_t(described.level)] = true;
                        breaks += lists[std::size_t(described.level)]->lineFeeds(described.index);
                    }
                    if (!described.lastmod.isNull()) {
                        anyDate = true;
                        found.add(described.lastmod);
                        breaks += described.lastmod.count(u'\n') + 1;
                    }
                    anyEntry = true;
                    breaks += (ownLine(piece) ? 1 : 0) + entryBreaks + frequencyBreaks;
                }
                breaksBefore[std::size_t(piece) + 1] = breaks;
            }
            if (anyEntry) {
                found.add(entryFixed);
                found.add(frequency);
            }
            if (anyDate)
                found.add(dateFixed);
            for (int level = 0; level < levels; ++level) {
                if (!usedLevel[std::size_t(level)])
                    continue;
                found.add(levelPriorities[std::size_t(level)]);
                if (!hasChosen)
                    lists[std::size_t(level)]->addAllCharacters(found);
            }
            characters = found.text();
        });
    }

    // Whether entry `piece` holds no line feed but its format's, and so has its lines where
    // its format puts them.
    bool regularLines(qsizetype piece, const DescribedEntry &described) const {
        const qsizetype breaks =
            breaksBefore[std::size_t(piece) + 1] - breaksBefore[std::size_t(piece)];
        return breaks ==
               (ownLine(piece) ? 1 : 0) + entryBreaks + (described.lastmod.isNull() ? 0 : 1);
    }

    // Where the line feeds of piece `piece` are, from its start: found by the format for an
    // entry with regular lines, by making the piece otherwise.
    std::vector<qsizetype> breaksIn(qsizetype piece) const {
        std::vector<qsizetype> result;
        if (isEntry(piece)) {
            const DescribedEntry described = entry(piece);
            if (regularLines(piece, described)) {
                const qsizetype own = ownLine(piece) ? 1 : 0;
                const bool dated = !described.lastmod.isNull();
                const qsizetype dateSize = dated ? dateFixed.size() + described.lastmod.size() : 0;
                const qsizetype address = offsets[std::size_t(piece) + 1] -
                                          offsets[std::size_t(piece)] - 2 * own -
                                          entryFixed.size() - frequency.size() - dateSize;
                // Each line of the format ends in CR LF: "<url>", "<loc>", "<lastmod>" if
                // dated, "<priority>" and "<changefreq>".
                qsizetype at = 2 * own;
                if (own)
                    result.push_back(1);
                for (const qsizetype length :
                     {qsizetype(5), 11 + address, dated ? 19 + described.lastmod.size() : -1,
                      qsizetype(25), 25 + frequency.size()}) {
                    if (length < 0)
                        continue;
                    at += length + 2;
                    result.push_back(at - 1);
                }
                return result;
            }
        }
        const QString made = text(piece);
        for (qsizetype at = made.indexOf(u'\n'); at >= 0; at = made.indexOf(u'\n', at + 1))
            result.push_back(at);
        return result;
    }

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
        return (ownLine(piece) ? 2 : 0) + entryFixed.size() + loc + measure(frequency) +
               (dated ? dateFixed.size() + measure(described.lastmod) : 0);
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

qsizetype SitemapDocument::lineCount() const {
    if (!d)
        return 1;
    d->findLines();
    return d->breaksBefore.back() + 1;
}

qsizetype SitemapDocument::lineStart(qsizetype line) const {
    if (!d || line <= 0)
        return 0;
    d->findLines();
    // The line starts after the text's line feed number `line`, counting from 1.
    const std::vector<qsizetype> &before = d->breaksBefore;
    const auto piece =
        qsizetype(std::lower_bound(before.cbegin(), before.cend(), line) - before.cbegin() - 1);
    const std::vector<qsizetype> breaks = d->breaksIn(piece);
    return d->offsets[std::size_t(piece)] +
           breaks[std::size_t(line - before[std::size_t(piece)] - 1)] + 1;
}

qsizetype SitemapDocument::lineEnd(qsizetype line) const {
    if (!d || line + 1 >= lineCount())
        return size();
    // Every line feed of the format follows a carriage return; one in a field may not.
    const qsizetype feed = lineStart(line + 1) - 1;
    const std::vector<qsizetype> &offsets = d->offsets;
    const auto piece =
        qsizetype(std::upper_bound(offsets.cbegin(), offsets.cend(), feed) - offsets.cbegin() - 1);
    const qsizetype start = lineStart(line);
    if (feed == start)
        return feed;
    if (d->isEntry(piece) && !d->regularLines(piece, d->entry(piece))) {
        const QString made = d->text(piece);
        const qsizetype at = feed - offsets[std::size_t(piece)];
        return at > 0 && made.at(at - 1) == u'\r' ? feed - 1 : feed;
    }
    return feed - 1;
}

qsizetype SitemapDocument::lineOf(qsizetype position) const {
    if (!d)
        return 0;
    d->findLines();
    if (position >= size())
        return d->breaksBefore.back();
    position = std::max<qsizetype>(0, position);
    const std::vector<qsizetype> &offsets = d->offsets;
    const auto piece = qsizetype(std::upper_bound(offsets.cbegin(), offsets.cend(), position) -
                                 offsets.cbegin() - 1);
    const std::vector<qsizetype> breaks = d->breaksIn(piece);
    return d->breaksBefore[std::size_t(piece)] +
           (std::lower_bound(breaks.cbegin(), breaks.cend(),
                             position - offsets[std::size_t(piece)]) -
            breaks.cbegin());
}

std::vector<qsizetype> SitemapDocument::linesLongerThan(qsizetype length) const {
    std::vector<qsizetype> result;
    if (!d)
        return result;
    d->findLines();
    if (length < fixedLineLength) {
        // Nearly every line is long: the text is read through.
        constexpr qsizetype stretch = qsizetype(1) << 20;
        qsizetype line = 0;
        qsizetype start = 0;
        char16_t before = 0;
        for (qsizetype from = 0; from < size(); from += stretch) {
            const QString part = mid(from, stretch);
            for (qsizetype at = part.indexOf(u'\n'); at >= 0; at = part.indexOf(u'\n', at + 1)) {
                qsizetype end = from + at;
                if (end > start && (at > 0 ? part[at - 1].unicode() : before) == u'\r')
                    --end;
                if (end - start > length)
                    result.push_back(line);
                ++line;
                start = from + at + 1;
            }
            before = part.back().unicode();
        }
        if (size() - start > length)
            result.push_back(line);
        return result;
    }
    // The head's lines lie wholly within it; past it, only the lines of an entry's fields can
    // be long, and the lines that run from one piece into the next are short.
    addLongLines(d->text(0), 0, true, length, result);
    const qsizetype frequencySize = d->frequency.size();
    for (qsizetype piece = 1; piece + 1 < d->pieceCount(); ++piece) {
        const DescribedEntry described = d->entry(piece);
        const qsizetype first = d->breaksBefore[std::size_t(piece)];
        if (!d->regularLines(piece, described)) {
            addLongLines(d->text(piece), first, false, length, result);
            continue;
        }
        const qsizetype own = d->ownLine(piece) ? 1 : 0;
        const bool dated = !described.lastmod.isNull();
        const qsizetype dateSize = dated ? dateFixed.size() + described.lastmod.size() : 0;
        const qsizetype address = d->offsets[std::size_t(piece) + 1] -
                                  d->offsets[std::size_t(piece)] - 2 * own - entryFixed.size() -
                                  frequencySize - dateSize;
        // <loc>, then <lastmod> if dated, <priority> and <changefreq>.
        qsizetype line = first + own + 1;
        if (address + 11 > length)
            result.push_back(line);
        if (dated && described.lastmod.size() + 19 > length)
            result.push_back(line + 1);
        if (frequencySize + 25 > length)
            result.push_back(line + (dated ? 3 : 2));
    }
    return result;
}

QString SitemapDocument::characters() const {
    if (!d)
        return {};
    d->findLines();
    return d->characters;
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
