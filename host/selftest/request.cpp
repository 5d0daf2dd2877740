#include "host/selftest/request.h"

#include "host/digits.h"

#include "text/text.h"

namespace host {

namespace {

bool SameTextIgnoringCase(const char *a, uint32_t length, const char *lowerCase) {
    for (uint32_t i = 0; i < length; ++i) {
        char x = a[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (lowerCase[i] == '\0' || x != lowerCase[i]) return false;
    }
    return lowerCase[length] == '\0';
}

// Copies `length` bytes into `field` whole, or fails: a cut value would
// compare as some other value.
bool CopyWhole(char *field, uint32_t capacity, const char *source, uint32_t length) {
    if (length >= capacity) return false;
    for (uint32_t i = 0; i < length; ++i) field[i] = source[i];
    field[length] = '\0';
    return true;
}

// No Content-Length yet: no value of at most 9 digits is this.
const uint32_t kNoLength = 0xFFFFFFFFu;

// One header line, "Name: value"; keeps the ones the checks look at.
const char *TakeHeader(const char *line, uint32_t length, ReceivedRequest &request,
                       uint32_t &contentLength) {
    uint32_t colon = 0;
    while (colon < length && line[colon] != ':') ++colon;
    if (colon == 0 || colon == length) return "a header line without a name and colon";
    uint32_t start = colon + 1;
    while (start < length && (line[start] == ' ' || line[start] == '\t')) ++start;
    uint32_t end = length;
    while (end > start && (line[end - 1] == ' ' || line[end - 1] == '\t')) --end;
    const char *value = line + start;

    struct Kept {
        const char *name;
        char *field;
        uint32_t capacity;
    } kept[] = {
        {"content-type", request.contentType, sizeof request.contentType},
        {"authorization", request.authorization, sizeof request.authorization},
        {"user-agent", request.userAgent, sizeof request.userAgent},
    };
    for (const Kept &k : kept) {
        if (!SameTextIgnoringCase(line, colon, k.name)) continue;
        if (k.field[0]) return "a header sent twice";
        return CopyWhole(k.field, k.capacity, value, end - start) ? nullptr
                                                                  : "a header value too long";
    }
    if (SameTextIgnoringCase(line, colon, "transfer-encoding"))
        return "a Transfer-Encoding header (the body must come by Content-Length)";
    if (!SameTextIgnoringCase(line, colon, "content-length")) return nullptr;
    if (contentLength != kNoLength) return "Content-Length sent twice";
    if (end - start > 9 || !DecimalValue(value, end - start, contentLength))
        return "a Content-Length that is not a number";
    return nullptr;
}

// "METHOD /path HTTP/1.x"
const char *TakeRequestLine(const char *line, uint32_t length, ReceivedRequest &request) {
    uint32_t space = 0;
    while (space < length && line[space] != ' ') ++space;
    uint32_t pathStart = space + 1;
    uint32_t pathEnd = pathStart;
    while (pathEnd < length && line[pathEnd] != ' ') ++pathEnd;
    if (space == 0 || pathEnd >= length || pathEnd == pathStart) return "a malformed request line";
    const char *version = line + pathEnd + 1;
    // Through a proxy the target is the whole URL: the path follows its authority.
    if (FitsPattern(line + pathStart, "http://") || FitsPattern(line + pathStart, "https://")) {
        pathStart += line[pathStart + 4] == 's' ? 8 : 7;
        while (pathStart < pathEnd && line[pathStart] != '/') ++pathStart;
        if (pathStart == pathEnd) return "a URL without a path";
    }
    if (length - pathEnd - 1 != 8 || !FitsPattern(version, "HTTP/1.#"))
        return "a request line without HTTP/1.x";
    if (!CopyWhole(request.method, sizeof request.method, line, space) ||
        !CopyWhole(request.path, sizeof request.path, line + pathStart, pathEnd - pathStart))
        return "a request line too long";
    return nullptr;
}

RequestVerdict Refuse(ReceivedRequest &request, const char *problem) {
    request.problem = problem;
    return RequestVerdict::Refused;
}

}  // namespace

RequestVerdict JudgeRequest(const char *data, uint32_t have, ReceivedRequest &request) {
    request = ReceivedRequest();
    bool full = have >= kRequestHeadCapacity;
    const char *headEnd = FindAfter(data, full ? kRequestHeadCapacity : have, "\r\n\r\n");
    if (!headEnd && full) return Refuse(request, "a request head over 8192 bytes");
    if (!headEnd) return RequestVerdict::Incomplete;
    uint32_t headLength = static_cast<uint32_t>(headEnd - data);
    uint32_t contentLength = kNoLength;
    for (uint32_t start = 0; start + 2 < headLength;) {
        uint32_t end = start;
        while (!(data[end] == '\r' && data[end + 1] == '\n')) ++end;
        const char *problem = start == 0
            ? TakeRequestLine(data, end, request)
            : TakeHeader(data + start, end - start, request, contentLength);
        if (problem) return Refuse(request, problem);
        start = end + 2;
    }
    if (contentLength == kNoLength) return Refuse(request, "no Content-Length");
    if (contentLength > kRequestBodyCapacity) return Refuse(request, "a body over 2048 bytes");
    uint32_t body = have - headLength;
    if (body > contentLength) return Refuse(request, "bytes beyond Content-Length");
    if (body < contentLength) return RequestVerdict::Incomplete;
    CopyWhole(request.body, sizeof request.body, headEnd, body);  // fits: at most 2048 bytes
    request.bodyLength = body;
    return RequestVerdict::Complete;
}

bool FitsPattern(const char *text, const char *pattern) {
    for (uint32_t i = 0; pattern[i]; ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (pattern[i] == '#' ? !digit : text[i] != pattern[i]) return false;
    }
    return true;
}

const char *FindAfter(const char *data, uint32_t length, const char *needle) {
    uint32_t n = text::Length(needle);
    for (uint32_t i = 0; i + n <= length; ++i) {
        uint32_t k = 0;
        while (k < n && data[i + k] == needle[k]) ++k;
        if (k == n) return data + i + n;
    }
    return nullptr;
}

}  // namespace host
