#include "shell/bridge_plugin.h"
#include "shell/sibling_path.h"
#include "text/text.h"

void MakeSiblingPath(char (&field)[kPathCapacity], const char *suffix) {
    DWORD length = GetModuleFileNameA(BridgeModuleHandle(), field, kPathCapacity);
    // 0 is a failure and kPathCapacity a cut name: a cut name is some other
    // file's name, so derive nothing from it.
    if (length == 0 || length >= kPathCapacity) {
        field[0] = '\0';
        return;
    }

    text::BoundedText path(field, kPathCapacity, PathStemLength(field, length));
    path.Append(suffix);
}
