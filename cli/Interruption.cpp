#include "Interruption.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int writeEnd = -1;
struct sigaction previousInt;
struct sigaction previousTerm;

void onSignal(int number) {
    const char byte = char(number);
    [[maybe_unused]] const ssize_t written = ::write(writeEnd, &byte, 1);
}

} // namespace

Interruption::Interruption() {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        qFatal("no pipe for signals");
    writeEnd = m_pipe[1];
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &Interruption::drain);

    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);
}

Interruption::~Interruption() {
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);
    writeEnd = -1;
    delete m_notifier;
    ::close(m_pipe[0]);
    ::close(m_pipe[1]);
}

void Interruption::drain() {
    char byte = 0;
    while (::read(m_pipe[0], &byte, 1) == 1) {
        if (m_signal == 0)
            m_signal = byte;
    }
}
