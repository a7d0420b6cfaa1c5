#pragma once
// kyr-sim as a child of the console: started with --pty, its first line of output is the
// pseudo-terminal to open as COM1; it ends with the console.

#include <QProcess>
#include <QString>
#include <QStringList>

namespace kyr {

class SimulatorProcess {
  public:
    SimulatorProcess();
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Where kyr-sim is: $KYR_SIM, else next to this program, else ../sim/kyr-sim from it
    // (the build folder), else on the PATH; "" if nowhere.
    static QString locate(const QString& applicationDir);

    // Starts the program with "--pty" and the extra arguments and waits (bounded) for the
    // first line of its output. Returns the path, or "" with error() telling why.
    QString start(const QString& program, const QStringList& extraArgs, int timeoutMs = 10000);
    QString error() const { return error_; }

    // Closes its input (kyr-sim then exits by itself) and, if it lingers, terminates it.
    void stop();

  private:
    QProcess process_;
    QString error_;
    bool started_ = false;
};

}  // namespace kyr
