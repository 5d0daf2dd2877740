#include "delivery/delivery_worker.h"

#include "delivery/json_writer.h"
#include "shell/bridge_core.h"
#include "text/text.h"

namespace {

const WCHAR kUserAgent[] = u"ZELTAN-DOK-Bridge/" ZDB_USER_AGENT_VERSION;
const int kResolveTimeoutMs = 5000;
const int kConnectTimeoutMs = 5000;
const int kSendTimeoutMs = 5000;
const int kReceiveTimeoutMs = 10000;

// UTF-8 to UTF-16 into a fixed field; false when empty, invalid or too long.
template <uint32_t N>
bool Widen(const char *source, WCHAR (&target)[N]) {
    if (source[0] == '\0') return false;
    return MultiByteToWideChar(CP_UTF8, 0, source, -1, target, static_cast<int>(N)) > 0;
}

// Handles of one attempt, closed request first, session last.
struct AttemptHandles {
    HINTERNET session = nullptr;
    HINTERNET connection = nullptr;
    HINTERNET request = nullptr;

    ~AttemptHandles() {
        if (request) WinHttpCloseHandle(request);
        if (connection) WinHttpCloseHandle(connection);
        if (session) WinHttpCloseHandle(session);
    }
};

// Options of every request beyond the timeouts set on the session.
void ConfigureRequest(HINTERNET request) {
    // WinHTTP would follow a redirect by itself and hand the body and the
    // bearer token to whatever host the answer names; a 3xx must instead
    // count as the endpoint's own failed answer.
    DWORD features = WINHTTP_DISABLE_REDIRECTS;
    WinHttpSetOption(request, WINHTTP_OPTION_DISABLE_FEATURE, &features, sizeof features);
    // Some WinHTTP implementations (Wine's among them) bound the wait for the
    // answer's headers by this option alone, not by the receive timeout, so
    // a server that accepts and never answers would hold the worker, and the
    // unload, without limit.
    DWORD headersTimeout = kReceiveTimeoutMs;
    WinHttpSetOption(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, &headersTimeout,
                     sizeof headersTimeout);
}

bool Exchange(const BridgeCore &core, char (&body)[kBodyCapacity], uint32_t &status) {
    WCHAR host[256];
    WCHAR path[1536];
    WCHAR token[256];
    const EndpointAddress &endpoint = core.endpointAddress;
    if (!Widen(endpoint.host, host) || !Widen(endpoint.path, path) ||
        !Widen(core.settings.token, token))
        return false;

    AttemptHandles handles;
    handles.session = WinHttpOpen(kUserAgent, WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!handles.session) return false;
    WinHttpSetTimeouts(handles.session, kResolveTimeoutMs, kConnectTimeoutMs, kSendTimeoutMs,
                       kReceiveTimeoutMs);
    handles.connection = WinHttpConnect(handles.session, host, endpoint.port, 0);
    if (!handles.connection) return false;
    handles.request = WinHttpOpenRequest(handles.connection, u"POST", path, nullptr,
                                         WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES,
                                         endpoint.secure ? WINHTTP_FLAG_SECURE : 0);
    if (!handles.request) return false;
    ConfigureRequest(handles.request);

    WCHAR headers[kHeaderBlockCapacity];
    uint32_t headersLength = BuildHeaderBlock(headers, token);
    DWORD bodyLength = text::Length(body);
    if (!WinHttpSendRequest(handles.request, headers, headersLength, body, bodyLength, bodyLength,
                            0))
        return false;
    if (!WinHttpReceiveResponse(handles.request, nullptr)) return false;
    DWORD code = 0;
    DWORD size = sizeof code;
    if (!WinHttpQueryHeaders(handles.request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &code, &size, WINHTTP_NO_HEADER_INDEX))
        return false;
    status = code;
    return true;
}

void Deliver(BridgeCore &core, const StandEvent &event) {
    for (uint32_t attempt = 1; attempt <= kAttemptsPerEvent; ++attempt) {
        uint32_t status = 0;
        if (AttemptDelivery(core, event, status)) {
            core.LogEvent("Delivered", event, status);
            return;
        }
        core.LogEvent("Delivery failed", event, status);
        if (attempt == kAttemptsPerEvent) {
            if (!core.stopRequested.IsSet()) core.LogEvent("Event abandoned", event, 0);
            return;
        }
        if (core.stopRequested.IsSet()) return;
        Sleep(500u << attempt);  // 1000, 2000, 4000 ms; the stop flag does not cut it short
        if (core.stopRequested.IsSet()) return;
    }
}

}  // namespace

uint32_t BuildHeaderBlock(WCHAR (&block)[kHeaderBlockCapacity], const WCHAR *token) {
    static const WCHAR kFixed[] = u"Content-Type: application/json\r\nAuthorization: Bearer ";
    // The token stops where CR, LF and the terminator still fit behind it.
    const uint32_t kLastTokenPosition = kHeaderBlockCapacity - 4;
    uint32_t n = 0;
    for (const WCHAR *p = kFixed; *p; ++p) block[n++] = *p;
    for (const WCHAR *p = token; *p && n <= kLastTokenPosition; ++p) block[n++] = *p;
    block[n++] = u'\r';
    block[n++] = u'\n';
    block[n] = 0;
    return n;
}

bool AttemptDelivery(const BridgeCore &core, const StandEvent &event, uint32_t &status) {
    status = 0;
    JsonWriter writer;
    BuildEventBody(event, writer);
    if (!writer.ok) return false;
    char body[kBodyCapacity];
    PrepareSendBuffer(writer, body);
    if (!Exchange(core, body, status)) return false;
    return status >= 200 && status <= 299;
}

void DeliverUntilStopped(BridgeCore &core) {
    while (!core.stopRequested.IsSet()) {
        StandEvent event;
        if (!core.queue.TryPop(event)) {
            WaitForSingleObject(core.queue.wakeEvent, kIdleWaitMs);
            continue;
        }
        // Taken just as the unload began: dropped without a line, like
        // every event still queued.
        if (core.stopRequested.IsSet()) break;
        Deliver(core, event);
    }
}

DWORD WINAPI RunDeliveryWorker(void *parameter) {
    BridgeCore &core = *static_cast<BridgeCore *>(parameter);
    DeliverUntilStopped(core);
    // Once the flag is clear a new load may reuse `core`; nothing of it is
    // touched after that.
    HMODULE module = core.workerModule;
    core.workerRunning.Set(false);
    FreeLibraryAndExitThread(module, 0);  // on Windows it does not return
    return 0;
}
