// Any endpoint text: the parse stays in bounds, and whatever it accepts is
// usable as it stands.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include "shell/endpoint.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    // The settings field holds at most 2047 bytes; an embedded NUL ends it.
    char endpoint[2048];
    size_t n = size < sizeof endpoint - 1 ? size : sizeof endpoint - 1;
    memcpy(endpoint, data, n);
    endpoint[n] = '\0';

    EndpointAddress address;
    if (!ParseEndpointAddress(endpoint, address)) return 0;
    size_t host = strnlen(address.host, sizeof address.host);
    size_t path = strnlen(address.path, sizeof address.path);
    if (host == 0 || host == sizeof address.host) abort();
    if (path == 0 || path == sizeof address.path || address.path[0] != '/') abort();
    if (address.port == 0 || address.secure > 1) abort();
    if (strchr(address.host, ':') || strchr(address.host, '/')) abort();
    if (!address.secure && strcmp(address.host, "localhost") != 0 &&
        strcmp(address.host, "127.0.0.1") != 0)
        abort();  // plain HTTP may only reach this machine
    return 0;
}
