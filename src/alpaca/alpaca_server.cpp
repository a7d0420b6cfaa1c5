#include "alpaca/alpaca_server.h"

#include <array>
#include <system_error>
#include <vector>

#include <asio/buffer.hpp>
#include <asio/post.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

#include "alpaca/alpaca_platform.h"
#include "alpaca/http_response.h"

namespace kyr::alpaca {

using asio::ip::tcp;

// Everything the connections need, kept alive by them: a handler that runs after the server
// has gone finds stopped set and does nothing.
struct AlpacaServer::Shared : std::enable_shared_from_this<Shared> {
    Shared(asio::io_context& io, AlpacaCameraDevice& camera, AlpacaServerOptions o)
        : options(std::move(o)),
          router(camera, options.description,
                 [&io](std::function<void()> f) { asio::post(io, std::move(f)); }),
          acceptor(io),
          retry(io) {}

    void accept();
    std::size_t open();

    AlpacaServerOptions options;
    AlpacaRouter router;
    tcp::acceptor acceptor;
    asio::steady_timer retry;
    std::vector<std::weak_ptr<Connection>> connections;
    bool stopped = false;
};

class AlpacaServer::Connection : public std::enable_shared_from_this<Connection> {
  public:
    Connection(tcp::socket socket, std::shared_ptr<Shared> shared)
        : socket_(std::move(socket)),
          timer_(socket_.get_executor()),
          shared_(std::move(shared)),
          parser_(shared_->options.limits) {}

    void start() { process(); }
    void close();

  private:
    enum class Wait { Idle, Request, Write, Linger };

    void process();
    void read();
    void respond(HttpResponse response, bool keepAlive);
    void afterWrite(const std::error_code& ec, bool close);
    void lingerClose();
    void arm(Wait what, std::chrono::milliseconds after);

    tcp::socket socket_;
    asio::steady_timer timer_;
    std::shared_ptr<Shared> shared_;
    HttpRequestParser parser_;
    std::array<char, 16 * 1024> readBuffer_{};
    std::string pending_;  // read, not yet taken by the parser
    bool busy_ = false;    // a request is with the router or its response being written
    bool reading_ = false;
    bool lingering_ = false;  // answered and closing: what still comes is dropped
    bool closed_ = false;
    bool served_ = false;  // a request has been answered: the client may keep the connection
    Wait waiting_ = Wait::Idle;
    unsigned timerGeneration_ = 0;
    std::size_t drained_ = 0;
    std::string head_;
    std::string body_;
};

void AlpacaServer::Connection::close() {
    if (closed_) return;
    closed_ = true;
    timer_.cancel();
    std::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
}

// Timers are re-armed for each phase; an expiry of an earlier phase finds another generation.
void AlpacaServer::Connection::arm(Wait what, std::chrono::milliseconds after) {
    waiting_ = what;
    const unsigned generation = ++timerGeneration_;
    timer_.expires_after(after);
    timer_.async_wait([self = shared_from_this(), generation](const std::error_code& ec) {
        if (ec || self->closed_ || self->shared_->stopped || generation != self->timerGeneration_)
            return;
        if (self->waiting_ == Wait::Request && !self->busy_) {
            // Too slow: say so, then end the connection.
            self->busy_ = true;
            return self->respond(textResponse(408, "the request did not arrive in time", true),
                                 false);
        }
        self->close();  // idle, a stalled write, or the end of lingering
    });
}

void AlpacaServer::Connection::process() {
    while (!closed_ && !busy_ && !pending_.empty()) {
        const std::size_t used = parser_.feed(pending_);
        pending_.erase(0, used);
        if (parser_.state() == HttpRequestParser::State::Failed) {
            busy_ = true;
            return respond(textResponse(parser_.errorStatus(), parser_.errorReason(), true), false);
        }
        if (parser_.state() == HttpRequestParser::State::Done) {
            busy_ = true;
            ++timerGeneration_;  // no timeout while the camera works on it
            timer_.cancel();
            const bool keepAlive = parser_.request().keepAlive;
            shared_->router.handle(parser_.request(),
                                   [self = shared_from_this(), keepAlive](HttpResponse r) {
                                       self->respond(std::move(r), keepAlive);
                                   });
            return;
        }
    }
    if (closed_ || busy_) return;
    // A connection that never sends a request is as slow as one that stops half way.
    if (!parser_.started())
        arm(Wait::Idle, served_ ? shared_->options.idleTimeout : shared_->options.requestTimeout);
    else if (waiting_ != Wait::Request)
        arm(Wait::Request, shared_->options.requestTimeout);
    read();
}

void AlpacaServer::Connection::read() {
    if (reading_) return;
    reading_ = true;
    socket_.async_read_some(
        asio::buffer(readBuffer_),
        [self = shared_from_this()](const std::error_code& ec, std::size_t n) {
            self->reading_ = false;
            if (self->closed_ || self->shared_->stopped) return;
            if (self->lingering_) {
                self->drained_ += n;
                if (ec || self->drained_ > 1024 * 1024) return self->close();
                return self->read();
            }
            if (ec) return self->close();  // the client has gone
            self->pending_.append(self->readBuffer_.data(), n);
            self->process();
        });
}

void AlpacaServer::Connection::respond(HttpResponse response, bool keepAlive) {
    if (closed_ || shared_->stopped) return;
    response.close = response.close || !keepAlive;
    head_ = responseHead(response, shared_->options.serverHeader);
    body_ = std::move(response.body);
    arm(Wait::Write, shared_->options.writeTimeout);
    const std::array<asio::const_buffer, 2> buffers{asio::buffer(head_), asio::buffer(body_)};
    asio::async_write(socket_, buffers,
                      [self = shared_from_this(), close = response.close](
                          const std::error_code& ec, std::size_t) { self->afterWrite(ec, close); });
}

void AlpacaServer::Connection::afterWrite(const std::error_code& ec, bool close) {
    if (closed_ || shared_->stopped) return;
    ++timerGeneration_;
    timer_.cancel();
    if (ec) return this->close();
    if (close) return lingerClose();
    head_.clear();
    body_.clear();
    parser_.reset();
    waiting_ = Wait::Idle;
    served_ = true;
    busy_ = false;
    process();
}

// After an error the client may still be sending (a body announced too large): closing at
// once could reset the connection before it reads the answer, so what comes is read and
// dropped for a while (at most 2 s and 1 MB).
void AlpacaServer::Connection::lingerClose() {
    lingering_ = true;
    std::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_send, ignored);
    arm(Wait::Linger, std::chrono::milliseconds(2000));
    read();
}

std::size_t AlpacaServer::Shared::open() {
    std::erase_if(connections, [](const std::weak_ptr<Connection>& c) { return c.expired(); });
    return connections.size();
}

void AlpacaServer::Shared::accept() {
    acceptor.async_accept([self = shared_from_this()](const std::error_code& ec,
                                                      tcp::socket socket) {
        if (self->stopped) return;
        if (ec) {
            // Out of descriptors, say: try again shortly rather than spin.
            self->retry.expires_after(std::chrono::milliseconds(100));
            self->retry.async_wait([self](const std::error_code& e) {
                if (!e && !self->stopped) self->accept();
            });
            return;
        }
        if (self->open() >= self->options.maxConnections) {
            std::error_code ignored;
            socket.close(ignored);
        } else {
            auto connection = std::make_shared<Connection>(std::move(socket), self);
            self->connections.push_back(connection);
            connection->start();
        }
        self->accept();
    });
}

AlpacaServer::AlpacaServer(asio::io_context& io, AlpacaCameraDevice& camera,
                           AlpacaServerOptions options)
    : shared_(std::make_shared<Shared>(io, camera, std::move(options))) {
    const tcp::endpoint at(asio::ip::make_address(shared_->options.address),
                           shared_->options.port);
    tcp::acceptor& a = shared_->acceptor;
    a.open(at.protocol());
    prepareListener(a);
    a.bind(at);
    a.listen();
    shared_->accept();
}

AlpacaServer::~AlpacaServer() {
    shared_->stopped = true;
    shared_->router.shutdown();
    std::error_code ignored;
    shared_->acceptor.close(ignored);
    shared_->retry.cancel();
    for (const auto& weak : shared_->connections)
        if (const auto c = weak.lock()) c->close();
}

tcp::endpoint AlpacaServer::endpoint() const { return shared_->acceptor.local_endpoint(); }

std::size_t AlpacaServer::connections() const { return shared_->open(); }

}  // namespace kyr::alpaca
