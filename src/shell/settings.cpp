#include "shell/settings.h"

#include "platform/win32.h"
#include "text/text.h"

namespace {

const char kSection[] = "Bridge";
const char kDefaultAirports[] = "EDDF,EDDM";

// The platform read stops at capacity - 1 bytes, so the trimmed copy back
// into the same field never has to cut.
template <uint32_t N>
void ReadTrimmed(const char *settingsPath, const char *key, char (&field)[N]) {
    field[0] = '\0';
    // An empty path names no file; the platform would look for one anyway.
    if (settingsPath[0] == '\0') return;
    GetPrivateProfileStringA(kSection, key, "", field, N, settingsPath);
    field[N - 1] = '\0';  // the read terminates; this keeps a broken one in bounds
    text::TrimmedCopy(field, field);
}

}  // namespace

void LoadBridgeSettings(const char *settingsPath, BridgeSettings &settings) {
    ReadTrimmed(settingsPath, "Endpoint", settings.endpoint);
    ReadTrimmed(settingsPath, "Token", settings.token);
    ReadTrimmed(settingsPath, "Airports", settings.airports);
    if (settings.airports[0] == '\0')
        text::TrimmedCopy(settings.airports, kDefaultAirports);
    else
        text::TrimmedUpperCopy(settings.airports, settings.airports);
}
