#include "host/check_limits.h"

#include "capture/stand_message.h"
#include "host/console.h"
#include "text/text.h"

namespace host {

namespace {

// A long list of lost codes is named in part, so the warning stays one line.
const uint32_t kCodesNamed = 20;

// The plug-in passes the host to the name lookup as it stands. A user name,
// a fragment or query, a Windows path separator, a blank or a control byte
// is in no host name, so the lookup fails for every attempt.
bool NeverInHostName(unsigned char c) {
    return c < 32 || c == 127 || c == ' ' || c == '@' || c == '#' || c == '\\' || c == '?';
}

// The path as the plug-in takes it: from the first "/" after the scheme's
// "//" to the end of the (trimmed) endpoint.
uint32_t WrittenPathLength(const char *endpoint) {
    const char *p = endpoint;
    while (*p && !(p[0] == '/' && p[1] == '/')) ++p;
    if (*p) p += 2;
    while (*p && *p != '/') ++p;
    return text::Length(p);
}

// A blank and a control byte have no visible form of their own.
void AppendByteName(ConsoleLine &out, unsigned char c) {
    char shown[2] = {static_cast<char>(c), '\0'};
    if (c == ' ') {
        out << "a space";
    } else if (c < 32 || c == 127) {
        out << "the control byte ";
        out.Escaped(shown);
    } else {
        out << '"' << shown << '"';
    }
}

void SayCut(const char *what, uint32_t writtenLength, uint32_t keptLength, const char *outcome) {
    ConsoleLine out;
    out << "refused: " << what << " has ";
    AppendWrittenLength(out, writtenLength);
    out << "; the plug-in keeps only its first " << keptLength << outcome;
    out.Print();
}

}  // namespace

void ReadWrittenSettings(const char *settingsPath, WrittenSettings &written) {
    ReadBridgeSetting(settingsPath, "Endpoint", written.endpoint, sizeof written.endpoint);
    ReadBridgeSetting(settingsPath, "Token", written.token, sizeof written.token);
    ReadBridgeSetting(settingsPath, "Airports", written.airports, sizeof written.airports);
    text::TrimmedUpperCopy(written.airports, written.airports);
}

void AppendWrittenLength(ConsoleLine &out, uint32_t length) {
    out << length << (length >= sizeof WrittenSettings::token - 1 ? " or more" : "")
        << " characters";
}

bool SayTokenKeptWhole(const WrittenSettings &written, const BridgeSettings &kept) {
    uint32_t keptLength = text::Length(kept.token);
    if (text::Length(written.token) <= keptLength) return true;
    SayCut("the token", text::Length(written.token), keptLength,
           " and sends those, so the endpoint would refuse every request");
    return false;
}

bool SayEndpointKeptWhole(const WrittenSettings &written, const BridgeSettings &kept,
                          const EndpointAddress *accepted) {
    uint32_t keptLength = text::Length(kept.endpoint);
    if (text::Length(written.endpoint) > keptLength) {
        SayCut("the Endpoint", text::Length(written.endpoint), keptLength,
               ", so events would go to a different endpoint than the one written");
        return false;
    }
    if (!accepted) return true;
    uint32_t pathLength = WrittenPathLength(written.endpoint);
    keptLength = text::Length(accepted->path);
    if (pathLength <= keptLength) return true;
    SayCut("the Endpoint's path", pathLength, keptLength,
           ", so events would go to a different path than the one written");
    return false;
}

bool SayHostFindable(const EndpointAddress &accepted) {
    const char *p = accepted.host;
    while (*p && !NeverInHostName(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return true;
    ConsoleLine out;
    out << "refused: the host \"";
    out.Escaped(accepted.host);
    out << "\" holds ";
    AppendByteName(out, static_cast<unsigned char>(*p));
    out << ", which no host name has: the plug-in would load, and every attempt would fail "
           "without an HTTP status";
    out.Print();
    return false;
}

void WarnAirportsCut(const WrittenSettings &written, const BridgeSettings &kept) {
    if (text::Length(written.airports) <= text::Length(kept.airports)) return;
    ConsoleLine out;
    out << "warning: the Airports value has ";
    AppendWrittenLength(out, text::Length(written.airports));
    out << "; the plug-in keeps only its first " << text::Length(kept.airports) << ":";
    char code[8];
    uint32_t lost = 0;
    for (const char *cursor = written.airports; NextAirportCode(cursor, code);) {
        if (AirportListed(kept.airports, code)) continue;
        if (++lost <= kCodesNamed) {
            out << ' ';
            out.Escaped(code);
        }
    }
    if (lost > kCodesNamed) out << " and " << (lost - kCodesNamed) << " more";
    out << (lost == 0 ? " no code is lost" : " would never match");
    for (const char *cursor = kept.airports; NextAirportCode(cursor, code);) {
        if (AirportListed(written.airports, code)) continue;
        out << ", and ";
        out.Escaped(code);
        out << ", a code cut short, would be listed";
    }
    out.Print();
}

}  // namespace host
