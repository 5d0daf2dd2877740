// The self-test's own folder under the user's temp folder: a copy of the
// plug-in and a settings file naming the self-test's receiver. The user's
// own settings and log are never opened.
#pragma once

#include <stdint.h>

namespace host {

const uint32_t kSelfTestPath = 260;
const uint32_t kSelfTestTokenLength = 43;

struct SelfTestFolder {
    char temp[kSelfTestPath];      // the user's temp folder, ending in '\'
    char folder[kSelfTestPath];
    char plugin[kSelfTestPath];    // <folder>\ZeltanDokBridge.dll
    char settings[kSelfTestPath];  // <folder>\ZeltanDokBridge.ini
    char log[kSelfTestPath];       // <folder>\ZeltanDokBridge.log
    char token[kSelfTestTokenLength + 1];
};

// Finds the temp folder and judges its path as the plug-in will see its
// copy's: in the ANSI code page (GetModuleFileNameA) and within the
// plug-in's path buffers. Null, or why the plug-in could not work there,
// with what the user can do in `advice`. Creates nothing.
const char *ChooseTempFolder(SelfTestFolder &folder, const char *&advice);
// Makes the folder and writes the settings; returns null, or what failed.
// `folder.folder` is set as soon as it exists.
const char *MakeSelfTestFolder(SelfTestFolder &folder, unsigned short port);
// Copies the plug-in into the folder as a file that can be deleted again:
// a read-only original gives a read-only copy.
const char *CopyPlugIn(const SelfTestFolder &folder, const char *pluginPath);
// <folder>\<name> into `field`; false when it does not fit.
bool Join(char (&field)[kSelfTestPath], const char *folder, const char *name);
// A new file holding `length` bytes of `data`; false when it exists already
// or cannot be written whole.
bool WriteWholeFile(const char *path, const char *data, uint32_t length);
// Deletes every file in the folder and the folder, trying again for a
// while: a virus scanner may still hold a file it is reading. False when
// anything stays; `left` then names what.
bool RemoveSelfTestFolder(const SelfTestFolder &folder, char (&left)[512]);

}  // namespace host
