#pragma once
// The main window on the fakes, and acting on modal dialogs from inside their event loop.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QPlainTextEdit>
#include <QTimer>
#include <functional>
#include <stdexcept>
#include <string>

#include "fakes/fakes.h"
#include "gui/main_window.h"

namespace kyr::test {

// A named object that must be there. A missing one (a renamed control, a fault in the
// window) ends the test as a failure, where the first use of a null pointer would crash the
// whole test program.
template <class T = QObject>
T* childOf(const QObject& parent, const char* name) {
    T* found = parent.findChild<T*>(QLatin1String(name));
    if (found == nullptr) throw std::runtime_error(std::string("no object named ") + name);
    return found;
}

struct Window {
    Window() : w(port, timer, clock, scheduler) { w.show(); }
    template <class T = QObject>
    T* find(const char* name) {
        return childOf<T>(w, name);
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
        // A failure inside the dialog closes it, so that the test goes on to its end rather
        // than wait in the dialog's loop.
        const auto failures = [] {
            return ::testing::UnitTest::GetInstance()->current_test_info()->result()->total_part_count();
        };
        const int before = failures();
        try {
            act(modal);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        if (failures() > before && modal->isVisible()) modal->close();
    });
}

}  // namespace kyr::test
