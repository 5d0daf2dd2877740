// Controls of the POSIX stand-in for the Windows subset, for native tests.
//
// The stand-in implements every function declared in src/platform/win32.h
// on POSIX. Tests steer it through these functions: the module's file name,
// the clock, whether Sleep really sleeps, and a scriptable WinHTTP double.
#pragma once

#include <stdint.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/win32.h"

namespace standin {

// Puts the stand-in back to its start state: no module path (GetModuleFileNameA
// fails), the real clock, real sleeps, a WinHTTP double that answers 200 to
// everything, and empty records. Call at the start of every test.
void Reset();

// The name GetModuleFileNameA reports for every module handle. Longer names
// are cut like Windows does: the first size - 1 characters, result = size.
void SetModulePath(const std::string &path);

// A fixed clock for GetSystemTime; ClearClock() returns to the real one.
void SetClock(const SYSTEMTIME &time);
void ClearClock();

// Sleep: when `really` is false it only records the pause and returns.
void SetRealSleep(bool really);
std::vector<DWORD> SleepsRecorded();
// Runs inside every Sleep, on the sleeping thread, before it sleeps (if it does).
void SetSleepHook(std::function<void(DWORD)> hook);

// Module references taken by GetModuleHandleExA minus those given back by
// FreeLibrary / FreeLibraryAndExitThread.
int ModuleReferences();
// Makes GetModuleHandleExA fail (FALSE, no handle, no reference), as it can
// on Windows for an address it does not find in a module.
void FailModuleHandleEx(bool fail);
// Make CreateEventA and CreateThread fail (null handle, nothing created,
// no thread run), as they can on Windows when the process runs out of
// handles, memory or address space.
void FailCreateEvent(bool fail);
void FailCreateThread(bool fail);

// Waits on an event now blocked: they found it clear and have not woken yet.
int BlockedEventWaits();
// What the last finished wait on an event returned, as Windows tells its
// caller: WAIT_OBJECT_0 when a signal ended it, WAIT_TIMEOUT when its time
// ran out. WAIT_FAILED when none has finished since the last Reset.
DWORD LastEventWaitResult();

// Runs inside every EnterCriticalSection, on the entering thread, once it
// holds the lock: a test's way to act at one exact point of another thread.
void SetEnterLockHook(void (*hook)(CRITICAL_SECTION *));

// Critical sections initialised and not yet deleted, counted by address.
int LiveCriticalSections();
// Each delete of a lock that was not live and each init of a lock that
// still was, in order, since the last Reset. Such a delete leaves the
// mutex alone, as there is none to destroy.
std::vector<std::string> CriticalSectionMisuses();

// Live handles of events, threads, files (CloseHandle not yet called).
int OpenKernelHandles();

// True while this thread is inside the stand-in's own heap use for kernel
// objects (opening or closing a handle): a real Windows process would not
// allocate there, so allocation counts of the product leave it out.
bool InsideKernelAllocation();

// ---- WinHTTP double ----

enum class HttpStep { Open, SetTimeouts, Connect, OpenRequest, Send, Receive, QueryStatus };

struct HttpRequestRecord {
    std::u16string userAgent;
    std::u16string host;
    INTERNET_PORT port = 0;
    std::u16string verb;
    std::u16string path;
    DWORD openRequestFlags = 0;
    bool redirectsDisabled = false;
    DWORD receiveResponseTimeout = 0;  // 0: never set
    int timeouts[4] = {0, 0, 0, 0};  // resolve, connect, send, receive
    std::u16string headers;          // exactly the units passed, length as passed
    std::string body;                // exactly the bytes passed
    DWORD totalLength = 0;
};

// What one attempt sees. `failAt` makes that step report failure (null
// handle or FALSE); `status` is what the status query answers; `stall`
// runs inside the given step before it answers (e.g. sleep on a condition).
struct HttpScript {
    bool fail = false;
    HttpStep failAt = HttpStep::Open;
    DWORD status = 200;
    HttpStep stallAt = HttpStep::Open;
    std::function<void()> stall;
};

// Attempts take scripts in order; once they run out, `SetDefaultScript` applies.
void QueueHttpScript(const HttpScript &script);
void SetDefaultHttpScript(const HttpScript &script);

// Every request that reached WinHttpSendRequest, in order.
std::vector<HttpRequestRecord> HttpRequests();
// Every WinHTTP call made, by name, in order ("WinHttpOpen", ...,
// "WinHttpCloseHandle(request)", "WinHttpCloseHandle(connection)", ...).
std::vector<std::string> HttpCalls();
// WinHTTP handles opened and not yet closed.
int OpenHttpHandles();

}  // namespace standin
