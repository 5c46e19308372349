#include "LoadedPages.h"

#include "Crawl.h"
#include "PageRules.h"

// Forwards to a page's document and keeps its facts the first time it is seen complete.
class LoadedPages::Watched final : public HtmlDocument {
public:
    Watched(std::unique_ptr<HtmlDocument> document, LoadedPages &pages, const QString &address)
        : m_document(std::move(document))
        , m_pages(pages)
        , m_address(address) {}

    QString readyState() const override {
        QString state = m_document->readyState();
        if (state == u"complete" && !m_kept) {
            m_kept = true;
            m_pages.m_pages.insert(m_address, m_document->facts());
        }
        return state;
    }
    QStringList links() const override { return m_document->links(); }
    QString failure() const override { return m_document->failure(); }
    PageFacts facts() const override { return m_document->facts(); }

private:
    std::unique_ptr<HtmlDocument> m_document;
    LoadedPages &m_pages;
    const QString m_address;
    mutable bool m_kept = false;
};

LoadedPages::LoadedPages(HtmlEngine &engine, Options options)
    : m_engine(engine)
    , m_options(std::move(options)) {
}

LoadedPages::~LoadedPages() = default;

std::unique_ptr<HtmlDocument> LoadedPages::createDocumentFromUrl(const QString &address) {
    std::unique_ptr<HtmlDocument> document = m_engine.createDocumentFromUrl(address);
    if (!document)
        return nullptr;
    // A page asked for again is judged by its last load.
    m_pages.remove(address);
    return std::make_unique<Watched>(std::move(document), *this, address);
}

std::unique_ptr<HtmlDocument> LoadedPages::createFileFromUrl(const QString &address,
                                                             qint64 maxBytes, int maxRedirects) {
    return m_engine.createFileFromUrl(address, maxBytes, maxRedirects);
}

EntryNote LoadedPages::noteFor(const QString &address, int level) const {
    EntryNote note;
    if (m_options.allowed && !m_options.allowed(address)) {
        note.listed = false;
        return note;
    }
    if (level >= deepestLevel)
        return note;
    const auto page = m_pages.constFind(address);
    if (m_options.indexableOnly && (page == m_pages.cend() || !isIndexable(*page))) {
        note.listed = false;
        return note;
    }
    if (m_options.lastmod && page != m_pages.cend()) {
        if (const std::optional<QDateTime> date = parseHttpDate(page->lastModified, m_options.now))
            note.lastmod = lastmodText(*date);
    }
    return note;
}
