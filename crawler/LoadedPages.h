#pragma once

#include "HtmlDocument.h"
#include "Sitemap.h"

#include <QDateTime>
#include <QHash>

#include <functional>

// Hands out the engine's documents and keeps what each page's load learnt (PageFacts), by the
// address it was asked for; then decides the sitemap's entries by it. The entries of pages
// the crawl loaded (the start address and levels 0 to 4) are left out, with `indexableOnly`,
// unless the page is indexable (PageRules), and get, with `lastmod`, the date of their final
// answer's Last-Modified. Entries of any level whose address `allowed` refuses are left out.
class LoadedPages final : public HtmlEngine, public EntryNotes {
public:
    struct Options {
        bool indexableOnly = false;
        bool lastmod = false;
        std::function<bool(const QString &address)> allowed; // none: every address
        QDateTime now = QDateTime::currentDateTimeUtc();     // reads two-digit years
    };

    LoadedPages(HtmlEngine &engine, Options options);
    ~LoadedPages() override;

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;
    std::unique_ptr<HtmlDocument> createFileFromUrl(const QString &address, qint64 maxBytes,
                                                    int maxRedirects) override;
    EntryNote noteFor(const QString &address, int level) const override;

private:
    class Watched;

    HtmlEngine &m_engine;
    const Options m_options;
    QHash<QString, PageFacts> m_pages; // a loaded page's facts, by the address asked for
};
