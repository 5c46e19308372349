#pragma once

#include "CrawlView.h"
#include "LevelListModel.h"
#include "SeenText.h"
#include "Sitemap.h"

#include <array>
#include <memory>

// All the state of a crawl that is not a face's: the twelve level lists with their
// selections, the two count captions and the two seen-lists. It is the crawl's and the
// sitemap's view but for what only a face knows (the start address, the pointer, the Build
// command, the event pump); the window shows these lists, the command line writes them out.
class CrawlLists : public CrawlView, public SitemapView {
public:
    static constexpr int levels = 6;

    CrawlLists();
    ~CrawlLists() override;

    // The level list of `side` at `level`, 0 to levels - 1.
    LevelListModel &list(Side side, int level) const;
    // Empties the lists and sets both counts to "0", as New does; the seen-lists are left
    // to the next crawl, which starts them afresh.
    void clear();

    SeenText &seen(Side side) override;
    void addLink(Side side, int level, const QString &address) override;
    int linkCount(int level) const override;
    bool selectLink(int level, int index) override;
    QString selectedLink(int level) const override;
    std::shared_ptr<const FrozenLinks> frozenLinks(int level) override;
    QString countCaption(Side side) const override;
    // A face that shows the counts overrides this and calls it first.
    void setCountCaption(Side side, const QString &caption) override;

private:
    std::array<std::unique_ptr<LevelListModel>, levels> m_internal;
    std::array<std::unique_ptr<LevelListModel>, levels> m_external;
    std::array<QString, 2> m_captions;
    SeenText strInternalSeen;
    SeenText strExternalSeen;
};
