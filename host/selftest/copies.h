// Further copies of the plug-in in the self-test's folder, each under a file
// name of its own. The plug-in names its settings and log after its module,
// and each module has its own static storage, so each copy is an independent
// plug-in: its own settings, log, queue and worker. They run side by side.
//
// Every call into a copy goes through LoadCopy, InitCopy, NotifyCopy,
// ExitCopy or FreeCopy, one function per kind of call.
#pragma once

#include <stdint.h>

#include "host/selftest/selftest.h"

namespace host {

const uint32_t kCopySettings = 4096;
const uint32_t kCopyLog = 65536;
const uint32_t kCopyLines = 640;

struct PluginCopy {
    char plugin[kSelfTestPath];
    char settings[kSelfTestPath];
    char log[kSelfTestPath];
    Runner runner;
    Route *route;  // where its endpoint points, when at the receiver
    bool loaded;   // LoadLibrary succeeded and FreeLibrary has not run yet
    bool live;     // init ran and exit has not
    // The log as last read: each line's message after its timestamp, or
    // "(malformed line)".
    char logText[kCopyLog];
    uint32_t logLength;
    const char *lines[kCopyLines];
    uint32_t lineCount;
};

// What the client tells the plug-in about the flight whose scratch pad
// changed; each text may be null.
struct Flight {
    const char *callsign;
    const char *destination;
    const char *controller;
    bool controllerValid;
    bool planValid;
};
extern const Flight kUsualFlight;  // DLH4TK to EDDF, controlled by EDDF_GND

// The run's budget for the checks of the copies: every wait ends by then.
uint32_t CopyWait(const SelfTest &t, uint32_t wanted);

// "Endpoint=<scheme>://127.0.0.1:<receiver's port><path>" and "Token=" with
// `tokenLength` characters of the self-test's token, each line ending in
// CR LF.
void AppendSettings(text::BoundedText &out, const SelfTest &t, const char *scheme,
                    const char *path, uint32_t tokenLength = kSelfTestTokenLength);

// Copies the plug-in to <folder>\<stem>.dll and writes <stem>.ini with the
// [Bridge] section's `lines`; a route for `routePath` when not null. Null,
// with a failed row, when any of that fails.
PluginCopy *MakeCopy(SelfTest &t, const char *stem, const char *lines, const char *routePath);
// Replaces the copy's settings file by the [Bridge] section's `lines`.
bool WriteCopySettings(PluginCopy &copy, const char *lines);
// The usual settings: an endpoint at the receiver's `routePath`, a token of
// 43 characters and the usual airports.
PluginCopy *MakeUsualCopy(SelfTest &t, const char *stem, const char *routePath);

// LoadLibrary, both exports, init; false, with a failed row, when the copy
// gives no object.
bool LoadCopy(SelfTest &t, PluginCopy &copy, const char *check);
void InitCopy(PluginCopy &copy);
// Returns the calls the plug-in made back into the client.
uint32_t NotifyCopy(PluginCopy &copy, const Flight &flight, const char *scratchPad,
                    int dataType = 5);
void ExitCopy(PluginCopy &copy);
bool FreeCopy(PluginCopy &copy);
// Exit if live, then FreeLibrary if loaded.
void UnloadCopy(PluginCopy &copy);
// Unloads every copy still loaded, so that its files can be removed.
void UnloadCopies();

// Rereads the copy's log; its number of complete lines.
uint32_t ReadCopyLog(const SelfTest &t, PluginCopy &copy);
bool WaitForCopyLog(const SelfTest &t, PluginCopy &copy, uint32_t lines, uint32_t milliseconds);
// The index of the first line from `from` on whose message is `message`, or
// lineCount when there is none.
uint32_t FindCopyLine(const PluginCopy &copy, const char *message, uint32_t from = 0);
uint32_t CountCopyLines(const PluginCopy &copy, const char *message);
// The line `index`, or "(no such line)".
const char *CopyLine(const PluginCopy &copy, uint32_t index);

bool StartsWith(const char *s, const char *prefix);

// The lines the copy's worker wrote (every line but "Captured ..." and
// "Bridge ..."), in order, against `expected`: one row named `check`.
bool WorkerLinesRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *const *expected, uint32_t count);

// The checks on copies. The long ones start right after the self-test's own
// copy has loaded and finish last, their pauses running meanwhile; the rest
// run after the self-test's own copy is unloaded.
void StartLongChecks(SelfTest &t);
void FinishLongChecks(SelfTest &t);
void CheckQueue(SelfTest &t);
void CheckBurst(SelfTest &t);
void CheckTexts(SelfTest &t);
void CheckSettingsCopies(SelfTest &t);
void CheckEndpoints(SelfTest &t);
void CheckRepeatedLoads(SelfTest &t);
// All of the above after the long ones' start, in their order.
void CheckCopies(SelfTest &t);

// The copy's whole log against `expected`, line by line: one row.
bool LogLinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
                 uint32_t count);
// `length` characters of the self-test's token, repeated as needed.
void AppendToken(text::BoundedText &out, const SelfTest &t, uint32_t length);

}  // namespace host
