#include "shell/endpoint.h"

#include "text/text.h"

namespace {

const uint32_t kLongestAuthority = 255;
// Room for 65535 with two leading zeros. The copy keeps one character more,
// so that a longer port is seen and refused rather than judged by its first
// seven characters, which could name a port the user never wrote.
const uint32_t kLongestPortText = 7;
const uint32_t kPortTextCapacity = kLongestPortText + 2;

bool StartsWith(const char *s, const char *prefix) {
    while (*prefix)
        if (*s++ != *prefix++) return false;
    return true;
}

// Plain HTTP carries the token in clear text, so it may only go to this
// machine, and then always with an explicit port.
bool IsPlainLoopback(const char *authority) {
    return StartsWith(authority, "localhost:") || StartsWith(authority, "127.0.0.1:");
}

// Decimal 1..65535, digits only; judged as soon as it passes 65535.
bool ParsePort(const char *digits, uint16_t &port) {
    if (digits[0] == '\0') return false;
    uint32_t value = 0;
    for (const char *p = digits; *p; ++p) {
        if (*p < '0' || *p > '9') return false;
        value = value * 10 + static_cast<uint32_t>(*p - '0');
        if (value > 65535) return false;
    }
    if (value == 0) return false;
    port = static_cast<uint16_t>(value);
    return true;
}

}  // namespace

bool ParseEndpointAddress(const char *endpoint, EndpointAddress &address) {
    return JudgeEndpointAddress(endpoint, address) == EndpointVerdict::Accepted;
}

EndpointVerdict JudgeEndpointAddress(const char *endpoint, EndpointAddress &address) {
    address.secure = 0;
    address.port = 0;
    address.host[0] = '\0';
    address.path[0] = '\0';

    const char *authority;
    if (StartsWith(endpoint, "https://")) {
        address.secure = 1;
        address.port = 443;
        authority = endpoint + 8;
    } else if (StartsWith(endpoint, "http://")) {
        if (!IsPlainLoopback(endpoint + 7)) return EndpointVerdict::PlainNotLoopback;
        authority = endpoint + 7;
    } else {
        return endpoint[0] ? EndpointVerdict::BadScheme : EndpointVerdict::Empty;
    }

    uint32_t span = 0;
    while (authority[span] && authority[span] != '/') {
        if (++span > kLongestAuthority) return EndpointVerdict::AuthorityTooLong;  // never cut
    }
    if (span == 0) return EndpointVerdict::NoAuthority;

    text::TrimmedCopy(address.host, sizeof address.host, authority, span);
    const char *pathStart = authority + span;
    if (*pathStart)
        text::TrimmedCopy(address.path, pathStart);
    else
        text::TrimmedCopy(address.path, "/");

    for (char *colon = address.host; *colon; ++colon) {
        if (*colon != ':') continue;
        char portText[kPortTextCapacity];
        text::TrimmedCopy(portText, colon + 1);
        *colon = '\0';
        if (!ParsePort(portText, address.port)) return EndpointVerdict::BadPort;
        if (text::Length(portText) > kLongestPortText) return EndpointVerdict::PortTooLong;
        break;
    }
    if (address.host[0] == '\0' || address.path[0] == '\0') return EndpointVerdict::EmptyHost;
    return EndpointVerdict::Accepted;
}
