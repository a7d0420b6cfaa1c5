#include "simulator_process.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QStandardPaths>
#include <cstdio>

namespace kyr {

SimulatorProcess::SimulatorProcess() {
    // The simulator's complaints go where the console's own do.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
}

SimulatorProcess::~SimulatorProcess() {
    stop();
}

QString SimulatorProcess::locate(const QString& applicationDir) {
    const QString fromEnv =
        QProcessEnvironment::systemEnvironment().value(QStringLiteral("KYR_SIM"));
    if (!fromEnv.isEmpty()) return fromEnv;
    const QDir dir(applicationDir);
    for (const QString& candidate : {dir.filePath(QStringLiteral("kyr-sim")),
                                     dir.filePath(QStringLiteral("../sim/kyr-sim"))}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return QDir::cleanPath(info.absoluteFilePath());
    }
    // Installed apart from the console (another prefix): the one the shell would run.
    return QStandardPaths::findExecutable(QStringLiteral("kyr-sim"));
}

QString SimulatorProcess::start(const QString& program, const QStringList& extraArgs,
                                int timeoutMs) {
    error_.clear();
    if (program.isEmpty()) {
        error_ = QStringLiteral("kyr-sim not found (set KYR_SIM to its path)");
        return {};
    }
    process_.start(program, QStringList{QStringLiteral("--pty")} + extraArgs);
    if (!process_.waitForStarted(timeoutMs)) {
        error_ = program + QStringLiteral(": ") + process_.errorString();
        return {};
    }
    started_ = true;
    // A bounded wait at start-up only: the first line names the pseudo-terminal.
    const QDeadlineTimer deadline(timeoutMs);
    while (!process_.canReadLine()) {
        const qint64 left = deadline.remainingTime();
        if (left <= 0) {
            error_ = QStringLiteral("kyr-sim did not name its pseudo-terminal in time");
            return {};
        }
        if (!process_.waitForReadyRead(static_cast<int>(left)) && !process_.canReadLine() &&
            process_.state() != QProcess::Running) {
            error_ = QStringLiteral("kyr-sim ended before naming its pseudo-terminal");
            return {};
        }
    }
    const QString path = QString::fromLocal8Bit(process_.readLine()).trimmed();
    if (path.isEmpty()) {
        error_ = QStringLiteral("kyr-sim named no pseudo-terminal");
        return {};
    }
    // Whatever else it prints is passed on, so that its pipe never fills and stalls it.
    QObject::connect(&process_, &QProcess::readyReadStandardOutput, &process_, [this] {
        const QByteArray out = process_.readAllStandardOutput();
        std::fwrite(out.constData(), 1, static_cast<std::size_t>(out.size()), stdout);
        std::fflush(stdout);
    });
    return path;
}

void SimulatorProcess::stop() {
    if (!started_) return;
    started_ = false;
    if (process_.state() == QProcess::NotRunning) return;
    process_.closeWriteChannel();
    if (process_.waitForFinished(2000)) return;
    process_.terminate();
    if (process_.waitForFinished(2000)) return;
    process_.kill();
    process_.waitForFinished(1000);
}

}  // namespace kyr
