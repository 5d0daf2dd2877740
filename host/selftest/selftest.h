// `selftest <plug-in.dll>`: copies of the plug-in in a folder of their own,
// posting to a receiver inside this program on 127.0.0.1, checked step by
// step; one table row per check and a verdict. Nothing of the user's
// settings, and no network beyond this machine.
//
// The plug-in names its settings and log after its module, and each module
// has its own static storage, so each copy is an independent plug-in: its
// own settings, log, queue and worker. Copy 0, ZeltanDokBridge.dll, goes
// through the client's whole life; the further copies run side by side,
// each for a few checks. Every call into a copy goes through LoadCopy,
// InitCopy, NotifyCopy, ExitCopy or UnloadCopy.
#pragma once

#include <stdint.h>

#include "host/runner.h"
#include "host/selftest/folder.h"
#include "host/selftest/receiver.h"
#include "host/selftest/report.h"
#include "text/text.h"

namespace host {

// A wait for what a copy sends or logs gives up once nothing of it came for
// this long. A slow computer makes the run longer, never its verdict wrong;
// the longest quiet time of a sound plug-in is its 4 s pause between
// attempts.
const uint32_t kQuietBudget = 6000;

const uint32_t kCopyLog = 65536;
const uint32_t kCopyLines = 640;

extern const char kLoadedLine[];    // "Bridge loaded; event worker started"
extern const char kDisabledLine[];  // "Bridge disabled: Endpoint/Token missing or invalid"
extern const char kUnloadedLine[];  // "Bridge unloaded"

struct PluginCopy {
    char plugin[kSelfTestPath];
    char settings[kSelfTestPath];
    char log[kSelfTestPath];
    Runner runner;
    Route *route;  // where its endpoint points
    bool loaded;   // LoadLibrary succeeded and FreeLibrary has not run yet
    bool live;     // init ran and exit has not
    // Why its checks cannot run, or empty. `refused`: this computer
    // refused to copy or load it, which is no fault of the plug-in's.
    char notRun[224];
    bool refused;
    bool told;     // a row of it has said why it did not run
    bool stalled;  // a wait gave up on it: nothing more is waited for
    uint32_t notifications;
    uint32_t longestNotifyMs;
    // The log as last read: each line's message after its timestamp, or
    // "(malformed line)".
    char logText[kCopyLog];
    uint32_t logLength;
    const char *lines[kCopyLines];
    uint32_t lineCount;
};

struct SelfTest {
    CheckTable table;
    SelfTestFolder files;
    Receiver receiver;
    const char *source;  // the plug-in file the user named
    PluginCopy *own;     // copy 0
    uint32_t startMs;    // GetTickCount() at the start
    uint32_t originDay;  // the UTC day the run began, as a day number
    char refusal[224];   // this computer's first refusal, or empty
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

// The process exit status: 0 when every check passed; 1 when the plug-in
// failed one; 2 when the input or this computer keeps the self-test from
// judging the plug-in (a file that cannot be read, an unusable temp folder,
// a copy that security software or a policy refuses).
int RunSelfTest(const char *pluginPath);

// The checks, in the order they run; each prints its rows.
void CheckLoad(SelfTest &t);
void CheckHandlerSlots(SelfTest &t);
void CheckDelivery(SelfTest &t);
void CheckUnload(SelfTest &t);
// The long ones start right after copy 0 has loaded and finish last, their
// pauses running meanwhile.
void StartLongChecks(SelfTest &t);
void FinishLongChecks(SelfTest &t);
void CheckQueue(SelfTest &t);
void CheckBurst(SelfTest &t);
void CheckTexts(SelfTest &t);
void CheckSettings(SelfTest &t);
void CheckRepeatedLoads(SelfTest &t);

// Copies the plug-in to <folder>\<stem>.dll, writes <stem>.ini with the
// [Bridge] section's `lines` and adds a route for `routePath`. Always
// returns a copy: one that could not be made says why in `notRun`.
PluginCopy &MakeCopy(SelfTest &t, const char *stem, const char *lines, const char *routePath);
// The usual settings: an endpoint at the receiver's `routePath`, a token of
// 43 characters and the airports EDDF and EDDM.
PluginCopy &MakeUsualCopy(SelfTest &t, const char *stem, const char *routePath);
// Replaces the copy's settings by the [Bridge] section's `lines`.
bool WriteCopySettings(PluginCopy &copy, const char *lines);
// LoadLibrary, both exports, init; false, with `notRun` set, when the copy
// gives no object.
bool LoadCopy(SelfTest &t, PluginCopy &copy);
// Records that this computer refused `call` on the copy with `error`, when
// the error is one that security software or a policy gives, or `always`;
// false when it is not.
bool Refused(SelfTest &t, PluginCopy &copy, const char *call, uint32_t error,
             bool always = false);
// What to do about such a refusal.
extern const char *const kRefusalAdvice;
void InitCopy(PluginCopy &copy);
// Returns the calls the plug-in made back into the client.
uint32_t NotifyCopy(PluginCopy &copy, const Flight &flight, const char *scratchPad,
                    int dataType = 5);
void ExitCopy(PluginCopy &copy);
// Exit if live, then FreeLibrary if loaded.
void UnloadCopy(PluginCopy &copy);
// Unloads every copy still loaded, so that its files can be removed.
void UnloadCopies();

// Rereads the copy's log; its number of complete lines.
uint32_t ReadCopyLog(const SelfTest &t, PluginCopy &copy);
// Waits until the copy's route has `requests` requests and its log `lines`
// lines; false when what is still missing stopped coming first (see
// kQuietBudget): the requests while they lack, then the lines.
bool WaitFor(SelfTest &t, PluginCopy &copy, uint32_t requests, uint32_t lines = 0);
// The index of the first line from `from` on whose message is `message`, or
// lineCount when there is none.
uint32_t FindCopyLine(const PluginCopy &copy, const char *message, uint32_t from = 0);
uint32_t CountCopyLines(const PluginCopy &copy, const char *message);
// The line `index`, or "(no such line)".
const char *CopyLine(const PluginCopy &copy, uint32_t index);
bool StartsWith(const char *s, const char *prefix);

// A row of the copy's checks; "not run" instead when the copy did not load.
bool Row(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
         const char *seen, bool ok);
// The copy's whole log against `expected`, line by line: one row.
bool LogLinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
                 uint32_t count);
// The lines the copy's worker wrote (every line but "Captured ..." and
// "Bridge ..."), in order, against `expected`: one row.
bool WorkerLinesRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *const *expected, uint32_t count);
// A message the plug-in must drop: `leaked` is the body that carried it, or
// null; `nextArrived` whether the event notified after it has arrived,
// without which nothing can be said; `noClientCall` when the plug-in must
// not even call back into the client for it.
void NothingSentRow(SelfTest &t, PluginCopy &copy, const char *check,
                    const char *leaked, bool nextArrived, uint32_t clientCalls,
                    bool noClientCall);

// "Endpoint=<scheme>://127.0.0.1:<receiver's port><path>" and "Token=" with
// `tokenLength` characters of the self-test's token, each line ending in
// CR LF.
void AppendSettings(text::BoundedText &out, const SelfTest &t, const char *scheme,
                    const char *path, uint32_t tokenLength = kSelfTestTokenLength);
// `length` characters of the self-test's token, repeated as needed.
void AppendToken(text::BoundedText &out, const SelfTest &t, uint32_t length);

// A row's "seen" text, built piece by piece.
struct SeenText {
    char text[1024];
    text::BoundedText out;
    SeenText() : out(text) {}
    SeenText &operator<<(const char *s) { return out.Append(s ? s : "(null)"), *this; }
    SeenText &operator<<(uint32_t n) { return out.AppendDecimal(n), *this; }
};
// "<what> within <n> s": the expected text of a row whose call has a budget.
const char *Within(SeenText &text, const char *what, uint32_t budgetMilliseconds);
// "<what> in <seconds> s", appended.
const char *Took(SeenText &text, const char *what, uint32_t milliseconds);
// The request's body against the pattern: same length, same bytes, '#'
// for any digit.
bool BodyMatches(const ReceivedRequest &request, const char *pattern);
// Whether the request's body holds `needle`.
bool BodyHas(const ReceivedRequest &request, const char *needle);
// Days since 1970-01-01 of a Gregorian date.
int32_t DayNumber(int32_t year, int32_t month, int32_t day);
uint32_t RunMilliseconds(const SelfTest &t);
// Milliseconds since midnight UTC of the run's first day, now.
int32_t ClockNow(const SelfTest &t);
// The same for a timestamp "YYYY-MM-DDTHH:MM:SS.mmmZ" (24 characters at
// `text`); false when it is not of that form or not near the run.
bool ClockOf(const SelfTest &t, const char *text, int32_t &milliseconds);

}  // namespace host
