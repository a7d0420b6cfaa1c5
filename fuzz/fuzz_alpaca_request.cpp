// Feeds arbitrary bytes to the Alpaca server's HTTP request parser, whole and in pieces, and
// checks that both give the same requests and errors, that every request stays within the
// bounds, and that pipelined requests are taken one after another.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "alpaca/http_request.h"

using namespace kyr::alpaca;

namespace {
const HttpLimits kLimits{512, 16, 256};

std::vector<std::string> parseAll(std::string_view bytes, std::size_t piece) {
    std::vector<std::string> outcomes;
    HttpRequestParser parser(kLimits);
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::string_view chunk = bytes.substr(pos, std::min(piece, bytes.size() - pos));
        const std::size_t used = parser.feed(chunk);
        if (used > chunk.size()) __builtin_trap();
        pos += used;
        if (parser.state() == HttpRequestParser::State::Done) {
            const HttpRequest& r = parser.request();
            if (r.body.size() > kLimits.maxBodyBytes || r.headers.size() > kLimits.maxHeaders ||
                r.target.size() > kLimits.maxHeaderBytes || r.path.empty() || r.path[0] != '/')
                __builtin_trap();
            outcomes.push_back(r.method + ' ' + r.target + ' ' + std::to_string(r.headers.size()) +
                               (r.keepAlive ? " keep " : " close ") + r.body);
            parser.reset();
        } else if (parser.state() == HttpRequestParser::State::Failed) {
            const int s = parser.errorStatus();
            if (s != 400 && s != 413 && s != 414 && s != 431 && s != 501 && s != 505)
                __builtin_trap();
            outcomes.push_back("error " + std::to_string(s));
            break;
        } else if (used != chunk.size()) {
            __builtin_trap();  // a parser that wants more must take all it is given
        }
    }
    return outcomes;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    const std::size_t step = data[0] % 23 + 1;
    const std::string_view bytes(reinterpret_cast<const char*>(data + 1), size - 1);
    if (parseAll(bytes, std::max<std::size_t>(bytes.size(), 1)) != parseAll(bytes, step))
        __builtin_trap();
    return 0;
}
