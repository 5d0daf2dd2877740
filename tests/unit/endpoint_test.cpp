#include <gtest/gtest.h>

#include <string>

#include "shell/endpoint.h"

namespace {

struct Accepted {
    std::string endpoint;
    uint8_t secure;
    uint16_t port;
    std::string host, path;
};

TEST(Endpoint, AcceptedShapes) {
    const std::string host250(250, 'h');
    const std::string authority255(255, 'a');
    const Accepted cases[] = {
        {"https://example.com", 1, 443, "example.com", "/"},
        {"https://example.com:8443", 1, 8443, "example.com", "/"},
        {"https://example.com:1909", 1, 1909, "example.com", "/"},  // 0 and 9, the digits' ends
        {"https://example.com/stands/in", 1, 443, "example.com", "/stands/in"},
        {"https://example.com:65535/x", 1, 65535, "example.com", "/x"},
        {"https://example.com: 8443 /x", 1, 8443, "example.com", "/x"},
        {"https://example.com: 0000443 /x", 1, 443, "example.com", "/x"},  // 7, blanks aside
        {"https://example.com?a=1", 1, 443, "example.com?a=1", "/"},
        {"https://example.com//x", 1, 443, "example.com", "//x"},
        {"https://example.com/a b ", 1, 443, "example.com", "/a b"},
        {"https:// example.com /x", 1, 443, "example.com", "/x"},
        {"https://" + authority255, 1, 443, authority255, "/"},
        {"https://" + host250 + ":8443", 1, 8443, host250, "/"},
        {"http://localhost:8080/x", 0, 8080, "localhost", "/x"},
        {"http://127.0.0.1:8080/x", 0, 8080, "127.0.0.1", "/x"},
        {"http://127.0.0.1:1", 0, 1, "127.0.0.1", "/"},
    };
    for (const Accepted &c : cases) {
        EndpointAddress a;
        memset(&a, 0x5a, sizeof a);
        ASSERT_TRUE(ParseEndpointAddress(c.endpoint.c_str(), a)) << c.endpoint;
        EXPECT_EQ(a.secure, c.secure) << c.endpoint;
        EXPECT_EQ(a.port, c.port) << c.endpoint;
        EXPECT_EQ(std::string(a.host), c.host) << c.endpoint;
        EXPECT_EQ(std::string(a.path), c.path) << c.endpoint;
    }
}

TEST(Endpoint, RefusedShapes) {
    const std::string refused[] = {
        "",
        "https://",
        "https:///x",
        "https://example.com:/x",       // empty port
        "https://example.com:0",
        "https://example.com:65536",
        "https://example.com:+443",
        "https://example.com:8443abcd",  // fails on its fifth character
        "https://example.com:00000443",  // judged by its first seven: port 44
        "https://example.com:0000443x",  // judged by its first seven: port 443
        "https://example.com:1:2",       // a second colon
        "https://   /x",                 // empty host
        "https://:8443",
        "https://[::1]:8443/x",          // IPv6 literals are not supported
        "https://user:pw@example.com/x",
        "https://" + std::string(256, 'a'),
        "https://" + std::string(251, 'h') + ":8443",
        "HTTPS://example.com",
        "Https://example.com",
        "ftp://example.com",
        "example.com",
        " https://example.com",          // the caller trims; the parser does not
        "http://example.com:80/x",       // plain HTTP leaves this machine: refused
        "http://127.0.0.1/x",            // loopback, but no port
        "http://localhost/x",
        "http://127.0.0.1:/x",
        "http://LOCALHOST:8080/x",
        "http://127.0.0.2:8080/x",
        "http://localhost.example.com:8080/x",
        "http://127.0.0.1:0/x",
    };
    for (const std::string &endpoint : refused) {
        EndpointAddress a;
        EXPECT_FALSE(ParseEndpointAddress(endpoint.c_str(), a)) << endpoint;
    }
}

TEST(Endpoint, VerdictNamesTheRuleThatFailed) {
    struct Case {
        std::string endpoint;
        EndpointVerdict verdict;
    } cases[] = {
        {"", EndpointVerdict::Empty},
        {"ftp://example.com", EndpointVerdict::BadScheme},
        {"HTTPS://example.com", EndpointVerdict::BadScheme},
        {"http://example.com:80/x", EndpointVerdict::PlainNotLoopback},
        {"http://127.0.0.1/x", EndpointVerdict::PlainNotLoopback},
        {"https:///x", EndpointVerdict::NoAuthority},
        {"https://" + std::string(256, 'a'), EndpointVerdict::AuthorityTooLong},
        {"https://example.com:99999", EndpointVerdict::BadPort},
        {"https://example.com:0000443x", EndpointVerdict::BadPort},
        {"https://example.com:00000443", EndpointVerdict::PortTooLong},
        {"http://127.0.0.1:/x", EndpointVerdict::BadPort},
        {"https://:8443", EndpointVerdict::EmptyHost},
        {"https://example.com", EndpointVerdict::Accepted},
    };
    for (const Case &c : cases) {
        EndpointAddress a;
        EXPECT_EQ(JudgeEndpointAddress(c.endpoint.c_str(), a), c.verdict) << c.endpoint;
    }
}

TEST(Endpoint, LongPathsAreCutToTheirField) {
    std::string endpoint = "https://example.com/" + std::string(1599, 'p');
    EndpointAddress a;
    ASSERT_TRUE(ParseEndpointAddress(endpoint.c_str(), a));
    EXPECT_EQ(std::string(a.path), "/" + std::string(1534, 'p'));
}

}  // namespace
