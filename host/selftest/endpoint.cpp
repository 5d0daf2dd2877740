// The endpoint's grammar at its edges, each on a copy of its own: an
// authority of 255 characters (spaces around the port digits, which are
// trimmed) is used and one of 256 is refused; a port may be written in 7
// characters, not 8; the longest path and token arrive whole; and a module
// path of 259 characters still finds its settings and log.
#include "host/selftest/selftest.h"

namespace host {

namespace {

const uint32_t kLongestAuthority = 255;
const uint32_t kPortText = 7;
const uint32_t kLongestPath = 1535;
const uint32_t kLongestToken = 255;

char g_path[1700];  // the longest copy's endpoint path, longer than kept

// "Endpoint=http://127.0.0.1:" then `spaces`, the port as 7 characters
// with leading zeros, and `path`.
void PaddedEndpoint(text::BoundedText &out, const SelfTest &t, uint32_t spaces,
                    const char *path) {
    out.Append("Endpoint=http://127.0.0.1:");
    for (uint32_t i = 0; i < spaces; ++i) out.Append(' ');
    out.AppendDecimal(t.receiver.port, kPortText);
    out.Append(path);
}

PluginCopy *EndpointCopy(SelfTest &t, const char *stem, const char *path, uint32_t spaces) {
    static char lines[4096];
    text::BoundedText out(lines);
    PaddedEndpoint(out, t, spaces, path);
    out.Append("\r\nToken=");
    out.Append(t.files.token);
    out.Append("\r\n");
    PluginCopy &copy = MakeCopy(t, stem, lines, path);
    LoadCopy(t, copy);
    return &copy;
}

PluginCopy *LongestCopy(SelfTest &t) {
    text::BoundedText path(g_path);
    path.Append("/longest/");
    while (path.length < kLongestPath + 64) path.Append(static_cast<char>('a' + path.length % 26));
    static char lines[4096];
    text::BoundedText out(lines);
    AppendSettings(out, t, "http", g_path, kLongestToken);
    PluginCopy &copy = MakeCopy(t, "ZdbLongest", lines, "/longest");
    LoadCopy(t, copy);
    return &copy;
}

// A name that makes the module's whole path 259 characters, the longest
// the plug-in derives its settings and log from.
PluginCopy *LongNameCopy(SelfTest &t) {
    char stem[kSelfTestPath];
    text::BoundedText name(stem);
    name.Append("ZdbLongName");
    while (text::Length(t.files.folder) + 1 + name.length + 4 < kSelfTestPath - 1) name.Append('N');
    // A temp folder too long for this leaves the name too long: not run.
    PluginCopy &copy = MakeUsualCopy(t, stem, "/longname");
    LoadCopy(t, copy);
    return &copy;
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
    PluginCopy &copy = MakeCopy(t, stem, lines, nullptr);
    LoadCopy(t, copy);
    return &copy;
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
    ReadCopyLog(t, *copy);
    Row(t, *copy, check, expected, CopyLine(*copy, 0), SameText(CopyLine(*copy, 0), expected));
    UnloadCopy(*copy);
}

// Loaded, and one event arrived at the copy's route.
void UsedRow(SelfTest &t, PluginCopy *copy, const char *check, const char *expected) {
    ReadCopyLog(t, *copy);
    uint32_t arrived = RouteArrived(t.receiver, *copy->route);
    SeenText seen;
    seen << CopyLine(*copy, 0) << "; requests at " << copy->route->path << ": " << arrived;
    Row(t, *copy, check, expected, seen.text,
        SameText(CopyLine(*copy, 0), kLoadedLine) && arrived == 1);
}

void CheckLongest(SelfTest &t, PluginCopy *copy) {
    const Route &route = *copy->route;
    bool arrived = RouteArrived(t.receiver, route) > 0;
    const ReceivedRequest &request = route.records[0];
    uint32_t length = arrived ? text::Length(request.path) : 0;
    bool same = length == kLongestPath;
    for (uint32_t i = 0; same && i < kLongestPath; ++i) same = request.path[i] == g_path[i];
    SeenText seen;
    if (!arrived) seen << "nothing arrived";
    else seen << length << " characters, " << (same ? "the first ones" : "not the first ones");
    Row(t, *copy, "endpoint: longest path", "the path's first 1535 characters", seen.text, same);

    char bearer[320];
    text::BoundedText expected(bearer);
    expected.Append("Bearer ");
    AppendToken(expected, t, kLongestToken);
    SeenText token;
    if (!arrived) token << "nothing arrived";
    else token << text::Length(request.authorization) << " characters, "
               << (SameText(request.authorization, bearer) ? "the same" : "not the same");
    Row(t, *copy, "token: longest", "\"Bearer \" and the 255 characters: 262 characters", token.text,
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
        NotifyCopy(*copy, kUsualFlight, "DOK/S/E1");
    for (PluginCopy *copy : used) WaitFor(t, *copy, 1);

    UsedRow(t, longest255, "endpoint: authority of 255 characters",
            "Bridge loaded; event worker started; requests at /authority255: 1");
    ReadCopyLog(t, *longest256);
    Row(t, *longest256, "endpoint: authority of 256 characters", kDisabledLine,
        CopyLine(*longest256, 0), SameText(CopyLine(*longest256, 0), kDisabledLine));
    CheckLongest(t, longest);
    UsedRow(t, longName, "module path of 259 characters",
            "Bridge loaded; event worker started; requests at /longname: 1");
    PluginCopy *all[] = {longest255, longest256, longest, longName};
    for (PluginCopy *copy : all) UnloadCopy(*copy);

    PortRow(t, PortCopy(t, "ZdbPort65535", "65535"), "endpoint: port 65535", kLoadedLine);
    PortRow(t, PortCopy(t, "ZdbPort65536", "65536"), "endpoint: port 65536", kDisabledLine);
    PortRow(t, PortCopy(t, "ZdbPort0", "0"), "endpoint: port 0", kDisabledLine);
    PortRow(t, PortCopy(t, "ZdbPort7", "0065535"), "endpoint: port in 7 characters", kLoadedLine);
    PortRow(t, PortCopy(t, "ZdbPort8", "00065535"), "endpoint: port in 8 characters", kDisabledLine);
    // Short of 65535, so that only the letter can refuse it.
    PortRow(t, PortCopy(t, "ZdbPortLetter", "80a"), "endpoint: a letter in the port", kDisabledLine);
    // A host of one character is a host: loaded, though it is never used.
    PortRow(t, EndpointOnlyCopy(t, "ZdbHostOne", "https://a/x"), "endpoint: a host of one character",
            kLoadedLine);
}

}  // namespace host
