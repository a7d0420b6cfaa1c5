#pragma once
// ser2net in front of a serial device, for the tests and the timing bench: the shipped
// configuration with the device and two free ports of 127.0.0.1 filled in.

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace kyr::test {

class Ser2NetProcess {
  public:
    Ser2NetProcess() = default;
    ~Ser2NetProcess() { stop(); }
    Ser2NetProcess(const Ser2NetProcess&) = delete;
    Ser2NetProcess& operator=(const Ser2NetProcess&) = delete;

    // Starts ser2net with `configTemplate` (contrib/ser2net.yaml) serving `device` and waits
    // (bounded) until both its ports listen. False with error() saying why.
    bool start(const QString& configTemplate, const QString& device);
    // Ends it (its connections drop).
    void stop();

    QString error() const { return error_; }
    // tcp://127.0.0.1:PORT and rfc2217://127.0.0.1:PORT
    QString rawPath() const { return QStringLiteral("tcp://127.0.0.1:%1").arg(rawPort_); }
    QString rfc2217Path() const {
        return QStringLiteral("rfc2217://127.0.0.1:%1").arg(rfc2217Port_);
    }

  private:
    bool startOnce(const QString& program, const QString& config);

    QProcess process_;
    QTemporaryDir dir_;
    int rawPort_ = 0, rfc2217Port_ = 0;
    QString error_;
};

}  // namespace kyr::test
