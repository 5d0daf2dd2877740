// A scriptable WinHTTP: no network, a record of every call and request.
//
// The worker thread calls in while the test thread inspects, so all state
// sits behind one mutex; a script's stall runs with it released, so that a
// stalled worker never blocks the test that is about to release it.
#include <string.h>

#include <deque>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "standin/kernel_objects.h"
#include "standin/resets.h"
#include "standin/standin.h"

using standin::HttpRequestRecord;
using standin::HttpScript;
using standin::HttpStep;

namespace {

enum class HttpKind { Session, Connection, Request };

const char *CloseCallName(HttpKind kind) {
    switch (kind) {
        case HttpKind::Session:
            return "WinHttpCloseHandle(session)";
        case HttpKind::Connection:
            return "WinHttpCloseHandle(connection)";
        case HttpKind::Request:
            return "WinHttpCloseHandle(request)";
    }
    return "WinHttpCloseHandle(unknown)";
}

// What the handles of one attempt share. The script does not change once
// the attempt has it, so a step may read it without the lock.
struct Attempt {
    HttpScript script;
    std::u16string userAgent;
    int timeouts[4] = {0, 0, 0, 0};
};

struct HttpHandle {
    HttpKind kind;
    std::shared_ptr<Attempt> attempt;
    HttpRequestRecord record;  // what is known so far of the request to come
    bool sent = false;
    bool received = false;
};

struct Double {
    std::mutex mutex;
    std::deque<HttpScript> queued;
    HttpScript fallback;
    std::vector<HttpRequestRecord> requests;
    std::vector<std::string> calls;
    std::unordered_map<HINTERNET, std::shared_ptr<HttpHandle>> open;
};

Double &TheDouble() {
    static Double &instance = *new Double;  // never destroyed; see kernel_objects.cpp
    return instance;
}

std::u16string Text(const WCHAR *text) { return text ? std::u16string(text) : std::u16string(); }

// Call with the lock held: records the call and finds the handle.
std::shared_ptr<HttpHandle> Enter(Double &d, const char *call, HINTERNET handle, HttpKind kind) {
    d.calls.push_back(call);
    auto found = d.open.find(handle);
    if (found == d.open.end() || found->second->kind != kind) return nullptr;
    return found->second;
}

// Takes the lock for Enter. A handle that has not yet been through the step
// `reached` names (a request not sent, or not answered) counts as not found.
std::shared_ptr<HttpHandle> EnterLocked(Double &d, const char *call, HINTERNET handle,
                                        HttpKind kind, bool HttpHandle::*reached = nullptr) {
    std::lock_guard<std::mutex> hold(d.mutex);
    std::shared_ptr<HttpHandle> found = Enter(d, call, handle, kind);
    if (found && reached && !((*found).*reached)) return nullptr;
    return found;
}

// Call without the lock: runs the stall scripted for this step, then says
// whether the step succeeds.
bool Proceed(const Attempt &attempt, HttpStep step) {
    const HttpScript &script = attempt.script;
    if (script.stall && script.stallAt == step) script.stall();
    return !(script.fail && script.failAt == step);
}

HINTERNET AddHandle(Double &d, std::shared_ptr<HttpHandle> handle) {
    HINTERNET key = handle.get();
    std::lock_guard<std::mutex> hold(d.mutex);
    d.open[key] = std::move(handle);
    return key;
}

size_t HeaderLength(const WCHAR *headers, DWORD length) {
    if (!headers) return 0;
    if (length != 0xFFFFFFFFu) return length;  // -1L: up to the terminator
    size_t n = 0;
    while (headers[n]) ++n;
    return n;
}

}  // namespace

HINTERNET WINAPI WinHttpOpen(const WCHAR *userAgent, DWORD, const WCHAR *, const WCHAR *, DWORD) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    auto attempt = std::make_shared<Attempt>();
    {
        std::lock_guard<std::mutex> hold(d.mutex);
        d.calls.push_back("WinHttpOpen");
        if (d.queued.empty()) {
            attempt->script = d.fallback;
        } else {
            attempt->script = d.queued.front();
            d.queued.pop_front();
        }
        attempt->userAgent = Text(userAgent);
    }
    if (!Proceed(*attempt, HttpStep::Open)) return nullptr;
    return AddHandle(d, std::make_shared<HttpHandle>(HttpHandle{HttpKind::Session, attempt, {}}));
}

BOOL WINAPI WinHttpSetTimeouts(HINTERNET session, int resolveTimeout, int connectTimeout,
                               int sendTimeout, int receiveTimeout) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> handle =
        EnterLocked(d, "WinHttpSetTimeouts", session, HttpKind::Session);
    if (!handle || !Proceed(*handle->attempt, HttpStep::SetTimeouts)) return FALSE;
    std::lock_guard<std::mutex> hold(d.mutex);
    int *timeouts = handle->attempt->timeouts;
    timeouts[0] = resolveTimeout;
    timeouts[1] = connectTimeout;
    timeouts[2] = sendTimeout;
    timeouts[3] = receiveTimeout;
    return TRUE;
}

// Only the options the product sets; they belong on a request handle and
// take exactly one DWORD, as on Windows.
BOOL WINAPI WinHttpSetOption(HINTERNET handle, DWORD option, void *buffer, DWORD bufferLength) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    std::shared_ptr<HttpHandle> request = Enter(d, "WinHttpSetOption", handle, HttpKind::Request);
    if (!request || !buffer || bufferLength != sizeof(DWORD)) return FALSE;
    DWORD value;
    memcpy(&value, buffer, sizeof value);
    if (option == WINHTTP_OPTION_DISABLE_FEATURE) {
        if (value & WINHTTP_DISABLE_REDIRECTS) request->record.redirectsDisabled = true;
        return TRUE;
    }
    if (option == WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT) {
        request->record.receiveResponseTimeout = value;
        return TRUE;
    }
    return FALSE;
}

HINTERNET WINAPI WinHttpConnect(HINTERNET session, const WCHAR *serverName,
                                INTERNET_PORT serverPort, DWORD) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> parent =
        EnterLocked(d, "WinHttpConnect", session, HttpKind::Session);
    if (!parent || !serverName || !Proceed(*parent->attempt, HttpStep::Connect)) return nullptr;
    auto connection =
        std::make_shared<HttpHandle>(HttpHandle{HttpKind::Connection, parent->attempt, {}});
    connection->record.host = serverName;
    connection->record.port = serverPort;
    return AddHandle(d, connection);
}

HINTERNET WINAPI WinHttpOpenRequest(HINTERNET connection, const WCHAR *verb,
                                    const WCHAR *objectName, const WCHAR *, const WCHAR *,
                                    const WCHAR **, DWORD flags) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> parent;
    HttpRequestRecord record;
    {
        std::lock_guard<std::mutex> hold(d.mutex);
        parent = Enter(d, "WinHttpOpenRequest", connection, HttpKind::Connection);
        if (parent) record = parent->record;
    }
    if (!parent || !Proceed(*parent->attempt, HttpStep::OpenRequest)) return nullptr;
    record.verb = verb ? Text(verb) : u"GET";  // WinHTTP's default verb
    record.path = Text(objectName);
    record.openRequestFlags = flags;
    return AddHandle(
        d, std::make_shared<HttpHandle>(HttpHandle{HttpKind::Request, parent->attempt, record}));
}

// The request is recorded as it arrives, so a test can see it while a
// stall holds the send.
BOOL WINAPI WinHttpSendRequest(HINTERNET request, const WCHAR *headers, DWORD headersLength,
                               void *optional, DWORD optionalLength, DWORD totalLength, DWORD_PTR) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> handle;
    {
        std::lock_guard<std::mutex> hold(d.mutex);
        handle = Enter(d, "WinHttpSendRequest", request, HttpKind::Request);
        if (!handle) return FALSE;
        HttpRequestRecord record = handle->record;
        record.userAgent = handle->attempt->userAgent;
        memcpy(record.timeouts, handle->attempt->timeouts, sizeof record.timeouts);
        if (headers) record.headers.assign(headers, HeaderLength(headers, headersLength));
        if (optional) record.body.assign(static_cast<const char *>(optional), optionalLength);
        record.totalLength = totalLength;
        d.requests.push_back(record);
    }
    if (!Proceed(*handle->attempt, HttpStep::Send)) return FALSE;
    std::lock_guard<std::mutex> hold(d.mutex);
    handle->sent = true;
    return TRUE;
}

BOOL WINAPI WinHttpReceiveResponse(HINTERNET request, void *) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> handle = EnterLocked(d, "WinHttpReceiveResponse", request,
                                                     HttpKind::Request, &HttpHandle::sent);
    if (!handle || !Proceed(*handle->attempt, HttpStep::Receive)) return FALSE;
    std::lock_guard<std::mutex> hold(d.mutex);
    handle->received = true;
    return TRUE;
}

// Only the numeric status code, and only once a response has been received.
BOOL WINAPI WinHttpQueryHeaders(HINTERNET request, DWORD infoLevel, const WCHAR *, void *buffer,
                                DWORD *bufferLength, DWORD *) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> handle = EnterLocked(d, "WinHttpQueryHeaders", request,
                                                     HttpKind::Request, &HttpHandle::received);
    if (!handle) return FALSE;
    if (infoLevel != (WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER) || !bufferLength)
        return FALSE;
    if (*bufferLength < sizeof(DWORD) || !buffer) {
        *bufferLength = sizeof(DWORD);  // Windows reports the size it needs
        return FALSE;
    }
    if (!Proceed(*handle->attempt, HttpStep::QueryStatus)) return FALSE;
    DWORD status = handle->attempt->script.status;
    memcpy(buffer, &status, sizeof status);
    *bufferLength = sizeof status;
    return TRUE;
}

BOOL WINAPI WinHttpCloseHandle(HINTERNET handle) {
    standin::detail::KernelAllocation platform;  // WinHTTP's heap, not the product's
    Double &d = TheDouble();
    std::shared_ptr<HttpHandle> closing;
    std::lock_guard<std::mutex> hold(d.mutex);
    auto found = d.open.find(handle);
    if (found == d.open.end()) {
        d.calls.push_back("WinHttpCloseHandle(unknown)");
        return FALSE;
    }
    d.calls.push_back(CloseCallName(found->second->kind));
    closing = std::move(found->second);
    d.open.erase(found);
    return TRUE;
}

namespace standin {

void QueueHttpScript(const HttpScript &script) {
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    d.queued.push_back(script);
}

void SetDefaultHttpScript(const HttpScript &script) {
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    d.fallback = script;
}

std::vector<HttpRequestRecord> HttpRequests() {
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    return d.requests;
}

std::vector<std::string> HttpCalls() {
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    return d.calls;
}

int OpenHttpHandles() {
    Double &d = TheDouble();
    std::lock_guard<std::mutex> hold(d.mutex);
    return static_cast<int>(d.open.size());
}

namespace detail {

// Scripts and handles are dropped outside the lock: a script's stall may
// hold captures whose destruction should not run under it.
void ResetHttp() {
    Double &d = TheDouble();
    std::deque<HttpScript> queued;
    HttpScript fallback;
    std::unordered_map<HINTERNET, std::shared_ptr<HttpHandle>> open;
    std::lock_guard<std::mutex> hold(d.mutex);
    queued.swap(d.queued);
    std::swap(fallback, d.fallback);
    open.swap(d.open);
    d.requests.clear();
    d.calls.clear();
}

}  // namespace detail
}  // namespace standin
