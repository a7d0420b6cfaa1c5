#pragma once
// An HTTP/1.1 response: the router fills it, the server writes its head and body.

#include <string>
#include <string_view>
#include <vector>

#include "alpaca/http_request.h"

namespace kyr::alpaca {

struct HttpResponse {
    int status = 200;
    std::string contentType;
    std::string body;
    std::vector<HttpHeader> headers;  // beyond Content-Type, Content-Length and Connection
    bool close = false;               // the connection ends after this response
};

// A text/plain response: Alpaca's form for every status but 200.
HttpResponse textResponse(int status, std::string message, bool close = false);

// "OK", "Bad Request", ... for the statuses the server answers.
std::string_view reasonPhrase(int status);

// The status line and headers, up to and with the empty line.
std::string responseHead(const HttpResponse& response, std::string_view server);

}  // namespace kyr::alpaca
