#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include "SitemapDocument.h"

// The maker's home page: named in every sitemap and opened by the window's credit label.
inline const QString makerHomePage = QStringLiteral("http://www.quillon.example/corvane/");

// The change frequencies offered for a sitemap, as written into it, and the one a sitemap
// gets when none is picked.
inline const QStringList changeFrequencies = {QStringLiteral("Daily"), QStringLiteral("Weekly"),
                                              QStringLiteral("Monthly")};
inline const QString defaultChangeFrequency = QStringLiteral("Weekly");

// The window as the sitemap builder uses it: the start address and the internal level
// lists, walked by selecting each entry in turn.
class SitemapView {
public:
    virtual ~SitemapView() = default;

    virtual QString startAddress() const = 0;
    virtual int linkCount(int level) const = 0;
    virtual bool selectLink(int level, int index) = 0;
    virtual QString selectedLink(int level) const = 0;
    // The list of `level` as it stands, frozen, with its last entry selected if it has any.
    // By default each entry is selected in turn and its text copied.
    virtual std::shared_ptr<const FrozenLinks> frozenLinks(int level);
};

// What the document says of one entry beyond its address, priority and frequency.
struct EntryNote {
    bool listed = true; // false: the entry is left out
    QString lastmod;    // the text of its <lastmod> line; null for none
};

// Decides each entry of a document by its address and the level it was listed at (-1 for the
// start address). The window's document has none: every entry listed, none dated.
class EntryNotes {
public:
    virtual ~EntryNotes() = default;
    virtual EntryNote noteFor(const QString &address, int level) const = 0;
};

// The sitemap document of the start address and the internal lists of levels 0 to 5 as they
// stand, every entry with `frequency` as its change frequency and as `notes` say; described,
// its text made where it is read. Each non-empty list ends with its last entry selected.
// Lines end in CR LF; the text ends with "</urlset>". A <lastmod> line stands between an
// entry's <loc> and priority lines; when entries are left out, the others keep their line
// breaks, but none is written before the first entry.
SitemapDocument BuildSitemap(SitemapView &view, const QString &frequency,
                             const EntryNotes *notes = nullptr);

// A sitemap document cut into parts that each hold at most `maxUrls` entries and `maxBytes`
// bytes of UTF-8, as complete documents of the same form, with the sitemap index that names
// them at the root of the start address's site. One part, and no index, when the document is
// within both limits (an entry over the byte limit alone still gets a part of its own).
struct SitemapSplit {
    QList<QByteArray> parts;
    QByteArray index;
};
// The split of a document's text, which the split of its description (below) must equal.
SitemapSplit SplitSitemap(const QString &document, qsizetype maxUrls, qsizetype maxBytes);

// The same split, planned from a document's pieces, each part's bytes made when asked for:
// a part is the pieces [first, last) between the head and the end, `bytes` long in UTF-8.
// The index names the parts at `root`.
struct SitemapPlan {
    struct Part {
        qsizetype first;
        qsizetype last;
        qsizetype bytes;
    };
    QList<Part> parts;
    QString root;
};
SitemapPlan PlanSitemap(const SitemapDocument &document, qsizetype maxUrls, qsizetype maxBytes);
QByteArray SitemapPart(const SitemapDocument &document, const SitemapPlan::Part &part);
// REQUIRES: the plan has more than one part.
QByteArray SitemapIndex(const SitemapPlan &plan);
