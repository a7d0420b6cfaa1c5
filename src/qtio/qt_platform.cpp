#include "qt_platform.h"

#include <QDate>
#include <QLocale>
#include <QTime>

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
    QTimer::singleShot(ms < 0 ? 0 : ms, &context_, [fn = std::move(fn)] {
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
