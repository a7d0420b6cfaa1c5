#include <gtest/gtest.h>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "event_wait.h"
#include "qtio/qt_platform.h"
#include "qtio/simulator_process.h"

namespace kyr::test {
namespace {

// A stand-in program that behaves like kyr-sim at its edges: names a terminal, runs until
// its input closes.
QString writeScript(const QTemporaryDir& dir, const char* name, const QByteArray& body) {
    const QString path = dir.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("#!/bin/sh\n" + body);
    f.close();
    f.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

TEST(SimulatorProcessTest, ReadsTheFirstLineAndEndsTheChildWithTheConsole) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString args = dir.filePath(QStringLiteral("args"));
    const QString done = dir.filePath(QStringLiteral("done"));
    const QString program = writeScript(dir, "sim",
                                        "echo \"$@\" > '" + args.toLocal8Bit() +
                                            "'\n"
                                            "echo /dev/pts/77\n"
                                            "echo more output\n"
                                            "cat > /dev/null\n"
                                            "touch '" +
                                            done.toLocal8Bit() + "'\n");
    {
        SimulatorProcess sim;
        EXPECT_EQ(sim.start(program, {QStringLiteral("--seed"), QStringLiteral("7")}),
                  QStringLiteral("/dev/pts/77"));
        EXPECT_EQ(sim.error(), QString());
        QFile a(args);
        ASSERT_TRUE(waitFor([&] { return a.exists() && a.size() > 0; }));
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        EXPECT_EQ(a.readAll().trimmed(), QByteArray("--pty --seed 7"));
        EXPECT_FALSE(QFile::exists(done));
    }  // the console ends: the child's input closes and it finishes by itself
    EXPECT_TRUE(QFile::exists(done));

    SimulatorProcess silent;
    EXPECT_EQ(silent.start(writeScript(dir, "quiet", "exit 3\n"), {}), QString());
    EXPECT_FALSE(silent.error().isEmpty());

    SimulatorProcess missing;
    EXPECT_EQ(missing.start(QString(), {}), QString());
    EXPECT_FALSE(missing.error().isEmpty());
}

TEST(SimulatorProcessTest, LocatesTheSimulatorByEnvironmentThenBesideTheProgramThenOnThePath) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray saved = qgetenv("KYR_SIM");
    const QByteArray savedPath = qgetenv("PATH");
    qunsetenv("KYR_SIM");
    const QString bin = dir.filePath(QStringLiteral("gui"));
    ASSERT_TRUE(QDir().mkpath(bin));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("path"))));
    qputenv("PATH", QFile::encodeName(dir.filePath(QStringLiteral("path"))));
    EXPECT_EQ(SimulatorProcess::locate(bin), QString());
    const QString onPath = writeScript(dir, "path/kyr-sim", "exit 0\n");
    EXPECT_EQ(SimulatorProcess::locate(bin), QDir::cleanPath(onPath));
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sim"))));
    const QString sibling = writeScript(dir, "sim/kyr-sim", "exit 0\n");
    EXPECT_EQ(SimulatorProcess::locate(bin), QDir::cleanPath(sibling));
    const QString beside = writeScript(dir, "gui/kyr-sim", "exit 0\n");
    EXPECT_EQ(SimulatorProcess::locate(bin), QDir::cleanPath(beside));
    qputenv("KYR_SIM", "/opt/elsewhere/kyr-sim");
    EXPECT_EQ(SimulatorProcess::locate(bin), QStringLiteral("/opt/elsewhere/kyr-sim"));
    qputenv("PATH", savedPath);
    if (saved.isNull())
        qunsetenv("KYR_SIM");
    else
        qputenv("KYR_SIM", saved);
}

TEST(QtPlatformTest, ReplyTimerTicksIntoItsCallbackAndSchedulerCallsLater) {
    QtReplyTimer timer;
    int ticks = 0;
    timer.setCallback([&] {
        if (++ticks == 3) timer.setEnabled(false);  // as the console stops it from a tick
    });
    EXPECT_FALSE(timer.enabled());
    EXPECT_EQ(timer.interval(), 100);
    timer.setInterval(5);
    EXPECT_EQ(timer.interval(), 5);
    timer.setEnabled(true);
    EXPECT_TRUE(timer.enabled());
    ASSERT_TRUE(waitFor([&] { return !timer.enabled(); }));
    drainEvents();
    EXPECT_EQ(ticks, 3);

    std::vector<int> order;
    {
        QtScheduler scheduler;
        scheduler.callLater(0, [&] { order.push_back(1); });
        scheduler.callLater(1, [&] { order.push_back(2); });
        EXPECT_TRUE(order.empty());  // never from inside the caller
        ASSERT_TRUE(waitFor([&] { return order.size() == 2; }));
        scheduler.callLater(60000, [&] { order.push_back(3); });
    }  // a call still pending when the scheduler goes is dropped
    drainEvents();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
}

}  // namespace
}  // namespace kyr::test
