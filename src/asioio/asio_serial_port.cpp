#include "asioio/asio_serial_port.h"

#include <array>
#include <deque>
#include <optional>
#include <utility>

#include <asio/connect.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/serial_port.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "asioio/line_parity.h"
#include "link/port_map.h"
#include "link/rfc2217.h"

namespace kyr {

using asio::ip::tcp;

namespace {

std::string millis(std::chrono::milliseconds t) {
    return std::to_string(t.count()) + " ms";
}

void applyToDevice(asio::serial_port& port, const LineSettings& s) {
    using B = asio::serial_port_base;
    std::error_code ec;
    const auto check = [&ec](const char* what) {
        if (ec) throw SerialError(std::string("cannot set ") + what + ": " + ec.message());
    };
    port.set_option(B::baud_rate(static_cast<unsigned>(s.baud)), ec);
    check("baud rate");
    port.set_option(B::character_size(static_cast<unsigned>(s.dataBits)), ec);
    check("data bits");
    port.set_option(LineParity(s.parity), ec);
    check("parity");
    port.set_option(B::stop_bits(s.stopBits == 2 ? B::stop_bits::two : B::stop_bits::one), ec);
    check("stop bits");
    port.set_option(B::flow_control(B::flow_control::none), ec);
    check("flow control");
}

}  // namespace

// One opening of the port: its device or socket, what is queued to write and what came.
// Handlers keep it alive; once the port lets it go (owner null) they do nothing more.
struct AsioSerialPort::Session : std::enable_shared_from_this<Session> {
    enum class Phase { Connecting, Negotiating, Settings, Open };

    Session(asio::io_context& io, AsioSerialPort* port) : owner(port), resolver(io), timer(io) {}

    bool attached() const { return owner != nullptr && owner->session_.get() == this; }
    void startRead();
    void onRead(const std::error_code& ec, std::size_t n);
    void write(std::vector<std::uint8_t> wire);
    void writeNext();
    // The line's own bytes, as the wire carries them.
    void sendLine(std::span<const std::uint8_t> bytes);
    // Telnet: moves on once the server has answered what the phase waits for.
    void advance();
    void requestSettings(const LineSettings& s);
    void awaitAnswer(std::chrono::milliseconds within, std::string what);
    void disarm();
    void fail(const std::string& why);
    // Let go by the port: closes once what is queued has been written.
    void release();
    void closeStreams();

    AsioSerialPort* owner;
    std::string where;
    std::optional<asio::serial_port> serial;
    std::optional<tcp::socket> socket;
    tcp::resolver resolver;
    asio::steady_timer timer;  // the opening's deadline, or a settings answer's
    std::optional<Rfc2217Client> telnet;
    Phase phase = Phase::Open;
    bool awaitingSettings = false;      // the server's answers to line settings are due
    bool settingsAgain = false;         // settings changed while the last ones were being answered
    unsigned deadline = 0;              // the timer's generation
    std::vector<std::uint8_t> pending;  // line bytes not yet read
    std::vector<std::uint8_t> held;     // line bytes written before the line was open
    std::deque<std::vector<std::uint8_t>> writes;
    bool writing = false;
    bool reading = false;
    bool closed = false;
    std::array<std::uint8_t, 4096> buffer{};
};

void AsioSerialPort::Session::startRead() {
    if (reading || closed) return;
    reading = true;
    const auto done = [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
        self->reading = false;
        self->onRead(ec, n);
    };
    if (serial)
        serial->async_read_some(asio::buffer(buffer), done);
    else
        socket->async_read_some(asio::buffer(buffer), done);
}

void AsioSerialPort::Session::onRead(const std::error_code& ec, std::size_t n) {
    if (!attached()) return;  // closed: what came after is not the console's
    if (ec) {
        if (serial) return fail(where + ": the device is gone (" + ec.message() + ")");
        return fail(where + (ec == asio::error::eof
                                 ? std::string(": the server closed the connection")
                                 : ": " + ec.message()));
    }
    const std::span<const std::uint8_t> wire(buffer.data(), n);
    if (telnet) {
        std::vector<std::uint8_t> reply;
        telnet->receive(wire, pending, reply);
        if (!reply.empty()) write(std::move(reply));
        advance();
        if (!attached()) return;
    } else {
        pending.insert(pending.end(), wire.begin(), wire.end());
    }
    // Line bytes that came with the telnet answers wait until the line is open.
    if (phase == Phase::Open && !pending.empty()) {
        owner->raise(kCommEventReceive);
        if (!attached()) return;  // the console closed the port in its handler
    }
    startRead();
}

void AsioSerialPort::Session::advance() {
    if (phase == Phase::Negotiating) {
        if (telnet->negotiation() == Rfc2217Client::Negotiation::Pending) return;
        if (telnet->negotiation() == Rfc2217Client::Negotiation::Refused)
            return fail(where + ": " + telnet->refusal());
        phase = Phase::Settings;
        requestSettings(owner->lineSettings());
    }
    if (!awaitingSettings || telnet->settingsPending()) return;
    awaitingSettings = false;
    if (!telnet->settingsFault().empty()) return fail(where + ": " + telnet->settingsFault());
    if (settingsAgain) {
        settingsAgain = false;
        return requestSettings(owner->lineSettings());
    }
    disarm();
    if (phase != Phase::Open) {
        phase = Phase::Open;
        sendLine(std::exchange(held, {}));
    }
}

void AsioSerialPort::Session::requestSettings(const LineSettings& s) {
    write(telnet->requestSettings(s));
    awaitingSettings = true;
    // While opening, the opening's deadline covers the answers.
    if (phase == Phase::Open)
        awaitAnswer(owner->connectTimeout_,
                    "the server did not answer the line settings " + lineSettingsText(s));
}

void AsioSerialPort::Session::awaitAnswer(std::chrono::milliseconds within, std::string what) {
    const unsigned generation = ++deadline;
    timer.expires_after(within);
    timer.async_wait([self = shared_from_this(), what = std::move(what), within,
                      generation](const std::error_code& ec) {
        if (ec || generation != self->deadline || !self->attached()) return;
        self->fail(self->where + ": " + what + " within " + millis(within));
    });
}

void AsioSerialPort::Session::disarm() {
    ++deadline;  // an expiry already queued finds another generation
    timer.cancel();
}

void AsioSerialPort::Session::sendLine(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    if (phase != Phase::Open) {
        held.insert(held.end(), bytes.begin(), bytes.end());
        return;
    }
    std::vector<std::uint8_t> wire;
    if (telnet)
        Rfc2217Client::encodeData(bytes, wire);
    else
        wire.assign(bytes.begin(), bytes.end());
    write(std::move(wire));
}

void AsioSerialPort::Session::write(std::vector<std::uint8_t> wire) {
    if (closed || wire.empty()) return;
    writes.push_back(std::move(wire));
    if (!writing) writeNext();
}

void AsioSerialPort::Session::writeNext() {
    if (writes.empty() || closed) {
        writing = false;
        if (!owner && !closed) closeStreams();  // released: the last packet is out
        return;
    }
    writing = true;
    const auto done = [self = shared_from_this()](const std::error_code& ec, std::size_t) {
        if (ec) {
            self->writing = false;
            if (self->attached()) return self->fail(self->where + ": " + ec.message());
            return self->closeStreams();
        }
        self->writes.pop_front();
        self->writeNext();
    };
    // A deque's elements stay where they are while others are added behind them.
    if (serial)
        asio::async_write(*serial, asio::buffer(writes.front()), done);
    else
        asio::async_write(*socket, asio::buffer(writes.front()), done);
}

void AsioSerialPort::Session::fail(const std::string& why) {
    if (attached()) owner->lost(why);
}

void AsioSerialPort::Session::release() {
    owner = nullptr;
    disarm();
    resolver.cancel();
    if (phase != Phase::Open || !writing) return closeStreams();
    // The packet written just before closing (the link-off request) still goes out; a line
    // that does not take it within a second is closed regardless.
    timer.expires_after(std::chrono::seconds(1));
    timer.async_wait([self = shared_from_this()](const std::error_code& ec) {
        if (!ec) self->closeStreams();
    });
}

void AsioSerialPort::Session::closeStreams() {
    if (closed) return;
    closed = true;
    disarm();
    std::error_code ignored;
    if (serial) serial->close(ignored);
    if (socket) {
        socket->shutdown(tcp::socket::shutdown_both, ignored);
        socket->close(ignored);
    }
}

// ---------------------------------------------------------------- the port

AsioSerialPort::AsioSerialPort(asio::io_context& io, std::string path)
    : io_(io), path_(std::move(path)) {}

AsioSerialPort::~AsioSerialPort() {
    dropHandler();
    if (session_) std::exchange(session_, nullptr)->release();
}

bool AsioSerialPort::opening() const {
    return session_ && session_->phase != Session::Phase::Open;
}

bool AsioSerialPort::noDelay() const {
    if (!session_ || !session_->socket || !session_->socket->is_open()) return false;
    tcp::no_delay option;
    std::error_code ec;
    session_->socket->get_option(option, ec);
    return !ec && option.value();
}

bool AsioSerialPort::networkLine() const {
    return session_ && session_->socket.has_value();
}

void AsioSerialPort::setPortOpen(bool open) {
    if (!open) {
        if (session_) std::exchange(session_, nullptr)->release();
        return;
    }
    if (session_) throw SerialError("port already open");
    if (path_.empty()) throw SerialError("no device for COM" + std::to_string(commPort()));
    auto s = std::make_shared<Session>(io_, this);
    s->where = path_;
    if (!isNetworkPath(path_)) {
        std::error_code ec;
        s->serial.emplace(io_);
        s->serial->open(path_, ec);
        if (ec) throw SerialError(path_ + ": " + ec.message());
        try {
            applyToDevice(*s->serial, lineSettings());
        } catch (const SerialError& e) {
            s->closeStreams();
            throw SerialError(path_ + ": " + e.what());
        }
        lastError_.clear();
        session_ = s;
        s->startRead();
        return;
    }
    const auto address = parseTcpAddress(path_);
    if (!address)
        throw SerialError("not a tcp://host:port or rfc2217://host:port address: " + path_);
    lastError_.clear();
    session_ = s;
    s->socket.emplace(io_);
    s->phase = Session::Phase::Connecting;
    s->awaitAnswer(connectTimeout_, address->rfc2217 ? "the line did not open (connection, "
                                                       "telnet negotiation, line settings)"
                                                     : "the connection did not open");
    s->resolver.async_resolve(
        address->host, std::to_string(address->port),
        [s, telnet = address->rfc2217](const std::error_code& ec,
                                       const tcp::resolver::results_type& found) {
            if (!s->attached()) return;
            if (ec) return s->fail(s->where + ": " + ec.message());
            asio::async_connect(*s->socket, found,
                                [s, telnet](const std::error_code& e, const tcp::endpoint&) {
                                    if (!s->attached()) return;
                                    if (e) return s->fail(s->where + ": " + e.message());
                                    // Every request waits for its answer: a delayed write
                                    // costs a round trip.
                                    std::error_code ignored;
                                    s->socket->set_option(tcp::no_delay(true), ignored);
                                    if (telnet) {
                                        s->telnet.emplace();
                                        s->phase = Session::Phase::Negotiating;
                                        s->write(s->telnet->start());
                                    } else {
                                        s->disarm();
                                        s->phase = Session::Phase::Open;
                                        s->sendLine(std::exchange(s->held, {}));
                                    }
                                    s->startRead();
                                });
        });
}

void AsioSerialPort::applySettings(const LineSettings& settings) {
    if (!session_) return;
    Session& s = *session_;
    if (s.serial) return applyToDevice(*s.serial, settings);
    if (!s.telnet) return;  // raw TCP: the far end's settings are not ours to set
    if (s.awaitingSettings) {
        s.settingsAgain = true;  // after the answers to the last ones
        return;
    }
    // Negotiating: the settings kept are sent once the server has agreed.
    if (s.phase == Session::Phase::Open) s.requestSettings(settings);
}

std::vector<std::uint8_t> AsioSerialPort::input() {
    if (!session_ || session_->phase != Session::Phase::Open) return {};
    return std::exchange(session_->pending, {});
}

void AsioSerialPort::output(std::span<const std::uint8_t> bytes) {
    if (session_) session_->sendLine(bytes);
}

void AsioSerialPort::lost(const std::string& why) {
    lastError_ = why;
    if (session_) {
        const auto s = std::exchange(session_, nullptr);
        s->owner = nullptr;
        s->closeStreams();
    }
    raise(kCommEventDeviceLost);
}

}  // namespace kyr
