// The settings check: reads a settings file with the plug-in's own code and
// says in plain words whether delivery would start, and if not, why.
#pragma once

namespace host {

// Prints the verdict for the settings file at `path`; returns the process
// exit status: 0 when delivery would start, 1 when it would not.
int CheckSettingsFile(const char *path);

}  // namespace host
