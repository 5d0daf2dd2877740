// Where events are posted, parsed from the "Endpoint" setting.
#pragma once

#include <stdint.h>

struct EndpointAddress {
    uint8_t secure;  // 1: https, 0: http (loopback only)
    uint16_t port;
    char host[256];
    char path[1536];  // always begins with '/' after a successful parse
};

// Why an endpoint was refused; the plug-in itself only needs yes or no, the
// test client's settings check says which rule failed.
enum class EndpointVerdict {
    Accepted,
    Empty,
    BadScheme,         // neither "https://" nor "http://"
    PlainNotLoopback,  // "http://" other than to localhost or 127.0.0.1 with ":port"
    NoAuthority,       // nothing between the scheme and the path
    AuthorityTooLong,  // 256 characters or more before the path
    BadPort,           // empty, not digits, 0 or above 65535
    PortTooLong,       // a good number, but in more than seven characters ("00000443")
    EmptyHost,
};

// Accepts "https://host[:port][/path]" and
// "http://localhost:port[/path]" / "http://127.0.0.1:port[/path]".
// Returns false for anything else; `address` then holds partial results
// that nothing may use.
bool ParseEndpointAddress(const char *endpoint, EndpointAddress &address);

// The same parse, telling which rule refused the endpoint.
EndpointVerdict JudgeEndpointAddress(const char *endpoint, EndpointAddress &address);
