#include "serial_adapters.h"

#include <QDeadlineTimer>
#include <QMetaObject>
#include <utility>

#include "link/line_settings.h"
#include "link/port_permission.h"

namespace kyr {

namespace {

QSerialPort::Parity qtParity(char p) {
    switch (p) {
        case 'E':
            return QSerialPort::EvenParity;
        case 'O':
            return QSerialPort::OddParity;
        case 'M':
            return QSerialPort::MarkParity;
        case 'S':
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

std::vector<std::uint8_t> toBytes(const QByteArray& data) {
    return std::vector<std::uint8_t>(data.begin(), data.end());
}

}  // namespace

// ---------------------------------------------------------------- QtSerialPort

QtSerialPort::QtSerialPort(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    connect(&serial_, &QSerialPort::readyRead, this, &QtSerialPort::onReadyRead);
    connect(&serial_, &QSerialPort::errorOccurred, this, &QtSerialPort::onError);
}

QtSerialPort::~QtSerialPort() {
    // No events out of a dying adapter.
    dropHandler();
    if (serial_.isOpen()) serial_.close();
}

void QtSerialPort::applySettings(const LineSettings& settings) {
    if (serial_.isOpen()) applyToOpenPort(settings);
}

void QtSerialPort::applyToOpenPort(const LineSettings& s) {
    // Bytes already queued go out before the line changes.
    serial_.flush();
    const auto check = [this](bool ok, const char* what) {
        // A pseudo-terminal or a driver without the pin or speed call is not a fault.
        if (!ok && serial_.error() != QSerialPort::UnsupportedOperationError &&
            serial_.error() != QSerialPort::NoError) {
            const std::string why = serial_.errorString().toStdString();
            serial_.clearError();
            throw SerialError(std::string("cannot set ") + what + ": " + why);
        }
        serial_.clearError();
    };
    serial_.clearError();
    check(serial_.setBaudRate(s.baud), "baud rate");
    check(serial_.setDataBits(static_cast<QSerialPort::DataBits>(s.dataBits)), "data bits");
    check(serial_.setParity(qtParity(s.parity)), "parity");
    check(serial_.setStopBits(s.stopBits == 2 ? QSerialPort::TwoStop : QSerialPort::OneStop),
          "stop bits");
    check(serial_.setFlowControl(QSerialPort::NoFlowControl), "flow control");
}

void QtSerialPort::setPortOpen(bool open) {
    if (!open) {
        lostPending_ = false;
        if (serial_.isOpen()) {
            // A packet written just before closing (the link-off request) still goes out.
            serial_.flush();
            serial_.close();
        }
        return;
    }
    if (serial_.isOpen()) throw SerialError("port already open");
    if (path_.isEmpty()) throw SerialError("no device for COM" + std::to_string(commPort()));
    lostPending_ = false;
    serial_.setPortName(path_);
    serial_.clearError();
    if (!serial_.open(QIODevice::ReadWrite)) {
        std::string why = serial_.errorString().toStdString();
        if (serial_.error() == QSerialPort::PermissionError) why += permissionHint(path_.toStdString());
        serial_.clearError();
        throw SerialError(path_.toStdString() + ": " + why);
    }
    try {
        applyToOpenPort(lineSettings());
    } catch (const SerialError&) {
        serial_.close();
        throw;
    }
}

std::vector<std::uint8_t> QtSerialPort::input() {
    if (!serial_.isOpen()) return {};
    return toBytes(serial_.readAll());
}

void QtSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (!serial_.isOpen() || bytes.empty()) return;
    // Queued in Qt's buffer and written as the line takes it; a failure shows up as an error.
    serial_.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

void QtSerialPort::onReadyRead() {
    if (serial_.bytesAvailable() < threshold_) return;
    raise(kCommEventReceive);
}

void QtSerialPort::onError(QSerialPort::SerialPortError error) {
    switch (error) {
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
            break;
        default:
            return;  // open failures are reported by setPortOpen; pin calls on a pty are fine
    }
    if (!serial_.isOpen() || lostPending_) return;
    // The port stays "open" after the device went away; close it once, outside the signal.
    lostPending_ = true;
    QMetaObject::invokeMethod(this, &QtSerialPort::closeLostPort, Qt::QueuedConnection);
}

void QtSerialPort::closeLostPort() {
    if (!lostPending_) return;  // closed or reopened by the console in the meantime
    lostPending_ = false;
    if (serial_.isOpen()) serial_.close();
    serial_.clearError();
    raise(kCommEventDeviceLost);
}

// ---------------------------------------------------------------- TcpSerialPort

TcpSerialPort::TcpSerialPort(QString path, QObject* parent)
    : QObject(parent), path_(std::move(path)) {
    connect(&socket_, &QTcpSocket::readyRead, this, &TcpSerialPort::onReadyRead);
    connect(&socket_, &QTcpSocket::disconnected, this, &TcpSerialPort::onGone);
    connect(&socket_, &QTcpSocket::errorOccurred, this, &TcpSerialPort::onGone);
}

TcpSerialPort::~TcpSerialPort() {
    dropHandler();
    open_ = false;
    socket_.abort();
}

bool TcpSerialPort::noDelay() {
    // Asks the socket itself, not what was requested.
    return socket_.state() == QAbstractSocket::ConnectedState &&
           socket_.socketOption(QAbstractSocket::LowDelayOption).toInt() != 0;
}

void TcpSerialPort::setPortOpen(bool open) {
    if (!open) {
        lostPending_ = false;
        if (open_) {
            open_ = false;
            socket_.flush();
            socket_.disconnectFromHost();
        }
        telnet_.reset();
        pending_.clear();
        return;
    }
    if (open_) throw SerialError("port already open");
    const std::string path = path_.toStdString();
    const auto address = parseTcpAddress(path);
    if (!address)
        throw SerialError("not a tcp://host:port or rfc2217://host:port address: " + path);
    lostPending_ = false;
    telnet_.reset();
    pending_.clear();
    if (socket_.state() != QAbstractSocket::UnconnectedState) socket_.abort();
    socket_.connectToHost(QString::fromStdString(address->host),
                          static_cast<quint16>(address->port));
    // The only waits in the link: bounded ones, when the user asked for this port or for
    // new settings.
    if (!socket_.waitForConnected(connectTimeoutMs_)) {
        const std::string why = socket_.errorString().toStdString();
        socket_.abort();
        throw SerialError(path + ": " + why);
    }
    socket_.setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (address->rfc2217) {
        try {
            openTelnet();
        } catch (const SerialError&) {
            socket_.abort();
            telnet_.reset();
            pending_.clear();
            throw;
        }
    }
    open_ = true;
    deliverLater();
}

void TcpSerialPort::deliverLater() {
    // Line bytes that came in with the server's answers get a receive event of their own.
    if (pending_.empty()) return;
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (open_ && !pending_.empty()) raise(kCommEventReceive);
        },
        Qt::QueuedConnection);
}

void TcpSerialPort::openTelnet() {
    telnet_.emplace();
    writeWire(telnet_->start());
    awaitServer([this] { return telnet_->negotiation() != Rfc2217Client::Negotiation::Pending; },
                "the server did not answer the telnet negotiation");
    if (telnet_->negotiation() == Rfc2217Client::Negotiation::Refused)
        throw SerialError(path_.toStdString() + ": " + telnet_->refusal());
    sendSettings(lineSettings());
}

void TcpSerialPort::applySettings(const LineSettings& settings) {
    if (!open_ || !telnet_) return;
    try {
        sendSettings(settings);
    } catch (const SerialError&) {
        deliverLater();
        throw;
    }
    deliverLater();
}

void TcpSerialPort::sendSettings(const LineSettings& settings) {
    writeWire(telnet_->requestSettings(settings));
    awaitServer([this] { return !telnet_->settingsPending(); },
                "the server did not answer the line settings " + lineSettingsText(settings));
    if (!telnet_->settingsFault().empty())
        throw SerialError(path_.toStdString() + ": " + telnet_->settingsFault());
}

void TcpSerialPort::awaitServer(const std::function<bool()>& done, const std::string& what) {
    // Line bytes arriving meanwhile are kept for the next receive event; the console is not
    // called back from inside its own call.
    struct Waiting {
        bool& flag;
        explicit Waiting(bool& f) : flag(f) { flag = true; }
        ~Waiting() { flag = false; }
    } waiting(waiting_);
    const QDeadlineTimer deadline(replyTimeoutMs_);
    pump();
    while (!done()) {
        if (socket_.state() != QAbstractSocket::ConnectedState)
            throw SerialError(path_.toStdString() + ": the server closed the connection");
        if (deadline.hasExpired())
            throw SerialError(path_.toStdString() + ": " + what + " within " +
                              std::to_string(replyTimeoutMs_) + " ms");
        socket_.waitForReadyRead(static_cast<int>(deadline.remainingTime()));
        pump();
    }
}

bool TcpSerialPort::pump() {
    if (!telnet_) return socket_.bytesAvailable() > 0;
    const QByteArray wire = socket_.readAll();
    if (wire.isEmpty()) return false;
    const std::size_t before = pending_.size();
    std::vector<std::uint8_t> reply;
    telnet_->receive(std::span(reinterpret_cast<const std::uint8_t*>(wire.constData()),
                               static_cast<std::size_t>(wire.size())),
                     pending_, reply);
    if (!reply.empty()) writeWire(reply);
    return pending_.size() > before;
}

void TcpSerialPort::writeWire(const std::vector<std::uint8_t>& wire) {
    socket_.write(reinterpret_cast<const char*>(wire.data()), static_cast<qint64>(wire.size()));
    socket_.flush();
}

std::vector<std::uint8_t> TcpSerialPort::input() {
    if (!open_) return {};
    if (!telnet_) return toBytes(socket_.readAll());
    pump();
    return std::exchange(pending_, {});
}

void TcpSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (!open_ || bytes.empty()) return;
    if (!telnet_) {
        socket_.write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qint64>(bytes.size()));
        return;
    }
    std::vector<std::uint8_t> wire;
    Rfc2217Client::encodeData(bytes, wire);
    socket_.write(reinterpret_cast<const char*>(wire.data()), static_cast<qint64>(wire.size()));
}

void TcpSerialPort::onReadyRead() {
    if (waiting_) return;  // awaitServer reads for itself
    if (!pump() || !open_) return;
    raise(kCommEventReceive);
}

void TcpSerialPort::onGone() {
    if (!open_ || lostPending_) return;
    lostPending_ = true;
    QMetaObject::invokeMethod(this, &TcpSerialPort::closeLostPort, Qt::QueuedConnection);
}

void TcpSerialPort::closeLostPort() {
    if (!lostPending_) return;
    lostPending_ = false;
    open_ = false;
    socket_.abort();
    telnet_.reset();
    pending_.clear();
    raise(kCommEventDeviceLost);
}

// ---------------------------------------------------------------- RoutingSerialPort

RoutingSerialPort::RoutingSerialPort(PortMap map) : map_(std::move(map)) {}

RoutingSerialPort::~RoutingSerialPort() = default;

RoutingSerialPort::Backend RoutingSerialPort::backend() const {
    if (active_ == nullptr) return Backend::None;
    if (active_ != tcp_.get()) return Backend::Serial;
    return path_.rfind("rfc2217://", 0) == 0 ? Backend::Rfc2217 : Backend::Tcp;
}

void RoutingSerialPort::setSettings(const std::string& settings) {
    if (!parseLineSettings(settings))
        throw SerialError("invalid line settings \"" + settings + "\"");
    if (portOpen()) active_->setSettings(settings);
    settings_ = settings;
}

void RoutingSerialPort::setInputLen(int length) {
    inputLen_ = length;
    if (active_ != nullptr) active_->setInputLen(length);
}

void RoutingSerialPort::setInputMode(InputMode mode) {
    inputMode_ = mode;
    if (active_ != nullptr) active_->setInputMode(mode);
}

void RoutingSerialPort::setInBufferSize(int bytes) {
    inBufferSize_ = bytes;
    if (active_ != nullptr) active_->setInBufferSize(bytes);
}

void RoutingSerialPort::setOutBufferSize(int bytes) {
    outBufferSize_ = bytes;
    if (active_ != nullptr) active_->setOutBufferSize(bytes);
}

void RoutingSerialPort::setRThreshold(int bytes) {
    threshold_ = bytes;
    if (active_ != nullptr) active_->setRThreshold(bytes);
}

void RoutingSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (active_ != nullptr) active_->setPortOpen(false);
        return;
    }
    if (portOpen()) throw SerialError("port already open");
    const std::string path = map_.pathFor(commPort_);
    SerialPort* chosen = nullptr;
    if (isNetworkPath(path)) {
        if (!tcp_) {
            tcp_ = std::make_unique<TcpSerialPort>();
            tcp_->setOnComm([this] { forward(tcp_.get()); });
        }
        tcp_->setPath(QString::fromStdString(path));
        chosen = tcp_.get();
    } else {
        if (!serial_) {
            serial_ = std::make_unique<QtSerialPort>();
            serial_->setOnComm([this] { forward(serial_.get()); });
        }
        serial_->setPath(QString::fromLocal8Bit(path.c_str()));
        chosen = serial_.get();
    }
    active_ = chosen;
    path_ = path;
    chosen->setCommPort(commPort_);
    chosen->setSettings(settings_);
    chosen->setInputLen(inputLen_);
    chosen->setInputMode(inputMode_);
    chosen->setInBufferSize(inBufferSize_);
    chosen->setOutBufferSize(outBufferSize_);
    chosen->setRThreshold(threshold_);
    chosen->setPortOpen(true);
}

std::vector<std::uint8_t> RoutingSerialPort::input() {
    return active_ != nullptr ? active_->input() : std::vector<std::uint8_t>{};
}

void RoutingSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (active_ != nullptr) active_->output(bytes);
}

void RoutingSerialPort::forward(SerialPort* from) {
    // A late event of a backend no longer in use is not the console's business.
    if (from == active_ && handler_) handler_();
}

}  // namespace kyr
