// The self-test's receiver reads each request by its Content-Length from a
// fixed buffer: anything else must come back refused with its reason, so
// that it fails a check instead of passing one or holding the run.
#include "host/selftest/request.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using host::JudgeRequest;
using host::ReceivedRequest;
using host::RequestVerdict;

const std::string kBody = R"({"action":"manual_cancel","callsign":"X"})";

std::string Request(const std::string &headers, const std::string &body = kBody,
                    const std::string &line = "POST /selftest HTTP/1.1") {
    return line + "\r\n" + headers + "\r\n" + body;
}

std::string Usual(const std::string &extra = "") {
    return "Host: 127.0.0.1:1\r\nContent-Type: application/json\r\n"
           "Authorization: Bearer t\r\nUser-Agent: ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION "\r\n"
           "Content-Length: " + std::to_string(kBody.size()) + "\r\n" + extra;
}

RequestVerdict Judge(const std::string &bytes, ReceivedRequest &request) {
    return JudgeRequest(bytes.data(), static_cast<uint32_t>(bytes.size()), request);
}

TEST(SelfTestRequest, AWholeRequestIsReadByItsContentLengthAndNoPrefixPasses) {
    std::string whole = Request(Usual());
    ReceivedRequest request;
    // Every shorter read is only a start: neither accepted nor refused.
    for (size_t cut = 0; cut < whole.size(); ++cut)
        ASSERT_EQ(Judge(whole.substr(0, cut), request), RequestVerdict::Incomplete) << cut;
    ASSERT_EQ(Judge(whole, request), RequestVerdict::Complete) << request.problem;
    EXPECT_STREQ(request.method, "POST");
    EXPECT_STREQ(request.path, "/selftest");
    EXPECT_STREQ(request.contentType, "application/json");
    EXPECT_STREQ(request.authorization, "Bearer t");
    EXPECT_STREQ(request.userAgent, "ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION);
    EXPECT_EQ(std::string(request.body, request.bodyLength), kBody);

    // Header names in any case, blanks around values.
    std::string lower = Request("content-type:\tapplication/json  \r\ncontent-length: " +
                                std::to_string(kBody.size()) + "\r\n");
    ASSERT_EQ(Judge(lower, request), RequestVerdict::Complete) << request.problem;
    EXPECT_STREQ(request.contentType, "application/json");
    EXPECT_STREQ(request.userAgent, "");

    // Through a proxy the target is the whole URL: its path is what a route sees.
    for (const char *url : {"http://127.0.0.1:1/selftest", "https://a/selftest"}) {
        ASSERT_EQ(Judge(Request(Usual(), kBody, std::string("POST ") + url + " HTTP/1.1"), request),
                  RequestVerdict::Complete) << url;
        EXPECT_STREQ(request.path, "/selftest") << url;
    }
}

struct Refusal {
    const char *label;
    std::string bytes;
    const char *problem;  // the reason the receiver must give
};

TEST(SelfTestRequest, EachMalformedOrOversizedRequestIsRefusedWithItsReason) {
    std::string big(host::kRequestBodyCapacity + 1, 'x');
    const Refusal cases[] = {
        {"head never ends", std::string(host::kRequestHeadCapacity, 'a'),
         "a request head over 8192 bytes"},
        {"no Content-Length", Request("Content-Type: application/json\r\n"),
         "no Content-Length"},
        {"Content-Length twice", Request(Usual("Content-Length: 3\r\n")),
         "Content-Length sent twice"},
        {"Content-Length not a number", Request("Content-Length: 4x\r\n", "abcd"),
         "a Content-Length that is not a number"},
        {"Content-Length of ten digits", Request("Content-Length: 0000000004\r\n", "abcd"),
         "a Content-Length that is not a number"},
        {"body over the plug-in's largest",
         Request("Content-Length: " + std::to_string(big.size()) + "\r\n", big),
         "a body over 2048 bytes"},
        {"chunked body", Request("Transfer-Encoding: chunked\r\nContent-Length: 4\r\n", "abcd"),
         "a Transfer-Encoding header (the body must come by Content-Length)"},
        {"more bytes than announced", Request(Usual(), kBody + "!"),
         "bytes beyond Content-Length"},
        {"header sent twice", Request(Usual("User-Agent: other\r\n")), "a header sent twice"},
        {"header without colon", Request(Usual("Garbage\r\n")),
         "a header line without a name and colon"},
        {"header value too long",
         Request("Authorization: " + std::string(320, 'b') + "\r\nContent-Length: 0\r\n", ""),
         "a header value too long"},
        {"no version", Request(Usual(), kBody, "POST /selftest"), "a malformed request line"},
        {"not HTTP/1", Request(Usual(), kBody, "POST /selftest HTTP/2.0"),
         "a request line without HTTP/1.x"},
        {"URL without a path", Request(Usual(), kBody, "POST http://127.0.0.1:1 HTTP/1.1"),
         "a URL without a path"},
        {"method too long", Request(Usual(), kBody, std::string(16, 'P') + " / HTTP/1.1"),
         "a request line too long"},
    };
    for (const Refusal &c : cases) {
        ReceivedRequest request;
        EXPECT_EQ(Judge(c.bytes, request), RequestVerdict::Refused) << c.label;
        EXPECT_STREQ(request.problem, c.problem) << c.label;
    }
}

}  // namespace
