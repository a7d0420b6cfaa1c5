#pragma once
// The main window on the fakes, and acting on modal dialogs from inside their event loop.

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>

#include "fakes/fakes.h"
#include "gui/main_window.h"

namespace kyr::test {

struct Window {
    Window() : w(port, timer, clock, scheduler) { w.show(); }
    template <class T = QObject>
    T* find(const char* name) {
        return w.findChild<T*>(QLatin1String(name));
    }
    QAction* action(const char* name) { return find<QAction>(name); }
    QAbstractButton* button(const char* name) { return find<QAbstractButton>(name); }
    QString text(const char* name) { return find<QPlainTextEdit>(name)->toPlainText(); }

    FakeSerialPort port;
    FakeReplyTimer timer;
    FakeClock clock;
    FakeScheduler scheduler;
    MainWindow w;
};

// Acts on the modal dialog once its nested event loop runs.
inline void whenModal(std::function<void(QWidget*)> act, int triesLeft = 500) {
    QTimer::singleShot(2, [act = std::move(act), triesLeft]() mutable {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || !modal->isVisible()) {
            if (triesLeft > 0) whenModal(std::move(act), triesLeft - 1);
            return;
        }
        act(modal);
    });
}

}  // namespace kyr::test
