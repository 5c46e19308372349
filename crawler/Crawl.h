#pragma once

#include <QString>

class CrawlView;
class HtmlEngine;

// The deepest level a link is filed at; pages of the levels below it are loaded.
constexpr int deepestLevel = 5;

// One crawl, breadth-first from `strURL`: the start page, then the pages of the internal
// lists of levels 0 to 4 in list order, each page's links filed one level deeper.
// `strURL` ends up holding the address requested last. Runs on the window's thread and
// turns its event queue while it works; returns early only when the window has closed.
void CrawlSite(CrawlView &view, HtmlEngine &engine, QString &strURL);

// Files one link found on a page, at `level` (0 for the links of the start page). False
// when the window has closed during the pass's turn of the event queue.
bool HarvestLink(CrawlView &view, const QString &objLink, int level);
