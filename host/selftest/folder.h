// The self-test's own folder under the user's temp folder, where the copies
// of the plug-in and their settings go. The user's own settings and log are
// never opened.
#pragma once

#include <stdint.h>

namespace host {

const uint32_t kSelfTestPath = 260;
const uint32_t kSelfTestTokenLength = 43;

struct SelfTestFolder {
    char temp[kSelfTestPath];      // the user's temp folder, ending in '\'
    char folder[kSelfTestPath];
    char token[kSelfTestTokenLength + 1];
};

// Finds the temp folder and judges its path as the plug-in will see its
// copy's: in the ANSI code page (GetModuleFileNameA) and within the
// plug-in's path buffers. Null, or why the plug-in could not work there,
// with what the user can do in `advice`. Creates nothing.
const char *ChooseTempFolder(SelfTestFolder &folder, const char *&advice);
// Makes the folder and the token the copies' settings give; returns null,
// or what failed. `folder.folder` is set as soon as it exists.
const char *MakeSelfTestFolder(SelfTestFolder &folder);
// Copies `source` to `target`, as a file that can be deleted again: a
// read-only original gives a read-only copy. False with GetLastError().
bool CopyPlugIn(const char *source, const char *target);
// <folder>\<name> into `field`; false when it does not fit.
bool Join(char (&field)[kSelfTestPath], const char *folder, const char *name);
// The file, new or replaced, holding `length` bytes of `data`; false when it
// cannot be written whole. A virus scanner may hold the file a while after
// it was last written: that is waited out, within a bound.
bool WriteWholeFile(const char *path, const char *data, uint32_t length);
// Deletes every file in the folder and the folder, trying again for a
// while: a virus scanner may still hold a file it is reading. False when
// anything stays; `left` then names what.
bool RemoveSelfTestFolder(const SelfTestFolder &folder, char (&left)[512]);

}  // namespace host
