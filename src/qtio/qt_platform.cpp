#include "qt_platform.h"

#include <QDate>
#include <QLocale>
#include <QTime>
#include <chrono>

#include "host_text.h"

namespace kyr {

QtReplyTimer::QtReplyTimer() {
    timer_.setInterval(100);  // the design-time interval; every use sets its own
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        if (onTick_) onTick_();
    });
}

void QtReplyTimer::setEnabled(bool enabled) {
    if (enabled)
        timer_.start();
    else
        timer_.stop();
}

void QtReplyTimer::setInterval(int ms) {
    // A zero interval would tick on every pass of the event loop.
    timer_.setInterval(ms < 1 ? 1 : ms);
}

void QtScheduler::callLater(int ms, std::function<void()> fn) {
    const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms < 0 ? 0 : ms);
    callAt(due, std::move(fn));
}

void QtScheduler::callAt(std::chrono::steady_clock::time_point due, std::function<void()> fn) {
    // A coarse single-shot timer may fire up to 5% early: a wait is never shorter than asked.
    using namespace std::chrono;
    const auto left = ceil<milliseconds>(due - steady_clock::now()).count();
    QTimer::singleShot(static_cast<int>(left < 0 ? 0 : left), Qt::PreciseTimer, &context_,
                       [this, due, fn = std::move(fn)]() mutable {
                           if (steady_clock::now() < due) {
                               callAt(due, std::move(fn));
                               return;
                           }
                           if (fn) fn();
                       });
}

std::string QtClock::dateText() {
    return toUiText(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat));
}

std::string QtClock::timeText() {
    const QLocale locale = QLocale::system();
    const QString format = withoutTimeZone(locale.timeFormat(QLocale::LongFormat));
    return toUiText(locale.toString(QTime::currentTime(), format));
}

}  // namespace kyr
