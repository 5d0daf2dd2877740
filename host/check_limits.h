// The settings check beyond the plug-in's own rules: what the plug-in's
// fixed fields would cut from a value as written, and hosts that no name
// lookup finds. The plug-in loads with either and says nothing; only every
// event then fails or goes elsewhere.
#pragma once

#include "shell/endpoint.h"
#include "shell/settings.h"

namespace host {

class ConsoleLine;

// The three values as written, read with room well past the plug-in's
// fields; the airport list upper-cased as the plug-in does.
struct WrittenSettings {
    char endpoint[4096];
    char token[4096];
    char airports[4096];
};

void ReadWrittenSettings(const char *settingsPath, WrittenSettings &written);

// "300 characters", or "4095 or more characters" when the value filled
// the room the check read it with.
void AppendWrittenLength(ConsoleLine &out, uint32_t length);

// Each says what the plug-in would do instead, and returns false, when it
// keeps less than was written. The path is judged only for an endpoint the
// plug-in accepted, and one it did not cut already.
bool SayTokenKeptWhole(const WrittenSettings &written, const BridgeSettings &kept);
bool SayEndpointKeptWhole(const WrittenSettings &written, const BridgeSettings &kept,
                          const EndpointAddress *accepted);

// False, with the reason, for a host with a byte that no host name holds.
bool SayHostFindable(const EndpointAddress &accepted);

// A warning only: events for the airports kept still go.
void WarnAirportsCut(const WrittenSettings &written, const BridgeSettings &kept);

}  // namespace host
