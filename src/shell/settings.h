// The three settings read once at load from the .ini beside the module.
#pragma once

struct BridgeSettings {
    char endpoint[2048];
    char token[256];
    char airports[64];  // upper case; "EDDF,EDDM" when the key is blank
};

// Fills `settings` from section "Bridge" of `settingsPath`; never fails. A
// missing file, section or key reads as empty.
void LoadBridgeSettings(const char *settingsPath, BridgeSettings &settings);
