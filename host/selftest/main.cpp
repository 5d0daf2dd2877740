#include "host/selftest/selftest.h"

#include "host/host_win32_extra.h"
#include "host/selftest/copies.h"
#include "host/selftest/guard.h"
#include "host/selftest/quick_edit.h"

namespace host {

namespace {

SelfTest g_test;  // the receiver's records alone are some 50 KB

const int kPassed = 0;
const int kFailed = 1;
const int kCannotRun = 2;

// Ends a run the input or this computer kept from judging the plug-in:
// whatever it made is removed again, or named.
int CannotRun(SelfTest &t, const char *why, const char *advice) {
    StopReceiver(t.receiver);
    char left[512];
    bool removed = RemoveSelfTestFolder(t.files, left);
    PrintCannotRun(why, advice, RunMilliseconds(t), removed ? nullptr : left);
    return kCannotRun;
}

// The receiver, the folder with its settings, and the plug-in's copy;
// false when this computer does not let the self-test make them.
bool PrepareEverything(SelfTest &t, const char *pluginPath, SeenText &why) {
    const char *problem = "";
    bool listening = StartReceiver(t.receiver, problem);
    SeenText address;
    address << "127.0.0.1:" << t.receiver.port;
    if (!Row(t.table, "receiver", "listening on 127.0.0.1", listening ? address.text : problem,
             listening)) {
        why << problem;
        return false;
    }
    problem = MakeSelfTestFolder(t.files, t.receiver.port);
    if (problem) why << problem << " (Windows error " << GetLastError() << ")";
    if (!Row(t.table, "self-test folder", "a fresh folder with settings",
             problem ? why.text : t.files.folder, !problem))
        return false;
    uint32_t begun = GetTickCount();
    problem = CopyPlugIn(t.files, pluginPath);
    if (problem) why << problem << " (Windows error " << GetLastError() << ")";
    SeenText copied;
    return Row(t.table, "copy of the plug-in", "a writable copy",
               problem ? why.text : Took(copied, "copied", GetTickCount() - begun), !problem);
}

void CheckPlugIn(SelfTest &t) {
    if (!CheckLoad(t)) return;
    StartLongChecks(t);
    CheckHandlerSlots(t);
    CheckDelivery(t);
    CheckUnload(t);
    CheckLogLines(t);
    CheckCopies(t);
    UnloadCopies();
}

int JudgePlugIn(const char *pluginPath) {
    SelfTest &t = g_test;
    t.startMs = GetTickCount();
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    t.originDay = static_cast<uint32_t>(DayNumber(now.wYear, now.wMonth, now.wDay));
    StartReport(t.table);
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
    if (!PrepareEverything(t, pluginPath, why))
        return CannotRun(t, why.text, "see the row above; the plug-in was not tried");

    CheckPlugIn(t);
    StopReceiver(t.receiver);
    bool passed = t.table.failed == 0;
    if (passed) {
        char left[512];
        bool removed = RemoveSelfTestFolder(t.files, left);
        SeenText seen;
        seen << "could not remove " << left;
        passed = Row(t.table, "self-test folder removed", "every file and the folder removed",
                     removed ? "removed" : seen.text, removed);
    }
    PrintVerdict(t.table, RunMilliseconds(t),
                 !passed && t.files.folder[0] ? t.files.folder : nullptr);
    int status = passed ? kPassed : kFailed;
    // ExitProcess would call a plug-in still mapped once more, in its
    // DllMain, after ending the watchdog: nothing would bound that call.
    if (t.files.plugin[0] && GetModuleHandleA(t.files.plugin)) {
        RestoreQuickEdit();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(status));
    }
    return status;
}

}  // namespace

int RunSelfTest(const char *pluginPath) {
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
