#include "alpaca/http_request.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

namespace kyr::alpaca {
namespace {

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isTokenChar(char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

bool isToken(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), isTokenChar); }

std::string_view trimSpace(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(s.substr(0, prefix.size()), prefix);
}

}  // namespace

bool equalsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

const std::string* HttpRequest::header(std::string_view name) const {
    for (const HttpHeader& h : headers)
        if (equalsNoCase(h.name, name)) return &h.value;
    return nullptr;
}

void HttpRequestParser::reset() {
    state_ = State::NeedMore;
    inBody_ = false;
    started_ = false;
    head_.clear();
    bodyLength_ = 0;
    request_ = HttpRequest{};
    errorStatus_ = 0;
    errorReason_.clear();
}

void HttpRequestParser::fail(int status, std::string reason) {
    state_ = State::Failed;
    errorStatus_ = status;
    errorReason_ = std::move(reason);
}

std::size_t HttpRequestParser::feed(std::string_view bytes) {
    std::size_t used = 0;
    while (used < bytes.size() && state_ == State::NeedMore) {
        if (inBody_) {
            const std::size_t take = std::min(bodyLength_ - request_.body.size(), bytes.size() - used);
            request_.body.append(bytes.substr(used, take));
            used += take;
            if (request_.body.size() == bodyLength_) state_ = State::Done;
            continue;
        }
        const char c = bytes[used++];
        // Empty lines before a request line are skipped (some clients end a body with one).
        if (head_.empty() && (c == '\r' || c == '\n')) continue;
        started_ = true;
        head_.push_back(c);
        if (c == '\n') {
            const std::string_view h = head_;
            if (h.ends_with("\n\n") || h.ends_with("\n\r\n")) {
                parseHead();
                continue;
            }
        }
        if (head_.size() >= limits_.maxHeaderBytes) {
            if (head_.find('\n') == std::string::npos)
                fail(414, "request line too long");
            else
                fail(431, "request headers too large");
        }
    }
    return used;
}

void HttpRequestParser::parseHead() {
    std::string_view rest = head_;
    bool first = true;
    while (!rest.empty() && state_ == State::NeedMore) {
        const std::size_t nl = rest.find('\n');
        std::string_view line = rest.substr(0, nl);
        rest.remove_prefix(nl + 1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (line.find('\r') != std::string_view::npos) return fail(400, "stray carriage return");
        if (line.empty()) break;
        if (first) {
            if (!parseRequestLine(line)) return;
            first = false;
        } else if (!parseHeaderLine(line)) {
            return;
        }
    }
    finishHead();
}

bool HttpRequestParser::parseRequestLine(std::string_view line) {
    const std::size_t sp1 = line.find(' ');
    const std::size_t sp2 = sp1 == std::string_view::npos ? sp1 : line.find(' ', sp1 + 1);
    if (sp2 == std::string_view::npos || line.find(' ', sp2 + 1) != std::string_view::npos) {
        fail(400, "malformed request line");
        return false;
    }
    const std::string_view method = line.substr(0, sp1);
    std::string_view target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    const std::string_view version = line.substr(sp2 + 1);
    if (!isToken(method)) {
        fail(400, "malformed method");
        return false;
    }
    // The absolute form (a proxy's) names the same resource as its path.
    for (std::string_view scheme : {"http://", "https://"}) {
        if (startsWithNoCase(target, scheme)) {
            const std::size_t slash = target.find('/', scheme.size());
            target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
        }
    }
    const bool visible = std::all_of(target.begin(), target.end(), [](char c) {
        return static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F;
    });
    if (target.empty() || target.front() != '/' || !visible) {
        fail(400, "malformed request target");
        return false;
    }
    const auto digit = [](char c) { return c >= '0' && c <= '9'; };
    if (version.size() != 8 || !version.starts_with("HTTP/") || !digit(version[5]) ||
        version[6] != '.' || !digit(version[7])) {
        fail(400, "malformed HTTP version");
        return false;
    }
    if (version[5] != '1') {
        fail(505, "only HTTP/1.x is served");
        return false;
    }
    request_.method = method;
    request_.target = target;
    const std::size_t q = target.find('?');
    request_.path = target.substr(0, q);
    request_.query = q == std::string_view::npos ? std::string_view() : target.substr(q + 1);
    request_.minorVersion = version[7] - '0';
    return true;
}

bool HttpRequestParser::parseHeaderLine(std::string_view line) {
    if (line.front() == ' ' || line.front() == '\t') {
        fail(400, "folded header line");
        return false;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isToken(line.substr(0, colon))) {
        fail(400, "malformed header line");
        return false;
    }
    const std::string_view value = trimSpace(line.substr(colon + 1));
    const bool clean = std::none_of(value.begin(), value.end(), [](char c) {
        return (static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7F;
    });
    if (!clean) {
        fail(400, "control character in a header");
        return false;
    }
    if (request_.headers.size() >= limits_.maxHeaders) {
        fail(431, "too many request headers");
        return false;
    }
    request_.headers.push_back({std::string(line.substr(0, colon)), std::string(value)});
    return true;
}

void HttpRequestParser::finishHead() {
    if (state_ != State::NeedMore) return;
    if (request_.header("Transfer-Encoding")) return fail(501, "transfer codings are not supported");

    // Content-Length: digits only; repeats must agree. Larger than the bound is refused
    // before a byte of the body is read.
    bool haveLength = false;
    std::uint64_t length = 0;
    bool tooLarge = false;
    for (const HttpHeader& h : request_.headers) {
        if (!equalsNoCase(h.name, "Content-Length")) continue;
        if (h.value.empty() || h.value.size() > 20 ||
            !std::all_of(h.value.begin(), h.value.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return fail(400, "malformed Content-Length");
        std::uint64_t v = 0;
        bool over = false;
        for (char c : h.value) {
            if (v > limits_.maxBodyBytes) {
                over = true;
                break;
            }
            v = v * 10 + static_cast<std::uint64_t>(c - '0');
        }
        over = over || v > limits_.maxBodyBytes;
        if (haveLength && (over != tooLarge || (!over && v != length)))
            return fail(400, "conflicting Content-Length");
        haveLength = true;
        length = v;
        tooLarge = over;
    }
    if (tooLarge) return fail(413, "request body too large");

    request_.keepAlive = request_.minorVersion >= 1;
    if (const std::string* conn = request_.header("Connection")) {
        std::string_view rest = *conn;
        while (!rest.empty()) {
            const std::size_t comma = rest.find(',');
            const std::string_view token = trimSpace(rest.substr(0, comma));
            if (equalsNoCase(token, "close")) request_.keepAlive = false;
            if (equalsNoCase(token, "keep-alive") && request_.minorVersion == 0)
                request_.keepAlive = true;
            rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        }
    }
    bodyLength_ = static_cast<std::size_t>(length);
    if (bodyLength_ == 0) {
        state_ = State::Done;
    } else {
        inBody_ = true;
        request_.body.reserve(bodyLength_);
    }
}

}  // namespace kyr::alpaca
