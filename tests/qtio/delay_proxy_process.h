#pragma once
// kyr-delay-proxy in front of a loopback server (ser2net, kyr-sim --tcp), for the tests and the
// timing bench: the console then reaches the server over a slow, uneven link.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kyr::test {

class DelayProxyProcess {
  public:
    DelayProxyProcess() = default;
    ~DelayProxyProcess() { stop(); }
    DelayProxyProcess(const DelayProxyProcess&) = delete;
    DelayProxyProcess& operator=(const DelayProxyProcess&) = delete;

    // Starts `program` in front of `serverPath` ("tcp://127.0.0.1:PORT" or
    // "rfc2217://127.0.0.1:PORT") with the proxy's own options ("--delay", "150", ...), and
    // waits (bounded) for its port. False with error() saying why.
    bool start(const QString& program, const QString& serverPath, const QStringList& options);
    // Ends it (its connections drop).
    void stop();

    QString error() const { return error_; }
    // The server's path with the proxy's port: where the console connects.
    QString path() const { return path_; }

  private:
    QProcess process_;
    QString path_;
    QString error_;
};

}  // namespace kyr::test
