// One HTTP/1.1 request as the self-test's receiver reads it: judged from the
// bytes received so far, with fixed fields and no allocation. A request the
// self-test cannot read whole by its Content-Length is refused with the
// reason, which becomes a failed check.
#pragma once

#include <stdint.h>

namespace host {

const uint32_t kRequestHeadCapacity = 8192;
const uint32_t kRequestBodyCapacity = 2048;  // the plug-in's largest body
const uint32_t kRequestCapacity = kRequestHeadCapacity + kRequestBodyCapacity;

const uint32_t kAuthorizationCapacity = 320;

struct ReceivedRequest {
    char method[16];
    char path[1600];  // the plug-in's longest path is 1535 bytes
    char contentType[128];
    char authorization[kAuthorizationCapacity];
    char userAgent[128];
    char body[kRequestBodyCapacity + 1];
    uint32_t bodyLength;
    uint32_t arrivedMs;  // GetTickCount() once the request was read
    const char *problem;    // null for a request read whole and well formed
};

enum class RequestVerdict { Incomplete, Complete, Refused };

// Judges the first `have` bytes of a connection (at most kRequestCapacity).
// Complete: `request` holds the request line, the three headers the checks
// look at and the body. Refused: `request.problem` says why. Incomplete:
// a whole request needs more bytes.
RequestVerdict JudgeRequest(const char *data, uint32_t have, ReceivedRequest &request);

// Whether `text` begins with `pattern`, '#' standing for any digit.
bool FitsPattern(const char *text, const char *pattern);
// Where the first `needle` in the `length` bytes at `data` ends, or null.
const char *FindAfter(const char *data, uint32_t length, const char *needle);

}  // namespace host
