#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGINT and SIGTERM into an event of the event queue: the handler only writes the
// signal's number to a pipe, which wakes a waiting event loop. One at a time per process;
// the signals' previous handling comes back when it goes.
class Interruption final : public QObject {
public:
    Interruption();
    ~Interruption() override;

    // The number of the first signal received, once the event queue has seen it; 0 before.
    int signal() const { return m_signal; }

private:
    void drain();

    int m_pipe[2] = {-1, -1};
    QSocketNotifier *m_notifier = nullptr;
    int m_signal = 0;
};
