#include "Crawl.h"

#include "CrawlView.h"
#include "HtmlDocument.h"
#include "TextSearch.h"

#include <QCoreApplication>
#include <QLocale>

#include <memory>

namespace {

// Raises a count caption by one, written in plain digits however large. A caption that is
// not a number stays as it is.
void raiseCount(CrawlView &view, Side side) {
    const QString caption = view.countCaption(side);
    // A caption of plain digits, as the crawl writes them, is read without the general
    // number parser, which is most of a link's cost on a big page. Up to 15 digits the
    // count is an exact integer, written the same either way.
    if (!caption.isEmpty() && caption.size() <= 15) {
        qint64 count = 0;
        bool digits = true;
        for (const QChar c : caption) {
            digits = digits && c >= u'0' && c <= u'9';
            count = count * 10 + (c.unicode() - u'0');
        }
        if (digits) {
            view.setCountCaption(side, QString::number(count + 1));
            return;
        }
    }
    bool isNumber = false;
    const double count = caption.toDouble(&isNumber);
    if (isNumber)
        view.setCountCaption(side, QString::number(count + 1, 'f', QLocale::FloatingPointShortest));
}

class Crawl {
public:
    Crawl(CrawlView &view, HtmlEngine &engine)
        : m_view(view)
        , m_engine(engine) {}

    // False when the window closed before the crawl reached its end.
    bool run(QString &strURL) {
        request(strURL);
        m_view.setBusyPointer(true);
        m_view.seen(Side::Internal).reset(m_view.startAddress());
        m_view.seen(Side::External).reset(QString());
        if (!waitForDocument() || !harvestPage(0))
            return false;

        for (int level = 0; level < deepestLevel; ++level) {
            // Entries added to this list from here on are not walked by this crawl.
            const int count = m_view.linkCount(level);
            for (int index = 0; index < count; ++index) {
                if (!m_view.pumpEvents(Pump::Poll))
                    return false;
                // An entry that is gone (New emptied the list) leaves the selection as it is.
                m_view.selectLink(level, index);
                strURL = m_view.selectedLink(level);
                request(strURL);
                if (!waitForDocument() || !harvestPage(level + 1))
                    return false;
            }
        }
        return true;
    }

private:
    // An address that cannot be requested leaves the previous page's document in place, so
    // that page is harvested again.
    void request(const QString &address) {
        if (std::unique_ptr<HtmlDocument> document = m_engine.createDocumentFromUrl(address))
            m_document = std::move(document);
    }

    HtmlDocument &document() {
        if (!m_document)
            m_document = std::make_unique<EmptyDocument>();
        return *m_document;
    }

    bool waitForDocument() {
        while (document().readyState() != u"complete") {
            // The page loads through the event queue, so waiting for its next event costs
            // nothing while the network is slow.
            if (!m_view.pumpEvents(Pump::WaitForEvents))
                return false;
        }
        return true;
    }

    bool harvestPage(int level) {
        const QStringList links = document().links();
        for (const QString &link : links) {
            if (!HarvestLink(m_view, link, level))
                return false;
        }
        return true;
    }

    CrawlView &m_view;
    HtmlEngine &m_engine;
    std::unique_ptr<HtmlDocument> m_document;
};

} // namespace

void runEventPump(Pump mode) {
    if (mode == Pump::Poll) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        return;
    }
    // Qt's own dispatcher (QT_NO_GLIB=1) delivers posted events before it waits, not after:
    // an event posted while it waited would stay queued until something else woke it.
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QCoreApplication::sendPostedEvents();
}

void CrawlSite(CrawlView &view, HtmlEngine &engine, QString &strURL) {
    const bool reachedEnd = Crawl(view, engine).run(strURL);
    view.setBusyPointer(false);
    if (reachedEnd)
        view.enableBuild();
}

bool HarvestLink(CrawlView &view, const QString &objLink, int level) {
    if (!view.pumpEvents(Pump::Poll))
        return false;

    const QString &address = objLink;
    const QString start = view.startAddress();
    // On the start page a link is internal when it holds the start address without its
    // "http://"; deeper down, when " " + link holds it as typed: inside the link, or as a
    // space followed by the link's beginning (a link may be megabytes: no copy is made).
    const bool contained =
        level == 0 ? textPosition(address, QString(start).remove(QStringLiteral("http://"))) > 0
                   : start.isEmpty() || textPosition(address, start) > 0 ||
                         (start.startsWith(u' ') && address.startsWith(QStringView(start).mid(1)));
    const bool hasHash = textPosition(address, u"#") > 0;
    const Side side = contained && !hasHash ? Side::Internal : Side::External;

    SeenText &seen = view.seen(side);
    if (seen.contains(address) || hasHash)
        return true;
    seen.append(address);
    view.addLink(side, level, address);
    raiseCount(view, side);
    return true;
}
