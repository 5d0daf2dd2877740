// The endpoint's grammar at its edges, each on a copy of its own: an
// authority of 255 characters (spaces around the port digits, which are
// trimmed) is used and one of 256 is refused; a port may be written in 7
// characters, not 8; the longest path and token arrive whole; and a module
// path of 259 characters still finds its settings and log.
#include "host/selftest/copies.h"

namespace host {

namespace {

const char kLoaded[] = "Bridge loaded; event worker started";
const char kDisabled[] = "Bridge disabled: Endpoint/Token missing or invalid";
const uint32_t kLongestAuthority = 255;
const uint32_t kPortText = 7;
const uint32_t kLongestPath = 1535;
const uint32_t kLongestToken = 255;

char g_path[1700];  // the longest copy's endpoint path, longer than kept

uint32_t Digits(uint32_t n) {
    uint32_t digits = 1;
    while (n >= 10) n /= 10, ++digits;
    return digits;
}

// "Endpoint=http://127.0.0.1:" then `spaces`, the port as 7 characters
// with leading zeros, and `path`.
void PaddedEndpoint(text::BoundedText &out, const SelfTest &t, uint32_t spaces,
                    const char *path) {
    out.Append("Endpoint=http://127.0.0.1:");
    for (uint32_t i = 0; i < spaces; ++i) out.Append(' ');
    for (uint32_t i = Digits(t.receiver.port); i < kPortText; ++i) out.Append('0');
    out.AppendDecimal(t.receiver.port);
    out.Append(path);
}

PluginCopy *EndpointCopy(SelfTest &t, const char *stem, const char *path, uint32_t spaces) {
    static char lines[kCopySettings];
    text::BoundedText out(lines);
    PaddedEndpoint(out, t, spaces, path);
    out.Append("\r\nToken=");
    out.Append(t.files.token);
    out.Append("\r\n");
    PluginCopy *copy = MakeCopy(t, stem, lines, path);
    return copy && LoadCopy(t, *copy, stem) ? copy : nullptr;
}

PluginCopy *LongestCopy(SelfTest &t) {
    text::BoundedText path(g_path);
    path.Append("/longest/");
    while (path.length < kLongestPath + 64) path.Append(static_cast<char>('a' + path.length % 26));
    static char lines[kCopySettings];
    text::BoundedText out(lines);
    AppendSettings(out, t, "http", g_path, kLongestToken);
    PluginCopy *copy = MakeCopy(t, "ZdbLongest", lines, "/longest");
    return copy && LoadCopy(t, *copy, "ZdbLongest") ? copy : nullptr;
}

// A name that makes the module's whole path 259 characters, the longest
// the plug-in derives its settings and log from.
PluginCopy *LongNameCopy(SelfTest &t) {
    char stem[kSelfTestPath];
    text::BoundedText name(stem);
    name.Append("ZdbLongName");
    while (text::Length(t.files.folder) + 1 + name.length + 4 < kSelfTestPath - 1) name.Append('N');
    if (text::Length(t.files.folder) + 1 + name.length + 4 != kSelfTestPath - 1) {
        Row(t.table, "module path of 259 characters", "a copy at such a path",
            "the temp folder's path is too long", false);
        return nullptr;
    }
    PluginCopy *copy = MakeUsualCopy(t, stem, "/longname");
    return copy && LoadCopy(t, *copy, "module path of 259 characters") ? copy : nullptr;
}

// A copy whose endpoint is `endpoint`; it is loaded and unloaded without
// an event, so nothing is ever sent there. Its first log line says whether
// the endpoint was accepted.
PluginCopy *EndpointOnlyCopy(SelfTest &t, const char *stem, const char *endpoint) {
    static char lines[256];
    text::BoundedText out(lines);
    out.Append("Endpoint=");
    out.Append(endpoint);
    out.Append("\r\nToken=");
    out.Append(t.files.token);
    out.Append("\r\n");
    PluginCopy *copy = MakeCopy(t, stem, lines, nullptr);
    return copy && LoadCopy(t, *copy, stem) ? copy : nullptr;
}

PluginCopy *PortCopy(SelfTest &t, const char *stem, const char *port) {
    char endpoint[64];
    text::BoundedText out(endpoint);
    out.Append("http://127.0.0.1:");
    out.Append(port);
    out.Append("/unused");
    return EndpointOnlyCopy(t, stem, endpoint);
}

void PortRow(SelfTest &t, PluginCopy *copy, const char *check, const char *expected) {
    if (!copy) return;
    ReadCopyLog(t, *copy);
    Row(t.table, check, expected, CopyLine(*copy, 0), SameText(CopyLine(*copy, 0), expected));
    UnloadCopy(*copy);
}

// Loaded, and one event arrived at the copy's route.
void UsedRow(SelfTest &t, PluginCopy *copy, const char *check, const char *expected) {
    if (!copy) return;
    ReadCopyLog(t, *copy);
    uint32_t arrived = RouteArrived(t.receiver, *copy->route);
    SeenText seen;
    seen << CopyLine(*copy, 0) << "; requests at " << copy->route->path << ": " << arrived;
    Row(t.table, check, expected, seen.text,
        SameText(CopyLine(*copy, 0), kLoaded) && arrived == 1);
}

void CheckLongest(SelfTest &t, PluginCopy *copy) {
    if (!copy) return;
    const Route &route = *copy->route;
    bool arrived = RouteArrived(t.receiver, route) > 0;
    const ReceivedRequest &request = route.records[0];
    uint32_t length = arrived ? text::Length(request.path) : 0;
    bool same = length == kLongestPath;
    for (uint32_t i = 0; same && i < kLongestPath; ++i) same = request.path[i] == g_path[i];
    SeenText seen;
    if (!arrived) seen << "nothing arrived";
    else seen << length << " characters, " << (same ? "the first ones" : "not the first ones");
    Row(t.table, "endpoint: longest path", "the path's first 1535 characters", seen.text, same);

    char bearer[320];
    text::BoundedText expected(bearer);
    expected.Append("Bearer ");
    AppendToken(expected, t, kLongestToken);
    SeenText token;
    if (!arrived) token << "nothing arrived";
    else token << text::Length(request.authorization) << " characters, "
               << (SameText(request.authorization, bearer) ? "the same" : "not the same");
    Row(t.table, "token: longest", "\"Bearer \" and the 255 characters: 262 characters", token.text,
        arrived && SameText(request.authorization, bearer));
}

}  // namespace

void CheckEndpoints(SelfTest &t) {
    // "127.0.0.1:" is 10 characters and the port text 7.
    uint32_t spaces = kLongestAuthority - 10 - kPortText;
    PluginCopy *longest255 = EndpointCopy(t, "ZdbAuthority255", "/authority255", spaces);
    PluginCopy *longest256 = EndpointCopy(t, "ZdbAuthority256", "/authority256", spaces + 1);
    PluginCopy *longest = LongestCopy(t);
    PluginCopy *longName = LongNameCopy(t);
    PluginCopy *used[] = {longest255, longest, longName};
    for (PluginCopy *copy : used)
        if (copy) NotifyCopy(*copy, kUsualFlight, "DOK/S/E1");
    for (PluginCopy *copy : used)
        if (copy) WaitForRoute(t.receiver, *copy->route, 1, CopyWait(t, 3000));

    UsedRow(t, longest255, "endpoint: authority of 255 characters",
            "Bridge loaded; event worker started; requests at /authority255: 1");
    if (longest256) {
        ReadCopyLog(t, *longest256);
        Row(t.table, "endpoint: authority of 256 characters", kDisabled, CopyLine(*longest256, 0),
            SameText(CopyLine(*longest256, 0), kDisabled));
    }
    CheckLongest(t, longest);
    UsedRow(t, longName, "module path of 259 characters",
            "Bridge loaded; event worker started; requests at /longname: 1");
    PluginCopy *all[] = {longest255, longest256, longest, longName};
    for (PluginCopy *copy : all)
        if (copy) UnloadCopy(*copy);

    PortRow(t, PortCopy(t, "ZdbPort65535", "65535"), "endpoint: port 65535", kLoaded);
    PortRow(t, PortCopy(t, "ZdbPort65536", "65536"), "endpoint: port 65536", kDisabled);
    PortRow(t, PortCopy(t, "ZdbPort0", "0"), "endpoint: port 0", kDisabled);
    PortRow(t, PortCopy(t, "ZdbPort7", "0065535"), "endpoint: port in 7 characters", kLoaded);
    PortRow(t, PortCopy(t, "ZdbPort8", "00065535"), "endpoint: port in 8 characters", kDisabled);
    // Short of 65535, so that only the letter can refuse it.
    PortRow(t, PortCopy(t, "ZdbPortLetter", "80a"), "endpoint: a letter in the port", kDisabled);
    // A host of one character is a host: loaded, though it is never used.
    PortRow(t, EndpointOnlyCopy(t, "ZdbHostOne", "https://a/x"), "endpoint: a host of one character",
            kLoaded);
}

}  // namespace host
