#include "delay_proxy_process.h"

#include <QDeadlineTimer>
#include <QUrl>

namespace kyr::test {

bool DelayProxyProcess::start(const QString& program, const QString& serverPath,
                              const QStringList& options) {
    stop();
    error_.clear();
    QUrl url(serverPath);
    if (url.host().isEmpty() || url.port() <= 0) {
        error_ = QStringLiteral("not a server path: ") + serverPath;
        return false;
    }
    const QString target = url.host() + QLatin1Char(':') + QString::number(url.port());
    // The proxy's messages go to the test's own error output.
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(program, QStringList{QStringLiteral("--target"), target} + options);
    if (!process_.waitForStarted(5000)) {
        error_ = program + QStringLiteral(" did not start: ") + process_.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    while (!process_.canReadLine()) {
        if (process_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            error_ = program + QStringLiteral(" did not listen");
            stop();
            return false;
        }
        process_.waitForReadyRead(50);
    }
    const QString line = QString::fromUtf8(process_.readLine()).trimmed();
    const int port = line.startsWith(QStringLiteral("listening "))
                         ? line.mid(10).toInt()
                         : 0;
    if (port <= 0) {
        error_ = program + QStringLiteral(" said: ") + line;
        stop();
        return false;
    }
    url.setPort(port);
    path_ = url.toString();
    return true;
}

void DelayProxyProcess::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

}  // namespace kyr::test
