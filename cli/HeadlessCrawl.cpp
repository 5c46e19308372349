#include "HeadlessCrawl.h"

#include "Interruption.h"

#include <QCoreApplication>

#include <cstdio>
#include <utility>

namespace {

// The status line is redrawn at most this often.
constexpr qint64 redrawMs = 100;
// While links are filed, the queue is turned at most this often.
constexpr qint64 pollMs = 5;

void writeError(const QString &text) {
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), stderr);
    std::fflush(stderr);
}

} // namespace

// Forwards to the start page's document and reports its outcome the first time it is seen
// complete.
class StartPageWatch::Watched final : public HtmlDocument {
public:
    Watched(std::unique_ptr<HtmlDocument> document, QString &failure)
        : m_document(std::move(document))
        , m_failure(failure) {}

    QString readyState() const override {
        QString state = m_document->readyState();
        if (state == u"complete" && !m_reported) {
            m_reported = true;
            m_failure = m_document->failure();
        }
        return state;
    }
    QStringList links() const override { return m_document->links(); }
    QString failure() const override { return m_document->failure(); }

private:
    std::unique_ptr<HtmlDocument> m_document;
    QString &m_failure;
    mutable bool m_reported = false;
};

std::unique_ptr<HtmlDocument> StartPageWatch::createDocumentFromUrl(const QString &address) {
    std::unique_ptr<HtmlDocument> document = m_engine.createDocumentFromUrl(address);
    if (std::exchange(m_started, true))
        return document;
    if (!document) {
        m_failure = QStringLiteral("the address cannot be requested");
        return nullptr;
    }
    return std::make_unique<Watched>(std::move(document), m_failure);
}

HeadlessCrawl::HeadlessCrawl(const QString &start, const StartPageWatch &startPage,
                             const Interruption &interruption, Progress progress)
    : m_start(start)
    , m_startPage(startPage)
    , m_interruption(interruption)
    , m_progress(progress) {
    m_sinceStart.start();
    m_sinceDraw.start();
}

bool HeadlessCrawl::selectLink(int level, int index) {
    if (m_walking) {
        const bool newLevel = level != m_level;
        m_level = level;
        m_index = index;
        if (newLevel && m_progress == Progress::PerLevel)
            writeError(status() + u'\n');
    }
    return CrawlLists::selectLink(level, index);
}

bool HeadlessCrawl::pumpEvents(Pump mode) {
    // A page's links are filed between two loads, with nothing in flight, and the crawl asks
    // for a turn of the queue before each of them: a turn costs a system call, and here only
    // a signal or the status line may be waiting, which can wait a few milliseconds.
    if (mode == Pump::Poll && m_sincePump.isValid() && m_sincePump.elapsed() < pollMs)
        return m_interruption.signal() == 0 && m_startPage.failure().isNull();
    runEventPump(mode);
    m_sincePump.start();
    if (m_progress == Progress::Redrawn && m_sinceDraw.elapsed() >= redrawMs)
        draw();
    return m_interruption.signal() == 0 && m_startPage.failure().isNull();
}

QString HeadlessCrawl::status() const {
    const QString place = m_level < 0 ? QStringLiteral("start page")
                                      : QStringLiteral("level %1, page %2/%3")
                                            .arg(m_level)
                                            .arg(m_index + 1)
                                            .arg(linkCount(m_level));
    return QStringLiteral("%1, internal %2, external %3, %4 s")
        .arg(place, countCaption(Side::Internal), countCaption(Side::External))
        .arg(double(m_sinceStart.elapsed()) / 1000, 0, 'f', 1);
}

void HeadlessCrawl::draw() {
    m_sinceDraw.restart();
    // Back to the line's start, the old line erased.
    writeError(QStringLiteral("\r\x1b[K") + status());
    m_lineShown = true;
}

void HeadlessCrawl::finishProgress() {
    m_walking = false;
    if (m_lineShown)
        writeError(QStringLiteral("\r\x1b[K"));
    m_lineShown = false;
}
