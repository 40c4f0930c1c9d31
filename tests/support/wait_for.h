#pragma once
// Waiting in tests: never a fixed sleep, always a condition with a generous
// upper bound, while the user-interface thread keeps serving its events.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <chrono>
#include <functional>

namespace wp::test {

// Processes events until done() holds; false when the limit passed first.
// Call on the user-interface thread.
inline bool PumpUntil(const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    QDeadlineTimer deadline(limit);
    // Wakes the wait below now and then, for conditions that other threads
    // change without posting anything.
    QTimer tick;
    tick.start(2);
    while (!done()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
    return true;
}

}  // namespace wp::test
