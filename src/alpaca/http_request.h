#pragma once
// HTTP/1.1 requests as kyr-alpaca reads them. The parser is pure and incremental: bytes go in
// as they arrive, a whole request or an error comes out. Header and body sizes are bounded,
// so junk or a huge announced body costs at most the bounds, never the server.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kyr::alpaca {

struct HttpHeader {
    std::string name;
    std::string value;
};

struct HttpRequest {
    std::string method;  // "GET", "PUT", ...
    std::string target;  // as sent
    std::string path;    // the target before '?', not decoded
    std::string query;   // after '?', not decoded
    int minorVersion = 1;
    std::vector<HttpHeader> headers;
    std::string body;
    bool keepAlive = true;

    // The first header of that name (names compare without case), or nullptr.
    const std::string* header(std::string_view name) const;
};

struct HttpLimits {
    std::size_t maxHeaderBytes = 8 * 1024;  // request line and headers together
    std::size_t maxHeaders = 64;
    std::size_t maxBodyBytes = 64 * 1024;  // an Alpaca form is a few hundred bytes
};

class HttpRequestParser {
  public:
    enum class State { NeedMore, Done, Failed };

    explicit HttpRequestParser(HttpLimits limits = {}) : limits_(limits) {}

    // Takes bytes as they arrive and returns how many it used: it stops at the end of a
    // request, so bytes of a pipelined next request wait for reset().
    std::size_t feed(std::string_view bytes);

    State state() const { return state_; }
    // Some bytes of a request have come (a timeout then answers instead of just closing).
    bool started() const { return started_; }
    // When Done.
    const HttpRequest& request() const { return request_; }
    // When Failed: the status to answer (400, 413, 414, 431, 501, 505) and a short reason.
    int errorStatus() const { return errorStatus_; }
    const std::string& errorReason() const { return errorReason_; }

    // Ready for the next request on the same connection.
    void reset();

  private:
    void fail(int status, std::string reason);
    void parseHead();
    bool parseRequestLine(std::string_view line);
    bool parseHeaderLine(std::string_view line);
    void finishHead();

    HttpLimits limits_;
    State state_ = State::NeedMore;
    bool inBody_ = false;
    bool started_ = false;
    std::string head_;
    std::size_t bodyLength_ = 0;
    HttpRequest request_;
    int errorStatus_ = 0;
    std::string errorReason_;
};

// ASCII case-insensitive comparison (header and parameter names).
bool equalsNoCase(std::string_view a, std::string_view b);

}  // namespace kyr::alpaca
