#pragma once
// Waiting on the event loop: the condition is what synchronises, the deadline only keeps a
// broken build from hanging.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

namespace kyr::test {

template <class Pred>
bool waitFor(Pred pred, int deadlineMs = 10000) {
    QTimer wake;  // the loop wakes now and then even when nothing arrives
    wake.start(10);
    const QDeadlineTimer deadline(deadlineMs);
    while (!pred()) {
        if (deadline.hasExpired()) return pred();
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// Runs everything already queued (posted calls, ready notifiers) without waiting for more.
inline void drainEvents() {
    for (int i = 0; i < 20; ++i) {
        QCoreApplication::sendPostedEvents();
        QCoreApplication::processEvents(QEventLoop::AllEvents);
    }
}

}  // namespace kyr::test
