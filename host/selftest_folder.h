// The self-test's own folder under the user's temp folder: a copy of the
// plug-in and a settings file naming the self-test's receiver. The user's
// own settings and log are never opened.
#pragma once

#include <stdint.h>

namespace host {

const uint32_t kSelfTestPath = 260;
const uint32_t kSelfTestTokenLength = 43;

struct SelfTestFolder {
    char folder[kSelfTestPath];
    char plugin[kSelfTestPath];    // <folder>\ZeltanDokBridge.dll
    char settings[kSelfTestPath];  // <folder>\ZeltanDokBridge.ini
    char log[kSelfTestPath];       // <folder>\ZeltanDokBridge.log
    char token[kSelfTestTokenLength + 1];
};

// Makes the folder, copies the plug-in and writes the settings; returns
// null, or what failed. `folder.folder` is set as soon as it exists.
const char *MakeSelfTestFolder(SelfTestFolder &folder, const char *pluginPath,
                               unsigned short port);
// <folder>\<name> into `field`; false when it does not fit.
bool Join(char (&field)[kSelfTestPath], const char *folder, const char *name);
// A new file holding `length` bytes of `data`; false when it exists already
// or cannot be written whole.
bool WriteWholeFile(const char *path, const char *data, uint32_t length);
// Deletes the three files and the folder; false when anything stays.
bool RemoveSelfTestFolder(const SelfTestFolder &folder);

}  // namespace host
