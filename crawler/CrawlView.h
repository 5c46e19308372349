#pragma once

#include "SeenText.h"

#include <QString>

enum class Side { Internal, External };

enum class Pump {
    Poll,          // handle the pending events and return at once
    WaitForEvents, // as Poll, but first wait for an event when none is pending
};

// One turn of this thread's event queue, as `mode` says. After a wait, what the wait brought
// is handled before the turn ends: a result another thread posted (a page parsed on the pool)
// is seen by the crawl at once, whatever the event dispatcher.
void runEventPump(Pump mode);

// The window as the crawl uses it: exactly the operations on its controls and strings that
// the crawl and the link harvest need. The window implements it with its real widgets.
class CrawlView {
public:
    virtual ~CrawlView() = default;

    // The text of the start-address box.
    virtual QString startAddress() const = 0;
    virtual SeenText &seen(Side side) = 0;

    // Adds `address` to the level list of `side`; internal lists keep it in sorted place.
    virtual void addLink(Side side, int level, const QString &address) = 0;
    // The number of entries of the internal list of `level`.
    virtual int linkCount(int level) const = 0;
    // Makes entry `index` of the internal list of `level` the selected one; false when the
    // list has no such entry.
    virtual bool selectLink(int level, int index) = 0;
    // The text of the selected entry of the internal list of `level`; empty when none is.
    virtual QString selectedLink(int level) const = 0;

    virtual QString countCaption(Side side) const = 0;
    virtual void setCountCaption(Side side, const QString &caption) = 0;

    virtual void setBusyPointer(bool busy) = 0;
    virtual void enableBuild() = 0;

    // One turn of the window's event queue. False once the window has been closed: every
    // crawl then stops where it is.
    virtual bool pumpEvents(Pump mode) = 0;
};
