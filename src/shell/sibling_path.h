// The settings file and the log sit beside the module, under its name with
// another extension. The test client's settings check finds the log beside
// a settings file by the same rule, so it judges the file the plug-in opens.
#pragma once

#include <stdint.h>

// The length of `path` without its extension. Only '\' separates
// components, so only a '.' of the final component starts the extension; a
// name without one keeps its whole length.
inline uint32_t PathStemLength(const char *path, uint32_t length) {
    for (uint32_t i = length; i > 0; --i) {
        if (path[i - 1] == '\\') break;
        if (path[i - 1] == '.') return i - 1;
    }
    return length;
}
