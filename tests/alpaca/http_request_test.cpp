#include "alpaca/http_request.h"

#include <gtest/gtest.h>

#include "alpaca/form_parameters.h"

namespace kyr::test {
namespace {

using alpaca::HttpRequest;
using alpaca::HttpRequestParser;
using State = HttpRequestParser::State;

TEST(HttpRequestParser, TakesRequestsWholeOrByteByByteAndOneAfterAnother) {
    const std::string wire =
        "\r\nPUT /api/v1/camera/0/binx?a=1 HTTP/1.1\r\nHost: kyr\r\ncontent-length:  6 \r\n\r\n"
        "BinX=2"
        "GET http://kyr:11111/management/apiversions HTTP/1.0\n\n";
    for (std::size_t piece : {wire.size(), std::size_t{1}, std::size_t{7}}) {
        HttpRequestParser parser;
        std::vector<HttpRequest> requests;
        for (std::size_t pos = 0; pos < wire.size();) {
            const std::string_view chunk = std::string_view(wire).substr(pos, piece);
            pos += parser.feed(chunk);
            ASSERT_NE(parser.state(), State::Failed) << parser.errorReason();
            if (parser.state() == State::Done) {
                requests.push_back(parser.request());
                parser.reset();
            }
        }
        ASSERT_EQ(requests.size(), 2u) << piece;
        EXPECT_EQ(requests[0].method, "PUT");
        EXPECT_EQ(requests[0].path, "/api/v1/camera/0/binx");
        EXPECT_EQ(requests[0].query, "a=1");
        EXPECT_EQ(*requests[0].header("HOST"), "kyr");
        EXPECT_EQ(requests[0].body, "BinX=2");
        EXPECT_TRUE(requests[0].keepAlive);
        EXPECT_EQ(requests[1].path, "/management/apiversions");
        EXPECT_FALSE(requests[1].keepAlive);  // HTTP/1.0 without keep-alive
        EXPECT_FALSE(parser.started());
    }
}

TEST(HttpRequestParser, RefusesWhatItCannotServeWithTheMatchingStatus) {
    const std::string hugeHead = "PUT /api/v1/camera/0/connected HTTP/1.1\r\nContent-Length: 104857600\r\n\r\n";
    const struct {
        std::string wire;
        int status;
    } cases[] = {
        {hugeHead + "Connected=true", 413},
        {"\x16\x03\x01junk\r\n\r\n", 400},
        {"GET /  HTTP/1.1\r\n\r\n", 400},
        {"GET nopath HTTP/1.1\r\n\r\n", 400},
        {"GET / HTTP/2.0\r\n\r\n", 505},
        {"PUT / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
        {"PUT / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
        {"PUT / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\n folded: header\r\n\r\n", 400},
        {"GET / HTTP/1.1\r\nBad Name: x\r\n\r\n", 400},
        {"GET /" + std::string(9000, 'a'), 414},
        {"GET / HTTP/1.1\r\nX: " + std::string(9000, 'a'), 431},
    };
    for (const auto& c : cases) {
        HttpRequestParser parser;
        const std::size_t used = parser.feed(c.wire);
        EXPECT_EQ(parser.state(), State::Failed) << c.wire.substr(0, 40);
        EXPECT_EQ(parser.errorStatus(), c.status) << c.wire.substr(0, 40);
        if (c.status == 413) {
            EXPECT_EQ(used, hugeHead.size());  // not a byte of the body
        }
    }
}

TEST(FormParameters, NamesMatchInAnyCaseAndEscapesAreDecoded) {
    const auto p = alpaca::FormParameters::parse("clientid=7&&Name=a+b%21%2b&Empty=&Flag");
    ASSERT_TRUE(p);
    EXPECT_EQ(p->find("ClientID"), "7");
    EXPECT_EQ(p->find("NAME"), "a b!+");
    EXPECT_EQ(p->find("empty"), "");
    EXPECT_EQ(p->find("flag"), "");
    EXPECT_FALSE(p->find("ClientTransactionID"));
    EXPECT_FALSE(alpaca::FormParameters::parse("Duration=%4"));
    EXPECT_FALSE(alpaca::FormParameters::parse("Duration=%zz"));
}

}  // namespace
}  // namespace kyr::test
