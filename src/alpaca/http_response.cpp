#include "alpaca/http_response.h"

namespace kyr::alpaca {

HttpResponse textResponse(int status, std::string message, bool close) {
    HttpResponse r;
    r.status = status;
    r.contentType = "text/plain; charset=utf-8";
    r.body = std::move(message);
    r.close = close;
    return r;
}

std::string_view reasonPhrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 408: return "Request Timeout";
        case 413: return "Content Too Large";
        case 414: return "URI Too Long";
        case 431: return "Request Header Fields Too Large";
        case 500: return "Internal Server Error";
        case 501: return "Not Implemented";
        case 503: return "Service Unavailable";
        case 505: return "HTTP Version Not Supported";
        default: return "Unknown";
    }
}

std::string responseHead(const HttpResponse& response, std::string_view server) {
    std::string head = "HTTP/1.1 " + std::to_string(response.status) + ' ';
    head += reasonPhrase(response.status);
    head += "\r\nServer: ";
    head += server;
    if (!response.contentType.empty()) {
        head += "\r\nContent-Type: ";
        head += response.contentType;
    }
    head += "\r\nContent-Length: " + std::to_string(response.body.size());
    for (const HttpHeader& h : response.headers) head += "\r\n" + h.name + ": " + h.value;
    if (response.close) head += "\r\nConnection: close";
    head += "\r\n\r\n";
    return head;
}

}  // namespace kyr::alpaca
