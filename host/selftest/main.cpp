#include "host/selftest/selftest.h"

#include "host/host_win32_extra.h"
#include "host/selftest/guard.h"

namespace host {

namespace {

SelfTest g_test;  // some 2 MB: the copies' logs and the receiver's records

const int kPassed = 0;
const int kFailed = 1;
const int kCannotRun = 2;

// The rows around the plug-in's own, here and in the listing.
const char kReceiverRow[] = "receiver";
const char kReceiverExpected[] = "listening on 127.0.0.1";
const char kFolderRow[] = "self-test folder";
const char kFolderExpected[] = "a fresh folder";

uint32_t RunMilliseconds(const SelfTest &t) { return GetTickCount() - t.startMs; }

// Ends a run the input or this computer kept from judging the plug-in:
// whatever it made is removed again, or named.
int CannotRun(SelfTest &t, const char *why, const char *advice) {
    UnloadCopies(t);
    StopReceiver(t.receiver);
    char left[512];
    bool removed = RemoveSelfTestFolder(t.files, left);
    PrintCannotRun(t.table, why, advice, RunMilliseconds(t), removed ? nullptr : left);
    return kCannotRun;
}

// The receiver and the folder; false when this computer does not let the
// self-test make them.
bool PrepareEverything(SelfTest &t, SeenText &why) {
    const char *problem = "";
    bool listening = StartReceiver(t.receiver, problem);
    SeenText address;
    address << "127.0.0.1:" << t.receiver.port;
    if (!Row(t.table, kReceiverRow, kReceiverExpected, listening ? address.text : problem,
             listening)) {
        why << problem;
        return false;
    }
    problem = MakeSelfTestFolder(t.files);
    if (problem) why << problem << " (Windows error " << GetLastError() << ")";
    return Row(t.table, kFolderRow, kFolderExpected,
               problem ? why.text : t.files.folder, !problem);
}

// Copy 0: its row says how long the copy took, which a virus scanner
// may make long.
bool MakeOwnCopy(SelfTest &t, SeenText &why) {
    uint32_t begun = GetTickCount();
    t.own = &MakeCopy(t, kOwnCopy);
    SeenText copied;
    if (t.own->notRun[0]) why << t.own->notRun;
    return Row(t.table, "copy of the plug-in", "a writable copy",
               t.own->notRun[0] ? why.text : Took(copied, "copied", GetTickCount() - begun),
               !t.own->notRun[0]);
}

void CheckPlugIn(SelfTest &t) {
    CheckLoad(t);
    CheckHandlerSlots(t);
    SendFirstShape(t);
    RunPlan(t);
    UnloadCopies(t);
}

// Every request of the run, the plug-in's copies' and any other's: each
// read whole and taken by a route, or named here.
void CheckEveryRequest(SelfTest &t) {
    const char kCheck[] = "every request of the run read whole";
    if (t.silent)
        return NotRunRow(t.table, kCheck, "0 refused", "the plug-in sent no request", true);
    ReceiverTally tally = Tally(t.receiver);
    SeenText seen;
    seen << tally.refused << " refused";
    if (tally.firstProblem) seen << ", the first for " << tally.firstProblem;
    // Not the plug-in's, and no fault of it; shown so that a busy port is seen.
    seen << "; other connections: " << tally.others;
    Row(t.table, kCheck, "0 refused", seen.text, tally.refused == 0, true);
}

// The folder goes after a pass; after a failure it stays for review.
bool CheckFolder(SelfTest &t) {
    const char kCheck[] = "self-test folder at the end";
    const char kExpected[] = "removed after a pass, kept after a failure";
    if (t.table.failed || t.table.listing) return Row(t.table, kCheck, kExpected, "kept", true);
    char left[512];
    bool removed = RemoveSelfTestFolder(t.files, left);
    SeenText seen;
    seen << "could not remove " << left;
    return Row(t.table, kCheck, kExpected, removed ? "removed" : seen.text, removed);
}

int JudgePlugIn(const char *pluginPath) {
    SelfTest &t = g_test;
    t.startMs = GetTickCount();
    t.source = pluginPath;
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    t.originDay = static_cast<uint32_t>(DayNumber(now.wYear, now.wMonth, now.wDay));
    InitializeCriticalSection(&t.table.lock);
    bool guarded = StartGuard(t.table, t.files.folder, t.startMs);

    // The input and the temp folder are judged before anything is made.
    if (!PrintSelfTestHeader(pluginPath))
        return CannotRun(t, "the plug-in file cannot be read",
                         "give the path of ZeltanDokBridge.dll, at most 259 characters, for "
                         "example ZeltanDokTestClient.exe selftest ..\\ZeltanDokBridge.dll");
    if (!guarded)
        return CannotRun(t, "no watchdog thread", "close other programs and try again");
    const char *advice = nullptr;
    const char *problem = ChooseTempFolder(t.files, advice);
    if (problem) {
        SeenText why;
        why << problem << ": " << t.files.temp;
        return CannotRun(t, why.text, advice);
    }
    PrintTableHead();
    SeenText why;
    if (!PrepareEverything(t, why) || !MakeOwnCopy(t, why))
        return CannotRun(t, why.text,
                         t.refusal[0] ? kRefusalAdvice
                                      : "see the row above; the plug-in was not tried");

    CheckPlugIn(t);
    StopReceiver(t.receiver);
    CheckEveryRequest(t);
    CheckFolder(t);
    const char *folder = t.table.failed && t.files.folder[0] ? t.files.folder : nullptr;
    // A row not run for want of a request fails the run as a failed row does.
    int status = t.table.failed ? kFailed
                 : t.refusal[0] ? kCannotRun
                 : t.table.notRun ? kFailed
                                  : kPassed;
    if (status == kCannotRun)
        PrintCannotRun(t.table, t.refusal, kRefusalAdvice, RunMilliseconds(t), folder);
    else
        PrintVerdict(t.table, RunMilliseconds(t), folder);
    // ExitProcess would call a plug-in still mapped once more, in its
    // DllMain, after ending the watchdog: nothing would bound that call.
    if (t.own->plugin[0] && GetModuleHandleA(t.own->plugin)) {
        RestoreQuickEdit();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    }
    return status;
}

// The rows of a run, named in the order a run prints them: every judge runs
// on copies that say they were only listed.
int ListRows(SelfTest &t) {
    t.table.listing = true;
    InitializeCriticalSection(&t.table.lock);
    InitializeCriticalSection(&t.receiver.lock);
    if (!StartGuard(t.table, t.files.folder, GetTickCount())) return kCannotRun;
    Row(t.table, kReceiverRow, kReceiverExpected, "", true);
    Row(t.table, kFolderRow, kFolderExpected, "", true);
    SeenText why;
    MakeOwnCopy(t, why);
    CheckPlugIn(t);
    CheckEveryRequest(t);
    CheckFolder(t);
    return kPassed;
}

}  // namespace

int RunSelfTest(const char *pluginPath) {
    if (SameText(pluginPath, "--list")) return ListRows(g_test);
    // Held until the process ends: the plug-in's copies import WinHTTP, and
    // the last FreeLibrary of one would otherwise unload it while WinHTTP may
    // still be closing that copy's handles on threads of its own. Should it
    // not load, neither does the plug-in, and the load's row says so.
    LoadLibraryA("winhttp.dll");
    QuickEditOff();
    int status = JudgePlugIn(pluginPath);
    RestoreQuickEdit();
    return status;
}

}  // namespace host
