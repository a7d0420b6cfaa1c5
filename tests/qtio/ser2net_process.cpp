#include "ser2net_process.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

namespace kyr::test {

namespace {

// Two ports nobody listens on just now (the kernel's choice).
bool freePorts(int& a, int& b) {
    QTcpServer first, second;
    if (!first.listen(QHostAddress::LocalHost, 0) || !second.listen(QHostAddress::LocalHost, 0))
        return false;
    a = first.serverPort();
    b = second.serverPort();
    return true;
}

// Whether something listens on 127.0.0.1:port (Linux: the kernel's socket table).
bool listening(int port) {
    QFile f(QStringLiteral("/proc/net/tcp"));
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QString local =
        QStringLiteral("0100007F:%1").arg(port, 4, 16, QLatin1Char('0')).toUpper();
    for (const QByteArray& line : f.readAll().split('\n')) {
        const QList<QByteArray> fields = line.simplified().split(' ');
        if (fields.size() > 3 && fields[1] == local.toLatin1() && fields[3] == "0A") return true;
    }
    return false;
}

// Sets the value of "define: &name VALUE"; false when the template has no such line.
bool define(QString& config, const QString& name, const QString& value) {
    const QString key = QStringLiteral("define: &") + name + QLatin1Char(' ');
    const qsizetype at = config.indexOf(QLatin1Char('\n') + key);
    if (at < 0) return false;
    const qsizetype start = at + 1 + key.size();
    const qsizetype end = config.indexOf(QLatin1Char('\n'), start);
    config.replace(start, end - start, value);
    return true;
}

}  // namespace

bool Ser2NetProcess::start(const QString& configTemplate, const QString& device) {
    error_.clear();
    const QString program = QStandardPaths::findExecutable(
        QStringLiteral("ser2net"),
        {QStringLiteral("/usr/sbin"), QStringLiteral("/usr/local/sbin")});
    if (program.isEmpty()) {
        error_ = QStringLiteral("ser2net is not installed (scripts/install-deps.sh installs it)");
        return false;
    }
    QFile file(configTemplate);
    if (!file.open(QIODevice::ReadOnly)) {
        error_ = QStringLiteral("cannot read ") + configTemplate;
        return false;
    }
    const QString shipped = QString::fromUtf8(file.readAll());
    // A port taken between our look and ser2net's start is retried on new ports.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (!freePorts(rawPort_, rfc2217Port_)) {
            error_ = QStringLiteral("no free TCP ports");
            return false;
        }
        QString config = shipped;
        if (!define(config, QStringLiteral("kyrdevice"), device) ||
            !define(config, QStringLiteral("rawaddress"),
                    QStringLiteral("127.0.0.1,%1").arg(rawPort_)) ||
            !define(config, QStringLiteral("rfc2217address"),
                    QStringLiteral("127.0.0.1,%1").arg(rfc2217Port_))) {
            error_ = configTemplate +
                     QStringLiteral(" lacks the kyrdevice / rawaddress / rfc2217address defines");
            return false;
        }
        if (startOnce(program, config)) return true;
    }
    return false;
}

bool Ser2NetProcess::startOnce(const QString& program, const QString& config) {
    stop();
    const QString path = dir_.filePath(QStringLiteral("ser2net.yaml"));
    QFile out(path);
    if (!dir_.isValid() || !out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        error_ = QStringLiteral("cannot write ") + path;
        return false;
    }
    out.write(config.toUtf8());
    out.close();
    // -d: in the foreground, messages on standard output; -u: no lock files left behind.
    process_.setProcessChannelMode(QProcess::MergedChannels);
    process_.start(program,
                   {QStringLiteral("-d"), QStringLiteral("-u"), QStringLiteral("-c"), path});
    if (!process_.waitForStarted(5000)) {
        error_ = QStringLiteral("ser2net did not start: ") + process_.errorString();
        return false;
    }
    const QDeadlineTimer deadline(10000);
    QByteArray output;
    while (!listening(rawPort_) || !listening(rfc2217Port_)) {
        process_.waitForReadyRead(20);
        output += process_.readAll();
        if (output.contains("Unable to startup network port") ||
            process_.state() == QProcess::NotRunning || deadline.hasExpired()) {
            error_ = QStringLiteral("ser2net did not listen: ") + QString::fromLocal8Bit(output);
            stop();
            return false;
        }
    }
    return true;
}

void Ser2NetProcess::stop() {
    if (process_.state() == QProcess::NotRunning) return;
    process_.terminate();
    if (!process_.waitForFinished(5000)) {
        process_.kill();
        process_.waitForFinished(5000);
    }
}

}  // namespace kyr::test
