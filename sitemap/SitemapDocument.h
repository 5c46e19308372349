#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <array>
#include <memory>
#include <vector>

// Which characters a text holds: each UTF-16 code unit, and each surrogate pair whole.
struct CharacterSet {
    std::vector<unsigned char> units = std::vector<unsigned char>(0x10000);
    QSet<char32_t> pairs;

    void add(QStringView text);
    // Each character once, a surrogate pair as its two code units; no lone surrogate.
    QString text() const;
};

// The addresses of one level list as they stood when a document was built: they stay as
// they are whatever becomes of the list afterwards, emptied by New included. Read from any
// thread once made.
class FrozenLinks {
public:
    virtual ~FrozenLinks() = default;

    virtual qsizetype count() const = 0;
    // REQUIRES: 0 <= index < count().
    virtual QString at(qsizetype index) const = 0;
    // The length of escapedText(at(index)) in UTF-16 code units or in UTF-8 bytes, which a
    // list may know without making the text.
    enum class Units { Utf16, Utf8 };
    virtual qsizetype escapedSize(qsizetype index, Units units) const;
    // Appends escapedText(at(index)) to `out`.
    virtual void appendEscaped(QString &out, qsizetype index) const;
    // Adds the characters of escapedText(at(index)) to `characters`; returns how many line
    // feeds it holds.
    virtual qsizetype addCharacters(qsizetype index, CharacterSet &characters) const;
    // How many line feeds escapedText(at(index)) holds.
    virtual qsizetype lineFeeds(qsizetype index) const;
    // Adds the characters of every entry's escaped text to `characters`.
    virtual void addAllCharacters(CharacterSet &characters) const;
};

// A sitemap document held as what it is made of, not as its text: the start address, the
// frozen level lists and the frequency. Its text (UTF-16, lines ending in CR LF) is made a
// stretch at a time where it is read, so a document of a million entries costs a few bytes
// an entry instead of the hundreds its text would. Copies share one description, which never
// changes; a copy may be read on another thread. A default-made document is empty: its text
// is "".
class SitemapDocument {
public:
    SitemapDocument() = default;

    bool isEmpty() const { return size() == 0; }
    // The text's length in UTF-16 code units.
    qsizetype size() const;
    // `length` code units of the text from `from`, both cut to the text.
    QString mid(qsizetype from, qsizetype length) const;
    QString text() const { return mid(0, size()); }

    // The document's pieces, in order: the head (up to the first entry's "<url>"), one piece
    // for each entry (with the line break before it, if it has one) and the end (the line
    // break before "</urlset>", if any, and "</urlset>"). A piece's text is made afresh.
    qsizetype pieceCount() const;
    QString piece(qsizetype index) const;
    // The length of piece(index) in UTF-8, mostly known without making the piece.
    qsizetype pieceUtf8Size(qsizetype index) const;
    // Whether piece(index) starts with the line break before its entry.
    bool startsWithLineBreak(qsizetype index) const;
    // Whether piece `index` is an entry, and how many of them the document has.
    bool isEntry(qsizetype index) const { return index > 0 && index + 1 < pieceCount(); }

    // The text's lines, each but the last ending in a line feed, told without making the
    // text: each entry's lines are fixed by its fields, and only the pieces whose fields hold
    // line feeds are made to find theirs. The first call reads each address once; later
    // calls cost a search.
    qsizetype lineCount() const;
    // Where line `line` starts. REQUIRES: 0 <= line < lineCount().
    qsizetype lineStart(qsizetype line) const;
    // Where line `line`'s text ends: before its CR LF or LF, or at the end of the text.
    qsizetype lineEnd(qsizetype line) const;
    // The line that holds `position`, from 0 to size().
    qsizetype lineOf(qsizetype position) const;
    // The lines longer than `length` code units (their CR LF or LF left out), in order.
    std::vector<qsizetype> linesLongerThan(qsizetype length) const;
    // Each distinct character of the text once, a surrogate pair as its two code units.
    QString characters() const;

private:
    friend class SitemapWriter;
    struct Description;
    std::shared_ptr<const Description> d;
};

// Element text that keeps the document well-formed whatever an address or the frequency
// holds: "&", "<" and ">" as references (so "&amp;" in an address becomes "&amp;amp;"), and
// any character XML does not allow (control characters, lone surrogates) as U+FFFD.
QString escapedText(const QString &text);
// The length of `text` in UTF-8, a surrogate pair making four bytes. REQUIRES: no lone
// surrogates, which escapedText() leaves none of.
qsizetype utf8Size(QStringView text);

// One entry of a document being described: where it comes from, and what it says beyond its
// address, priority and frequency.
struct DescribedEntry {
    int level; // -1: the start address
    qsizetype index;
    QString lastmod; // null: no <lastmod> line
};

// Makes a SitemapDocument. Entries are named by their level (-1 for the start address) and
// their index in the level's frozen list.
class SitemapWriter {
public:
    // `frequency` as it is to be written, escaped.
    SitemapWriter(const QString &start, const QString &frequency,
                  std::array<std::shared_ptr<const FrozenLinks>, 6> lists);

    // Every entry, the start address first and then the lists in order, none dated.
    SitemapDocument everyEntry() &&;
    // The entries given, in the order given; an entry with a level over 3 follows the one
    // before it on its line, and the first follows the head.
    SitemapDocument entries(std::vector<DescribedEntry> entries) &&;

private:
    SitemapDocument finish(qsizetype pieces) &&;

    std::shared_ptr<SitemapDocument::Description> m_d;
};
