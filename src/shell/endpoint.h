// Where events are posted, parsed from the "Endpoint" setting.
#pragma once

#include <stdint.h>

struct EndpointAddress {
    uint8_t secure;  // 1: https, 0: http (loopback only)
    uint16_t port;
    char host[256];
    char path[1536];  // always begins with '/' after a successful parse
};

// Accepts "https://host[:port][/path]" and
// "http://localhost:port[/path]" / "http://127.0.0.1:port[/path]".
// Returns false for anything else; `address` then holds partial results
// that nothing may use.
bool ParseEndpointAddress(const char *endpoint, EndpointAddress &address);
