#include "host/selftest.h"

#include "host/console.h"
#include "host/selftest_copies.h"

namespace host {

namespace {

SelfTest g_test;  // the receiver's records alone are some 50 KB

bool StartEverything(SelfTest &t, const char *pluginPath) {
    const char *why = "";
    bool listening = StartReceiver(t.receiver, why);
    SeenText address;
    address << "127.0.0.1:" << t.receiver.port;
    if (!Row(t.table, "receiver", "listening on 127.0.0.1", listening ? address.text : why,
             listening))
        return false;
    const char *problem = MakeSelfTestFolder(t.files, pluginPath, t.receiver.port);
    SeenText failed;
    if (problem) failed << problem << " (Windows error " << GetLastError() << ")";
    return Row(t.table, "self-test folder", "a fresh folder with the plug-in and settings",
               problem ? failed.text : t.files.folder, !problem);
}

}  // namespace

int RunSelfTest(const char *pluginPath) {
    SelfTest &t = g_test;
    t.startMs = GetTickCount();
    GuardAgainstCrashes(t);
    SYSTEMTIME now = {};
    GetSystemTime(&now);
    t.originDay = static_cast<uint32_t>(DayNumber(now.wYear, now.wMonth, now.wDay));
    PrintSelfTestHeader(pluginPath);
    PrintTableHead();
    if (StartEverything(t, pluginPath) && CheckLoad(t)) {
        StartLongChecks(t);
        CheckHandlerSlots(t);
        CheckDelivery(t);
        CheckUnload(t);
        CheckLogLines(t);
        CheckCopies(t);
    }
    StopReceiver(t.receiver);
    bool passed = t.table.failed == 0;
    if (passed) {
        bool removed = RemoveCopies() && RemoveSelfTestFolder(t.files);
        passed = Row(t.table, "self-test folder removed", "removed",
                     removed ? "removed" : t.files.folder, removed);
    }
    PrintVerdict(t.table, RunMilliseconds(t),
                 !passed && t.files.folder[0] ? t.files.folder : nullptr);
    return passed ? 0 : 1;
}

}  // namespace host
