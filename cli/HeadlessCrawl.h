#pragma once

#include "CrawlLists.h"
#include "HtmlDocument.h"

#include <QElapsedTimer>

class Interruption;

// How progress is shown on stderr.
enum class Progress {
    None,     // errors only
    PerLevel, // a line for each level walked, for a log
    Redrawn,  // one status line redrawn in place, for a terminal
};

// Hands out the engine's documents and keeps what became of the first one, the start page's.
class StartPageWatch final : public HtmlEngine {
public:
    explicit StartPageWatch(HtmlEngine &engine)
        : m_engine(engine) {}

    std::unique_ptr<HtmlDocument> createDocumentFromUrl(const QString &address) override;

    // Why the start page gave no good page, once that is known; null while it is not.
    const QString &failure() const { return m_failure; }

private:
    class Watched;

    HtmlEngine &m_engine;
    bool m_started = false;
    QString m_failure;
};

// The crawl's view without a window: the lists alone, the start address as given, an event
// pump that draws progress and stops the crawl once the run is interrupted or the start page
// has failed.
class HeadlessCrawl final : public CrawlLists {
public:
    HeadlessCrawl(const QString &start, const StartPageWatch &startPage,
                  const Interruption &interruption, Progress progress);

    // Whether the crawl ran to its end.
    bool reachedEnd() const { return m_reachedEnd; }
    // Ends the progress display; what follows on stderr starts on a line of its own.
    void finishProgress();

    QString startAddress() const override { return m_start; }
    bool selectLink(int level, int index) override;
    void setBusyPointer(bool) override {}
    void enableBuild() override { m_reachedEnd = true; }
    bool pumpEvents(Pump mode) override;

private:
    QString status() const;
    void draw();

    const QString m_start;
    const StartPageWatch &m_startPage;
    const Interruption &m_interruption;
    const Progress m_progress;
    bool m_reachedEnd = false;
    bool m_walking = true; // false once the crawl is over: the build selects entries too
    int m_level = -1;      // the level being walked; -1 while the start page loads
    int m_index = 0;
    QElapsedTimer m_sinceStart;
    QElapsedTimer m_sinceDraw;
    QElapsedTimer m_sincePump; // since the last turn of the event queue
    bool m_lineShown = false;
};
