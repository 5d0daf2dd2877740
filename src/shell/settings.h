// The three settings read once at load from the .ini beside the module.
#pragma once

#include <stdint.h>

struct BridgeSettings {
    char endpoint[2048];
    char token[256];
    char airports[64];  // upper case; "EDDF,EDDM" when the key is blank
};

// Fills `settings` from section "Bridge" of `settingsPath`; never fails. A
// missing file, section or key reads as empty.
void LoadBridgeSettings(const char *settingsPath, BridgeSettings &settings);

// One key of section "Bridge", read into `capacity` bytes (the read stops
// at capacity - 1) and trimmed. The settings check reads with more room
// than the plug-in's fields, to see what they would cut.
void ReadBridgeSetting(const char *settingsPath, const char *key, char *field, uint32_t capacity);
