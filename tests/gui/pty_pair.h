#pragma once
// A pseudo-terminal for the serial adapter tests: the test plays the device on the master
// side, the adapter opens the slave path like a serial line.

#include <QByteArray>
#include <string>

namespace kyr::test {

class PtyPair {
  public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& slavePath() const { return slave_; }
    // Device side: bytes to the port, and whatever the port has sent so far (non-blocking).
    bool write(const QByteArray& bytes);
    QByteArray readAvailable();
    // The line settings the slave side is running with.
    struct Line {
        int baud = 0;
        char parity = '?';
        int dataBits = 0;
        int stopBits = 0;
    };
    Line line() const;
    // The line settings of any terminal device, read as stty -F does.
    static Line lineOf(const std::string& path);
    // The device goes away.
    void closeMaster();

  private:
    int master_ = -1;
    std::string slave_;
};

}  // namespace kyr::test
