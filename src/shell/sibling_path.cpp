#include "shell/bridge_plugin.h"
#include "text/text.h"

void MakeSiblingPath(char (&field)[kPathCapacity], const char *suffix) {
    DWORD length = GetModuleFileNameA(BridgeModuleHandle(), field, kPathCapacity);
    // 0 is a failure and kPathCapacity a cut name: a cut name is some other
    // file's name, so derive nothing from it.
    if (length == 0 || length >= kPathCapacity) {
        field[0] = '\0';
        return;
    }

    // Only '\' separates components, so only a '.' of the final component
    // starts the extension; a name without one keeps its whole name.
    DWORD cut = length;
    for (DWORD i = length; i > 0; --i) {
        char c = field[i - 1];
        if (c == '\\') break;
        if (c == '.') {
            cut = i - 1;
            break;
        }
    }
    text::BoundedText path(field, kPathCapacity, cut);
    path.Append(suffix);
}
