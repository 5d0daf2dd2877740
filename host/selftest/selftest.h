// `selftest <plug-in.dll>`: the plug-in in a folder of its own, posting to
// a receiver inside this program on 127.0.0.1, checked step by step; one
// table row per check and a verdict. Nothing of the user's settings, and no
// network beyond this machine.
#pragma once

#include <stdint.h>

#include "host/runner.h"
#include "host/selftest/folder.h"
#include "host/selftest/receiver.h"
#include "host/selftest/report.h"
#include "text/text.h"

namespace host {

const uint32_t kSelfTestLog = 16384;

struct SelfTest {
    CheckTable table;
    SelfTestFolder files;
    Receiver receiver;
    Runner runner;
    uint32_t startMs;  // GetTickCount() at the start
    uint32_t loadedMs;  // GetTickCount() once LoadLibrary returned
    uint32_t originDay;  // the UTC day the run began, as a day number
    char log[kSelfTestLog];
    uint32_t logLength;
};

// The process exit status: 0 when every check passed; 1 when the plug-in
// failed one; 2 when the input or this computer keeps the self-test from
// judging the plug-in (a file that cannot be read, an unusable temp folder).
int RunSelfTest(const char *pluginPath);

// The checks, in the order they run; each prints its rows.
bool CheckLoad(SelfTest &t);  // false: there is no object to go on with
void CheckHandlerSlots(SelfTest &t);
void CheckDelivery(SelfTest &t);
void CheckUnload(SelfTest &t);
void CheckLogLines(SelfTest &t);

// What the checks share.
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
// A message the plug-in must drop: `leaked` is the request that carried it,
// or null; `nextArrived` whether the event notified after it has arrived,
// without which nothing can be said; `noClientCall` when the plug-in must
// not even call back into the client for it.
void NothingSentRow(SelfTest &t, const char *check, const ReceivedRequest *leaked,
                    bool nextArrived, uint32_t clientCalls, bool noClientCall);
// The request's body against the pattern: same length, same bytes, '#'
// for any digit.
bool BodyMatches(const ReceivedRequest &request, const char *pattern);
// Whether the request's body holds `needle`.
bool BodyHas(const ReceivedRequest &request, const char *needle);
// Days since 1970-01-01 of a Gregorian date.
int32_t DayNumber(int32_t year, int32_t month, int32_t day);
uint32_t RunMilliseconds(const SelfTest &t);
// `wanted`, cut so that the waits for the plug-in's requests end within
// their budget, counted from the load: copying and loading may take a virus
// scanner's time.
uint32_t WaitBudget(const SelfTest &t, uint32_t wanted);
// Milliseconds since midnight UTC of the run's first day, now.
int32_t ClockNow(const SelfTest &t);
// The same for a timestamp "YYYY-MM-DDTHH:MM:SS.mmmZ" (24 characters at
// `text`); false when it is not of that form or not near the run.
bool ClockOf(const SelfTest &t, const char *text, int32_t &milliseconds);
// Rereads the log into t.log; its number of complete lines.
uint32_t ReadLog(SelfTest &t);
// Waits until the log has `lines` lines, within the budget.
bool WaitForLogLines(SelfTest &t, uint32_t lines, uint32_t milliseconds);
// The text of the log's line `index` (from 0) after its timestamp and space,
// copied into `message`; false when there is no such line or its
// timestamp is malformed.
bool LogMessage(const SelfTest &t, uint32_t index, char (&message)[256]);
// The message of a log line of `length` bytes (without its CR LF) after a
// well-formed timestamp and its space, or null.
const char *MessageOf(const SelfTest &t, const char *line, uint32_t length);

}  // namespace host
