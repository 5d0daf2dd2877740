// `selftest <plug-in.dll>`: copies of the plug-in in a folder of their own,
// posting to a receiver inside this program on 127.0.0.1, checked step by
// step; one table row per check and a verdict. Nothing of the user's
// settings, and no network beyond this machine.
//
// The plug-in names its settings and log after its module, and each module
// has its own static storage, so each copy is an independent plug-in: its
// own settings, log, queue and worker. Copy 0, ZeltanDokBridge.dll, goes
// through the client's whole life; the further copies run side by side,
// each for a few checks. Calls into a copy go through LoadCopy, InitCopy,
// NotifyCopy, ExitCopy and UnloadCopy, but for the calls that are checks of
// their own: copy 0's LoadLibrary, destructor and FreeLibrary, and the
// handler slots.
#pragma once

#include <stdint.h>

#include "host/runner.h"
#include "host/selftest/folder.h"
#include "host/selftest/receiver.h"
#include "host/selftest/report.h"
#include "text/text.h"

namespace host {

const uint32_t kCopyLog = 65536;
const uint32_t kCopyLines = 640;
const uint32_t kMaxCopies = 24;
const uint32_t kCopyCalls = 12;  // notifications of one copy that its rows judge one by one

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
    bool stalled;  // a wait gave up on it, or its requests were refused: nothing more is waited for
    bool posts;    // it has a route at the receiver
    uint32_t tokenLength;
    // Started beside the others: what its check waits for, in which group.
    uint32_t group;
    uint32_t wantRequests;
    uint32_t wantLines;
    uint32_t clientCalls[kCopyCalls];  // of each notification its rows judge
    uint32_t notifications;
    uint32_t longestNotifyMs;
    // The log as last read: each line's message after its timestamp, or
    // "(malformed line)".
    char logText[kCopyLog];
    const char *lines[kCopyLines];
    uint32_t lineCount;
};

struct SelfTest {
    CheckTable table;
    SelfTestFolder files;
    Receiver receiver;
    PluginCopy copies[kMaxCopies];
    uint32_t copyCount;
    Route noRoute;       // the route of a copy that never posts
    Route *redirected;   // where a copy that follows a redirect posts
    // A wait gave up while no request of any copy had come: the copies
    // that would post are not started, and their rows say so.
    bool silent;
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
// With "--list" instead of a path: the rows a run prints, in order, each
// with whether it needs a request to arrive; nothing is loaded or made.
int RunSelfTest(const char *pluginPath);

// What a copy is told, in turn: the flight and its scratch pad, or with
// `stands`, stands <scratchPad>1 to <scratchPad><stands> one after another.
// `dropped`: a sound plug-in captures none of it. A null flight ends a list.
struct Told {
    const Flight *flight;
    const char *scratchPad;
    uint32_t stands;
    bool dropped;
    // With a row of its own, `check`: sent, the body it arrives as ('#': any
    // digit); dropped, the name a leak of it carries as a quoted value.
    const char *check;
    const char *sentAs;
    bool noClientCall;  // dropped before the plug-in even calls back into the client
    int dataType;       // the scratch pad's
};
constexpr Told Sent(const Flight &flight, const char *pad, const char *check = nullptr,
                    const char *body = nullptr) {
    return {&flight, pad, 0, false, check, body, false, 5};
}
constexpr Told Dropped(const Flight &flight, const char *pad, const char *check = nullptr,
                       const char *name = nullptr, bool noClientCall = false, int dataType = 5) {
    return {&flight, pad, 0, true, check, name, noClientCall, dataType};
}
constexpr Told Stands(const char *pad, uint32_t count) {
    return {&kUsualFlight, pad, count, false, nullptr, nullptr, false, 5};
}

struct CopyRow;
// Prints the rows of a copy; a script (group 0) also drives it, step by step.
typedef void CopyJudge(SelfTest &t, PluginCopy &copy, const CopyRow &row);

// One row of the plan (plan.cpp): a copy of the plug-in, what it is told,
// what the receiver answers it, and the judge that prints its rows. The
// copies of groups 1 and up start together once copy 0's first request is
// in; each group is waited for, once, before its first row is judged, until
// every copy of it has what a sound plug-in sends and logs, worked out from
// its row. A row with no copy of its own judges the row above's again.
// Written with the makers in plan.cpp and the setters below.
struct CopyRow {
    const char *check;  // the name of its row; a judge of several rows names them
    CopyJudge *judge;
    uint32_t group;     // 0: a script, run at its place
    // Its files' name; "": the row above's copy; null: copy 0 with a
    // script, else the longest name the folder allows.
    const char *stem;
    // '@': 127.0.0.1:<the receiver's port>; '*': a path longer than the
    // plug-in keeps. A copy that is told something, or a script's, has a
    // route at the receiver for the endpoint's path up to any '*'.
    const char *endpoint;
    const Told *told;                // told once loaded; null: nothing
    uint32_t answers[kRouteScript];  // the receiver's statuses in turn; 0: 201
    uint32_t tokenLength;
    const char *airports;  // null: EDDF,EDDM
    uint32_t authority;    // 0, or the authority padded with spaces before the port to this length
    const char *firstLine;  // settings rows: the log's first line, or null
    const char *expected;   // settings rows: the expected text, when not the first line

    template <typename T>
    constexpr CopyRow Set(T CopyRow::*field, T value) const {
        CopyRow row = *this;
        row.*field = value;
        return row;
    }
    constexpr CopyRow Tells(const Told *list) const { return Set(&CopyRow::told, list); }
    constexpr CopyRow Token(uint32_t length) const { return Set(&CopyRow::tokenLength, length); }
    constexpr CopyRow Airports(const char *list) const { return Set(&CopyRow::airports, list); }
    constexpr CopyRow Authority(uint32_t length) const { return Set(&CopyRow::authority, length); }
    constexpr CopyRow FirstLine(const char *line) const { return Set(&CopyRow::firstLine, line); }
    constexpr CopyRow Shows(const char *text) const { return Set(&CopyRow::expected, text); }
    constexpr CopyRow Group(uint32_t number) const { return Set(&CopyRow::group, number); }
    // It has a route: it is told something, or a script drives it.
    constexpr bool Posts() const { return told || group == 0; }
    constexpr CopyRow Answers(const uint32_t (&statuses)[kRouteScript]) const {
        CopyRow row = *this;
        for (uint32_t i = 0; i < kRouteScript; ++i) row.answers[i] = statuses[i];
        return row;
    }
};

// What a sound plug-in makes of a row's events: the requests that arrive,
// the lines of its log, and its worker's first lines, in order.
struct Foreseen {
    uint32_t requests;
    uint32_t lines;
    const char *worker[16];
    uint32_t workerLines;
    char text[1024];
};
void Foresee(const CopyRow &row, Foreseen &out);

// The judges of the plan's rows, each in the file of its checks:
CopyJudge CheckDelivery, CheckUnload, CheckQueue, JudgeBurst, JudgeTexts, CheckRepeatedLoads;
CopyJudge JudgeFirstLine, JudgeSent, JudgeSilent, JudgeBearer, JudgeAirports, JudgePath;
CopyJudge JudgeStatuses, JudgeWorkerLines, JudgePauses, JudgeHandshakes;
// What the rows tell their copies, and the settings they give them.
extern const Told kTextsTold[];
extern const Told kAirportsTold[];
extern const CopyRow kOwnCopy;
// The longest path the plug-in keeps; the longest copy's endpoint path,
// longer than that, has the letter of each place.
const uint32_t kLongestPath = 1535;
char PathLetter(uint32_t place);

// Copy 0's load and handler slots, and its first request; then the plan.
void CheckLoad(SelfTest &t);
void CheckHandlerSlots(SelfTest &t);
void SendFirstShape(SelfTest &t);
void RunPlan(SelfTest &t);

// Writes the copy's settings from its row: the Endpoint, '@' and '*' as
// the row says; the row's token length; its Airports.
bool WriteCopySettings(const SelfTest &t, PluginCopy &copy, const CopyRow &row);
// Copies the plug-in to <folder>\<stem>.dll, writes its settings and, when
// it posts, adds its route. Always returns a copy: one that could not be
// made says why in `notRun`.
PluginCopy &MakeCopy(SelfTest &t, const CopyRow &row);
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
// Init and exit: the call's milliseconds. `step` names the call for the
// watchdog instead of "<file name>: init" or ": exit".
uint32_t InitCopy(PluginCopy &copy, const char *step = nullptr);
// Returns the calls the plug-in made back into the client.
uint32_t NotifyCopy(PluginCopy &copy, const Flight &flight, const char *scratchPad,
                    int dataType = 5);
uint32_t ExitCopy(PluginCopy &copy, const char *step = nullptr);
// Exit if live, then FreeLibrary if loaded.
void UnloadCopy(PluginCopy &copy);
// Unloads every copy still loaded, so that its files can be removed.
void UnloadCopies(SelfTest &t);

// Rereads the copy's log; its number of complete lines.
uint32_t ReadCopyLog(const SelfTest &t, PluginCopy &copy);
// Waits until the copy's route has `requests` requests and its log `lines`
// lines; false when what is still missing stopped coming first (see
// kQuietBudget): the requests while they lack, then the lines.
bool WaitFor(SelfTest &t, PluginCopy &copy, uint32_t requests, uint32_t lines = 0);
// The same for every copy of `group` at once, with their wantRequests and
// wantLines, in one quiet window that restarts when any of them moves.
bool WaitForGroup(SelfTest &t, uint32_t group);
// The copy's request `index` as recorded, or null when there is none.
const ReceivedRequest *RequestOf(SelfTest &t, const PluginCopy &copy, uint32_t index);
// Its body, or "nothing arrived".
const char *BodyOf(const ReceivedRequest *request);
// The index of the first line whose message is `message`, or lineCount
// when there is none.
uint32_t FindCopyLine(const PluginCopy &copy, const char *message);
// The line `index`, or "(no such line)".
const char *CopyLine(const PluginCopy &copy, uint32_t index);

// A row of the copy's checks; "not run" instead when the copy did not load.
// It needs a request when the copy posts; a ClientRow judges only what the
// client saw, and needs none.
bool Row(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
         const char *seen, bool ok);
bool ClientRow(SelfTest &t, PluginCopy &copy, const char *check, const char *expected,
               const char *seen, bool ok);
// The copy's log lines against `expected`, in order: one row. With
// `workerOnly`, only the worker's lines (all but "Captured ..." and
// "Bridge ...").
bool LinesRow(SelfTest &t, PluginCopy &copy, const char *check, const char *const *expected,
              uint32_t count, bool workerOnly = false);
// The rows of the told events that have one: the bodies of those sent, in
// the order they arrive; or that nothing was sent of those dropped, given
// `nextArrived`: the event told after them has arrived, without which
// nothing can be said. Told events' client calls are at their places in
// the copy's clientCalls.
void SentRows(SelfTest &t, PluginCopy &copy, const Told *told);
void DroppedRows(SelfTest &t, PluginCopy &copy, const Told *told, bool nextArrived);

// `length` characters of the self-test's token, repeated as needed.
void AppendToken(text::BoundedText &out, const SelfTest &t, uint32_t length);

// The request's body against the pattern: same length, same bytes, '#'
// for any digit.
bool BodyMatches(const ReceivedRequest &request, const char *pattern);
// Whether the request's body holds `needle`.
bool BodyHas(const ReceivedRequest &request, const char *needle);
// Days since 1970-01-01 of a date of the proleptic Gregorian calendar.
int32_t DayNumber(int32_t year, int32_t month, int32_t day);
// Milliseconds since midnight UTC of the run's first day, now.
int32_t ClockNow(const SelfTest &t);
// The same for a timestamp "YYYY-MM-DDTHH:MM:SS.mmmZ" (24 characters at
// `text`); false when it is not of that form or not near the run.
bool ClockOf(const SelfTest &t, const char *text, int32_t &milliseconds);

}  // namespace host
