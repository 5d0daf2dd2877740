#include "shell/settings.h"

#include "platform/win32.h"
#include "text/text.h"

namespace {

const char kSection[] = "Bridge";
const char kDefaultAirports[] = "EDDF,EDDM";

}  // namespace

// The platform read stops at capacity - 1 bytes, so the trimmed copy back
// into the same field never has to cut.
void ReadBridgeSetting(const char *settingsPath, const char *key, char *field, uint32_t capacity) {
    field[0] = '\0';
    // An empty path names no file; the platform would look for one anyway.
    if (settingsPath[0] == '\0') return;
    GetPrivateProfileStringA(kSection, key, "", field, capacity, settingsPath);
    field[capacity - 1] = '\0';  // the read terminates; this keeps a broken one in bounds
    text::TrimmedCopy(field, capacity, field);
}

void LoadBridgeSettings(const char *settingsPath, BridgeSettings &settings) {
    ReadBridgeSetting(settingsPath, "Endpoint", settings.endpoint, sizeof settings.endpoint);
    ReadBridgeSetting(settingsPath, "Token", settings.token, sizeof settings.token);
    ReadBridgeSetting(settingsPath, "Airports", settings.airports, sizeof settings.airports);
    if (settings.airports[0] == '\0')
        text::TrimmedCopy(settings.airports, kDefaultAirports);
    else
        text::TrimmedUpperCopy(settings.airports, settings.airports);
}
